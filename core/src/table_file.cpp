#include "core/table_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "wavetable/surge.hpp"
#include "wavetable/utf8.hpp"
#include "wavetable/wav.hpp"

namespace quillory::core {
namespace {

constexpr std::string_view kCantRead = "Couldn't read the file: ";
constexpr std::string_view kNotSurge = "Not a Surge wavetable: ";
constexpr std::string_view kNotWav = "Not a WAV file this can read: ";
constexpr std::string_view kNoFrameSize =
    "This WAV doesn't say its frame size, and its length isn't a multiple of 2048. Export it "
    "from Quillory, or with a clm tag.";
constexpr std::string_view kDefaultName = "Table";
constexpr std::size_t kDefaultFrameSize = 2048;

// The last part of a path, without directories.
std::string_view base_name(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

struct NameParts {
  std::string_view stem;
  std::optional<std::string_view> extension;
};

// A name's last dot splits it, unless that dot is its first character (".wt" has no extension).
NameParts split_name(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return {name, std::nullopt};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

bool has_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != "..";
}

bool is_surge_extension(std::optional<std::string_view> extension) {
  return extension && extension->size() == 2 && (((*extension)[0] | 0x20) == 'w') &&
         (((*extension)[1] | 0x20) == 't');
}

std::string cant_read(int error) {
  return std::string(kCantRead) + std::strerror(error);
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// The whole of a regular file. Other kinds (folders, devices, pipes) are refused: reading them
// could fail, block or never end.
Result<std::vector<std::uint8_t>, std::string> read_bytes(const std::filesystem::path& path) {
  Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return fail(cant_read(errno));
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return fail(cant_read(errno));
  if (S_ISDIR(info.st_mode)) return fail(cant_read(EISDIR));
  if (!S_ISREG(info.st_mode)) return fail(std::string(kCantRead) + "not a regular file");

  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    return fail(cant_read(ENOMEM));
  }
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(cant_read(errno));
    if (got == 0) break;  // the file shrank since fstat
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

Result<TableData, std::string> table_from_surge(std::span<const std::uint8_t> bytes,
                                                std::string name) {
  auto decoded = wavetable::surge::decode(bytes);
  if (!decoded) return fail(std::string(kNotSurge) + decoded.error().display());
  const std::size_t frame_size = decoded->frame_size();
  return TableData{std::move(name), std::move(*decoded).take_samples(), frame_size, 1, 1};
}

// Frame size and shape: the grid, else a hint that divides the samples, else 2048-sample frames.
Result<TableData, std::string> table_from_wav(std::span<const std::uint8_t> bytes,
                                              std::string name) {
  auto decoded = wavetable::wav::decode(bytes);
  if (!decoded) return fail(std::string(kNotWav) + decoded.error().display());
  std::vector<float>& samples = decoded->samples;
  if (const auto& grid = decoded->grid) {
    return TableData{std::move(name), std::move(samples), grid->frame_size, grid->rows,
                     grid->layers};
  }
  const auto hint = decoded->frame_size_hint;
  if (hint && *hint != 0 && samples.size() % *hint == 0) {
    return TableData{std::move(name), std::move(samples), static_cast<std::size_t>(*hint), 1, 1};
  }
  if (!samples.empty() && samples.size() % kDefaultFrameSize == 0) {
    return TableData{std::move(name), std::move(samples), kDefaultFrameSize, 1, 1};
  }
  return fail(std::string(kNoFrameSize));
}

}  // namespace

std::string table_name(std::string_view file_name) {
  const std::string_view name = base_name(file_name);
  if (!has_file_name(name)) return std::string(kDefaultName);
  return wavetable::utf8_lossy(split_name(name).stem);
}

Result<TableData, std::string> table_from_file_bytes(std::span<const std::uint8_t> bytes,
                                                     std::string_view file_name) {
  const std::string_view name = base_name(file_name);
  const auto extension = has_file_name(name) ? split_name(name).extension : std::nullopt;
  if (is_surge_extension(extension)) return table_from_surge(bytes, table_name(name));
  return table_from_wav(bytes, table_name(name));
}

Result<TableData, std::string> read_table_file(const std::filesystem::path& path) {
  auto bytes = read_bytes(path);
  if (!bytes) return fail(std::move(bytes).error());
  return table_from_file_bytes(*bytes, path.native());
}

}  // namespace quillory::core
