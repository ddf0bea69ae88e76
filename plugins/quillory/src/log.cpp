#include "log.hpp"

#include <cstdio>
#include <cstring>
#include <string>

namespace quillory::plugin {
namespace {

constexpr std::string_view plugin_prefix = "[CLAP_PLUGIN_ERROR] ";
constexpr std::string_view factory_prefix = "[CLAP_PLUGIN_FACTORY_ERROR] ";

void write_line(std::string_view prefix, std::string_view text) noexcept {
  // One fwrite per part keeps this free of allocation; stderr is unbuffered anyway.
  std::fwrite(prefix.data(), 1, prefix.size(), stderr);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
}

clap_log_severity clap_severity(Severity severity) noexcept {
  switch (severity) {
    case Severity::HostMisbehaving:
      return CLAP_LOG_HOST_MISBEHAVING;
    case Severity::PluginMisbehaving:
      return CLAP_LOG_PLUGIN_MISBEHAVING;
    case Severity::Error:
      break;
  }
  return CLAP_LOG_ERROR;
}

const clap_host_log_t* host_log(const clap_host_t* host) noexcept {
  if (host == nullptr || host->get_extension == nullptr) return nullptr;
  auto* log = static_cast<const clap_host_log_t*>(host->get_extension(host, CLAP_EXT_LOG));
  return log != nullptr && log->log != nullptr ? log : nullptr;
}

}  // namespace

void plugin_log(const clap_host_t* host, Severity severity, std::string_view text) noexcept {
  const clap_host_log_t* log = host_log(host);
  if (log == nullptr) return write_line(plugin_prefix, text);
  if (auto nul = text.find('\0'); nul != std::string_view::npos) {
    // The host takes C strings only: say why this message could not be passed on.
    char reason[128];
    std::snprintf(reason, sizeof reason,
                  "Failed to serialize error message for host: nul byte found in provided data "
                  "at position: %zu",
                  nul);
    return write_line(plugin_prefix, reason);
  }
  // The host wants a NUL-terminated copy; short messages (all of ours) go through the stack so
  // that an error reported on the audio thread does not allocate.
  char small[512];
  if (text.size() < sizeof small) {
    std::memcpy(small, text.data(), text.size());
    small[text.size()] = '\0';
    return log->log(host, clap_severity(severity), small);
  }
  try {
    log->log(host, clap_severity(severity), std::string(text).c_str());
  } catch (...) {
    write_line(plugin_prefix, text);
  }
}

void factory_log(std::string_view text) noexcept {
  write_line(factory_prefix, text);
}

}  // namespace quillory::plugin
