#pragma once
// The editor page protocol: the JSON messages between the page and the plug-in, how each page
// message is handled, and the builders of the messages sent to the page.
//
// Every message is one compact JSON object with the members of every object in ascending key
// order. Single-precision values are widened to double before they are written (0.1f is written
// 0.10000000149011612) and a value that is not finite is written null. Samples travel as
// "sample text": standard base64 of their little-endian bytes, frames back to back.
//
// Main thread only. Malformed page messages are ignored: no action, no reply, no log.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/table_data.hpp"

namespace quillory::core {

class Core;

// --- Builders ---------------------------------------------------------------------------------

// Compact text of a JSON value (keys ascending); invalid UTF-8 in strings is written as U+FFFD.
std::string dump_json(const nlohmann::json& value);

// The settings object (null if it could not be written) and the position array [x, y, z].
struct ParamsJson {
  nlohmann::json settings;
  nlohmann::json position;
};
ParamsJson params_json(const Core& core);

// Appends the table object {"data","frameSize","layers","rows"} of `record` to `out`, the
// samples encoded in one pass straight into the text.
void encode_table(const TableData& record, std::string& out);
// The table object of `record` as text.
std::string encode_table(const TableData& record);

// The samples of a sample text: nothing when `value` is not a string or not canonical standard
// base64; one to three bytes left over at the end are dropped.
std::optional<std::vector<float>> decode_samples(const nlohmann::json& value);

// {"name","table","type":"table"} for the current table.
std::string table(const Core& core);
// {"message","type":"error"}.
std::string error(std::string_view message);

// One file the user picked: its name and its bytes.
struct PickedFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
// {"files":[{"data","name"}...],"id","type":"picked"}; `id` is the "pick" message's, unchanged.
std::string picked(const nlohmann::json& id, std::span<const PickedFile> files);

// Reads the wavetable file at `path` and installs it: the "table" message of the installed table,
// or an "error" message with the reason.
std::string open_path(Core& core, const std::filesystem::path& path);

// The CLAP parameter id the page means by a position name: "position" (X), "positionY",
// "positionZ"; nothing for any other name.
std::optional<std::uint32_t> param_id(std::string_view name);

// The JavaScript that delivers `message` (a JSON object's text) to the page's receiver; it does
// nothing while the page has not installed one.
std::string script(std::string_view message);

// --- Page messages ----------------------------------------------------------------------------

// What the native layer does after a page message, in order.
struct Action {
  struct Send {  // evaluate script(text) in the page
    std::string text;
    bool operator==(const Send&) const = default;
  };
  struct Pick {  // run a native open-file dialog, then send picked(id, files)
    std::vector<std::string> extensions;
    nlohmann::json id;
    bool multiple = false;
    bool operator==(const Pick&) const = default;
  };
  struct Open {  // run the wavetable open dialog, then send open_path(...)
    bool operator==(const Open&) const = default;
  };
  struct Zoom {  // set the web view's page zoom
    double scale = 1.0;
    bool operator==(const Zoom&) const = default;
  };

  std::variant<Send, Pick, Open, Zoom> value;
  bool operator==(const Action&) const = default;
};

// The protocol state of one editor.
struct Page {
  // The parameter epoch the page was last brought up to date with.
  std::uint32_t seen_epoch = 0;

  // Handles one message text from the page: applies its effects to `core` and gives what the
  // native layer must do next.
  std::vector<Action> handle(Core& core, std::string_view text);
  // The "init" message that starts a page; brings seen_epoch up to date.
  std::string init(const Core& core);
};

}  // namespace quillory::core
