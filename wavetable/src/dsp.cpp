// Placeholder: the literal algorithms over a naive DFT, until the real FFT lands.
#include "wavetable/dsp.hpp"

#include <bit>
#include <cmath>
#include <numbers>

namespace quillory::wavetable {
namespace {

void dft(std::vector<Complex>& x, float sign) {
  const std::size_t n = x.size();
  std::vector<Complex> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::complex<double> acc = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const double a = sign * 2.0 * std::numbers::pi * double((k * j) % n) / double(n);
      acc += std::complex<double>(x[j]) * std::complex<double>(std::cos(a), std::sin(a));
    }
    out[k] = Complex(acc);
  }
  x = std::move(out);
}

}  // namespace

std::vector<Complex> fft(std::span<const float> frame) {
  std::vector<Complex> x(frame.begin(), frame.end());
  dft(x, -1.0f);
  return x;
}

std::vector<float> ifft_real(std::vector<Complex> spectrum, std::size_t n) {
  dft(spectrum, 1.0f);
  const float s = 1.0f / static_cast<float>(n);
  std::vector<float> out(spectrum.size());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = spectrum[i].real() * s;
  return out;
}

std::vector<float> bandlimit(std::span<const float> frame, std::size_t h) {
  const std::size_t n = frame.size();
  auto x = fft(frame);
  for (std::size_t k = h + 1; k < (n + 1) / 2; ++k) x[k] = x[n - k] = 0;
  if (n % 2 == 0 && h < n / 2) x[n / 2] = 0;
  return ifft_real(std::move(x), n);
}

std::vector<float> resample_frame(std::span<const float> frame, std::size_t m) {
  const std::size_t n = frame.size();
  if (n == 0 || m == n) return {frame.begin(), frame.end()};
  auto x = fft(frame);
  std::vector<Complex> y(m);
  y[0] = x[0];
  const std::size_t lo = std::min(n, m);
  for (std::size_t k = 1; k < (lo + 1) / 2; ++k) {
    y[k] = x[k];
    y[m - k] = x[n - k];
  }
  return ifft_real(std::move(y), n);
}

std::size_t mip_length(std::size_t n, std::size_t i) {
  std::size_t h = i >= 64 ? 0 : (n / 2) >> i;
  if (h == 0) h = 1;
  const std::size_t c = std::bit_ceil(2 * h + 1);
  if (c < 8) return 8;
  return std::min(c, std::max<std::size_t>(n, 8));
}

std::vector<float> mipmaps(std::span<const float> frame, std::size_t levels) {
  const std::size_t n = frame.size();
  std::vector<float> out;
  out.reserve(3 * n);
  for (std::size_t i = 0; i < levels; ++i) {
    std::size_t h = i >= 64 ? 0 : (n / 2) >> i;
    if (h == 0) h = 1;
    auto b = bandlimit(frame, h);
    auto level = resample_frame(b, mip_length(n, i));
    out.insert(out.end(), level.begin(), level.end());
  }
  return out;
}

}  // namespace quillory::wavetable
