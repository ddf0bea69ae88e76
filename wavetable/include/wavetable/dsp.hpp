#pragma once
// Spectral tools: the FFT, band-limiting, frame resampling and mip levels. Used where tables are
// built, never on the audio thread. Everything is single precision.

#include <cstddef>
#include <span>
#include <vector>

#include "wavetable/fft.hpp"

namespace quillory::wavetable {

// Forward transform X[k] = sum x[n] e^(-2 pi i k n / N), unscaled, of a real frame of any length.
std::vector<Complex> fft(std::span<const float> frame);

// Real part of the inverse transform y[n] = sum Y[k] e^(+2 pi i k n / M), each times 1/n.
// Takes the spectrum over and may work in its memory.
std::vector<float> ifft_real(std::vector<Complex> spectrum, std::size_t n);

// Keeps DC and harmonics 1..h of the frame, removes everything above.
std::vector<float> bandlimit(std::span<const float> frame, std::size_t h);

// The frame at a new length m, every harmonic below min(N, m)/2 keeping its amplitude. The same
// length gives an exact copy; m = 0 gives an empty frame.
std::vector<float> resample_frame(std::span<const float> frame, std::size_t m);

// Length of mip level i of an n-sample frame: at least 8, at most max(n, 8), otherwise the
// smallest power of two above twice the level's highest harmonic floor(n/2) >> i.
std::size_t mip_length(std::size_t n, std::size_t i);

// All `levels` mip levels of the frame, level 0 first, back to back; level i is the frame
// band-limited to harmonic floor(n/2) >> i (at least 1) and resampled to mip_length(n, i).
// Built from one forward transform and one inverse transform per level. An empty frame gives
// silent levels of those lengths.
std::vector<float> mipmaps(std::span<const float> frame, std::size_t levels);

}  // namespace quillory::wavetable
