// The params extension as a host reaches it: info, values, text in both directions, both
// flushes, and "Invalid param_id".

#include <cstring>

#include "fixture.hpp"

namespace quillory::test {
namespace {

using host::note_event;
using host::param_event;

TEST(ParamsExtension, InfoFromTheTable) {
  Loaded loaded;
  const auto& params = loaded.params();
  ASSERT_EQ(params.count(loaded.plugin), 116u);

  struct Case {
    uint32_t index;
    const char* name;
    clap_id id;
    double min, max, def;
    uint32_t flags;
  };
  const Case cases[] = {
      {115, "CC C Number", 522, 0, 127, 18, CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE},
      {3, "Scan X Speed", 10, 0, 4, 0, CLAP_PARAM_IS_HIDDEN},
      {15, "Filter Cutoff", 201, 20, 20000, 2000, CLAP_PARAM_IS_AUTOMATABLE},
  };
  for (const Case& c : cases) {
    clap_param_info_t info;
    std::memset(&info, 0x55, sizeof info);
    ASSERT_TRUE(params.get_info(loaded.plugin, c.index, &info)) << c.name;
    EXPECT_STREQ(info.name, c.name);
    EXPECT_EQ(info.id, c.id);
    EXPECT_EQ(info.min_value, c.min);
    EXPECT_EQ(info.max_value, c.max);
    EXPECT_EQ(info.default_value, c.def);
    EXPECT_EQ(info.flags, c.flags) << c.name;
    EXPECT_EQ(info.cookie, nullptr);
  }
  clap_param_info_t info{};
  ASSERT_TRUE(params.get_info(loaded.plugin, 29, &info));
  EXPECT_STREQ(info.name, "LFO 1 \u2192 X");
  EXPECT_STREQ(info.module, "Mod/LFO 1");
  EXPECT_FALSE(params.get_info(loaded.plugin, 116, &info));

  // Across the table: 3 hidden, 13 stepped, 113 automatable.
  int hidden = 0, stepped = 0, automatable = 0;
  for (uint32_t i = 0; i < 116; ++i) {
    ASSERT_TRUE(params.get_info(loaded.plugin, i, &info));
    hidden += (info.flags & CLAP_PARAM_IS_HIDDEN) != 0;
    stepped += (info.flags & CLAP_PARAM_IS_STEPPED) != 0;
    automatable += (info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0;
  }
  EXPECT_EQ(hidden, 3);
  EXPECT_EQ(stepped, 13);
  EXPECT_EQ(automatable, 113);
}

TEST(ParamsExtension, ValueToTextAndBack) {
  Loaded loaded;
  const auto& params = loaded.params();
  char text[64];
  ASSERT_TRUE(params.value_to_text(loaded.plugin, 201, 2000.0, text, sizeof text));
  EXPECT_STREQ(text, "2.00 kHz");
  ASSERT_TRUE(params.value_to_text(loaded.plugin, 303, 8.0, text, sizeof text));
  EXPECT_STREQ(text, "1/4T");
  // The text and its NUL must fit: "1/4T" needs 5 bytes.
  EXPECT_TRUE(params.value_to_text(loaded.plugin, 303, 8.0, text, 5));
  EXPECT_FALSE(params.value_to_text(loaded.plugin, 303, 8.0, text, 4));
  EXPECT_FALSE(params.value_to_text(loaded.plugin, 9999, 1.0, text, sizeof text));

  double value = 0;
  ASSERT_TRUE(params.text_to_value(loaded.plugin, 303, "1/8T", &value));
  EXPECT_EQ(value, 11.0);
  ASSERT_TRUE(params.text_to_value(loaded.plugin, 303, "3", &value));
  EXPECT_EQ(value, 3.0);
  ASSERT_TRUE(params.text_to_value(loaded.plugin, 201, "2 kHz", &value));
  EXPECT_EQ(value, 2000.0);
  EXPECT_FALSE(params.text_to_value(loaded.plugin, 303, "bars", &value));
  EXPECT_FALSE(params.text_to_value(loaded.plugin, 201, "\xff\xfe", &value)) << "invalid UTF-8";
  EXPECT_FALSE(params.text_to_value(loaded.plugin, 201, "2 \xed\xa0\x80Hz", &value)) << "surrogate";
  EXPECT_FALSE(params.text_to_value(loaded.plugin, 9999, "1", &value));
  EXPECT_TRUE(loaded.host.logs.empty());
}

TEST(ParamsExtension, InvalidIdIsReportedAsHostMisbehaving) {
  Loaded loaded;
  const auto& params = loaded.params();
  double value = 0;
  char text[16];
  EXPECT_FALSE(params.get_value(loaded.plugin, CLAP_INVALID_ID, &value));
  EXPECT_FALSE(params.value_to_text(loaded.plugin, CLAP_INVALID_ID, 1.0, text, sizeof text));
  EXPECT_FALSE(params.text_to_value(loaded.plugin, CLAP_INVALID_ID, "1", &value));
  ASSERT_EQ(loaded.host.logs.size(), 3u);
  for (const auto& line : loaded.host.logs) {
    EXPECT_EQ(line.message, "Invalid param_id");
    EXPECT_EQ(line.severity, CLAP_LOG_HOST_MISBEHAVING);
  }
}

TEST(ParamsExtension, GetValueGivesDefaultsAndStoredValues) {
  Loaded loaded;
  const auto& params = loaded.params();
  double value = 0;
  ASSERT_TRUE(params.get_value(loaded.plugin, 430, &value));  // Env 1 -> Amp starts at 1
  EXPECT_EQ(value, 1.0);
  ASSERT_TRUE(params.get_value(loaded.plugin, 522, &value));
  EXPECT_EQ(value, 18.0);
  EXPECT_FALSE(params.get_value(loaded.plugin, 4, &value));
}

TEST(ParamsExtension, InactiveFlushSetsValuesAndIsNotEchoed) {
  Loaded loaded;
  const auto& params = loaded.params();
  EventList in, out;
  auto cutoff = param_event(0, 201, 440.0);
  auto type = param_event(0, 200, 2.4);  // stepped: rounds to 2
  auto unknown = param_event(0, 4, 1.0);
  auto note = note_event(CLAP_EVENT_NOTE_ON, 0, 60, 1.0);  // no audio half: ignored
  for (const clap_event_header_t* e :
       {&cutoff.header, &type.header, &unknown.header, &note.header}) {
    in.push(*e);
  }
  params.flush(loaded.plugin, in.input(), out.output());
  EXPECT_EQ(out.size(), 0u);
  double value = 0;
  ASSERT_TRUE(params.get_value(loaded.plugin, 201, &value));
  EXPECT_EQ(value, 440.0);
  ASSERT_TRUE(params.get_value(loaded.plugin, 200, &value));
  EXPECT_EQ(value, 2.0);

  params.flush(loaded.plugin, nullptr, nullptr);  // hosts may pass null lists

  // Activated afterwards: the first block echoes nothing of the flushed values.
  ASSERT_TRUE(loaded.plugin->activate(loaded.plugin, 48000, 1, 64));
  StereoBlock block(64);
  in.clear();
  EXPECT_EQ(loaded.plugin->process(loaded.plugin, &block.prepare(64, in, out)), CLAP_PROCESS_SLEEP);
  EXPECT_EQ(out.size(), 0u);
}

TEST(ParamsExtension, ActiveFlushActsLikeABlockWithoutRendering) {
  Running r;
  auto note = note_event(CLAP_EVENT_NOTE_ON, 0, 60, 1.0);
  auto cutoff = param_event(0, 201, 300.0);
  r.in.push(note.header);
  r.in.push(cutoff.header);
  r.params().flush(r.plugin, r.in.input(), r.out.output());
  r.in.clear();
  double value = 0;
  ASSERT_TRUE(r.params().get_value(r.plugin, 201, &value));
  EXPECT_EQ(value, 300.0);
  EXPECT_EQ(r.run(), CLAP_PROCESS_CONTINUE) << "the flushed note sounds from the next block";
  EXPECT_GT(peak(r.left().data(), r.frames), 0.0f);
}

TEST(ParamsExtension, FlushReportsEditorChangesOnce) {
  Loaded loaded(/*in_process=*/true);
  loaded.self().shared->core->params.set_from_editor(20, 8.0f);  // LFO 1 Sync
  EventList out;
  loaded.params().flush(loaded.plugin, nullptr, out.output());
  ASSERT_EQ(out.size(), 1u);
  auto& event = reinterpret_cast<const clap_event_param_value_t&>(out[0]);
  EXPECT_EQ(event.param_id, 303u);
  EXPECT_EQ(event.value, 8.0);
  loaded.params().flush(loaded.plugin, nullptr, out.output());
  EXPECT_EQ(out.size(), 1u);
}

}  // namespace
}  // namespace quillory::test
