#include "core/processor.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace quillory::core {
namespace {

// MIDI status kinds (high nibble) the processor acts on.
constexpr std::uint8_t kNoteOff = 0x8, kNoteOn = 0x9, kPolyPressure = 0xA, kControl = 0xB,
                       kChannelPressure = 0xD, kPitchBend = 0xE;

// Channel-mode controllers: 120 all sound off and 123 all notes off release held notes; 121 and
// 122, 124-127 (reset, local control, omni and mono/poly modes) are ignored.
constexpr std::uint8_t kAllSoundOff = 120, kAllNotesOff = 123, kFirstModeMessage = 120;
constexpr std::uint8_t kModWheel = 1;

// min(v, 1), or 0 when v is not finite.
float unit(float v) noexcept {
  return std::isfinite(v) ? std::min(v, 1.0f) : 0.0f;
}

}  // namespace

Processor::Processor(std::shared_ptr<Core> core, float sample_rate)
    : engine_(std::max(std::isnan(sample_rate) ? 1.0f : sample_rate, 1.0f)),
      core_(std::move(core)) {
  // The current table already covers whatever waits in the pending slot.
  engine_.set_table(core_->tables.current());
  core_->tables.clear_pending();
}

void Processor::begin(bool tempo_known, bool playing, float tempo, double beats) noexcept {
  if (synth::TableHandle table = core_->tables.take_pending()) {
    if (synth::TableHandle old = engine_.set_table(std::move(table))) {
      core_->tables.retire(std::move(old));
    }
  }
  refresh_settings();
  engine_.set_host_tempo(tempo_known ? std::optional<float>(tempo) : std::nullopt,
                         playing ? std::optional<double>(beats) : std::nullopt);
}

void Processor::refresh_settings() noexcept {
  const std::uint32_t epoch = core_->params.epoch();
  if (epoch == epoch_) return;
  epoch_ = epoch;
  engine_.settings = core_->params.settings();
  const auto position = core_->params.position();
  engine_.set_position(position[0], position[1], position[2]);
}

void Processor::note_on(std::uint8_t key, float velocity) noexcept {
  engine_.note_on(key, velocity);
}

void Processor::note_off(std::uint8_t key) noexcept {
  engine_.note_off(key);
}

void Processor::midi(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) noexcept {
  switch (status >> 4) {  // the channel (low nibble) is ignored: all channels act alike
    case kNoteOff:
      engine_.note_off(d1);
      break;
    case kNoteOn:
      if (d2 != 0) {
        engine_.note_on(d1, static_cast<float>(d2) / 127.0f);
      } else {
        engine_.note_off(d1);  // running-status note off
      }
      break;
    case kPolyPressure:
      engine_.set_pressure(unit(static_cast<float>(d2) / 127.0f));
      break;
    case kControl:
      control_change(d1, d2);
      break;
    case kChannelPressure:
      engine_.set_pressure(unit(static_cast<float>(d1) / 127.0f));
      break;
    case kPitchBend: {
      const float v = static_cast<float>(d2 * 128 + d1) / 8192.0f - 1.0f;
      engine_.set_pitch_bend(std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f);
      break;
    }
    default:
      break;  // data bytes, program change, system messages
  }
}

void Processor::control_change(std::uint8_t controller, std::uint8_t value) noexcept {
  if (controller == kAllSoundOff || controller == kAllNotesOff) return engine_.all_off();
  if (controller >= kFirstModeMessage) return;

  // Controllers 0-31 carry a high byte; 32-63 the low byte of the same controller minus 32.
  std::uint8_t c = controller;
  float v;
  if (controller < 32) {
    msb_[controller] = value;
    v = static_cast<float>(value) / 127.0f;
  } else if (controller < 64) {
    c = controller - 32;
    v = static_cast<float>(msb_[c] * 128 + value) / 16383.0f;
  } else {
    v = static_cast<float>(value) / 127.0f;
  }
  const float m = unit(v);
  if (c == kModWheel) engine_.set_mod_wheel(m);
  engine_.set_cc(c, m);  // every CC slot whose controller number is c
}

void Processor::render(float* out, std::size_t n) noexcept {
  refresh_settings();
  if (n > 0) engine_.render(out, n);
}

void Processor::end() noexcept {
  core_->drain_commands([this](const Command& command) {
    switch (command.kind) {
      case Command::Kind::NoteOn:
        engine_.note_on(command.key, command.velocity);
        break;
      case Command::Kind::NoteOff:
        engine_.note_off(command.key);
        break;
      case Command::Kind::AllOff:
        engine_.all_off();
        break;
    }
  });
  if (engine_.retired_table) core_->tables.try_retire(engine_.retired_table);
  core_->live.store(engine_.live_position, engine_.mod_values(), engine_.is_active());
}

bool Processor::is_active() const noexcept {
  return engine_.is_active();
}

void Processor::reset_voices() noexcept {
  engine_.reset_voices();
}

}  // namespace quillory::core
