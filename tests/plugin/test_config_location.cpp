// Where Tralix.cfg is looked for, and what start-up loads from it (without a service).
#include "ConfigManager.h"
#include "PluginTestSupport.h"


#include <cstdio>
#include <cstring>

namespace {

using tralix_test::LogHasLine;

TEST(ConfigLocation, PathIsBuiltBesideThePluginInPosixForm) {
  struct Case { const char* what; std::string pluginPath; size_t outSize; std::string expected; };  // "": refused
  const Case cases[] = {
      {"posix", "/opt/X-Plane 12/plugins/Tralix/lin/Tralix.xpl", 1024, "/opt/X-Plane 12/plugins/Tralix/lin/Tralix.cfg"},
      {"classic", "Macintosh HD:X-Plane 12:Tralix.xpl", 1024, "/Volumes/Macintosh HD/X-Plane 12/Tralix.cfg"},
      {"posix, a colon in a folder", "/Users/me/XP 12: Beta/Tralix.xpl", 1024, "/Users/me/XP 12: Beta/Tralix.cfg"},
      {"posix exact fit", "/a/b/Tralix.xpl", 16, "/a/b/Tralix.cfg"},
      {"posix one byte over", "/a/b/Tralix.xpl", 15, ""},
      {"posix folder fills the buffer", "/abcdefghij/Tralix.xpl", 12, ""},
      {"classic exact fit", "Vol:dir:Tralix.xpl", 28, "/Volumes/Vol/dir/Tralix.cfg"},
      {"classic one byte over", "Vol:dir:Tralix.xpl", 27, ""},
      {"classic below ten bytes", "V:T", 9, ""},
      {"empty path", "", 1024, ""},
      {"no separator", "Tralix.xpl", 1024, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xphost::Reset();
    xphost::SetPluginPath(c.pluginPath);
    std::vector<char> out(c.outSize, 'x');
    const int result = GetConfigFilePath(out.data(), out.size(), "Tralix.cfg");
    EXPECT_EQ(result, c.expected.empty() ? 0 : 1);
    EXPECT_EQ(result ? std::string(out.data()) : "", c.expected);
  }
  EXPECT_TRUE(LogHasLine("Tralix - Error finding last directory separator ('/') in plugin path: [Tralix.xpl]. "
                         "Cannot determine config file location."));
}

class StartUpLoad : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    folder_ = tralix_test::FreshScratchDir();
    xphost::SetPluginPath(folder_ + "/Tralix.xpl");
    path_ = folder_ + "/Tralix.cfg";
  }
  int Init() { return InitConfig(gConfigPath, sizeof(gConfigPath), gApiKey, sizeof(gApiKey), gDataKeyToken,
                                 sizeof(gDataKeyToken)); }
  std::string folder_;
  std::string path_;
};

// No key, or a token that cannot be sent as stored: start-up goes on without
// activating, with nothing of the refused token in memory.
TEST_F(StartUpLoad, KeyAndTokenAreLoadedAsStored) {
  const char* const cases[][3] = {
      {nullptr, "", ""},  // no file: the default is created
      {"", "", ""},
      {"API_KEY=key-1\nDATA_KEY_TOKEN=token-1\n", "key-1", "token-1"},
      {"API_KEY=\nDATA_KEY_TOKEN=tok\x01" "en\n", "", ""},
      {"API_KEY=\nDATA_KEY_TOKEN=tok\\\"en\n", "", ""},
      {"API_KEY=\nDATA_KEY_TOKEN=tok\xff" "en\n", "", ""},
  };
  double clock = 0.0;
  for (const auto& [file, key, token] : cases) {
    SCOPED_TRACE(file ? file : "(no file)");
    xphost::SetElapsedTime(clock += 100.0);  // past the read cache's lifetime
    gApiKey[0] = gDataKeyToken[0] = '\0';  // as a freshly loaded plug-in has them
    std::remove(path_.c_str());
    if (file) tralix_test::WriteFile(path_, file);
    ASSERT_EQ(Init(), 1);
    EXPECT_EQ(std::string(gConfigPath), path_);
    EXPECT_STREQ(gApiKey, key);
    EXPECT_STREQ(gDataKeyToken, token);
    EXPECT_EQ(tralix_test::ReadFile(path_).size(), file ? std::strlen(file) : 341u) << "the default, or left as it is";
  }
  EXPECT_FALSE(LogHasLine("Tralix - Activating API key"));
  EXPECT_TRUE(LogHasLine("Tralix - ERROR: DATA_KEY_TOKEN in config holds control characters, not used"));
  EXPECT_TRUE(LogHasLine("Tralix - ERROR: DATA_KEY_TOKEN in config holds a backslash or invalid UTF-8, not used"));
}

TEST_F(StartUpLoad, NoPathStopsStartUp) {
  xphost::SetPluginPath("");
  EXPECT_EQ(Init(), 0);
  EXPECT_EQ(xphost::LogLines().back(),
            "Tralix - ERROR: Could not determine config file path. Plugin initialization failed.");
}

}  // namespace
