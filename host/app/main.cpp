// quillory-host: a small headless CLAP host.
//
//   quillory-host info PLUGIN.clap
//   quillory-host render PLUGIN.clap SCORE(.txt|.mid) OUT.wav [options]
//     --rate HZ        sample rate (48000)
//     --block N        frames per process call (128)
//     --seconds S      length (the score's last event plus two seconds)
//     --param P=V      set parameter P (id or name) to V before the first sample; repeatable
//     --state FILE     load this saved state into the instance before rendering
//     --table FILE     play this wavetable file (WAV or Surge .wt), loaded after any --state
//     --save-state FILE  save the instance's state to FILE after rendering

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/render.hpp"
#include "host/wav.hpp"

namespace {

using namespace quillory::host;

int usage() {
  std::fputs(
      "usage: quillory-host info PLUGIN.clap\n"
      "       quillory-host render PLUGIN.clap SCORE OUT.wav [--rate HZ] [--block N]\n"
      "                            [--seconds S] [--param ID_OR_NAME=VALUE]...\n"
      "                            [--state FILE] [--table FILE] [--save-state FILE]\n",
      stderr);
  return 2;
}

int failed(const std::string& message) {
  std::fprintf(stderr, "quillory-host: %s\n", message.c_str());
  return 1;
}

bool number(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0';
}

int info(const char* path) {
  auto module = Module::open(path);
  if (!module) return failed(module.error());
  auto text = describe(*module);
  if (!text) return failed(text.error());
  std::fputs(text->c_str(), stdout);
  return 0;
}

int render_command(int argc, char** argv) {
  if (argc < 5) return usage();
  RenderOptions options;
  const char* state_path = nullptr;
  const char* save_path = nullptr;
  for (int i = 5; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (i + 1 >= argc) return usage();
    const char* value = argv[++i];
    double v;
    if (flag == "--rate" && number(value, v)) {
      options.sample_rate = v;
    } else if (flag == "--block" && number(value, v) && v >= 1 && v <= 1 << 20) {
      options.block = static_cast<std::uint32_t>(v);
    } else if (flag == "--seconds" && number(value, v) && v >= 0) {
      options.seconds = v;
    } else if (flag == "--param") {
      const std::string_view text = value;
      const auto eq = text.rfind('=');
      if (eq == std::string_view::npos || !number(std::string(text.substr(eq + 1)).c_str(), v)) {
        return usage();
      }
      options.params.push_back({std::string(text.substr(0, eq)), v});
    } else if (flag == "--state") {
      state_path = value;
    } else if (flag == "--table") {
      options.table_file = value;
    } else if (flag == "--save-state") {
      save_path = value;
      options.save_state = true;
    } else {
      return usage();
    }
  }

  const std::string score_path = argv[3];
  auto bytes = read_file(score_path);
  if (!bytes) return failed(bytes.error());
  const bool midi = score_path.ends_with(".mid") || score_path.ends_with(".midi");
  auto score = midi ? parse_midi_file(*bytes)
                    : parse_score(std::string_view(reinterpret_cast<const char*>(bytes->data()),
                                                   bytes->size()));
  if (!score) return failed(score.error());
  options.score = std::move(*score);
  if (state_path != nullptr) {
    auto state = read_file(state_path);
    if (!state) return failed(state.error());
    options.state.emplace(state->begin(), state->end());
  }

  auto module = Module::open(argv[2]);
  if (!module) return failed(module.error());
  auto rendered = render(*module, options);
  if (!rendered) return failed(rendered.error());
  auto written =
      write_file(argv[4], encode_wav_f32(rendered->interleaved, rendered->channels,
                                         static_cast<std::uint32_t>(options.sample_rate)));
  if (!written) return failed(written.error());
  if (save_path != nullptr) {
    auto saved = write_file(
        save_path, std::vector<std::uint8_t>(rendered->state.begin(), rendered->state.end()));
    if (!saved) return failed(saved.error());
  }
  std::printf("wrote %s: %.3f s at %.0f Hz, %u-frame blocks\n", argv[4], rendered->audio_seconds,
              options.sample_rate, options.block);
  std::printf("real-time factor: %.1fx\n", rendered->realtime_factor());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string_view command = argv[1];
  if (command == "info") return argc == 3 ? info(argv[2]) : usage();
  if (command == "render") return render_command(argc, argv);
  return usage();
}
