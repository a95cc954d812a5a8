// The shipped flight profiles, played through the plug-in's own flight loop and
// landing detector (linked in, no data token, so nothing leaves the process):
// each scenario must end with the landings, takeoffs and resets it was made for.
#include "FlightPlayer.h"
#include "FlightProfile.h"
#include "XPHostControl.h"

#include "DataRefs.h"
#include "LandingDetection.h"
#include "Tralix.h"

#include "XPLMDataAccess.h"
#include "XPLMProcessing.h"

#include <gtest/gtest.h>

#include <ostream>
#include <cstdlib>
#include <string>
#include <vector>

using flight_profile::Player;
using flight_profile::Profile;

namespace {

constexpr double kFrameSeconds = 0.05;
constexpr float kTouchdownRate = -150.0f;

const char* const kCoreDataRefs[] = {
    "sim/flightmodel/position/latitude",     "sim/flightmodel/position/longitude",
    "sim/flightmodel/position/elevation",    "sim/flightmodel/position/psi",
    "sim/cockpit/radios/gps_dme_speed_kts",  "sim/flightmodel/position/y_agl",
    "sim/flightmodel/position/altitude_ft_pilot", "sim/aircraft/view/acf_ICAO",
    "sim/aircraft/view/acf_ui_name"};
const char* const kLandingDataRefs[] = {
    "sim/flightmodel2/gear/on_ground", "sim/cockpit2/gauges/indicators/vvi_fpm_pilot",
    "sim/flightmodel/position/y_agl",  "sim/time/total_running_time_sec",
    "sim/flightmodel/forces/g_nrml",   "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot"};

std::string FlightPath(const std::string& file) {
  const char* dir = std::getenv("TRALIX_FLIGHTS_DIR");
  return std::string(dir ? dir : "flights") + "/" + file;
}

Profile LoadOrFail(const std::string& file) {
  Profile profile;
  std::string error;
  EXPECT_TRUE(flight_profile::LoadProfile(FlightPath(file), &profile, &error)) << error;
  return profile;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<size_t> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<size_t> found;
  for (size_t i = 0; i < lines.size(); ++i)
    if (StartsWith(lines[i], prefix)) found.push_back(i);
  return found;
}

// The number after a fixed text in a log line, e.g. the time in "... at time 155.050, ...".
double NumberAfter(const std::string& line, const std::string& marker) {
  const size_t at = line.find(marker);
  return at == std::string::npos ? -1.0 : std::atof(line.c_str() + at + marker.size());
}

// Start-up as far as the flight loop and the detector need it, then the whole
// profile in frames of 50 ms.
std::vector<std::string> FlyThroughPlugin(const Profile& profile) {
  xphost::Reset();
  Player player(profile);
  player.PublishUntil(0.0);
  XPLMDataRef* const coreHandles[] = {&gPlaneLat,         &gPlaneLon,         &gPlaneEl,
                                      &gPlaneHeading,     &gPlaneGroundSpeed, &gPlaneAltitudeAGL,
                                      &gPlaneAltitude,    &gPlaneICAO,        &gPlaneName};
  for (size_t i = 0; i < 9; ++i) *coreHandles[i] = XPLMFindDataRef(kCoreDataRefs[i]);
  gDataKeyToken[0] = '\0';
  EXPECT_EQ(InitDataRefs(), 1);
  InitLandingDetection();
  XPLMRegisterFlightLoopCallback(TralixMainLoopCallback, 0.1f, nullptr);
  player.PlayToEnd(kFrameSeconds);
  return xphost::LogLines();
}

TEST(ShippedFlightProfiles, ParseAndPublishEveryDataRefTheDetectorAndFlightLoopReadAtTimeZero) {
  for (const char* file : {"circuit-2min.flight", "hop-59.9.flight", "flight-20min.flight", "touch-and-go.flight",
                           "demo.flight"}) {
    const Profile profile = LoadOrFail(file);
    for (const char* path : kCoreDataRefs) {
      const int dataref = profile.FindDataRef(path);
      EXPECT_GE(dataref, 0) << file << ": " << path;
      EXPECT_NE(profile.ValueAt(dataref, 0.0), nullptr) << file << ": " << path << " is there at start-up";
    }
    for (const char* path : kLandingDataRefs) {
      const int dataref = profile.FindDataRef(path);
      EXPECT_NE(profile.ValueAt(dataref, 0.0), nullptr) << file << ": " << path << " is there at start-up";
    }
  }
}

struct Scenario {
  const char* file;
  int landings;
  double flightSeconds;       // as the accepted landing's line reports it (0: none)
  bool resetInTouchdownCall;  // else the reset comes later, on the ground
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.file; }

// One scenario per test, so that each starts from a freshly loaded plug-in's state.
class ShippedScenario : public testing::TestWithParam<Scenario> {};

TEST_P(ShippedScenario, EndsAsDesigned) {
  const Scenario& s = GetParam();
  const Profile profile = LoadOrFail(s.file);
  const std::vector<std::string> log = FlyThroughPlugin(profile);

  EXPECT_EQ(LinesStartingWith(log, "Tralix - Takeoff detected!").size(), 1u);
  const std::vector<size_t> landings = LinesStartingWith(log, "Tralix - Weight on wheels detected!");
  ASSERT_EQ(landings.size(), static_cast<size_t>(s.landings));
  EXPECT_EQ(LinesStartingWith(log, "Tralix - Failed to send landing event").size(), landings.size());
  const std::vector<size_t> resets = LinesStartingWith(log, "Tralix - Takeoff detection reset (new flight session)");
  ASSERT_EQ(resets.size(), 1u) << "every profile stays on the ground past the reset";

  if (s.landings == 0) {
    EXPECT_TRUE(LinesStartingWith(log, "Tralix - DEBUG: Sending landing event").empty());
    return;
  }
  const std::string& landingLine = log[landings[0]];
  EXPECT_NEAR(NumberAfter(landingLine, "Flight time: "), s.flightSeconds, 0.25) << landingLine;
  EXPECT_NE(landingLine.find("Gear values: [0,1,1,0,0,0,0,0,0,0]"), std::string::npos) << landingLine;
  const std::string& wowLine = log[landings[0] + 1];
  EXPECT_TRUE(StartsWith(wowLine, "Tralix - DEBUG: WOW detected at time ")) << wowLine;
  EXPECT_NE(wowLine.find(", buffer points: 10"), std::string::npos) << wowLine;

  // A flight of more than 300 s is reset in the touchdown call itself.
  const std::vector<size_t> complete = LinesStartingWith(log, "Tralix - DEBUG: Landing event processing complete");
  ASSERT_EQ(complete.size(), 1u);
  EXPECT_EQ(resets[0] == complete[0] + 1, s.resetInTouchdownCall);

  // The vertical-speed indicator still shows the touchdown rate when the detector reads it.
  const double detectedAt = NumberAfter(wowLine, "WOW detected at time ");
  const int vs = profile.FindDataRef("sim/cockpit2/gauges/indicators/vvi_fpm_pilot");
  EXPECT_EQ(profile.ValueAt(vs, detectedAt)->floats[0], kTouchdownRate) << "at " << detectedAt;
}

INSTANTIATE_TEST_SUITE_P(Flights, ShippedScenario,
                         testing::Values(Scenario{"circuit-2min.flight", 1, 120.0, false},
                                         Scenario{"hop-59.9.flight", 0, 0.0, false},
                                         Scenario{"flight-20min.flight", 1, 1200.0, true},
                                         Scenario{"touch-and-go.flight", 1, 105.0, false},
                                         Scenario{"demo.flight", 1, 390.0, true}));

TEST(ShippedFlightProfiles, TouchdownRateHoldsLongEnoughForAnyCycleThatDetectsIt) {
  // With a service answering, airborne cycles come 1.1 s apart; the detector
  // reads the vertical speed on the first on-ground cycle.
  for (const char* file : {"circuit-2min.flight", "flight-20min.flight", "touch-and-go.flight", "demo.flight"}) {
    const Profile profile = LoadOrFail(file);
    const int gear = profile.FindDataRef("sim/flightmodel2/gear/on_ground");
    const int vs = profile.FindDataRef("sim/cockpit2/gauges/indicators/vvi_fpm_pilot");
    double touchdown = -1.0;
    for (const flight_profile::Row& row : profile.rows) {
      if (row.time <= 0.0) continue;
      const bool mainsWereUp = profile.ValueAt(gear, row.time - 0.01)->ints[1] == 0;
      if (mainsWereUp && profile.ValueAt(gear, row.time)->ints[1] == 1) {
        touchdown = row.time;
        break;
      }
    }
    ASSERT_GT(touchdown, 0.0) << file;
    for (double t = touchdown; t <= touchdown + 1.2; t += 0.1)
      EXPECT_EQ(profile.ValueAt(vs, t)->floats[0], kTouchdownRate) << file << " at " << t;
  }
}

TEST(ShippedFlightProfiles, TouchAndGoSecondTouchdownFallsInsideTheCooldown) {
  const std::vector<std::string> log = FlyThroughPlugin(LoadOrFail("touch-and-go.flight"));
  const size_t landing = LinesStartingWith(log, "Tralix - Weight on wheels detected!").at(0);
  size_t cooldownCalls = 0;
  for (size_t i = landing; i < log.size(); ++i)
    cooldownCalls += log[i] == "Tralix - DEBUG: Still in landing cooldown period" ? 1 : 0;
  EXPECT_GT(cooldownCalls, 0u);
  const std::vector<size_t> gearChanges = LinesStartingWith(log, "Tralix - Gear state changed:");
  ASSERT_EQ(gearChanges.size(), 3u) << "parked at start, lift-off, first touchdown; the bounce is never seen";
  EXPECT_EQ(gearChanges.back(), landing - 1);
}

// Samples are at least 0.1 s apart. The detector compares the float clock's
// difference with 0.1f, so with a cycle every 0.1 s about a third of the
// differences round below 0.1f and that cycle takes no sample.
TEST(ShippedFlightProfiles, WithoutATokenTheDemoSamplesEveryCycleOrEverySecondCycle) {
  const std::vector<std::string> log = FlyThroughPlugin(LoadOrFail("demo.flight"));
  std::vector<double> sampleTimes;
  for (const std::string& line : log)
    if (StartsWith(line, "Tralix - DEBUG: Data point collected at time "))
      sampleTimes.push_back(NumberAfter(line, "at time "));
  ASSERT_GT(sampleTimes.size(), 1950u) << "390 s airborne";
  int tenthGaps = 0;
  for (size_t i = 1; i < sampleTimes.size(); ++i) {
    const double gap = sampleTimes[i] - sampleTimes[i - 1];
    EXPECT_GE(gap, 0.0995) << "at " << sampleTimes[i];
    EXPECT_LE(gap, 0.2005) << "at " << sampleTimes[i];
    tenthGaps += gap < 0.1005 ? 1 : 0;
  }
  testing::Test::RecordProperty("samples", static_cast<int>(sampleTimes.size()));
  testing::Test::RecordProperty("gaps_of_a_tenth", tenthGaps);
}

}  // namespace
