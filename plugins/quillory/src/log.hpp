#pragma once
// Error reporting to the host: through its "clap.log" extension when it offers one, else as a
// prefixed line on standard error.

#include <string_view>

#include "clap/clap.h"

namespace quillory::plugin {

// How an error is classed when it goes to the host's log.
enum class Severity {
  Error,              // a failure our own code reports (CLAP_LOG_ERROR)
  HostMisbehaving,    // a call the host should not have made (CLAP_LOG_HOST_MISBEHAVING)
  PluginMisbehaving,  // a failure caught at a callback boundary (CLAP_LOG_PLUGIN_MISBEHAVING)
};

// Reports one error of an instance. `host` may be null (no instance to ask): then standard error.
void plugin_log(const clap_host_t* host, Severity severity, std::string_view text) noexcept;

// Reports one factory error on standard error with the factory prefix.
void factory_log(std::string_view text) noexcept;

}  // namespace quillory::plugin
