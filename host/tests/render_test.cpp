// quillory-host against the real module: rendering a score, naming parameters, and the command
// line end to end.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "host/render.hpp"
#include "host/wav.hpp"

namespace quillory::host {
namespace {

Module open_module() {
  auto module = Module::open(QUILLORY_CLAP_PATH);
  if (!module) {
    ADD_FAILURE() << module.error();
    std::abort();
  }
  return std::move(*module);
}

TEST(Render, ScoreSoundsInBothChannelsAndEndsInSilence) {
  Module module = open_module();
  auto score = parse_score("note 0 1 60\nnote 0.5 0.5 67 1.0\n");
  ASSERT_TRUE(score);
  RenderOptions options{
      .score = *score, .params = {}, .sample_rate = 44100.0, .block = 100, .seconds = 3.0};
  auto rendered = render(module, options);
  ASSERT_TRUE(rendered) << rendered.error();
  const auto& s = rendered->interleaved;
  ASSERT_EQ(s.size(), 2u * 44100u * 3u);
  float peak = 0.0f;
  for (std::size_t i = 0; i < s.size(); i += 2) {
    ASSERT_TRUE(std::isfinite(s[i]));
    ASSERT_EQ(s[i], s[i + 1]) << "mono signal copied to both channels";
    peak = std::max(peak, std::fabs(s[i]));
  }
  EXPECT_GT(peak, 0.01f);
  // The notes end at 1 s (0.5 s per beat at 120 bpm); the last half second is silent.
  for (std::size_t i = s.size() - 44100; i < s.size(); ++i) ASSERT_EQ(s[i], 0.0f);
  EXPECT_GT(rendered->realtime_factor(), 0.0);
}

TEST(Render, ParametersByIdOrNameAndUnknownOnesFail) {
  Module module = open_module();
  Host host;
  auto instance = Instance::create(module, host);
  ASSERT_TRUE(instance);
  EXPECT_EQ(find_param(*instance, "201"), 201u);
  EXPECT_EQ(find_param(*instance, "Filter Cutoff"), 201u);
  EXPECT_EQ(find_param(*instance, "filter cutoff"), 201u);
  EXPECT_EQ(find_param(*instance, "Filter"), std::nullopt);
  EXPECT_EQ(find_param(*instance, "9999"), std::nullopt);

  auto score = parse_score("param 0 0.5 No Such Knob\n");
  ASSERT_TRUE(score);
  auto rendered = render(module, {.score = *score, .params = {}, .seconds = 0.1});
  ASSERT_FALSE(rendered);
  EXPECT_EQ(rendered.error(), "Unknown parameter: No Such Knob");
}

TEST(Render, CommandLineWritesAFloatWavAndReportsSpeed) {
  // One folder per process: test runs of several build trees may share the machine.
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quillory_host_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto score = dir / "phrase.txt";
  const auto wav = dir / "out.wav";
  const auto log = dir / "stdout.txt";
  std::ofstream(score) << "note 0 0.5 57\n";
  const std::string command = std::string(QUILLORY_HOST_PATH) + " render " + QUILLORY_CLAP_PATH +
                              " " + score.string() + " " + wav.string() +
                              " --rate 32000 --block 64 --seconds 1 --param \"Filter Type=1\" > " +
                              log.string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  auto bytes = read_file(wav.string());
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 44u + 32000u * 2u * 4u);
  std::ostringstream out;
  out << std::ifstream(log).rdbuf();
  EXPECT_NE(out.str().find("real-time factor: "), std::string::npos) << out.str();

  EXPECT_NE(std::system((std::string(QUILLORY_HOST_PATH) + " render 2>/dev/null").c_str()), 0);
  EXPECT_NE(std::system(
                (std::string(QUILLORY_HOST_PATH) + " info /nonexistent.clap 2>/dev/null").c_str()),
            0);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillory::host

namespace quillory::host {
namespace {

TEST(Render, DemoPhraseSoundsWithoutNaN) {
  const char* source = std::getenv("QUILLORY_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  auto text = read_file(std::string(source) + "/host/demo/phrase.txt");
  ASSERT_TRUE(text) << text.error();
  auto score =
      parse_score(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()));
  ASSERT_TRUE(score) << score.error();
  Module module = open_module();
  auto rendered = render(module, {.score = *score});
  ASSERT_TRUE(rendered) << rendered.error();
  float peak = 0.0f;
  for (float s : rendered->interleaved) {
    ASSERT_TRUE(std::isfinite(s));
    peak = std::max(peak, std::fabs(s));
  }
  EXPECT_GT(peak, 0.05f);
  EXPECT_LE(peak, 4.0f);
}

}  // namespace
}  // namespace quillory::host
