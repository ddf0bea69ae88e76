// Page::handle and Page::init, and the builders that read the instance's core.
#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "core/core.hpp"
#include "core/params.hpp"
#include "core/protocol.hpp"
#include "core/table_file.hpp"
#include "synth/settings_json.hpp"

namespace quillory::core {
namespace {

using nlohmann::json;
using Actions = std::vector<Action>;

constexpr float kDefaultVelocity = 0.8f;
constexpr double kMinKey = 0.0;
constexpr double kMaxKey = 255.0;
constexpr double kMinZoom = 0.5;
constexpr double kMaxZoom = 2.0;

// --- Parsing ---------------------------------------------------------------------------------

// The JSON parser reads strings a character at a time, which dominates a 2.8 MB "table" message.
// So long strings of plain printable ASCII (the sample text) are lifted out of the text first:
// each is replaced by a short placeholder string "\u0000<n>", the much smaller rest is parsed,
// and the placeholders are swapped back for the lifted text. The swap is unambiguous because the
// fast route is only taken when the text holds no "\u0000" of its own, and the rest parses exactly
// when the whole text does, since each lifted string is a complete valid string token.
constexpr std::size_t kLiftLength = 1024;
constexpr std::string_view kNulEscape = "\\u0000";

struct Lifted {
  std::string rest;
  std::vector<std::string_view> strings;
};

bool plain_ascii(std::string_view s) {
  bool ok = true;
  for (const char c : s) ok &= c >= 0x20 && c < 0x7f;  // branch-free so it vectorises
  return ok;
}

// The position of the quote that ends the string token opening at `open`, or npos when it is
// unterminated; `escaped` tells whether the string holds any backslash escape.
std::size_t string_end(std::string_view text, std::size_t open, bool& escaped) {
  const std::size_t quote = text.find('"', open + 1);
  if (quote == std::string_view::npos) return quote;
  const std::size_t slash = text.substr(open + 1, quote - open - 1).find('\\');
  escaped = slash != std::string_view::npos;
  if (!escaped) return quote;
  std::size_t i = open + 1 + slash;
  while (i < text.size() && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
  return i < text.size() ? i : std::string_view::npos;
}

std::optional<Lifted> lift_long_strings(std::string_view text) {
  if (text.find(kNulEscape) != std::string_view::npos) return std::nullopt;
  Lifted out;
  std::size_t copied = 0;  // text before this is in out.rest
  std::size_t open = 0;
  while ((open = text.find('"', open)) != std::string_view::npos) {  // outside strings here
    bool escaped = false;
    const std::size_t close = string_end(text, open, escaped);
    if (close == std::string_view::npos) return std::nullopt;  // unterminated: not JSON
    const std::string_view content = text.substr(open + 1, close - open - 1);
    const std::size_t next = text.find_first_not_of(" \t\r\n", close + 1);
    const bool is_key = next != std::string_view::npos && text[next] == ':';
    if (!escaped && !is_key && content.size() >= kLiftLength && plain_ascii(content)) {
      out.rest.append(text.substr(copied, open - copied));
      out.rest += "\"\\u0000" + std::to_string(out.strings.size()) + '"';
      out.strings.push_back(content);
      copied = close + 1;
    }
    open = close + 1;
  }
  if (out.strings.empty()) return std::nullopt;
  out.rest.append(text.substr(copied));
  return out;
}

void restore_lifted(json& value, const std::vector<std::string_view>& strings) {
  if (value.is_string()) {
    const auto& s = value.get_ref<const std::string&>();
    std::size_t n = 0;
    if (!s.empty() && s[0] == '\0') {
      std::from_chars(s.data() + 1, s.data() + s.size(), n);
      value = std::string(strings[n]);
    }
  } else if (value.is_structured()) {
    for (json& element : value) restore_lifted(element, strings);
  }
}

// Parses a page message; duplicate keys make it malformed, like any other text that does not
// parse.
std::optional<json> parse_message(std::string_view text) {
  auto lifted = lift_long_strings(text);
  if (!lifted) {
    auto parsed = synth::parse_json(text);
    return parsed ? std::optional<json>(std::move(*parsed)) : std::nullopt;
  }
  auto parsed = synth::parse_json(lifted->rest);
  if (!parsed) return std::nullopt;
  restore_lifted(*parsed, lifted->strings);
  return std::move(*parsed);
}

// --- Field access: a field of the wrong kind is the same as a missing one ---------------------

const json* field(const json& object, std::string_view key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// Any JSON number, as double precision.
std::optional<double> number(const json& object, std::string_view key) {
  const json* v = field(object, key);
  if (v == nullptr || !v->is_number()) return std::nullopt;
  return v->get<double>();
}

// A number written as an integer of 0 or more: no fraction, exponent or sign. The parser keeps
// such a number as unsigned and every other form as signed or floating.
std::optional<std::size_t> whole(const json& object, std::string_view key) {
  const json* v = field(object, key);
  if (v == nullptr || !v->is_number_unsigned()) return std::nullopt;
  return v->get<std::size_t>();
}

const std::string* text(const json& object, std::string_view key) {
  const json* v = field(object, key);
  return v != nullptr && v->is_string() ? &v->get_ref<const std::string&>() : nullptr;
}

// Writes a single-precision value widened to double (non-finite values print as null).
json widened(float v) {
  return static_cast<double>(v);
}

json triple(const std::array<float, 3>& v) {
  return json::array({widened(v[0]), widened(v[1]), widened(v[2])});
}

// --- Messages to the page ---------------------------------------------------------------------

std::string live_message(const LiveSnapshot& live) {
  json mod = {
      {"lfo", triple(live.lfo)},      {"env", widened(live.env)},
      {"env2", widened(live.env2)},   {"vel", widened(live.vel)},
      {"wheel", widened(live.wheel)}, {"pressure", widened(live.pressure)},
      {"key", widened(live.key)},     {"cc", triple(live.cc)},
  };
  json position = live.position ? triple(*live.position) : json(nullptr);
  return dump_json({{"mod", std::move(mod)}, {"position", std::move(position)}, {"type", "live"}});
}

std::string params_message(const Core& core) {
  auto [settings, position] = params_json(core);
  return dump_json(
      {{"position", std::move(position)}, {"synth", std::move(settings)}, {"type", "params"}});
}

// {"name": ..., <between>, "table": {...}, "type": <type>} for the current table, encoded under
// the record's lock straight from its samples. `between` holds members whose keys sort between
// "name" and "table", each written as ',"key":value'.
std::string table_message(const Core& core, std::string_view between, std::string_view type) {
  return core.tables.visit_table_data([&](const TableData& record) {
    std::string out = R"({"name":)";
    out += dump_json(record.name);
    out += between;
    out += R"(,"table":)";
    encode_table(record, out);
    out += R"(,"type":)";
    out += dump_json(type);
    out += '}';
    return out;
  });
}

// --- Messages from the page -------------------------------------------------------------------

// Appends one action, built in place in the list.
template <class T>
void add(Actions& out, T action) {
  out.emplace_back().value.emplace<T>(std::move(action));
}

void on_ready(Page& page, Core& core, const json&, Actions& out) {
  add(out, Action::Send{page.init(core)});
}

void on_tick(Page& page, Core& core, const json&, Actions& out) {
  add(out, Action::Send{live_message(core.live.read())});
  const std::uint32_t epoch = core.params.epoch();
  if (epoch == page.seen_epoch) return;
  page.seen_epoch = epoch;
  // The editor's own changes leave the epoch at the editor epoch: those are not sent back.
  if (epoch != core.params.editor_epoch()) add(out, Action::Send{params_message(core)});
}

void on_param(Page&, Core& core, const json& message, Actions&) {
  const std::string* name = text(message, "name");
  if (name == nullptr) return;
  const auto id = param_id(*name);
  const auto index = id ? index_of(*id) : std::nullopt;
  const auto value = number(message, "value");
  if (!index || !value) return;
  core.params.set_from_editor(*index, static_cast<float>(*value));
}

// The key of a note number: limited to 0..255 and truncated toward zero.
std::uint8_t note_key(double note) {
  return static_cast<std::uint8_t>(std::clamp(note, kMinKey, kMaxKey));
}

void on_note_on(Core& core, const json& msg) {
  const auto note = number(msg, "note");
  if (!note) return;
  const auto velocity = number(msg, "velocity");
  core.command(Command::note_on(note_key(*note),
                                velocity ? static_cast<float>(*velocity) : kDefaultVelocity));
}

void on_note_off(Core& core, const json& msg) {
  if (const auto note = number(msg, "note")) core.command(Command::note_off(note_key(*note)));
}

void on_all_off(Core& core, const json&) {
  core.command(Command::all_off());
}

void on_synth(Core& core, const json& msg) {
  const json* record = field(msg, "synth");
  if (record == nullptr) return;
  if (auto settings = synth::settings_from_json(*record)) {
    core.params.apply_settings_from_editor(*settings);
  }
}

// The messages the page would give its own audio engine, forwarded inside "worklet".
using WorkletHandler = void (*)(Core&, const json&);
constexpr std::array<std::pair<std::string_view, WorkletHandler>, 4> kWorkletHandlers{{
    {"noteOn", on_note_on},
    {"noteOff", on_note_off},
    {"allOff", on_all_off},
    {"synth", on_synth},
}};

void on_worklet(Page&, Core& core, const json& message, Actions&) {
  const json* msg = field(message, "msg");
  if (msg == nullptr || !msg->is_object()) return;
  const std::string* type = text(*msg, "type");
  if (type == nullptr) return;
  for (const auto& [name, handler] : kWorkletHandlers) {
    if (name == *type) return handler(core, *msg);
  }
}

void on_table(Page&, Core& core, const json& message, Actions& out) {
  const auto frame_size = whole(message, "frameSize");
  const auto rows = whole(message, "rows");
  const auto layers = whole(message, "layers");
  if (!frame_size || !rows || !layers) return;
  const json* data = field(message, "data");
  auto samples = data ? decode_samples(*data) : std::nullopt;
  if (!samples) return;
  auto installed =
      core.tables.install_from_editor(*frame_size, *rows, *layers, std::move(*samples));
  if (!installed) add(out, Action::Send{error(installed.error())});
}

void on_frame(Page&, Core& core, const json& message, Actions&) {
  const auto index = whole(message, "index");
  if (!index) return;
  const json* data = field(message, "data");
  const auto samples = data ? decode_samples(*data) : std::nullopt;
  if (!samples) return;
  // A frame that does not fit is dropped; the page is not told.
  (void)core.tables.replace_frame(*index, *samples);
}

void on_meta(Page&, Core& core, const json& message, Actions&) {
  if (const std::string* name = text(message, "name")) core.tables.rename(*name);
}

void on_pick(Page&, Core&, const json& message, Actions& out) {
  Action::Pick pick;
  if (const json* extensions = field(message, "extensions"); extensions && extensions->is_array()) {
    for (const json& e : *extensions) {
      if (e.is_string()) pick.extensions.push_back(e.get<std::string>());
    }
  }
  if (const json* id = field(message, "id")) pick.id = *id;
  const json* multiple = field(message, "multiple");
  pick.multiple = multiple != nullptr && multiple->is_boolean() && multiple->get<bool>();
  add(out, std::move(pick));
}

void on_open(Page&, Core&, const json&, Actions& out) {
  add(out, Action::Open{});
}

void on_zoom(Page&, Core&, const json& message, Actions& out) {
  const auto scale = number(message, "scale");
  if (scale && *scale >= kMinZoom && *scale <= kMaxZoom) add(out, Action::Zoom{*scale});
}

using Handler = void (*)(Page&, Core&, const json&, Actions&);
constexpr std::array<std::pair<std::string_view, Handler>, 10> kHandlers{{
    {"ready", on_ready},
    {"tick", on_tick},
    {"param", on_param},
    {"worklet", on_worklet},
    {"table", on_table},
    {"frame", on_frame},
    {"meta", on_meta},
    {"pick", on_pick},
    {"open", on_open},
    {"zoom", on_zoom},
}};

}  // namespace

ParamsJson params_json(const Core& core) {
  return {synth::settings_to_json(core.params.settings()), triple(core.params.position())};
}

std::string table(const Core& core) {
  return table_message(core, {}, "table");
}

std::string open_path(Core& core, const std::filesystem::path& path) {
  auto record = read_table_file(path);
  if (!record) return error(record.error());
  if (auto installed = core.tables.install(std::move(*record)); !installed) {
    return error(installed.error());
  }
  return table(core);
}

std::vector<Action> Page::handle(Core& core, std::string_view message) {
  auto parsed = parse_message(message);
  if (!parsed || !parsed->is_object()) return {};
  const std::string* type = text(*parsed, "type");
  if (type == nullptr) return {};
  Actions out;
  for (const auto& [name, handler] : kHandlers) {
    if (name == *type) {
      handler(*this, core, *parsed, out);
      break;
    }
  }
  return out;
}

std::string Page::init(const Core& core) {
  // The epoch is read before the values: a change that lands in between is then sent again at
  // the next "tick" rather than lost.
  seen_epoch = core.params.epoch();
  auto [settings, position] = params_json(core);
  const std::string between =
      R"(,"position":)" + dump_json(position) + R"(,"synth":)" + dump_json(settings);
  return table_message(core, between, "init");
}

}  // namespace quillory::core
