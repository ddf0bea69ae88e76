#pragma once
// The instance's parameter values, shared without a lock by the host's events and queries, the
// editor, the saved state and the audio thread; and the conversion between the flat values and
// the synth settings record.
//
// Bookkeeping besides the values:
//  - the epoch counts every stored value (starts at 1, wraps), so the audio thread and the editor
//    can tell cheaply that something changed;
//  - a per-parameter editor-changed flag, so each edit made in the editor is reported to the host
//    exactly once;
//  - the editor epoch, the epoch right after the editor's latest edit, so the editor is not sent
//    its own edits back.
//
// Any thread may call any operation; nothing allocates except snapshot. Writers of the same
// parameter race and the last store wins. A reader that acts on a moved epoch reads every value
// afresh, so it does not matter whether it sees the epoch before or after the values it covers.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/params.hpp"
#include "synth/settings.hpp"

namespace quillory::core {

class ParamValues {
 public:
  // Every value at its row's default, no flag set, epoch 1, editor epoch 0.
  ParamValues();
  ParamValues(const ParamValues&) = delete;
  ParamValues& operator=(const ParamValues&) = delete;

  // The value at `index`; 0 for an index past the table.
  float get(std::size_t index) const;
  // The value of the row with `id`; 0 when no row has it.
  float val(std::uint32_t id) const;
  // The value of the row with `id`; none when no row has it.
  std::optional<float> get_id(std::uint32_t id) const;
  // Position X, Y, Z (indices 0, 1, 2).
  std::array<float, 3> position() const;

  std::uint32_t epoch() const { return epoch_.load(std::memory_order_acquire); }
  std::uint32_t editor_epoch() const { return editor_epoch_.load(std::memory_order_relaxed); }

  // The host's, the saved state's and the audio thread's path: clamps to the row's range, rounds
  // Choice and Controller rows to a whole number (halves away from zero), stores, and moves the
  // epoch even when the value is unchanged. NaN stores nothing and leaves the epoch.
  void set(std::size_t index, float value);

  // The editor's path: clamps; does nothing when the clamped value is within single-precision
  // epsilon (relative, at least absolute) of the current value, compared before rounding;
  // otherwise sets, flags the parameter for the host and records the editor epoch.
  void set_from_editor(std::size_t index, float value);

  // A whole settings record from the editor, through set_from_editor row by row. Positions, scan
  // speeds and the tempo are not parameters of the record and are left alone.
  void apply_settings_from_editor(const synth::Settings& settings);

  // Calls on_change(index) for each parameter flagged by the editor, in index order, clearing each
  // flag as it is taken. Walks the flags in place and allocates nothing (audio-thread safe).
  template <class F>
  void take_editor_changes(F&& on_change);

  // (id, value) of every row in index order, each value read once.
  std::vector<std::pair<std::uint32_t, float>> snapshot() const;

  // The synth settings made from the current values (tempo 120). Allocation-free.
  synth::Settings settings() const;

 private:
  // Stores an already clamped and rounded value; returns the epoch right after the store.
  std::uint32_t store(std::size_t index, float value);

  std::array<std::atomic<std::uint32_t>, param_count> values_;  // float bit patterns
  std::array<std::atomic<bool>, param_count> changed_;
  std::atomic<std::uint32_t> epoch_{1};
  std::atomic<std::uint32_t> editor_epoch_{0};
};

template <class F>
void ParamValues::take_editor_changes(F&& on_change) {
  for (std::size_t i = 0; i < param_count; ++i) {
    // A plain look first keeps the usual walk (no flag set) free of read-modify-writes; a flag
    // raised just after the look is taken by the next walk. The exchange acquires the editor's
    // release store of the flag, so the value it set is visible to on_change.
    if (changed_[i].load(std::memory_order_relaxed) &&
        changed_[i].exchange(false, std::memory_order_seq_cst)) {
      on_change(i);
    }
  }
}

// The sync option (0 = "Off", 1..15 = division) whose beat length is nearest to `beats` on a
// logarithmic scale; ties go to the lower option. Not positive (or NaN) gives 0.
int sync_index(float beats);

}  // namespace quillory::core
