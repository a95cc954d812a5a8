// The plug-in's view of being loaded: what it leaves registered at stop is
// counted (its own tests assert those counts are zero) and dropped before
// dlclose, and its path comes cut to the SDK's buffer.
#include "XPHostControl.h"
#include "XPLMPlugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(HostPluginLoading, LeftoversAreCountedAndNeverCalledAfterUnload) {
  xphost::Reset();
  std::string error;
  ASSERT_TRUE(xphost::LoadPlugin(TEST_PLUGIN_PATH, nullptr, &error)) << error;
  xphost::UnloadPlugin();
  const xphost::UnloadLeftovers leftovers = xphost::LastUnloadLeftovers();
  EXPECT_EQ(leftovers.flightLoops, 1);
  EXPECT_EQ(leftovers.windows, 1);
  EXPECT_EQ(leftovers.widgetCallbacks, 1);
  EXPECT_EQ(leftovers.menuHandlers, 1);

  xphost::ClearLog();
  xphost::RunFor(0.3, 0.1);
  EXPECT_FALSE(xphost::PickMenuItem({"Leftover", "Go"}));
  EXPECT_TRUE(xphost::ClickWidget(xphost::FindWidget("Leftover")));
  EXPECT_EQ(xphost::LogText(), "") << "code of the unloaded binary ran";
}

// Up to 255 characters and a NUL, as the SDK's 256-byte buffer allows, so an
// undersized buffer in the plug-in shows under the sanitizer.
TEST(HostPluginLoading, PluginPathFillsTheSdkBufferAndNoMore) {
  for (const std::string& path : {std::string(), "/" + std::string(254, 'p'), "/" + std::string(300, 'p')}) {
    xphost::SetPluginPath(path);
    char buffer[300];
    std::memset(buffer, '#', sizeof buffer);
    XPLMGetPluginInfo(XPLMGetMyID(), nullptr, buffer, nullptr, nullptr);
    EXPECT_EQ(std::string(buffer), path.substr(0, 255));
    EXPECT_EQ(buffer[256], '#');
  }
}
