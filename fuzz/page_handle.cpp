// Page::handle on any text: never a crash, and every reply is a JSON object with a text "type".
// One core and page live across inputs, as in an editor session, so sequences of edits are
// exercised too.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/core.hpp"
#include "core/protocol.hpp"

using namespace quillory::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Core core;
  static Page page;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const Action& action : page.handle(core, text)) {
    if (const auto* send = std::get_if<Action::Send>(&action.value)) {
      const auto reply = nlohmann::json::parse(send->text, nullptr, false);
      if (!reply.is_object() || !reply.contains("type") || !reply["type"].is_string()) {
        std::abort();
      }
    } else if (const auto* zoom = std::get_if<Action::Zoom>(&action.value)) {
      if (!(zoom->scale >= 0.5 && zoom->scale <= 2.0)) std::abort();
    }
  }
  // The table the page would be sent is always whole frames.
  const TableData t = core.tables.table_data();
  if (t.frame_size == 0 || t.data.size() % t.frame_size != 0) std::abort();
  return 0;
}
