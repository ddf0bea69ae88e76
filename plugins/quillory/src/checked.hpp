#pragma once
// The one checked entry every instance callback goes through: the pointer checks, the state
// check with its message, and a boundary that turns any exception into "Plugin panicked" and the
// callback's failure value. Each callback states its rule in one line above it.

#include "plugin.hpp"

namespace quillory::plugin {

// The state a callback requires.
enum class Need : std::uint8_t {
  Init,       // init itself: only once, from Created
  Main,       // any main-thread call after init (active or not)
  Extension,  // get_extension: after init and while init runs
  Activate,   // activate: initialised and inactive
  Active,     // audio-thread calls and deactivate: initialised and active
  Destroy,    // destroy: any state but Destroying (an instance the host never initialised, or
              // whose init failed, must still be freed)
};

inline const char* state_problem(const QuilloryPlugin& self, Need need) noexcept {
  switch (self.lifecycle) {
    case Lifecycle::Created:
      return need == Need::Init || need == Need::Destroy ? nullptr : message::not_initialized;
    case Lifecycle::Initializing:
      return need == Need::Extension ? nullptr : message::during_init;
    case Lifecycle::Destroying:
      return message::destroying;
    case Lifecycle::InitFailed:
      return need == Need::Destroy ? nullptr : message::init_failed;
    case Lifecycle::Initialized:
      break;
  }
  switch (need) {
    case Need::Init:
      return message::already_initialized;
    case Need::Activate:
      return self.audio ? message::already_active : nullptr;
    case Need::Active:
      return self.audio ? nullptr : message::not_active;
    default:
      return nullptr;
  }
}

template <class R, class Body>
R checked(const clap_plugin_t* plugin, Need need, R failure, Body&& body) noexcept {
  if (plugin == nullptr) {
    plugin_log(nullptr, Severity::HostMisbehaving, message::null_plugin);
    return failure;
  }
  auto* self = static_cast<QuilloryPlugin*>(plugin->plugin_data);
  if (self == nullptr) {
    plugin_log(nullptr, Severity::HostMisbehaving, message::destroyed);
    return failure;
  }
  if (const char* problem = state_problem(*self, need)) {
    self->log(Severity::HostMisbehaving, problem);
    return failure;
  }
  try {
    return body(*self);
  } catch (...) {
    self->log(Severity::PluginMisbehaving, message::panicked);
    return failure;
  }
}

// The same for callbacks that return nothing.
template <class Body>
void checked_void(const clap_plugin_t* plugin, Need need, Body&& body) noexcept {
  checked(plugin, need, false, [&](QuilloryPlugin& self) {
    body(self);
    return true;
  });
}

}  // namespace quillory::plugin
