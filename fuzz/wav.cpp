// Any bytes through the WAV reader: no crash, no read past the buffer, no undefined behaviour, and
// a result that keeps the reader's promises.
#include <cstdint>
#include <cstdlib>

#include "wavetable/wav.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded = quillory::wavetable::wav::decode({data, size});
  if (!decoded) return 0;
  // Every sample comes from a whole block of the buffer, so there cannot be more than its bytes.
  if (decoded->samples.size() > size) std::abort();
  if (const auto& grid = decoded->grid) {
    if (grid->frame_size * grid->cols * grid->rows * grid->layers != decoded->samples.size()) {
      std::abort();
    }
    if (!grid->names.empty() && grid->names.size() != grid->layers) std::abort();
  }
  return 0;
}
