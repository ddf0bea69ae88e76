#pragma once
// The table store: an instance's current table as the editable record (TableData, shown and saved)
// and as the playback Table the audio thread plays, handed to the audio thread through small
// mutex-guarded slots.
//
// Main thread: every public operation except the three marked "audio thread". Table building
// always happens before any lock the audio thread tries is taken; the audio thread only ever
// try-locks `pending` and `retired`, so it never waits. Tables the audio thread has finished with
// come back through the retired list and are released here, on the main thread, at the next
// hand-over.

#include <cstddef>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/table_data.hpp"
#include "synth/table.hpp"
#include "wavetable/result.hpp"

namespace quillory::core {

// User-facing failure texts of the table store.
inline constexpr std::string_view kShapeMismatch = "That table's frames don't fit its shape.";
inline constexpr std::string_view kFrameMismatch = "That frame doesn't fit the table.";

class Tables {
 public:
  // Builds the playback table of `record`; a record that does not build (the built-in table
  // always does) is a programming error and aborts.
  explicit Tables(TableData record);
  Tables(const Tables&) = delete;
  Tables& operator=(const Tables&) = delete;

  // Builds the record's playback table and hands it over; on failure nothing changes and the
  // error is kShapeMismatch.
  Result<void, std::string> install(TableData record);
  // Installs a table sent by the editor under the current name; does nothing (success) when shape
  // and samples equal the current record's.
  Result<void, std::string> install_from_editor(std::size_t frame_size, std::size_t rows,
                                                std::size_t layers, std::vector<float> samples);
  // Replaces one frame, recomputing that frame's levels only; kFrameMismatch when it does not fit.
  Result<void, std::string> replace_frame(std::size_t index, std::span<const float> samples);
  void rename(std::string_view name);
  // Makes `table` current and pending, and releases the tables the audio thread retired.
  void hand_over(synth::Table table);

  // A copy of the newest playback table's handle.
  synth::TableHandle current() const;
  // A copy of the current record.
  TableData table_data() const;
  // Calls f(const TableData&) under the record's lock and gives its result (no copy).
  template <class F>
  decltype(auto) visit_table_data(F&& f) const {
    std::lock_guard lock(data_mutex_);
    return std::forward<F>(f)(std::as_const(data_));
  }
  // Empties the pending slot (releasing its handle here); used when the engine is activated with
  // current(), which is already the newest table.
  void clear_pending();

  // Audio thread: the table handed over since the last call, or empty when there is none or the
  // slot is busy. Never waits, never allocates.
  synth::TableHandle take_pending();
  // Audio thread: moves `table` onto the retired list and returns true, or returns false and
  // leaves `table` untouched when the list is busy (the caller keeps it parked and tries later).
  bool try_retire(synth::TableHandle& table);
  // Audio thread: retires `table`; when the list is busy it is released right here instead.
  void retire(synth::TableHandle&& table);

 private:
  // Retired-list capacity, renewed at every hand-over, so the audio thread's append does not
  // allocate: the engine holds at most three tables at once and gets new ones only through a
  // hand-over, so far fewer than this are retired between two hand-overs.
  static constexpr std::size_t kRetiredReserve = 16;

  mutable std::mutex data_mutex_;
  TableData data_;
  mutable std::mutex current_mutex_;
  synth::TableHandle current_;
  std::mutex pending_mutex_;
  synth::TableHandle pending_;
  std::mutex retired_mutex_;
  std::vector<synth::TableHandle> retired_;
};

}  // namespace quillory::core
