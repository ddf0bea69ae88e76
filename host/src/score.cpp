#include "host/score.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <sstream>

namespace quillory::host {
namespace {

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Splits off the next blank-separated word.
std::string_view next_word(std::string_view& rest) {
  rest = trim(rest);
  const auto end = std::min(rest.find_first_of(" \t"), rest.size());
  std::string_view word = rest.substr(0, end);
  rest = rest.substr(end);
  return word;
}

bool read_number(std::string_view word, double& out) {
  if (word.empty()) return false;
  const char* end = word.data() + word.size();
  auto [ptr, ec] = std::from_chars(word.data(), end, out);
  return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool read_byte(std::string_view word, std::uint8_t& out) {
  int base = 10;
  if (word.starts_with("0x") || word.starts_with("0X")) {
    word.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  const char* end = word.data() + word.size();
  auto [ptr, ec] = std::from_chars(word.data(), end, value, base);
  if (word.empty() || ec != std::errc() || ptr != end || value > 255) return false;
  out = static_cast<std::uint8_t>(value);
  return true;
}

void sort_events(Score& score) {
  std::stable_sort(score.events.begin(), score.events.end(),
                   [](const ScoreEvent& a, const ScoreEvent& b) { return a.seconds < b.seconds; });
}

}  // namespace

Result<Score, std::string> parse_score(std::string_view text) {
  Score score;
  bool tempo_seen = false;
  double seconds_per_beat = 0.5;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const auto newline = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, newline);
    text = text.substr(std::min(newline + 1, text.size()));
    line = trim(line.substr(0, std::min(line.find('#'), line.size())));
    if (line.empty()) continue;

    auto error = [&](std::string_view what) {
      return fail("Score line " + std::to_string(line_number) + ": " + std::string(what));
    };
    std::string_view rest = line;
    const std::string_view verb = next_word(rest);
    if (verb == "tempo") {
      double bpm;
      if (!read_number(next_word(rest), bpm) || bpm <= 0)
        return error("tempo needs a positive number");
      seconds_per_beat = 60.0 / bpm;
      if (!tempo_seen) score.tempo = bpm;
      tempo_seen = true;
      continue;
    }
    double beat;
    if (!read_number(next_word(rest), beat) || beat < 0) return error("expected a start beat");
    const double at = beat * seconds_per_beat;
    if (verb == "note") {
      double length, key, velocity = 0.8;
      if (!read_number(next_word(rest), length) || length < 0) return error("expected a length");
      if (!read_number(next_word(rest), key) || key < 0 || key > 127 || key != std::floor(key)) {
        return error("expected a key 0..127");
      }
      if (std::string_view v = next_word(rest); !v.empty() && !read_number(v, velocity)) {
        return error("bad velocity");
      }
      const auto k = static_cast<std::int16_t>(key);
      score.events.push_back({at, NoteOn{k, velocity}});
      score.events.push_back({at + length * seconds_per_beat, NoteOff{k}});
    } else if (verb == "midi") {
      Midi midi{};
      if (!read_byte(next_word(rest), midi.status) || !read_byte(next_word(rest), midi.d1) ||
          !read_byte(next_word(rest), midi.d2)) {
        return error("midi needs three bytes");
      }
      score.events.push_back({at, midi});
    } else if (verb == "param") {
      double value;
      if (!read_number(next_word(rest), value)) return error("expected a value");
      const std::string_view name = trim(rest);
      if (name.empty()) return error("expected a parameter id or name");
      score.events.push_back({at, ParamChange{std::string(name), value}});
    } else {
      return error("unknown statement '" + std::string(verb) + "'");
    }
    if (!rest.empty() && !trim(rest).empty() && verb != "param") return error("unexpected text");
  }
  sort_events(score);
  return score;
}

// ---- standard MIDI files ----------------------------------------------------------------------

namespace {

struct Reader {
  const std::vector<std::uint8_t>& bytes;
  std::size_t pos;
  std::size_t end;

  bool has(std::size_t n) const { return pos <= end && end - pos >= n; }
  std::uint32_t big(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | bytes[pos++];
    return v;
  }
  bool varlen(std::uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
      if (!has(1)) return false;
      const std::uint8_t b = bytes[pos++];
      out = (out << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }
};

struct TickEvent {
  std::uint64_t tick;
  std::size_t order;
  bool is_tempo;
  std::uint32_t tempo;  // microseconds per quarter note
  Midi midi;
};

// Data bytes that follow each channel status kind (high nibble 0x8..0xE).
constexpr int kDataBytes[7] = {2, 2, 2, 2, 1, 1, 2};

}  // namespace

Result<Score, std::string> parse_midi_file(const std::vector<std::uint8_t>& bytes) {
  auto bad = [](std::string_view what) {
    return fail("Not a usable MIDI file: " + std::string(what));
  };
  Reader r{bytes, 0, bytes.size()};
  if (!r.has(14) || r.big(4) != 0x4D546864 /* "MThd" */) return bad("no header");
  const std::uint32_t header_length = r.big(4);
  if (header_length < 6 || !r.has(header_length)) return bad("short header");
  const std::uint32_t format = r.big(2), tracks = r.big(2), division = r.big(2);
  r.pos += header_length - 6;
  if (format > 1) return bad("format 2 is not supported");
  if ((division & 0x8000) != 0 || division == 0) return bad("SMPTE time is not supported");

  std::vector<TickEvent> events;
  for (std::uint32_t t = 0; t < tracks; ++t) {
    if (!r.has(8)) return bad("missing track");
    const std::uint32_t id = r.big(4), length = r.big(4);
    if (!r.has(length)) return bad("truncated track");
    if (id != 0x4D54726B /* "MTrk" */) {
      r.pos += length;
      continue;
    }
    Reader track{bytes, r.pos, r.pos + length};
    r.pos += length;
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (track.has(1)) {
      std::uint32_t delta;
      if (!track.varlen(delta)) return bad("bad delta time");
      tick += delta;
      if (!track.has(1)) return bad("truncated event");
      std::uint8_t status = track.bytes[track.pos];
      if (status >= 0x80) {
        ++track.pos;
      } else if (running == 0) {
        return bad("data without status");
      } else {
        status = running;
      }
      if (status == 0xFF) {  // meta event
        if (!track.has(1)) return bad("truncated meta event");
        const std::uint8_t type = track.bytes[track.pos++];
        std::uint32_t len;
        if (!track.varlen(len) || !track.has(len)) return bad("truncated meta event");
        if (type == 0x51 && len == 3) {
          const std::uint32_t tempo = track.big(3);
          events.push_back({tick, events.size(), true, tempo, {}});
        } else {
          track.pos += len;
        }
        if (type == 0x2F) break;  // end of track
        continue;
      }
      if (status == 0xF0 || status == 0xF7) {  // SysEx: skipped
        std::uint32_t len;
        if (!track.varlen(len) || !track.has(len)) return bad("truncated SysEx");
        track.pos += len;
        continue;
      }
      if (status >= 0xF0) return bad("unexpected system message");
      running = status;
      const int count = kDataBytes[(status >> 4) - 8];
      if (!track.has(static_cast<std::size_t>(count))) return bad("truncated channel message");
      Midi midi{status, track.bytes[track.pos],
                count == 2 ? track.bytes[track.pos + 1] : std::uint8_t{0}};
      track.pos += static_cast<std::size_t>(count);
      events.push_back({tick, events.size(), false, 0, midi});
    }
  }

  // Ticks to seconds through the tempo map (500000 us per quarter until the first tempo event).
  std::stable_sort(events.begin(), events.end(),
                   [](const TickEvent& a, const TickEvent& b) { return a.tick < b.tick; });
  Score score;
  bool tempo_seen = false;
  double seconds = 0.0, us_per_quarter = 500000.0;
  std::uint64_t last_tick = 0;
  for (const TickEvent& e : events) {
    seconds += static_cast<double>(e.tick - last_tick) * us_per_quarter * 1e-6 / division;
    last_tick = e.tick;
    if (e.is_tempo) {
      if (e.tempo == 0) continue;
      us_per_quarter = e.tempo;
      if (!tempo_seen) score.tempo = 60e6 / e.tempo;
      tempo_seen = true;
    } else {
      score.events.push_back({seconds, e.midi});
    }
  }
  return score;
}

}  // namespace quillory::host
