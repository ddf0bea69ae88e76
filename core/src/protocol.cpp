// Builders of the messages sent to the page that need nothing but their arguments.
#include <array>
#include <utility>

#include "core/base64.hpp"
#include "core/protocol.hpp"

namespace quillory::core {
namespace {

using nlohmann::json;

struct NamedParam {
  std::string_view name;
  std::uint32_t id;
};

// The page's names for the position parameters; the X position has no suffix.
constexpr std::array<NamedParam, 3> kPageParamNames{{
    {"position", 1},
    {"positionY", 2},
    {"positionZ", 3},
}};

constexpr std::string_view kScriptStart = "window.__qlPlugin && window.__qlPlugin.receive(";
constexpr std::string_view kScriptEnd = ")";

}  // namespace

// Compact text of a JSON value. Text that is not valid UTF-8 (a file name from the system, say)
// is written with U+FFFD in place of the bad bytes instead of failing.
std::string dump_json(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void encode_table(const TableData& record, std::string& out) {
  out.reserve(out.size() + base64_length(record.data.size() * sizeof(float)) + 80);
  out += R"({"data":")";
  append_samples_b64(out, record.data);
  out += R"(","frameSize":)";
  out += std::to_string(record.frame_size);
  out += R"(,"layers":)";
  out += std::to_string(record.layers);
  out += R"(,"rows":)";
  out += std::to_string(record.rows);
  out += '}';
}

std::string encode_table(const TableData& record) {
  std::string out;
  encode_table(record, out);
  return out;
}

std::optional<std::vector<float>> decode_samples(const nlohmann::json& value) {
  if (!value.is_string()) return std::nullopt;
  return b64_samples(value.get_ref<const std::string&>());
}

std::string error(std::string_view message) {
  return dump_json({{"message", message}, {"type", "error"}});
}

std::string picked(const nlohmann::json& id, std::span<const PickedFile> files) {
  // Written by hand so each file's base64 goes straight into the message.
  std::string out = R"({"files":[)";
  for (const PickedFile& file : files) {
    if (&file != files.data()) out += ',';
    out += R"({"data":")";
    append_base64(out, file.bytes);
    out += R"(","name":)";
    out += dump_json(file.name);
    out += '}';
  }
  out += R"(],"id":)";
  out += dump_json(id);
  out += R"(,"type":"picked"})";
  return out;
}

std::optional<std::uint32_t> param_id(std::string_view name) {
  for (const auto& row : kPageParamNames) {
    if (row.name == name) return row.id;
  }
  return std::nullopt;
}

std::string script(std::string_view message) {
  std::string out;
  out.reserve(kScriptStart.size() + message.size() + kScriptEnd.size());
  out.append(kScriptStart).append(message).append(kScriptEnd);
  return out;
}

}  // namespace quillory::core
