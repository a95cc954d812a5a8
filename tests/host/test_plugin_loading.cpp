// Loading a plug-in binary as X-Plane on Linux does. The test plug-ins are not
// linked against the host: every SDK call they make resolves from this process.
#include "XPHostControl.h"
#include "XPLMPlugin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kMessageLeaveLeftovers = 0x7e57;

class HostPluginLoading : public ::testing::Test {
 protected:
  void SetUp() override { xphost::Reset(); }
  void TearDown() override { xphost::Reset(); }
};

std::vector<std::string> PluginLines() {
  std::vector<std::string> lines;
  for (const std::string& line : xphost::LogLines())
    if (line.rfind("test plugin: ", 0) == 0 && line.find("flight loop") == std::string::npos)
      lines.push_back(line.substr(13));
  return lines;
}

TEST_F(HostPluginLoading, StartsEnablesRunsAndUnloadsInTheSimulatorsOrder) {
  xphost::LoadedPlugin loaded;
  std::string error;
  ASSERT_TRUE(xphost::LoadPlugin(TEST_PLUGIN_PATH, &loaded, &error)) << error;
  EXPECT_TRUE(loaded.started);
  EXPECT_EQ(loaded.name, "Host Test Plugin");
  EXPECT_EQ(loaded.signature, "net.tralix.hosttest");
  EXPECT_EQ(loaded.description, std::string(255, 'd'));
  EXPECT_TRUE(xphost::PluginLoaded());
  EXPECT_EQ(XPLMFindPluginBySignature("net.tralix.hosttest"), XPLMGetMyID());

  std::string absolute = std::filesystem::absolute(TEST_PLUGIN_PATH).string();
  EXPECT_EQ(PluginLines(), (std::vector<std::string>{"start", "path " + absolute, "enable"}));

  xphost::RunFor(0.3, 0.1);
  EXPECT_EQ(xphost::FlightLoops().at(0).callCount, 3);
  xphost::SendMessageToPlugin(0, 102, nullptr);
  xphost::UnloadPlugin();
  EXPECT_EQ(PluginLines(), (std::vector<std::string>{"start", "path " + absolute, "enable",
                                                      "message 102 from 0", "disable", "stop"}));
  EXPECT_FALSE(xphost::PluginLoaded());
  EXPECT_TRUE(xphost::FlightLoops().empty());
  EXPECT_EQ(xphost::LastUnloadLeftovers().flightLoops, 0);
}

TEST_F(HostPluginLoading, WhatThePluginLeavesAtStopIsReportedAndNeverCalledAgain) {
  ASSERT_TRUE(xphost::LoadPlugin(TEST_PLUGIN_PATH, nullptr, nullptr));
  xphost::SendMessageToPlugin(0, kMessageLeaveLeftovers, nullptr);
  xphost::UnloadPlugin();
  xphost::UnloadLeftovers leftovers = xphost::LastUnloadLeftovers();
  EXPECT_EQ(leftovers.flightLoops, 1);
  EXPECT_EQ(leftovers.windows, 1);
  EXPECT_EQ(leftovers.menuHandlers, 1);
  EXPECT_TRUE(xphost::Windows().empty());
  EXPECT_FALSE(xphost::PickMenuItem({"Leftover"})) << "no handler is left to call";
  xphost::RunFor(0.3, 0.1);  // would jump into the unloaded binary otherwise
}

TEST_F(HostPluginLoading, AFailedStartIsNeitherEnabledNorStopped) {
  xphost::LoadedPlugin loaded;
  ASSERT_TRUE(xphost::LoadPlugin(TEST_PLUGIN_FAILING_START_PATH, &loaded, nullptr));
  EXPECT_FALSE(loaded.started);
  EXPECT_EQ(loaded.name, "Host Test Plugin");
  xphost::UnloadPlugin();
  std::vector<std::string> lines = PluginLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "start");
  EXPECT_EQ(lines.size(), 2u) << "no enable, disable or stop after a failed start";
  EXPECT_EQ(xphost::LastUnloadLeftovers().flightLoops, 1) << "it registered before failing";
}

TEST_F(HostPluginLoading, BinariesThatCannotBeLoadedAreRefused) {
  struct Row {
    std::string path;
    std::string expectedInError;
  };
  const Row rows[] = {
      {TEST_PLUGIN_NO_DISABLE_PATH, "XPluginDisable"},
      {std::string(HOST_TEST_TMP) + "/does-not-exist.xpl", "does-not-exist.xpl"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    std::string error;
    EXPECT_FALSE(xphost::LoadPlugin(row.path, nullptr, &error));
    EXPECT_NE(error.find(row.expectedInError), std::string::npos) << error;
    EXPECT_FALSE(xphost::PluginLoaded());
  }
  EXPECT_TRUE(PluginLines().empty()) << "nothing of a refused binary runs";
}

TEST_F(HostPluginLoading, OnlyOnePluginAtATime) {
  ASSERT_TRUE(xphost::LoadPlugin(TEST_PLUGIN_PATH, nullptr, nullptr));
  std::string error;
  EXPECT_FALSE(xphost::LoadPlugin(TEST_PLUGIN_PATH, nullptr, &error));
  EXPECT_NE(error.find("already loaded"), std::string::npos);
}

}  // namespace
