// The plug-in's view of being loaded: what it leaves registered at stop is
// counted (its own tests assert those counts are zero) and dropped before
// dlclose.
#include "XPHostControl.h"

#include <gtest/gtest.h>

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

