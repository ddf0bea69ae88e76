#pragma once
// Shared pieces of the integration tests: the built Quillory.clap loaded through quillory-host's
// loader, an initialised instance, and helpers to run blocks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "factory.hpp"
#include "host/loader.hpp"
#include "plugin.hpp"

namespace quillory::test {

using host::EventList;
using host::Host;
using host::Instance;
using host::Module;
using host::StereoBlock;

inline Module open_module() {
  auto module = Module::open(QUILLORY_CLAP_PATH);
  if (!module) {
    ADD_FAILURE() << module.error();
    std::abort();
  }
  return std::move(*module);
}

// A host and one initialised instance: from the built module (as a host loads it), or from the
// plug-in objects linked into this test when the test needs to reach inside the instance.
struct Loaded {
  explicit Loaded(bool in_process = false) {
    const clap_plugin_factory_t* factory = &local.clap;
    if (!in_process) {
      module.emplace(open_module());
      factory = module->plugin_factory();
    }
    plugin = factory->create_plugin(factory, host.clap(), plugin::plugin_id);
    EXPECT_NE(plugin, nullptr);
    EXPECT_TRUE(plugin->init(plugin));
  }
  ~Loaded() { plugin->destroy(plugin); }
  Loaded(const Loaded&) = delete;

  template <class T>
  const T& extension(const char* id) const {
    auto* table = static_cast<const T*>(plugin->get_extension(plugin, id));
    EXPECT_NE(table, nullptr) << id;
    return *table;
  }
  const clap_plugin_params_t& params() const {
    return extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
  }
  // The instance's own state (in-process instances only).
  plugin::QuilloryPlugin& self() const {
    return *static_cast<plugin::QuilloryPlugin*>(plugin->plugin_data);
  }
  // Messages the instance logged, in order.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& line : host.logs) out.push_back(line.message);
    return out;
  }

  plugin::Factory local = plugin::Factory::create();
  std::optional<Module> module;
  Host host;
  const clap_plugin_t* plugin = nullptr;
};

// An active instance with a stereo block of `frames` and event lists.
struct Running : Loaded {
  explicit Running(std::uint32_t frames = 256, double rate = 48000.0, bool in_process = false)
      : Loaded(in_process), block(frames), frames(frames) {
    EXPECT_TRUE(plugin->activate(plugin, rate, 1, frames));
    EXPECT_TRUE(plugin->start_processing(plugin));
  }

  clap_process_status run(std::uint32_t n = 0) {
    const clap_process_t& process = block.prepare(n != 0 ? n : frames, in, out);
    const clap_process_status status = plugin->process(plugin, &process);
    in.clear();
    return status;
  }
  template <class Event>
  void push(const Event& event) {
    in.push(event.header);
  }
  const std::vector<float>& left() const { return block.channels[0]; }

  StereoBlock block;
  std::uint32_t frames;
  EventList in, out;
};

inline float peak(const float* samples, std::size_t n) {
  float p = 0.0f;
  for (std::size_t i = 0; i < n; ++i) p = std::max(p, std::fabs(samples[i]));
  return p;
}

inline std::optional<std::size_t> first_nonzero(const std::vector<float>& samples) {
  auto it = std::find_if(samples.begin(), samples.end(), [](float s) { return s != 0.0f; });
  if (it == samples.end()) return std::nullopt;
  return static_cast<std::size_t>(it - samples.begin());
}

}  // namespace quillory::test
