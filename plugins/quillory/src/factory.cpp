#include "factory.hpp"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "log.hpp"
#include "plugin.hpp"

namespace quillory::plugin {
namespace {

constexpr const char* features[] = {"instrument", "synthesizer", "stereo", nullptr};
constexpr char vendor[] = "Ostravel";

// Logs the factory's null-pointer message for the given C type name.
void null_pointer(std::string_view type) noexcept {
  char text[128];
  std::snprintf(text, sizeof text, "Plugin factory method was called with null %.*s pointer",
                static_cast<int>(type.size()), type.data());
  factory_log(text);
}

const Factory* as_factory(const clap_plugin_factory_t* factory) noexcept {
  return reinterpret_cast<const Factory*>(factory);
}

// [thread-safe] Always one plug-in.
uint32_t get_plugin_count(const clap_plugin_factory_t* factory) {
  if (factory == nullptr) return null_pointer("clap_plugin_factory"), 0;
  return 1;
}

// [thread-safe] The descriptor for index 0; null for any other index.
const clap_plugin_descriptor_t* get_plugin_descriptor(const clap_plugin_factory_t* factory,
                                                      uint32_t index) {
  if (factory == nullptr) return null_pointer("clap_plugin_factory"), nullptr;
  return index == 0 ? &as_factory(factory)->descriptor : nullptr;
}

// [thread-safe] A new, uninitialised instance when the id matches ours byte for byte.
const clap_plugin_t* create_plugin(const clap_plugin_factory_t* factory, const clap_host_t* host,
                                   const char* id) {
  if (factory == nullptr) return null_pointer("clap_plugin_factory"), nullptr;
  if (host == nullptr) return null_pointer("clap_host"), nullptr;
  const clap_plugin_descriptor_t& descriptor = as_factory(factory)->descriptor;
  if (id == nullptr || std::strcmp(id, descriptor.id) != 0) return nullptr;
  return create_instance(host, &descriptor);
}

// [thread-safe] Audio Unit codes for index 0.
bool get_auv2_info(const clap_plugin_factory_as_auv2_t* factory, uint32_t index,
                   clap_plugin_info_as_auv2_t* info) {
  if (factory == nullptr || info == nullptr || index != 0) return false;
  std::memcpy(info->au_type, au_type_code, sizeof info->au_type);
  std::memcpy(info->au_subt, au_subtype_code, sizeof info->au_subt);
  return true;
}

static_assert(sizeof au_type_code == sizeof(clap_plugin_info_as_auv2_t::au_type));
static_assert(sizeof au_subtype_code == sizeof(clap_plugin_info_as_auv2_t::au_subt));

}  // namespace

clap_plugin_descriptor_t make_descriptor() noexcept {
  return {
      .clap_version = CLAP_VERSION_INIT,
      .id = plugin_id,
      .name = "Quillory",
      .vendor = vendor,
      .url = "https://ostravel.com/quillory",
      .manual_url = "",
      .support_url = "",
      .version = "1.0.0",
      .description = "",
      .features = features,
  };
}

Factory Factory::create() noexcept {
  return {
      .clap = {get_plugin_count, get_plugin_descriptor, create_plugin},
      .descriptor = make_descriptor(),
      .au_type = au_type_code,
      .au_subtype = au_subtype_code,
      .manufacturer_name = vendor,
  };
}

AuInfoFactory AuInfoFactory::create() noexcept {
  return {
      .clap = {au_manufacturer_code, vendor, get_auv2_info},
      .descriptor = make_descriptor(),
  };
}

}  // namespace quillory::plugin
