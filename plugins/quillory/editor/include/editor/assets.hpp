#pragma once
// The editor page's files, built into the plug-in as the in-memory directory FRONTEND, and the
// answer to every request the web view makes under the private "quillory" scheme.
//
// Responses refer to the embedded bytes directly; they live as long as the plug-in's code.

#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace quillory::editor {

// One file or directory of an in-memory tree; `path` is relative to the root, "/"-separated.
struct Entry {
  std::string_view path;
  bool directory = false;
  std::string_view bytes;  // a file's contents; empty for a directory
};

// An in-memory tree: every entry, sorted by path (byte order).
struct Directory {
  std::span<const Entry> entries;

  // The entry at exactly `path` (case-sensitive, no decoding), or nullptr.
  const Entry* find(std::string_view path) const;
};

// The page's build output, generated at build time from frontend/dist/.
extern const Directory FRONTEND;

struct Header {
  std::string_view name;
  std::string_view value;
};

// A request under the private scheme. Only the address is examined.
struct Request {
  std::string_view method;
  std::string_view uri;
  std::span<const Header> headers;
  std::string_view body;
};

struct Response {
  int status = 0;
  std::optional<Header> header;  // "Content-Type" on success, nothing on 404
  std::string_view body;         // a view of the embedded bytes or of a constant text
};

// The "Content-Type" for a looked-up path, from the text after its last "." (the whole path
// when it has none), compared exactly.
std::string_view content_type(std::string_view path);

// Answers a request from `root`: 200 with the file and its content type, or 404 "Not found".
Response serve(const Directory& root, const Request& request);
// Answers a request from FRONTEND.
Response serve(const Request& request);

}  // namespace quillory::editor
