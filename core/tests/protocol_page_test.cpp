#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "core/base64.hpp"
#include "core/core.hpp"
#include "core/params.hpp"
#include "core/protocol.hpp"
#include "synth/settings_json.hpp"

namespace quillory::core {
namespace {

using nlohmann::json;

// --- What the tests see of the core ---------------------------------------------------------

std::vector<Command> queued_commands(Core& core) {
  std::vector<Command> commands;
  EXPECT_TRUE(core.drain_commands([&](const Command& c) { commands.push_back(c); }));
  return commands;
}

// Publishes the cells as the audio thread would after a block.
void publish_live(Core& core, const LiveSnapshot& s) {
  core.live.store(s.position.value_or(std::array<float, 3>{}),
                  {s.lfo[0], s.lfo[1], s.lfo[2], s.env, s.env2, s.vel, s.wheel, s.pressure, s.key,
                   s.cc[0], s.cc[1], s.cc[2]},
                  s.position.has_value());
}

// --- Helpers ------------------------------------------------------------------------------------

std::vector<std::string> sent_texts(const std::vector<Action>& actions) {
  std::vector<std::string> texts;
  for (const Action& a : actions) {
    if (const auto* send = std::get_if<Action::Send>(&a.value)) texts.push_back(send->text);
  }
  return texts;
}

std::string type_of(const std::string& text) {
  return json::parse(text).at("type");
}

std::vector<std::string> sent_types(const std::vector<Action>& actions) {
  std::vector<std::string> types;
  for (const auto& text : sent_texts(actions)) types.push_back(type_of(text));
  return types;
}

std::string samples_text(const std::vector<float>& samples) {
  return samples_b64(samples);
}

// A core holding a small named table of two frames of 4 samples.
struct ProtocolPage : ::testing::Test {
  ProtocolPage() {
    EXPECT_TRUE(core.tables.install(TableData{"pad", {0, 1, 0, -1, 1, 1, -1, -1}, 4, 1, 1}));
  }
  std::vector<Action> handle(std::string_view text) { return page.handle(core, text); }
  std::vector<Action> handle_json(const json& message) { return page.handle(core, message.dump()); }

  Core core;
  Page page;
};

const std::string kDefaultSettings = dump_json(synth::settings_to_json(synth::Settings{}));

// --- Malformed messages -----------------------------------------------------------------------

TEST_F(ProtocolPage, MalformedAndUnknownMessagesGiveNothingAndChangeNothing) {
  const std::uint32_t epoch = core.params.epoch();
  for (std::string_view text : {
           "",
           "not json",
           "[]",
           R"(["tick"])",
           R"("tick")",
           "{}",
           R"({"type":3})",
           R"({"type":null})",
           R"({"type":"nope"})",
           R"({"Type":"tick"})",
           R"({"type":"tick"} trailing)",
           R"({"type":"tick","type":"tick"})",
           R"({"type":"param","name":"position","value":0.5,"value":0.7})",
           R"({"type":"ready")",
       }) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(handle(text).empty());
  }
  EXPECT_EQ(core.params.epoch(), epoch);
  EXPECT_EQ(core.tables.table_data().name, "pad");
}

// --- Exact texts ------------------------------------------------------------------------------

TEST_F(ProtocolPage, ReadyAnswersTheExactInitMessage) {
  const auto actions = handle(R"({"type":"ready"})");
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(sent_texts(actions).at(0),
            R"({"name":"pad","position":[0.0,0.0,0.0],"synth":)" + kDefaultSettings +
                R"(,"table":{"data":")" + samples_text({0, 1, 0, -1, 1, 1, -1, -1}) +
                R"(","frameSize":4,"layers":1,"rows":1},"type":"init"})");
  EXPECT_EQ(page.seen_epoch, core.params.epoch());
}

TEST_F(ProtocolPage, TickAnswersTheExactLiveMessage) {
  EXPECT_EQ(sent_texts(handle(R"({"type":"tick"})")).at(0),
            R"({"mod":{"cc":[0.0,0.0,0.0],"env":0.0,"env2":0.0,"key":0.0,"lfo":[0.0,0.0,0.0],)"
            R"("pressure":0.0,"vel":0.0,"wheel":0.0},"position":null,"type":"live"})");

  LiveSnapshot live;
  live.position = {{0.1f, 0.5f, 1.0f}};
  live.lfo = {-1.0f, 0.25f, std::numeric_limits<float>::quiet_NaN()};
  live.env = 0.2f;
  live.env2 = 1.0f;
  live.vel = 0.8f;
  live.wheel = std::numeric_limits<float>::infinity();
  live.pressure = 0.0f;
  live.key = -0.5f;
  live.cc = {0.0f, 0.5f, 1.0f};
  publish_live(core, live);
  EXPECT_EQ(sent_texts(handle(R"({"type":"tick"})")).at(0),
            R"({"mod":{"cc":[0.0,0.5,1.0],"env":0.20000000298023224,"env2":1.0,"key":-0.5,)"
            R"("lfo":[-1.0,0.25,null],"pressure":0.0,"vel":0.800000011920929,"wheel":null},)"
            R"("position":[0.10000000149011612,0.5,1.0],"type":"live"})");
}

TEST_F(ProtocolPage, HostChangeSendsTheExactParamsMessageAfterLive) {
  handle(R"({"type":"ready"})");
  core.params.set(0, 0.5f);
  core.params.set(1, 0.25f);
  const auto texts = sent_texts(handle(R"({"type":"tick"})"));
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(type_of(texts[0]), "live");
  EXPECT_EQ(texts[1],
            R"({"position":[0.5,0.25,0.0],"synth":)" + kDefaultSettings + R"(,"type":"params"})");
}

// --- Echo suppression -------------------------------------------------------------------------

TEST_F(ProtocolPage, HostChangesReachThePageOnceAndEditorChangesNever) {
  enum Op { HostSet, EditorSet, EditorMessage, Tick };
  struct Step {
    Op op;
    std::size_t index = 0;
    float value = 0;
    std::string_view message = {};
    bool params_expected = false;  // for Tick
  };
  const Step steps[] = {
      {Tick, 0, 0, {}, true},  // a new page has seen nothing yet
      {Tick, 0, 0, {}, false},
      {HostSet, 0, 0.3f},
      {Tick, 0, 0, {}, true},
      {Tick, 0, 0, {}, false},
      {HostSet, 15, 500.0f},
      {HostSet, 16, 0.5f},
      {Tick, 0, 0, {}, true},  // many host changes, one "params"
      {EditorMessage, 0, 0, R"({"type":"param","name":"position","value":0.25})"},
      {Tick, 0, 0, {}, false},  // the editor's own change is not echoed
      {EditorSet, 1, 0.75f},
      {EditorSet, 2, 0.5f},
      {Tick, 0, 0, {}, false},
      {HostSet, 15, 800.0f},
      {EditorSet, 1, 0.1f},
      {Tick, 0, 0, {}, false},  // the editor's change came last: no "params" ...
      {Tick, 0, 0, {}, false},
      {HostSet, 16, 0.9f},
      {Tick, 0, 0, {}, true},  // ... until a later change from outside the editor
      {EditorMessage, 0, 0,
       R"({"type":"worklet","msg":{"type":"synth","synth":{"adsr":{"a":0.01,"d":0.1,"s":0.5,"r":0.2},)"
       R"("lfos":[{"rate":1,"shape":"saw"},{"rate":1,"shape":"square"},{"rate":1,"shape":"random"}],)"
       R"("mod":{"lfo":[{},{},{}],"env":{"amp":1}}}}})"},
      {Tick, 0, 0, {}, false},
      {HostSet, 0, 0.3f},  // the same value again still counts as a host change
      {Tick, 0, 0, {}, true},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    const Step& s = steps[i];
    switch (s.op) {
      case HostSet:
        core.params.set(s.index, s.value);
        break;
      case EditorSet:
        core.params.set_from_editor(s.index, s.value);
        break;
      case EditorMessage:
        EXPECT_TRUE(handle(s.message).empty());
        break;
      case Tick: {
        const auto types = sent_types(handle(R"({"type":"tick"})"));
        const std::vector<std::string> expected = s.params_expected
                                                      ? std::vector<std::string>{"live", "params"}
                                                      : std::vector<std::string>{"live"};
        EXPECT_EQ(types, expected);
      }
    }
  }
}

TEST_F(ProtocolPage, ReadyBringsThePageUpToDateSoTheNextTickSendsOnlyLive) {
  core.params.set(0, 0.5f);
  handle(R"({"type":"ready"})");
  EXPECT_EQ(sent_types(handle(R"({"type":"tick"})")), std::vector<std::string>{"live"});
}

// --- "param" ----------------------------------------------------------------------------------

TEST_F(ProtocolPage, ParamSetsOnlyThePositionNamesWithNumbers) {
  struct Case {
    std::string_view message;
    std::array<float, 3> position;
  };
  const Case cases[] = {
      {R"({"type":"param","name":"position","value":0.25})", {0.25f, 0, 0}},
      {R"({"type":"param","name":"positionY","value":1})", {0, 1, 0}},
      {R"({"type":"param","name":"positionZ","value":-2.5e0})", {0, 0, 0}},  // clamped
      {R"({"type":"param","name":"positionZ","value":7})", {0, 0, 1}},       // clamped
      {R"({"type":"param","name":"positionX","value":0.5})", {0, 0, 0}},
      {R"({"type":"param","name":"position","value":"0.5"})", {0, 0, 0}},
      {R"({"type":"param","name":"position"})", {0, 0, 0}},
      {R"({"type":"param","name":3,"value":0.5})", {0, 0, 0}},
      {R"({"type":"param","value":0.5})", {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Core fresh;
    Page p;
    EXPECT_TRUE(p.handle(fresh, c.message).empty());
    EXPECT_EQ(fresh.params.position(), c.position);
  }
}

// --- "worklet" --------------------------------------------------------------------------------

TEST_F(ProtocolPage, WorkletNoteMessagesQueueCommands) {
  struct Case {
    std::string_view msg;
    std::vector<Command> commands;
  };
  const Case cases[] = {
      {R"({"type":"noteOn","note":60,"velocity":0.5})", {Command::note_on(60, 0.5f)}},
      {R"({"type":"noteOn","note":300})", {Command::note_on(255, 0.8f)}},
      {R"({"type":"noteOn","note":-3})", {Command::note_on(0, 0.8f)}},
      {R"({"type":"noteOn","note":60.9})", {Command::note_on(60, 0.8f)}},
      {R"({"type":"noteOn","note":-0.5,"velocity":1e0})", {Command::note_on(0, 1.0f)}},
      {R"({"type":"noteOn","note":64,"velocity":"loud"})", {Command::note_on(64, 0.8f)}},
      {R"({"type":"noteOn"})", {}},
      {R"({"type":"noteOn","note":"60"})", {}},
      {R"({"type":"noteOff","note":61.2})", {Command::note_off(61)}},
      {R"({"type":"noteOff","note":1e9})", {Command::note_off(255)}},
      {R"({"type":"noteOff"})", {}},
      {R"({"type":"allOff"})", {Command::all_off()}},
      {R"({"type":"control","value":1})", {}},
      {R"({"note":60})", {}},
      {R"("noteOn")", {}},
      {R"([{"type":"noteOn","note":60}])", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msg);
    const std::string message = R"({"type":"worklet","msg":)" + std::string(c.msg) + "}";
    EXPECT_TRUE(handle(message).empty());
    EXPECT_EQ(queued_commands(core), c.commands);
  }
  EXPECT_TRUE(handle(R"({"type":"worklet"})").empty());
  EXPECT_TRUE(queued_commands(core).empty());
}

TEST_F(ProtocolPage, WorkletSynthAppliesAWholeRecordOrNothing) {
  json record = synth::settings_to_json(synth::Settings{});
  record["adsr"]["a"] = 0.5;
  record["filter"]["type"] = "bandpass";
  EXPECT_TRUE(
      handle_json(json{{"type", "worklet"}, {"msg", {{"type", "synth"}, {"synth", record}}}})
          .empty());
  EXPECT_EQ(core.params.val(100), 0.5f);
  EXPECT_EQ(core.params.val(200), 3.0f) << "filter type";

  const std::uint32_t epoch = core.params.epoch();
  json broken = record;
  broken["adsr"]["a"] = 0.9;
  broken.erase("mod");
  json capitals = record;
  capitals["adsr"]["a"] = 0.9;
  capitals["filter"]["type"] = "LowPass";
  for (const json& bad : {broken, capitals, json("synth"), json(nullptr)}) {
    EXPECT_TRUE(handle_json(json{{"type", "worklet"}, {"msg", {{"type", "synth"}, {"synth", bad}}}})
                    .empty());
  }
  EXPECT_TRUE(handle(R"({"type":"worklet","msg":{"type":"synth"}})").empty());
  EXPECT_EQ(core.params.epoch(), epoch);
  EXPECT_EQ(core.params.val(100), 0.5f);
}

// --- "table" and "frame" ----------------------------------------------------------------------

TEST_F(ProtocolPage, TableReplacesTheWholeTableUnderItsName) {
  const std::vector<float> samples{0, 0.5f, 1, 0.5f, 0, -0.5f};
  const std::string message = R"({"type":"table","frameSize":2,"rows":3,"layers":1,"data":")" +
                              samples_text(samples) + R"("})";
  EXPECT_TRUE(handle(message).empty());
  EXPECT_EQ(core.tables.table_data(), (TableData{"pad", samples, 2, 3, 1}));
}

TEST_F(ProtocolPage, TableWithBadFieldsIsIgnoredAndAShapeMismatchAnswersError) {
  const TableData before = core.tables.table_data();
  const std::string six = samples_text({0, 1, 0, -1, 1, 1});
  for (std::string fields : {
           R"("frameSize":2048.0,"rows":1,"layers":1,"data":")" + six + '"',
           R"("frameSize":2e0,"rows":1,"layers":1,"data":")" + six + '"',
           R"("frameSize":-2,"rows":1,"layers":1,"data":")" + six + '"',
           R"("frameSize":"2","rows":1,"layers":1,"data":")" + six + '"',
           R"("rows":1,"layers":1,"data":")" + six + '"',
           R"("frameSize":2,"rows":1.5,"layers":1,"data":")" + six + '"',
           R"("frameSize":2,"rows":1,"layers":null,"data":")" + six + '"',
           std::string(R"("frameSize":2,"rows":1,"layers":1,"data":"AAAA*A==")"),
           std::string(R"("frameSize":2,"rows":1,"layers":1,"data":[0,1])"),
           std::string(R"("frameSize":2,"rows":1,"layers":1)"),
       }) {
    SCOPED_TRACE(fields);
    EXPECT_TRUE(handle(R"({"type":"table",)" + fields + "}").empty());
  }
  EXPECT_EQ(core.tables.table_data(), before);

  const auto actions =
      handle(R"({"type":"table","frameSize":4,"rows":1,"layers":1,"data":")" + six + R"("})");
  EXPECT_EQ(sent_texts(actions),
            std::vector<std::string>{
                R"({"message":"That table's frames don't fit its shape.","type":"error"})"});
  EXPECT_EQ(core.tables.table_data(), before);
}

TEST_F(ProtocolPage, FrameReplacesOneFrameAndDropsOnesThatDoNotFit) {
  const std::vector<float> frame{0.5f, 0.25f, 0, -0.25f};
  EXPECT_TRUE(
      handle(R"({"type":"frame","index":1,"data":")" + samples_text(frame) + R"("})").empty());
  EXPECT_EQ(core.tables.table_data().data,
            (std::vector<float>{0, 1, 0, -1, 0.5f, 0.25f, 0, -0.25f}));

  const TableData before = core.tables.table_data();
  for (std::string message : {
           R"({"type":"frame","index":2,"data":")" + samples_text(frame) + R"("})",
           R"({"type":"frame","index":0,"data":")" + samples_text({1, 2, 3}) + R"("})",
           R"({"type":"frame","index":0.0,"data":")" + samples_text(frame) + R"("})",
           R"({"type":"frame","index":-0,"data":")" + samples_text(frame) + R"("})",
           R"({"type":"frame","index":18446744073709551615,"data":")" + samples_text(frame) +
               R"("})",
           std::string(R"({"type":"frame","index":0,"data":"AAAA"})"),
           std::string(R"({"type":"frame","index":0})"),
       }) {
    SCOPED_TRACE(message);
    EXPECT_TRUE(handle(message).empty());
  }
  EXPECT_EQ(core.tables.table_data(), before);
}

// Long sample texts skip the JSON parser's character-by-character string reading; the result must
// be exactly that of an ordinary parse, whatever surrounds or escapes them.
TEST_F(ProtocolPage, LongStringsParseAlikeWhateverSurroundsThem) {
  std::vector<float> samples(1024);  // 4 KiB of samples, well past the fast route's threshold
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(0.37f * i);
  const std::string data = samples_text(samples);
  ASSERT_NE(data.find('/'), std::string::npos);
  std::string slash_escaped;
  for (char c : data) slash_escaped += c == '/' ? std::string("\\/") : std::string(1, c);
  const std::string shape = R"("frameSize":512,"rows":2,"layers":1)";
  struct Case {
    std::string what;
    std::string message;
    bool installs;
  };
  const Case cases[] = {
      {"plain", R"({"type":"table",)" + shape + R"(,"data":")" + data + R"("})", true},
      {"spaced, data first",
       " {\n \"data\" :\t\"" + data + "\" ,\r\n\"type\":\"table\"," + shape + "}\n", true},
      {"slashes escaped", R"({"type":"table",)" + shape + R"(,"data":")" + slash_escaped + R"("})",
       true},
      {"a NUL escape elsewhere",
       R"({"type":"table","note":"\u0000",)" + shape + R"(,"data":")" + data + R"("})", true},
      {"trailing comma", R"({"type":"table",)" + shape + R"(,"data":")" + data + R"(",})", false},
      {"duplicate key", R"({"type":"table",)" + shape + R"(,"data":")" + data + R"(","rows":2})",
       false},
      {"unterminated", R"({"type":"table",)" + shape + R"(,"data":")" + data, false},
      {"long text as a key", R"({"type":"table",)" + shape + R"(,")" + data + R"(":"x"})", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Core fresh;
    Page p;
    EXPECT_TRUE(p.handle(fresh, c.message).empty());
    EXPECT_EQ(fresh.tables.table_data().data == samples, c.installs);
  }

  const std::string long_name(3000, 'n');
  EXPECT_TRUE(handle(R"({"type":"meta","name":")" + long_name + R"("})").empty());
  EXPECT_EQ(core.tables.table_data().name, long_name);
  EXPECT_TRUE(handle(R"({"type":"meta","name":")" + long_name + R"(\u00e9"})").empty());
  EXPECT_EQ(core.tables.table_data().name, long_name + "\xc3\xa9");
}

// --- "meta", "pick", "open", "zoom" -----------------------------------------------------------

TEST_F(ProtocolPage, MetaRenamesWithTextOnly) {
  EXPECT_TRUE(handle(R"({"type":"meta","name":7})").empty());
  EXPECT_EQ(core.tables.table_data().name, "pad");
  EXPECT_TRUE(handle(R"({"type":"meta","name":"Glass \u00e9"})").empty());
  EXPECT_EQ(core.tables.table_data().name, "Glass \xc3\xa9");
  EXPECT_TRUE(handle(R"({"type":"meta","name":""})").empty());
  EXPECT_EQ(core.tables.table_data().name, "");
}

TEST_F(ProtocolPage, PickOpenAndZoomBecomeNativeActions) {
  using Pick = Action::Pick;
  struct Case {
    std::string_view message;
    std::vector<Action> actions;
  };
  const Case cases[] = {
      {R"({"type":"pick"})", {{Pick{{}, nullptr, false}}}},
      {R"({"type":"pick","id":7,"extensions":["wav",3,"wt"],"multiple":true})",
       {{Pick{{"wav", "wt"}, 7, true}}}},
      {R"({"type":"pick","id":{"k":[1]},"extensions":"wav","multiple":1})",
       {{Pick{{}, json{{"k", {1}}}, false}}}},
      {R"({"type":"open"})", {{Action::Open{}}}},
      {R"({"type":"zoom","scale":2})", {{Action::Zoom{2.0}}}},
      {R"({"type":"zoom","scale":0.5})", {{Action::Zoom{0.5}}}},
      {R"({"type":"zoom","scale":1.25})", {{Action::Zoom{1.25}}}},
      {R"({"type":"zoom","scale":0.49})", {}},
      {R"({"type":"zoom","scale":2.01})", {}},
      {R"({"type":"zoom","scale":"1"})", {}},
      {R"({"type":"zoom","scale":null})", {}},
      {R"({"type":"zoom"})", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(handle(c.message), c.actions);
  }
}

// --- open_path and table ----------------------------------------------------------------------

// A 16-bit mono WAV of `samples` samples (a ramp), no tags.
std::string pcm_wav(std::size_t samples) {
  std::string out;
  const auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
  };
  const auto u16 = [&](std::uint16_t v) {
    out += static_cast<char>(v);
    out += static_cast<char>(v >> 8);
  };
  out += "RIFF";
  u32(static_cast<std::uint32_t>(36 + 2 * samples));
  out += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(1);
  u32(48000);
  u32(96000);
  u16(2);
  u16(16);
  out += "data";
  u32(static_cast<std::uint32_t>(2 * samples));
  for (std::size_t i = 0; i < samples; ++i) u16(static_cast<std::uint16_t>(i * 8));
  return out;
}

TEST_F(ProtocolPage, OpenPathInstallsAReadableFileAndReportsFailures) {
  const auto dir =
      std::filesystem::temp_directory_path() /
      ("quillory_protocol_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
       std::to_string(reinterpret_cast<std::uintptr_t>(this)));
  std::filesystem::create_directories(dir);
  const auto file = dir / "Bright Saw.wav";
  std::ofstream(file, std::ios::binary) << pcm_wav(4096);

  const std::string message = open_path(core, file);
  const json parsed = json::parse(message);
  EXPECT_EQ(parsed["type"], "table");
  EXPECT_EQ(parsed["name"], "Bright Saw");
  EXPECT_EQ(parsed["table"]["frameSize"], 2048);
  EXPECT_EQ(message, table(core));
  const TableData installed = core.tables.table_data();
  EXPECT_EQ(installed.name, "Bright Saw");
  EXPECT_EQ(installed.data.size(), 4096u);
  EXPECT_EQ(*decode_samples(parsed["table"]["data"]), installed.data);

  for (const auto& bad : {dir / "missing.wav", dir}) {
    SCOPED_TRACE(bad.string());
    const json e = json::parse(open_path(core, bad));
    EXPECT_EQ(e["type"], "error");
    EXPECT_TRUE(e["message"].get<std::string>().starts_with("Couldn't read the file: "))
        << e["message"];
  }
  std::ofstream(dir / "short.wav", std::ios::binary) << pcm_wav(3000);
  EXPECT_EQ(json::parse(open_path(core, dir / "short.wav"))["message"],
            "This WAV doesn't say its frame size, and its length isn't a multiple of 2048. "
            "Export it from Quillory, or with a clm tag.");
  EXPECT_EQ(core.tables.table_data(), installed);
  std::filesystem::remove_all(dir);
}

TEST_F(ProtocolPage, TableMessageDescribesTheCurrentTable) {
  EXPECT_EQ(table(core), R"({"name":"pad","table":{"data":")" +
                             samples_text({0, 1, 0, -1, 1, 1, -1, -1}) +
                             R"(","frameSize":4,"layers":1,"rows":1},"type":"table"})");
}

}  // namespace
}  // namespace quillory::core
