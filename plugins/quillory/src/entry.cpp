// The exported entry: a process-wide holder of the factories, initialised by the first init and
// released by the matching last deinit.

#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "clap/clap.h"
#include "factory.hpp"

namespace quillory::plugin {
namespace {

// Built by the first init; owns both factories (each with its own copy of the descriptor).
struct EntryPoint {
  Factory factory = Factory::create();
  AuInfoFactory au_info = AuInfoFactory::create();

  // The factories this bundle serves, by identifier.
  const void* declare_factories(const char* id) const noexcept {
    if (std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0) return &factory.clap;
    if (std::strcmp(id, CLAP_PLUGIN_FACTORY_INFO_AUV2) == 0) return &au_info.clap;
    return nullptr;
  }
};

struct Holder {
  std::mutex mutex;
  std::unique_ptr<EntryPoint> entry;
  unsigned count = 0;
};

Holder& holder() {
  static Holder instance;
  return instance;
}

bool entry_init(const char* /*plugin_path: not needed, everything is built in*/) {
  Holder& h = holder();
  std::lock_guard lock(h.mutex);
  if (h.entry) return ++h.count, true;
  h.entry.reset(new (std::nothrow) EntryPoint);
  if (!h.entry) return false;
  h.count = 1;
  return true;
}

void entry_deinit() {
  Holder& h = holder();
  std::lock_guard lock(h.mutex);
  if (!h.entry) return;
  if (h.count < 2) {
    h.entry.reset();
    h.count = 0;
  } else {
    --h.count;
  }
}

const void* entry_get_factory(const char* id) {
  if (id == nullptr) return nullptr;
  Holder& h = holder();
  std::lock_guard lock(h.mutex);
  return h.entry ? h.entry->declare_factories(id) : nullptr;
}

}  // namespace
}  // namespace quillory::plugin

// The one exported symbol. A constant initialiser: in place before any host reads it.
extern "C" __attribute__((visibility("default"))) const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT,
    quillory::plugin::entry_init,
    quillory::plugin::entry_deinit,
    quillory::plugin::entry_get_factory,
};
