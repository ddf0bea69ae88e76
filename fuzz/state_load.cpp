// Any bytes through the saved-state reader, into one long-lived instance: no crash, no undefined
// behaviour, an unreadable document changes nothing, and whatever loads saves to a document that
// loads again and saves identically.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/default_table.hpp"
#include "core/param_values.hpp"
#include "core/state.hpp"
#include "core/tables.hpp"

namespace {

using namespace quillory::core;

struct Instance {
  ParamValues values;
  Tables tables{default_table()};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Instance instance;
  static Instance copy;
  const std::uint32_t epoch = instance.values.epoch();
  const auto table = instance.tables.current();

  const auto loaded =
      load({reinterpret_cast<const char*>(data), size}, instance.values, instance.tables);
  if (!loaded) {
    const std::string& error = loaded.error();
    if (error == kShapeMismatch) {
      if (instance.tables.current() != table) std::abort();
      return 0;
    }
    if (!error.starts_with(kUnreadableState) || error.size() == kUnreadableState.size()) {
      std::abort();
    }
    if (instance.values.epoch() != epoch || instance.tables.current() != table) std::abort();
    return 0;
  }

  const auto saved = save(instance.values, instance.tables);
  if (!saved) std::abort();
  if (!load(*saved, copy.values, copy.tables)) std::abort();
  const auto saved_again = save(copy.values, copy.tables);
  if (!saved_again || *saved_again != *saved) std::abort();
  return 0;
}
