// The saved-state document: written by hand (it is mostly one long base64 string) and read with the
// strict cursor, which checks the whole document before anything is applied.
#include "core/state.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "core/base64.hpp"
#include "core/param_values.hpp"
#include "core/params.hpp"
#include "core/tables.hpp"
#include "strict_json.hpp"

namespace quillory::core {

namespace {

constexpr std::uint32_t kVersion = 1;

// ---- Writing

void append_unsigned(std::string& out, std::uint64_t value) {
  char digits[20];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Shortest decimal that reads back as the same float; null when not finite (JSON has no NaN).
void append_value(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char digits[32];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// One "params" member before sorting: the id as text and the value.
struct ParamEntry {
  std::array<char, 10> key;  // the decimal digits of a 32-bit id
  std::size_t key_length;
  float value;
  std::string_view key_text() const { return {key.data(), key_length}; }
};

std::array<ParamEntry, param_count> sorted_params(const ParamValues& values) {
  std::array<ParamEntry, param_count> entries;
  for (std::size_t i = 0; i < param_count; ++i) {
    auto& entry = entries[i];
    char* const first = entry.key.data();
    entry.key_length =
        std::to_chars(first, first + entry.key.size(), param_table[i].id).ptr - first;
    entry.value = values.get(i);
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.key_text() < b.key_text(); });
  return entries;
}

// ---- Reading

// Keys already met in one object, to refuse a repeated one.
class KeySet {
 public:
  bool insert(std::string_view key) { return keys_.emplace(key).second; }

 private:
  std::set<std::string, std::less<>> keys_;
};

struct SavedParam {
  std::string key;
  std::optional<float> value;  // none for null
};

struct Saved {
  std::vector<SavedParam> params;
  std::optional<TableData> table;
};

bool read_version(json::Cursor& in) {
  json::Number number;
  if (!in.number(number)) return false;
  if (!json::to_unsigned(number, std::numeric_limits<std::uint32_t>::max()))
    return in.fail("\"version\" must be an unsigned 32-bit integer");
  return true;
}

bool read_params(json::Cursor& in, std::vector<SavedParam>& params) {
  return in.object([&](std::string_view key) {
    auto& param = params.emplace_back(SavedParam{std::string(key), std::nullopt});
    const char next = in.peek();
    if (next == 'n') return in.null();
    if (next != '-' && (next < '0' || next > '9'))
      return in.fail("parameter values must be numbers");
    json::Number number;
    if (!in.number(number)) return false;
    param.value = json::to_float(number);
    return true;
  });
}

// The members of a table record, all required.
enum TableField { kName, kFrameSize, kRows, kLayers, kData, kTableFieldCount };
constexpr std::string_view kTableKeys[kTableFieldCount] = {"name", "frameSize", "rows", "layers",
                                                           "data"};
constexpr std::size_t TableData::*kSizeMembers[kTableFieldCount] = {
    nullptr, &TableData::frame_size, &TableData::rows, &TableData::layers, nullptr};

bool read_table_field(json::Cursor& in, TableField field, TableData& record) {
  std::string_view text;
  std::string scratch;
  if (field == kName || field == kData) {
    if (!in.string(text, scratch)) return false;
    if (field == kName) {
      record.name = text;
      return true;
    }
    auto samples = b64_samples(text);
    if (!samples) return in.fail("\"data\" is not valid base64");
    record.data = std::move(*samples);
    return true;
  }
  json::Number number;
  if (!in.number(number)) return false;
  const auto size = json::to_unsigned(number, std::numeric_limits<std::size_t>::max());
  if (!size) {
    std::string message = "\"";
    message += kTableKeys[field];
    message += "\" must be an unsigned integer";
    return in.fail(message);
  }
  record.*kSizeMembers[field] = *size;
  return true;
}

bool read_table(json::Cursor& in, std::optional<TableData>& table) {
  if (in.peek() == 'n') return in.null();
  TableData record;
  KeySet keys;
  std::array<bool, kTableFieldCount> present{};
  const bool ok = in.object([&](std::string_view key) {
    if (!keys.insert(key)) return in.fail("repeated key in \"table\"");
    const auto* known = std::find(std::begin(kTableKeys), std::end(kTableKeys), key);
    if (known == std::end(kTableKeys)) return in.skip_value();
    const auto field = static_cast<TableField>(known - std::begin(kTableKeys));
    present[field] = true;
    return read_table_field(in, field, record);
  });
  if (!ok) return false;
  for (std::size_t f = 0; f < kTableFieldCount; ++f)
    if (!present[f]) return in.fail("\"table\" has no \"" + std::string(kTableKeys[f]) + "\"");
  table = std::move(record);
  return true;
}

Result<Saved, std::string> read_saved(std::string_view bytes) {
  json::Cursor in(bytes);
  Saved saved;
  KeySet keys;
  bool has_version = false, has_params = false;
  auto member = [&](std::string_view key) {
    if (!keys.insert(key)) return in.fail("repeated key in the document");
    if (key == "version") {
      has_version = true;
      return read_version(in);
    }
    if (key == "params") {
      has_params = true;
      return read_params(in, saved.params);
    }
    if (key == "table") return read_table(in, saved.table);
    return in.skip_value();
  };
  if (in.peek() != '{')
    in.fail("the document is not a JSON object");
  else if (in.object(member) && !in.at_end())
    in.fail("unexpected text after the document");
  if (!in.error().empty()) return fail(in.error());
  if (!has_version) return fail(std::string("the document has no \"version\""));
  if (!has_params) return fail(std::string("the document has no \"params\""));
  return saved;
}

// A "params" key as an id: unsigned 32-bit decimal, an optional "+" and leading zeros allowed.
std::optional<std::uint32_t> param_key_id(std::string_view key) {
  if (key.starts_with('+')) key.remove_prefix(1);
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), id);
  if (key.empty() || error != std::errc() || end != key.data() + key.size()) return std::nullopt;
  return id;
}

// Sets the parameters in the order their keys sort; of two equal keys the later one counts.
void apply_params(std::vector<SavedParam>& params, ParamValues& values) {
  std::stable_sort(params.begin(), params.end(),
                   [](const auto& a, const auto& b) { return a.key < b.key; });
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (i + 1 < params.size() && params[i + 1].key == params[i].key) continue;
    const auto id = param_key_id(params[i].key);
    const auto index = id ? index_of(*id) : std::nullopt;
    if (index && params[i].value) values.set(*index, *params[i].value);
  }
}

}  // namespace

Result<std::string, std::string> save(const ParamValues& values, const Tables& tables) {
  const auto params = sorted_params(values);
  const TableData record = tables.table_data();  // copied under the record's lock

  std::string out;
  out.reserve(128 + param_count * 24 + record.name.size() * 6 +
              base64_length(record.data.size() * sizeof(float)));
  out += "{\"version\":";
  append_unsigned(out, kVersion);
  out += ",\"params\":{";
  for (const auto& param : params) {
    if (&param != params.data()) out += ',';
    out += '"';
    out += param.key_text();
    out += "\":";
    append_value(out, param.value);
  }
  out += "},\"table\":{\"name\":";
  json::append_string(out, record.name);
  out += ",\"frameSize\":";
  append_unsigned(out, record.frame_size);
  out += ",\"rows\":";
  append_unsigned(out, record.rows);
  out += ",\"layers\":";
  append_unsigned(out, record.layers);
  out += ",\"data\":\"";
  append_samples_b64(out, record.data);
  out += "\"}}";
  return out;
}

Result<void, std::string> load(std::string_view bytes, ParamValues& values, Tables& tables) {
  auto saved = read_saved(bytes);
  if (!saved) return fail(std::string(kUnreadableState) + saved.error());
  apply_params(saved->params, values);
  if (saved->table) return tables.install(std::move(*saved->table));
  return {};
}

}  // namespace quillory::core
