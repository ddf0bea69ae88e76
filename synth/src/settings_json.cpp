// The JSON form of the settings record. Each record is described once, as a table of its fields
// (name, required or optional, how to read and write the member); reading and writing both walk
// these tables, so the two directions cannot drift apart.

#include "synth/settings_json.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace quillory::synth {
namespace {

using nlohmann::json;

// What went wrong and where: path is the chain of keys and indices leading to the bad value.
struct Problem {
  std::string path;
  std::string what;
};
using Status = Result<void, Problem>;

Failure<Problem> problem(std::string what) {
  return fail(Problem{{}, std::move(what)});
}

// Prefixes a problem's path with the key or index under which it was met.
Problem within(std::string_view step, Problem p) {
  const bool joined = p.path.empty() || p.path.front() == '[';
  p.path = std::string(step) + (joined ? "" : ".") + p.path;
  return p;
}

std::string index_step(std::size_t i) {
  return "[" + std::to_string(i) + "]";
}

// ---- Enumerations: JSON strings by ordinal.

constexpr std::array<std::string_view, filter_type_count> filter_type_names{"off", "lowpass",
                                                                            "highpass", "bandpass"};
constexpr std::array<std::string_view, lfo_shape_count> lfo_shape_names{"sine", "triangle", "saw",
                                                                        "square", "random"};

std::span<const std::string_view> names_of(FilterType) {
  return filter_type_names;
}
std::span<const std::string_view> names_of(LfoShape) {
  return lfo_shape_names;
}

// ---- Every value reader and writer, declared first so the field tables can use any of them.

Status read_value(const json& j, float& out);
Status read_value(const json& j, bool& out);
Status read_value(const json& j, FilterType& out);
Status read_value(const json& j, LfoShape& out);
Status read_value(const json& j, std::array<std::uint8_t, 3>& out);
template <class T>
Status read_value(const json& j, std::array<T, 3>& out);
Status read_value(const json& j, Adsr& out);
Status read_value(const json& j, Filter& out);
Status read_value(const json& j, Lfo& out);
Status read_value(const json& j, Route& out);
Status read_value(const json& j, ModMatrix& out);
Status read_value(const json& j, Settings& out);

json write_value(float v);
json write_value(bool v);
json write_value(FilterType v);
json write_value(LfoShape v);
json write_value(const std::array<std::uint8_t, 3>& v);
template <class T>
json write_value(const std::array<T, 3>& v);
json write_value(const Adsr& v);
json write_value(const Filter& v);
json write_value(const Lfo& v);
json write_value(const Route& v);
json write_value(const ModMatrix& v);
json write_value(const Settings& v);

// ---- Field tables.

enum Presence : bool { Optional = false, Required = true };

template <class R>
struct Field {
  std::string_view name;
  Presence presence;
  Status (*read)(const json&, R&);
  json (*write)(const R&);
};

template <class M>
struct member_of;
template <class R, class T>
struct member_of<T R::*> {
  using record = R;
};
template <auto M>
using record_of = typename member_of<decltype(M)>::record;

template <auto M>
Status read_member(const json& j, record_of<M>& record) {
  return read_value(j, record.*M);
}
template <auto M>
json write_member(const record_of<M>& record) {
  return write_value(record.*M);
}
template <auto M>
constexpr Field<record_of<M>> field(std::string_view name, Presence presence) {
  return {name, presence, &read_member<M>, &write_member<M>};
}

// Fields in declaration order: the order of the array form. An absent optional field keeps the
// value of a default-constructed record, which is the fixed default the JSON form gives it.
constexpr std::array adsr_fields{
    field<&Adsr::a>("a", Required),
    field<&Adsr::d>("d", Required),
    field<&Adsr::s>("s", Required),
    field<&Adsr::r>("r", Required),
};
constexpr std::array filter_fields{
    field<&Filter::type>("type", Required),
    field<&Filter::cutoff>("cutoff", Required),
    field<&Filter::resonance>("resonance", Required),
};
constexpr std::array lfo_fields{
    field<&Lfo::rate>("rate", Required),
    field<&Lfo::shape>("shape", Required),
    field<&Lfo::unipolar>("unipolar", Optional),
    field<&Lfo::sync>("sync", Optional),
};
constexpr std::array route_fields{
    field<&Route::x>("x", Optional),     field<&Route::y>("y", Optional),
    field<&Route::z>("z", Optional),     field<&Route::cutoff>("cutoff", Optional),
    field<&Route::res>("res", Optional), field<&Route::pitch>("pitch", Optional),
    field<&Route::amp>("amp", Optional),
};
constexpr std::array mod_matrix_fields{
    field<&ModMatrix::lfo>("lfo", Required),     field<&ModMatrix::env>("env", Required),
    field<&ModMatrix::env2>("env2", Optional),   field<&ModMatrix::vel>("vel", Optional),
    field<&ModMatrix::wheel>("wheel", Optional), field<&ModMatrix::pressure>("pressure", Optional),
    field<&ModMatrix::key>("key", Optional),     field<&ModMatrix::cc>("cc", Optional),
};
constexpr std::array settings_fields{
    field<&Settings::adsr>("adsr", Required),     field<&Settings::adsr2>("adsr2", Optional),
    field<&Settings::lfos>("lfos", Required),     field<&Settings::mod>("mod", Required),
    field<&Settings::filter>("filter", Optional), field<&Settings::tempo>("tempo", Optional),
    field<&Settings::cc>("cc", Optional),
};

// ---- Records.

// Reads a record from an object (by key) or an array (by position), starting from the record's
// defaults. `out` is written only when the whole record was read.
template <class R, std::size_t N>
Status read_record(const json& j, R& out, const std::array<Field<R>, N>& fields) {
  R record{};
  auto read_field = [&](const Field<R>& f, const json* value) -> Status {
    if (value == nullptr) {
      if (f.presence == Required) return fail(Problem{std::string(f.name), "missing"});
      return {};
    }
    if (auto read = f.read(*value, record); !read) return fail(within(f.name, read.error()));
    return {};
  };
  if (j.is_object()) {
    for (const auto& f : fields) {
      const auto it = j.find(f.name);
      if (auto read = read_field(f, it == j.end() ? nullptr : &*it); !read) return read;
    }
  } else if (j.is_array()) {
    if (j.size() > N) {
      return problem("expected at most " + std::to_string(N) + " values, got " +
                     std::to_string(j.size()));
    }
    for (std::size_t i = 0; i < N; ++i) {
      if (auto read = read_field(fields[i], i < j.size() ? &j[i] : nullptr); !read) return read;
    }
  } else {
    return problem(std::string("expected an object or an array, got ") + j.type_name());
  }
  out = record;
  return {};
}

template <class R, std::size_t N>
json write_record(const R& record, const std::array<Field<R>, N>& fields) {
  json out = json::object();
  for (const auto& f : fields) out[std::string(f.name)] = f.write(record);
  return out;
}

Status read_value(const json& j, Adsr& out) {
  return read_record(j, out, adsr_fields);
}
Status read_value(const json& j, Filter& out) {
  return read_record(j, out, filter_fields);
}
Status read_value(const json& j, Lfo& out) {
  return read_record(j, out, lfo_fields);
}
Status read_value(const json& j, Route& out) {
  return read_record(j, out, route_fields);
}
Status read_value(const json& j, ModMatrix& out) {
  return read_record(j, out, mod_matrix_fields);
}
Status read_value(const json& j, Settings& out) {
  return read_record(j, out, settings_fields);
}

json write_value(const Adsr& v) {
  return write_record(v, adsr_fields);
}
json write_value(const Filter& v) {
  return write_record(v, filter_fields);
}
json write_value(const Lfo& v) {
  return write_record(v, lfo_fields);
}
json write_value(const Route& v) {
  return write_record(v, route_fields);
}
json write_value(const ModMatrix& v) {
  return write_record(v, mod_matrix_fields);
}
json write_value(const Settings& v) {
  return write_record(v, settings_fields);
}

// ---- Scalars.

// Double to single precision with IEEE round-to-nearest, also beyond the float range (where a
// plain conversion is undefined): from FLT_MAX plus half an ulp on, the nearest is infinity.
float to_single(double d) {
  constexpr double rounds_to_infinity = 0x1.ffffffp127;
  constexpr float largest = std::numeric_limits<float>::max();
  constexpr float infinity = std::numeric_limits<float>::infinity();
  if (std::fabs(d) >= rounds_to_infinity) return d > 0 ? infinity : -infinity;
  if (std::fabs(d) > largest) return d > 0 ? largest : -largest;
  return static_cast<float>(d);
}

Status read_value(const json& j, float& out) {
  if (!j.is_number()) return problem(std::string("expected a number, got ") + j.type_name());
  out = to_single(j.get<double>());
  return {};
}

json write_value(float v) {
  if (!std::isfinite(v)) return nullptr;
  return static_cast<double>(v);
}

Status read_value(const json& j, bool& out) {
  if (!j.is_boolean()) return problem(std::string("expected true or false, got ") + j.type_name());
  out = j.get<bool>();
  return {};
}

json write_value(bool v) {
  return v;
}

// An enumeration is its lower-case string, or an object whose only member is that string with
// null as its value.
template <class E>
Status read_enum(const json& j, E& out) {
  const std::string* text = nullptr;
  if (j.is_string()) {
    text = &j.get_ref<const std::string&>();
  } else if (j.is_object() && j.size() == 1 && j.begin().value().is_null()) {
    text = &j.begin().key();
  } else {
    return problem(std::string("expected a string, got ") + j.type_name());
  }
  const auto names = names_of(E{});
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == *text) {
      out = static_cast<E>(i);
      return {};
    }
  }
  std::string accepted;
  for (const auto name : names) accepted += (accepted.empty() ? "" : ", ") + std::string(name);
  return problem("unknown value \"" + *text + "\", expected one of " + accepted);
}

template <class E>
json write_enum(E v) {
  const auto names = names_of(v);
  const auto i = static_cast<std::size_t>(v);
  return std::string(i < names.size() ? names[i] : names[0]);
}

Status read_value(const json& j, FilterType& out) {
  return read_enum(j, out);
}
Status read_value(const json& j, LfoShape& out) {
  return read_enum(j, out);
}
json write_value(FilterType v) {
  return write_enum(v);
}
json write_value(LfoShape v) {
  return write_enum(v);
}

// ---- Fixed groups of three.

Status expect_three(const json& j) {
  if (!j.is_array()) return problem(std::string("expected an array of 3, got ") + j.type_name());
  if (j.size() != 3) {
    return problem("expected exactly 3 elements, got " + std::to_string(j.size()));
  }
  return {};
}

template <class T>
Status read_value(const json& j, std::array<T, 3>& out) {
  if (auto ok = expect_three(j); !ok) return ok;
  std::array<T, 3> group{};
  for (std::size_t i = 0; i < 3; ++i) {
    if (auto read = read_value(j[i], group[i]); !read) {
      return fail(within(index_step(i), read.error()));
    }
  }
  out = group;
  return {};
}

template <class T>
json write_value(const std::array<T, 3>& v) {
  json out = json::array();
  for (const auto& element : v) out.push_back(write_value(element));
  return out;
}

// Controller numbers: three JSON integers from 0 to 255 (a number with a fraction or exponent is
// not an integer here).
Status read_value(const json& j, std::array<std::uint8_t, 3>& out) {
  if (auto ok = expect_three(j); !ok) return ok;
  std::array<std::uint8_t, 3> numbers{};
  for (std::size_t i = 0; i < 3; ++i) {
    const json& n = j[i];
    if (!n.is_number_unsigned() || n.get<std::uint64_t>() > 255) {
      return fail(Problem{index_step(i), "expected an integer from 0 to 255"});
    }
    numbers[i] = static_cast<std::uint8_t>(n.get<std::uint64_t>());
  }
  out = numbers;
  return {};
}

json write_value(const std::array<std::uint8_t, 3>& v) {
  json out = json::array();
  for (const auto n : v) out.push_back(static_cast<unsigned>(n));
  return out;
}

// ---- Parsing text with duplicate keys rejected.

// Builds the JSON value from the parser's events, refusing a key its object already holds.
class UniqueKeyBuilder final : public nlohmann::json_sax<json> {
 public:
  explicit UniqueKeyBuilder(json& root) : root_(root) {}

  bool null() override { return place(nullptr); }
  bool boolean(bool v) override { return place(v); }
  bool number_integer(number_integer_t v) override { return place(v); }
  bool number_unsigned(number_unsigned_t v) override { return place(v); }
  bool number_float(number_float_t v, const string_t&) override { return place(v); }
  bool string(string_t& v) override { return place(std::move(v)); }
  bool binary(binary_t& v) override { return place(json::binary(std::move(v))); }

  bool start_object(std::size_t) override { return open(json::object()); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(json::array()); }
  bool end_array() override { return close(); }

  bool key(string_t& k) override {
    json& object = *open_.back();
    if (object.contains(k)) {
      error_ = "duplicate key \"" + k + "\"";
      return false;
    }
    slot_ = &object[k];
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const json::exception& e) override {
    error_ = e.what();
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  // Puts a value where the parser is: the root, the end of the open array, or the open object's
  // member named by the last key. Containers only grow at their end, and a container is only
  // touched once its open children are closed, so the pointers in open_ stay valid.
  json& put(json v) {
    if (open_.empty()) return root_ = std::move(v);
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(v));
      return parent.back();
    }
    return *slot_ = std::move(v);
  }
  bool place(json v) {
    put(std::move(v));
    return true;
  }
  bool open(json container) {
    open_.push_back(&put(std::move(container)));
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  json& root_;
  std::vector<json*> open_;
  json* slot_ = nullptr;
  std::string error_;
};

}  // namespace

nlohmann::json settings_to_json(const Settings& settings) {
  return write_value(settings);
}

Result<Settings, std::string> settings_from_json(const nlohmann::json& value) {
  Settings settings;
  if (auto read = read_value(value, settings); !read) {
    const Problem& p = read.error();
    return fail(p.path.empty() ? p.what : p.path + ": " + p.what);
  }
  return settings;
}

Result<nlohmann::json, std::string> parse_json(std::string_view text) {
  json root;
  UniqueKeyBuilder builder(root);
  if (!json::sax_parse(text.begin(), text.end(), &builder)) return fail(builder.error());
  return root;
}

Result<Settings, std::string> read_settings(std::string_view text) {
  auto parsed = parse_json(text);
  if (!parsed) return fail(std::move(parsed).error());
  return settings_from_json(*parsed);
}

}  // namespace quillory::synth
