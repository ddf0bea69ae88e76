// The host's inputs and outputs: the text score, standard MIDI files and the float WAV writer.

#include <gtest/gtest.h>

#include <cstring>

#include "host/score.hpp"
#include "host/wav.hpp"

namespace quillory::host {
namespace {

TEST(Score, NotesBecomeOnOffPairsInTimeOrder) {
  auto score = parse_score(
      "# a phrase\n"
      "tempo 60\n"
      "note 1 0.5 64 0.5   # second note first in the text\n"
      "note 0 2 60\n"
      "midi 0.25 0xB0 1 127\n"
      "param 1.5 2000 Filter Cutoff\n");
  ASSERT_TRUE(score) << score.error();
  EXPECT_DOUBLE_EQ(score->tempo, 60.0);
  ASSERT_EQ(score->events.size(), 6u);
  const auto& e = score->events;
  EXPECT_DOUBLE_EQ(e[0].seconds, 0.0);
  EXPECT_EQ(std::get<NoteOn>(e[0].what).key, 60);
  EXPECT_DOUBLE_EQ(std::get<NoteOn>(e[0].what).velocity, 0.8);  // default velocity
  EXPECT_DOUBLE_EQ(e[1].seconds, 0.25);
  EXPECT_EQ(std::get<Midi>(e[1].what).status, 0xB0);
  EXPECT_EQ(std::get<Midi>(e[1].what).d2, 127);
  EXPECT_DOUBLE_EQ(e[2].seconds, 1.0);
  EXPECT_DOUBLE_EQ(std::get<NoteOn>(e[2].what).velocity, 0.5);
  EXPECT_DOUBLE_EQ(e[3].seconds, 1.5);  // both at 1.5 s: the note off and the param, text order
  EXPECT_EQ(std::get<NoteOff>(e[3].what).key, 64);
  EXPECT_EQ(std::get<ParamChange>(e[4].what).param, "Filter Cutoff");
  EXPECT_DOUBLE_EQ(std::get<ParamChange>(e[4].what).value, 2000.0);
  EXPECT_DOUBLE_EQ(e[5].seconds, 2.0);
  EXPECT_DOUBLE_EQ(score->end_seconds(), 2.0);
}

TEST(Score, RejectsMalformedLinesNamingThem) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"note 0 1 128", "line 1"},         {"\nnote 0 1", "line 2"},
      {"note x 1 60", "line 1"},          {"tempo 0", "line 1"},
      {"midi 0 0x1FF 0 0", "line 1"},     {"param 0 1", "line 1"},
      {"play 0 60", "unknown statement"}, {"note 0 1 60 0.5 extra", "unexpected text"},
      {"note -1 1 60", "line 1"},         {"note 0 1 60.5", "line 1"},
  };
  for (const Case& c : cases) {
    auto score = parse_score(c.text);
    ASSERT_FALSE(score) << c.text;
    EXPECT_NE(score.error().find(c.error), std::string::npos) << c.text << " -> " << score.error();
  }
}

// A small MIDI file builder: header plus tracks of raw event bytes.
std::vector<std::uint8_t> midi_file(std::uint16_t format, std::uint16_t division,
                                    const std::vector<std::vector<std::uint8_t>>& tracks) {
  std::vector<std::uint8_t> out = {'M',
                                   'T',
                                   'h',
                                   'd',
                                   0,
                                   0,
                                   0,
                                   6,
                                   0,
                                   static_cast<std::uint8_t>(format),
                                   0,
                                   static_cast<std::uint8_t>(tracks.size()),
                                   static_cast<std::uint8_t>(division >> 8),
                                   static_cast<std::uint8_t>(division)};
  for (const auto& t : tracks) {
    const auto n = static_cast<std::uint32_t>(t.size());
    out.insert(out.end(), {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(n >> 24),
                           static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(n)});
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

TEST(MidiFile, TempoMapRunningStatusAndMergedTracks) {
  // 96 ticks per quarter. Track 0: tempo 1 s per quarter from tick 0. Track 1: note on at 0,
  // running-status note on at 96 (velocity 0 = off), pitch bend, a SysEx skipped, end of track.
  auto bytes = midi_file(1, 96,
                         {{0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,  // 1,000,000 us per quarter
                           0x00, 0xFF, 0x2F, 0x00},
                          {0x00, 0x90, 60,   100,         // note on
                           0x60, 60,   0,                 // +96 ticks, running status: velocity 0
                           0x30, 0xE0, 0x00, 0x40,        // +48 ticks: pitch bend centre
                           0x00, 0xF0, 0x02, 0x01, 0xF7,  // SysEx, skipped
                           0x81, 0x00, 0xB0, 1,    64,    // +128 ticks (two-byte delta): CC 1
                           0x00, 0xFF, 0x2F, 0x00}});
  auto score = parse_midi_file(bytes);
  ASSERT_TRUE(score) << score.error();
  EXPECT_DOUBLE_EQ(score->tempo, 60.0);
  ASSERT_EQ(score->events.size(), 4u);
  const auto& e = score->events;
  EXPECT_DOUBLE_EQ(e[0].seconds, 0.0);
  EXPECT_EQ(std::get<Midi>(e[0].what).status, 0x90);
  EXPECT_DOUBLE_EQ(e[1].seconds, 1.0);
  EXPECT_EQ(std::get<Midi>(e[1].what).d1, 60);
  EXPECT_EQ(std::get<Midi>(e[1].what).d2, 0);
  EXPECT_DOUBLE_EQ(e[2].seconds, 1.5);
  EXPECT_EQ(std::get<Midi>(e[2].what).status, 0xE0);
  EXPECT_DOUBLE_EQ(e[3].seconds, 1.5 + 128.0 / 96.0);
  EXPECT_EQ(std::get<Midi>(e[3].what).d1, 1);
}

TEST(MidiFile, RejectsDamagedFiles) {
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},
      {'M', 'T', 'h', 'd'},
      midi_file(2, 96, {}),
      midi_file(0, 0xE728, {}),                            // SMPTE division
      midi_file(0, 96, {{0x00, 60, 100}}),                 // data without status
      midi_file(0, 96, {{0x00, 0x90, 60}}),                // truncated message
      midi_file(0, 96, {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}),  // endless delta time
      midi_file(0, 96, {{0x00, 0xFF, 0x51, 0x20}}),        // meta longer than the track
  };
  for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(parse_midi_file(bad[i])) << i;
  auto truncated = midi_file(0, 96, {{0x00, 0x90, 60, 100}});
  truncated.resize(truncated.size() - 2);  // the track says it is longer than the file
  EXPECT_FALSE(parse_midi_file(truncated));
}

TEST(Wav, FloatHeaderAndLittleEndianSamples) {
  const std::vector<float> samples = {0.5f, -0.25f, 1.0f, 0.0f};
  auto bytes = encode_wav_f32(samples, 2, 44100);
  ASSERT_EQ(bytes.size(), 44u + 16u);
  auto u32 = [&](std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           std::uint32_t(bytes[at + 3]) << 24;
  };
  auto u16 = [&](std::size_t at) { return bytes[at] | bytes[at + 1] << 8; };
  EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
  EXPECT_EQ(u32(4), bytes.size() - 8);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(u16(20), 3);  // IEEE float
  EXPECT_EQ(u16(22), 2);
  EXPECT_EQ(u32(24), 44100u);
  EXPECT_EQ(u32(28), 44100u * 8);
  EXPECT_EQ(u16(32), 8);
  EXPECT_EQ(u16(34), 32);
  EXPECT_EQ(std::memcmp(bytes.data() + 36, "data", 4), 0);
  EXPECT_EQ(u32(40), 16u);
  float back[4];
  std::memcpy(back, bytes.data() + 44, 16);
  EXPECT_EQ(std::vector<float>(back, back + 4), samples);
}

}  // namespace
}  // namespace quillory::host
