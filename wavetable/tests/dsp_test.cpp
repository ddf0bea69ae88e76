// Band-limiting, resampling and mip levels: analytic cases and the fast mip route against the
// literal two-step route.
#include "wavetable/dsp.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "literal_route.hpp"

namespace quillory::wavetable {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Sum of harmonics: dc + sum amp[k-1] * cos(2 pi k t / n + k) over k = 1 .. amp.size().
std::vector<float> harmonics(std::size_t n, double dc, const std::vector<double>& amp) {
  std::vector<float> x(n);
  for (std::size_t t = 0; t < n; ++t) {
    double v = dc;
    for (std::size_t k = 1; k <= amp.size(); ++k)
      v += amp[k - 1] * std::cos(kTwoPi * double(k * t) / double(n) + double(k));
    x[t] = float(v);
  }
  return x;
}

std::vector<float> random_frame(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = u(rng);
  return x;
}

// Amplitude of harmonic k (0 = DC) measured with a double-precision projection.
double amplitude(const std::vector<float>& x, std::size_t k) {
  const std::size_t n = x.size();
  std::complex<double> acc = 0;
  for (std::size_t t = 0; t < n; ++t)
    acc += double(x[t]) * std::polar(1.0, -kTwoPi * double((k * t) % n) / double(n));
  return std::abs(acc) / double(n) * (k == 0 || 2 * k == n ? 1.0 : 2.0);
}

double max_abs_diff(const std::vector<float>& a, const std::vector<float>& b) {
  double d = 0;
  for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, double(std::abs(a[i] - b[i])));
  return d;
}

double rms(const std::vector<float>& a) {
  double s = 0;
  for (float v : a) s += double(v) * v;
  return std::sqrt(s / double(a.size()));
}

TEST(MipLength, FollowsHarmonicLimitWithinFrameLength) {
  struct Case {
    std::size_t n, i, want;
  };
  for (const Case c : {Case{2048, 0, 2048},
                       {2048, 1, 2048},
                       {2048, 2, 1024},
                       {2048, 9, 8},
                       {2048, 10, 8},
                       {2048, 100, 8},
                       {600, 0, 600},
                       {600, 1, 512},
                       {3, 0, 8},
                       {9, 0, 9},
                       {9, 1, 8},
                       {1, 0, 8},
                       {0, 0, 8}})
    EXPECT_EQ(mip_length(c.n, c.i), c.want) << "n = " << c.n << ", i = " << c.i;
}

TEST(Resample, SameLengthIsExactCopyWithoutTransform) {
  // A transform would spread the NaN over every sample; a copy keeps it where it is.
  std::vector<float> x = random_frame(600, 1);
  x[17] = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> y = resample_frame(x, 600);
  ASSERT_EQ(y.size(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    if (i != 17) {
      EXPECT_EQ(y[i], x[i]);
    }
  EXPECT_TRUE(std::isnan(y[17]));
  EXPECT_TRUE(resample_frame({}, 8).empty());
}

TEST(Resample, ZeroTargetLengthGivesEmptyFrame) {
  EXPECT_TRUE(resample_frame(random_frame(16, 4), 0).empty());
  EXPECT_TRUE(resample_frame(random_frame(9, 5), 0).empty());
}

TEST(Resample, ShrinkingKeepsHarmonicsBelowNewNyquist) {
  // Harmonics 1, 2, 511 and 512, 700 at distinct amplitudes.
  std::vector<double> amp(700, 0.0);
  amp[0] = 0.5, amp[1] = 0.25, amp[510] = 0.125, amp[511] = 0.3, amp[699] = 0.2;
  const std::vector<float> y = resample_frame(harmonics(2048, 0.75, amp), 1024);
  ASSERT_EQ(y.size(), 1024u);
  EXPECT_NEAR(amplitude(y, 0), 0.75, 1e-5);
  EXPECT_NEAR(amplitude(y, 1), 0.5, 1e-5);
  EXPECT_NEAR(amplitude(y, 2), 0.25, 1e-5);
  EXPECT_NEAR(amplitude(y, 511), 0.125, 1e-5);
  EXPECT_NEAR(amplitude(y, 512), 0.0, 1e-5);  // the new Nyquist bin stays empty
  // Harmonic 700 must not fold back to 1024 - 700 = 324.
  EXPECT_NEAR(amplitude(y, 324), 0.0, 1e-5);
}

TEST(Resample, GrowingAShortFrameKeepsOnlyWhatItCanHold) {
  // A 3-sample frame holds DC and harmonic 1; at length 8 nothing else appears.
  const std::vector<float> x{1.0f, -0.5f, 2.0f};
  const std::vector<float> y = resample_frame(x, 8);
  ASSERT_EQ(y.size(), 8u);
  // The same DC and harmonic 1 (amplitude and phase) sampled at 8 points.
  std::vector<float> exact(8);
  for (std::size_t t = 0; t < 8; ++t) {
    std::complex<double> h1 = 0;
    for (std::size_t j = 0; j < 3; ++j)
      h1 += double(x[j]) * std::polar(1.0, -kTwoPi * double(j) / 3);
    exact[t] = float(amplitude(x, 0) +
                     2.0 / 3.0 * std::real(h1 * std::polar(1.0, kTwoPi * double(t) / 8)));
  }
  EXPECT_LE(max_abs_diff(y, exact), 1e-5);
  for (std::size_t k = 2; k <= 4; ++k) EXPECT_NEAR(amplitude(y, k), 0.0, 1e-5) << k;
}

TEST(Resample, GrowingFromEvenLengthDropsSourceNyquist) {
  // Alternating samples are pure Nyquist; at length 8 they vanish, only the DC remains.
  const std::vector<float> y = resample_frame(std::vector<float>{1.25f, -0.75f, 1.25f, -0.75f}, 8);
  for (float v : y) EXPECT_NEAR(v, 0.25f, 1e-6f);
}

TEST(Bandlimit, SawtoothToFundamentalIsSineOfItsAmplitude) {
  const std::size_t n = 2048;
  std::vector<float> saw(n);
  for (std::size_t t = 0; t < n; ++t) saw[t] = 0.3f + 2.0f * float(t) / float(n) - 1.0f;
  const std::vector<float> y = bandlimit(saw, 1);
  const double dc = amplitude(saw, 0), a1 = amplitude(saw, 1);
  EXPECT_NEAR(a1, 2.0 / std::numbers::pi, 1e-3);  // a saw's fundamental
  std::complex<double> h1 = 0;
  for (std::size_t t = 0; t < n; ++t)
    h1 += double(saw[t]) * std::polar(1.0, -kTwoPi * double(t) / double(n));
  for (std::size_t t = 0; t < n; t += 7) {
    const double want =
        dc + 2.0 / double(n) * std::real(h1 * std::polar(1.0, kTwoPi * double(t) / double(n)));
    ASSERT_NEAR(y[t], want, 1e-5) << t;
  }
}

TEST(Bandlimit, NyquistBinKeptOnlyWhenLimitReachesIt) {
  std::vector<double> amp(1024, 0.0);
  amp[1022] = 0.5, amp[1023] = 0.25;  // harmonics 1023 and Nyquist 1024
  const std::vector<float> x = harmonics(2048, 0.0, amp);
  const std::vector<float> keep = bandlimit(x, 1024);
  EXPECT_LE(max_abs_diff(keep, x), 1e-5);  // nothing removed
  const std::vector<float> cut = bandlimit(x, 1023);
  EXPECT_NEAR(amplitude(cut, 1024), 0.0, 1e-6);
  EXPECT_NEAR(amplitude(cut, 1023), 0.5, 1e-5);
  // Odd length: with h = floor(n/2) nothing goes, with one less the top harmonic goes.
  const std::vector<float> odd = harmonics(9, 0.1, {0.1, 0.2, 0.3, 0.4});
  EXPECT_LE(max_abs_diff(bandlimit(odd, 4), odd), 1e-6);
  EXPECT_NEAR(amplitude(bandlimit(odd, 3), 4), 0.0, 1e-6);
  EXPECT_NEAR(amplitude(bandlimit(odd, 3), 3), 0.3, 1e-6);
}

std::size_t table_levels(std::size_t n) {
  return std::size_t(std::bit_width(std::max<std::size_t>(1, n / 2)));  // floor(log2) + 1
}

TEST(Mipmaps, TwoThousandFortyEightFrameHasDocumentedLayout) {
  const std::vector<float> x = random_frame(2048, 3);
  const std::vector<float> m = mipmaps(x, 11);
  ASSERT_EQ(m.size(), 6144u);
  // Level 0 is the frame itself up to rounding.
  EXPECT_LE(max_abs_diff(std::vector<float>(m.begin(), m.begin() + 2048), x), 1e-5);
  // Level 10 (offset 6136, 8 samples) keeps only DC and harmonic 1.
  const std::vector<float> top(m.begin() + 6136, m.end());
  const std::vector<float> want = resample_frame(bandlimit(x, 1), 8);
  EXPECT_LE(max_abs_diff(top, want), 1e-5);
}

// The fast route (one forward transform, one inverse per level) against the literal one
// (band-limit, then resample, every level).
TEST(Mipmaps, MatchLiteralRouteOnSeveralLengths) {
  for (const std::size_t n : {2048u, 600u, 9u, 3u, 2u, 1u, 6u, 2039u}) {
    const std::vector<float> x = random_frame(n, unsigned(n));
    for (const std::size_t levels : {table_levels(n), table_levels(n) + 2}) {
      const std::vector<float> want = literal::mipmaps(x, levels);
      const std::vector<float> got = mipmaps(x, levels);
      ASSERT_EQ(got.size(), want.size()) << "n = " << n;
      EXPECT_LE(max_abs_diff(got, want), 1e-5 * std::max(1.0, rms(x)))
          << "n = " << n << ", levels = " << levels;
    }
  }
}

// The literal route would return nothing for an empty frame while mip_length still promises 8
// samples per level; the fast route returns those levels as silence so offsets stay in bounds.
TEST(Mipmaps, EmptyFrameGivesSilentLevelsOfPromisedLength) {
  const std::vector<float> m = mipmaps({}, 3);
  ASSERT_EQ(m.size(), 24u);
  for (float v : m) EXPECT_EQ(v, 0.0f);
  EXPECT_TRUE(mipmaps(random_frame(16, 1), 0).empty());
}

// Silence stays exact silence, huge samples stay finite, and non-finite samples are carried
// through rather than silently repaired (the playback tables do that).
TEST(Mipmaps, HostileFramesGiveExpectedLevels) {
  struct Case {
    const char* name;
    float fill;
    float spike;  // sample 5
    bool all_finite;
  };
  const float inf = std::numeric_limits<float>::infinity();
  for (const Case c : {Case{"zeros", 0.0f, 0.0f, true},
                       {"huge", 1e30f, -1e30f, true},
                       {"nan", 0.5f, std::numeric_limits<float>::quiet_NaN(), false},
                       {"inf", 0.5f, inf, false}})
    for (const std::size_t n : {64u, 600u, 9u}) {
      std::vector<float> x(n, c.fill);
      x[5] = c.spike;
      const std::vector<float> m = mipmaps(x, table_levels(n));
      std::size_t finite = 0;
      for (float v : m) finite += std::isfinite(v);
      EXPECT_EQ(finite == m.size(), c.all_finite) << c.name << ", n = " << n;
      if (c.fill == 0.0f && c.spike == 0.0f) {
        for (float v : m) ASSERT_EQ(v, 0.0f) << c.name;
      }
    }
}

// Two threads building levels at once, each with its own cached plans, get the same levels as one
// thread alone.
TEST(MipmapsConcurrency, ThreadsBuildingAtOnceAgreeWithOneThread) {
  const std::vector<float> a = random_frame(2048, 10), b = random_frame(600, 11);
  const std::vector<float> want_a = mipmaps(a, 11), want_b = mipmaps(b, 9);
  bool ok_a = true, ok_b = true;
  std::thread t1([&] {
    for (int i = 0; i < 20; ++i) ok_a = ok_a && mipmaps(a, 11) == want_a;
  });
  std::thread t2([&] {
    for (int i = 0; i < 20; ++i) ok_b = ok_b && mipmaps(b, 9) == want_b && mipmaps(a, 11) == want_a;
  });
  t1.join();
  t2.join();
  EXPECT_TRUE(ok_a);
  EXPECT_TRUE(ok_b);
}

}  // namespace
}  // namespace quillory::wavetable
