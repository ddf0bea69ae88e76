#pragma once
// The saved state: an instance's parameter values and current table as one compact JSON document,
// stored in the host's project and restored from it. Both run on the main thread.
//
//   {"version":1,"params":{"1":0,"10":0,...},"table":{"name":...,"frameSize":2048,"rows":1,
//    "layers":1,"data":"<sample text>"}}

#include <string>
#include <string_view>

#include "wavetable/result.hpp"

namespace quillory::core {

class ParamValues;
class Tables;

// Prefix of every failure to read a document (followed by the reader's message).
inline constexpr std::string_view kUnreadableState = "Unreadable plugin state: ";

// The document for the current values and table. "params" holds every parameter, keyed by id in
// decimal and sorted by that text; values are the shortest decimals that read back as the same
// single-precision numbers (null when not finite).
Result<std::string, std::string> save(const ParamValues& values, const Tables& tables);

// Restores a document. An unreadable one changes nothing and gives kUnreadableState + why.
// Otherwise every "params" member whose key reads as the id of a parameter sets that parameter
// (through ParamValues::set, in the order the keys sort), then a "table" record, when present and
// not null, is installed; an install failure is given unchanged, with the parameters already set.
Result<void, std::string> load(std::string_view bytes, ParamValues& values, Tables& tables);

}  // namespace quillory::core
