// Reading the desktop clipboard: which tool is run and how, what comes back,
// and the byte and time bounds.
#include "PluginTestSupport.h"
#include "UI.h"
#include "platform/Clipboard.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// The tests below replace PATH.
const std::string kOriginalPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";

// The reader's result as a string, freed at once.
std::string ReadClipboard() {
  char* text = GetClipboardText_Mac();
  EXPECT_NE(text, nullptr);
  std::string copy = text ? text : "";
  std::free(text);
  return copy;
}

void SetSession(bool wayland, bool x11) {
  if (wayland) {
    setenv("WAYLAND_DISPLAY", "wayland-test", 1);
  } else {
    unsetenv("WAYLAND_DISPLAY");
  }
  if (x11) {
    setenv("DISPLAY", ":99", 1);
  } else {
    unsetenv("DISPLAY");
  }
}

// Stand-in clipboard tools: small scripts in a folder that is all of PATH.
class ClipboardTools : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = tralix_test::FreshScratchDir();
    setenv("PATH", folder_.c_str(), 1);
    SetSession(false, true);
  }

  void TearDown() override { setenv("PATH", kOriginalPath.c_str(), 1); }

  void AddTool(const std::string& name, const std::string& script, unsigned mode = 0755) {
    tralix_test::AddTool(folder_, name, script, mode);
  }

  // A tool that prints its own name, so a test can tell which one ran.
  void AddNamedTool(const std::string& name) { AddTool(name, "printf '%s' " + name); }

  std::string folder_;
};

// Each tool is asked for the clipboard (not the primary selection) as text,
// and what it prints comes back unchanged.
TEST_F(ClipboardTools, EachToolIsAskedForTheClipboardAsText) {
  struct Case {
    const char* tool;
    bool wayland;
    const char* arguments;
  };
  const Case cases[] = {
      {"wl-paste", true, "--no-newline\n--type\ntext\n"},
      {"xclip", false, "-selection\nclipboard\n-out\n-target\nUTF8_STRING\n"},
      {"xsel", false, "--clipboard\n--output\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    for (const char* tool : {"wl-paste", "xclip", "xsel"}) std::remove((folder_ + "/" + tool).c_str());
    AddTool(c.tool, "printf '%s\\n' \"$@\" > " + folder_ + "/args\nprintf '  key\\twith blanks \\n'");
    SetSession(c.wayland, !c.wayland);
    EXPECT_EQ(ReadClipboard(), "  key\twith blanks \n");
    EXPECT_EQ(tralix_test::ReadFile(folder_ + "/args"), c.arguments);
  }
}

// The simulator may ignore SIGPIPE or block signals; a tool starts with
// neither, as one started from a shell would.
TEST_F(ClipboardTools, ToolsStartWithDefaultSignals) {
  AddTool("xclip", "exec /bin/grep -E '^Sig(Blk|Ign)' /proc/self/status");
  struct sigaction ignore {}, previousPipe {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previousPipe);
  sigset_t usr1, previousMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, &previousMask);
  const std::string status = ReadClipboard();
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGPIPE, &previousPipe, nullptr);

  unsigned long long blocked = ~0ULL, ignored = ~0ULL;
  ASSERT_EQ(std::sscanf(status.c_str(), "SigBlk: %llx SigIgn: %llx", &blocked, &ignored), 2) << status;
  EXPECT_EQ(blocked & (1ULL << (SIGUSR1 - 1)), 0u) << status;
  EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u) << status;
}

TEST_F(ClipboardTools, TakesTheFirstToolThatCanReachTheSessionsClipboard) {
  struct Case {
    const char* name;
    std::vector<std::string> tools;
    bool wayland;
    bool x11;
    const char* expected;
  };
  const Case cases[] = {
      {"Wayland first", {"wl-paste", "xclip", "xsel"}, true, true, "wl-paste"},
      {"X session skips wl-paste", {"wl-paste", "xclip", "xsel"}, false, true, "xclip"},
      {"xsel when xclip is missing", {"wl-paste", "xsel"}, false, true, "xsel"},
      {"Wayland only, no X tool needed", {"xclip", "wl-paste"}, true, false, "wl-paste"},
      {"no Wayland tool in a Wayland-only session", {"xclip", "xsel"}, true, false, ""},
      {"no session at all", {"wl-paste", "xclip", "xsel"}, false, false, ""},
      {"no tool at all", {}, true, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder_ = tralix_test::FreshScratchDir() + "/" + std::to_string(&c - cases);
    mkdir(folder_.c_str(), 0755);
    setenv("PATH", folder_.c_str(), 1);
    for (const std::string& tool : c.tools) AddNamedTool(tool);
    SetSession(c.wayland, c.x11);
    EXPECT_EQ(ReadClipboard(), c.expected);
  }
}

TEST_F(ClipboardTools, SkipsFilesThatCannotRunAndRelativePathEntries) {
  AddTool("xclip", "printf xclip", 0644);
  AddNamedTool("xsel");
  EXPECT_EQ(ReadClipboard(), "xsel");

  // A relative entry would run whatever lies in the simulator's working folder.
  const std::string relative = folder_ + "/relative";
  mkdir(relative.c_str(), 0755);
  tralix_test::AddTool(relative, "xclip", "printf planted");
  ASSERT_EQ(chdir(folder_.c_str()), 0);
  setenv("PATH", ("relative::" + folder_).c_str(), 1);
  EXPECT_EQ(ReadClipboard(), "xsel");
}

// What the tool prints comes back only when it is whole, valid UTF-8 text
// without NUL, within the byte limit and the time limit. The UTF-8 check is
// the token's too: fuzz_activation_token has the forms not repeated here.
TEST_F(ClipboardTools, FailingSlowOrEndlessToolsAndNonTextGiveBoundedResultsInBoundedTime) {
  const std::pair<std::string, std::string> cases[] = {
      {"exit 1", ""},  // no text
      {"printf partial\nexit 1", ""},
      {"exec /bin/sleep 10", ""},  // never answers
      {"printf abc\nexec /bin/sleep 10", ""},  // never finishes
      {"exec /bin/cat", ""},  // reads its standard input
      {"exec /usr/bin/head -c 1000000 /dev/zero | /usr/bin/tr '\\0' a", std::string(kClipboardMaxBytes, 'a')},
      // A character cut at the limit is dropped whole.
      {"/usr/bin/head -c " + std::to_string(kClipboardMaxBytes - 3) +
           " /dev/zero | /usr/bin/tr '\\0' a\nprintf '\\360\\237\\230\\200 and more'",
       std::string(kClipboardMaxBytes - 3, 'a')},
      {"printf 'caf\\303\\251 \\337\\277 \\342\\202\\254 \\360\\237\\230\\200 \\361\\200\\200\\200'",
       "caf\xc3\xa9 \xdf\xbf \xe2\x82\xac \xf0\x9f\x98\x80 \xf1\x80\x80\x80"},
      {"printf '\\211PNG\\r\\n\\032\\n'", ""},  // image bytes
      {"printf '\\360\\217\\277\\277'", ""},  // overlong four-byte form
      {"printf '\\364\\220\\200\\200'", ""},  // above U+10FFFF
      {"printf 'key\\000tail'", ""},
  };
  for (const auto& [script, expected] : cases) {
    SCOPED_TRACE(script);
    AddTool("xclip", script);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ReadClipboard(), expected);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kClipboardTimeoutMs + 1000));
  }
}

TEST_F(ClipboardTools, ToolsAreReapedAndNoPipeIsLeftOpen) {
  AddTool("xclip", "printf key");
  const int firstFree = dup(0);
  close(firstFree);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ReadClipboard(), "key");
  AddTool("xclip", "exec /bin/sleep 10");
  EXPECT_EQ(ReadClipboard(), "");

  const int nextFree = dup(0);
  close(nextFree);
  EXPECT_EQ(nextFree, firstFree);
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "a clipboard tool was left unreaped";
}

}  // namespace
