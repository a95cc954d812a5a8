// The shipped plug-in flown against the service stand-in over verified HTTPS:
// landing events, start-up activation, the pacing of broadcasts while the
// service fails or never answers, and unloading mid-request.
#include "E2eSupport.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

TEST_F(ServiceFlight, SilentServiceCostsNoFrameTimeAndUnloadingMidRequestLeavesNoCallback) {
  auto parked = e2e::PlayerFor("circuit-2min.flight");
  e2e::LoadShippedPlugin(folder_, kWithToken);
  tralix::dev::Fault silent = FaultOn(e2e::kBroadcastPath, 0, -1);
  silent.delay = std::chrono::milliseconds(60000);
  silent.closeWithoutAnswer = true;
  service_->AddFault(silent);

  // The first broadcast ends at its read time-out, a failure: the next comes
  // 3 s after it, as after a failing status, not 2 s.
  e2e::FlightDriver driver;
  while (driver.Count("Tralix - Network error: domain 1, code 60") == 0) driver.Frame();
  EXPECT_LT(driver.LongestFrameMilliseconds(), 50.0) << "the flight loop never waits on the network";
  while (driver.BroadcastStarts().size() < 2) {
    xphost::RunFrame(0.05);
    driver.PollLog();
  }
  const auto& starts = driver.BroadcastStarts();
  EXPECT_NEAR(starts[1] - starts[0], 3.0, 0.06);

  ASSERT_TRUE(service_->WaitForRequests(2, std::chrono::seconds(5)));
  xphost::UnloadPlugin();
  driver.PollLog();
  EXPECT_EQ(driver.Lines().back(), "Tralix - Plugin stopped") << "the stream is dropped without a line";
  EXPECT_EQ(xphost::LastUnloadLeftovers().flightLoops, 0);
  xphost::RunFor(2.0, 0.05);
}

}  // namespace
