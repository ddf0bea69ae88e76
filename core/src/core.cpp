#include "core/core.hpp"

#include <bit>

#include "core/default_table.hpp"

namespace quillory::core {
namespace {

std::uint32_t bits(float value) noexcept {
  return std::bit_cast<std::uint32_t>(value);
}
float value(const std::atomic<std::uint32_t>& cell) noexcept {
  return std::bit_cast<float>(cell.load(std::memory_order_relaxed));
}

}  // namespace

LiveSnapshot Live::read() const noexcept {
  LiveSnapshot snapshot;
  if (active_.load(std::memory_order_relaxed)) {
    snapshot.position = {value(position_[0]), value(position_[1]), value(position_[2])};
  }
  std::array<float, source_count> s;
  for (std::size_t i = 0; i < source_count; ++i) s[i] = value(sources_[i]);
  snapshot.lfo = {s[0], s[1], s[2]};
  snapshot.env = s[3];
  snapshot.env2 = s[4];
  snapshot.vel = s[5];
  snapshot.wheel = s[6];
  snapshot.pressure = s[7];
  snapshot.key = s[8];
  snapshot.cc = {s[9], s[10], s[11]};
  return snapshot;
}

void Live::store(const std::array<float, 3>& position,
                 const std::array<float, source_count>& sources, bool active) noexcept {
  for (std::size_t i = 0; i < 3; ++i)
    position_[i].store(bits(position[i]), std::memory_order_relaxed);
  for (std::size_t i = 0; i < source_count; ++i) {
    sources_[i].store(bits(sources[i]), std::memory_order_relaxed);
  }
  active_.store(active, std::memory_order_relaxed);
}

Core::Core() : params(), tables(default_table()) {
  commands_.reserve(reserved_commands);
}

void Core::command(Command command) {
  std::lock_guard lock(command_mutex_);
  commands_.push_back(command);
}

}  // namespace quillory::core
