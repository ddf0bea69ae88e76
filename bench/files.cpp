// Wavetable file loading: read_table_file of a 256 x 2048 table as a 24-bit stereo WAV (target
// <= 3 ms with the file cached) and as a float Surge file (target <= 1.5 ms). The mono decode is
// also measured against a literal per-sample reference, whose output it must match.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/table_file.hpp"
#include "wavetable/wav.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFrames = 256;
constexpr std::size_t kFrameSize = 2048;
constexpr std::size_t kSamples = kFrames * kFrameSize;

void put(Bytes& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A test signal: each frame a sine with one more harmonic than the last, in [-1, 1].
float signal(std::size_t i) {
  const double phase = 2 * M_PI * double(i % kFrameSize) / kFrameSize;
  return float(0.9 * std::sin(phase * double(1 + i / kFrameSize % 16)));
}

Bytes wav_24_stereo() {
  Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  put(b, 16, 4);
  put(b, 1, 2);      // PCM
  put(b, 2, 2);      // channels
  put(b, 48000, 4);  // sample rate
  put(b, 48000 * 6, 4);
  put(b, 6, 2);
  put(b, 24, 2);
  b.insert(b.end(), {'c', 'l', 'm', ' '});
  const char clm[] = "<!>2048 01000000 wavetable";
  put(b, sizeof clm - 1, 4);
  b.insert(b.end(), clm, clm + sizeof clm - 1);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(b, kSamples * 6, 4);
  for (std::size_t i = 0; i < kSamples; ++i) {
    const auto v = static_cast<std::uint32_t>(std::lround(signal(i) * 8388607.0f));
    put(b, v, 3);                                                 // left
    put(b, static_cast<std::uint32_t>(-std::int32_t(v / 2)), 3);  // right
  }
  return b;
}

Bytes surge_float() {
  Bytes b = {'v', 'a', 'w', 't'};
  put(b, kFrameSize, 4);
  put(b, kFrames, 2);
  put(b, 0, 2);
  for (std::size_t i = 0; i < kSamples; ++i) {
    std::uint32_t bits;
    const float f = signal(i);
    std::memcpy(&bits, &f, 4);
    put(b, bits, 4);
  }
  return b;
}

fs::path write_temp(const char* name, const Bytes& bytes) {
  const fs::path path =
      fs::temp_directory_path() / ("quillory_bench_" + std::to_string(::getpid()) + "_" + name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

void load(benchmark::State& state, const fs::path& path, std::size_t file_bytes) {
  for (auto _ : state) {
    auto table = quillory::core::read_table_file(path);
    if (!table || table->data.size() != kSamples) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(table);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations() * file_bytes));
}

void BM_ReadTableFile_Wav24Stereo(benchmark::State& state) {
  const Bytes bytes = wav_24_stereo();
  const fs::path path = write_temp("table.wav", bytes);
  load(state, path, bytes.size());
  fs::remove(path);
}
BENCHMARK(BM_ReadTableFile_Wav24Stereo)->Unit(benchmark::kMillisecond);

void BM_ReadTableFile_SurgeFloat(benchmark::State& state) {
  const Bytes bytes = surge_float();
  const fs::path path = write_temp("table.wt", bytes);
  load(state, path, bytes.size());
  fs::remove(path);
}
BENCHMARK(BM_ReadTableFile_SurgeFloat)->Unit(benchmark::kMillisecond);

// The mono mix written literally: every sample's format chosen per sample, every byte read one
// at a time, as the conversion table reads.
std::vector<float> decode_mono_literal(const quillory::wavetable::wav::Fmt& fmt,
                                       std::span<const std::uint8_t> data) {
  const std::size_t b = fmt.bits_per_sample / 8u;
  const std::size_t block = fmt.channels * b;
  std::vector<float> out;
  const float s = 1.0f / float(fmt.channels);
  for (std::size_t at = 0; at + block <= data.size(); at += block) {
    float sum = -0.0f;
    for (std::size_t c = 0; c < fmt.channels; ++c) {
      const std::uint8_t* p = data.data() + at + c * b;
      std::int32_t v = 0;
      switch (fmt.bits_per_sample) {
        case 8:
          sum += float(int(p[0]) - 128) * 0.0078125f;
          break;
        case 16:
          sum += float(std::int16_t(p[0] | p[1] << 8)) * 0x1p-15f;
          break;
        case 24:
          v = std::int32_t(std::uint32_t(p[0]) << 8 | std::uint32_t(p[1]) << 16 |
                           std::uint32_t(p[2]) << 24);
          sum += float(v) * 0x1p-31f;
          break;
      }
    }
    out.push_back(sum * s);
  }
  return out;
}

const quillory::wavetable::wav::Fmt kFmt24Stereo{48000, 2, 24,
                                                 quillory::wavetable::wav::SampleFormat::Pcm};

std::span<const std::uint8_t> data_of(const Bytes& wav) {
  return std::span(wav).subspan(wav.size() - kSamples * 6);
}

void BM_DecodeMono24Stereo(benchmark::State& state) {
  const Bytes wav = wav_24_stereo();
  const auto data = data_of(wav);
  if (kFmt24Stereo.decode_mono(data) != decode_mono_literal(kFmt24Stereo, data)) {
    state.SkipWithError("decode_mono differs from the literal reference");
  }
  for (auto _ : state) benchmark::DoNotOptimize(kFmt24Stereo.decode_mono(data));
  state.SetBytesProcessed(std::int64_t(state.iterations() * data.size()));
}
BENCHMARK(BM_DecodeMono24Stereo)->Unit(benchmark::kMicrosecond);

void BM_DecodeMono24Stereo_LiteralReference(benchmark::State& state) {
  const Bytes wav = wav_24_stereo();
  const auto data = data_of(wav);
  for (auto _ : state) benchmark::DoNotOptimize(decode_mono_literal(kFmt24Stereo, data));
  state.SetBytesProcessed(std::int64_t(state.iterations() * data.size()));
}
BENCHMARK(BM_DecodeMono24Stereo_LiteralReference)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
