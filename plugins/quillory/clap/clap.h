/* Our declarations of the CLAP plug-in ABI, version 1.1.9: the parts the Quillory plug-in and
 * quillory-host use. Written from the ABI's documentation; every layout must match the real ABI
 * byte for byte, because real hosts load the plug-in and our host loads real plug-ins. The sizes
 * and offsets we are sure of are checked at the end of the file (for LP64 targets).
 *
 * Plain C: structs of data and function pointers with C linkage and the platform's default
 * calling convention (the ABI only asks for __cdecl on 32-bit Windows, which we do not build). */
#ifndef QUILLORY_CLAP_H
#define QUILLORY_CLAP_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- version ---------------------------------------------------------------------------- */

typedef struct clap_version {
  uint32_t major;
  uint32_t minor;
  uint32_t revision;
} clap_version_t;

#define CLAP_VERSION_MAJOR 1u
#define CLAP_VERSION_MINOR 1u
#define CLAP_VERSION_REVISION 9u
#define CLAP_VERSION_INIT {CLAP_VERSION_MAJOR, CLAP_VERSION_MINOR, CLAP_VERSION_REVISION}

/* ---- ids, fixed-point times, string sizes ------------------------------------------------ */

typedef uint32_t clap_id;
#define CLAP_INVALID_ID UINT32_MAX

/* Beat and second positions are signed 64-bit fixed point with 31 fractional bits. */
typedef int64_t clap_beattime;
typedef int64_t clap_sectime;
#define CLAP_BEATTIME_FACTOR (((int64_t)1) << 31)
#define CLAP_SECTIME_FACTOR (((int64_t)1) << 31)

#define CLAP_NAME_SIZE 256
#define CLAP_PATH_SIZE 1024

/* ---- host ------------------------------------------------------------------------------- */

typedef struct clap_host {
  clap_version_t clap_version;
  void* host_data;
  const char* name;
  const char* vendor;
  const char* url;
  const char* version;
  const void* (*get_extension)(const struct clap_host* host, const char* extension_id);
  void (*request_restart)(const struct clap_host* host);
  void (*request_process)(const struct clap_host* host);
  void (*request_callback)(const struct clap_host* host);
} clap_host_t;

/* ---- events ----------------------------------------------------------------------------- */

typedef struct clap_event_header {
  uint32_t size;     /* size of the whole event, header included */
  uint32_t time;     /* sample offset within the block */
  uint16_t space_id; /* CLAP_CORE_EVENT_SPACE_ID for the events below */
  uint16_t type;
  uint32_t flags;
} clap_event_header_t;

#define CLAP_CORE_EVENT_SPACE_ID 0

enum clap_event_flags {
  CLAP_EVENT_IS_LIVE = 1 << 0,
  CLAP_EVENT_DONT_RECORD = 1 << 1,
};

enum {
  CLAP_EVENT_NOTE_ON = 0,
  CLAP_EVENT_NOTE_OFF = 1,
  CLAP_EVENT_NOTE_CHOKE = 2,
  CLAP_EVENT_NOTE_END = 3,
  CLAP_EVENT_NOTE_EXPRESSION = 4,
  CLAP_EVENT_PARAM_VALUE = 5,
  CLAP_EVENT_PARAM_MOD = 6,
  CLAP_EVENT_PARAM_GESTURE_BEGIN = 7,
  CLAP_EVENT_PARAM_GESTURE_END = 8,
  CLAP_EVENT_TRANSPORT = 9,
  CLAP_EVENT_MIDI = 10,
  CLAP_EVENT_MIDI_SYSEX = 11,
  CLAP_EVENT_MIDI2 = 12,
};

/* Note on, off, choke and end. -1 in note_id, port_index, channel or key means "any". */
typedef struct clap_event_note {
  clap_event_header_t header;
  int32_t note_id;
  int16_t port_index;
  int16_t channel;
  int16_t key;
  double velocity; /* 0..1 */
} clap_event_note_t;

typedef struct clap_event_param_value {
  clap_event_header_t header;
  clap_id param_id;
  void* cookie;
  int32_t note_id;
  int16_t port_index;
  int16_t channel;
  int16_t key;
  double value;
} clap_event_param_value_t;

enum clap_transport_flags {
  CLAP_TRANSPORT_HAS_TEMPO = 1 << 0,
  CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 1 << 1,
  CLAP_TRANSPORT_HAS_SECONDS_TIMELINE = 1 << 2,
  CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 1 << 3,
  CLAP_TRANSPORT_IS_PLAYING = 1 << 4,
  CLAP_TRANSPORT_IS_RECORDING = 1 << 5,
  CLAP_TRANSPORT_IS_LOOP_ACTIVE = 1 << 6,
  CLAP_TRANSPORT_IS_WITHIN_PRE_ROLL = 1 << 7,
};

/* The 64-bit fields sit at 8-byte offsets by natural alignment on every LP64 target; the checks
 * at the end of the file pin them. */
typedef struct clap_event_transport {
  clap_event_header_t header;
  uint32_t flags;
  clap_beattime song_pos_beats;
  clap_sectime song_pos_seconds;
  double tempo;     /* beats per minute */
  double tempo_inc; /* tempo increment per sample, until the next transport event */
  clap_beattime loop_start_beats;
  clap_beattime loop_end_beats;
  clap_sectime loop_start_seconds;
  clap_sectime loop_end_seconds;
  clap_beattime bar_start;
  int32_t bar_number;
  uint16_t tsig_num;
  uint16_t tsig_denom;
} clap_event_transport_t;

typedef struct clap_event_midi {
  clap_event_header_t header;
  uint16_t port_index;
  uint8_t data[3];
} clap_event_midi_t;

typedef struct clap_input_events {
  void* ctx;
  uint32_t (*size)(const struct clap_input_events* list);
  const clap_event_header_t* (*get)(const struct clap_input_events* list, uint32_t index);
} clap_input_events_t;

typedef struct clap_output_events {
  void* ctx;
  /* Copies the event; false when the queue could not take it. */
  bool (*try_push)(const struct clap_output_events* list, const clap_event_header_t* event);
} clap_output_events_t;

/* ---- audio buffers and process ---------------------------------------------------------- */

typedef struct clap_audio_buffer {
  float** data32;
  double** data64;
  uint32_t channel_count;
  uint32_t latency;
  uint64_t constant_mask;
} clap_audio_buffer_t;

enum {
  CLAP_PROCESS_ERROR = 0,
  CLAP_PROCESS_CONTINUE = 1,
  CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2,
  CLAP_PROCESS_TAIL = 3,
  CLAP_PROCESS_SLEEP = 4,
};
typedef int32_t clap_process_status;

typedef struct clap_process {
  int64_t steady_time; /* -1 when unknown */
  uint32_t frames_count;
  const clap_event_transport_t* transport; /* null when free-running */
  const clap_audio_buffer_t* audio_inputs;
  clap_audio_buffer_t* audio_outputs;
  uint32_t audio_inputs_count;
  uint32_t audio_outputs_count;
  const clap_input_events_t* in_events;
  const clap_output_events_t* out_events;
} clap_process_t;

/* ---- plug-in ---------------------------------------------------------------------------- */

typedef struct clap_plugin_descriptor {
  clap_version_t clap_version;
  const char* id;
  const char* name;
  const char* vendor;
  const char* url;
  const char* manual_url;
  const char* support_url;
  const char* version;
  const char* description;
  const char* const* features; /* null-terminated */
} clap_plugin_descriptor_t;

typedef struct clap_plugin {
  const clap_plugin_descriptor_t* desc;
  void* plugin_data;
  bool (*init)(const struct clap_plugin* plugin);
  void (*destroy)(const struct clap_plugin* plugin);
  bool (*activate)(const struct clap_plugin* plugin, double sample_rate, uint32_t min_frames_count,
                   uint32_t max_frames_count);
  void (*deactivate)(const struct clap_plugin* plugin);
  bool (*start_processing)(const struct clap_plugin* plugin);
  void (*stop_processing)(const struct clap_plugin* plugin);
  void (*reset)(const struct clap_plugin* plugin);
  clap_process_status (*process)(const struct clap_plugin* plugin, const clap_process_t* process);
  const void* (*get_extension)(const struct clap_plugin* plugin, const char* id);
  void (*on_main_thread)(const struct clap_plugin* plugin);
} clap_plugin_t;

/* ---- entry and factories ---------------------------------------------------------------- */

typedef struct clap_plugin_entry {
  clap_version_t clap_version;
  bool (*init)(const char* plugin_path);
  void (*deinit)(void);
  const void* (*get_factory)(const char* factory_id);
} clap_plugin_entry_t;

#define CLAP_PLUGIN_FACTORY_ID "clap.plugin-factory"

typedef struct clap_plugin_factory {
  uint32_t (*get_plugin_count)(const struct clap_plugin_factory* factory);
  const clap_plugin_descriptor_t* (*get_plugin_descriptor)(const struct clap_plugin_factory* factory,
                                                           uint32_t index);
  const clap_plugin_t* (*create_plugin)(const struct clap_plugin_factory* factory,
                                        const clap_host_t* host, const char* plugin_id);
} clap_plugin_factory_t;

/* Provisional factory read by CLAP-to-Audio-Unit wrappers. */
#define CLAP_PLUGIN_FACTORY_INFO_AUV2 "clap.plugin-factory-info-as-auv2.draft0"

typedef struct clap_plugin_info_as_auv2 {
  char au_type[5]; /* four characters and a NUL, e.g. "aumu" */
  char au_subt[5];
} clap_plugin_info_as_auv2_t;

typedef struct clap_plugin_factory_as_auv2 {
  const char* manufacturer_code; /* four characters, NUL-terminated */
  const char* manufacturer_name;
  bool (*get_auv2_info)(const struct clap_plugin_factory_as_auv2* factory, uint32_t index,
                        clap_plugin_info_as_auv2_t* info);
} clap_plugin_factory_as_auv2_t;

/* ---- streams (state extension) ---------------------------------------------------------- */

typedef struct clap_istream {
  void* ctx;
  /* bytes read, 0 at end of data, negative on error */
  int64_t (*read)(const struct clap_istream* stream, void* buffer, uint64_t size);
} clap_istream_t;

typedef struct clap_ostream {
  void* ctx;
  /* bytes written, negative on error */
  int64_t (*write)(const struct clap_ostream* stream, const void* buffer, uint64_t size);
} clap_ostream_t;

/* ---- extension: audio ports ------------------------------------------------------------- */

#define CLAP_EXT_AUDIO_PORTS "clap.audio-ports"
#define CLAP_PORT_MONO "mono"
#define CLAP_PORT_STEREO "stereo"

enum {
  CLAP_AUDIO_PORT_IS_MAIN = 1 << 0,
  CLAP_AUDIO_PORT_SUPPORTS_64BITS = 1 << 1,
  CLAP_AUDIO_PORT_PREFERS_64BITS = 1 << 2,
  CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE = 1 << 3,
};

typedef struct clap_audio_port_info {
  clap_id id;
  char name[CLAP_NAME_SIZE];
  uint32_t flags;
  uint32_t channel_count;
  const char* port_type;
  clap_id in_place_pair;
} clap_audio_port_info_t;

typedef struct clap_plugin_audio_ports {
  uint32_t (*count)(const clap_plugin_t* plugin, bool is_input);
  bool (*get)(const clap_plugin_t* plugin, uint32_t index, bool is_input,
              clap_audio_port_info_t* info);
} clap_plugin_audio_ports_t;

/* ---- extension: note ports -------------------------------------------------------------- */

#define CLAP_EXT_NOTE_PORTS "clap.note-ports"

enum clap_note_dialect {
  CLAP_NOTE_DIALECT_CLAP = 1 << 0,
  CLAP_NOTE_DIALECT_MIDI = 1 << 1,
  CLAP_NOTE_DIALECT_MIDI_MPE = 1 << 2,
  CLAP_NOTE_DIALECT_MIDI2 = 1 << 3,
};

typedef struct clap_note_port_info {
  clap_id id;
  uint32_t supported_dialects;
  uint32_t preferred_dialect;
  char name[CLAP_NAME_SIZE];
} clap_note_port_info_t;

typedef struct clap_plugin_note_ports {
  uint32_t (*count)(const clap_plugin_t* plugin, bool is_input);
  bool (*get)(const clap_plugin_t* plugin, uint32_t index, bool is_input,
              clap_note_port_info_t* info);
} clap_plugin_note_ports_t;

/* ---- extension: params ------------------------------------------------------------------ */

#define CLAP_EXT_PARAMS "clap.params"

enum {
  CLAP_PARAM_IS_STEPPED = 1 << 0,
  CLAP_PARAM_IS_PERIODIC = 1 << 1,
  CLAP_PARAM_IS_HIDDEN = 1 << 2,
  CLAP_PARAM_IS_READONLY = 1 << 3,
  CLAP_PARAM_IS_BYPASS = 1 << 4,
  CLAP_PARAM_IS_AUTOMATABLE = 1 << 5,
  CLAP_PARAM_IS_AUTOMATABLE_PER_NOTE_ID = 1 << 6,
  CLAP_PARAM_IS_AUTOMATABLE_PER_KEY = 1 << 7,
  CLAP_PARAM_IS_AUTOMATABLE_PER_CHANNEL = 1 << 8,
  CLAP_PARAM_IS_AUTOMATABLE_PER_PORT = 1 << 9,
  CLAP_PARAM_IS_MODULATABLE = 1 << 10,
  CLAP_PARAM_IS_MODULATABLE_PER_NOTE_ID = 1 << 11,
  CLAP_PARAM_IS_MODULATABLE_PER_KEY = 1 << 12,
  CLAP_PARAM_IS_MODULATABLE_PER_CHANNEL = 1 << 13,
  CLAP_PARAM_IS_MODULATABLE_PER_PORT = 1 << 14,
  CLAP_PARAM_REQUIRES_PROCESS = 1 << 15,
};
typedef uint32_t clap_param_info_flags;

typedef struct clap_param_info {
  clap_id id;
  clap_param_info_flags flags;
  void* cookie;
  char name[CLAP_NAME_SIZE];
  char module[CLAP_PATH_SIZE];
  double min_value;
  double max_value;
  double default_value;
} clap_param_info_t;

typedef struct clap_plugin_params {
  uint32_t (*count)(const clap_plugin_t* plugin);
  bool (*get_info)(const clap_plugin_t* plugin, uint32_t param_index, clap_param_info_t* info);
  bool (*get_value)(const clap_plugin_t* plugin, clap_id param_id, double* out_value);
  bool (*value_to_text)(const clap_plugin_t* plugin, clap_id param_id, double value,
                        char* out_buffer, uint32_t out_buffer_capacity);
  bool (*text_to_value)(const clap_plugin_t* plugin, clap_id param_id, const char* text,
                        double* out_value);
  void (*flush)(const clap_plugin_t* plugin, const clap_input_events_t* in,
                const clap_output_events_t* out);
} clap_plugin_params_t;

enum {
  CLAP_PARAM_RESCAN_VALUES = 1 << 0,
  CLAP_PARAM_RESCAN_TEXT = 1 << 1,
  CLAP_PARAM_RESCAN_INFO = 1 << 2,
  CLAP_PARAM_RESCAN_ALL = 1 << 3,
};
typedef uint32_t clap_param_rescan_flags;

enum {
  CLAP_PARAM_CLEAR_ALL = 1 << 0,
  CLAP_PARAM_CLEAR_AUTOMATIONS = 1 << 1,
  CLAP_PARAM_CLEAR_MODULATIONS = 1 << 2,
};
typedef uint32_t clap_param_clear_flags;

typedef struct clap_host_params {
  void (*rescan)(const clap_host_t* host, clap_param_rescan_flags flags);
  void (*clear)(const clap_host_t* host, clap_id param_id, clap_param_clear_flags flags);
  void (*request_flush)(const clap_host_t* host);
} clap_host_params_t;

/* ---- extension: log --------------------------------------------------------------------- */

#define CLAP_EXT_LOG "clap.log"

enum {
  CLAP_LOG_DEBUG = 0,
  CLAP_LOG_INFO = 1,
  CLAP_LOG_WARNING = 2,
  CLAP_LOG_ERROR = 3,
  CLAP_LOG_FATAL = 4,
  CLAP_LOG_HOST_MISBEHAVING = 5,
  CLAP_LOG_PLUGIN_MISBEHAVING = 6,
};
typedef int32_t clap_log_severity;

typedef struct clap_host_log {
  void (*log)(const clap_host_t* host, clap_log_severity severity, const char* msg);
} clap_host_log_t;

/* ---- extension: state ------------------------------------------------------------------- */

#define CLAP_EXT_STATE "clap.state"

typedef struct clap_plugin_state {
  bool (*save)(const clap_plugin_t* plugin, const clap_ostream_t* stream);
  bool (*load)(const clap_plugin_t* plugin, const clap_istream_t* stream);
} clap_plugin_state_t;

typedef struct clap_host_state {
  void (*mark_dirty)(const clap_host_t* host);
} clap_host_state_t;

/* ---- extension: gui --------------------------------------------------------------------- */

#define CLAP_EXT_GUI "clap.gui"
#define CLAP_WINDOW_API_WIN32 "win32"
#define CLAP_WINDOW_API_COCOA "cocoa"
#define CLAP_WINDOW_API_X11 "x11"
#define CLAP_WINDOW_API_WAYLAND "wayland"

typedef void* clap_hwnd;
typedef void* clap_nsview;
typedef unsigned long clap_xwnd;

typedef struct clap_window {
  const char* api;
  union {
    clap_nsview cocoa;
    clap_xwnd x11;
    clap_hwnd win32;
    void* ptr;
  };
} clap_window_t;

typedef struct clap_gui_resize_hints {
  bool can_resize_horizontally;
  bool can_resize_vertically;
  bool preserve_aspect_ratio;
  uint32_t aspect_ratio_width;
  uint32_t aspect_ratio_height;
} clap_gui_resize_hints_t;

typedef struct clap_plugin_gui {
  bool (*is_api_supported)(const clap_plugin_t* plugin, const char* api, bool is_floating);
  bool (*get_preferred_api)(const clap_plugin_t* plugin, const char** api, bool* is_floating);
  bool (*create)(const clap_plugin_t* plugin, const char* api, bool is_floating);
  void (*destroy)(const clap_plugin_t* plugin);
  bool (*set_scale)(const clap_plugin_t* plugin, double scale);
  bool (*get_size)(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
  bool (*can_resize)(const clap_plugin_t* plugin);
  bool (*get_resize_hints)(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints);
  bool (*adjust_size)(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
  bool (*set_size)(const clap_plugin_t* plugin, uint32_t width, uint32_t height);
  bool (*set_parent)(const clap_plugin_t* plugin, const clap_window_t* window);
  bool (*set_transient)(const clap_plugin_t* plugin, const clap_window_t* window);
  void (*suggest_title)(const clap_plugin_t* plugin, const char* title);
  bool (*show)(const clap_plugin_t* plugin);
  bool (*hide)(const clap_plugin_t* plugin);
} clap_plugin_gui_t;

typedef struct clap_host_gui {
  void (*resize_hints_changed)(const clap_host_t* host);
  bool (*request_resize)(const clap_host_t* host, uint32_t width, uint32_t height);
  bool (*request_show)(const clap_host_t* host);
  bool (*request_hide)(const clap_host_t* host);
  void (*closed)(const clap_host_t* host, bool was_destroyed);
} clap_host_gui_t;

/* ---- extension: timer support ----------------------------------------------------------- */

#define CLAP_EXT_TIMER_SUPPORT "clap.timer-support"

typedef struct clap_plugin_timer_support {
  void (*on_timer)(const clap_plugin_t* plugin, clap_id timer_id);
} clap_plugin_timer_support_t;

typedef struct clap_host_timer_support {
  bool (*register_timer)(const clap_host_t* host, uint32_t period_ms, clap_id* timer_id);
  bool (*unregister_timer)(const clap_host_t* host, clap_id timer_id);
} clap_host_timer_support_t;

/* ---- layout checks (LP64: 8-byte pointers, int64 and double 8-aligned) ------------------ */

#if defined(__cplusplus) && defined(__LP64__)
#define QUILLORY_CLAP_CHECK(cond) static_assert(cond, #cond)
#elif defined(__LP64__)
#define QUILLORY_CLAP_CHECK(cond) _Static_assert(cond, #cond)
#endif

#ifdef QUILLORY_CLAP_CHECK
QUILLORY_CLAP_CHECK(sizeof(clap_version_t) == 12);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_entry_t) == 40);
QUILLORY_CLAP_CHECK(offsetof(clap_plugin_entry_t, init) == 16);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_descriptor_t) == 88);
QUILLORY_CLAP_CHECK(offsetof(clap_plugin_descriptor_t, id) == 16);
QUILLORY_CLAP_CHECK(offsetof(clap_plugin_descriptor_t, features) == 80);
QUILLORY_CLAP_CHECK(sizeof(clap_host_t) == 88);
QUILLORY_CLAP_CHECK(offsetof(clap_host_t, get_extension) == 56);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_t) == 96);
QUILLORY_CLAP_CHECK(offsetof(clap_plugin_t, process) == 72);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_factory_t) == 24);
QUILLORY_CLAP_CHECK(sizeof(clap_event_header_t) == 16);
QUILLORY_CLAP_CHECK(offsetof(clap_event_header_t, space_id) == 8);
QUILLORY_CLAP_CHECK(offsetof(clap_event_header_t, flags) == 12);
QUILLORY_CLAP_CHECK(sizeof(clap_event_note_t) == 40);
QUILLORY_CLAP_CHECK(offsetof(clap_event_note_t, key) == 24);
QUILLORY_CLAP_CHECK(offsetof(clap_event_note_t, velocity) == 32);
QUILLORY_CLAP_CHECK(sizeof(clap_event_param_value_t) == 56);
QUILLORY_CLAP_CHECK(offsetof(clap_event_param_value_t, cookie) == 24);
QUILLORY_CLAP_CHECK(offsetof(clap_event_param_value_t, note_id) == 32);
QUILLORY_CLAP_CHECK(offsetof(clap_event_param_value_t, value) == 48);
QUILLORY_CLAP_CHECK(sizeof(clap_event_midi_t) == 24);
QUILLORY_CLAP_CHECK(offsetof(clap_event_midi_t, data) == 18);
QUILLORY_CLAP_CHECK(sizeof(clap_event_transport_t) == 104);
QUILLORY_CLAP_CHECK(offsetof(clap_event_transport_t, song_pos_beats) == 24);
QUILLORY_CLAP_CHECK(offsetof(clap_event_transport_t, tempo) == 40);
QUILLORY_CLAP_CHECK(offsetof(clap_event_transport_t, bar_start) == 88);
QUILLORY_CLAP_CHECK(offsetof(clap_event_transport_t, bar_number) == 96);
QUILLORY_CLAP_CHECK(sizeof(clap_audio_buffer_t) == 32);
QUILLORY_CLAP_CHECK(sizeof(clap_process_t) == 64);
QUILLORY_CLAP_CHECK(offsetof(clap_process_t, transport) == 16);
QUILLORY_CLAP_CHECK(offsetof(clap_process_t, audio_inputs_count) == 40);
QUILLORY_CLAP_CHECK(offsetof(clap_process_t, in_events) == 48);
QUILLORY_CLAP_CHECK(sizeof(clap_audio_port_info_t) == 288);
QUILLORY_CLAP_CHECK(offsetof(clap_audio_port_info_t, port_type) == 272);
QUILLORY_CLAP_CHECK(sizeof(clap_note_port_info_t) == 268);
QUILLORY_CLAP_CHECK(sizeof(clap_param_info_t) == 1320);
QUILLORY_CLAP_CHECK(offsetof(clap_param_info_t, name) == 16);
QUILLORY_CLAP_CHECK(offsetof(clap_param_info_t, min_value) == 1296);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_params_t) == 48);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_info_as_auv2_t) == 10);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_factory_as_auv2_t) == 24);
QUILLORY_CLAP_CHECK(sizeof(clap_window_t) == 16);
QUILLORY_CLAP_CHECK(sizeof(clap_gui_resize_hints_t) == 12);
QUILLORY_CLAP_CHECK(sizeof(clap_plugin_gui_t) == 120);
#undef QUILLORY_CLAP_CHECK
#endif

#ifdef __cplusplus
}
#endif

#endif /* QUILLORY_CLAP_H */
