#pragma once
// UTF-8 checks for texts read from files: tag chunks, layer names and file names.

#include <string>
#include <string_view>

namespace quillory::wavetable {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8 text, each ill-formed sequence (its longest valid prefix, or one byte)
// replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace quillory::wavetable
