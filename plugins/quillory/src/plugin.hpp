#pragma once
// One plug-in instance: the clap_plugin callbacks, split by thread into a shared piece, the
// main-thread half and the audio-thread half (present only while active).

#include <cstdint>
#include <memory>
#include <optional>

#include "clap/clap.h"
#include "core/core.hpp"
#include "core/processor.hpp"
#include "log.hpp"

namespace quillory::plugin {

// What both threads may touch: the instance's core.
struct Shared {
  std::shared_ptr<core::Core> core;
};

// The main-thread half: the host handle and a second handle to the core. The editor joins it
// when the GUI extension exists.
struct MainThread {
  const clap_host_t* host;
  std::shared_ptr<core::Core> core;
};

// The audio-thread half, alive between activate and deactivate.
struct AudioProcessor {
  AudioProcessor(core::Processor processor, core::ParamValues& params)
      : processor(std::move(processor)), params(params) {}

  core::Processor processor;
  core::ParamValues& params;  // valid while the processor's core handle lives

  // One host block. On an output error, sets `error` to its message and returns
  // CLAP_PROCESS_ERROR without rendering or consuming events.
  clap_process_status process(const clap_process_t& process, const char*& error);
  // Applies a flush's events to the processor (no rendering), then reports editor changes.
  void flush(const clap_input_events_t* in, const clap_output_events_t* out);
};

// Where an instance is in its life. "Active" is tracked separately by the audio half.
enum class Lifecycle : std::uint8_t { Created, Initializing, Initialized, InitFailed, Destroying };

struct QuilloryPlugin {
  clap_plugin_t clap;  // plugin_data points back at this object
  const clap_host_t* host;
  Lifecycle lifecycle = Lifecycle::Created;
  std::optional<Shared> shared{};
  std::optional<MainThread> main_thread{};
  std::optional<AudioProcessor> audio{};

  void log(Severity severity, std::string_view text) const noexcept {
    plugin_log(host, severity, text);
  }
};

// Shows a restored state in the editor when one is open. The editor does not exist yet, so this
// does nothing; the GUI extension fills it in (the page gets a fresh "init" message).
void refresh_editor(MainThread& main) noexcept;

// A new, uninitialised instance for the factory; null when memory runs out.
const clap_plugin_t* create_instance(const clap_host_t* host,
                                     const clap_plugin_descriptor_t* descriptor) noexcept;

// Texts the instance logs, each in one place.
namespace message {
inline constexpr char null_plugin[] = "Plugin method was called with null clap_plugin pointer";
inline constexpr char destroyed[] =
    "Plugin instance was already destroyed (clap_plugin.plugin_data pointer is null)";
inline constexpr char not_initialized[] = "Plugin was not properly initialized before use";
inline constexpr char during_init[] = "Host tried to call plugin function during initialization";
inline constexpr char destroying[] = "Plugin is being destroyed";
inline constexpr char init_failed[] = "Plugin initialization has already failed";
inline constexpr char already_initialized[] = "Plugin is already initialized";
inline constexpr char already_active[] = "Plugin was already activated";
inline constexpr char not_active[] =
    "Plugin was not activated before calling a audio-thread method";
inline constexpr char panicked[] = "Plugin panicked";
inline constexpr char no_output_port[] = "No output port";
inline constexpr char expected_f32[] = "Expected f32 output";
inline constexpr char null_buffers[] =
    "Invalid port channels buffers: both the data32 and data64 pointers were null";
inline constexpr char no_output_channel[] = "No output channel";
inline constexpr char invalid_param_id[] = "Invalid param_id";
inline constexpr char state_save_failed[] = "Couldn't save the plugin state";
inline constexpr char state_read_failed[] = "Couldn't read the plugin state";
inline constexpr char null_stream[] = "Host passed a null state stream";
inline constexpr char stream_write_error[] = "The host's state stream failed to take the bytes";
inline constexpr char stream_read_error[] = "The host's state stream failed to give the bytes";
}  // namespace message

}  // namespace quillory::plugin
