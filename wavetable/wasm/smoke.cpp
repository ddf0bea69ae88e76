// Builds the wavetable library for WebAssembly (wasm32-wasi) and runs a few calls, so a change that
// only the page's web module would trip over (exceptions, platform headers, per-thread runtime
// support) fails the tests. Run by scripts/wasm_check.sh.
#include <cstdio>
#include <vector>

#include "wavetable/dsp.hpp"
#include "wavetable/surge.hpp"
#include "wavetable/wav.hpp"

int main() {
  std::vector<float> saw(2048);
  for (std::size_t i = 0; i < saw.size(); ++i) saw[i] = static_cast<float>(i) / 2048.0f - 0.5f;
  const auto levels = quillory::wavetable::mipmaps(saw, 11);
  const std::vector<std::uint8_t> junk(12, 0);
  const bool wav_refused = !quillory::wavetable::wav::decode(junk).has_value();
  const bool surge_refused = !quillory::wavetable::surge::decode(junk).has_value();
  const bool ok = levels.size() == 6144 && wav_refused && surge_refused;
  std::printf("wasm smoke: %zu level samples, junk refused: %d %d\n", levels.size(), wav_refused,
              surge_refused);
  return ok ? 0 : 1;
}
