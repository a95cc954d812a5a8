// Tralix.cfg: reading through the cache, rewriting, the default file, and
// failures that must leave the pilot's key and token as they were.
#include "ConfigManager.h"

#include "PluginTestSupport.h"


#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
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

  // Nothing but Tralix.cfg in the folder: no temporary file or stray default left.
  void ExpectOnlyTheConfigFile() const { EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"Tralix.cfg"}); }

  std::string folder;
  std::string path;
  double clock = 0.0;
};

TEST_F(ConfigFileTest, ReadingFollowsTheLineRules) {
  struct Case { const char* label; std::string text; size_t outSize; std::string value; };
  const std::string k255(255, 'k');
  // A comment that puts the next line at offset 4085 (or 4100): the read stops at 4095 bytes.
  const std::string to4085 = "#" + std::string(4083, '-') + "\n";
  const std::string to4100 = "#" + std::string(4098, '-') + "\n";
  const Case cases[] = {
      {"empty value", "API_KEY=\n", 256, ""},
      {"last line without LF", "X=1\nAPI_KEY=abc", 256, "abc"},
      {"near misses are other lines", "#API_KEY=a\n;API_KEY=b\nAPI_KEY =c\n API_KEY=d\napi_key=e\nAPI_KEY_OLD=f\n",
       256, kNone},
      {"after near misses, blanks and CR LF", "\n#API_KEY=a\r\n\r\nAPI_KEY =c\n API_KEY=d\nAPI_KEY=v\r\n", 256, "v"},
      {"white space around, kept inside", "API_KEY= \t a b \v\f\r\n", 256, "a b"},
      {"first of two lines wins", "API_KEY=first\nAPI_KEY=second\n", 256, "first"},
      {"= inside the value", "API_KEY=a=b\n", 256, "a=b"},
      {"255 characters fit 256 bytes", "API_KEY=" + k255 + "\n", 256, k255},
      {"too long, a later line fits", "API_KEY=" + k255 + "\nAPI_KEY=short\n", 255, "short"},
      {"too long and alone", "API_KEY=" + k255 + "\n", 255, kNone},
      {"byte-order mark skipped", "\xEF\xBB\xBF" "API_KEY=abc\n", 256, "abc"},
      {"byte-order mark only at the start", "X=1\n\xEF\xBB\xBF" "API_KEY=abc\n", 256, kNone},
      {"line cut by the read limit", to4085 + "API_KEY=abcdefghij\n", 256, kNone},
      {"line ends exactly at the limit", to4085 + "API_KEY=ab", 256, "ab"},
      {"its LF is the first byte beyond", to4085 + "API_KEY=ab\nX=1\n", 256, "ab"},
      {"line starts beyond the limit", to4100 + "API_KEY=ab\n", 256, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WriteFile(path, c.text);
    ExpireCache();
    EXPECT_EQ(Read(path, "API_KEY", c.outSize), c.value);
  }
  EXPECT_TRUE(xphost::LogLines().empty());
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

  WriteFile(path, std::string(1000, 'x'));  // written over, the default replaces it whole
  EXPECT_EQ(CreateDefaultConfigFile(path.c_str()), 1);
  EXPECT_EQ(ReadFile(path), fresh);
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

TEST_F(ConfigFileTest, RewritingSetsTheKeyAndKeepsTheRest) {
  struct Case { const char* label; std::optional<std::string> before; const char* value; std::string after; };
  const std::string longLine = "# " + std::string(3000, 'L');
  const Case cases[] = {
      {"missing file", std::nullopt, "k1", "API_KEY=k1\n"},
      {"zero-byte file", "", "k1", "API_KEY=k1\n"},
      {"both lines of a key", "API_KEY=a\n# c\nAPI_KEY=b\nX=1\n", "new", "API_KEY=new\n# c\nAPI_KEY=new\nX=1\n"},
      {"absent key appended last", "X=1\n\n; note\n", "k", "X=1\n\n; note\nAPI_KEY=k\n"},
      {"CR LF normalised", "X=1\r\n\r\n;c\r\nAPI_KEY=a\r\n", "b", "X=1\n\n;c\nAPI_KEY=b\n"},
      {"lone CR kept, last line gets its LF", "A=x\ry", "k", "A=x\ry\nAPI_KEY=k\n"},
      {"comment and near-misses kept", "#API_KEY=a\nAPI_KEY =b\n API_KEY=c\n", "k",
       "#API_KEY=a\nAPI_KEY =b\n API_KEY=c\nAPI_KEY=k\n"},
      {"empty value clears, blank lines kept", "\n\nAPI_KEY=a\n\n", "", "\n\nAPI_KEY=\n\n"},
      {"long line kept whole", longLine + "\nAPI_KEY=a\n", "b", longLine + "\nAPI_KEY=b\n"},
      {"byte-order mark kept", "\xEF\xBB\xBF" "API_KEY=a\r\nX=1\n", "b", "\xEF\xBB\xBF" "API_KEY=b\nX=1\n"},
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

  // A name with no room left for the temporary file's: the replacement cannot even be started.
  fs::remove(path);
  path = folder + "/" + std::string(245, 'c');
  WriteFile(path, before);
  EXPECT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "k"), 0);
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - WriteConfigValue: Failed to open config file for writing");
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{std::string(245, 'c')});
}

}  // namespace
