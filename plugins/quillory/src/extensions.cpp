#include "extensions.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "checked.hpp"

namespace quillory::plugin {
namespace {

// An event of the core space whose header claims at least the size of its struct; anything
// shorter would be read past its end.
template <class Event>
const Event* core_event(const clap_event_header_t& header, uint16_t type) noexcept {
  if (header.space_id != CLAP_CORE_EVENT_SPACE_ID || header.type != type) return nullptr;
  if (header.size < sizeof(Event)) return nullptr;
  return reinterpret_cast<const Event*>(&header);
}

// Copies text into a fixed C string field, cut to fit and always NUL-terminated.
template <std::size_t N>
void copy_text(char (&field)[N], std::string_view text) noexcept {
  std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

// ---- audio ports: one stereo output "main" --------------------------------------------------

constexpr clap_id main_port_id = 1;

// [main-thread]
uint32_t audio_ports_count(const clap_plugin_t* plugin, bool is_input) {
  return checked(plugin, Need::Main, uint32_t{0},
                 [&](QuilloryPlugin&) { return is_input ? 0u : 1u; });
}

// [main-thread]
bool audio_ports_get(const clap_plugin_t* plugin, uint32_t index, bool is_input,
                     clap_audio_port_info_t* info) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin&) {
    if (is_input || index != 0 || info == nullptr) return false;
    info->id = main_port_id;
    copy_text(info->name, "main");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
  });
}

constexpr clap_plugin_audio_ports_t audio_ports{audio_ports_count, audio_ports_get};

// ---- note ports: one input "notes", CLAP and MIDI dialects -----------------------------------

// [main-thread]
uint32_t note_ports_count(const clap_plugin_t* plugin, bool is_input) {
  return checked(plugin, Need::Main, uint32_t{0},
                 [&](QuilloryPlugin&) { return is_input ? 1u : 0u; });
}

// [main-thread]
bool note_ports_get(const clap_plugin_t* plugin, uint32_t index, bool is_input,
                    clap_note_port_info_t* info) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin&) {
    if (!is_input || index != 0 || info == nullptr) return false;
    info->id = main_port_id;
    info->supported_dialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI;
    info->preferred_dialect = CLAP_NOTE_DIALECT_CLAP;
    copy_text(info->name, "notes");
    return true;
  });
}

constexpr clap_plugin_note_ports_t note_ports{note_ports_count, note_ports_get};

// ---- params -----------------------------------------------------------------------------------

// The table's host flags in CLAP's bits.
uint32_t clap_flags(const core::ParamDef& row) noexcept {
  const uint32_t flags = core::host_flags(row);
  return (core::has_flag(flags, core::ParamFlag::Stepped) ? uint32_t{CLAP_PARAM_IS_STEPPED} : 0u) |
         (core::has_flag(flags, core::ParamFlag::Hidden) ? uint32_t{CLAP_PARAM_IS_HIDDEN} : 0u) |
         (core::has_flag(flags, core::ParamFlag::Automatable) ? uint32_t{CLAP_PARAM_IS_AUTOMATABLE}
                                                              : 0u);
}

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool valid_utf8(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    int extra;
    uint32_t min;
    uint32_t code;
    if (c < 0x80) {
      ++p;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    p += extra + 1;
  }
  return true;
}

// The table row for a host id; logs "Invalid param_id" for CLAP_INVALID_ID.
const core::ParamDef* row_for(const QuilloryPlugin& self, clap_id id) noexcept {
  if (id == CLAP_INVALID_ID) {
    self.log(Severity::HostMisbehaving, message::invalid_param_id);
    return nullptr;
  }
  auto index = core::index_of(id);
  return index ? &core::param_table[*index] : nullptr;
}

core::ParamValues& values(QuilloryPlugin& self) noexcept {
  return self.shared->core->params;
}

// [main-thread]
uint32_t params_count(const clap_plugin_t* plugin) {
  return checked(plugin, Need::Main, uint32_t{0},
                 [](QuilloryPlugin&) { return static_cast<uint32_t>(core::param_count); });
}

// [main-thread]
bool params_get_info(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin&) {
    if (index >= core::param_count || info == nullptr) return false;
    const core::ParamDef& row = core::param_table[index];
    info->id = row.id;
    info->flags = clap_flags(row);
    info->cookie = nullptr;
    copy_text(info->name, row.name);
    copy_text(info->module, row.module);
    info->min_value = row.min;
    info->max_value = row.max;
    info->default_value = row.default_value;
    return true;
  });
}

// [main-thread]
bool params_get_value(const clap_plugin_t* plugin, clap_id id, double* value) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin& self) {
    const core::ParamDef* row = row_for(self, id);
    if (row == nullptr || value == nullptr) return false;
    *value = values(self).get(static_cast<std::size_t>(row - core::param_table.data()));
    return true;
  });
}

// [main-thread]
bool params_value_to_text(const clap_plugin_t* plugin, clap_id id, double value, char* buffer,
                          uint32_t capacity) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin& self) {
    const core::ParamDef* row = row_for(self, id);
    if (row == nullptr || buffer == nullptr) return false;
    std::string text = core::display(*row, static_cast<float>(value));
    if (text.size() + 1 > capacity) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
  });
}

// [main-thread]
bool params_text_to_value(const clap_plugin_t* plugin, clap_id id, const char* text,
                          double* value) {
  return checked(plugin, Need::Main, false, [&](QuilloryPlugin& self) {
    const core::ParamDef* row = row_for(self, id);
    if (row == nullptr || text == nullptr || value == nullptr) return false;
    std::string_view view(text);
    if (!valid_utf8(view)) return false;
    std::optional<float> parsed = core::parse(*row, view);
    if (!parsed) return false;
    *value = *parsed;
    return true;
  });
}

// [active ? audio-thread : main-thread] While active the audio half takes the whole event list
// like a block without rendering; while inactive only parameter values are applied.
void params_flush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                  const clap_output_events_t* out) {
  checked_void(plugin, Need::Main, [&](QuilloryPlugin& self) {
    if (self.audio) return self.audio->flush(in, out);
    core::ParamValues& params = values(self);
    uint32_t count = in != nullptr && in->size != nullptr ? in->size(in) : 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (const clap_event_header_t* event = in->get(in, i)) apply_param_value(params, *event);
    }
    report_editor_changes(params, out);
  });
}

constexpr clap_plugin_params_t params_extension{params_count,         params_get_info,
                                                params_get_value,     params_value_to_text,
                                                params_text_to_value, params_flush};

// The extensions this plug-in offers, by identifier.
struct Extension {
  std::string_view id;
  const void* table;
};
constexpr Extension extensions[] = {
    {CLAP_EXT_AUDIO_PORTS, &audio_ports},
    {CLAP_EXT_NOTE_PORTS, &note_ports},
    {CLAP_EXT_PARAMS, &params_extension},
    {CLAP_EXT_STATE, &state_extension},
};

}  // namespace

const void* find_extension(const char* id) noexcept {
  std::string_view wanted(id);
  for (const Extension& extension : extensions) {
    if (extension.id == wanted) return extension.table;
  }
  return nullptr;
}

void apply_param_value(core::ParamValues& params, const clap_event_header_t& header) noexcept {
  auto* event = core_event<clap_event_param_value_t>(header, CLAP_EVENT_PARAM_VALUE);
  if (event == nullptr || event->param_id == CLAP_INVALID_ID) return;
  if (auto index = core::index_of(event->param_id)) {
    params.set(*index, static_cast<float>(event->value));
  }
}

void apply_event(core::Processor& processor, core::ParamValues& params,
                 const clap_event_header_t& header) noexcept {
  if (header.space_id != CLAP_CORE_EVENT_SPACE_ID) return;
  switch (header.type) {
    case CLAP_EVENT_NOTE_ON:
      if (auto* note = core_event<clap_event_note_t>(header, CLAP_EVENT_NOTE_ON)) {
        // Keys above 127 are not MIDI keys either: ignored like negative ones.
        if (note->key >= 0 && note->key <= 127) {
          processor.note_on(static_cast<uint8_t>(note->key), static_cast<float>(note->velocity));
        }
      }
      break;
    case CLAP_EVENT_NOTE_OFF:
      if (auto* note = core_event<clap_event_note_t>(header, CLAP_EVENT_NOTE_OFF)) {
        if (note->key >= 0 && note->key <= 127) {
          processor.note_off(static_cast<uint8_t>(note->key));
        }
      }
      break;
    case CLAP_EVENT_PARAM_VALUE:
      apply_param_value(params, header);
      break;
    case CLAP_EVENT_MIDI:
      if (auto* midi = core_event<clap_event_midi_t>(header, CLAP_EVENT_MIDI)) {
        processor.midi(midi->data[0], midi->data[1], midi->data[2]);
      }
      break;
    default:
      break;  // choke, note end, expressions, modulation, gestures, transport, SysEx, MIDI 2
  }
}

void report_editor_changes(core::ParamValues& params, const clap_output_events_t* out) noexcept {
  params.take_editor_changes([&](std::size_t index) {
    if (out == nullptr || out->try_push == nullptr) return;
    clap_event_param_value_t event{};
    event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    event.param_id = core::param_table[index].id;
    event.cookie = nullptr;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = params.get(index);
    out->try_push(out, &event.header);  // a full host queue drops the report; nothing to retry
  });
}

}  // namespace quillory::plugin
