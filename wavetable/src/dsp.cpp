// Spectral tools over the cached FFT plans.
//
// Every operation here takes the real part of an inverse transform, and the real part of the
// inverse of Y equals the inverse of its conjugate-symmetric part H[k] = (Y[k] + conj Y[M-k]) / 2.
// So the work is done on half spectra (bins 0 .. floor(M/2)) with real transforms of half the
// length wherever the length is even; the results equal the full complex route up to rounding.
#include "wavetable/dsp.hpp"

#include "per_thread.hpp"

#include <algorithm>
#include <bit>

namespace quillory::wavetable {
namespace {

// Highest harmonic kept by mip level i of an n-sample frame: floor(n/2) >> i, at least 1.
std::size_t level_harmonic(std::size_t n, std::size_t i) {
  const std::size_t h = i >= 64 ? 0 : (n / 2) >> i;
  return h == 0 ? 1 : h;
}

// Bins 0 .. floor(n/2) of the transform of a real frame, made conjugate-symmetric.
void half_spectrum(std::span<const float> frame, std::vector<Complex>& half) {
  const std::size_t n = frame.size();
  half.resize(n / 2 + 1);
  if (n % 2 == 0) {
    cached_real_plan(n).forward(frame, half);
    return;
  }
  QUILLORY_PER_THREAD std::vector<Complex> full;
  full.assign(frame.begin(), frame.end());
  cached_plan(n).forward(full);
  half[0] = {full[0].real(), 0.0f};
  for (std::size_t k = 1; k <= n / 2; ++k) half[k] = 0.5f * (full[k] + std::conj(full[n - k]));
}

// out (m samples) = scale times the inverse transform of the conjugate-symmetric spectrum of
// length m whose bins 0 .. floor(m/2) are `half`.
void real_from_half(std::span<const Complex> half, std::span<float> out, float scale) {
  const std::size_t m = out.size();
  if (m % 2 == 0) {
    cached_real_plan(m).inverse(half, out, scale);
    return;
  }
  QUILLORY_PER_THREAD std::vector<Complex> full;
  full.resize(m);
  full[0] = {half[0].real(), 0.0f};
  for (std::size_t k = 1; k <= m / 2; ++k) {
    full[k] = half[k];
    full[m - k] = std::conj(half[k]);
  }
  cached_plan(m).inverse(full);
  for (std::size_t i = 0; i < m; ++i) out[i] = full[i].real() * scale;
}

// The factor 1/n, computed in single precision from n converted to float.
float inverse_length(std::size_t n) {
  return 1.0f / static_cast<float>(n);
}

}  // namespace

std::vector<Complex> fft(std::span<const float> frame) {
  const std::size_t n = frame.size();
  std::vector<Complex> x(n);
  if (n == 0) return x;
  if (n % 2 == 0) {
    cached_real_plan(n).forward(frame, std::span(x).first(n / 2 + 1));
    for (std::size_t k = 1; k < n / 2; ++k) x[n - k] = std::conj(x[k]);
    return x;
  }
  std::copy(frame.begin(), frame.end(), x.begin());
  cached_plan(n).forward(x);
  return x;
}

std::vector<float> ifft_real(std::vector<Complex> spectrum, std::size_t n) {
  const std::size_t m = spectrum.size();
  std::vector<float> out(m);
  if (m == 0) return out;
  const float s = inverse_length(n);
  if (m % 2 == 1) {
    cached_plan(m).inverse(spectrum);
    for (std::size_t i = 0; i < m; ++i) out[i] = spectrum[i].real() * s;
    return out;
  }
  // Conjugate-symmetric part, in place: bin k reads bin m - k, which is only written later (or is
  // bin k itself at m/2).
  for (std::size_t k = 0; k <= m / 2; ++k)
    spectrum[k] = 0.5f * (spectrum[k] + std::conj(spectrum[(m - k) % m]));
  cached_real_plan(m).inverse(std::span(spectrum).first(m / 2 + 1), out, s);
  return out;
}

std::vector<float> bandlimit(std::span<const float> frame, std::size_t h) {
  const std::size_t n = frame.size();
  std::vector<float> out(n);
  if (n == 0) return out;
  QUILLORY_PER_THREAD std::vector<Complex> half;
  half_spectrum(frame, half);
  // Harmonics h+1 .. ceil(n/2)-1, and the Nyquist bin of an even n when h < n/2.
  for (std::size_t k = h + 1; k < half.size(); ++k) half[k] = 0;
  real_from_half(half, out, inverse_length(n));
  return out;
}

std::vector<float> resample_frame(std::span<const float> frame, std::size_t m) {
  const std::size_t n = frame.size();
  if (n == 0 || m == n) return {frame.begin(), frame.end()};
  // A target length of 0 has no DC bin to copy into: nothing to return.
  if (m == 0) return {};
  QUILLORY_PER_THREAD std::vector<Complex> half, target;
  half_spectrum(frame, half);
  // Harmonics 1 .. ceil(min(n, m)/2) - 1 move over; the new Nyquist bin, if any, stays 0.
  const std::size_t keep = (std::min(n, m) + 1) / 2;
  target.assign(m / 2 + 1, Complex{});
  std::copy_n(half.begin(), keep, target.begin());
  std::vector<float> out(m);
  real_from_half(target, out, inverse_length(n));
  return out;
}

std::size_t mip_length(std::size_t n, std::size_t i) {
  const std::size_t h = level_harmonic(n, i);
  const std::size_t c = std::bit_ceil(2 * h + 1);  // smallest power of two above 2h
  if (c < 8) return 8;
  return std::min(c, std::max<std::size_t>(n, 8));
}

// One forward transform of the frame, then per level one inverse transform at the level's length
// of just the bins that band-limiting and resampling would leave:
// - harmonics 1 .. min(h_i, ceil(n/2) - 1), further limited to ceil(min(n, L_i)/2) - 1 when the
//   level's length L_i differs from n;
// - the Nyquist bin of an even n only when L_i = n and h_i >= n/2 (resampling always drops it);
// - every level scaled by 1/n, the frame's length.
std::vector<float> mipmaps(std::span<const float> frame, std::size_t levels) {
  const std::size_t n = frame.size();
  std::size_t total = 0;
  for (std::size_t i = 0; i < levels; ++i) total += mip_length(n, i);
  std::vector<float> out(total);
  if (n == 0) return out;  // every level of an empty frame is silence

  QUILLORY_PER_THREAD std::vector<Complex> half, level;
  half_spectrum(frame, half);
  const float scale = inverse_length(n);
  std::size_t offset = 0;
  for (std::size_t i = 0; i < levels; ++i) {
    const std::size_t h = level_harmonic(n, i);
    const std::size_t len = mip_length(n, i);
    std::size_t top = std::min(h, (n + 1) / 2 - 1);
    if (len != n) top = std::min(top, (std::min(n, len) + 1) / 2 - 1);
    level.assign(len / 2 + 1, Complex{});
    std::copy_n(half.begin(), top + 1, level.begin());
    if (len == n && n % 2 == 0 && h >= n / 2) level[n / 2] = half[n / 2];
    real_from_half(level, std::span(out).subspan(offset, len), scale);
    offset += len;
  }
  return out;
}

}  // namespace quillory::wavetable
