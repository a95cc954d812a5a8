// Helpers and the fixture shared by the plug-in's unit tests.
#pragma once

#include "PluginState.h"
#include "TestFiles.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tralix_test {

// A new, empty folder for this test under TRALIX_TEST_TMP (or /tmp).
std::string FreshScratchDir();

void WriteFile(const std::string& path, const std::string& text);

using Lines = std::vector<std::string>;
bool Contains(const Lines& lines, const std::string& line);

// Log lines (without '\n') logged since the given count of lines.
Lines LogLinesSince(size_t firstLine);
bool LogHasLine(const std::string& line);

// A key and token state and the status lines the window and the dialog show for it.
struct ConnectionState {
  const char* key;
  const char* token;
  int busy;
  float backoff;
  Lines status;
};
extern const ConnectionState kConnectionStates[5];

// The widget's state; fails the test when there is no such widget.
xphost::WidgetInfo Widget(void* id);

// The state of a freshly loaded plug-in (host, UI, CF failures, key, token,
// connection health), also between the cases of a table run in one process,
// and an empty Tralix.cfg of the test's own that gConfigPath names.
class PluginTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Puts key and token in memory and in the configuration file.
  void StoreKeyAndToken(const char* key, const char* token);
  // Points gConfigPath into a folder that does not exist: every write fails.
  void MakeConfigUnwritable();
  // Points gConfigPath back at the test's file.
  void UseConfigFile();
  std::string ConfigText() const { return ReadFile(configFile_); }

  void MarkLog();
  std::vector<std::string> LogSinceMark() const { return LogLinesSince(logMark_); }

  std::string scratch_;
  std::string configFile_;

 private:
  size_t logMark_ = 0;
};

// The menu, windows and dialog as the pilot meets them, and a clipboard of the
// test's own: an xclip on PATH that prints the file "clipboard" in the scratch
// folder, or fails as for an empty clipboard when there is none.
class UiTest : public PluginTest {
 protected:
  void SetUp() override;

  static void BuildDialog(int left = 100, int top = 700);
  static void Pick(const std::string& item) { EXPECT_TRUE(xphost::PickMenuItem({"Tralix", item})); }
  // Clicks the button as the pilot would; returns what was logged meanwhile.
  static Lines Press(void* button);
  static void NextFrame() { xphost::RunFrame(0.05); }
  static xphost::WindowInfo Window(void* id);
  void SetClipboard(const std::string& text) const { WriteFile(scratch_ + "/clipboard", text); }
};

// A shell script named name in folder, runnable unless mode says otherwise.
void AddTool(const std::string& folder, const std::string& name, const std::string& script, unsigned mode = 0755);

}  // namespace tralix_test
