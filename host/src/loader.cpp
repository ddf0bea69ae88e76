#include "host/loader.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace quillory::host {

// ---- Module -----------------------------------------------------------------------------------

Result<Module, std::string> Module::open(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    return fail("Couldn't load " + path + ": " + (why != nullptr ? why : "unknown error"));
  }
  auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(handle, "clap_entry"));
  if (entry == nullptr) {
    dlclose(handle);
    return fail(path + " has no clap_entry");
  }
  if (entry->clap_version.major != CLAP_VERSION_MAJOR || entry->init == nullptr ||
      entry->deinit == nullptr || entry->get_factory == nullptr) {
    dlclose(handle);
    return fail(path + " has an incompatible clap_entry");
  }
  if (!entry->init(path.c_str())) {
    dlclose(handle);
    return fail(path + ": clap_entry.init failed");
  }
  return Module(handle, entry);
}

Module::Module(Module&& other) noexcept : handle_(other.handle_), entry_(other.entry_) {
  other.handle_ = nullptr;
  other.entry_ = nullptr;
}

Module::~Module() {
  if (handle_ == nullptr) return;
  entry_->deinit();
  dlclose(handle_);
}

// ---- Host -------------------------------------------------------------------------------------

namespace {

Host& host_of(const clap_host_t* host) {
  return *static_cast<Host*>(host->host_data);
}

void host_log(const clap_host_t* clap, clap_log_severity severity, const char* message) {
  Host& host = host_of(clap);
  host.logs.push_back({severity, message != nullptr ? message : ""});
  if (host.echo_log) std::fprintf(stderr, "[plugin log %d] %s\n", severity, message);
}

void host_params_rescan(const clap_host_t* clap, clap_param_rescan_flags flags) {
  Host& host = host_of(clap);
  ++host.rescans;
  host.last_rescan_flags = flags;
}
void host_params_clear(const clap_host_t*, clap_id, clap_param_clear_flags) {}
void host_params_request_flush(const clap_host_t*) {}

constexpr clap_host_log_t log_extension{host_log};
constexpr clap_host_params_t params_extension{host_params_rescan, host_params_clear,
                                              host_params_request_flush};

const void* host_get_extension(const clap_host_t* clap, const char* id) {
  const Host& host = host_of(clap);
  std::string_view wanted(id != nullptr ? id : "");
  if (host.offer_log && wanted == CLAP_EXT_LOG) return &log_extension;
  if (host.offer_params && wanted == CLAP_EXT_PARAMS) return &params_extension;
  return nullptr;
}

void host_request(const clap_host_t*) {}

}  // namespace

Host::Host()
    : clap_{CLAP_VERSION_INIT,  this,         "quillory-host", "Ostravel",  "", "1.0.0",
            host_get_extension, host_request, host_request,    host_request} {}

// ---- EventList --------------------------------------------------------------------------------

namespace {

uint32_t list_size(const clap_input_events_t* list) {
  return static_cast<uint32_t>(static_cast<const EventList*>(list->ctx)->size());
}
const clap_event_header_t* list_get(const clap_input_events_t* list, uint32_t index) {
  const auto& events = *static_cast<const EventList*>(list->ctx);
  return index < events.size() ? &events[index] : nullptr;
}
bool list_push(const clap_output_events_t* list, const clap_event_header_t* event) {
  if (event == nullptr) return false;
  static_cast<EventList*>(list->ctx)->push(*event);
  return true;
}

}  // namespace

EventList::EventList() : input_{this, list_size, list_get}, output_{this, list_push} {}

void EventList::push(const clap_event_header_t& event) {
  const std::size_t size = std::max<std::size_t>(event.size, sizeof event);
  const std::size_t words = (size + 7) / 8;
  offsets_.push_back(words_.size());
  words_.resize(words_.size() + words);
  std::memcpy(words_.data() + offsets_.back(), &event, size);
}

clap_event_note_t note_event(std::uint16_t type, std::uint32_t time, std::int16_t key,
                             double velocity) {
  clap_event_note_t event{};
  event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, type, 0};
  event.note_id = -1;
  event.port_index = 0;
  event.channel = 0;
  event.key = key;
  event.velocity = velocity;
  return event;
}

clap_event_param_value_t param_event(std::uint32_t time, clap_id id, double value) {
  clap_event_param_value_t event{};
  event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
  event.param_id = id;
  event.note_id = -1;
  event.port_index = -1;
  event.channel = -1;
  event.key = -1;
  event.value = value;
  return event;
}

clap_event_midi_t midi_event(std::uint32_t time, std::uint8_t status, std::uint8_t d1,
                             std::uint8_t d2) {
  clap_event_midi_t event{};
  event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
  event.port_index = 0;
  event.data[0] = status;
  event.data[1] = d1;
  event.data[2] = d2;
  return event;
}

// ---- Instance ---------------------------------------------------------------------------------

Result<Instance, std::string> Instance::create(const Module& module, const Host& host,
                                               const char* plugin_id) {
  const clap_plugin_factory_t* factory = module.plugin_factory();
  if (factory == nullptr) return fail(std::string("The module has no plug-in factory"));
  if (plugin_id == nullptr) {
    if (factory->get_plugin_count(factory) == 0) return fail(std::string("The module is empty"));
    plugin_id = factory->get_plugin_descriptor(factory, 0)->id;
  }
  const clap_plugin_t* plugin = factory->create_plugin(factory, host.clap(), plugin_id);
  if (plugin == nullptr) return fail("create_plugin failed for " + std::string(plugin_id));
  if (!plugin->init(plugin)) {
    plugin->destroy(plugin);
    return fail(std::string("The plug-in's init failed"));
  }
  return Instance(plugin);
}

Instance::~Instance() {
  if (plugin_ == nullptr) return;
  deactivate();
  plugin_->destroy(plugin_);
}

bool Instance::activate(double sample_rate, std::uint32_t max_frames) {
  active_ = plugin_->activate(plugin_, sample_rate, 1, max_frames);
  return active_;
}

void Instance::deactivate() {
  if (!active_) return;
  plugin_->deactivate(plugin_);
  active_ = false;
}

// ---- StereoBlock ------------------------------------------------------------------------------

StereoBlock::StereoBlock(std::uint32_t frames, std::uint32_t count)
    : channels(count, std::vector<float>(frames)), pointers(count) {
  for (std::uint32_t c = 0; c < count; ++c) pointers[c] = channels[c].data();
  port.data32 = pointers.data();
  port.channel_count = count;
}

clap_process_t& StereoBlock::prepare(std::uint32_t frames, const EventList& in,
                                     const EventList& out,
                                     const clap_event_transport_t* transport) {
  process.steady_time = -1;
  process.frames_count = frames;
  process.transport = transport;
  process.audio_inputs = nullptr;
  process.audio_outputs = &port;
  process.audio_inputs_count = 0;
  process.audio_outputs_count = 1;
  process.in_events = in.input();
  process.out_events = out.output();
  return process;
}

}  // namespace quillory::host
