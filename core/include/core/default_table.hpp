#pragma once
// The built-in table every instance starts with: five 2048-sample frames (sine, triangle,
// sawtooth, square, quarter-cycle pulse), each a sum of harmonics normalised to a peak of 1.

#include "core/table_data.hpp"

namespace quillory::core {

// The built-in table, named "Built-in", 1 row, 1 layer. The same on every call: it is computed
// once per process (thread-safe) and each call returns a copy.
TableData default_table();

}  // namespace quillory::core
