// Playback tables: shapes refused and accepted, level layout, non-finite samples, frame
// replacement, mip level choice, position weights and the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "synth/table.hpp"
#include "wavetable/dsp.hpp"

namespace quillory::synth {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();

// Level builder that skips the transforms: level sample j of a frame is frame[0] + j, laid out
// with the real level lengths. Lets layout, mip choice and reader tests use large frames cheaply.
std::vector<float> ramp_levels(std::span<const float> frame, std::size_t levels) {
  std::vector<float> out;
  for (std::size_t i = 0; i < levels; ++i)
    for (std::size_t j = 0; j < wavetable::mip_length(frame.size(), i); ++j)
      out.push_back(frame[0] + static_cast<float>(j));
  return out;
}

// `count` frames of size n, frame f filled with the value f.
std::vector<float> numbered_frames(std::size_t count, std::size_t n) {
  std::vector<float> flat(count * n);
  for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = static_cast<float>(i / n);
  return flat;
}

Table ramp_table(std::size_t count, std::size_t n, std::size_t rows = 1, std::size_t layers = 1) {
  return *Table::from_flat(numbered_frames(count, n), n, rows, layers, ramp_levels);
}

TEST(TableShape, CreateAcceptsOnlyWholeGrids) {
  struct Case {
    const char* what;
    std::vector<std::size_t> lengths;  // one entry per frame
    std::size_t rows, layers;
    std::size_t cols;  // 0: refused
  };
  const auto frames = [](std::size_t count, std::size_t n) {
    return std::vector<std::size_t>(count, n);
  };
  const Case cases[] = {
      {"no frames", {}, 1, 1, 0},
      {"frames of length 0", frames(2, 0), 1, 1, 0},
      {"frames of length 1", frames(2, 1), 1, 1, 0},
      {"mismatched lengths", {4, 4, 5}, 1, 1, 0},
      {"rows and layers 0 count as 1", frames(24, 4), 0, 0, 24},
      {"4 rows 2 layers", frames(24, 4), 4, 2, 3},
      {"5 rows do not divide", frames(24, 4), 5, 1, 0},
      {"shortest frames", frames(3, 2), 3, 1, 1},
      {"rows x layers overflows", frames(4, 4), kHuge, 2, 0},
      {"rows x layers wraps to a divisor", frames(4, 4), std::size_t{1} << 63, 2, 0},
      {"huge rows", frames(4, 4), kHuge, 1, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<float>> list;
    for (std::size_t n : c.lengths) list.emplace_back(n, 0.25f);
    const auto t = Table::create(list, c.rows, c.layers);
    ASSERT_EQ(t.has_value(), c.cols != 0) << c.what;
    if (!t) continue;
    EXPECT_EQ(t->cols(), c.cols) << c.what;
    EXPECT_EQ(t->rows(), std::max<std::size_t>(c.rows, 1)) << c.what;
    EXPECT_EQ(t->layers(), std::max<std::size_t>(c.layers, 1)) << c.what;
    EXPECT_EQ(t->frame_count(), c.lengths.size()) << c.what;
  }
}

TEST(TableShape, FromFlatCutsWholeFrames) {
  struct Case {
    std::size_t samples, frame_size;
    std::size_t frames;  // 0: refused
  };
  const Case cases[] = {{4096, 2048, 2}, {4096, 3000, 0}, {4096, 0, 0},   {0, 2048, 0},
                        {4096, 1, 0},    {4096, 4096, 1}, {4096, 4095, 0}};
  for (const auto& c : cases) {
    const std::vector<float> flat(c.samples, 0.5f);
    const auto t = Table::from_flat(flat, c.frame_size, 1, 1, ramp_levels);
    ASSERT_EQ(t.has_value(), c.frames != 0) << c.samples << " / " << c.frame_size;
    if (t) {
      EXPECT_EQ(t->frame_count(), c.frames);
    }
  }
}

TEST(TableShape, FrameOrderFollowsTheFlatSamples) {
  const auto t = ramp_table(6, 16, 3, 1);
  ASSERT_EQ(t.cols(), 2u);
  for (std::size_t f = 0; f < 6; ++f) EXPECT_EQ(t.level(f, 0)[0], static_cast<float>(f));
}

TEST(TableLayout, LevelCountsLengthsAndOffsets) {
  struct Case {
    std::size_t n;
    std::vector<std::size_t> offsets;
    std::size_t stride;
  };
  const Case cases[] = {
      {2048, {0, 2048, 4096, 5120, 5632, 5888, 6016, 6080, 6112, 6128, 6136}, 6144},
      {600, {0, 600, 1112, 1368, 1496, 1560, 1592, 1608, 1616}, 1624},
      {2, {0}, 8},
  };
  for (const auto& c : cases) {
    const auto t = ramp_table(1, c.n);
    EXPECT_EQ(t.levels(), c.offsets.size()) << c.n;
    EXPECT_EQ(std::vector<std::size_t>(t.offsets().begin(), t.offsets().end()), c.offsets) << c.n;
    for (std::size_t i = 0; i < t.levels(); ++i)
      EXPECT_EQ(t.lengths()[i], wavetable::mip_length(c.n, i)) << c.n << " level " << i;
    EXPECT_EQ(t.frame_stride(), c.stride) << c.n;
  }
}

TEST(TableLevels, HoldTheFramesMipLevels) {
  std::vector<float> flat(3 * 16);
  for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = std::sin(0.7f * static_cast<float>(i));
  const auto t = Table::from_flat(flat, 16, 1, 1);
  ASSERT_TRUE(t);
  for (std::size_t f = 0; f < 3; ++f) {
    const auto expected = wavetable::mipmaps(std::span(flat).subspan(f * 16, 16), t->levels());
    ASSERT_EQ(expected.size(), t->frame_stride());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), t->frame_data(f))) << "frame " << f;
  }
}

TEST(TableLevels, NonFiniteSamplesReadAsZero) {
  for (const float bad : {kNaN, kInf, -kInf}) {
    std::vector<float> flat(2 * 8, 0.5f);
    flat[3] = bad;  // frame 0 only
    const auto t = Table::from_flat(flat, 8, 1, 1);
    ASSERT_TRUE(t) << bad;
    for (std::size_t f = 0; f < 2; ++f)
      for (std::size_t i = 0; i < t->frame_stride(); ++i)
        ASSERT_TRUE(std::isfinite(t->frame_data(f)[i])) << bad << " frame " << f << " at " << i;
    EXPECT_NEAR(t->level(1, 0)[0], 0.5f, 1e-5f);  // the clean frame is untouched
  }
}

TEST(TableLevels, MipsReplacesEachNonFiniteLevelSample) {
  // A level builder is the only way to see single non-finite samples survive the transforms.
  const LevelBuilder dirty = [](std::span<const float>, std::size_t) {
    return std::vector<float>{1.0f, kNaN, 2.0f, kInf, -kInf, 3.0f, -0.0f, 4.0f};
  };
  const auto t = Table::from_flat(std::vector<float>{1.0f, 2.0f}, 2, 1, 1, dirty);
  ASSERT_TRUE(t);
  const std::vector<float> expected{1.0f, 0.0f, 2.0f, 0.0f, 0.0f, 3.0f, -0.0f, 4.0f};
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), t->frame_data(0)));
}

TEST(TableLevels, RefusesLevelsOfTheWrongLength) {
  const LevelBuilder short_levels = [](std::span<const float>, std::size_t) {
    return std::vector<float>(7);
  };
  EXPECT_FALSE(Table::from_flat(std::vector<float>{1.0f, 2.0f}, 2, 1, 1, short_levels));
}

TEST(TableWithFrame, RefusesIndexPastTheEndAndWrongLength) {
  const auto t = ramp_table(4, 8);
  EXPECT_FALSE(t.with_frame(4, std::vector<float>(8)));
  EXPECT_FALSE(t.with_frame(kHuge, std::vector<float>(8)));
  EXPECT_FALSE(t.with_frame(0, std::vector<float>(7)));
  EXPECT_FALSE(t.with_frame(0, std::vector<float>(9)));
}

TEST(TableWithFrame, SharesEveryOtherFrameBuffer) {
  std::vector<float> flat(4 * 8);
  for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = std::cos(static_cast<float>(i));
  const auto t = Table::from_flat(flat, 8, 2, 1);
  ASSERT_TRUE(t);
  const std::vector<float> frame{1, -1, 1, -1, 0.5f, 0.25f, 0, 0};
  const auto u = t->with_frame(2, frame);
  ASSERT_TRUE(u);
  EXPECT_EQ(u->cols(), 2u);
  EXPECT_EQ(u->rows(), 2u);
  for (std::size_t f = 0; f < 4; ++f) {
    if (f == 2) {
      EXPECT_NE(u->frame(f).get(), t->frame(f).get());
    } else {
      EXPECT_EQ(u->frame(f).get(), t->frame(f).get()) << f;
      EXPECT_EQ(u->frame(f).use_count(), 2) << f;
    }
  }
  // The new frame's levels are what a fresh build of that frame gives.
  std::copy(frame.begin(), frame.end(), flat.begin() + 16);
  const auto fresh = Table::from_flat(flat, 8, 2, 1);
  EXPECT_TRUE(std::equal(fresh->frame_data(2), fresh->frame_data(2) + fresh->frame_stride(),
                         u->frame_data(2)));
  // The source is unchanged.
  EXPECT_FLOAT_EQ(t->level(2, 0)[0], std::cos(16.0f));
}

TEST(MipLevel, PicksTheFirstLevelBelowNyquist) {
  const auto t2048 = ramp_table(1, 2048);
  const auto t2 = ramp_table(1, 2);
  struct Case {
    const Table* table;
    float freq, rate;
    std::size_t level;
  };
  const Case cases[] = {
      {&t2048, 48000.0f / 2048.0f, 48000, 0},  // level 0's top harmonic lands exactly on Nyquist
      {&t2048, 440.0f, 48000, 5},              // ceil(log2(1024 / 54.55))
      {&t2048, 24000.0f, 48000, 10},
      {&t2048, 100000.0f, 48000, 10},  // beyond Nyquist: the last level
      {&t2048, 1.0f, 48000, 0},
      {&t2048, 0.0f, 48000, 0},
      {&t2048, -440.0f, 48000, 0},
      {&t2048, 440.0f, 0.0f, 10},
      {&t2, 20000.0f, 44100, 0},  // a single level
  };
  for (const auto& c : cases)
    EXPECT_EQ(mip_level(*c.table, c.freq, c.rate), c.level) << c.freq << " Hz at " << c.rate;
}

TEST(FrameWeights, SingleFrameTableAlwaysReadsFrameZero) {
  const auto t = ramp_table(1, 4);
  for (const float p : {0.0f, 0.3f, 1.0f}) {
    const auto w = frame_weights(t, p, p, p);
    EXPECT_EQ(w.frames, (std::array<std::size_t, 8>{}));
    EXPECT_EQ(w.weights, (std::array<float, 8>{1, 0, 0, 0, 0, 0, 0, 0}));
  }
}

TEST(FrameWeights, CornersAndWeightsAroundAPosition) {
  struct Case {
    std::size_t cols, rows, layers;
    float x, y, z;
    std::array<std::size_t, 8> frames;
    std::array<float, 8> weights;
  };
  const Case cases[] = {
      // 3 columns, X = 0.75: p = 1.5 between frames 1 and 2.
      {3, 1, 1, 0.75f, 0, 0, {1, 2, 1, 2, 1, 2, 1, 2}, {0.5f, 0.5f, 0, 0, 0, 0, 0, 0}},
      // Every axis at 1 clamps to the last frame.
      {3, 2, 2, 1, 1, 1, {11, 11, 11, 11, 11, 11, 11, 11}, {1, 0, 0, 0, 0, 0, 0, 0}},
      // 3 x 2 x 2 grid: X between columns 0 and 1 (t 0.5), Y between rows 0 and 1 (t 0.25),
      // Z between layers 0 and 1 (t 0.5).
      {3,
       2,
       2,
       0.25f,
       0.25f,
       0.5f,
       {0, 1, 3, 4, 6, 7, 9, 10},
       {0.1875f, 0.1875f, 0.0625f, 0.0625f, 0.1875f, 0.1875f, 0.0625f, 0.0625f}},
  };
  for (const auto& c : cases) {
    const auto t = ramp_table(c.cols * c.rows * c.layers, 4, c.rows, c.layers);
    const auto w = frame_weights(t, c.x, c.y, c.z);
    EXPECT_EQ(w.frames, c.frames) << c.x << "," << c.y << "," << c.z;
    for (std::size_t k = 0; k < 8; ++k) EXPECT_FLOAT_EQ(w.weights[k], c.weights[k]) << k;
    EXPECT_FLOAT_EQ(std::accumulate(w.weights.begin(), w.weights.end(), 0.0f), 1.0f);
  }
}

TEST(FrameWeights, StrayCoordinatesStayInsideTheGrid) {
  const auto t = ramp_table(12, 4, 2, 2);
  for (const float p : {-1.0f, 1.5f, 1e30f, kInf}) {
    const auto w = frame_weights(t, p, p, p);
    for (std::size_t k = 0; k < 8; ++k) EXPECT_LT(w.frames[k], 12u) << p;
  }
}

TEST(Reader, InterpolatesAndWraps) {
  const auto t = ramp_table(1, 2);  // one level of length 8 holding 0..7
  const auto r = Reader::at_level(t, 0);
  ASSERT_EQ(r.len, 8u);
  const auto w = frame_weights(t, 0, 0, 0);
  struct Case {
    float phase, value;
  };
  const Case cases[] = {
      {0.0f, 0.0f},
      {0.5f, 4.0f},                                    // exactly sample 4
      {0.99f, 7.0f + (0.0f - 7.0f) * (7.92f - 7.0f)},  // blends the last sample with the first
      {1.0f, 0.0f},                                    // the cycle's first sample again
      {0.0625f, 0.5f},
  };
  for (const auto& c : cases) EXPECT_NEAR(r.sample(w, c.phase), c.value, 1e-5f) << c.phase;
  // Phases outside 0..1 are outside the contract but must never read outside the level.
  for (const float stray : {-0.25f, 3.0f, -kInf, kInf, 1e30f})
    EXPECT_FALSE(std::isnan(r.sample(w, stray))) << stray;
}

TEST(Reader, BlendsCornersAndSkipsZeroWeights) {
  const auto t = ramp_table(3, 2);  // frames hold 0.., 1.., 2.. at every level
  const auto r = Reader::at_level(t, 0);
  auto w = frame_weights(t, 0.75f, 0, 0);  // frames 1 and 2, half each
  EXPECT_FLOAT_EQ(r.sample(w, 0.5f), 0.5f * 5.0f + 0.5f * 6.0f);
  // A corner of weight 0 is never read: an index far outside the table would fault under ASan.
  w.frames[2] = w.frames[7] = 1u << 30;
  EXPECT_FLOAT_EQ(r.sample(w, 0.5f), 5.5f);
}

TEST(Reader, ReadsTheChosenLevel) {
  const auto t = ramp_table(1, 64);
  for (std::size_t level = 0; level < t.levels(); ++level) {
    const auto r = Reader::at_level(t, level);
    EXPECT_EQ(r.offset, t.offsets()[level]);
    EXPECT_EQ(r.len, t.lengths()[level]);
    EXPECT_FLOAT_EQ(r.sample(frame_weights(t, 0, 0, 0), 0.5f), static_cast<float>(r.len / 2));
  }
}

}  // namespace
}  // namespace quillory::synth
