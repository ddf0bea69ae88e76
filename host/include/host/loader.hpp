#pragma once
// Loading a CLAP module the way a host does: dlopen, the exported clap_entry, init, factories;
// our side of the host interface (log capture, parameter rescans); event lists; and one plug-in
// instance with its lifecycle.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clap/clap.h"
#include "wavetable/result.hpp"

namespace quillory::host {

// A loaded and initialised module. Destruction calls deinit and unloads the library.
class Module {
 public:
  static Result<Module, std::string> open(const std::string& path);
  Module(Module&& other) noexcept;
  Module& operator=(Module&&) = delete;
  Module(const Module&) = delete;
  ~Module();

  const clap_plugin_entry_t& entry() const { return *entry_; }
  const void* factory(const char* id) const { return entry_->get_factory(id); }
  const clap_plugin_factory_t* plugin_factory() const {
    return static_cast<const clap_plugin_factory_t*>(factory(CLAP_PLUGIN_FACTORY_ID));
  }

 private:
  Module(void* handle, const clap_plugin_entry_t* entry) : handle_(handle), entry_(entry) {}
  void* handle_;
  const clap_plugin_entry_t* entry_;
};

// One log line the plug-in sent us.
struct LogLine {
  clap_log_severity severity;
  std::string message;
};

// Our clap_host. Which host extensions it offers can be switched off to test fallbacks.
class Host {
 public:
  Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const clap_host_t* clap() const { return &clap_; }

  bool offer_log = true;
  bool offer_params = true;
  bool echo_log = false;      // also print log lines on standard error
  std::vector<LogLine> logs;  // every message received through "clap.log"
  int rescans = 0;            // "clap.params" rescan requests
  std::uint32_t last_rescan_flags = 0;

 private:
  clap_host_t clap_;
};

// A list of events that serves as the input list of a block and as an output queue.
class EventList {
 public:
  EventList();
  EventList(const EventList&) = delete;
  EventList& operator=(const EventList&) = delete;

  void push(const clap_event_header_t& event);
  void clear() {
    words_.clear();
    offsets_.clear();
  }
  std::size_t size() const { return offsets_.size(); }
  const clap_event_header_t& operator[](std::size_t i) const {
    return *reinterpret_cast<const clap_event_header_t*>(words_.data() + offsets_[i]);
  }
  // Reserves room so that this many events of up to 64 bytes each do not allocate.
  void reserve(std::size_t events) {
    offsets_.reserve(events);
    words_.reserve(events * 8);
  }

  const clap_input_events_t* input() const { return &input_; }
  const clap_output_events_t* output() const { return &output_; }

 private:
  // Events are stored in 8-byte words so every struct may be read in place.
  std::vector<std::uint64_t> words_;
  std::vector<std::size_t> offsets_;  // in words
  clap_input_events_t input_;
  clap_output_events_t output_;
};

// Event builders.
clap_event_note_t note_event(std::uint16_t type, std::uint32_t time, std::int16_t key,
                             double velocity);
clap_event_param_value_t param_event(std::uint32_t time, clap_id id, double value);
clap_event_midi_t midi_event(std::uint32_t time, std::uint8_t status, std::uint8_t d1,
                             std::uint8_t d2);

// One plug-in instance, destroyed with this object (deactivated first if needed).
class Instance {
 public:
  static Result<Instance, std::string> create(const Module& module, const Host& host,
                                              const char* plugin_id = nullptr);
  Instance(Instance&& other) noexcept : plugin_(other.plugin_), active_(other.active_) {
    other.plugin_ = nullptr;
  }
  Instance& operator=(Instance&&) = delete;
  ~Instance();

  const clap_plugin_t* plugin() const { return plugin_; }
  template <class T>
  const T* extension(const char* id) const {
    return static_cast<const T*>(plugin_->get_extension(plugin_, id));
  }
  bool activate(double sample_rate, std::uint32_t max_frames = 4096);
  void deactivate();
  bool active() const { return active_; }

 private:
  explicit Instance(const clap_plugin_t* plugin) : plugin_(plugin) {}
  const clap_plugin_t* plugin_;
  bool active_ = false;
};

// Output buffers for one stereo port, and a process record pointing at them.
struct StereoBlock {
  explicit StereoBlock(std::uint32_t frames, std::uint32_t channels = 2);
  std::vector<std::vector<float>> channels;
  std::vector<float*> pointers;
  clap_audio_buffer_t port{};
  clap_process_t process{};

  // Points the process record at `in` and `out` for a block of `frames` (at most the capacity).
  clap_process_t& prepare(std::uint32_t frames, const EventList& in, const EventList& out,
                          const clap_event_transport_t* transport = nullptr);
};

}  // namespace quillory::host
