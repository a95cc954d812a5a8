// Tralix.cfg: where it is looked for, what start-up loads from it, reading
// through the cache, rewriting, the default file, and failures that must leave
// the pilot's key and token as they were. The line
// rules of a lookup (a byte-order mark, the 4095-byte read) are checked by
// fuzz_config_reader against a model, its seeds at that limit included.
#include "ConfigManager.h"

#include "PluginTestSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

namespace {

namespace fs = std::filesystem;
using tralix_test::LogHasLine;
using tralix_test::ReadFile;
using tralix_test::WriteFile;

const char kNone[] = "(none)";

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

class ConfigFileTest : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    folder = tralix_test::FreshScratchDir();
    path = folder + "/Tralix.cfg";
  }

  // Moves the clock past the cache's lifetime, so the next lookup loads the file.
  void ExpireCache() { xphost::SetElapsedTime(clock += 100.0); }

  // The value read, or kNone when there is none and the buffer was left alone.
  static std::string Read(const std::string& file, const char* key = "API_KEY", size_t outSize = 256) {
    std::vector<char> out(outSize + 16, '\0');
    std::memcpy(out.data(), "untouched", 10);
    const int result = ReadConfigValue(file.c_str(), key, out.data(), outSize);
    if (result == 1) return out.data();
    return result == 0 && std::strcmp(out.data(), "untouched") == 0 ? kNone : "(buffer changed)";
  }

  // Start-up's load, from a Tralix.cfg beside the plug-in in the test's folder.
  int InitBesidePlugin() const {
    xphost::SetPluginPath(folder + "/Tralix.xpl");
    return InitConfig(gConfigPath, sizeof(gConfigPath), gApiKey, sizeof(gApiKey), gDataKeyToken, sizeof(gDataKeyToken));
  }

  // Nothing but Tralix.cfg in the folder: no temporary file or stray default left.
  void ExpectOnlyTheConfigFile() const { EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"Tralix.cfg"}); }

  std::string folder;
  std::string path;
  double clock = 0.0;
};

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

// No key, or a token that cannot be sent as stored: start-up goes on without
// activating, with nothing of the refused token in memory.
TEST_F(ConfigFileTest, StartUpLoadsKeyAndTokenAsStored) {
  const char* const cases[][3] = {
      {nullptr, "", ""},  // no file: the default is created
      {"", "", ""},
      {"API_KEY=key-1\nDATA_KEY_TOKEN=token-1\n", "key-1", "token-1"},
      {"API_KEY=\nDATA_KEY_TOKEN=tok\x01" "en\n", "", ""},
      {"API_KEY=\nDATA_KEY_TOKEN=tok\\\"en\n", "", ""},
      {"API_KEY=\nDATA_KEY_TOKEN=tok\xff" "en\n", "", ""},
  };
  for (const auto& [file, key, token] : cases) {
    SCOPED_TRACE(file ? file : "(no file)");
    ExpireCache();
    gApiKey[0] = gDataKeyToken[0] = '\0';  // as a freshly loaded plug-in has them
    std::remove(path.c_str());
    if (file) tralix_test::WriteFile(path, file);
    ASSERT_EQ(InitBesidePlugin(), 1);
    EXPECT_EQ(std::string(gConfigPath), path);
    EXPECT_STREQ(gApiKey, key);
    EXPECT_STREQ(gDataKeyToken, token);
    EXPECT_EQ(tralix_test::ReadFile(path).size(), file ? std::strlen(file) : 341u) << "the default, or left as it is";
  }
  EXPECT_FALSE(LogHasLine("Tralix - Activating API key"));
  EXPECT_TRUE(LogHasLine("Tralix - ERROR: DATA_KEY_TOKEN in config holds control characters, not used"));
  EXPECT_TRUE(LogHasLine("Tralix - ERROR: DATA_KEY_TOKEN in config holds a backslash or invalid UTF-8, not used"));
}

TEST(ConfigLocation, NoPathStopsStartUp) {
  xphost::Reset();
  xphost::SetPluginPath("");
  EXPECT_EQ(InitConfig(gConfigPath, sizeof(gConfigPath), gApiKey, sizeof(gApiKey), gDataKeyToken, sizeof(gDataKeyToken)), 0);
  EXPECT_EQ(xphost::LogLines().back(),
            "Tralix - ERROR: Could not determine config file path. Plugin initialization failed.");
}

TEST_F(ConfigFileTest, OneLoadServesBothKeysForSixtySecondsUntilAWrite) {
  xphost::SetElapsedTime(100.0);
  WriteFile(path, "API_KEY=one\nDATA_KEY_TOKEN=tok\n");
  EXPECT_EQ(Read(path), "one");
  WriteFile(path, "API_KEY=two\nDATA_KEY_TOKEN=other\n");
  xphost::SetElapsedTime(160.0);
  EXPECT_EQ(Read(path, "DATA_KEY_TOKEN"), "tok");
  xphost::SetElapsedTime(160.25);
  EXPECT_EQ(Read(path), "two");

  ASSERT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "three"), 1);
  EXPECT_EQ(Read(path), "three");
  WriteFile(path, "API_KEY=four\n");
  EXPECT_EQ(Read(path), "three");
}

// The file pilots edit: what a fresh one holds, byte for byte, and a rewrite
// that changes its one line and nothing else.
TEST_F(ConfigFileTest, MissingFileIsCreatedWithTheDefaultText) {
  const std::string fresh =
      "# Tralix Client Configuration File\n"
      "# Generated automatically on first run\n"
      "\n"
      "# API Key from Tralix Account Settings > Client / API Key page\n"
      "API_KEY=\n"
      "\n"
      "# Data Key Token (auto-generated after API key activation)\n"
      "DATA_KEY_TOKEN=\n"
      "\n"
      "# Configuration file for Tralix X-Plane Connector\n"
      "# Do not edit this file manually unless you know what you're doing\n";
  EXPECT_EQ(Read(path), "");
  EXPECT_EQ(Read(path, "DATA_KEY_TOKEN"), "");
  EXPECT_EQ(ReadFile(path), fresh);
  ExpectOnlyTheConfigFile();

  ASSERT_EQ(WriteConfigValue(path.c_str(), "DATA_KEY_TOKEN", "tok"), 1);
  const size_t line = fresh.find("DATA_KEY_TOKEN=\n");
  EXPECT_EQ(ReadFile(path), fresh.substr(0, line) + "DATA_KEY_TOKEN=tok\n" + fresh.substr(line + 16));
}

// Each is read after a good file was loaded: nothing of that load may be
// served, nor cached, for a file that gives no text.
TEST_F(ConfigFileTest, FileThatGivesNoTextGivesNoValue) {
  fs::create_directory(folder + "/folder.cfg");  // opens, but every read fails
  WriteFile(folder + "/empty.cfg", "");
  for (const char* name : {"folder.cfg", "empty.cfg", "absent/Tralix.cfg"}) {
    SCOPED_TRACE(name);
    WriteFile(path, "API_KEY=earlier\n");
    ExpireCache();
    ASSERT_EQ(Read(path), "earlier");
    ExpireCache();
    EXPECT_EQ(Read(folder + "/" + name), kNone);
    EXPECT_EQ(Read(folder + "/" + name), kNone) << "a failed load is not cached";
  }
  EXPECT_TRUE(fs::is_empty(folder + "/empty.cfg"));
  EXPECT_TRUE(LogHasLine("Tralix - ERROR: ReadConfigValue: Config file exists but cannot be read: Is a directory"));
}

// Line by line rewriting (CR LF, a byte-order mark, every entry of the key,
// appending) is checked against a model by fuzz_config_reader.
TEST_F(ConfigFileTest, RewritingSetsTheKeyAndKeepsTheRest) {
  struct Case { const char* label; std::optional<std::string> before; const char* value; std::string after; };
  const Case cases[] = {
      {"missing file", std::nullopt, "k1", "API_KEY=k1\n"},
      {"empty value clears, blank lines kept", "\n\nAPI_KEY=a\n\n", "", "\n\nAPI_KEY=\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(path);
    if (c.before) WriteFile(path, *c.before);
    EXPECT_EQ(WriteConfigValue(path.c_str(), "API_KEY", c.value), 1);
    EXPECT_EQ(ReadFile(path), c.after);
    ExpectOnlyTheConfigFile();
  }
}

TEST_F(ConfigFileTest, RewriteKeepsPermissionBits) {
  auto modeAfterWrite = [&] {
    EXPECT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "b"), 1);
    struct stat after {};
    stat(path.c_str(), &after);
    return after.st_mode & 07777;
  };
  for (mode_t mode : {0600, 0640, 0644}) {
    WriteFile(path, "API_KEY=a\n");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    EXPECT_EQ(modeAfterWrite(), mode);
  }
  // A new file gets what the umask allows, as any newly written file would.
  fs::remove(path);
  const mode_t previous = umask(027);
  EXPECT_EQ(modeAfterWrite(), 0640u);
  umask(previous);
}

TEST_F(ConfigFileTest, RefusesWhatWouldBreakTheLineStructure) {
  const std::pair<const char*, const char*> cases[] = {
      {"API_KEY", "KEY\nDATA_KEY_TOKEN=x"}, {"API_KEY", "KEY\r"}, {"DATA_KEY_TOKEN", "a\tb"},
      {"NAME", "\x1b[31m"}, {"", "x"}, {"A=B", "x"}, {"#API_KEY", "x"}, {"API_KEY\nDATA_KEY_TOKEN", "x"},
  };
  WriteFile(path, "API_KEY=keep\n");
  for (const auto& [key, value] : cases) {
    SCOPED_TRACE(key + std::string(" / ") + value);
    EXPECT_EQ(WriteConfigValue(path.c_str(), key, value), 0);
    EXPECT_EQ(ReadFile(path), "API_KEY=keep\n");
  }
  EXPECT_TRUE(LogHasLine("Tralix - ERROR: WriteConfigValue: Refusing a value with a line break or control character"));
}

// Key and token (and a value for no key) reach the log at most as their
// length; a null argument is refused.
TEST_F(ConfigFileTest, SecretsNeverReachTheLogInFull) {
  ASSERT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "tlx_live_0123456789abcdef"), 1);
  ASSERT_EQ(WriteConfigValue(path.c_str(), "DATA_KEY_TOKEN", "9f8e7d6c5b4a"), 1);
  EXPECT_TRUE(LogHasLine("Tralix - WriteConfigValue: Attempting to write to config file: " + path +
                         " key: API_KEY value: (hidden, 25 characters)"));
  EXPECT_EQ(WriteConfigValue(nullptr, "API_KEY", "abc"), 0);
  EXPECT_EQ(WriteConfigValue(path.c_str(), nullptr, "secret-of-no-key"), 0);
  for (const char* secret : {"0123456789abcdef", "9f8e7d6c5b4a", "secret-of-no-key"})
    EXPECT_EQ(xphost::LogText().find(secret), std::string::npos) << secret;
  // Any other value is shown, with its control bytes as '?' so that it stays one line.
  EXPECT_EQ(WriteConfigValue(path.c_str(), "OTHER", "two\nlines"), 0);
  EXPECT_TRUE(LogHasLine("Tralix - WriteConfigValue: Attempting to write to config file: " + path +
                         " key: OTHER value: two?lines"));
  EXPECT_EQ(WriteConfigValue(path.c_str(), "API_KEY", nullptr), 0);
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - WriteConfigValue: Invalid parameters");
  EXPECT_EQ(ReadFile(path), "API_KEY=tlx_live_0123456789abcdef\nDATA_KEY_TOKEN=9f8e7d6c5b4a\n");
}

TEST_F(ConfigFileTest, LinkedFileIsRewrittenWhereItLies) {
  const std::string elsewhere = folder + "/shared";
  fs::create_directory(elsewhere);
  WriteFile(elsewhere + "/Tralix.cfg", "# mine\nAPI_KEY=a\n");
  fs::create_symlink("shared/Tralix.cfg", path);
  ASSERT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "b"), 1);
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(ReadFile(elsewhere + "/Tralix.cfg"), "# mine\nAPI_KEY=b\n");
  EXPECT_EQ(FolderEntries(elsewhere), std::vector<std::string>{"Tralix.cfg"});
}

// A link to /dev/zero must not take all memory; nothing is written beside any of these.
TEST_F(ConfigFileTest, WhatIsNoConfigFileIsNotRewritten) {
  auto state = [&] {
    return fs::is_symlink(path) ? "link" : fs::is_directory(path) ? "folder" : std::to_string(fs::file_size(path));
  };
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", path); }},
      {"larger than 1 MiB", [&] { WriteFile(path, "API_KEY=a\n# " + std::string(1024 * 1024, 'x') + "\n"); }},
      {"folder", [&] { fs::create_directory(path); }},
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    fs::remove_all(path);
    make();
    const std::string before = state();
    EXPECT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "k"), 0);
    EXPECT_EQ(state(), before);
    ExpectOnlyTheConfigFile();
  }
  EXPECT_TRUE(LogHasLine("Tralix - WriteConfigValue: Failed to open config file for writing"));
}

TEST_F(ConfigFileTest, FailedWriteLeavesTheOldFileByteForByte) {
  const std::string before = "# kept\nAPI_KEY=keep-me\nDATA_KEY_TOKEN=keep-me-too\n";
  WriteFile(path, before);
  // Files may grow no larger than 64 bytes, as on a disk that is full; a write
  // past that fails instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  rlimit limited = previous;
  limited.rlim_cur = 64;
  setrlimit(RLIMIT_FSIZE, &limited);
  EXPECT_EQ(WriteConfigValue(path.c_str(), "API_KEY", std::string(200, 'k').c_str()), 0);
  EXPECT_EQ(CreateDefaultConfigFile((folder + "/fresh.cfg").c_str()), 0);  // no partial default either
  setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_EQ(ReadFile(path), before);
  ExpectOnlyTheConfigFile();
  EXPECT_TRUE(
      LogHasLine("Tralix - ERROR: WriteConfigValue: Failed to save config file, left unchanged: File too large"));
}

}  // namespace
