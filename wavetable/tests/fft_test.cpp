// The FFT against a double-precision direct DFT.
#include "wavetable/fft.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

#include "wavetable/dsp.hpp"

namespace quillory::wavetable {
namespace {

using Exact = std::complex<double>;

std::vector<Exact> dft(const std::vector<Exact>& x, double sign) {
  const std::size_t n = x.size();
  std::vector<Exact> roots(n), out(n);
  for (std::size_t t = 0; t < n; ++t)
    roots[t] = std::polar(1.0, sign * 2.0 * std::numbers::pi * double(t) / double(n));
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t j = 0; j < n; ++j) out[k] += x[j] * roots[(k * j) % n];
  return out;
}

std::vector<Complex> random_complex(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<Complex> x(n);
  for (auto& v : x) v = {u(rng), u(rng)};
  return x;
}

// ||got - want|| / ||want||, or the plain error norm when want is all zeros.
double relative_error(const std::vector<Complex>& got, const std::vector<Exact>& want) {
  double err = 0, norm = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    err += std::norm(Exact(got[i]) - want[i]);
    norm += std::norm(want[i]);
  }
  return std::sqrt(err / (norm > 0 ? norm : 1.0));
}

// Both lane widths: the widest this processor has and the portable four.
class FftLength : public testing::TestWithParam<std::tuple<std::size_t, Lanes>> {};

TEST_P(FftLength, ForwardAndInverseMatchDirectDft) {
  const auto [n, lanes] = GetParam();
  const std::vector<Complex> x = random_complex(n, unsigned(n));
  const std::vector<Exact> exact(x.begin(), x.end());
  FftPlan plan(n, lanes);
  ASSERT_EQ(plan.size(), n);

  std::vector<Complex> fwd = x;
  plan.forward(fwd);
  EXPECT_LE(relative_error(fwd, dft(exact, -1.0)), 1e-5) << "forward, n = " << n;

  std::vector<Complex> inv = x;
  plan.inverse(inv);
  EXPECT_LE(relative_error(inv, dft(exact, +1.0)), 1e-5) << "inverse, n = " << n;
}

INSTANTIATE_TEST_SUITE_P(Lengths, FftLength,
                         testing::Combine(testing::Values<std::size_t>(1, 2, 3, 5, 8, 12, 24, 600,
                                                                       2039, 2048, 4096),
                                          testing::Values(Lanes::Widest, Lanes::Four)));

// Every length from 1 to 80 through the cached real-frame route: every radix, the direct odd
// primes up to 31, Bluestein above, and more lengths than the plan cache holds.
TEST(Fft, RealFramesOfEveryShortLengthMatchDirectDft) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (std::size_t n = 1; n <= 80; ++n) {
    std::vector<float> frame(n);
    for (float& v : frame) v = u(rng);
    const std::vector<Exact> exact(frame.begin(), frame.end());
    EXPECT_LE(relative_error(fft(frame), dft(exact, -1.0)), 1e-5) << "n = " << n;
    // And back: the real inverse, scaled by 1/n, gives the frame.
    const std::vector<float> back = ifft_real(fft(frame), n);
    ASSERT_EQ(back.size(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_NEAR(back[i], frame[i], 1e-5f) << "n = " << n;
  }
}

TEST(Fft, EmptyFrameGivesEmptySpectrum) {
  EXPECT_TRUE(fft({}).empty());
  EXPECT_TRUE(ifft_real({}, 1).empty());
}

// ifft_real keeps the real part of the inverse of any spectrum, symmetric or not, and scales by
// 1/n of the given n rather than the spectrum's length.
TEST(Fft, InverseRealOfArbitrarySpectrumIsRealPartScaled) {
  for (const std::size_t m : {1u, 2u, 6u, 7u, 16u, 600u}) {
    const std::vector<Complex> y = random_complex(m, unsigned(m) + 100);
    const std::vector<Exact> want = dft(std::vector<Exact>(y.begin(), y.end()), +1.0);
    const std::size_t n = 3 * m + 1;
    const std::vector<float> got = ifft_real(y, n);
    ASSERT_EQ(got.size(), m);
    double err = 0, norm = 0;
    for (std::size_t i = 0; i < m; ++i) {
      const double r = want[i].real() / double(n);
      err += (got[i] - r) * (got[i] - r);
      norm += r * r;
    }
    EXPECT_LE(std::sqrt(err / norm), 1e-5) << "m = " << m;
  }
}

}  // namespace
}  // namespace quillory::wavetable
