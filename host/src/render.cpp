#include "host/render.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "host/state.hpp"

namespace quillory::host {
namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A host event for one score event at `time` within the block.
void push_event(EventList& list, const ScoreEvent& event, std::uint32_t time, clap_id param) {
  if (auto* on = std::get_if<NoteOn>(&event.what)) {
    auto e = note_event(CLAP_EVENT_NOTE_ON, time, on->key, on->velocity);
    list.push(e.header);
  } else if (auto* off = std::get_if<NoteOff>(&event.what)) {
    auto e = note_event(CLAP_EVENT_NOTE_OFF, time, off->key, 0.0);
    list.push(e.header);
  } else if (auto* midi = std::get_if<Midi>(&event.what)) {
    auto e = midi_event(time, midi->status, midi->d1, midi->d2);
    list.push(e.header);
  } else if (auto* change = std::get_if<ParamChange>(&event.what)) {
    auto e = param_event(time, param, change->value);
    list.push(e.header);
  }
}

std::string flags_text(std::uint32_t flags) {
  static constexpr std::pair<std::uint32_t, const char*> names[] = {
      {CLAP_PARAM_IS_STEPPED, "stepped"},         {CLAP_PARAM_IS_HIDDEN, "hidden"},
      {CLAP_PARAM_IS_AUTOMATABLE, "automatable"}, {CLAP_PARAM_IS_READONLY, "read-only"},
      {CLAP_PARAM_IS_MODULATABLE, "modulatable"},
  };
  std::string text;
  for (auto [bit, name] : names) {
    if ((flags & bit) == 0) continue;
    if (!text.empty()) text += ",";
    text += name;
  }
  return text.empty() ? "-" : text;
}

}  // namespace

std::optional<clap_id> find_param(const Instance& instance, const std::string& id_or_name) {
  auto* params = instance.extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
  if (params == nullptr) return std::nullopt;
  const bool digits =
      !id_or_name.empty() && std::all_of(id_or_name.begin(), id_or_name.end(),
                                         [](char c) { return c >= '0' && c <= '9'; });
  std::optional<clap_id> loose;
  const std::uint32_t count = params->count(instance.plugin());
  for (std::uint32_t i = 0; i < count; ++i) {
    clap_param_info_t info{};
    if (!params->get_info(instance.plugin(), i, &info)) continue;
    if (digits && std::to_string(info.id) == id_or_name) return info.id;
    if (id_or_name == info.name) return info.id;
    if (!loose && same_ignoring_case(id_or_name, info.name)) loose = info.id;
  }
  return loose;
}

Result<void, std::string> restore(const Instance& instance, const RenderOptions& options) {
  if (options.state) {
    auto loaded = load_state(instance, *options.state);
    if (!loaded) return loaded;
  }
  if (options.table_file) {
    // The table travels inside a state document built from the instance's current one, so the
    // parameter values stay as they are.
    auto current = save_state(instance);
    if (!current) return fail(std::move(current.error()));
    auto document = state_with_table_file(*current, *options.table_file);
    if (!document) return fail(*options.table_file + ": " + document.error());
    auto loaded = load_state(instance, *document);
    if (!loaded) return loaded;
  }
  return {};
}

Result<Rendered, std::string> render(const Module& module, const RenderOptions& options) {
  if (!(options.sample_rate >= 1.0) || options.block == 0) {
    return fail(std::string("The sample rate and block size must be positive"));
  }
  Host host;
  host.echo_log = true;
  auto created = Instance::create(module, host);
  if (!created) return fail(created.error());
  Instance& instance = *created;
  if (auto restored = restore(instance, options); !restored) return fail(restored.error());

  // Resolve every named parameter once, up front.
  std::vector<clap_id> ids(options.score.events.size(), CLAP_INVALID_ID);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (auto* change = std::get_if<ParamChange>(&options.score.events[i].what)) {
      auto id = find_param(instance, change->param);
      if (!id) return fail("Unknown parameter: " + change->param);
      ids[i] = *id;
    }
  }
  EventList in, out;
  for (const ParamChange& change : options.params) {
    auto id = find_param(instance, change.param);
    if (!id) return fail("Unknown parameter: " + change.param);
    auto e = param_event(0, *id, change.value);
    in.push(e.header);
  }

  if (!instance.activate(options.sample_rate, options.block)) {
    return fail(std::string("The plug-in's activate failed"));
  }
  const clap_plugin_t* plugin = instance.plugin();
  plugin->start_processing(plugin);

  const double seconds = options.seconds.value_or(options.score.end_seconds() + 2.0);
  const auto total =
      static_cast<std::uint64_t>(std::max(0.0, std::ceil(seconds * options.sample_rate)));
  Rendered result;
  result.interleaved.reserve(total * 2);
  StereoBlock block(options.block);

  clap_event_transport_t transport{};
  transport.header = {sizeof transport, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
  transport.flags =
      CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING;
  transport.tempo = options.score.tempo;

  std::size_t next = 0;
  std::chrono::steady_clock::duration busy{};
  for (std::uint64_t start = 0; start < total; start += options.block) {
    const auto frames =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(options.block, total - start));
    while (next < options.score.events.size()) {
      const ScoreEvent& event = options.score.events[next];
      const auto at = static_cast<std::uint64_t>(std::llround(event.seconds * options.sample_rate));
      if (at >= start + frames) break;
      push_event(in, event, static_cast<std::uint32_t>(at > start ? at - start : 0), ids[next]);
      ++next;
    }
    const double beats =
        static_cast<double>(start) / options.sample_rate * options.score.tempo / 60.0;
    transport.song_pos_beats = static_cast<clap_beattime>(beats * CLAP_BEATTIME_FACTOR);

    const clap_process_t& process = block.prepare(frames, in, out, &transport);
    const auto t0 = std::chrono::steady_clock::now();
    const clap_process_status status = plugin->process(plugin, &process);
    busy += std::chrono::steady_clock::now() - t0;
    if (status == CLAP_PROCESS_ERROR) return fail(std::string("The plug-in's process failed"));
    for (std::uint32_t i = 0; i < frames; ++i) {
      result.interleaved.push_back(block.channels[0][i]);
      result.interleaved.push_back(block.channels[1][i]);
    }
    in.clear();
    out.clear();
  }
  plugin->stop_processing(plugin);
  result.audio_seconds = static_cast<double>(total) / options.sample_rate;
  result.process_seconds = std::chrono::duration<double>(busy).count();
  if (options.save_state) {
    auto saved = save_state(instance);
    if (!saved) return fail(std::move(saved.error()));
    result.state = std::move(*saved);
  }
  return result;
}

Result<std::string, std::string> describe(const Module& module) {
  std::ostringstream text;
  const clap_plugin_factory_t* factory = module.plugin_factory();
  if (factory == nullptr) return fail(std::string("The module has no plug-in factory"));
  const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
  if (d == nullptr) return fail(std::string("The module has no plug-in"));
  text << "plugin   " << d->name << " (" << d->id << ") " << d->version << "\n"
       << "vendor   " << d->vendor << "  " << d->url << "\n"
       << "clap     " << d->clap_version.major << "." << d->clap_version.minor << "."
       << d->clap_version.revision << "\nfeatures";
  for (const char* const* f = d->features; f != nullptr && *f != nullptr; ++f) text << " " << *f;
  text << "\n";
  if (auto* au = static_cast<const clap_plugin_factory_as_auv2_t*>(
          module.factory(CLAP_PLUGIN_FACTORY_INFO_AUV2))) {
    clap_plugin_info_as_auv2_t info{};
    if (au->get_auv2_info(au, 0, &info)) {
      text << "auv2     " << info.au_type << " " << info.au_subt << " " << au->manufacturer_code
           << " (" << au->manufacturer_name << ")\n";
    }
  }

  Host host;
  host.echo_log = true;
  auto created = Instance::create(module, host, d->id);
  if (!created) return fail(created.error());
  const Instance& instance = *created;
  const clap_plugin_t* plugin = instance.plugin();
  if (auto* ports = instance.extension<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS)) {
    for (int input = 0; input < 2; ++input) {
      for (std::uint32_t i = 0; i < ports->count(plugin, input); ++i) {
        clap_audio_port_info_t info{};
        if (!ports->get(plugin, i, input, &info)) continue;
        text << (input ? "audio in " : "audio out") << " " << info.id << " \"" << info.name << "\" "
             << info.channel_count << " ch " << (info.port_type ? info.port_type : "") << "\n";
      }
    }
  }
  if (auto* ports = instance.extension<clap_plugin_note_ports_t>(CLAP_EXT_NOTE_PORTS)) {
    for (std::uint32_t i = 0; i < ports->count(plugin, true); ++i) {
      clap_note_port_info_t info{};
      if (!ports->get(plugin, i, true, &info)) continue;
      text << "note in  " << info.id << " \"" << info.name << "\" dialects 0x" << std::hex
           << info.supported_dialects << std::dec << "\n";
    }
  }
  if (auto* params = instance.extension<clap_plugin_params_t>(CLAP_EXT_PARAMS)) {
    const std::uint32_t count = params->count(plugin);
    text << "parameters " << count << "\n";
    for (std::uint32_t i = 0; i < count; ++i) {
      clap_param_info_t info{};
      if (!params->get_info(plugin, i, &info)) continue;
      char value[64] = "?";
      params->value_to_text(plugin, info.id, info.default_value, value, sizeof value);
      char line[2400];  // room for a full name and module
      std::snprintf(line, sizeof line, "%4u id %-4u %-24s %-16s %10g .. %-10g default %s [%s]\n", i,
                    info.id, info.name, info.module, info.min_value, info.max_value, value,
                    flags_text(info.flags).c_str());
      text << line;
    }
  }
  return text.str();
}

}  // namespace quillory::host
