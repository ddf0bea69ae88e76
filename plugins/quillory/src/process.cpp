// The audio half: one host block, split at event times so every event lands on its sample.

#include <algorithm>
#include <cstring>

#include "extensions.hpp"
#include "plugin.hpp"

namespace quillory::plugin {
namespace {

// Hands the host transport to the processor; without one, no tempo and no position.
void begin_block(core::Processor& processor, const clap_event_transport_t* transport) noexcept {
  if (transport == nullptr) return processor.begin(false, false, 0.0f, 0.0);
  const uint32_t playing_bits = CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING;
  processor.begin(
      (transport->flags & CLAP_TRANSPORT_HAS_TEMPO) != 0,
      (transport->flags & playing_bits) == playing_bits, static_cast<float>(transport->tempo),
      static_cast<double>(transport->song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR));
}

// Channel 0 of output port 0, or the message explaining why there is none.
struct Output {
  float* const* channels = nullptr;
  uint32_t count = 0;
  const char* error = nullptr;
};

Output main_output(const clap_process_t& process) noexcept {
  if (process.audio_outputs == nullptr || process.audio_outputs_count == 0) {
    return {.error = message::no_output_port};
  }
  const clap_audio_buffer_t& port = process.audio_outputs[0];
  if (port.data32 == nullptr && port.data64 != nullptr) return {.error = message::expected_f32};
  if (port.data32 == nullptr && port.channel_count != 0) return {.error = message::null_buffers};
  // A first channel without a buffer is as unusable as no channel at all.
  if (port.channel_count == 0 || port.data32 == nullptr || port.data32[0] == nullptr) {
    return {.error = message::no_output_channel};
  }
  return {port.data32, port.channel_count, nullptr};
}

// Channel 0 copied into channels 1, 2, ... up to the first missing buffer.
void copy_to_channels(const Output& output, uint32_t frames) noexcept {
  for (uint32_t c = 1; c < output.count && output.channels[c] != nullptr; ++c) {
    std::memcpy(output.channels[c], output.channels[0], frames * sizeof(float));
  }
}

uint32_t event_count(const clap_input_events_t* in) noexcept {
  return in != nullptr && in->size != nullptr && in->get != nullptr ? in->size(in) : 0;
}

}  // namespace

clap_process_status AudioProcessor::process(const clap_process_t& block, const char*& error) {
  begin_block(processor, block.transport);
  Output output = main_output(block);
  if (output.error != nullptr) {
    error = output.error;
    return CLAP_PROCESS_ERROR;
  }

  // Events in groups of equal time, each followed by the samples up to the next group. Times
  // earlier than the previous event or beyond the block are clamped into place, so a careless
  // host cannot make a range run backwards or past the buffer.
  const uint32_t frames = block.frames_count;
  float* out = output.channels[0];
  const clap_input_events_t* in = block.in_events;
  const uint32_t count = event_count(in);
  uint32_t cursor = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const clap_event_header_t* event = in->get(in, i);
    if (event == nullptr) continue;
    const uint32_t time = std::clamp(event->time, cursor, frames);
    if (time > cursor) {
      processor.render(out + cursor, time - cursor);
      cursor = time;
    }
    apply_event(processor, params, *event);
  }
  if (frames > cursor) processor.render(out + cursor, frames - cursor);

  processor.end();
  if (frames > 0) copy_to_channels(output, frames);
  report_editor_changes(params, block.out_events);
  return processor.is_active() ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_SLEEP;
}

void AudioProcessor::flush(const clap_input_events_t* in, const clap_output_events_t* out) {
  const uint32_t count = event_count(in);
  for (uint32_t i = 0; i < count; ++i) {
    if (const clap_event_header_t* event = in->get(in, i)) apply_event(processor, params, *event);
  }
  report_editor_changes(params, out);
}

}  // namespace quillory::plugin
