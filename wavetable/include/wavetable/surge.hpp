#pragma once
// The Surge ".wt" reader: a 12-byte header ("vawt", frame size, frame count, flags) followed by
// every frame's samples as 16-bit integers or 32-bit floats. Works on bytes in memory.

#include <cstdint>
#include <span>

#include "wavetable/result.hpp"
#include "wavetable/wavetable.hpp"

namespace quillory::wavetable::surge {

// Header flag bits; the others have no meaning here.
inline constexpr std::uint16_t kFlagIsSample = 0x01;   // a sample, not a wavetable: refused
inline constexpr std::uint16_t kFlagInt16 = 0x04;      // 16-bit integers, else 32-bit floats
inline constexpr std::uint16_t kFlagFullRange = 0x08;  // integers scaled by 1/32768, else 1/16384

// Decodes a whole Surge file into its frames.
Result<Wavetable, Error> decode(std::span<const std::uint8_t> bytes);

}  // namespace quillory::wavetable::surge
