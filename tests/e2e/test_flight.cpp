// The shipped plug-in flown against the service stand-in over verified HTTPS:
// landing events, start-up activation, the pacing of broadcasts while the
// service fails, the plug-in's own bounds on broadcasts and activations while
// the service stalls at each stage of the exchange, and unloading mid-request.
#include "E2eSupport.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>

namespace {

using e2e::FaultOn;

const std::string kWithToken = "API_KEY=tlx_key_1\nDATA_KEY_TOKEN=tok_1\n";

struct Landing {
  const char* flight;
  size_t events;
  xphost::XPlaneVersion version = xphost::XPlaneVersion::XP12;
};
void PrintTo(const Landing& landing, std::ostream* out) {
  *out << landing.flight << (landing.version == xphost::XPlaneVersion::XP11 ? " in X-Plane 11" : "");
}

class LandingFlight : public e2e::ServiceTest, public testing::WithParamInterface<Landing> {};

// Also: every broadcast carries the altitude and ground speed X-Plane published,
// and the plug-in read every dataref through an accessor X-Plane offers for it.
TEST_P(LandingFlight, EachLandingUploadsOneEventWithItsLastTenSamplesOldestFirst) {
  const bool xplane12 = GetParam().version == xphost::XPlaneVersion::XP12;
  xphost::SetXPlaneVersion(GetParam().version);
  flight_profile::Player player = e2e::PlayerFor(GetParam().flight);
  e2e::LoadShippedPlugin(folder_, kWithToken);
  e2e::FlightDriver driver;
  while (!player.AllRowsPublished() || player.ProfileTime() < player.profile().endTime) driver.Frame(&player);

  const auto events = RequestsTo(e2e::kEventPath);
  ASSERT_EQ(events.size(), GetParam().events);
  for (const auto& event : events) {
    EXPECT_EQ(event.verdict, "ok");
    const nlohmann::json& data = event.json["data"];
    EXPECT_EQ(std::stod(data["verticalSpeed"].get<std::string>()), -150.0) << "the touchdown rate";
    const nlohmann::json& points = data["points"];
    ASSERT_EQ(points.size(), 10u);
    for (size_t i = 1; i < points.size(); ++i)
      EXPECT_LT(points[i]["groundAltitude"].get<double>(), points[i - 1]["groundAltitude"].get<double>())
          << "the approach descends at every sample";
  }
  for (const auto& broadcast : RequestsTo(e2e::kBroadcastPath)) {
    EXPECT_GT(broadcast.json["altitudeMSL"].get<double>(), 430.0) << "the runway is at 430 ft";
    EXPECT_NEAR(broadcast.json["groundSpeed"].get<double>(), broadcast.extra["groundSpeed"].get<double>(), 0.006);
    EXPECT_EQ(broadcast.extra.contains("xp_aircraft_wind_velocity"), xplane12);
  }
  EXPECT_EQ(xphost::WrongAccessorReads(), std::vector<std::string>{});
}

// The hop is a second short of a flight; the touch-and-go's bounce falls in the
// cool-down after its first touchdown.
INSTANTIATE_TEST_SUITE_P(Flights, LandingFlight,
                         testing::Values(Landing{"circuit-2min.flight", 1}, Landing{"hop-59.9.flight", 0},
                                         Landing{"touch-and-go.flight", 1},
                                         Landing{"circuit-2min.flight", 1, xphost::XPlaneVersion::XP11}));

using ServiceFlight = e2e::ServiceTest;

TEST_F(ServiceFlight, FirstRunActivatesBacksOffWhileTheServiceFailsAndResumesAfterOneSuccess) {
  auto parked = e2e::PlayerFor("circuit-2min.flight");
  service_->AddFault(FaultOn(e2e::kBroadcastPath, 500, -1));
  const std::string config = e2e::LoadShippedPlugin(folder_, "API_KEY=tlx_key_1\nDATA_KEY_TOKEN=\n");
  EXPECT_EQ(e2e::ReadFile(config), kWithToken);

  e2e::FlightDriver driver;
  driver.RunUntil(130.0);
  // The loop comes every 2 s while failures are counted; from the sixth in a
  // row the back-off (1, 3, 7, 15, 30 s) + 1 s must pass. A float clock
  // difference a hair under a whole second waits for the next call.
  const double gaps[] = {3, 2, 2, 2, 2, 2, 4, 8, 18, 32, 32};
  const auto& starts = driver.BroadcastStarts();
  ASSERT_EQ(starts.size(), std::size(gaps) + 1);
  for (size_t i = 0; i < std::size(gaps); ++i) EXPECT_NEAR(starts[i + 1] - starts[i], gaps[i], 0.06) << i;

  service_->ClearFaults();
  driver.RunUntil(xphost::ElapsedTime() + 40.0);
  ASSERT_GE(starts.size(), std::size(gaps) + 6);
  EXPECT_NEAR(starts.back() - starts[starts.size() - 2], 1.0, 0.06) << "once a second again";
  const auto broadcasts = RequestsTo(e2e::kBroadcastPath);
  for (const auto& broadcast : broadcasts) EXPECT_EQ(broadcast.Header("datakeytoken"), e2e::kToken);
  EXPECT_EQ(broadcasts.back().verdict, "ok");
}

// With a broadcast in flight, both windows open and a dialog rebuild pending:
// nothing of the binary may stay registered, or the host would call into
// unloaded code.
TEST_F(ServiceFlight, UnloadingMidRequestLeavesNoCallback) {
  auto parked = e2e::PlayerFor("circuit-2min.flight");
  e2e::LoadShippedPlugin(folder_, kWithToken);
  service_->AddFault(e2e::Silent(e2e::kBroadcastPath, -1));
  xphost::RunFor(2.0, 0.05);  // the first broadcast goes out, and the service stays silent
  ASSERT_TRUE(service_->WaitForRequests(1, std::chrono::seconds(10))) << "a broadcast is in flight";
  for (const char* item : {"Live Data", "Connection Status", "Configuration"})
    ASSERT_TRUE(xphost::PickMenuItem({"Tralix", item}));
  ASSERT_TRUE(xphost::ClickWidget(xphost::FindWidget("Deactivate")));
  xphost::UnloadPlugin();
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - Plugin stopped") << "the stream is dropped without a line";
  const xphost::UnloadLeftovers left = xphost::LastUnloadLeftovers();
  EXPECT_EQ(left.streamClients, 0) << "the simulator's run loop would call into unloaded code";
  EXPECT_EQ(left.flightLoops + left.windows + left.widgetCallbacks + left.menuHandlers, 0);
  EXPECT_TRUE(xphost::MenuItems({}).empty());
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
  xphost::RunFor(2.0, 0.05);
}

using tralix::dev::Stall;
const char kTimedOut[] = "Tralix - Network error: domain 1, code 60";

// kNone stands for a service that completes TLS, reads the request and never answers.
const char* StallName(Stall stall) {
  return stall == Stall::kNone ? "TlsDoneNoAnswer" : stall == Stall::kNoTls ? "NoTls" : "NoConnection";
}

// What the plug-in's clock and the wall clock took from a request's open
// (the line `started`) to its time-out line.
double ReportTimeOut(const e2e::FlightDriver& driver, const std::string& what, const std::string& started) {
  const double took = driver.SimTimeOf(kTimedOut) - driver.SimTimeOf(started);
  std::printf("%s: open to time-out line %.2f s on the plug-in's clock, %.2f s wall\n", what.c_str(), took,
              driver.WallTimeOf(kTimedOut) - driver.WallTimeOf(started));
  return took;
}

// A service silent before TLS (the connection is made, no TLS byte comes) or
// after it (the request is read, no answer comes).
class SilentBroadcast : public e2e::ServiceTest, public testing::WithParamInterface<Stall> {};

TEST_P(SilentBroadcast, EndsFiveSecondsAfterItsOpenWithoutHoldingAFrameAndTheFlightGoesOn) {
  auto parked = e2e::PlayerFor("circuit-2min.flight");
  e2e::LoadShippedPlugin(folder_, kWithToken);
  if (GetParam() == Stall::kNone) {
    service_->AddFault(e2e::Silent(e2e::kBroadcastPath));
  } else {
    RestartService(GetParam());
  }
  e2e::FlightDriver driver;
  while (driver.Count(kTimedOut) == 0 && xphost::ElapsedTime() < 30.0) driver.Frame();
  const double took = ReportTimeOut(driver, std::string("broadcast ") + StallName(GetParam()),
                                    "Tralix - Successfully sent aircraft data");
  EXPECT_GE(took, 5.0);
  EXPECT_LE(took, 7.0) << "at most one flight-loop interval past the bound";
  EXPECT_LT(driver.LongestFrameMilliseconds(), 50.0) << "the flight loop never waits on the network";

  if (GetParam() != Stall::kNone) RestartService(Stall::kNone);
  const double failedAt = xphost::ElapsedTime();
  while (driver.Count("Tralix - HTTP Status Code: 200") == 0 && xphost::ElapsedTime() < failedAt + 30.0)
    driver.Frame();
  EXPECT_EQ(driver.Count("Tralix - HTTP Status Code: 200"), 1) << "broadcasts go on";
}

INSTANTIATE_TEST_SUITE_P(Stalls, SilentBroadcast, testing::Values(Stall::kNone, Stall::kNoTls),
                         [](const testing::TestParamInfo<Stall>& stall) { return StallName(stall.param); });

// An activation at start-up holds the simulator's main thread (the dialog's
// button runs the same exchange). Whatever stage the service stops at, it is
// given up within 31 s, and nothing is stored.
class StalledActivation : public e2e::ServiceTest, public testing::WithParamInterface<Stall> {};

TEST_P(StalledActivation, IsGivenUpWithinThirtyOneSecondsAndStoresNothing) {
#ifdef TRALIX_SANITIZED_BUILD
  GTEST_SKIP() << "a minute and a half of waiting; run in the normal build";
#endif
  auto parked = e2e::PlayerFor("circuit-2min.flight");
  const std::string keyOnly = "API_KEY=tlx_key_1\nDATA_KEY_TOKEN=\n";
  if (GetParam() == Stall::kNone) {
    service_->AddFault(e2e::Silent(e2e::kActivatePath));
  } else {
    RestartService(GetParam());
  }
  const auto begin = std::chrono::steady_clock::now();
  const std::string config = e2e::LoadShippedPlugin(folder_, keyOnly);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::printf("activation at start-up %s: %.2f s\n", StallName(GetParam()), seconds);
  EXPECT_GE(seconds, 29.5);
  EXPECT_LE(seconds, 31.0);
  const auto lines = xphost::LogLines();
  const auto gaveUp = std::find(lines.begin(), lines.end(), "Tralix - ERROR: Activation took too long, giving up");
  ASSERT_NE(gaveUp, lines.end());
  EXPECT_EQ(*(gaveUp + 1), "Tralix - ERROR: Failed to activate API key");
  EXPECT_EQ(e2e::ReadFile(config), keyOnly) << "no token stored";
}

INSTANTIATE_TEST_SUITE_P(Stalls, StalledActivation, testing::Values(Stall::kNoTls, Stall::kNone, Stall::kNoConnection),
                         [](const testing::TestParamInfo<Stall>& stall) { return StallName(stall.param); });

}  // namespace
