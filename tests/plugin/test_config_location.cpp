// Where Tralix.cfg is looked for, and what start-up loads from it (without a service).
#include "ConfigManager.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct PathCase {
  const char* what;
  std::string pluginPath;
  size_t outSize;
  int result;
  std::string expected;
  std::string formatLine;  // empty: no format line expected
  std::string lastLine;
};

const std::string kPosixLine = "Tralix - Assuming POSIX path format ('/' separator).";
const std::string kClassicLine = "Tralix - Detected ':' separator, assuming classic Mac path format.";
const std::string kTooSmall = "Tralix - Config file path buffer too small during construction.";

TEST(ConfigLocation, PathIsBuiltBesideThePluginInPosixForm) {
  const PathCase cases[] = {
      {"posix", "/opt/X-Plane 12/Resources/plugins/Tralix/lin_x64/Tralix.xpl", 1024, 1,
       "/opt/X-Plane 12/Resources/plugins/Tralix/lin_x64/Tralix.cfg", kPosixLine,
       "Tralix - Constructed POSIX config path: [/opt/X-Plane 12/Resources/plugins/Tralix/lin_x64/Tralix.cfg]"},
      {"classic", "Macintosh HD:X-Plane 12:Resources:plugins:Tralix:mac_x64:Tralix.xpl", 1024, 1,
       "/Volumes/Macintosh HD/X-Plane 12/Resources/plugins/Tralix/mac_x64/Tralix.cfg", kClassicLine,
       "Tralix - Constructed POSIX config path: [/Volumes/Macintosh HD/X-Plane 12/Resources/plugins/Tralix/"
       "mac_x64/Tralix.cfg]"},
      {"posix with a colon in a folder stays posix", "/Users/pilot/X-Plane 12: Beta/Resources/plugins/Tralix.xpl",
       1024, 1, "/Users/pilot/X-Plane 12: Beta/Resources/plugins/Tralix.cfg", kPosixLine,
       "Tralix - Constructed POSIX config path: [/Users/pilot/X-Plane 12: Beta/Resources/plugins/Tralix.cfg]"},
      {"posix exact fit", "/a/b/Tralix.xpl", 16, 1, "/a/b/Tralix.cfg", kPosixLine,
       "Tralix - Constructed POSIX config path: [/a/b/Tralix.cfg]"},
      {"posix one byte over", "/a/b/Tralix.xpl", 15, 0, "", kPosixLine, kTooSmall},
      {"posix folder fills the buffer", "/abcdefghij/Tralix.xpl", 12, 0, "", kPosixLine, kTooSmall},
      {"classic exact fit", "Vol:dir:Tralix.xpl", 28, 1, "/Volumes/Vol/dir/Tralix.cfg", kClassicLine,
       "Tralix - Constructed POSIX config path: [/Volumes/Vol/dir/Tralix.cfg]"},
      {"classic one byte over", "Vol:dir:Tralix.xpl", 27, 0, "", kClassicLine, kTooSmall},
      {"classic below ten bytes", "V:T", 9, 0, "", kClassicLine, kTooSmall},
      {"empty path", "", 1024, 0, "", "", "Tralix - Error: XPLMGetPluginInfo returned an empty path."},
      {"no separator", "Tralix.xpl", 1024, 0, "", kPosixLine,
       "Tralix - Error finding last directory separator ('/') in plugin path: [Tralix.xpl]. Cannot determine "
       "config file location."},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.what);
    xphost::Reset();
    xphost::SetPluginPath(c.pluginPath);
    std::vector<char> out(c.outSize, 'x');
    EXPECT_EQ(GetConfigFilePath(out.data(), out.size(), "Tralix.cfg"), c.result);
    if (c.result) {
      EXPECT_EQ(std::string(out.data()), c.expected);
    }
    const auto lines = xphost::LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Tralix - Raw Plugin Path from XPLMGetPluginInfo: [" + c.pluginPath + "]");
    if (!c.formatLine.empty()) {
      ASSERT_GE(lines.size(), 2u);
      EXPECT_EQ(lines[1], c.formatLine);
    }
    EXPECT_EQ(lines.back(), c.lastLine);
  }
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

TEST_F(StartUpLoad, FirstRunCreatesTheDefaultFileAndStartsWithoutAKey) {
  ASSERT_EQ(Init(), 1);
  const std::vector<std::string> expected = {
      "Tralix - Raw Plugin Path from XPLMGetPluginInfo: [" + folder_ + "/Tralix.xpl]",
      kPosixLine,
      "Tralix - Constructed POSIX config path: [" + path_ + "]",
      "Tralix - Found config file at: " + path_,
      "Tralix - ReadConfigValue: Config file not found, creating default",
      "Tralix - Created default configuration file",
      "Tralix - INFO: API_KEY is empty in config file",
      "Tralix - INFO: DATA_KEY_TOKEN is empty (will be generated after API key activation)",
      "Tralix - INFO: No API_KEY configured yet. Plugin will start but data transmission will be disabled.",
      "Tralix - INFO: Use the Configuration menu to set up your API key.",
  };
  EXPECT_EQ(xphost::LogLines(), expected);
  EXPECT_EQ(std::string(gConfigPath), path_);
  EXPECT_EQ(tralix_test::ReadFile(path_).size(), 341u);
}

TEST_F(StartUpLoad, StoredKeyAndTokenAreLoadedWithoutActivation) {
  tralix_test::WriteFile(path_, "API_KEY=key-1\nDATA_KEY_TOKEN=token-1\n");
  ASSERT_EQ(Init(), 1);
  EXPECT_STREQ(gApiKey, "key-1");
  EXPECT_STREQ(gDataKeyToken, "token-1");
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - Successfully loaded API_KEY"));
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - Successfully loaded DATA_KEY_TOKEN"));
  EXPECT_FALSE(tralix_test::LogHasLine("Tralix - Activating API key"));
}

TEST_F(StartUpLoad, TokenThatCannotBeSentAsStoredIsNotUsed) {
  const char* unfaithful = "Tralix - ERROR: DATA_KEY_TOKEN in config holds a backslash or invalid UTF-8, not used";
  const std::pair<std::string, const char*> cases[] = {
      {"tok\x01" "en", "Tralix - ERROR: DATA_KEY_TOKEN in config holds control characters, not used"},
      {"tok\\\"en", unfaithful},
      {"tok\xff" "en", unfaithful},
  };
  double clock = 0.0;
  for (const auto& [token, line] : cases) {
    SCOPED_TRACE(line);
    xphost::SetElapsedTime(clock += 100.0);  // past the read cache's lifetime
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "stale");
    tralix_test::WriteFile(path_, "API_KEY=\nDATA_KEY_TOKEN=" + token + "\n");
    ASSERT_EQ(Init(), 1);
    EXPECT_STREQ(gDataKeyToken, "");
    EXPECT_TRUE(tralix_test::LogHasLine(line));
  }
}

TEST_F(StartUpLoad, EmptyFileReportsBothKeysNotFound) {
  tralix_test::WriteFile(path_, "");
  ASSERT_EQ(Init(), 1);
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - INFO: API_KEY not found in config file (will be created)"));
  EXPECT_TRUE(
      tralix_test::LogHasLine("Tralix - INFO: DATA_KEY_TOKEN not found (will be generated after API key activation)"));
}

TEST_F(StartUpLoad, NoPathStopsStartUp) {
  xphost::SetPluginPath("");
  EXPECT_EQ(Init(), 0);
  EXPECT_EQ(xphost::LogLines().back(),
            "Tralix - ERROR: Could not determine config file path. Plugin initialization failed.");
}

}  // namespace
