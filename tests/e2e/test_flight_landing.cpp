// Recorded flights through the shipped plug-in against the service stand-in:
// what reaches the service at each landing, and what must not.
#include "E2eSupport.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kWithToken[] = "API_KEY=tlx_demo_key_1\nDATA_KEY_TOKEN=tok_demo_1\n";
constexpr char kWithoutToken[] = "API_KEY=\nDATA_KEY_TOKEN=\n";

struct Sample {
  double altitude, gForce, verticalSpeed, roll;
};

class LandingFlight : public testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    service_ = e2e::StartService({{"tlx_demo_key_1", "tok_demo_1"}}, &whyNot);
    if (!service_) GTEST_SKIP() << whyNot;
    xphost::Reset();
    folder_ = e2e::FreshScratchDir();
  }
  void TearDown() override {
    if (xphost::PluginLoaded()) xphost::UnloadPlugin();
    if (service_) service_->Stop();
  }

  // Flies the whole profile; records the main flight loop's intervals.
  void Fly(const std::string& flight, const char* config) {
    flight_profile::Player player(e2e::LoadFlight(flight));
    player.PublishUntil(0.0);
    xphost::LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(xphost::LoadPlugin(e2e::InstallPlugin(folder_, config), &plugin, &error)) << error;
    ASSERT_TRUE(plugin.started);
    void* mainLoop = xphost::FlightLoops().front().callback;
    while (!player.AllRowsPublished() || player.ProfileTime() < player.profile().endTime) {
      driver_.Frame(&player);
      for (const auto& loop : xphost::FlightLoops())
        if (loop.callback == mainLoop && loop.callCount > 0) RecordInterval(loop.lastReturn);
    }
    driver_.log().Poll();
  }

  void RecordInterval(float interval) {
    if (intervals_.empty() || intervals_.back() != interval) intervals_.push_back(interval);
  }

  std::vector<tralix::dev::RecordedRequest> Events() const {
    std::vector<tralix::dev::RecordedRequest> events;
    for (const auto& request : service_->Requests())
      if (request.path == e2e::kEventPath) events.push_back(request);
    return events;
  }

  // Samples the plug-in logged, in order, up to the first line that starts with `until`.
  std::vector<Sample> LoggedSamplesBefore(const std::string& until) const {
    std::vector<Sample> samples;
    for (const std::string& line : driver_.log().Lines()) {
      if (line.rfind(until, 0) == 0) break;
      Sample s{};
      if (std::sscanf(line.c_str(), "Tralix - Collected data point: alt=%lf, g=%lf, vs=%lf, roll=%lf", &s.altitude,
                      &s.gForce, &s.verticalSpeed, &s.roll) == 4)
        samples.push_back(s);
    }
    return samples;
  }

  std::vector<double> SampleTimes() const {
    std::vector<double> times;
    for (const std::string& line : driver_.log().Lines()) {
      double time = 0;
      if (std::sscanf(line.c_str(), "Tralix - DEBUG: Data point collected at time %lf", &time) == 1)
        times.push_back(time);
    }
    return times;
  }

  std::unique_ptr<tralix::dev::DevService> service_;
  std::string folder_;
  e2e::FlightDriver driver_{0.05};
  std::vector<float> intervals_;
};

TEST_F(LandingFlight, CircuitUploadsOneEventWithTheLastTenSamplesInOrder) {
  Fly("circuit-2min.flight", kWithToken);
  const auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].verdict, "ok");
  const nlohmann::json& body = events[0].json;
  EXPECT_EQ(body["event"], "LandingRate");
  const nlohmann::json& data = body["data"];
  EXPECT_EQ(data["simTimeStamp"], data["clientTimeStamp"]);
  EXPECT_EQ(data["verticalSpeed"], "-150.0000000000");
  const nlohmann::json& points = data["points"];
  ASSERT_EQ(points.size(), 10u);

  const std::vector<Sample> logged = LoggedSamplesBefore("Tralix - Weight on wheels detected!");
  ASSERT_GE(logged.size(), 10u);
  for (size_t i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    const Sample& expected = logged[logged.size() - 10 + i];
    EXPECT_NEAR(points[i]["groundAltitude"].get<double>(), expected.altitude, 0.006);
    EXPECT_NEAR(points[i]["gForce"].get<double>(), expected.gForce, 0.0001);
    EXPECT_NEAR(points[i]["verticalSpeed"].get<double>(), expected.verticalSpeed, 0.006);
    EXPECT_NEAR(points[i]["rollDegree"].get<double>(), expected.roll, 0.51);
  }
  // Idle before takeoff, 0.1 s while airborne, idle again after touchdown.
  const auto airborne = std::find(intervals_.begin(), intervals_.end(), 0.1f);
  ASSERT_NE(airborne, intervals_.end()) << "the loop asks for 0.1 s while airborne";
  EXPECT_EQ(intervals_.front(), 1.0f);
  EXPECT_EQ(intervals_.back(), 1.0f);
}

TEST_F(LandingFlight, HopShorterThanAMinuteIsNoLanding) {
  Fly("hop-59.9.flight", kWithToken);
  EXPECT_TRUE(Events().empty());
  EXPECT_GE(driver_.log().Count("Tralix - Takeoff detection reset (new flight session)"), 1);
  for (const std::string& line : driver_.log().Lines())
    EXPECT_EQ(line.rfind("Tralix - Weight on wheels detected!", 0), std::string::npos) << line;
}

TEST_F(LandingFlight, LongFlightEndsItsTouchdownCallWithUploadCompletionAndReset) {
  Fly("flight-20min.flight", kWithToken);
  ASSERT_EQ(Events().size(), 1u);
  const auto& lines = driver_.log().Lines();
  const auto sending = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("Tralix - DEBUG: Sending landing event", 0) == 0;
  });
  ASSERT_NE(sending, lines.end());
  const std::vector<std::string> expectedTail = {
      "Tralix - Landing event sent successfully",
      "Tralix - Landing event sent successfully",
      "Tralix - DEBUG: Landing event processing complete, state reset",
      "Tralix - Takeoff detection reset (new flight session)",
      "Tralix - Landing event processed",
  };
  ASSERT_GE(lines.end() - sending, 6);
  EXPECT_EQ(std::vector<std::string>(sending + 1, sending + 6), expectedTail);
}

TEST_F(LandingFlight, BounceWithinTheCoolDownIsNotASecondLanding) {
  Fly("touch-and-go.flight", kWithToken);
  EXPECT_EQ(Events().size(), 1u);
}

TEST_F(LandingFlight, WithoutATokenSamplesComeEveryCycleAndNothingIsSent) {
  Fly("circuit-2min.flight", kWithoutToken);
  EXPECT_EQ(service_->RequestCount(), 0u);
  const std::vector<double> times = SampleTimes();
  ASSERT_GE(times.size(), 100u);
  for (size_t i = 1; i < times.size(); ++i) {
    const double gap = times[i] - times[i - 1];
    EXPECT_GE(gap, 0.0999) << "samples are at least 0.1 s apart";
    EXPECT_LE(gap, 0.2001) << "an airborne cycle comes every 0.1 s";
  }
  // A cycle passes a sample by only when the float clock puts it a hair under
  // 0.1 s after the last one.
  const auto& lines = driver_.log().Lines();
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i] != "Tralix - DEBUG: Not time for next data point yet") continue;
    EXPECT_NE(lines[i - 1].find("elapsed: 0.100,"), std::string::npos) << lines[i - 1];
  }
  EXPECT_NE(std::find(intervals_.begin(), intervals_.end(), 0.1f), intervals_.end());
}

}  // namespace
