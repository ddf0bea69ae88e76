#pragma once
// Our own FFT: complex transforms of any length in single precision, unscaled.
//   forward X[k] = sum x[n] e^(-2 pi i k n / N)      inverse y[n] = sum Y[k] e^(+2 pi i k n / N)
// Lengths made of the factors 2, 3, 4, 5 and small primes run a mixed-radix Stockham transform;
// any length with a larger prime factor goes through Bluestein's chirp convolution.
// A plan owns its scratch memory: one plan must not be used by two threads at once.

#include <complex>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace quillory::wavetable {

using Complex = std::complex<float>;

// Vector lanes a plan computes in: the widest the processor offers (eight floats with AVX2 on
// x86, else four), or four everywhere (the portable path, also used to test it).
enum class Lanes { Widest, Four };

class FftPlan {
 public:
  explicit FftPlan(std::size_t n, Lanes lanes = Lanes::Widest);
  ~FftPlan();
  FftPlan(FftPlan&&) noexcept;
  FftPlan& operator=(FftPlan&&) noexcept;

  std::size_t size() const { return n_; }

  // In place; data holds exactly size() values.
  void forward(std::span<Complex> data);
  void inverse(std::span<Complex> data);

 private:
  friend class RealFftPlan;
  struct Stage;
  struct Bluestein;

  // Transforms the split-complex values in re_[0], im_[0] forward; returns the buffer index (0
  // or 1) holding the result.
  int run();

  std::size_t n_ = 0;
  bool wide_ = false;  // run the stages in lanes of eight (the processor has them)
  std::vector<Stage> stages_;
  std::vector<float> twiddles_;  // every stage's twiddle factors, re and im halves per stage
  std::vector<float> re_[2], im_[2];
  std::unique_ptr<Bluestein> bluestein_;
};

// Transforms of real frames of an even length n, through a complex plan of length n/2.
class RealFftPlan {
 public:
  explicit RealFftPlan(std::size_t n);  // n even, at least 2

  std::size_t size() const { return n_; }

  // bins[0 .. n/2] = bins 0 to n/2 of the forward transform of the n samples `in`; the rest
  // follow from X[n - k] = conj(X[k]).
  void forward(std::span<const float> in, std::span<Complex> bins);

  // out (n samples) = scale times the inverse transform of the conjugate-symmetric spectrum whose
  // bins 0 .. n/2 are given. The imaginary parts of bins 0 and n/2 are ignored.
  void inverse(std::span<const Complex> bins, std::span<float> out, float scale = 1.0f);

 private:
  std::size_t n_;
  FftPlan half_;
  std::vector<float> twiddle_re_, twiddle_im_;    // e^(-2 pi i k / n), k = 0 .. n/2
  std::vector<float> spectrum_re_, spectrum_im_;  // bins 0 .. n/2 in split form
};

// The calling thread's plan of length n, kept for later calls. The reference stays valid until
// the same thread asks for another plan of the same kind.
FftPlan& cached_plan(std::size_t n);
RealFftPlan& cached_real_plan(std::size_t n);

}  // namespace quillory::wavetable
