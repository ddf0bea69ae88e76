// Any bytes through the Surge reader: no crash, no read past the buffer, no undefined behaviour.
#include <cstdint>
#include <cstdlib>

#include "wavetable/surge.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded = quillory::wavetable::surge::decode({data, size});
  if (!decoded) return 0;
  if (decoded->frame_size() == 0 || decoded->samples().size() % decoded->frame_size() != 0) {
    std::abort();
  }
  if (decoded->samples().size() > size) std::abort();  // at least 2 bytes per sample
  return 0;
}
