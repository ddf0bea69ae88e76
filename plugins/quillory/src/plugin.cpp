#include "plugin.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "checked.hpp"
#include "extensions.hpp"

namespace quillory::plugin {
namespace {

// [main-thread] Builds the core: every parameter at its default, the built-in table installed.
bool plugin_init(const clap_plugin_t* plugin) {
  return checked(plugin, Need::Init, false, [](QuilloryPlugin& self) {
    self.lifecycle = Lifecycle::Initializing;
    try {
      auto core = core::Core::create();
      self.shared.emplace(Shared{core});
      self.main_thread.emplace(MainThread{self.host, std::move(core)});
    } catch (...) {
      self.lifecycle = Lifecycle::InitFailed;
      throw;
    }
    self.lifecycle = Lifecycle::Initialized;
    return true;
  });
}

// [main-thread] Deactivates if needed, then releases everything the instance holds.
void plugin_destroy(const clap_plugin_t* plugin) {
  checked_void(plugin, Need::Destroy, [](QuilloryPlugin& self) {
    self.lifecycle = Lifecycle::Destroying;
    self.audio.reset();
    self.main_thread.reset();
    self.shared.reset();
    self.clap.plugin_data = nullptr;
    delete &self;
  });
}

// [main-thread & !active] Builds the audio half at the host's rate. Frame counts are not needed:
// the engine renders any block length in slices of its own.
bool plugin_activate(const clap_plugin_t* plugin, double sample_rate, uint32_t, uint32_t) {
  return checked(plugin, Need::Activate, false, [&](QuilloryPlugin& self) {
    std::shared_ptr<core::Core> core = self.shared->core;
    core::ParamValues& params = core->params;
    self.audio.emplace(core::Processor(std::move(core), static_cast<float>(sample_rate)), params);
    return true;
  });
}

// [main-thread & active] Drops the audio half and the tables it held.
void plugin_deactivate(const clap_plugin_t* plugin) {
  checked_void(plugin, Need::Active, [](QuilloryPlugin& self) { self.audio.reset(); });
}

// [audio-thread & active] Nothing to prepare.
bool plugin_start_processing(const clap_plugin_t* plugin) {
  return checked(plugin, Need::Active, false, [](QuilloryPlugin&) { return true; });
}

// [audio-thread & active] Hard cut of every voice.
void plugin_stop_processing(const clap_plugin_t* plugin) {
  checked_void(plugin, Need::Active,
               [](QuilloryPlugin& self) { self.audio->processor.reset_voices(); });
}

// [audio-thread & active] Nothing to reset beyond what stop_processing does.
void plugin_reset(const clap_plugin_t* plugin) {
  checked_void(plugin, Need::Active, [](QuilloryPlugin&) {});
}

// [audio-thread & active]
clap_process_status plugin_process(const clap_plugin_t* plugin, const clap_process_t* process) {
  return checked(plugin, Need::Active, clap_process_status{CLAP_PROCESS_ERROR},
                 [&](QuilloryPlugin& self) -> clap_process_status {
                   if (process == nullptr) return CLAP_PROCESS_ERROR;
                   const char* error = nullptr;
                   clap_process_status status = self.audio->process(*process, error);
                   if (error != nullptr) self.log(Severity::Error, error);
                   return status;
                 });
}

// [main-thread, also during init] The extensions, by whole identifier.
const void* plugin_get_extension(const clap_plugin_t* plugin, const char* id) {
  return checked(plugin, Need::Extension, static_cast<const void*>(nullptr),
                 [&](QuilloryPlugin&) { return id != nullptr ? find_extension(id) : nullptr; });
}

// [main-thread] Nothing is ever requested through request_callback.
void plugin_on_main_thread(const clap_plugin_t* plugin) {
  checked_void(plugin, Need::Main, [](QuilloryPlugin&) {});
}

}  // namespace

void refresh_editor(MainThread&) noexcept {}

const clap_plugin_t* create_instance(const clap_host_t* host,
                                     const clap_plugin_descriptor_t* descriptor) noexcept {
  auto* self = new (std::nothrow) QuilloryPlugin{
      .clap = {descriptor, nullptr, plugin_init, plugin_destroy, plugin_activate, plugin_deactivate,
               plugin_start_processing, plugin_stop_processing, plugin_reset, plugin_process,
               plugin_get_extension, plugin_on_main_thread},
      .host = host,
  };
  if (self == nullptr) return nullptr;
  self->clap.plugin_data = self;
  return &self->clap;
}

}  // namespace quillory::plugin
