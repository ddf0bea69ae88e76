// The process callback: output checks, the event loop split at event times, the copy to every
// channel, sleep and continue, and the report of editor changes as parameter events.

#include <random>

#include "fixture.hpp"

namespace quillory::test {
namespace {

using host::midi_event;
using host::note_event;
using host::param_event;

auto note_on(std::uint32_t time, std::int16_t key, double velocity = 0.8) {
  return note_event(CLAP_EVENT_NOTE_ON, time, key, velocity);
}
auto note_off(std::uint32_t time, std::int16_t key) {
  return note_event(CLAP_EVENT_NOTE_OFF, time, key, 0.0);
}

TEST(Process, EmptyBlockIsSilentAndSleeps) {
  Running r;
  std::fill(r.block.channels[0].begin(), r.block.channels[0].end(), 9.0f);
  EXPECT_EQ(r.run(), CLAP_PROCESS_SLEEP);
  EXPECT_EQ(peak(r.left().data(), r.frames), 0.0f) << "the whole block is written";
  EXPECT_TRUE(r.host.logs.empty());
}

TEST(Process, NoteSoundsFromItsSampleAndContinues) {
  Running r;
  r.push(note_on(64, 60));
  EXPECT_EQ(r.run(), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(peak(r.left().data(), 64), 0.0f) << "samples 0-63 come before the note";
  EXPECT_GT(peak(r.left().data() + 64, r.frames - 64), 0.0f);
  EXPECT_EQ(r.block.channels[0], r.block.channels[1]);
}

TEST(Process, EventsAtOneTimeFormAGroupBeforeTheirSamples) {
  // Notes at 0, 0 and 100 in one 256-frame block render exactly as a 100-frame block with the
  // first two followed by a 156-frame block starting with the third: the split is sample-exact.
  Running whole(256);
  whole.push(note_on(0, 60));
  whole.push(note_on(0, 64));
  whole.push(note_on(100, 67));
  whole.run();

  Running split(256);
  split.push(note_on(0, 60));
  split.push(note_on(0, 64));
  split.run(100);
  std::vector<float> joined(split.left().begin(), split.left().begin() + 100);
  split.push(note_on(0, 67));
  split.run(156);
  joined.insert(joined.end(), split.left().begin(), split.left().begin() + 156);
  EXPECT_EQ(whole.left(), joined);
}

TEST(Process, ParameterEventChangesTheSoundFromItsSample) {
  // A cutoff change at sample 128 leaves samples 0-127 as they were without it.
  Running plain(256), changed(256);
  for (Running* r : {&plain, &changed}) {
    auto type = param_event(0, 200, 1.0);  // low-pass
    r->push(type);
    r->push(note_on(0, 48));
    r->run();
    r->push(param_event(128, 201, 100.0));
  }
  plain.in.clear();
  plain.run();
  changed.run();
  EXPECT_TRUE(std::equal(plain.left().begin(), plain.left().begin() + 128, changed.left().begin()));
  EXPECT_FALSE(
      std::equal(plain.left().begin() + 128, plain.left().end(), changed.left().begin() + 128));
}

TEST(Process, IgnoresEventsItCannotUse) {
  Running r;
  r.push(note_on(0, -1));
  auto foreign = note_on(0, 60);
  foreign.header.space_id = 7;  // another namespace
  r.push(foreign);
  auto short_event = note_on(0, 60);
  short_event.header.size = 20;  // claims to end before its key and velocity
  r.push(short_event);
  r.push(note_on(0, 300));  // not a MIDI key
  r.push(param_event(0, 9999, 1.0));
  r.push(param_event(0, CLAP_INVALID_ID, 1.0));
  auto choke = note_event(CLAP_EVENT_NOTE_CHOKE, 0, 60, 0.0);
  r.push(choke);
  EXPECT_EQ(r.run(), CLAP_PROCESS_SLEEP);
  EXPECT_EQ(peak(r.left().data(), r.frames), 0.0f);
  EXPECT_TRUE(r.host.logs.empty());
}

TEST(Process, ClampsOutOfOrderAndOutOfBlockTimes) {
  Running r(128);
  r.push(note_on(100, 60));
  r.push(note_on(20, 64));    // earlier than the event before it: handled at 100
  r.push(note_on(5000, 67));  // beyond the block: handled at its end
  EXPECT_EQ(r.run(), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(peak(r.left().data(), 100), 0.0f);
  for (float s : r.left()) ASSERT_TRUE(std::isfinite(s));
}

TEST(Process, MonoAndWideOutputs) {
  Running mono(256);
  StereoBlock one(256, 1);
  mono.push(note_on(0, 60));
  const clap_process_t& p1 = one.prepare(256, mono.in, mono.out);
  EXPECT_EQ(mono.plugin->process(mono.plugin, &p1), CLAP_PROCESS_CONTINUE);
  EXPECT_GT(peak(one.channels[0].data(), 256), 0.0f);

  Running wide(256);
  StereoBlock four(256, 4);
  four.pointers[3] = nullptr;  // a missing buffer ends the copy
  std::fill(four.channels[3].begin(), four.channels[3].end(), 5.0f);
  wide.push(note_on(0, 60));
  const clap_process_t& p4 = four.prepare(256, wide.in, wide.out);
  EXPECT_EQ(wide.plugin->process(wide.plugin, &p4), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(four.channels[0], one.channels[0]) << "same signal whatever the width";
  EXPECT_EQ(four.channels[1], four.channels[0]);
  EXPECT_EQ(four.channels[2], four.channels[0]);
  EXPECT_EQ(four.channels[3][0], 5.0f);
}

TEST(Process, OutputErrorsFailTheBlockWithTheirMessage) {
  struct Case {
    const char* message;
    void (*spoil)(clap_process_t&, clap_audio_buffer_t&);
  };
  static double* data64[2];
  const Case cases[] = {
      {"No output port",
       [](clap_process_t& p, clap_audio_buffer_t&) { p.audio_outputs_count = 0; }},
      {"No output port",
       [](clap_process_t& p, clap_audio_buffer_t&) { p.audio_outputs = nullptr; }},
      {"Expected f32 output",
       [](clap_process_t&, clap_audio_buffer_t& b) { b.data32 = nullptr, b.data64 = data64; }},
      {"Invalid port channels buffers: both the data32 and data64 pointers were null",
       [](clap_process_t&, clap_audio_buffer_t& b) { b.data32 = nullptr; }},
      {"No output channel", [](clap_process_t&, clap_audio_buffer_t& b) { b.channel_count = 0; }},
      {"No output channel", [](clap_process_t&, clap_audio_buffer_t& b) { b.data32[0] = nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Running r;
    r.push(note_on(0, 60));
    clap_process_t& process = r.block.prepare(r.frames, r.in, r.out);
    c.spoil(process, r.block.port);
    EXPECT_EQ(r.plugin->process(r.plugin, &process), CLAP_PROCESS_ERROR);
    ASSERT_EQ(r.host.logs.size(), 1u);
    EXPECT_EQ(r.host.logs[0].message, c.message);
    EXPECT_EQ(r.host.logs[0].severity, CLAP_LOG_ERROR);

    // The failed block consumed nothing: a good block without events stays silent.
    StereoBlock good(r.frames);
    r.in.clear();
    EXPECT_EQ(r.plugin->process(r.plugin, &good.prepare(r.frames, r.in, r.out)),
              CLAP_PROCESS_SLEEP);
    EXPECT_EQ(peak(good.channels[0].data(), r.frames), 0.0f);
  }
}

TEST(Process, ReleasingVoiceKeepsProcessingUntilSilent) {
  Running r;
  r.push(note_on(0, 60));
  r.run();
  r.push(note_off(0, 60));
  EXPECT_EQ(r.run(), CLAP_PROCESS_CONTINUE) << "a voice in its release still sounds";
  clap_process_status status = CLAP_PROCESS_CONTINUE;
  for (int i = 0; i < 1000 && status == CLAP_PROCESS_CONTINUE; ++i) status = r.run();
  EXPECT_EQ(status, CLAP_PROCESS_SLEEP);
  EXPECT_EQ(r.run(), CLAP_PROCESS_SLEEP);
  EXPECT_EQ(peak(r.left().data(), r.frames), 0.0f) << "silent once asleep";
}

TEST(Process, StopProcessingCutsEveryVoice) {
  Running r;
  r.push(note_on(0, 60));
  r.push(note_on(0, 67));
  r.run();
  r.plugin->stop_processing(r.plugin);
  r.plugin->start_processing(r.plugin);
  EXPECT_EQ(r.run(), CLAP_PROCESS_SLEEP);
  EXPECT_EQ(peak(r.left().data(), r.frames), 0.0f);
}

TEST(Process, HostParameterChangesAreNotEchoed) {
  Running r;
  r.push(param_event(0, 201, 500.0));
  r.run();
  EXPECT_EQ(r.out.size(), 0u);
  double value = 0;
  ASSERT_TRUE(r.params().get_value(r.plugin, 201, &value));
  EXPECT_DOUBLE_EQ(value, 500.0);
}

TEST(Process, EditorChangeIsReportedOnceAtTimeZero) {
  Running r(256, 48000.0, /*in_process=*/true);
  core::ParamValues& params = r.self().shared->core->params;
  params.set_from_editor(15, 880.0f);  // Filter Cutoff
  params.set_from_editor(0, 0.25f);    // Position X: reported first, in table order
  r.run();
  ASSERT_EQ(r.out.size(), 2u);
  auto& first = reinterpret_cast<const clap_event_param_value_t&>(r.out[0]);
  auto& second = reinterpret_cast<const clap_event_param_value_t&>(r.out[1]);
  EXPECT_EQ(first.header.size, 56u);
  EXPECT_EQ(first.header.time, 0u);
  EXPECT_EQ(first.header.space_id, 0u);
  EXPECT_EQ(first.header.type, CLAP_EVENT_PARAM_VALUE);
  EXPECT_EQ(first.header.flags, 0u);
  EXPECT_EQ(first.param_id, 1u);
  EXPECT_DOUBLE_EQ(first.value, 0.25);
  EXPECT_EQ(first.cookie, nullptr);
  EXPECT_EQ(first.note_id, -1);
  EXPECT_EQ(first.port_index, -1);
  EXPECT_EQ(first.channel, -1);
  EXPECT_EQ(first.key, -1);
  EXPECT_EQ(second.param_id, 201u);
  EXPECT_DOUBLE_EQ(second.value, 880.0);

  r.out.clear();
  r.run();
  EXPECT_EQ(r.out.size(), 0u) << "reported once";
}

TEST(Process, HostileBlocksStayFinite) {
  // Any block size, a random parameter value at every sample (NaN, infinities and huge values
  // included) and a stream of notes: the output stays finite and free of subnormals.
  Running r(2048, 96000.0);
  std::mt19937 random(7);
  const double specials[] = {std::nan(""), INFINITY, -INFINITY, 1e30, -1e30, 0.0};
  auto* params = &r.params();
  const uint32_t count = params->count(r.plugin);
  for (int block = 0; block < 40; ++block) {
    const uint32_t frames = 1 + random() % 2048;
    for (uint32_t t = 0; t < frames; ++t) {
      clap_param_info_t info{};
      params->get_info(r.plugin, random() % count, &info);
      const double value =
          random() % 4 == 0 ? specials[random() % 6]
                            : info.min_value + (info.max_value - info.min_value) *
                                                   std::uniform_real_distribution<>(0, 1)(random);
      r.push(param_event(t, info.id, value));
      if (t % 97 == 0) r.push(note_on(t, static_cast<std::int16_t>(random() % 128), 1.0));
      if (t % 131 == 0) r.push(note_off(t, static_cast<std::int16_t>(random() % 128)));
    }
    ASSERT_NE(r.run(frames), CLAP_PROCESS_ERROR);
    for (uint32_t i = 0; i < frames; ++i) {
      const float s = r.left()[i];
      ASSERT_TRUE(std::isfinite(s)) << "block " << block << " sample " << i;
      ASSERT_TRUE(s == 0.0f || std::fabs(s) >= 1.17549435e-38f) << "subnormal";
    }
  }
}

}  // namespace
}  // namespace quillory::test
