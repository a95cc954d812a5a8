// The flight-profile player: a flight loop sees, at every call, the values the
// profile holds at that clock time.
#include "FlightPlayer.h"
#include "FlightProfile.h"
#include "XPHostControl.h"

#include "XPLMDataAccess.h"
#include "XPLMProcessing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using flight_profile::Player;
using flight_profile::Profile;

namespace {

Profile Parse(const std::string& text) {
  Profile profile;
  std::string error;
  EXPECT_TRUE(flight_profile::ParseProfile(text, "player.flight", &profile, &error)) << error;
  return profile;
}

struct Observation {
  double time;
  float height;
};
std::vector<Observation> gObservations;

float RecordHeight(float, float, int, void*) {
  const XPLMDataRef height = XPLMFindDataRef("sim/flightmodel/position/y_agl");
  gObservations.push_back({XPLMGetElapsedTime(), height ? XPLMGetDataf(height) : -1.0f});
  return -1.0f;  // every frame
}

class FlightPlayer : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    gObservations.clear();
  }
};

TEST_F(FlightPlayer, EveryFrameSeesTheValueHeldAtItsClockTime) {
  // Rows on the 0.1 s frame grid: a clock summed from ten 0.1 s frames is
  // 0.9999999999999999, and the row at 1.0 must still count as due.
  Player player(Parse(
      "dataref agl float sim/flightmodel/position/y_agl\n"
      "0   agl=30\n"
      "0.5 agl=20\n"
      "1.0 agl=10\n"
      "end 1.5\n"));
  player.PublishUntil(xphost::ElapsedTime());
  XPLMRegisterFlightLoopCallback(RecordHeight, -1.0f, nullptr);
  player.PlayToEnd(0.1);

  ASSERT_FALSE(gObservations.empty());
  EXPECT_NEAR(xphost::ElapsedTime(), 1.5, 1e-9);
  for (const Observation& seen : gObservations) {
    const float expected = seen.time < 0.5 - 1e-6 ? 30.0f : seen.time < 1.0 - 1e-6 ? 20.0f : 10.0f;
    EXPECT_EQ(seen.height, expected) << "at clock " << seen.time;
  }
  EXPECT_TRUE(player.AllRowsPublished());
}

TEST_F(FlightPlayer, PublishesArraysAndTextUnderTheirPaths) {
  Player player(Parse(
      "dataref gear int[10] sim/flightmodel2/gear/on_ground\n"
      "dataref power float[2] sim/flightmodel/engine/ENGN_power\n"
      "dataref icao bytes sim/aircraft/view/acf_ICAO\n"
      "dataref beacon int sim/cockpit2/switches/beacon_on\n"
      "0 gear=0,1,1,0,0,0,0,0,0,0 power=0.5,0.25 icao=C172 beacon=1\n"));
  EXPECT_EQ(player.PublishUntil(0.0), 4);

  int gear[10] = {};
  ASSERT_NE(XPLMFindDataRef("sim/flightmodel2/gear/on_ground"), nullptr);
  EXPECT_EQ(XPLMGetDatavi(XPLMFindDataRef("sim/flightmodel2/gear/on_ground"), gear, 0, 10), 10);
  EXPECT_EQ(gear[1], 1);
  EXPECT_EQ(gear[3], 0);
  float power[2] = {};
  EXPECT_EQ(XPLMGetDatavf(XPLMFindDataRef("sim/flightmodel/engine/ENGN_power"), power, 0, 2), 2);
  EXPECT_EQ(power[1], 0.25f);
  char icao[8] = {};
  XPLMGetDatab(XPLMFindDataRef("sim/aircraft/view/acf_ICAO"), icao, 0, 7);
  EXPECT_STREQ(icao, "C172");
  EXPECT_EQ(XPLMGetDatai(XPLMFindDataRef("sim/cockpit2/switches/beacon_on")), 1);
}

TEST_F(FlightPlayer, ProfileTimeCountsFromTheGivenStartAndTheLastFrameLandsOnTheTarget) {
  xphost::SetElapsedTime(100.0);
  Player player(Parse(
      "dataref agl float sim/flightmodel/position/y_agl\n"
      "0  agl=1\n"
      "2  agl=2\n"),
                100.0);
  EXPECT_EQ(player.PublishUntil(101.9), 1) << "the row at 2 falls at clock 102";
  player.PlayUntil(2.05, 0.5);
  EXPECT_NEAR(player.ProfileTime(), 2.05, 1e-9);
  EXPECT_NEAR(xphost::ElapsedTime(), 102.05, 1e-9);
  EXPECT_EQ(XPLMGetDataf(XPLMFindDataRef("sim/flightmodel/position/y_agl")), 2.0f);
  EXPECT_EQ(player.PublishUntil(1000.0), 0) << "a row is published once";
}

}  // namespace
