#include "editor/assets.hpp"

#include <algorithm>
#include <array>

namespace quillory::editor {
namespace {

struct ContentType {
  std::string_view extension;
  std::string_view type;
};

constexpr std::array<ContentType, 7> kContentTypes{{
    {"js", "text/javascript"},
    {"css", "text/css"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"html", "text/html; charset=utf-8"},
    {"wasm", "application/wasm"},
    {"json", "application/json"},
}};
constexpr std::string_view kOtherType = "application/octet-stream";
constexpr std::string_view kNotFound = "Not found";
constexpr std::string_view kIndex = "index.html";

// The path of an address: after the scheme and host when there are any, before any query or
// fragment. "quillory://localhost/a?b" gives "/a"; "quillory://localhost" gives "".
std::string_view uri_path(std::string_view uri) {
  if (const auto scheme_end = uri.find("://"); scheme_end != std::string_view::npos) {
    uri.remove_prefix(scheme_end + 3);
    uri.remove_prefix(std::min(uri.find_first_of("/?#"), uri.size()));
  }
  return uri.substr(0, uri.find_first_of("?#"));
}

}  // namespace

const Entry* Directory::find(std::string_view path) const {
  const auto it = std::lower_bound(entries.begin(), entries.end(), path,
                                   [](const Entry& e, std::string_view p) { return e.path < p; });
  return it != entries.end() && it->path == path ? &*it : nullptr;
}

std::string_view content_type(std::string_view path) {
  const std::string_view extension = path.substr(path.rfind('.') + 1);  // npos + 1 == 0
  for (const auto& row : kContentTypes) {
    if (row.extension == extension) return row.type;
  }
  return kOtherType;
}

Response serve(const Directory& root, const Request& request) {
  std::string_view path = uri_path(request.uri);
  path.remove_prefix(std::min(path.find_first_not_of('/'), path.size()));
  if (path.empty()) path = kIndex;
  const Entry* entry = root.find(path);
  if (entry == nullptr || entry->directory) return {404, std::nullopt, kNotFound};
  return {200, Header{"Content-Type", content_type(path)}, entry->bytes};
}

Response serve(const Request& request) {
  return serve(FRONTEND, request);
}

}  // namespace quillory::editor
