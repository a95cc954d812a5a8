// The shipped Tralix.xpl loads into the headless host from its path, starts,
// runs its flight loop and stops.
#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string CopyPluginIntoFreshFolder() {
  const char* root = std::getenv("TRALIX_TEST_TMP");
  const std::filesystem::path dir =
      std::filesystem::path(root ? root : "/tmp/tralix-tests") / "load" / "Tralix" / "lin_x64";
  std::filesystem::remove_all(dir.parent_path());
  std::filesystem::create_directories(dir);
  const std::filesystem::path copy = dir / "Tralix.xpl";
  std::filesystem::copy_file(TRALIX_PLUGIN_FILE, copy);
  return copy.string();
}

void PublishParkedAircraft() {
  xphost::SetDataf("sim/flightmodel/position/latitude", 47.4491f);
  xphost::SetDataf("sim/flightmodel/position/longitude", -122.3093f);
  xphost::SetDataf("sim/flightmodel/position/elevation", 131.0f);
}

TEST(LoadPlugin, ShippedBinaryStartsRunsAndStops) {
  xphost::Reset();
  PublishParkedAircraft();
  xphost::LoadedPlugin plugin;
  std::string error;
  ASSERT_TRUE(xphost::LoadPlugin(CopyPluginIntoFreshFolder(), &plugin, &error)) << error;
  EXPECT_TRUE(plugin.started);
  EXPECT_EQ(plugin.name, "Tralix");
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - Plugin initialization complete!");

  xphost::RunFor(3.0, 0.05);
  bool cycled = false;
  for (const auto& loop : xphost::FlightLoops()) cycled = cycled || loop.callCount > 0;
  EXPECT_TRUE(cycled);

  xphost::UnloadPlugin();
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - Plugin stopped");
  EXPECT_TRUE(xphost::FlightLoops().empty());
}

TEST(LoadPlugin, StartFailsWithoutPositionDataRefs) {
  xphost::Reset();
  xphost::LoadedPlugin plugin;
  std::string error;
  ASSERT_TRUE(xphost::LoadPlugin(CopyPluginIntoFreshFolder(), &plugin, &error)) << error;
  EXPECT_FALSE(plugin.started);
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - CRITICAL: Failed to initialize core position data refs");
  EXPECT_TRUE(xphost::FlightLoops().empty());
  xphost::UnloadPlugin();
}

}  // namespace
