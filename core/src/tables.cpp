// The table store: builds playback tables on the main thread and hands them to the audio thread.
#include "core/tables.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quillory::core {
namespace {

std::optional<synth::Table> build(const TableData& record) {
  return synth::Table::from_flat(record.data, record.frame_size, record.rows, record.layers);
}

// Float equality sample by sample: NaN never equals, +0 equals -0.
bool same_samples(std::span<const float> a, std::span<const float> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

Tables::Tables(TableData record) {
  auto table = build(record);
  if (!table) {
    std::fputs("Tables: the initial table does not build\n", stderr);
    std::abort();
  }
  data_ = std::move(record);
  current_ = std::make_shared<const synth::Table>(std::move(*table));
  retired_.reserve(kRetiredReserve);
}

void Tables::hand_over(synth::Table table) {
  auto handle = std::make_shared<const synth::Table>(std::move(table));
  // The handles replaced below are released after their locks are dropped, so the audio thread's
  // try-locks are only ever blocked for a few pointer moves, never for freeing a table.
  synth::TableHandle old_current;
  {
    std::lock_guard lock(current_mutex_);
    old_current = std::exchange(current_, handle);
  }
  synth::TableHandle unplayed;
  {
    std::lock_guard lock(pending_mutex_);
    unplayed = std::exchange(pending_, std::move(handle));
  }
  // The retired list gets fresh storage of the reserved size and its handles move out with the
  // old storage, so the audio thread's append does not allocate in steady operation.
  std::vector<synth::TableHandle> finished;
  finished.reserve(kRetiredReserve);
  {
    std::lock_guard lock(retired_mutex_);
    std::swap(finished, retired_);
  }
  // finished, unplayed and old_current are released here, on the main thread.
}

Result<void, std::string> Tables::install(TableData record) {
  auto table = build(record);
  if (!table) return fail(std::string(kShapeMismatch));
  hand_over(std::move(*table));
  TableData old;
  {
    std::lock_guard lock(data_mutex_);
    old = std::exchange(data_, std::move(record));
  }
  return {};
}

Result<void, std::string> Tables::install_from_editor(std::size_t frame_size, std::size_t rows,
                                                      std::size_t layers,
                                                      std::vector<float> samples) {
  std::string name;
  {
    std::lock_guard lock(data_mutex_);
    if (frame_size == data_.frame_size && rows == data_.rows && layers == data_.layers &&
        same_samples(samples, data_.data))
      return {};
    name = data_.name;
  }
  return install(TableData{std::move(name), std::move(samples), frame_size, rows, layers});
}

Result<void, std::string> Tables::replace_frame(std::size_t index, std::span<const float> samples) {
  std::optional<synth::Table> table;
  {
    std::lock_guard data_lock(data_mutex_);
    const std::size_t n = data_.frame_size;
    if (samples.size() != n || n == 0 || index >= data_.data.size() / n)
      return fail(std::string(kFrameMismatch));
    {
      std::lock_guard current_lock(current_mutex_);
      table = current_->with_frame(index, samples);
    }
    // The record changes only together with the playback table, so the two never disagree.
    if (!table) return fail(std::string(kFrameMismatch));
    std::copy(samples.begin(), samples.end(), data_.data.begin() + index * n);
  }
  hand_over(std::move(*table));
  return {};
}

void Tables::rename(std::string_view name) {
  std::lock_guard lock(data_mutex_);
  data_.name.assign(name);
}

synth::TableHandle Tables::current() const {
  std::lock_guard lock(current_mutex_);
  return current_;
}

TableData Tables::table_data() const {
  std::lock_guard lock(data_mutex_);
  return data_;
}

void Tables::clear_pending() {
  synth::TableHandle old;
  std::lock_guard lock(pending_mutex_);
  old = std::move(pending_);
}

synth::TableHandle Tables::take_pending() {
  std::unique_lock lock(pending_mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return {};
  return std::move(pending_);
}

bool Tables::try_retire(synth::TableHandle& table) {
  std::unique_lock lock(retired_mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  retired_.push_back(std::move(table));
  return true;
}

void Tables::retire(synth::TableHandle&& table) {
  if (!try_retire(table)) table.reset();
}

}  // namespace quillory::core
