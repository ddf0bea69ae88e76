#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "editor/assets.hpp"

namespace quillory::editor {
namespace {

constexpr std::string_view kHtml = "text/html; charset=utf-8";

std::string source_file(const std::string& relative) {
  const char* root = std::getenv("QUILLORY_SOURCE_DIR");
  std::ifstream in(std::filesystem::path(root ? root : ".") / "frontend/page" / relative,
                   std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Response get(std::string_view uri) {
  return serve(Request{"GET", uri, {}, {}});
}

struct Served {
  std::string_view uri;
  std::string file;  // the page file it must answer with
  std::string_view type;
};

TEST(AssetServer, AnswersEachPageFileWithItsBytesAndType) {
  const Served cases[] = {
      {"quillory://localhost", "index.html", kHtml},
      {"quillory://localhost/", "index.html", kHtml},
      {"quillory://localhost/index.html", "index.html", kHtml},
      {"quillory://localhost///index.html", "index.html", kHtml},
      {"quillory://localhost/index.html?x=1", "index.html", kHtml},
      {"quillory://localhost/?x=1", "index.html", kHtml},
      {"quillory://localhost?x=1", "index.html", kHtml},
      {"quillory://elsewhere/index.html", "index.html", kHtml},
      {"quillory://localhost/favicon.svg", "favicon.svg", "image/svg+xml"},
      {"quillory://localhost/app-icon.png", "app-icon.png", "image/png"},
      {"quillory://localhost/assets/index.js", "assets/index.js", "text/javascript"},
      {"quillory://localhost/assets/index.css", "assets/index.css", "text/css"},
      {"quillory://localhost/assets/tools.wasm", "assets/tools.wasm", "application/wasm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    const Response r = get(c.uri);
    EXPECT_EQ(r.status, 200);
    ASSERT_TRUE(r.header.has_value());
    EXPECT_EQ(r.header->name, "Content-Type");
    EXPECT_EQ(r.header->value, c.type);
    const std::string expected = source_file(c.file);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(r.body, expected);
  }
}

TEST(AssetServer, WasmModuleIsTheEmbeddedBinaryUnchanged) {
  const Response r = get("quillory://localhost/assets/tools.wasm");
  EXPECT_EQ(r.body, std::string_view("\0asm\1\0\0\0", 8));
}

TEST(AssetServer, BodyRefersToTheEmbeddedBytes) {
  const Entry* entry = FRONTEND.find("index.html");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(get("quillory://localhost/").body.data(), entry->bytes.data());
}

TEST(AssetServer, UnknownPathsAndDirectoriesAreNotFound) {
  for (std::string_view uri : {
           "quillory://localhost/assets",
           "quillory://localhost/assets/",
           "quillory://localhost/Index.html",
           "quillory://localhost/missing.js",
           "quillory://localhost/assets/../index.html",
           "quillory://localhost/index%2Ehtml",
       }) {
    SCOPED_TRACE(uri);
    const Response r = get(uri);
    EXPECT_EQ(r.status, 404);
    EXPECT_FALSE(r.header.has_value());
    EXPECT_EQ(r.body, "Not found");
  }
}

TEST(AssetServer, ContentTypeTableByLastExtension) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"a.js", "text/javascript"},
      {"a.css", "text/css"},
      {"a.svg", "image/svg+xml"},
      {"a.png", "image/png"},
      {"a.html", kHtml},
      {"a.wasm", "application/wasm"},
      {"a.json", "application/json"},
      {"a.txt", "application/octet-stream"},
      {"a.JS", "application/octet-stream"},  // compared exactly
      {"a.min.js", "text/javascript"},       // only the last extension counts
      {"js", "text/javascript"},             // no "." : the whole path is compared
      {"assets/js", "application/octet-stream"},
      {"a.js/b", "application/octet-stream"},  // the last "." may sit in a folder name
      {"a.", "application/octet-stream"},
  };
  for (const auto& [path, type] : cases) EXPECT_EQ(content_type(path), type) << path;
}

TEST(AssetServer, ServesAnyTreeWithTheSameRules) {
  const Entry entries[] = {
      {"data.json", false, "{}"},
      {"dir", true, {}},
      {"dir/notes", false, "plain"},
  };
  const Directory root{entries};
  const auto at = [&](std::string_view uri) { return serve(root, Request{"GET", uri, {}, {}}); };

  EXPECT_EQ(at("quillory://localhost/data.json").header->value, "application/json");
  EXPECT_EQ(at("/dir/notes").header->value, "application/octet-stream");
  EXPECT_EQ(at("/dir/notes").body, "plain");
  EXPECT_EQ(at("/dir").status, 404);
  // No index.html in this tree: the start address is not found.
  EXPECT_EQ(at("quillory://localhost/").status, 404);
}

}  // namespace
}  // namespace quillory::editor
