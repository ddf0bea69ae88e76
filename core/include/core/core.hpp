#pragma once
// The per-instance state the main thread and the audio thread share: parameter values, the table
// store, note commands from the editor and the live readout. The main thread changes what the
// audio thread sees only through these; the audio thread reads atomics and only try-locks.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/param_values.hpp"
#include "core/tables.hpp"

namespace quillory::core {

// A note command from the editor to the audio thread. Fits in 8 bytes.
struct Command {
  enum class Kind : std::uint8_t { NoteOn, NoteOff, AllOff };
  Kind kind;
  std::uint8_t key = 0;
  float velocity = 0.0f;

  static constexpr Command note_on(std::uint8_t key, float velocity) {
    return {Kind::NoteOn, key, velocity};
  }
  static constexpr Command note_off(std::uint8_t key) { return {Kind::NoteOff, key, 0.0f}; }
  static constexpr Command all_off() { return {Kind::AllOff, 0, 0.0f}; }

  bool operator==(const Command&) const = default;
};
static_assert(sizeof(Command) <= 8);

// What Live::read gives: the position only while a voice sounds, then the twelve modulation
// source values.
struct LiveSnapshot {
  std::optional<std::array<float, 3>> position;
  std::array<float, 3> lfo{};
  float env = 0, env2 = 0, vel = 0, wheel = 0, pressure = 0, key = 0;
  std::array<float, 3> cc{};
};

// Values the audio thread publishes after every block. Independent relaxed atomic cells holding
// the floats' bit patterns: a reader may see cells from two different blocks.
class Live {
 public:
  // Number of modulation source values: lfo 1-3, env, env2, vel, wheel, pressure, key, cc A-C.
  static constexpr std::size_t source_count = 12;

  LiveSnapshot read() const noexcept;
  void store(const std::array<float, 3>& position, const std::array<float, source_count>& sources,
             bool active) noexcept;

 private:
  std::array<std::atomic<std::uint32_t>, 3> position_{};
  std::array<std::atomic<std::uint32_t>, source_count> sources_{};
  std::atomic<bool> active_{false};
};

class Core {
 public:
  // Every parameter at its default, the built-in table installed, no commands, live cells zero.
  Core();
  static std::shared_ptr<Core> create() { return std::make_shared<Core>(); }
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // Main thread: queues a command for the audio thread (blocking lock; the list grows as needed).
  void command(Command command);

  // Audio thread: calls apply(const Command&) for every queued command in arrival order and
  // empties the list, keeping its storage. False, with nothing applied, when the list is busy.
  template <class Apply>
  bool drain_commands(Apply&& apply) noexcept {
    std::unique_lock lock(command_mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    for (const Command& command : commands_) apply(command);
    commands_.clear();
    return true;
  }

  ParamValues params;
  Tables tables;
  Live live;

 private:
  // Room reserved at creation so steady use never grows the list.
  static constexpr std::size_t reserved_commands = 64;

  std::mutex command_mutex_;
  std::vector<Command> commands_;
};

}  // namespace quillory::core
