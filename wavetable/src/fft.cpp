// Mixed-radix Stockham FFT over split real/imaginary arrays, with Bluestein's algorithm for
// lengths that have a large prime factor.
//
// Stage layout (decimation in frequency, self-sorting): a stage of radix p works on a length
// n = p * m at stride s and reads x[r + s (q + m j)], j = 0 .. p-1, writing
//   y[r + s (p q + k)] = w^(k q) * sum_j x[r + s (q + m j)] W_p^(j k),   w = e^(-2 pi i / n),
// then the next stage continues with n = m and stride s p. The output is in natural order.
// The inner loop over r shares one twiddle, so it runs four lanes at a time in a vector of four
// floats (a compiler extension, no platform header); the first stage (s = 1) runs four q at a time.
#include "wavetable/fft.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

namespace quillory::wavetable {
namespace {

using V4 = float __attribute__((vector_size(16)));

inline V4 load4(const float* p) {
  V4 v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
inline void store4(float* p, V4 v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// Largest prime done by a direct radix-p stage; lengths with a larger prime factor use Bluestein.
constexpr std::size_t kMaxDirectPrime = 31;
constexpr std::size_t kMaxRadix = kMaxDirectPrime + 1;

// Butterflies: in place on p values in split form, forward sign. T is float or V4.
struct Radix2 {
  static constexpr std::size_t p = 2;
  template <class T>
  [[gnu::always_inline]] void operator()(T* re, T* im) const {
    const T r = re[0] - re[1], i = im[0] - im[1];
    re[0] += re[1];
    im[0] += im[1];
    re[1] = r;
    im[1] = i;
  }
};

struct Radix3 {
  static constexpr std::size_t p = 3;
  template <class T>
  [[gnu::always_inline]] void operator()(T* re, T* im) const {
    constexpr float kSin = 0.866025403784438647f;  // sin(2 pi / 3)
    const T sr = re[1] + re[2], si = im[1] + im[2];
    const T dr = (re[1] - re[2]) * kSin, di = (im[1] - im[2]) * kSin;
    const T mr = re[0] - sr * 0.5f, mi = im[0] - si * 0.5f;
    re[0] += sr;
    im[0] += si;
    re[1] = mr + di;  // m - i sin * d
    im[1] = mi - dr;
    re[2] = mr - di;
    im[2] = mi + dr;
  }
};

struct Radix4 {
  static constexpr std::size_t p = 4;
  template <class T>
  [[gnu::always_inline]] void operator()(T* re, T* im) const {
    const T t0r = re[0] + re[2], t0i = im[0] + im[2];
    const T t1r = re[0] - re[2], t1i = im[0] - im[2];
    const T t2r = re[1] + re[3], t2i = im[1] + im[3];
    const T t3r = im[1] - im[3], t3i = re[3] - re[1];  // -i (x1 - x3)
    re[0] = t0r + t2r;
    im[0] = t0i + t2i;
    re[2] = t0r - t2r;
    im[2] = t0i - t2i;
    re[1] = t1r + t3r;
    im[1] = t1i + t3i;
    re[3] = t1r - t3r;
    im[3] = t1i - t3i;
  }
};

struct Radix5 {
  static constexpr std::size_t p = 5;
  template <class T>
  [[gnu::always_inline]] void operator()(T* re, T* im) const {
    constexpr float c1 = 0.309016994374947424f;   // cos(2 pi / 5)
    constexpr float c2 = -0.809016994374947424f;  // cos(4 pi / 5)
    constexpr float s1 = 0.951056516295153572f;   // sin(2 pi / 5)
    constexpr float s2 = 0.587785252292473129f;   // sin(4 pi / 5)
    const T t1r = re[1] + re[4], t1i = im[1] + im[4];
    const T t2r = re[2] + re[3], t2i = im[2] + im[3];
    const T t3r = re[1] - re[4], t3i = im[1] - im[4];
    const T t4r = re[2] - re[3], t4i = im[2] - im[3];
    const T b1r = re[0] + t1r * c1 + t2r * c2, b1i = im[0] + t1i * c1 + t2i * c2;
    const T b2r = re[0] + t1r * c2 + t2r * c1, b2i = im[0] + t1i * c2 + t2i * c1;
    const T d1r = t3r * s1 + t4r * s2, d1i = t3i * s1 + t4i * s2;
    const T d2r = t3r * s2 - t4r * s1, d2i = t3i * s2 - t4i * s1;
    re[0] += t1r + t2r;
    im[0] += t1i + t2i;
    re[1] = b1r + d1i;  // b - i d
    im[1] = b1i - d1r;
    re[4] = b1r - d1i;  // b + i d
    im[4] = b1i + d1r;
    re[2] = b2r + d2i;
    im[2] = b2i - d2r;
    re[3] = b2r - d2i;
    im[3] = b2i + d2r;
  }
};

// Any odd prime p up to kMaxDirectPrime, as a direct DFT with the table W_p^t = cos - i sin.
struct RadixAny {
  std::size_t p;
  const float* cos;  // cos(2 pi t / p), t = 0 .. p-1
  const float* sin;  // sin(2 pi t / p)
  template <class T>
  void operator()(T* re, T* im) const {
    T yr[kMaxRadix], yi[kMaxRadix];
    for (std::size_t k = 0; k < p; ++k) {
      T ar = re[0], ai = im[0];
      std::size_t t = 0;
      for (std::size_t j = 1; j < p; ++j) {
        t += k;
        if (t >= p) t -= p;
        ar += re[j] * cos[t] + im[j] * sin[t];
        ai += im[j] * cos[t] - re[j] * sin[t];
      }
      yr[k] = ar;
      yi[k] = ai;
    }
    for (std::size_t k = 0; k < p; ++k) {
      re[k] = yr[k];
      im[k] = yi[k];
    }
  }
};

template <class T>
[[gnu::always_inline]] inline void twiddle(T& re, T& im, auto wr, auto wi) {
  const T r = re * wr - im * wi;
  im = re * wi + im * wr;
  re = r;
}

struct StageArgs {
  std::size_t m, s;
  const float* tw_re;  // w^(k q) at [(k - 1) m + q]
  const float* tw_im;
};

// One stage from (xr, xi) to (yr, yi).
template <class K>
void run_stage(const K& kernel, const StageArgs& a, const float* __restrict xr,
               const float* __restrict xi, float* __restrict yr, float* __restrict yi) {
  const std::size_t p = kernel.p, m = a.m, s = a.s;
  std::size_t q0 = 0;
  if (s == 1) {
    // Four q at a time: contiguous loads and twiddles, scattered stores.
    for (; q0 + 4 <= m; q0 += 4) {
      V4 re[kMaxRadix], im[kMaxRadix];
      for (std::size_t j = 0; j < p; ++j) {
        re[j] = load4(xr + q0 + m * j);
        im[j] = load4(xi + q0 + m * j);
      }
      kernel(re, im);
      for (std::size_t k = 1; k < p; ++k)
        twiddle(re[k], im[k], load4(a.tw_re + (k - 1) * m + q0), load4(a.tw_im + (k - 1) * m + q0));
      for (std::size_t k = 0; k < p; ++k)
        for (std::size_t l = 0; l < 4; ++l) {
          yr[p * (q0 + l) + k] = re[k][l];
          yi[p * (q0 + l) + k] = im[k][l];
        }
    }
  }
  for (std::size_t q = q0; q < m; ++q) {
    float wr[kMaxRadix], wi[kMaxRadix];
    for (std::size_t k = 1; k < p; ++k) {
      wr[k] = a.tw_re[(k - 1) * m + q];
      wi[k] = a.tw_im[(k - 1) * m + q];
    }
    const std::size_t in = s * q, out = s * p * q;
    std::size_t r = 0;
    for (; r + 4 <= s; r += 4) {
      V4 re[kMaxRadix], im[kMaxRadix];
      for (std::size_t j = 0; j < p; ++j) {
        re[j] = load4(xr + r + in + s * m * j);
        im[j] = load4(xi + r + in + s * m * j);
      }
      kernel(re, im);
      for (std::size_t k = 1; k < p; ++k) twiddle(re[k], im[k], wr[k], wi[k]);
      for (std::size_t k = 0; k < p; ++k) {
        store4(yr + r + out + s * k, re[k]);
        store4(yi + r + out + s * k, im[k]);
      }
    }
    for (; r < s; ++r) {
      float re[kMaxRadix], im[kMaxRadix];
      for (std::size_t j = 0; j < p; ++j) {
        re[j] = xr[r + in + s * m * j];
        im[j] = xi[r + in + s * m * j];
      }
      kernel(re, im);
      for (std::size_t k = 1; k < p; ++k) twiddle(re[k], im[k], wr[k], wi[k]);
      for (std::size_t k = 0; k < p; ++k) {
        yr[r + out + s * k] = re[k];
        yi[r + out + s * k] = im[k];
      }
    }
  }
}

// The factors of n in stage order (fours first, then a two, then odd primes), or an empty list
// when a prime factor is too large for a direct stage.
std::vector<std::size_t> radices(std::size_t n) {
  std::vector<std::size_t> out;
  while (n % 4 == 0) {
    out.push_back(4);
    n /= 4;
  }
  if (n % 2 == 0) {
    out.push_back(2);
    n /= 2;
  }
  for (std::size_t p = 3; n > 1; p += 2) {
    if (p > kMaxDirectPrime) return {};
    while (n % p == 0) {
      out.push_back(p);
      n /= p;
    }
  }
  return out;
}

// The smallest length of at least n made only of the factors 2, 3 and 5.
std::size_t smooth_length(std::size_t n) {
  std::size_t best = 1;
  while (best < n) best *= 2;
  for (std::size_t p5 = 1; p5 < best; p5 *= 5)
    for (std::size_t p35 = p5; p35 < best; p35 *= 3) {
      std::size_t c = p35;
      while (c < n) c *= 2;
      if (c < best) best = c;
    }
  return best;
}

}  // namespace

enum class Kind { Two, Three, Four, Five, Any };

struct FftPlan::Stage {
  Kind kind;
  std::size_t p, m, s;
  std::size_t twiddle;  // offset of this stage's twiddles in twiddles_
  std::size_t table;    // offset of a direct odd radix's cos and sin tables in twiddles_
};

// X = chirp * ifft(fft(x * chirp) * fft(conj chirp)) with chirp[n] = e^(-pi i n^2 / N), the
// convolution done at a length m >= 2N - 1 that the Stockham stages handle.
struct FftPlan::Bluestein {
  FftPlan sub;
  std::vector<float> chirp_re, chirp_im;    // n values
  std::vector<float> kernel_re, kernel_im;  // transform of the conjugate chirp, scaled by 1/m

  explicit Bluestein(std::size_t n) : sub(smooth_length(2 * n - 1)) {
    const std::size_t m = sub.size();
    chirp_re.resize(n);
    chirp_im.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      // n^2 mod 2N keeps the angle exact for large n.
      const std::uint64_t sq = (std::uint64_t(i) * i) % (2 * std::uint64_t(n));
      const double a = std::numbers::pi * double(sq) / double(n);
      chirp_re[i] = float(std::cos(a));
      chirp_im[i] = float(-std::sin(a));
    }
    float* kr = sub.re_[0].data();
    float* ki = sub.im_[0].data();
    for (std::size_t i = 0; i < m; ++i) kr[i] = ki[i] = 0;
    for (std::size_t i = 0; i < n; ++i) {
      kr[i] = chirp_re[i];
      ki[i] = -chirp_im[i];
      if (i > 0) {
        kr[m - i] = chirp_re[i];
        ki[m - i] = -chirp_im[i];
      }
    }
    const int b = sub.run();
    const float scale = 1.0f / float(m);
    kernel_re.resize(m);
    kernel_im.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
      kernel_re[i] = sub.re_[b][i] * scale;
      kernel_im[i] = sub.im_[b][i] * scale;
    }
  }

  void run(float* re, float* im) {
    const std::size_t n = chirp_re.size(), m = sub.size();
    float* ar = sub.re_[0].data();
    float* ai = sub.im_[0].data();
    for (std::size_t i = 0; i < n; ++i) {
      ar[i] = re[i] * chirp_re[i] - im[i] * chirp_im[i];
      ai[i] = re[i] * chirp_im[i] + im[i] * chirp_re[i];
    }
    for (std::size_t i = n; i < m; ++i) ar[i] = ai[i] = 0;
    int b = sub.run();
    // Multiply by the kernel and store with real and imaginary swapped: the forward transform of
    // the swapped values, swapped back, is the inverse transform.
    {
      float* br = sub.re_[b].data();
      float* bi = sub.im_[b].data();
      for (std::size_t i = 0; i < m; ++i) {
        const float r = br[i] * kernel_re[i] - bi[i] * kernel_im[i];
        const float j = br[i] * kernel_im[i] + bi[i] * kernel_re[i];
        ar[i] = j;
        ai[i] = r;
      }
    }
    b = sub.run();
    const float* cr = sub.im_[b].data();  // swapped back
    const float* ci = sub.re_[b].data();
    for (std::size_t i = 0; i < n; ++i) {
      re[i] = cr[i] * chirp_re[i] - ci[i] * chirp_im[i];
      im[i] = cr[i] * chirp_im[i] + ci[i] * chirp_re[i];
    }
  }
};

FftPlan::FftPlan(std::size_t n) : n_(n) {
  for (int b = 0; b < 2; ++b) {
    re_[b].resize(n);
    im_[b].resize(n);
  }
  if (n <= 1) return;
  const std::vector<std::size_t> factors = radices(n);
  if (factors.empty()) {
    bluestein_ = std::make_unique<Bluestein>(n);
    return;
  }
  std::size_t len = n, s = 1;
  for (const std::size_t p : factors) {
    const std::size_t m = len / p;
    Stage st{Kind::Any, p, m, s, twiddles_.size(), 0};
    st.kind = p == 2   ? Kind::Two
              : p == 3 ? Kind::Three
              : p == 4 ? Kind::Four
              : p == 5 ? Kind::Five
                       : Kind::Any;
    const std::size_t count = (p - 1) * m;
    twiddles_.resize(twiddles_.size() + 2 * count);
    for (std::size_t k = 1; k < p; ++k)
      for (std::size_t q = 0; q < m; ++q) {
        // Exact index k q mod len keeps the angle accurate.
        const double a = -2.0 * std::numbers::pi * double((k * q) % len) / double(len);
        twiddles_[st.twiddle + (k - 1) * m + q] = float(std::cos(a));
        twiddles_[st.twiddle + count + (k - 1) * m + q] = float(std::sin(a));
      }
    if (st.kind == Kind::Any) {
      st.table = twiddles_.size();
      twiddles_.resize(twiddles_.size() + 2 * p);
      for (std::size_t t = 0; t < p; ++t) {
        const double a = 2.0 * std::numbers::pi * double(t) / double(p);
        twiddles_[st.table + t] = float(std::cos(a));
        twiddles_[st.table + p + t] = float(std::sin(a));
      }
    }
    stages_.push_back(st);
    len = m;
    s *= p;
  }
}

FftPlan::~FftPlan() = default;
FftPlan::FftPlan(FftPlan&&) noexcept = default;
FftPlan& FftPlan::operator=(FftPlan&&) noexcept = default;

int FftPlan::run() {
  if (bluestein_) {
    bluestein_->run(re_[0].data(), im_[0].data());
    return 0;
  }
  int from = 0;
  for (const Stage& st : stages_) {
    const std::size_t count = (st.p - 1) * st.m;
    const StageArgs a{st.m, st.s, twiddles_.data() + st.twiddle,
                      twiddles_.data() + st.twiddle + count};
    const float* xr = re_[from].data();
    const float* xi = im_[from].data();
    float* yr = re_[1 - from].data();
    float* yi = im_[1 - from].data();
    switch (st.kind) {
      case Kind::Two:
        run_stage(Radix2{}, a, xr, xi, yr, yi);
        break;
      case Kind::Three:
        run_stage(Radix3{}, a, xr, xi, yr, yi);
        break;
      case Kind::Four:
        run_stage(Radix4{}, a, xr, xi, yr, yi);
        break;
      case Kind::Five:
        run_stage(Radix5{}, a, xr, xi, yr, yi);
        break;
      case Kind::Any: {
        const float* table = twiddles_.data() + st.table;
        run_stage(RadixAny{st.p, table, table + st.p}, a, xr, xi, yr, yi);
        break;
      }
    }
    from = 1 - from;
  }
  return from;
}

void FftPlan::forward(std::span<Complex> data) {
  float* re = re_[0].data();
  float* im = im_[0].data();
  for (std::size_t i = 0; i < n_; ++i) {
    re[i] = data[i].real();
    im[i] = data[i].imag();
  }
  const int b = run();
  for (std::size_t i = 0; i < n_; ++i) data[i] = {re_[b][i], im_[b][i]};
}

// The inverse is the forward transform with real and imaginary parts swapped on the way in and out.
void FftPlan::inverse(std::span<Complex> data) {
  float* re = re_[0].data();
  float* im = im_[0].data();
  for (std::size_t i = 0; i < n_; ++i) {
    re[i] = data[i].imag();
    im[i] = data[i].real();
  }
  const int b = run();
  for (std::size_t i = 0; i < n_; ++i) data[i] = {im_[b][i], re_[b][i]};
}

RealFftPlan::RealFftPlan(std::size_t n) : n_(n), half_(n / 2) {
  const std::size_t h = n / 2;
  twiddle_re_.resize(h + 1);
  twiddle_im_.resize(h + 1);
  for (std::size_t k = 0; k <= h; ++k) {
    const double a = -2.0 * std::numbers::pi * double(k) / double(n);
    twiddle_re_[k] = float(std::cos(a));
    twiddle_im_[k] = float(std::sin(a));
  }
}

// Even samples go to the real parts, odd samples to the imaginary parts; with Z = the half-length
// transform, E[k] = (Z[k] + conj Z[h-k]) / 2, O[k] = (Z[k] - conj Z[h-k]) / 2i and
// X[k] = E[k] + w^k O[k].
void RealFftPlan::forward(std::span<const float> in, std::span<Complex> bins) {
  const std::size_t h = n_ / 2;
  float* zr = half_.re_[0].data();
  float* zi = half_.im_[0].data();
  for (std::size_t i = 0; i < h; ++i) {
    zr[i] = in[2 * i];
    zi[i] = in[2 * i + 1];
  }
  const int b = half_.run();
  zr = half_.re_[b].data();
  zi = half_.im_[b].data();
  bins[0] = {zr[0] + zi[0], 0.0f};
  bins[h] = {zr[0] - zi[0], 0.0f};
  for (std::size_t k = 1; k < h; ++k) {
    const float ar = zr[k], ai = zi[k], br = zr[h - k], bi = -zi[h - k];  // b = conj Z[h-k]
    const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
    const float orr = 0.5f * (ai - bi), oi = -0.5f * (ar - br);  // (a - b) / 2i
    const float wr = twiddle_re_[k], wi = twiddle_im_[k];
    bins[k] = {er + orr * wr - oi * wi, ei + orr * wi + oi * wr};
  }
}

// Z[k] = (X[k] + conj X[h-k]) + i w^-k (X[k] - conj X[h-k]) is the half-length spectrum whose
// inverse holds the even output samples in its real parts and the odd ones in its imaginary parts.
void RealFftPlan::inverse(std::span<const Complex> bins, std::span<float> out, float scale) {
  const std::size_t h = n_ / 2;
  // Inverse through the forward plan: the spectrum goes in with real and imaginary swapped.
  float* zi = half_.re_[0].data();
  float* zr = half_.im_[0].data();
  const float x0 = bins[0].real(), xh = bins[h].real();
  zr[0] = x0 + xh;
  zi[0] = x0 - xh;
  for (std::size_t k = 1; k < h; ++k) {
    const float ar = bins[k].real(), ai = bins[k].imag();
    const float br = bins[h - k].real(), bi = -bins[h - k].imag();
    const float dr = ar - br, di = ai - bi;
    const float wr = twiddle_re_[k], wi = -twiddle_im_[k];  // w^-k
    const float pr = dr * wr - di * wi, pi = dr * wi + di * wr;
    zr[k] = ar + br - pi;  // + i p
    zi[k] = ai + bi + pr;
  }
  const int b = half_.run();
  const float* yr = half_.im_[b].data();
  const float* yi = half_.re_[b].data();
  for (std::size_t i = 0; i < h; ++i) {
    out[2 * i] = yr[i] * scale;
    out[2 * i + 1] = yi[i] * scale;
  }
}

namespace {

// Plans kept per thread; a table build touches a dozen lengths at most.
constexpr std::size_t kCachedPlans = 32;

template <class Plan>
Plan& cached(std::size_t n) {
  struct Slot {
    std::size_t n;
    std::unique_ptr<Plan> plan;
  };
  thread_local std::vector<Slot> slots;
  thread_local std::size_t next_evicted = 0;
  for (Slot& slot : slots)
    if (slot.n == n) return *slot.plan;
  Slot fresh{n, std::make_unique<Plan>(n)};
  if (slots.size() < kCachedPlans) {
    slots.push_back(std::move(fresh));
    return *slots.back().plan;
  }
  Slot& slot = slots[next_evicted];
  next_evicted = (next_evicted + 1) % kCachedPlans;
  slot = std::move(fresh);
  return *slot.plan;
}

}  // namespace

FftPlan& cached_plan(std::size_t n) {
  return cached<FftPlan>(n);
}
RealFftPlan& cached_real_plan(std::size_t n) {
  return cached<RealFftPlan>(n);
}

}  // namespace quillory::wavetable
