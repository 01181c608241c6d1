// Finding plug-ins and language libraries beside the host.
#include <dlfcn.h>

#include <fstream>

#include "host_fixture.h"
#include "platform/text.h"
#include "plugin_loader.h"

using PluginLoaderTest = hubtest::HubTest;

namespace {

bool isLoaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

}  // namespace

TEST_F(PluginLoaderTest, AddsAcceptingPluginsInListingOrderAndUnloadsTheRest) {
  std::string folder = makeProgramFolder(home(), {"bb_second.so", "cc_refuses.so", "aa_first.so", "dd_noexport.so"});
  { std::ofstream(folder + "ee_garbage.so") << "not a library"; }

  PluginLog log;
  EXPECT_EQ(host::loadPlugins(platform::widen(folder)), 2);
  // The refusing library and the one without PluginLoad are gone again.
  EXPECT_FALSE(isLoaded(folder + "cc_refuses.so"));
  EXPECT_FALSE(isLoaded(folder + "dd_noexport.so"));
  EXPECT_TRUE(isLoaded(folder + "aa_first.so"));

  KS_PluginStartAll();
  KS_PluginStopAll();
  EXPECT_EQ(log.entries,
            (std::vector<std::string>{"start aa_first", "start bb_second", "stop aa_first",
                                      "stop bb_second"}));
}

TEST_F(PluginLoaderTest, StoresTheLibraryHandleInThePluginObject) {
  std::string folder = makeProgramFolder(home(), {"aa_first.so"});
  ASSERT_EQ(host::loadPlugins(platform::widen(folder)), 1);
  using Load = int (*)(int, kestrum::Plugin**);
  void* lib = dlopen((folder + "aa_first.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  auto load = reinterpret_cast<Load>(dlsym(lib, "PluginLoad"));
  kestrum::Plugin* plugin = reinterpret_cast<kestrum::Plugin*>(1);
  EXPECT_EQ(load(4, &plugin), 0);
  EXPECT_EQ(plugin, nullptr);  // refused versions leave no stale pointer
  ASSERT_EQ(load(5, &plugin), 1);
  EXPECT_EQ(plugin->module, reinterpret_cast<HMODULE>(lib));
  EXPECT_STREQ(plugin->Name(), "aa_first");
  dlclose(lib);
}

TEST_F(PluginLoaderTest, EmptyOrMissingFolderLoadsNothing) {
  EXPECT_EQ(host::loadPlugins(platform::widen(home() + "/nowhere/")), 0);
  EXPECT_EQ(host::loadPlugins(platform::widen(makeProgramFolder(home(), {}))), 0);
}

TEST_F(PluginLoaderTest, LanguageLibrariesMatchTheUserLanguageOnly) {
  EXPECT_EQ(platform::narrow(host::languagePattern(0x409)), "*.0409.mui");
  EXPECT_EQ(platform::narrow(host::languagePattern(0x80A)), "*.080A.mui");
  std::string folder = makeProgramFolder(home(), {});
  std::filesystem::copy_file(std::string(HOST_TEST_PLUGIN_DIR) + "dd_noexport.so", folder + "olvaro.0409.mui");
  std::filesystem::copy_file(std::string(HOST_TEST_PLUGIN_DIR) + "dd_noexport.so", folder + "olvaro.0407.mui");
  EXPECT_EQ(host::loadLanguageLibraries(platform::widen(folder), 0x409), 1);
  EXPECT_TRUE(isLoaded(folder + "olvaro.0409.mui"));
  EXPECT_FALSE(isLoaded(folder + "olvaro.0407.mui"));
}

TEST(HostPaths, FolderIsEverythingUpToTheLastSeparator) {
  EXPECT_EQ(platform::narrow(host::folderOf(u"/opt/olvaro/bin/olvaro")), "/opt/olvaro/bin/");
  EXPECT_EQ(platform::narrow(host::folderOf(u"\\Program Files\\Olvaro\\olvaro.exe")), "\\Program Files\\Olvaro\\");
  EXPECT_EQ(platform::narrow(host::folderOf(u"olvaro")), "");
}
