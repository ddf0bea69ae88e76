#pragma once
// The current table as it is shown, edited and saved: name, samples (frames back to back),
// frame size, rows and layers. Columns follow from the sample count.

#include <cstddef>
#include <string>
#include <vector>

namespace quillory::core {

struct TableData {
  std::string name;
  std::vector<float> data;
  std::size_t frame_size = 0;
  std::size_t rows = 1;
  std::size_t layers = 1;

  bool operator==(const TableData&) const = default;
};

}  // namespace quillory::core
