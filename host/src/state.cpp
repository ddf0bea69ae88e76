#include "host/state.hpp"

#include <algorithm>
#include <cstring>

#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/state.hpp"
#include "core/table_file.hpp"
#include "core/tables.hpp"

namespace quillory::host {
namespace {

std::int64_t out_write(const clap_ostream_t* stream, const void* buffer, std::uint64_t size) {
  auto& self = *static_cast<OutStream*>(stream->ctx);
  ++self.writes;
  if (self.error_at && self.bytes.size() >= *self.error_at) return self.error_result;
  const std::uint64_t n = std::min(size, self.chunk);
  self.bytes.append(static_cast<const char*>(buffer), n);
  return static_cast<std::int64_t>(n);
}

std::int64_t in_read(const clap_istream_t* stream, void* buffer, std::uint64_t size) {
  auto& self = *static_cast<InStream*>(stream->ctx);
  ++self.reads;
  if (self.error_at && self.position >= *self.error_at) return -1;
  const std::uint64_t n =
      std::min({size, self.chunk, std::uint64_t{self.bytes.size() - self.position}});
  std::memcpy(buffer, self.bytes.data() + self.position, n);
  self.position += n;
  return static_cast<std::int64_t>(n);
}

const clap_plugin_state_t* state_extension(const Instance& instance) {
  return instance.extension<clap_plugin_state_t>(CLAP_EXT_STATE);
}

}  // namespace

OutStream::OutStream() : clap_{this, out_write} {}

InStream::InStream(std::string bytes) : bytes(std::move(bytes)), clap_{this, in_read} {}

Result<std::string, std::string> save_state(const Instance& instance) {
  const clap_plugin_state_t* state = state_extension(instance);
  if (state == nullptr) return fail(std::string("The plug-in has no state extension"));
  OutStream out;
  if (!state->save(instance.plugin(), out.clap())) {
    return fail(std::string("The plug-in couldn't save its state"));
  }
  return std::move(out.bytes);
}

Result<void, std::string> load_state(const Instance& instance, std::string_view document) {
  const clap_plugin_state_t* state = state_extension(instance);
  if (state == nullptr) return fail(std::string("The plug-in has no state extension"));
  InStream in{std::string(document)};
  if (!state->load(instance.plugin(), in.clap())) {
    return fail(std::string("The plug-in couldn't load the state"));
  }
  return {};
}

Result<std::string, std::string> state_with_table_file(std::string_view document,
                                                       const std::filesystem::path& path) {
  auto table = core::read_table_file(path);
  if (!table) return fail(std::move(table.error()));
  // A scratch copy of the state: read the document, swap in the file's table, write it again.
  core::ParamValues values;
  core::Tables tables(core::default_table());
  auto kept = core::load(document, values, tables);
  if (!kept) return fail(std::move(kept.error()));
  auto installed = tables.install(std::move(*table));
  if (!installed) return fail(std::move(installed.error()));
  auto saved = core::save(values, tables);
  if (!saved) return fail(std::move(saved.error()));
  return std::move(*saved);
}

}  // namespace quillory::host
