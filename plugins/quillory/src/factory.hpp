#pragma once
// The plug-in descriptor, the plug-in factory and the Audio Unit information factory.

#include <array>

#include "clap/clap.h"

namespace quillory::plugin {

// The plug-in identifier: the same string in the descriptor and in every create_plugin lookup.
inline constexpr char plugin_id[] = "com.ostravel.quillory";
inline constexpr char au_type_code[] = "aumu";  // Audio Unit music device
inline constexpr char au_subtype_code[] = "QlRy";
inline constexpr char au_manufacturer_code[] = "Osvl";

// The plug-in factory: the descriptor plus the Audio Unit codes. The function table comes first
// so that the factory pointer the host holds is also the address of this object.
struct Factory {
  clap_plugin_factory_t clap;
  clap_plugin_descriptor_t descriptor;
  const char* au_type;
  const char* au_subtype;
  const char* manufacturer_name;

  static Factory create() noexcept;
};

// The Audio Unit information factory (table first, for the same reason).
struct AuInfoFactory {
  clap_plugin_factory_as_auv2_t clap;
  clap_plugin_descriptor_t descriptor;

  static AuInfoFactory create() noexcept;
};

// Builds the plug-in descriptor. All strings are static constants, so it owns nothing.
clap_plugin_descriptor_t make_descriptor() noexcept;

}  // namespace quillory::plugin
