#include "wavetable/wavetable.hpp"

namespace quillory::wavetable {

std::string Error::display() const {
  static constexpr const char* kPrefix[] = {
      "invalid format: ", "unsupported: ", "invalid argument: "};
  return kPrefix[static_cast<int>(kind)] + message;
}

Result<Wavetable, Error> Wavetable::from_data(std::size_t frame_size, std::vector<float> samples) {
  if (frame_size == 0) return fail(Error::invalid_argument("frame size must be > 0"));
  if (samples.size() % frame_size != 0) {
    return fail(Error::invalid_argument(std::to_string(samples.size()) +
                                        " samples is not a whole number of " +
                                        std::to_string(frame_size) + "-sample frames"));
  }
  return Wavetable(frame_size, std::move(samples));
}

}  // namespace quillory::wavetable
