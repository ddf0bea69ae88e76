#pragma once
// The plug-in extensions (audio ports, note ports, params, state) and the event handling shared by
// process and the parameter flush.

#include "clap/clap.h"
#include "core/param_text.hpp"
#include "core/param_values.hpp"
#include "core/processor.hpp"

namespace quillory::plugin {

// The "clap.state" extension (state.cpp).
extern const clap_plugin_state_t state_extension;

// The extension table for a whole identifier, or null.
const void* find_extension(const char* id) noexcept;

// Applies one core-space parameter-value event naming a known parameter; ignores the rest.
void apply_param_value(core::ParamValues& params, const clap_event_header_t& event) noexcept;

// Applies one input event to the audio half: notes, parameter values and MIDI.
void apply_event(core::Processor& processor, core::ParamValues& params,
                 const clap_event_header_t& event) noexcept;

// Pushes one parameter-value event per editor-changed parameter, in table order, clearing the
// flags. `out` may be null (then the flags are only cleared).
void report_editor_changes(core::ParamValues& params, const clap_output_events_t* out) noexcept;

}  // namespace quillory::plugin
