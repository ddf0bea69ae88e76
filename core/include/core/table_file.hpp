#pragma once
// Loading a wavetable file (WAV or Surge ".wt") into the table record, with the sentences the
// editor shows when it cannot be loaded.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "core/table_data.hpp"
#include "wavetable/result.hpp"

namespace quillory::core {

// Reads the file and makes the table record of it (see table_from_file_bytes), or gives
// "Couldn't read the file: " and the reason when the file cannot be read.
Result<TableData, std::string> read_table_file(const std::filesystem::path& path);

// The decisions of read_table_file once the bytes are in memory: names the table after
// `file_name`, picks the reader by its extension ("wt" in any case: Surge, else WAV) and settles
// frame size, rows and layers. `file_name` may be a whole path; only its last part counts.
Result<TableData, std::string> table_from_file_bytes(std::span<const std::uint8_t> bytes,
                                                     std::string_view file_name);

// The table's name for a file: its name without the last extension, as UTF-8; "Table" when
// there is no file name.
std::string table_name(std::string_view file_name);

}  // namespace quillory::core
