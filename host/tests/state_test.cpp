// quillory-host's saved states and wavetable files, end to end through the command line and the
// real module: --table plays a WAV or Surge file, --save-state and --state carry an instance
// exactly, and bad files fail with a message and a non-zero exit.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/params.hpp"
#include "core/state.hpp"
#include "core/tables.hpp"
#include "host/wav.hpp"
#include "wav_builder.hpp"

namespace quillory::host {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;

// A scratch folder for one test, removed afterwards; one per process, since test runs of several
// build trees may share the machine.
struct Scratch {
  explicit Scratch(const char* name)
      : dir(fs::temp_directory_path() / (name + ("_" + std::to_string(::getpid())))) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "note.txt") << "note 0 0.5 45\n";
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string path(const char* name) const { return (dir / name).string(); }
  fs::path dir;
};

// Runs quillory-host render on the one-note score, with extra flags; gives the exit status and
// fills `stderr_text` with what it printed on standard error.
int render_cli(const Scratch& scratch, const std::string& out, const std::string& flags,
               std::string* stderr_text = nullptr) {
  const std::string err = scratch.path("stderr.txt");
  const std::string command = std::string(QUILLORY_HOST_PATH) + " render " + QUILLORY_CLAP_PATH +
                              " " + scratch.path("note.txt") + " " + out +
                              " --seconds 0.5 --block 100 " + flags + " > /dev/null 2> " + err;
  const int status = std::system(command.c_str());
  if (stderr_text != nullptr) {
    std::ostringstream text;
    text << std::ifstream(err).rdbuf();
    *stderr_text = text.str();
  }
  return status;
}

std::vector<float> samples_of(const std::string& wav_path) {
  auto bytes = read_file(wav_path);
  EXPECT_TRUE(bytes) << bytes.error();
  std::vector<float> samples;
  for (std::size_t i = 44; bytes && i + 4 <= bytes->size(); i += 4) {
    std::uint32_t bits = 0;
    for (int b = 3; b >= 0; --b) bits = bits << 8 | (*bytes)[i + static_cast<std::size_t>(b)];
    samples.push_back(std::bit_cast<float>(bits));
  }
  return samples;
}

float peak(const std::vector<float>& samples) {
  float p = 0.0f;
  for (float s : samples) p = std::max(p, std::fabs(s));
  return p;
}

void write(const std::string& path, const Bytes& bytes) {
  ASSERT_TRUE(write_file(path, bytes));
}

// One cycle of a band-rich wave (a rising ramp), `n` samples, as 16-bit PCM or float.
Bytes ramp_i16(std::size_t frames, std::size_t n) {
  Bytes b;
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t i = 0; i < n; ++i) {
      const double v = 2.0 * static_cast<double>(i) / static_cast<double>(n) - 1.0;
      testing::put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 30000)));
    }
  }
  return b;
}
Bytes ramp_f32(std::size_t frames, std::size_t n) {
  Bytes b;
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t i = 0; i < n; ++i) {
      const float v = 2.0f * static_cast<float>(i) / static_cast<float>(n) - 1.0f;
      testing::put32(b, std::bit_cast<std::uint32_t>(v * 0.9f));
    }
  }
  return b;
}

// Both kinds of wavetable file play through --table, and what plays is the file, not the
// built-in table.
TEST(HostState, TableFlagPlaysWavAndSurgeFiles) {
  Scratch scratch("quillory_host_table");
  write(scratch.path("pad.wav"), testing::mono16().data(ramp_i16(4, 2048)).bytes);
  write(scratch.path("pad.wt"), testing::surge_file(256, 4, 0, ramp_f32(4, 256)));

  ASSERT_EQ(render_cli(scratch, scratch.path("builtin.wav"), ""), 0);
  const std::vector<float> builtin = samples_of(scratch.path("builtin.wav"));
  for (const char* file : {"pad.wav", "pad.wt"}) {
    SCOPED_TRACE(file);
    const std::string out = scratch.path("out.wav");
    std::string err;
    ASSERT_EQ(render_cli(scratch, out, "--table " + scratch.path(file), &err), 0) << err;
    const std::vector<float> samples = samples_of(out);
    ASSERT_EQ(samples.size(), builtin.size());
    EXPECT_GT(peak(samples), 0.05f);
    for (float s : samples) ASSERT_TRUE(std::isfinite(s));
    EXPECT_NE(samples, builtin);
  }
}

// A state saved after one render restores the instance exactly: the second render, from the
// state alone, is the same audio to the bit. A table file given after a state keeps the state's
// parameter values.
TEST(HostState, SavedStateRestoresTheInstanceExactly) {
  Scratch scratch("quillory_host_state");
  write(scratch.path("pad.wt"), testing::surge_file(256, 4, 0, ramp_f32(4, 256)));
  write(scratch.path("other.wav"), testing::mono16().data(ramp_i16(2, 2048)).bytes);

  std::string err;
  ASSERT_EQ(render_cli(scratch, scratch.path("a.wav"),
                       "--table " + scratch.path("pad.wt") + " --param \"Filter Type=1\"" +
                           " --save-state " + scratch.path("a.json"),
                       &err),
            0)
      << err;
  ASSERT_EQ(render_cli(scratch, scratch.path("b.wav"), "--state " + scratch.path("a.json"), &err),
            0)
      << err;
  EXPECT_EQ(samples_of(scratch.path("b.wav")), samples_of(scratch.path("a.wav")));

  ASSERT_EQ(render_cli(scratch, scratch.path("c.wav"),
                       "--state " + scratch.path("a.json") + " --table " +
                           scratch.path("other.wav") + " --save-state " + scratch.path("c.json"),
                       &err),
            0)
      << err;
  auto read_state = [](const std::string& path, core::ParamValues& values, core::Tables& tables) {
    auto bytes = read_file(path);
    ASSERT_TRUE(bytes);
    auto loaded =
        core::load(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                   values, tables);
    ASSERT_TRUE(loaded) << loaded.error();
  };
  core::ParamValues a_values, c_values;
  core::Tables a_tables(core::default_table()), c_tables(core::default_table());
  read_state(scratch.path("a.json"), a_values, a_tables);
  read_state(scratch.path("c.json"), c_values, c_tables);
  for (std::size_t i = 0; i < core::param_count; ++i) {
    EXPECT_EQ(c_values.get(i), a_values.get(i)) << core::param_table[i].name;
  }
  const auto filter_type =
      std::find_if(core::param_table.begin(), core::param_table.end(),
                   [](const core::ParamDef& row) { return row.name == "Filter Type"; });
  ASSERT_NE(filter_type, core::param_table.end());
  EXPECT_EQ(a_values.get(static_cast<std::size_t>(filter_type - core::param_table.begin())), 1.0f);
  EXPECT_EQ(a_tables.table_data().name, "pad");
  EXPECT_EQ(c_tables.table_data().name, "other");
  EXPECT_EQ(c_tables.table_data().frame_size, 2048u);
}

// Files that cannot be used stop the host with a message naming the problem and a non-zero exit,
// and no audio is written.
TEST(HostState, BadFilesFailWithAMessage) {
  Scratch scratch("quillory_host_bad");
  write(scratch.path("garbage.json"), testing::text_bytes("{\"version\":1,"));
  write(scratch.path("garbage.wav"), testing::text_bytes("not a wave"));
  struct Case {
    std::string flags;
    std::string message;
  };
  const Case cases[] = {
      {"--state " + scratch.path("missing.json"), "Couldn't open"},
      {"--state " + scratch.path("garbage.json"), "couldn't load the state"},
      {"--table " + scratch.path("missing.wav"), "Couldn't read the file"},
      {"--table " + scratch.path("garbage.wav"), "garbage.wav"},
      {"--save-state " + scratch.path("no/such/dir/s.json"), "Couldn't write"},
      {"--table", "usage"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    fs::remove(scratch.path("out.wav"));
    std::string err;
    EXPECT_NE(render_cli(scratch, scratch.path("out.wav"), c.flags, &err), 0);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    if (!c.flags.starts_with("--save-state")) {
      EXPECT_FALSE(fs::exists(scratch.path("out.wav")));
    }
  }
}

}  // namespace
}  // namespace quillory::host
