// The flight-profile format and its player: the rules a file must keep
// (refused with file:line and the culprit named), and that every frame of a
// played profile sees the values it holds at that frame's clock time.
#include "FlightPlayer.h"
#include "FlightProfile.h"
#include "XPHostControl.h"

#include "XPLMDataAccess.h"
#include "XPLMProcessing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using flight_profile::Profile;

namespace {

Profile ParseOrFail(const std::string& text) {
  Profile profile;
  std::string error;
  EXPECT_TRUE(flight_profile::ParseProfile(text, "test.flight", &profile, &error)) << error;
  return profile;
}

TEST(FlightProfile, BrokenRulesAreRefusedWithTheLineAndTheCulprit) {
  struct Bad {
    const char* text;
    int line;
    const char* named;
  };
  const Bad cases[] = {
      {"fly 12\n", 1, "fly"},
      {"\n\ndataref x double a/x\n", 3, "double"},
      {"dataref x int[1025] a/x\n", 1, "int[1025]"},
      {"dataref x float a/x\n0 y=1\n", 2, "'y'"},
      {"dataref f float a/f\n2 f=1\n1.5 f=2\n", 3, "1.5"},
      {"dataref s bytes a/s\n0 s=\"open\n", 2, "quote"},
      {"dataref f float a/f\n0 f=1\nend 5\n6 f=2\n", 4, "end"},
  };
  for (const Bad& bad : cases) {
    Profile profile;
    std::string error;
    EXPECT_FALSE(flight_profile::ParseProfile(bad.text, "test.flight", &profile, &error)) << bad.text;
    EXPECT_EQ(error.rfind("test.flight:" + std::to_string(bad.line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(bad.named), std::string::npos) << error;
  }
}

// A profile stands for what X-Plane publishes: a name it lacks, or a type or
// size other than X-Plane 12's, is refused with the line (a double may be a float).
TEST(FlightProfile, DeclarationsMustMatchWhatXPlane12Publishes) {
  const std::pair<const char*, const char*> cases[] = {
      {"dataref alt float sim/flightmodel/position/altitude_ft_pilot\n0 alt=1\n", "altitude_ft_pilot"},
      {"dataref paused float sim/time/paused\n0 paused=1\n", "'paused'"},
      {"dataref gear int[3] sim/flightmodel2/gear/on_ground\n0 gear=1,1,1\n", "'gear'"},
  };
  for (const auto& [text, culprit] : cases) {
    const std::string error = flight_profile::XPlaneMismatch(ParseOrFail(text));
    EXPECT_EQ(error.rfind("test.flight:1: ", 0), 0u) << error;
    EXPECT_NE(error.find(culprit), std::string::npos) << error;
  }
  const char* doubleAsFloat = "dataref lat float sim/flightmodel/position/latitude\n0 lat=1\n";
  EXPECT_EQ(flight_profile::XPlaneMismatch(ParseOrFail(doubleAsFloat)), "");
}

std::vector<std::pair<double, float>> gSeen;  // clock, height, at every flight-loop call

float RecordHeight(float, float, int, void*) {
  gSeen.emplace_back(XPLMGetElapsedTime(), XPLMGetDataf(XPLMFindDataRef("sim/flightmodel/position/y_agl")));
  return -1.0f;
}

// Every type published under its path, values held until a row sets them
// again. Rows on the 0.1 s frame grid: a clock summed from ten 0.1 s frames is
// 0.9999999999999999, and the row at 1.0 must still count as due.
TEST(FlightPlayer, EveryFrameSeesTheValuesHeldAtItsClockTime) {
  xphost::Reset();
  flight_profile::Player player(ParseOrFail(
      "# a comment line\r\n"
      "dataref agl   float    sim/flightmodel/position/y_agl   # trailing comment\r\n"
      "dataref gear  int[3]   sim/flightmodel2/gear/on_ground\n"
      "dataref name  bytes    sim/aircraft/view/acf_ui_name\n"
      "\n"
      "0   agl=30 gear=1,1,1 name=\"Cessna \\\"Skyhawk\\\" #1 \\\\ C\"\n"
      "0.5 agl=20 gear=0,1,-1\n"
      "1.0 agl=10\n"
      "end 1.5\n"));
  player.PublishUntil(0.0);
  XPLMRegisterFlightLoopCallback(RecordHeight, -1.0f, nullptr);
  while (player.ProfileTime() < 1.5 - 1e-9) player.Step(0.1);
  ASSERT_EQ(gSeen.size(), 15u);
  for (const auto& [clock, height] : gSeen)
    EXPECT_EQ(height, clock < 0.5 - 1e-6 ? 30.0f : clock < 1.0 - 1e-6 ? 20.0f : 10.0f) << "at clock " << clock;
  int gear[3] = {};
  EXPECT_EQ(XPLMGetDatavi(XPLMFindDataRef("sim/flightmodel2/gear/on_ground"), gear, 0, 3), 3);
  EXPECT_EQ(std::vector<int>(gear, gear + 3), (std::vector<int>{0, 1, -1}));
  char name[32] = {};
  XPLMGetDatab(XPLMFindDataRef("sim/aircraft/view/acf_ui_name"), name, 0, sizeof name - 1);
  EXPECT_STREQ(name, "Cessna \"Skyhawk\" #1 \\ C");
  EXPECT_EQ(player.PublishUntil(1000.0), 0) << "a row is published once";
  EXPECT_EQ(ParseOrFail("dataref f float a/f\n0 f=1\n7 f=2\n").endTime, 7.0) << "no end line: the last row";
}

}  // namespace
