// The "clap.state" extension: moves the saved-state document (core/state.hpp) through the host's
// streams. Both callbacks run on the main thread, active or not: the parameter values are atomics
// and the table store hands tables to the audio thread through its own slots, so a restore while
// the instance processes is picked up at the audio thread's next refresh and hand-over.

#include <cstdint>
#include <string>

#include "checked.hpp"
#include "core/state.hpp"
#include "extensions.hpp"

namespace quillory::plugin {
namespace {

// First buffer size for a read; the buffer doubles whenever the stream fills it.
constexpr std::size_t first_read_size = 64 * 1024;

// Writes all of `bytes`, repeating short writes. A write that reports an error, takes nothing
// (it would never finish) or claims more than it was given fails.
bool write_all(const clap_ostream_t& stream, const std::string& bytes) {
  const char* next = bytes.data();
  std::uint64_t left = bytes.size();
  while (left > 0) {
    const std::int64_t taken = stream.write(&stream, next, left);
    if (taken <= 0 || static_cast<std::uint64_t>(taken) > left) return false;
    next += taken;
    left -= static_cast<std::uint64_t>(taken);
  }
  return true;
}

// Reads the stream until it reports the end (a read of 0). A read that reports an error or claims
// more than it was asked for fails. Each read asks for the room left in the buffer, so a stream
// that gives a byte at a time costs no more than one that gives everything at once.
bool read_all(const clap_istream_t& stream, std::string& bytes) {
  bytes.resize(first_read_size);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    const std::uint64_t room = bytes.size() - filled;
    const std::int64_t got = stream.read(&stream, bytes.data() + filled, room);
    if (got < 0 || static_cast<std::uint64_t>(got) > room) return false;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return true;
}

// Asks the host to re-read every parameter value, when it offers "clap.params".
void request_value_rescan(const clap_host_t* host) {
  if (host == nullptr || host->get_extension == nullptr) return;
  auto* params = static_cast<const clap_host_params_t*>(host->get_extension(host, CLAP_EXT_PARAMS));
  if (params != nullptr && params->rescan != nullptr) {
    params->rescan(host, CLAP_PARAM_RESCAN_VALUES);
  }
}

// [main-thread]
bool state_save(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin& self) {
    if (stream == nullptr || stream->write == nullptr) {
      self.log(Severity::HostMisbehaving, message::null_stream);
      return false;
    }
    const core::Core& core = *self.shared->core;
    auto document = core::save(core.params, core.tables);
    if (!document) {
      self.log(Severity::Error, message::state_save_failed);
      return false;
    }
    if (!write_all(*stream, *document)) {
      self.log(Severity::Error, message::stream_write_error);
      return false;
    }
    return true;
  });
}

// [main-thread]
bool state_load(const clap_plugin_t* plugin, const clap_istream_t* stream) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin& self) {
    if (stream == nullptr || stream->read == nullptr) {
      self.log(Severity::HostMisbehaving, message::null_stream);
      return false;
    }
    std::string bytes;
    if (!read_all(*stream, bytes)) {
      self.log(Severity::Error, message::stream_read_error);
      return false;
    }
    core::Core& core = *self.shared->core;
    if (!core::load(bytes, core.params, core.tables)) {
      self.log(Severity::Error, message::state_read_failed);
      return false;
    }
    request_value_rescan(self.host);
    refresh_editor(*self.main_thread);
    return true;
  });
}

}  // namespace

constinit const clap_plugin_state_t state_extension{state_save, state_load};

}  // namespace quillory::plugin
