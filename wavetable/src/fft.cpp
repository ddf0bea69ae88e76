// Mixed-radix Stockham FFT over split real/imaginary arrays, with Bluestein's algorithm for
// lengths that have a large prime factor.
//
// Stage layout (decimation in frequency, self-sorting): a stage of radix p works on a length
// n = p * m at stride s and reads x[r + s (q + m j)], j = 0 .. p-1, writing
//   y[r + s (p q + k)] = w^(k q) * sum_j x[r + s (q + m j)] W_p^(j k),   w = e^(-2 pi i / n),
// then the next stage continues with n = m and stride s p. The output is in natural order.
// The inner loop over r shares one twiddle, so it runs a vector of lanes at a time (four floats,
// or eight where the processor has AVX2); the first stage (s = 1) runs lanes of consecutive q
// instead. Vectors are the compiler's vector extension, so no platform header is needed.
#include "wavetable/fft.hpp"

#include "per_thread.hpp"

#include <cmath>
#include <cstdint>
#include <iterator>
#include <numbers>
#include <type_traits>
#include <utility>

namespace quillory::wavetable {
namespace {

// Lanes of four floats (any target) and of eight (x86 with AVX2, chosen at run time). These are
// compiler vector extensions; values are passed by reference so that no function signature
// carries a vector type.
using V4 = float __attribute__((vector_size(16)));
using V8 = float __attribute__((vector_size(32)));

template <class V>
constexpr std::size_t kLanes = sizeof(V) / sizeof(float);

template <class V>
[[gnu::always_inline]] inline void load(V& v, const float* p) {
  __builtin_memcpy(&v, p, sizeof v);
}
template <class V>
[[gnu::always_inline]] inline void store(float* p, const V& v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// Largest prime done by a direct radix-p stage; lengths with a larger prime factor use Bluestein.
constexpr std::size_t kMaxDirectPrime = 31;
constexpr std::size_t kMaxRadix = kMaxDirectPrime + 1;

// Butterflies: in place on p values in split form, forward sign. T is float or a lane vector.
struct Radix2 {
  static constexpr std::size_t p = 2, max_p = p;
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
  static constexpr std::size_t p = 3, max_p = p;
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
  static constexpr std::size_t p = 4, max_p = p;
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
  static constexpr std::size_t p = 5, max_p = p;
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

// Radix 8 as a radix-2 step (with the twiddles W_8^j) followed by two radix-4 butterflies.
struct Radix8 {
  static constexpr std::size_t p = 8, max_p = p;
  template <class T>
  [[gnu::always_inline]] void operator()(T* re, T* im) const {
    constexpr float h = 0.707106781186547524f;  // 1 / sqrt(2)
    T ur[4], ui[4], vr[4], vi[4];
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
      ur[j] = re[j] + re[j + 4];
      ui[j] = im[j] + im[j + 4];
      vr[j] = re[j] - re[j + 4];
      vi[j] = im[j] - im[j + 4];
    }
    const T r1 = (vr[1] + vi[1]) * h, i1 = (vi[1] - vr[1]) * h;   // (1 - i) / sqrt 2
    const T r2 = vi[2], i2 = -vr[2];                              // -i
    const T r3 = (vi[3] - vr[3]) * h, i3 = -(vr[3] + vi[3]) * h;  // (-1 - i) / sqrt 2
    vr[1] = r1, vi[1] = i1, vr[2] = r2, vi[2] = i2, vr[3] = r3, vi[3] = i3;
    Radix4{}(ur, ui);
    Radix4{}(vr, vi);
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
      re[2 * k] = ur[k];
      im[2 * k] = ui[k];
      re[2 * k + 1] = vr[k];
      im[2 * k + 1] = vi[k];
    }
  }
};

// Any odd prime p up to kMaxDirectPrime, as a direct DFT with the table W_p^t = cos - i sin.
struct RadixAny {
  static constexpr std::size_t max_p = kMaxRadix;
  std::size_t p;
  const float* cos;  // cos(2 pi t / p), t = 0 .. p-1
  const float* sin;  // sin(2 pi t / p)
  template <class T>
  [[gnu::always_inline]] void operator()(T* re, T* im) const {
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

template <class T, class W>
[[gnu::always_inline]] inline void twiddle(T& re, T& im, const W& wr, const W& wi) {
  const T r = re * wr - im * wi;
  im = re * wi + im * wr;
  re = r;
}

struct StageArgs {
  std::size_t m, s;
  const float* tw_re;  // w^(k q) at [(k - 1) m + q]
  const float* tw_im;
};

// Butterflies of lanes V over consecutive r, for one q whose twiddles are wr, wi.
template <class V, class K>
[[gnu::always_inline]] inline void butterflies(const K& kernel, std::size_t s, std::size_t m,
                                               std::size_t& r, const float* wr, const float* wi,
                                               const float* __restrict xr,
                                               const float* __restrict xi, float* __restrict yr,
                                               float* __restrict yi) {
  constexpr std::size_t p = K::max_p;
  const std::size_t radix = kernel.p;
  for (; r + kLanes<V> <= s; r += kLanes<V>) {
    V re[p], im[p];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < radix; ++j) {
      load(re[j], xr + r + s * m * j);
      load(im[j], xi + r + s * m * j);
    }
    kernel(re, im);
#pragma GCC unroll 8
    for (std::size_t k = 1; k < radix; ++k) twiddle(re[k], im[k], wr[k], wi[k]);
#pragma GCC unroll 8
    for (std::size_t k = 0; k < radix; ++k) {
      store(yr + r + s * k, re[k]);
      store(yi + r + s * k, im[k]);
    }
  }
}

// Transposes a square of w rows of w lanes (w = 4 or 8): zipping row i with row i + w/2 into
// rows 2i and 2i + 1 rotates the bits of each element's (row, column) index by one, so log2(w)
// rounds of it swap rows and columns.
template <class V>
[[gnu::always_inline]] inline void transpose(V* rows) {
  constexpr std::size_t w = kLanes<V>, half = w / 2;
  constexpr int rounds = w == 4 ? 2 : 3;
#pragma GCC unroll 3
  for (int round = 0; round < rounds; ++round) {
    V out[w];
#pragma GCC unroll 4
    for (std::size_t i = 0; i < half; ++i) {
      const V& a = rows[i];
      const V& b = rows[i + half];
      if constexpr (w == 4) {
        out[2 * i] = __builtin_shufflevector(a, b, 0, 4, 1, 5);
        out[2 * i + 1] = __builtin_shufflevector(a, b, 2, 6, 3, 7);
      } else {
        out[2 * i] = __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11);
        out[2 * i + 1] = __builtin_shufflevector(a, b, 4, 12, 5, 13, 6, 14, 7, 15);
      }
    }
#pragma GCC unroll 8
    for (std::size_t i = 0; i < w; ++i) rows[i] = out[i];
  }
}

// The first stage (s = 1) for lanes V of consecutive q: contiguous loads and twiddles, scattered
// stores. Advances q.
template <class V, class K>
[[gnu::always_inline]] inline void first_butterflies(const K& kernel, const StageArgs& a,
                                                     std::size_t& q, const float* __restrict xr,
                                                     const float* __restrict xi,
                                                     float* __restrict yr, float* __restrict yi) {
  constexpr std::size_t p = K::max_p;
  const std::size_t radix = kernel.p, m = a.m;
  for (; q + kLanes<V> <= m; q += kLanes<V>) {
    V re[p], im[p];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < radix; ++j) {
      load(re[j], xr + q + m * j);
      load(im[j], xi + q + m * j);
    }
    kernel(re, im);
#pragma GCC unroll 8
    for (std::size_t k = 1; k < radix; ++k) {
      V wr, wi;
      load(wr, a.tw_re + (k - 1) * m + q);
      load(wi, a.tw_im + (k - 1) * m + q);
      twiddle(re[k], im[k], wr, wi);
    }
    if constexpr (p == kLanes<V>) {
      // Output k of lane l goes to y[p (q + l) + k]: a square transpose, then whole rows.
      transpose(re);
      transpose(im);
#pragma GCC unroll 8
      for (std::size_t l = 0; l < p; ++l) {
        store(yr + p * (q + l), re[l]);
        store(yi + p * (q + l), im[l]);
      }
    } else {
#pragma GCC unroll 8
      for (std::size_t k = 0; k < radix; ++k)
#pragma GCC unroll 8
        for (std::size_t l = 0; l < kLanes<V>; ++l) {
          yr[radix * (q + l) + k] = re[k][l];
          yi[radix * (q + l) + k] = im[k][l];
        }
    }
  }
}

// One stage from (xr, xi) to (yr, yi), in lanes of V where the stride allows, then of four, then
// single values.
template <class V, class K>
[[gnu::always_inline]] inline void run_stage(const K& kernel, const StageArgs& a,
                                             const float* __restrict xr, const float* __restrict xi,
                                             float* __restrict yr, float* __restrict yi) {
  const std::size_t p = kernel.p, m = a.m, s = a.s;
  std::size_t q0 = 0;
  if (s == 1) {
    first_butterflies<V>(kernel, a, q0, xr, xi, yr, yi);
    first_butterflies<V4>(kernel, a, q0, xr, xi, yr, yi);
  }
  for (std::size_t q = q0; q < m; ++q) {
    float wr[kMaxRadix], wi[kMaxRadix];
    for (std::size_t k = 1; k < p; ++k) {
      wr[k] = a.tw_re[(k - 1) * m + q];
      wi[k] = a.tw_im[(k - 1) * m + q];
    }
    const float* xrq = xr + s * q;
    const float* xiq = xi + s * q;
    float* yrq = yr + s * p * q;
    float* yiq = yi + s * p * q;
    std::size_t r = 0;
    butterflies<V>(kernel, s, m, r, wr, wi, xrq, xiq, yrq, yiq);
    butterflies<V4>(kernel, s, m, r, wr, wi, xrq, xiq, yrq, yiq);
    butterflies<float>(kernel, s, m, r, wr, wi, xrq, xiq, yrq, yiq);
  }
}

// Interleaved complex values to split real and imaginary arrays and back, a lane vector at a time.
template <class V>
[[gnu::always_inline]] inline void split_lanes(const float* __restrict c, float* __restrict re,
                                               float* __restrict im, std::size_t n,
                                               std::size_t& i) {
  constexpr std::size_t w = kLanes<V>;
  for (; i + w <= n; i += w) {
    V a, b, r, m;
    load(a, c + 2 * i);
    load(b, c + 2 * i + w);
    if constexpr (w == 4) {
      r = __builtin_shufflevector(a, b, 0, 2, 4, 6);
      m = __builtin_shufflevector(a, b, 1, 3, 5, 7);
    } else {
      r = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
      m = __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
    }
    store(re + i, r);
    store(im + i, m);
  }
}

template <class V>
[[gnu::always_inline]] inline void join_lanes(const float* __restrict re,
                                              const float* __restrict im, float* __restrict c,
                                              std::size_t n, std::size_t& i) {
  constexpr std::size_t w = kLanes<V>;
  for (; i + w <= n; i += w) {
    V r, m, a, b;
    load(r, re + i);
    load(m, im + i);
    if constexpr (w == 4) {
      a = __builtin_shufflevector(r, m, 0, 4, 1, 5);
      b = __builtin_shufflevector(r, m, 2, 6, 3, 7);
    } else {
      a = __builtin_shufflevector(r, m, 0, 8, 1, 9, 2, 10, 3, 11);
      b = __builtin_shufflevector(r, m, 4, 12, 5, 13, 6, 14, 7, 15);
    }
    store(c + 2 * i, a);
    store(c + 2 * i + w, b);
  }
}

template <class V>
[[gnu::always_inline]] inline void split_all(const float* c, float* re, float* im, std::size_t n) {
  std::size_t i = 0;
  split_lanes<V>(c, re, im, n, i);
  split_lanes<V4>(c, re, im, n, i);
  for (; i < n; ++i) {
    re[i] = c[2 * i];
    im[i] = c[2 * i + 1];
  }
}

template <class V>
[[gnu::always_inline]] inline void join_all(const float* re, const float* im, float* c,
                                            std::size_t n) {
  std::size_t i = 0;
  join_lanes<V>(re, im, c, n, i);
  join_lanes<V4>(re, im, c, n, i);
  for (; i < n; ++i) {
    c[2 * i] = re[i];
    c[2 * i + 1] = im[i];
  }
}

template <class K>
void run_stage_narrow(const K& kernel, const StageArgs& a, const float* xr, const float* xi,
                      float* yr, float* yi) {
  run_stage<V4>(kernel, a, xr, xi, yr, yi);
}

// Eight-lane versions, compiled for AVX2 and used only when the processor has it. Elsewhere
// (other processors, WebAssembly) the "wide" versions are the four-lane ones.
#if defined(__x86_64__) || defined(__i386__)
template <class K>
__attribute__((target("avx2"))) void run_stage_wide(const K& kernel, const StageArgs& a,
                                                    const float* xr, const float* xi, float* yr,
                                                    float* yi) {
  run_stage<V8>(kernel, a, xr, xi, yr, yi);
}

bool wide_lanes_available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

__attribute__((target("avx2"))) void split_wide(const float* c, float* re, float* im,
                                                std::size_t n) {
  split_all<V8>(c, re, im, n);
}
__attribute__((target("avx2"))) void join_wide(const float* re, const float* im, float* c,
                                               std::size_t n) {
  join_all<V8>(re, im, c, n);
}
#else
template <class K>
void run_stage_wide(const K& kernel, const StageArgs& a, const float* xr, const float* xi,
                    float* yr, float* yi) {
  run_stage<V4>(kernel, a, xr, xi, yr, yi);
}

bool wide_lanes_available() {
  return false;
}

void split_wide(const float* c, float* re, float* im, std::size_t n) {
  split_all<V4>(c, re, im, n);
}
void join_wide(const float* re, const float* im, float* c, std::size_t n) {
  join_all<V4>(re, im, c, n);
}
#endif

// Complex values as their interleaved floats, the layout std::complex guarantees.
float* floats(std::span<Complex> data) {
  return reinterpret_cast<float*>(data.data());
}

void split(bool wide, std::span<Complex> data, float* re, float* im) {
  if (wide) {
    split_wide(floats(data), re, im, data.size());
  } else {
    split_all<V4>(floats(data), re, im, data.size());
  }
}

void join(bool wide, const float* re, const float* im, std::span<Complex> data) {
  if (wide) {
    join_wide(re, im, floats(data), data.size());
  } else {
    join_all<V4>(re, im, floats(data), data.size());
  }
}

template <class K>
void run_stage_on(bool wide, const K& kernel, const StageArgs& a, const float* xr, const float* xi,
                  float* yr, float* yi) {
  if (wide) {
    run_stage_wide(kernel, a, xr, xi, yr, yi);
  } else {
    run_stage_narrow(kernel, a, xr, xi, yr, yi);
  }
}

// The factors of n in stage order (eights first, then a four or a two, then odd primes), or an
// empty list when a prime factor is too large for a direct stage.
std::vector<std::size_t> radices(std::size_t n) {
  std::vector<std::size_t> out;
  while (n % 8 == 0) {
    out.push_back(8);
    n /= 8;
  }
  if (n % 4 == 0) {
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

enum class Kind { Two, Three, Four, Five, Eight, Any };

// The butterfly for each radix with its own code; other primes use the direct one.
constexpr Kind kKindOfRadix[] = {Kind::Any,  Kind::Any, Kind::Two, Kind::Three, Kind::Four,
                                 Kind::Five, Kind::Any, Kind::Any, Kind::Eight};

Kind kind_of(std::size_t p) {
  return p < std::size(kKindOfRadix) ? kKindOfRadix[p] : Kind::Any;
}

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

  Bluestein(std::size_t n, Lanes lanes) : sub(smooth_length(2 * n - 1), lanes) {
    const std::size_t m = sub.size();
    chirp_re.resize(n);
    chirp_im.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      // i^2 mod 2n keeps the angle exact for large i.
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

FftPlan::FftPlan(std::size_t n, Lanes lanes)
    : n_(n), wide_(lanes == Lanes::Widest && wide_lanes_available()) {
  for (int b = 0; b < 2; ++b) {
    re_[b].resize(n);
    im_[b].resize(n);
  }
  if (n <= 1) return;
  const std::vector<std::size_t> factors = radices(n);
  if (factors.empty()) {
    bluestein_ = std::make_unique<Bluestein>(n, lanes);
    return;
  }
  std::size_t len = n, s = 1;
  for (const std::size_t p : factors) {
    const std::size_t m = len / p;
    Stage st{kind_of(p), p, m, s, twiddles_.size(), 0};
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
        run_stage_on(wide_, Radix2{}, a, xr, xi, yr, yi);
        break;
      case Kind::Three:
        run_stage_on(wide_, Radix3{}, a, xr, xi, yr, yi);
        break;
      case Kind::Four:
        run_stage_on(wide_, Radix4{}, a, xr, xi, yr, yi);
        break;
      case Kind::Five:
        run_stage_on(wide_, Radix5{}, a, xr, xi, yr, yi);
        break;
      case Kind::Eight:
        run_stage_on(wide_, Radix8{}, a, xr, xi, yr, yi);
        break;
      case Kind::Any: {
        const float* table = twiddles_.data() + st.table;
        run_stage_on(wide_, RadixAny{st.p, table, table + st.p}, a, xr, xi, yr, yi);
        break;
      }
    }
    from = 1 - from;
  }
  return from;
}

void FftPlan::forward(std::span<Complex> data) {
  split(wide_, data.first(n_), re_[0].data(), im_[0].data());
  const int b = run();
  join(wide_, re_[b].data(), im_[b].data(), data.first(n_));
}

// The inverse is the forward transform with real and imaginary parts swapped on the way in and out.
void FftPlan::inverse(std::span<Complex> data) {
  split(wide_, data.first(n_), im_[0].data(), re_[0].data());
  const int b = run();
  join(wide_, im_[b].data(), re_[b].data(), data.first(n_));
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
  spectrum_re_.resize(h + 1);
  spectrum_im_.resize(h + 1);
}

namespace {

template <class T>
[[gnu::always_inline]] inline void load_reversed(T& v, const float* p) {
  load(v, p);  // p is the lowest of the lanes' addresses
  if constexpr (!std::is_same_v<T, float>) v = __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

// Bins k .. k + lanes - 1 of a real frame's transform from the half-length transform Z of its
// samples taken in pairs: with a = Z[k] and b = conj Z[h-k], E = (a + b) / 2, O = (a - b) / 2i
// and X[k] = E + w^k O.
template <class T>
[[gnu::always_inline]] inline void unpack_bins(std::size_t k, std::size_t h,
                                               const float* __restrict zr,
                                               const float* __restrict zi,
                                               const float* __restrict twr,
                                               const float* __restrict twi, float* __restrict xr,
                                               float* __restrict xi) {
  constexpr std::size_t last = sizeof(T) / sizeof(float) - 1;
  T ar, ai, br, bi, wr, wi;
  load(ar, zr + k);
  load(ai, zi + k);
  load_reversed(br, zr + h - k - last);
  load_reversed(bi, zi + h - k - last);
  bi = -bi;
  load(wr, twr + k);
  load(wi, twi + k);
  const T er = (ar + br) * 0.5f, ei = (ai + bi) * 0.5f;
  const T orr = (ai - bi) * 0.5f, oi = (br - ar) * 0.5f;
  const T r = er + orr * wr - oi * wi;
  const T i = ei + orr * wi + oi * wr;
  store(xr + k, r);
  store(xi + k, i);
}

// The reverse: Z[k] = (X[k] + conj X[h-k]) + i w^-k (X[k] - conj X[h-k]), times the scale, is the
// half-length spectrum whose inverse holds the even samples in its real parts and the odd ones in
// its imaginary parts.
template <class T>
[[gnu::always_inline]] inline void pack_bins(std::size_t k, std::size_t h,
                                             const float* __restrict xr, const float* __restrict xi,
                                             const float* __restrict twr,
                                             const float* __restrict twi, float scale,
                                             float* __restrict zr, float* __restrict zi) {
  constexpr std::size_t last = sizeof(T) / sizeof(float) - 1;
  T ar, ai, br, bi, wr, wi;
  load(ar, xr + k);
  load(ai, xi + k);
  load_reversed(br, xr + h - k - last);
  load_reversed(bi, xi + h - k - last);
  bi = -bi;
  load(wr, twr + k);
  load(wi, twi + k);
  wi = -wi;  // w^-k
  const T dr = ar - br, di = ai - bi;
  const T pr = dr * wr - di * wi, pi = dr * wi + di * wr;
  const T r = (ar + br - pi) * scale;  // + i p
  const T i = (ai + bi + pr) * scale;
  store(zr + k, r);
  store(zi + k, i);
}

}  // namespace

void RealFftPlan::forward(std::span<const float> in, std::span<Complex> bins) {
  const std::size_t h = n_ / 2;
  split_all<V4>(in.data(), half_.re_[0].data(), half_.im_[0].data(), h);
  const int b = half_.run();
  const float* zr = half_.re_[b].data();
  const float* zi = half_.im_[b].data();
  float* xr = spectrum_re_.data();
  float* xi = spectrum_im_.data();
  xr[0] = zr[0] + zi[0];
  xi[0] = 0;
  xr[h] = zr[0] - zi[0];
  xi[h] = 0;
  std::size_t k = 1;
  for (; k + 4 <= h; k += 4)
    unpack_bins<V4>(k, h, zr, zi, twiddle_re_.data(), twiddle_im_.data(), xr, xi);
  for (; k < h; ++k)
    unpack_bins<float>(k, h, zr, zi, twiddle_re_.data(), twiddle_im_.data(), xr, xi);
  join_all<V4>(xr, xi, floats(bins), h + 1);
}

void RealFftPlan::inverse(std::span<const Complex> bins, std::span<float> out, float scale) {
  const std::size_t h = n_ / 2;
  float* xr = spectrum_re_.data();
  float* xi = spectrum_im_.data();
  split_all<V4>(reinterpret_cast<const float*>(bins.data()), xr, xi, h + 1);
  // Inverse through the forward plan: the spectrum goes in with real and imaginary swapped.
  float* zi = half_.re_[0].data();
  float* zr = half_.im_[0].data();
  zr[0] = (xr[0] + xr[h]) * scale;
  zi[0] = (xr[0] - xr[h]) * scale;
  std::size_t k = 1;
  for (; k + 4 <= h; k += 4)
    pack_bins<V4>(k, h, xr, xi, twiddle_re_.data(), twiddle_im_.data(), scale, zr, zi);
  for (; k < h; ++k)
    pack_bins<float>(k, h, xr, xi, twiddle_re_.data(), twiddle_im_.data(), scale, zr, zi);
  const int b = half_.run();
  join_all<V4>(half_.im_[b].data(), half_.re_[b].data(), out.data(), h);
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
  QUILLORY_PER_THREAD std::vector<Slot> slots;
  QUILLORY_PER_THREAD std::size_t next_evicted = 0;
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
