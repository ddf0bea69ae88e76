// Our FFT against FFTW (single precision, FFTW_MEASURE plans) on the same data, and the mip levels
// of one frame by the fast route against the literal one.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "literal_route.hpp"
#include "wavetable/dsp.hpp"
#include "wavetable/fft.hpp"

namespace wt = quillory::wavetable;

namespace {

std::vector<wt::Complex> random_complex(std::size_t n) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<wt::Complex> x(n);
  for (auto& v : x) v = {u(rng), u(rng)};
  return x;
}

std::vector<float> random_frame(std::size_t n) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = u(rng);
  return x;
}

void BM_FftOurs(benchmark::State& state) {
  const std::size_t n = std::size_t(state.range(0));
  const std::vector<wt::Complex> input = random_complex(n);
  std::vector<wt::Complex> data = input;
  wt::FftPlan& plan = wt::cached_plan(n);
  for (auto _ : state) {
    plan.forward(data);
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
}

// Out of place, so every run transforms the same input.
void BM_FftFftw(benchmark::State& state) {
  const int n = int(state.range(0));
  const std::vector<wt::Complex> input = random_complex(std::size_t(n));
  auto* in = fftwf_alloc_complex(std::size_t(n));
  auto* out = fftwf_alloc_complex(std::size_t(n));
  fftwf_plan plan = fftwf_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
  for (int i = 0; i < n; ++i) {
    in[i][0] = input[std::size_t(i)].real();
    in[i][1] = input[std::size_t(i)].imag();
  }
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}

void BM_FftOursRealFrame(benchmark::State& state) {
  const std::vector<float> frame = random_frame(std::size_t(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(wt::fft(frame));
}

void BM_MipmapsFast(benchmark::State& state) {
  const std::vector<float> frame = random_frame(2048);
  for (auto _ : state) benchmark::DoNotOptimize(wt::mipmaps(frame, 11));
}

void BM_MipmapsLiteral(benchmark::State& state) {
  const std::vector<float> frame = random_frame(2048);
  for (auto _ : state) benchmark::DoNotOptimize(wt::literal::mipmaps(frame, 11));
}

// Before measuring, the fast levels must agree with the literal ones.
bool fast_matches_literal() {
  const std::vector<float> frame = random_frame(2048);
  const std::vector<float> a = wt::mipmaps(frame, 11), b = wt::literal::mipmaps(frame, 11);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(std::abs(a[i] - b[i]) <= 1e-5f)) return false;
  return true;
}

}  // namespace

BENCHMARK(BM_FftOurs)->Arg(2048)->Arg(2039);
BENCHMARK(BM_FftFftw)->Arg(2048)->Arg(2039);
BENCHMARK(BM_FftOursRealFrame)->Arg(2048);
BENCHMARK(BM_MipmapsFast);
BENCHMARK(BM_MipmapsLiteral);

int main(int argc, char** argv) {
  if (!fast_matches_literal()) {
    std::fprintf(stderr, "fast mip levels differ from the literal route\n");
    return EXIT_FAILURE;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return EXIT_FAILURE;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return EXIT_SUCCESS;
}
