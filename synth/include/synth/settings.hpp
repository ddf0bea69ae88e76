#pragma once
// The synth settings record: every sound-shaping choice the engine reads while it renders (two
// envelopes, the filter, three LFOs, the modulation matrix, the fallback tempo and the three
// controller numbers behind the CC A/B/C sources). The table position is not part of it.
//
// Every record is a plain fixed-size value that owns no heap memory, so the audio thread copies a
// whole Settings by assignment without allocating. Default construction gives the instrument's
// defaults. Ranges are those of the parameters; the record itself enforces none.

#include <array>
#include <cstdint>

namespace quillory::synth {

// One linear ADSR envelope. Times in seconds, sustain as a level 0..1.
struct Adsr {
  float a = 0.005f;  // attack: level 0 to 1
  float d = 0.2f;    // decay: level 1 down to the sustain level
  float s = 0.8f;    // sustain level
  float r = 0.25f;   // release: level 1 to 0 (shorter in proportion from a lower level)

  bool operator==(const Adsr&) const = default;
};

// Filter modes, in the order of the "Filter Type" parameter's options.
enum class FilterType : std::uint8_t { Off, LowPass, HighPass, BandPass };
inline constexpr int filter_type_count = 4;

struct Filter {
  FilterType type = FilterType::Off;
  float cutoff = 2000.0f;  // Hz, before modulation
  float resonance = 0.2f;  // 0..1, before modulation

  bool operator==(const Filter&) const = default;
};

// LFO waveforms, in the order of the "LFO n Shape" parameters' options. Random holds a new random
// value for each cycle.
enum class LfoShape : std::uint8_t { Sine, Triangle, Saw, Square, Random };
inline constexpr int lfo_shape_count = 5;

struct Lfo {
  float rate = 0.5f;  // Hz, used when not synced
  LfoShape shape = LfoShape::Sine;
  bool unipolar = false;  // false: output -1..1; true: output 0..1
  float sync = 0.0f;      // cycle length in beats (quarter notes); 0 = free-running at `rate`

  bool operator==(const Lfo&) const = default;
};

// How far one modulation source moves each of the seven destinations.
struct Route {
  float x = 0.0f;       // table position X
  float y = 0.0f;       // table position Y
  float z = 0.0f;       // table position Z
  float cutoff = 0.0f;  // filter cutoff
  float res = 0.0f;     // filter resonance
  float pitch = 0.0f;   // pitch
  float amp = 0.0f;     // level

  bool operator==(const Route&) const = default;
};

// Number of modulation sources and destinations. Source order (also the order of the live source
// values): LFO 1, LFO 2, LFO 3, Env 1, Env 2, Velocity, Mod Wheel, Pressure, Key, CC A, CC B, CC C.
inline constexpr int mod_source_count = 12;
inline constexpr int mod_destination_count = 7;

// One Route per source. Env 1 -> Amp starts at 1: by default envelope 1 shapes each voice's level.
struct ModMatrix {
  std::array<Route, 3> lfo{};  // LFO 1, 2, 3
  Route env{.amp = 1.0f};      // Env 1
  Route env2{};                // Env 2
  Route vel{};                 // note velocity
  Route wheel{};               // mod wheel
  Route pressure{};            // aftertouch
  Route key{};                 // distance of the note from middle C
  std::array<Route, 3> cc{};   // CC A, B, C

  bool operator==(const ModMatrix&) const = default;
};

struct Settings {
  Adsr adsr{};  // envelope 1: level and modulation source
  Adsr adsr2{.a = 0.3f, .d = 0.8f, .s = 0.3f, .r = 0.6f};  // envelope 2: modulation source only
  std::array<Lfo, 3> lfos{Lfo{.rate = 0.5f, .shape = LfoShape::Sine},
                          Lfo{.rate = 2.0f, .shape = LfoShape::Triangle},
                          Lfo{.rate = 0.1f, .shape = LfoShape::Sine}};
  ModMatrix mod{};
  Filter filter{};
  float tempo = 120.0f;  // beats per minute for synced LFOs when the host reports no tempo
  std::array<std::uint8_t, 3> cc{16, 17, 18};  // MIDI controllers feeding CC A, B, C

  bool operator==(const Settings&) const = default;
};

}  // namespace quillory::synth
