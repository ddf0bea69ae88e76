#pragma once
// The audio-thread driver of one active instance: keeps the synth engine in step with the core
// (settings on parameter changes, table hand-over, editor commands, live readout) and turns MIDI
// bytes into engine inputs. Everything but construction runs on the audio thread and neither
// allocates nor waits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/core.hpp"
#include "synth/engine.hpp"

namespace quillory::core {

class Processor {
 public:
  // Main thread (activation): an engine at max(sample_rate, 1) playing the current table.
  Processor(std::shared_ptr<Core> core, float sample_rate);

  // Start of a block: picks up a handed-over table, refreshes settings if parameters moved, and
  // takes the host tempo (when known) and song position in beats (when playing).
  void begin(bool tempo_known, bool playing, float tempo, double beats) noexcept;
  void note_on(std::uint8_t key, float velocity) noexcept;
  void note_off(std::uint8_t key) noexcept;
  void midi(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) noexcept;
  // Writes n samples; parameter changes since the last refresh apply from the first of them.
  void render(float* out, std::size_t n) noexcept;
  // End of a block: applies queued editor commands, returns a finished table, publishes live
  // values.
  void end() noexcept;
  bool is_active() const noexcept;
  // Hard cut of every voice (the host stopped processing).
  void reset_voices() noexcept;

  Core& core() noexcept { return *core_; }
  const synth::Engine& engine() const noexcept { return engine_; }

 private:
  void refresh_settings() noexcept;
  void control_change(std::uint8_t controller, std::uint8_t value) noexcept;

  synth::Engine engine_;
  std::shared_ptr<Core> core_;
  std::array<std::uint8_t, 32> msb_{};  // last high byte of controllers 0-31 (14-bit pairs)
  std::uint32_t epoch_ = 0;             // parameter epoch the settings were built from
};

}  // namespace quillory::core
