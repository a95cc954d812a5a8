#include "PluginTestSupport.h"

#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tralix_test {

std::string FreshScratchDir() {
  const char* root = std::getenv("TRALIX_TEST_TMP");
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string leaf = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
  std::replace(leaf.begin(), leaf.end(), '/', '_');
  const std::filesystem::path dir = std::filesystem::path(root ? root : "/tmp/tralix-tests") / leaf;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

void PublishCoreDataRefs() {
  xphost::SetDataf("sim/flightmodel/position/latitude", 47.4491f);
  xphost::SetDataf("sim/flightmodel/position/longitude", -122.3093f);
  xphost::SetDataf("sim/flightmodel/position/elevation", 131.0f);
  xphost::SetDataf("sim/flightmodel/position/psi", 163.5f);
  xphost::SetDataf("sim/cockpit/radios/gps_dme_speed_kts", 0.0f);
  xphost::SetDataf("sim/flightmodel/position/y_agl", 0.0f);
  xphost::SetDataf("sim/flightmodel/position/altitude_ft_pilot", 430.0f);
  xphost::SetDatab("sim/aircraft/view/acf_ICAO", "C172");
  xphost::SetDatab("sim/aircraft/view/acf_ui_name", "Cessna Skyhawk");
}

std::vector<std::string> LogLinesSince(size_t firstLine) {
  std::vector<std::string> lines = xphost::LogLines();
  if (firstLine >= lines.size()) return {};
  return std::vector<std::string>(lines.begin() + static_cast<long>(firstLine), lines.end());
}

bool LogHasLine(const std::string& line) {
  const std::vector<std::string> lines = xphost::LogLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace tralix_test
