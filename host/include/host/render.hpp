#pragma once
// Rendering a score through a loaded plug-in, and describing a module, as quillory-host's
// "render" and "info" commands do.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/loader.hpp"
#include "host/score.hpp"

namespace quillory::host {

struct RenderOptions {
  Score score{};
  std::vector<ParamChange> params{};  // values set before the first sample
  double sample_rate = 48000.0;
  std::uint32_t block = 128;
  std::optional<double> seconds{};          // default: the score's last event plus two seconds
  std::optional<std::string> state{};       // a saved state loaded before rendering
  std::optional<std::string> table_file{};  // a wavetable file loaded next (through a state)
  bool save_state = false;                  // save the state after rendering into `state`
};

struct Rendered {
  std::vector<float> interleaved;  // stereo frames
  std::uint16_t channels = 2;
  double audio_seconds = 0.0;
  double process_seconds = 0.0;  // wall time spent inside process calls
  std::string state{};           // the instance's saved state, when asked for
  double realtime_factor() const {
    return process_seconds > 0.0 ? audio_seconds / process_seconds : 0.0;
  }
};

// The id of a parameter given by id (digits) or by name (exact, then ignoring case).
std::optional<clap_id> find_param(const Instance& instance, const std::string& id_or_name);

// Gives the instance the options' saved state and then its table file, when given.
Result<void, std::string> restore(const Instance& instance, const RenderOptions& options);

Result<Rendered, std::string> render(const Module& module, const RenderOptions& options);

// A readable description: descriptor, Audio Unit codes, ports and every parameter.
Result<std::string, std::string> describe(const Module& module);

}  // namespace quillory::host
