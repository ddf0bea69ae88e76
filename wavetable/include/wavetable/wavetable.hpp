#pragma once
// The decoded form of a wavetable file and the codec's error type, shared by the WAV and Surge
// readers and the file loader.

#include <cstddef>
#include <string>
#include <vector>

#include "wavetable/result.hpp"

namespace quillory::wavetable {

enum class ErrorKind {
  InvalidFormat,    // the bytes are not the expected format, or are damaged
  Unsupported,      // a well-formed file uses a variant we do not read
  InvalidArgument,  // a caller passed an impossible value
};

struct Error {
  ErrorKind kind;
  std::string message;

  static Error invalid_format(std::string message) { return {ErrorKind::InvalidFormat, std::move(message)}; }
  static Error unsupported(std::string message) { return {ErrorKind::Unsupported, std::move(message)}; }
  static Error invalid_argument(std::string message) { return {ErrorKind::InvalidArgument, std::move(message)}; }

  // "invalid format: <message>", "unsupported: <message>" or "invalid argument: <message>".
  std::string display() const;

  bool operator==(const Error&) const = default;
};

// Samples of whole frames, back to back. The frame size is never 0 and always divides the sample
// count (which may be 0); from_data is the only way to make one.
class Wavetable {
 public:
  static Result<Wavetable, Error> from_data(std::size_t frame_size, std::vector<float> samples);

  const std::vector<float>& samples() const { return samples_; }
  std::vector<float> take_samples() && { return std::move(samples_); }
  std::size_t frame_size() const { return frame_size_; }
  std::size_t frame_count() const { return samples_.size() / frame_size_; }

 private:
  Wavetable(std::size_t frame_size, std::vector<float> samples)
      : samples_(std::move(samples)), frame_size_(frame_size) {}

  std::vector<float> samples_;
  std::size_t frame_size_;
};

}  // namespace quillory::wavetable
