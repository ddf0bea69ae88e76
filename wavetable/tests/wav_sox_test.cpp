// Decodes WAV files written by sox and compares them with sox's own conversion of the same files
// to raw 32-bit float, mixed to mono by the mean of the channels.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wavetable/wav.hpp"

namespace quillory::wavetable::wav {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool run(const std::string& command) {
  return std::system((command + " 2>&1").c_str()) == 0;
}

struct SoxCase {
  int bits;
  const char* encoding;
  int channels;
  // sox carries samples as 32-bit integers inside: its float output of a 32-bit integer or 64-bit
  // float file is rounded its own way.
  float tolerance = 0.0f;
};

TEST(WavSox, DecodesWhatSoxWritesAsSoxConvertsIt) {
  if (!run("sox --version > /dev/null")) GTEST_SKIP() << "sox is not installed";
  const fs::path dir = fs::temp_directory_path() / ("quillory_sox_" + std::to_string(::getpid()));
  fs::create_directories(dir);

  const SoxCase cases[] = {
      {8, "unsigned-integer", 1},          {8, "unsigned-integer", 2}, {16, "signed-integer", 1},
      {16, "signed-integer", 2},           {24, "signed-integer", 1},  {24, "signed-integer", 4},
      {32, "signed-integer", 2, 0x1p-24f}, {32, "floating-point", 1},  {32, "floating-point", 3},
      {64, "floating-point", 2, 0x1p-24f},
  };
  for (const auto& c : cases) {
    const std::string what =
        std::to_string(c.bits) + "-bit " + c.encoding + " x" + std::to_string(c.channels);
    const fs::path wav = dir / "table.wav";
    const fs::path raw = dir / "table.raw";
    // A different wave on each channel, near full scale, so that every byte of a sample matters.
    ASSERT_TRUE(run("sox -D -r 44100 -c " + std::to_string(c.channels) + " -n -b " +
                    std::to_string(c.bits) + " -e " + c.encoding + " " + wav.string() +
                    " synth 2048s sine 300 square 520 sawtooth 700 triangle 900 vol 0.97"))
        << what;
    ASSERT_TRUE(run("sox -D " + wav.string() + " -t raw -e floating-point -b 32 " + raw.string()))
        << what;

    const auto decoded = decode(read_all(wav));
    ASSERT_TRUE(decoded) << what << ": " << decoded.error().display();
    EXPECT_EQ(decoded->channels, c.channels) << what;
    EXPECT_EQ(decoded->bits_per_sample, c.bits) << what;
    EXPECT_EQ(decoded->sample_rate, 44100u) << what;

    const auto raw_bytes = read_all(raw);
    const std::size_t count = raw_bytes.size() / 4 / c.channels;
    ASSERT_EQ(decoded->samples.size(), count) << what;
    ASSERT_EQ(count, 2048u) << what;
    const float scale = 1.0f / float(c.channels);
    for (std::size_t i = 0; i < count; ++i) {
      float sum = -0.0f;
      for (int ch = 0; ch < c.channels; ++ch) {
        std::uint32_t bits = 0;
        for (int b = 3; b >= 0; --b) bits = bits << 8 | raw_bytes[(i * c.channels + ch) * 4 + b];
        sum += std::bit_cast<float>(bits);
      }
      if (c.tolerance == 0.0f) {
        ASSERT_EQ(decoded->samples[i], sum * scale) << what << ", sample " << i;
      } else {
        ASSERT_NEAR(decoded->samples[i], sum * scale, c.tolerance) << what << ", sample " << i;
      }
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillory::wavetable::wav
