#pragma once
// Saved states through a plug-in's "clap.state" extension: in-memory host streams (with a chunk
// size and an injected failure, so tests can play a difficult host), saving and loading an
// instance's state, and a state document that carries a wavetable file.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "host/loader.hpp"

namespace quillory::host {

// The host's output stream: collects what the plug-in writes.
class OutStream {
 public:
  OutStream();
  OutStream(const OutStream&) = delete;
  OutStream& operator=(const OutStream&) = delete;
  const clap_ostream_t* clap() const { return &clap_; }

  std::string bytes;
  std::uint64_t chunk = std::numeric_limits<std::uint64_t>::max();  // most bytes taken per write
  std::optional<std::uint64_t> error_at{};  // a write starting at this offset returns -1
  std::int64_t error_result = -1;           // what that failing write returns
  std::size_t writes = 0;                   // write calls made

 private:
  clap_ostream_t clap_;
};

// The host's input stream: gives `bytes` to the plug-in.
class InStream {
 public:
  explicit InStream(std::string bytes = {});
  InStream(const InStream&) = delete;
  InStream& operator=(const InStream&) = delete;
  const clap_istream_t* clap() const { return &clap_; }

  std::string bytes;
  std::size_t position = 0;
  std::uint64_t chunk = std::numeric_limits<std::uint64_t>::max();  // most bytes given per read
  std::optional<std::uint64_t> error_at{};  // a read starting at this offset returns -1
  std::size_t reads = 0;                    // read calls made

 private:
  clap_istream_t clap_;
};

// The instance's saved state, as its state extension writes it.
Result<std::string, std::string> save_state(const Instance& instance);

// Restores a saved state into the instance through its state extension.
Result<void, std::string> load_state(const Instance& instance, std::string_view document);

// A copy of `document` (a saved state) whose table is the wavetable file at `path`, read with the
// plug-in's own file loading; the parameter values are kept as they were.
Result<std::string, std::string> state_with_table_file(std::string_view document,
                                                       const std::filesystem::path& path);

}  // namespace quillory::host
