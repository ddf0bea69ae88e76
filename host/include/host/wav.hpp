#pragma once
// 32-bit float WAV output.

#include <cstdint>
#include <string>
#include <vector>

#include "wavetable/result.hpp"

namespace quillory::host {

// The bytes of a WAV file (format 3, IEEE float) holding interleaved samples.
std::vector<std::uint8_t> encode_wav_f32(const std::vector<float>& interleaved,
                                         std::uint16_t channels, std::uint32_t sample_rate);

Result<void, std::string> write_file(const std::string& path,
                                     const std::vector<std::uint8_t>& bytes);
Result<std::vector<std::uint8_t>, std::string> read_file(const std::string& path);

}  // namespace quillory::host
