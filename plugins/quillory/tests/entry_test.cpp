// The exported entry, its nested init/deinit, the two factories and the descriptor, reached
// through dlopen and clap_entry exactly as a host reaches them.

#include <dlfcn.h>

#include <cstring>
#include <string_view>

#include "fixture.hpp"

namespace quillory::test {
namespace {

// The raw entry of a loaded library, without the loader's own init.
struct RawLibrary {
  void* handle = dlopen(QUILLORY_CLAP_PATH, RTLD_NOW | RTLD_LOCAL);
  const clap_plugin_entry_t* entry =
      handle ? static_cast<const clap_plugin_entry_t*>(dlsym(handle, "clap_entry")) : nullptr;
  ~RawLibrary() {
    if (handle) dlclose(handle);
  }
};

TEST(Entry, ExportsOnlyTheEntryWithVersion119) {
  RawLibrary lib;
  ASSERT_NE(lib.entry, nullptr) << dlerror();
  EXPECT_EQ(lib.entry->clap_version.major, 1u);
  EXPECT_EQ(lib.entry->clap_version.minor, 1u);
  EXPECT_EQ(lib.entry->clap_version.revision, 9u);
  // Internal symbols stay hidden: a host sees one symbol.
  EXPECT_EQ(dlsym(lib.handle,
                  "_ZN8quillory6plugin15create_instanceEPK9clap_hostPK22clap_plugin_descriptor"),
            nullptr);
}

TEST(Entry, FactoriesOnlyBetweenInitAndLastDeinit) {
  RawLibrary lib;
  const clap_plugin_entry_t& e = *lib.entry;
  EXPECT_EQ(e.get_factory(CLAP_PLUGIN_FACTORY_ID), nullptr) << "before init";
  e.deinit();  // without init: nothing happens
  EXPECT_EQ(e.get_factory(CLAP_PLUGIN_FACTORY_ID), nullptr);

  ASSERT_TRUE(e.init("/nowhere"));
  const void* plugins = e.get_factory(CLAP_PLUGIN_FACTORY_ID);
  const void* au = e.get_factory(CLAP_PLUGIN_FACTORY_INFO_AUV2);
  ASSERT_NE(plugins, nullptr);
  ASSERT_NE(au, nullptr);
  EXPECT_NE(plugins, au);

  ASSERT_TRUE(e.init("/nowhere"));  // nested
  EXPECT_EQ(e.get_factory(CLAP_PLUGIN_FACTORY_ID), plugins) << "same address on every call";
  e.deinit();
  EXPECT_EQ(e.get_factory(CLAP_PLUGIN_FACTORY_ID), plugins) << "one init still open";
  EXPECT_EQ(e.get_factory(CLAP_PLUGIN_FACTORY_INFO_AUV2), au);
  e.deinit();
  EXPECT_EQ(e.get_factory(CLAP_PLUGIN_FACTORY_ID), nullptr) << "after the last deinit";
  e.deinit();  // one too many: still harmless
}

TEST(Entry, ServesExactlyTwoIdentifiers) {
  Module module = open_module();
  const clap_plugin_entry_t& e = module.entry();
  for (const char* id : {"clap.plugin-factory ", "CLAP.PLUGIN-FACTORY",
                         "clap.plugin-factory-info-as-auv2", "clap.preset-discovery-factory", ""}) {
    EXPECT_EQ(e.get_factory(id), nullptr) << id;
  }
  EXPECT_EQ(e.get_factory(nullptr), nullptr);
}

TEST(Factory, DescribesOneInstrument) {
  Module module = open_module();
  const clap_plugin_factory_t* f = module.plugin_factory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->get_plugin_count(f), 1u);
  EXPECT_EQ(f->get_plugin_descriptor(f, 1), nullptr);
  const clap_plugin_descriptor_t* d = f->get_plugin_descriptor(f, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->clap_version.major, 1u);
  EXPECT_EQ(d->clap_version.minor, 1u);
  EXPECT_EQ(d->clap_version.revision, 9u);
  EXPECT_STREQ(d->name, "Quillory");
  EXPECT_STREQ(d->vendor, "Ostravel");
  EXPECT_STREQ(d->version, "1.0.0");
  EXPECT_STREQ(d->manual_url, "");
  EXPECT_STREQ(d->support_url, "");
  EXPECT_STREQ(d->description, "");
  EXPECT_GT(std::strlen(d->url), 0u);
  ASSERT_NE(d->features, nullptr);
  std::vector<std::string_view> features;
  for (const char* const* p = d->features; *p != nullptr; ++p) features.push_back(*p);
  EXPECT_EQ(features, (std::vector<std::string_view>{"instrument", "synthesizer", "stereo"}));
}

TEST(Factory, CreatesOnlyForTheExactId) {
  Module module = open_module();
  Host host;
  const clap_plugin_factory_t* f = module.plugin_factory();
  const std::string id = f->get_plugin_descriptor(f, 0)->id;
  std::string upper = id;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& other : {upper, id + "x", id.substr(0, id.size() - 1), std::string()}) {
    EXPECT_EQ(f->create_plugin(f, host.clap(), other.c_str()), nullptr) << other;
  }
  EXPECT_EQ(f->create_plugin(f, host.clap(), nullptr), nullptr);

  const clap_plugin_t* plugin = f->create_plugin(f, host.clap(), id.c_str());
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->desc, f->get_plugin_descriptor(f, 0));
  plugin->destroy(plugin);  // never initialised: still released
  EXPECT_TRUE(host.logs.empty());
}

TEST(Factory, NullPointersReportOnStandardError) {
  Module module = open_module();
  Host host;
  const clap_plugin_factory_t* f = module.plugin_factory();
  testing::internal::CaptureStderr();
  EXPECT_EQ(f->get_plugin_count(nullptr), 0u);
  EXPECT_EQ(f->get_plugin_descriptor(nullptr, 0), nullptr);
  EXPECT_EQ(f->create_plugin(nullptr, host.clap(), "x"), nullptr);
  EXPECT_EQ(f->create_plugin(f, nullptr, f->get_plugin_descriptor(f, 0)->id), nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string factory_line =
      "[CLAP_PLUGIN_FACTORY_ERROR] Plugin factory method was called with null "
      "clap_plugin_factory pointer\n";
  EXPECT_EQ(err, factory_line + factory_line + factory_line +
                     "[CLAP_PLUGIN_FACTORY_ERROR] Plugin factory method was called with null "
                     "clap_host pointer\n");
}

TEST(AuInfoFactory, GivesMusicDeviceCodesForIndexZero) {
  Module module = open_module();
  auto* au = static_cast<const clap_plugin_factory_as_auv2_t*>(
      module.factory(CLAP_PLUGIN_FACTORY_INFO_AUV2));
  ASSERT_NE(au, nullptr);
  EXPECT_STREQ(au->manufacturer_code, "Osvl");
  EXPECT_STREQ(au->manufacturer_name, "Ostravel");

  clap_plugin_info_as_auv2_t info;
  std::memset(&info, 'z', sizeof info);
  ASSERT_TRUE(au->get_auv2_info(au, 0, &info));
  EXPECT_EQ(std::memcmp(info.au_type, "aumu", 5), 0);
  EXPECT_EQ(std::memcmp(info.au_subt, "QlRy", 5), 0);

  clap_plugin_info_as_auv2_t untouched;
  std::memset(&untouched, 'z', sizeof untouched);
  EXPECT_FALSE(au->get_auv2_info(au, 1, &untouched));
  EXPECT_FALSE(au->get_auv2_info(nullptr, 0, &untouched));
  EXPECT_EQ(untouched.au_type[0], 'z');
  EXPECT_EQ(untouched.au_subt[4], 'z');
}

TEST(Entry, LoadInitAndUnloadRepeatedly) {
  // A host scanning a folder loads, initialises and unloads the module many times.
  for (int i = 0; i < 20; ++i) {
    Module module = open_module();
    Host host;
    auto instance = Instance::create(module, host);
    ASSERT_TRUE(instance);
  }
}

}  // namespace
}  // namespace quillory::test
