#include "host/wav.hpp"

#include <cstring>
#include <fstream>
#include <iterator>

namespace quillory::host {
namespace {

// Little-endian appenders (every format we write is little-endian).
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void tag(std::vector<std::uint8_t>& out, const char (&id)[5]) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

constexpr std::uint16_t kFormatIeeeFloat = 3;

}  // namespace

std::vector<std::uint8_t> encode_wav_f32(const std::vector<float>& interleaved,
                                         std::uint16_t channels, std::uint32_t sample_rate) {
  const auto data_bytes = static_cast<std::uint32_t>(interleaved.size() * sizeof(float));
  std::vector<std::uint8_t> out;
  out.reserve(44 + data_bytes);
  tag(out, "RIFF");
  put32(out, 36 + data_bytes);
  tag(out, "WAVE");
  tag(out, "fmt ");
  put32(out, 16);
  put16(out, kFormatIeeeFloat);
  put16(out, channels);
  put32(out, sample_rate);
  put32(out, sample_rate * channels * 4);                // bytes per second
  put16(out, static_cast<std::uint16_t>(channels * 4));  // bytes per frame
  put16(out, 32);
  tag(out, "data");
  put32(out, data_bytes);
  for (float sample : interleaved) {
    std::uint32_t bits;
    std::memcpy(&bits, &sample, 4);
    put32(out, bits);
  }
  return out;
}

Result<void, std::string> write_file(const std::string& path,
                                     const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) return fail("Couldn't write " + path);
  return {};
}

Result<std::vector<std::uint8_t>, std::string> read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return fail("Couldn't open " + path);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  return bytes;
}

}  // namespace quillory::host
