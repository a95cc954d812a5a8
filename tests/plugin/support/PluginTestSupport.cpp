#include "PluginTestSupport.h"

#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "UI.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tralix_test {

std::string FreshScratchDir() {
  const char* root = std::getenv("TRALIX_TEST_TMP");
  return FreshFolder(root ? root : "/tmp/tralix-tests");
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

Lines LogLinesSince(size_t firstLine) {
  std::vector<std::string> lines = xphost::LogLines();
  if (firstLine >= lines.size()) return {};
  return std::vector<std::string>(lines.begin() + static_cast<long>(firstLine), lines.end());
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool LogHasLine(const std::string& line) { return Contains(xphost::LogLines(), line); }

const ConnectionState kConnectionStates[5] = {
    {"", "", 0, 0.0f, {"API Key: Not configured"}},
    {"", "tok", 1, 3.0f, {"API Key: Not configured"}},
    {"key", "", 0, 0.0f, {"API Key: Configured", "Connection: Not established"}},
    {"key", "tok", 0, 0.0f, {"API Key: Configured", "Connection: Ready", "Backoff: 0.0 sec"}},
    {"key", "tok", 1, 2.5f, {"API Key: Configured", "Connection: Busy", "Backoff: 2.5 sec"}},
};

xphost::WidgetInfo Widget(void* id) {
  xphost::WidgetInfo info;
  EXPECT_TRUE(xphost::GetWidget(id, &info));
  return info;
}

void PluginTest::SetUp() {
  CleanupUI();
  xphost::Reset();
  CFStandInClearFailures();
  gShowLiveData = gShowStatus = gShowConfig = 0;
  gNetworkBusy = 0;
  gConsecutiveFailures = 0;
  gBackoffTime = 0.0f;
  gLastSendTime = 0.0f;
  scratch_ = FreshScratchDir();
  configFile_ = scratch_ + "/Tralix.cfg";
  UseConfigFile();
  StoreKeyAndToken("", "");
}

void PluginTest::TearDown() { CFStandInClearFailures(); }

void PluginTest::StoreKeyAndToken(const char* key, const char* token) {
  std::memset(gApiKey, 0, sizeof(gApiKey));
  std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
  std::snprintf(gApiKey, sizeof(gApiKey), "%s", key);
  std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", token);
  WriteFile(configFile_, std::string("API_KEY=") + key + "\nDATA_KEY_TOKEN=" + token + "\n");
}

void PluginTest::MakeConfigUnwritable() {
  std::snprintf(gConfigPath, sizeof(gConfigPath), "%s/missing-folder/Tralix.cfg", scratch_.c_str());
}

void PluginTest::UseConfigFile() { std::snprintf(gConfigPath, sizeof(gConfigPath), "%s", configFile_.c_str()); }

void PluginTest::MarkLog() { logMark_ = xphost::LogLines().size(); }

void AddTool(const std::string& folder, const std::string& name, const std::string& script, unsigned mode) {
  const std::string path = folder + "/" + name;
  WriteFile(path, "#!/bin/sh\n" + script + "\n");
  chmod(path.c_str(), static_cast<mode_t>(mode));
}

void UiTest::SetUp() {
  PluginTest::SetUp();
  const std::string bin = scratch_ + "/bin";
  std::filesystem::create_directory(bin);
  AddTool(bin, "xclip", "exec /bin/cat '" + scratch_ + "/clipboard' 2>/dev/null");
  setenv("PATH", bin.c_str(), 1);
  setenv("DISPLAY", ":99", 1);
  unsetenv("WAYLAND_DISPLAY");
}

void UiTest::BuildDialog(int left, int top) { CreateConfigWidget(left, top, 550, 400); }

Lines UiTest::Press(void* button) {
  const size_t before = xphost::LogLines().size();
  EXPECT_TRUE(xphost::ClickWidget(button));
  return LogLinesSince(before);
}

xphost::WindowInfo UiTest::Window(void* id) {
  xphost::WindowInfo info;
  EXPECT_TRUE(xphost::GetWindow(id, &info));
  return info;
}

}  // namespace tralix_test
