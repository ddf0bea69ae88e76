// The built-in table: its record, its normalisation and the shape of each of its five waves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>
#include <vector>

#include "core/default_table.hpp"
#include "core/tables.hpp"

namespace quillory::core {
namespace {

constexpr std::size_t kN = 2048;

std::span<const float> frame(const TableData& t, std::size_t f) {
  return std::span(t.data).subspan(f * kN, kN);
}

TEST(DefaultTable, RecordShape) {
  const auto t = default_table();
  EXPECT_EQ(t.name, "Built-in");
  EXPECT_EQ(t.data.size(), 5 * kN);
  EXPECT_EQ(t.frame_size, kN);
  EXPECT_EQ(t.rows, 1u);
  EXPECT_EQ(t.layers, 1u);
}

TEST(DefaultTable, EveryFrameHasPeakOneAndNoOffset) {
  const auto t = default_table();
  for (std::size_t f = 0; f < 5; ++f) {
    const auto s = frame(t, f);
    float peak = 0;
    for (float v : s) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 1.0f, 1e-6f) << "frame " << f;
    EXPECT_NEAR(std::accumulate(s.begin(), s.end(), 0.0) / kN, 0.0, 1e-4) << "frame " << f;
  }
}

TEST(DefaultTable, WaveShapes) {
  struct Case {
    std::size_t frame, index;
    float value, tolerance;
  };
  const Case cases[] = {
      // sine
      {0, 0, 0.0f, 1e-6f},
      {0, 512, 1.0f, 1e-6f},
      {0, 1024, 0.0f, 1e-6f},
      {0, 1536, -1.0f, 1e-6f},
      // triangle
      {1, 0, 0.0f, 1e-5f},
      {1, 256, 0.5f, 1e-3f},
      {1, 512, 1.0f, 1e-6f},
      {1, 1536, -1.0f, 1e-6f},
      // sawtooth, falling from +1 just after 0 to -1 at the end
      {2, 0, 0.0f, 1e-5f},
      {2, 1, 1.0f, 1e-6f},
      {2, 512, 0.424f, 1e-3f},
      {2, 2047, -1.0f, 1e-5f},
      // square, with its edge ripple at the extremes
      {3, 0, 0.0f, 1e-5f},
      {3, 1, 1.0f, 1e-6f},
      {3, 512, 0.848f, 1e-3f},
      {3, 1024, 0.0f, 1e-4f},
      {3, 2047, -1.0f, 1e-5f},
      // quarter-cycle pulse centred on 0
      {4, 0, 0.892f, 1e-3f},
      {4, 255, 1.0f, 1e-5f},
      {4, 1793, 1.0f, 1e-5f},
      {4, 512, -0.297f, 1e-3f},
      {4, 1024, -0.297f, 1e-3f},
      {4, 1536, -0.297f, 1e-3f},
  };
  const auto t = default_table();
  for (const auto& c : cases)
    EXPECT_NEAR(frame(t, c.frame)[c.index], c.value, c.tolerance)
        << "frame " << c.frame << " sample " << c.index;
}

TEST(DefaultTable, ExtremesLieWhereTheWaveTurns) {
  struct Case {
    std::size_t frame;
    std::vector<std::size_t> max_at, min_at;  // any of these; min_at empty: not checked
  };
  const Case cases[] = {
      {0, {512}, {1536}},
      {1, {512}, {1536}},
      {2, {1}, {2047}},
      {3, {1, 1023}, {1025, 2047}},  // the ripple peaks beside both edges   {4, {255, 1793}, {}},
  };
  const auto t = default_table();
  for (const auto& c : cases) {
    const auto s = frame(t, c.frame);
    const auto hi = static_cast<std::size_t>(std::max_element(s.begin(), s.end()) - s.begin());
    const auto lo = static_cast<std::size_t>(std::min_element(s.begin(), s.end()) - s.begin());
    EXPECT_NE(std::find(c.max_at.begin(), c.max_at.end(), hi), c.max_at.end())
        << "frame " << c.frame << " max at " << hi;
    EXPECT_TRUE(c.min_at.empty() ||
                std::find(c.min_at.begin(), c.min_at.end(), lo) != c.min_at.end())
        << "frame " << c.frame << " min at " << lo;
  }
}

TEST(DefaultTable, SquareHalvesHaveOppositeSigns) {
  const auto t = default_table();
  const auto square = frame(t, 3);
  for (std::size_t n = 1; n < 1024; ++n) ASSERT_GT(square[n], 0.0f) << n;
  for (std::size_t n = 1025; n < kN; ++n) ASSERT_LT(square[n], 0.0f) << n;
}

TEST(DefaultTable, SameOnEveryCallAndCallersGetTheirOwnCopy) {
  auto first = default_table();
  const auto kept = first;
  first.data[7] = 42.0f;
  first.name = "changed";
  EXPECT_EQ(default_table(), kept);
}

TEST(DefaultTable, BuildsAFiveColumnPlaybackTable) {
  Tables tables(default_table());
  const auto t = tables.current();
  EXPECT_EQ(t->frame_count(), 5u);
  EXPECT_EQ(t->cols(), 5u);
  EXPECT_EQ(t->frame_size(), kN);
  EXPECT_EQ(t->levels(), 11u);
}

}  // namespace
}  // namespace quillory::core
