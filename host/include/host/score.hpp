#pragma once
// What quillory-host plays: timed note, MIDI and parameter events, read from a small text score
// or a standard MIDI file.
//
// Text score, one statement per line, '#' starts a comment, times and lengths in beats:
//   tempo 120                       beats per minute (default 120; affects later lines)
//   note <beat> <length> <key> [velocity 0..1, default 0.8]
//   midi <beat> <status> <data1> <data2>      bytes in decimal or 0x hex
//   param <beat> <value> <id or name...>      the rest of the line names the parameter

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "wavetable/result.hpp"

namespace quillory::host {

struct NoteOn {
  std::int16_t key;
  double velocity;
};
struct NoteOff {
  std::int16_t key;
};
struct Midi {
  std::uint8_t status, d1, d2;
};
// A parameter named by id (digits) or by name; resolved against the plug-in when rendering.
struct ParamChange {
  std::string param;
  double value;
};

struct ScoreEvent {
  double seconds;
  std::variant<NoteOn, NoteOff, Midi, ParamChange> what;
};

struct Score {
  std::vector<ScoreEvent> events;  // sorted by time, stable
  double tempo = 120.0;            // the first tempo, reported to the plug-in as host tempo
  double end_seconds() const { return events.empty() ? 0.0 : events.back().seconds; }
};

// Reads a text score. Errors name the line.
Result<Score, std::string> parse_score(std::string_view text);

// Reads a standard MIDI file (format 0 or 1; tempo changes honoured; channel messages become
// Midi events, note on/off included).
Result<Score, std::string> parse_midi_file(const std::vector<std::uint8_t>& bytes);

}  // namespace quillory::host
