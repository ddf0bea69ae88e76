// The file loader's decisions on any bytes and file name. The input is the file name, a newline,
// then the file's bytes; without a newline the whole input is the bytes of "table.wav".
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/table_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* end = data + size;
  const std::uint8_t* newline = std::find(data, end, '\n');
  std::string_view name = "table.wav";
  const std::uint8_t* bytes = data;
  if (newline != end) {
    name = {reinterpret_cast<const char*>(data), static_cast<std::size_t>(newline - data)};
    bytes = newline + 1;
  }
  const auto table =
      quillory::core::table_from_file_bytes({bytes, static_cast<std::size_t>(end - bytes)}, name);
  if (!table) {
    if (table.error().empty()) std::abort();
    return 0;
  }
  // Every record holds whole frames of a grid that fits its samples.
  const auto& t = *table;
  if (t.frame_size == 0 || t.rows == 0 || t.layers == 0) std::abort();
  if (t.data.size() % (t.frame_size * t.rows * t.layers) != 0) std::abort();
  if (t.name.empty()) std::abort();
  return 0;
}
