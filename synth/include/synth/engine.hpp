#pragma once
// The polyphonic synthesizer of one instance: eight voices reading the playback table, two ADSRs
// and a filter per voice, three global LFOs, the modulation matrix, table crossfades and the live
// values shown by the editor. Lives on the audio thread: after construction nothing here
// allocates, locks, or releases a table it can park instead.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "synth/envelope.hpp"
#include "synth/filter.hpp"
#include "synth/lfo.hpp"
#include "synth/settings.hpp"
#include "synth/table.hpp"

namespace quillory::synth {

inline constexpr std::size_t kVoiceCount = 8;
inline constexpr std::size_t kBlockSize = 32;     // longest block of samples between block updates
inline constexpr std::size_t kSmoothedCount = 5;  // wheel, pressure, CC A, CC B, CC C

// The live modulation source values, in matrix source order (LFO 1..3, Env 1, Env 2, Velocity,
// Mod Wheel, Pressure, Key, CC A..C).
using ModValues = std::array<float, mod_source_count>;
using Position = std::array<float, 3>;

// One sounding note. Copied and reset by value; the default value is the idle voice.
struct Voice {
  std::uint64_t started = 0;  // note_counter at the last start: larger is more recent
  EnvState env1{};            // shapes the level
  EnvState env2{};
  float freq = 0.0f;  // Hz, before pitch modulation
  float velocity = 0.0f;
  float phase = 0.0f;  // oscillator phase, 0..1
  std::array<float, 2> filter_state{};
  Position last_position{};  // modulated position at the end of the last block
  float last_gain = 0.0f;
  float last_increment = 0.0f;  // cycles per sample
  std::uint8_t note = 0;
  bool held = false;
  bool fresh = true;  // started from idle and not yet rendered

  bool active() const { return env1.stage != EnvStage::Idle; }
};

// What the modulation matrix makes of one voice in one block.
struct VoiceMod {
  float semitones = 0.0f;  // pitch offset, bend included
  Position offset{};       // the routes' move of the table position
  Position position{};     // modulated table position, each axis 0..1
  float cutoff_factor = 1.0f;
  float resonance = 0.0f;  // before the filter's clamp
  float amp_factor = 1.0f;
  float env_gain = 0.0f;
};

// Everything one voice's samples need in one block, worked out before the sample loop.
struct VoicePlan {
  float gain_start = 0.0f, gain_end = 0.0f;
  float increment_start = 0.0f, increment_end = 0.0f;
  Position position_start{}, position_end{};
  Reader reader{};         // current table at this block's mip level
  Reader fading_reader{};  // fading table, when a crossfade runs
  FilterCoefficients filter{};
};

// A set of modulation sources as bits (bit k: source k in matrix order).
inline constexpr std::uint32_t kAllSources = (1u << mod_source_count) - 1;
// The sources whose route has any amount other than 0; the others add nothing to any sum.
std::uint32_t routed_sources(const ModMatrix& m);

// Key source: distance of a note from middle C, -1..1.
inline float key_value(std::uint8_t note) {
  const float v = (static_cast<float>(note) - 60.0f) / 72.0f;
  return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v);
}

// Frequency in Hz of a MIDI key in equal temperament, A4 (69) = 440 Hz.
float note_frequency(std::uint8_t key);

// A still voice's corners blended into one level, so that its samples read one level instead of
// several. Blending before interpolating reorders the arithmetic of the plain rendering; the
// result differs from it by a few units in the last place.
struct StillBlend {
  static constexpr std::size_t kCapacity = 2048;  // the longest level blended
  static constexpr std::size_t kPad = 16;         // the level's first samples again after its end
  // What was last asked for: a position in one level of the table.
  Position position{};
  std::size_t offset = 0, len = 0;
  std::uint64_t epoch = 0;  // the engine's table epoch when asked for
  bool built = false;       // asked for twice running, and blended
};

class Engine {
 public:
  explicit Engine(float sample_rate);

  // Notes and controllers, between renders.
  void note_on(std::uint8_t key, float velocity);
  void note_off(std::uint8_t key);
  void all_off();
  void reset_voices();
  bool is_active() const;
  void set_position(float x, float y, float z);
  void set_pitch_bend(float value);  // -1..1, a range of +-2 semitones
  void set_mod_wheel(float value);
  void set_pressure(float value);
  void set_cc(std::uint8_t number, float value);
  void set_host_tempo(std::optional<float> tempo, std::optional<double> song_position);
  // Installs a table. Gives back the reference the engine no longer needs (the old table when
  // the switch is immediate, or the table an unfinished crossfade was fading from), for the
  // caller to release off the audio thread.
  TableHandle set_table(TableHandle table);

  // Overwrites out[0..n) with the next n samples and advances every state by n samples.
  void render(float* out, std::size_t n);

  // The live source values of the most recently started voice that still sounds.
  ModValues mod_values() const;

  // The pieces render is made of, public so that a plain per-sample rendering can be put together
  // from them for comparison.
  // Block steps before the voices: position smoothing, controllers, LFOs, live position. Gives dt.
  // With lfo_values false, an LFO that no route uses only advances its phase and draws; its
  // output is left for a later block to compute (nothing can observe it in between).
  float begin_block(std::size_t m, bool lfo_values = true);
  void update_controllers_and_lfos(float dt, bool lfo_values = true);
  // Both envelopes of a voice, envelope 2 first.
  void step_envelopes(Voice& v, float dt) const;
  // The value of source k (matrix order) for a voice in the current block.
  float source_value(std::size_t k, const Voice& v) const;
  // Sources outside `routed` are taken to have all-zero routes (pass routed_sources).
  VoiceMod modulate(const Voice& v, std::uint32_t routed = kAllSources) const;
  // Envelopes, modulation, pitch, readers, gains and start values of one voice for one block.
  VoicePlan plan_voice(Voice& v, const Table& table, const Table* fading, float dt,
                       std::uint32_t routed = kAllSources) const {
    VoicePlan p;
    plan_voice(v, table, fading, dt, routed, p);
    return p;
  }
  // The same, written into `p`; with `offset`, also the routes' move of the position.
  void plan_voice(Voice& v, const Table& table, const Table* fading, float dt,
                  std::uint32_t routed, VoicePlan& p, Position* offset = nullptr) const;
  // The table position moved by the routes: each axis clamped to 0..1, NaN to 0.
  static Position offset_position(const Position& position, const Position& offset);
  // Stores the block's end values in the voice.
  void finish_voice(Voice& v, const VoicePlan& plan) {
    v.last_gain = plan.gain_end;
    v.last_increment = plan.increment_end;
    v.last_position = plan.position_end;
    v.fresh = false;
    if (v.started == note_counter) live_position = plan.position_end;
  }
  // Crossfade progress per sample: a crossfade takes 10 ms.
  float crossfade_step() const { return 1.0f / (kCrossfadeSeconds * sample_rate); }
  // Advances a running crossfade by m samples and parks its old table when it ends.
  void advance_crossfade(std::size_t m);

  static constexpr float kCrossfadeSeconds = 0.01f;
  static constexpr float kPositionSmoothingSeconds = 0.005f;
  static constexpr float kControllerSmoothingSeconds = 0.008f;

  // State, as a plain record: the Processor and the tests read it directly.
  std::optional<double> song_position;  // beats
  std::optional<float> host_tempo;      // beats per minute
  Settings settings{};
  std::array<Voice, kVoiceCount> voices{};
  TableHandle table;
  TableHandle fading_table;
  TableHandle retired_table;  // a faded-out table waiting for the Processor to collect it
  std::uint64_t note_counter = 0;
  float sample_rate;
  float crossfade = 0.0f;
  Position position_target{};
  Position position{};
  bool position_ready = false;
  std::array<float, 3> lfo_phase{0.0f, 0.33f, 0.66f};
  std::array<float, 3> lfo_held{};
  std::uint32_t random_state = kRandomSeed;
  std::array<float, 3> lfo_out{};
  float wheel = 0.0f;
  float pressure = 0.0f;
  std::array<float, 3> cc_values{};
  std::array<float, kSmoothedCount> smoothed{};
  float pitch_bend = 0.0f;  // semitones
  Position live_position{};

 private:
  void render_block(float* out, std::size_t m, float dt, const Table& table,
                    std::uint32_t routed);
  VoiceMod modulate_inline(const Voice& v, std::uint32_t routed) const;
  // Index of one of our voices, or kVoiceCount for a voice held elsewhere.
  std::size_t slot_of(const Voice& v) const;
  // Mip level for a frame size and frequency, remembered per voice and table slot: the log2
  // behind it is only taken again when the note's frequency changes.
  std::size_t cached_mip_level(std::size_t slot, const Table& t, float f) const;

  struct MipMemo {
    std::size_t frame_size = 0;
    float freq = -1.0f;
    std::size_t level = 0;
  };
  mutable std::array<MipMemo, 2 * kVoiceCount> mip_memo_{};
  // Filter coefficients per voice for the last cutoff and resonance asked for: the tangent
  // behind them is only taken again when either changes.
  struct FilterMemo {
    float cutoff = -1.0f, resonance = -1.0f, rate = -1.0f;
    FilterCoefficients coefficients{};
  };
  mutable std::array<FilterMemo, kVoiceCount> filter_memo_{};
  // The settings last rendered with, and their routed sources.
  Settings settings_seen_{};
  std::uint32_t routed_ = routed_sources(ModMatrix{});

  // A voice whose two envelopes sustain gets the same plan block after block while nothing else
  // it depends on changes; that plan is kept and reused, with only its position moved when the
  // table position alone has changed. plan_epoch_ counts the changes of the other inputs all
  // voices share: the settings, and per block the tables, the pitch bend, the rate and the
  // routed LFO and controller values.
  struct SharedInputs {
    const Table* current = nullptr;
    const Table* fading = nullptr;
    std::array<float, 12> values{};  // no padding: compared byte for byte
  };
  struct KeptPlan {
    VoicePlan plan{};
    Position position{};      // the table position it was made for
    Position offset{};        // the routes' move of it
    std::uint64_t epoch = 0;  // the plan_epoch_ it was made in; 0 for none
    float freq = 0.0f, velocity = 0.0f;
    std::uint8_t note = 0;
    bool held = false;
  };
  SharedInputs shared_inputs(const Table& current, std::uint32_t routed) const;
  // The plan of voice `slot` for this block (its kept plan, made again unless it can be reused).
  const VoicePlan& plan_lane(std::size_t slot, const Table& current, float dt,
                             std::uint32_t routed);
  SharedInputs shared_seen_{};
  // Blends per voice and table (current, fading): entry 2 x voice + table, with its samples at
  // the same index times kBlendStride in blend_data_. table_epoch_ changes whenever the tables
  // may have, so that a blend never outlives the table it was made from.
  static constexpr std::size_t kBlendStride = StillBlend::kCapacity + StillBlend::kPad;
  std::array<StillBlend, 2 * kVoiceCount> blends_{};
  std::unique_ptr<float[]> blend_data_;  // left unset: each blend is written before it is read
  std::uint64_t table_epoch_ = 1;
  const Table* epoch_table_ = nullptr;
  const Table* epoch_fading_ = nullptr;
  std::uint64_t plan_epoch_ = 1;
  std::array<KeptPlan, kVoiceCount> kept_{};
  // t = (i + 1) / m for the last block length m seen.
  std::array<float, kBlockSize> ramp_{};
  std::size_t ramp_length_ = 0;
  // Smoothing coefficients for the last block length seen (almost always 32 samples).
  float memo_dt_ = -1.0f, memo_position_a_ = 0.0f, memo_controller_c_ = 0.0f;
};

}  // namespace quillory::synth
