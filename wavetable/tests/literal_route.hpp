#pragma once
// The mip levels built step by step the long way: for every level a band-limit (one forward and
// one inverse transform) and a resample (another pair), each transform planned when it is called
// and dropped afterwards. The reference the fast `mipmaps` is checked and measured against.

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "wavetable/dsp.hpp"
#include "wavetable/fft.hpp"

namespace quillory::wavetable::literal {

inline std::vector<Complex> fft(std::span<const float> frame) {
  std::vector<Complex> x(frame.begin(), frame.end());
  if (!x.empty()) FftPlan(x.size()).forward(x);
  return x;
}

inline std::vector<float> ifft_real(std::vector<Complex> spectrum, std::size_t n) {
  if (!spectrum.empty()) FftPlan(spectrum.size()).inverse(spectrum);
  const float s = 1.0f / static_cast<float>(n);
  std::vector<float> out(spectrum.size());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = spectrum[i].real() * s;
  return out;
}

inline std::vector<float> bandlimit(std::span<const float> frame, std::size_t h) {
  const std::size_t n = frame.size();
  std::vector<Complex> x = fft(frame);
  for (std::size_t k = h + 1; k < (n + 1) / 2; ++k) x[k] = x[n - k] = 0;
  if (n % 2 == 0 && h < n / 2) x[n / 2] = 0;
  return ifft_real(std::move(x), n);
}

inline std::vector<float> resample_frame(std::span<const float> frame, std::size_t m) {
  const std::size_t n = frame.size();
  if (n == 0 || m == n) return {frame.begin(), frame.end()};
  const std::vector<Complex> x = fft(frame);
  std::vector<Complex> y(m);
  y[0] = x[0];
  const std::size_t lo = n < m ? n : m;
  for (std::size_t k = 1; k < (lo + 1) / 2; ++k) {  // k <= ceil(lo / 2) - 1
    y[k] = x[k];
    y[m - k] = x[n - k];
  }
  return ifft_real(std::move(y), n);
}

inline std::vector<float> mipmaps(std::span<const float> frame, std::size_t levels) {
  const std::size_t n = frame.size();
  std::vector<float> out;
  out.reserve(3 * n);
  for (std::size_t i = 0; i < levels; ++i) {
    std::size_t h = i >= 64 ? 0 : (n / 2) >> i;
    if (h == 0) h = 1;
    const std::vector<float> b = bandlimit(frame, h);
    const std::vector<float> level = resample_frame(b, mip_length(n, i));
    const std::size_t at = out.size();
    out.resize(at + level.size());
    std::copy(level.begin(), level.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return out;
}

}  // namespace quillory::wavetable::literal
