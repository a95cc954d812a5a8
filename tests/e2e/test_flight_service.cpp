// The shipped plug-in against the service stand-in over verified HTTPS: start-up
// activation, the broadcast body, and the pacing of broadcasts while the
// service fails or never answers.
#include "E2eSupport.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr char kKey[] = "tlx_demo_key_1";
constexpr char kToken[] = "tok_demo_1";

class ServiceFlight : public testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    service_ = e2e::StartService({{kKey, kToken}}, &whyNot);
    if (!service_) GTEST_SKIP() << whyNot;
    xphost::Reset();
    folder_ = e2e::FreshScratchDir();
    xphost::SetOutputDir(folder_);
  }
  void TearDown() override {
    if (xphost::PluginLoaded()) xphost::UnloadPlugin();
    if (service_) service_->Stop();
  }

  // A parked aircraft at the circuit's start; returns the player.
  flight_profile::Player LoadParkedAircraft() {
    flight_profile::Player player(e2e::LoadFlight("circuit-2min.flight"));
    player.PublishUntil(0.0);
    return player;
  }

  void Load(const char* config) {
    binary_ = e2e::InstallPlugin(folder_, config);
    xphost::LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(xphost::LoadPlugin(binary_, &plugin, &error)) << error;
    ASSERT_TRUE(plugin.started);
  }

  // From now on the service takes broadcasts and never answers them.
  void SilenceBroadcasts() {
    tralix::dev::Fault silent;
    silent.path = e2e::kBroadcastPath;
    silent.count = -1;
    silent.delay = std::chrono::milliseconds(60000);
    silent.closeWithoutAnswer = true;
    service_->AddFault(silent);
  }

  std::vector<tralix::dev::RecordedRequest> Broadcasts() const {
    std::vector<tralix::dev::RecordedRequest> broadcasts;
    for (const auto& request : service_->Requests())
      if (request.path == e2e::kBroadcastPath) broadcasts.push_back(request);
    return broadcasts;
  }

  std::unique_ptr<tralix::dev::DevService> service_;
  std::string folder_;
  std::string binary_;
};

// Checks one number member's text against the body's number rule.
void ExpectNumberFormat(const std::string& member, const std::string& text, int decimals) {
  SCOPED_TRACE(member + "=" + text);
  const size_t point = text.find('.');
  ASSERT_NE(point, std::string::npos);
  const double value = std::stod(text);
  const bool plain = value == 0.0 || (value >= 1e-6 && value <= 999999.0);
  EXPECT_EQ(text.size() - point - 1, static_cast<size_t>(plain ? decimals : 10));
}

TEST_F(ServiceFlight, FirstRunActivatesSavesTheTokenAndStreamsWellFormedBroadcasts) {
  auto player = LoadParkedAircraft();
  Load("API_KEY=tlx_demo_key_1\nDATA_KEY_TOKEN=\n");
  e2e::FlightDriver driver(0.05);
  driver.log().Poll();
  EXPECT_EQ(driver.log().Count("Tralix - Successfully activated and saved DATA_KEY_TOKEN"), 1);
  const std::string config = e2e::ReadFile(folder_ + "/Tralix/lin_x64/Tralix.cfg");
  EXPECT_NE(config.find("DATA_KEY_TOKEN=tok_demo_1\n"), std::string::npos) << config;

  driver.RunUntil(12.0, &player);
  const auto broadcasts = Broadcasts();
  ASSERT_GE(broadcasts.size(), 10u);
  const std::regex shape(
      R"re(^\{"key":"tlx_demo_key_1","clientVersion":10106,"airCraftName":"([^"]*)","icaoCode":"([^"]*)",)re"
      R"re("simKind":"XPlane","latitude":(-?[0-9]+\.[0-9]+),"longitude":(-?[0-9]+\.[0-9]+),)re"
      R"re("altitude":(-?[0-9]+\.[0-9]+),"altitudeAboveGround":(-?[0-9]+\.[0-9]+),)re"
      R"re("altitudeMSL":(-?[0-9]+\.[0-9]+),"groundSpeed":(-?[0-9]+\.[0-9]+),"heading":(-?[0-9]+\.[0-9]+),)re"
      R"re("simTimeStamp":"([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z)","clientTimeStamp":"([^"]*)",)re"
      R"re("extra":"(.*)"\}$)re");
  const char* members[] = {"latitude", "longitude", "altitude", "altitudeAboveGround", "altitudeMSL",
                           "groundSpeed", "heading"};
  const int decimals[] = {6, 6, 2, 2, 2, 2, 2};
  for (const auto& broadcast : broadcasts) {
    EXPECT_EQ(broadcast.verdict, "ok");
    EXPECT_EQ(broadcast.Header("datakeytoken"), kToken);
    EXPECT_EQ(broadcast.Header("Content-Type"), "application/json");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(broadcast.body, match, shape)) << broadcast.body;
    for (int i = 0; i < 7; ++i) ExpectNumberFormat(members[i], match[3 + i], decimals[i]);
    EXPECT_EQ(match[10], match[11]) << "both timestamps come from one clock reading";
    ASSERT_TRUE(broadcast.extra.is_object());
    EXPECT_EQ(broadcast.extra.size(), 37u);
  }
  // The names appear at the first refresh after five seconds.
  EXPECT_EQ(broadcasts.front().json["airCraftName"], "");
  EXPECT_NE(broadcasts.back().json["airCraftName"], "");
}

// Starts the rules give for a service that always fails: the flight loop is
// called first 0.1 s after start, then after each interval it returns (1.0 s,
// 2.0 s while failures are counted); it starts a broadcast when at least
// back-off + 1 s passed since the last start; each failure counts once the
// request ended, before the next call; from the sixth failure on the back-off
// becomes min(2 x back-off + 1, 30).
std::vector<double> ExpectedStartsWhileFailing(double until, double frame) {
  std::vector<double> starts;
  double clock = 0.0, nextCall = 0.1;
  float lastSend = 0.0f, backoff = 0.0f;
  int failures = 0;
  while (clock < until) {
    clock += frame;
    if (clock + 1e-5 < nextCall) continue;
    const float now = static_cast<float>(clock);
    float interval = failures > 0 ? 2.0f : 1.0f;
    if (static_cast<double>(backoff) + 1.0 <= static_cast<double>(now - lastSend)) {
      starts.push_back(clock);
      lastSend = now;
      if (failures >= 5) backoff = static_cast<float>(std::min(static_cast<double>(backoff * 2.0f) + 1.0, 30.0));
      ++failures;
    }
    nextCall = clock + interval;
  }
  return starts;
}

TEST_F(ServiceFlight, FailingServiceSpacesBroadcastsByTheBackOffTableAndOneSuccessResetsIt) {
  auto player = LoadParkedAircraft();
  Load("API_KEY=tlx_demo_key_1\nDATA_KEY_TOKEN=tok_demo_1\n");
  tralix::dev::Fault failing;
  failing.path = e2e::kBroadcastPath;
  failing.count = -1;
  failing.status = 500;
  service_->AddFault(failing);

  const double frame = 0.05;
  e2e::FlightDriver driver(frame);
  driver.RunUntil(130.0);
  const std::vector<double> expected = ExpectedStartsWhileFailing(130.0, frame);
  const std::vector<double>& starts = driver.log().BroadcastStarts();
  ASSERT_EQ(starts.size(), expected.size());
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_NEAR(starts[i], expected[i], 1e-6) << "start " << i;
  const double leastSpacing[] = {1, 2, 2, 2, 2, 2, 4, 8, 16, 31, 31};
  for (size_t i = 1; i < starts.size() && i <= 11; ++i)
    EXPECT_GE(starts[i] - starts[i - 1] + 1e-6, leastSpacing[i - 1]) << "between starts " << i - 1 << " and " << i;
  EXPECT_EQ(driver.log().Count("Tralix - ERROR: Server error. Please try again later"),
            static_cast<int>(starts.size()));

  service_->ClearFaults();
  const size_t failedStarts = starts.size();
  driver.RunUntil(xphost::ElapsedTime() + 40.0);
  const std::vector<double>& after = driver.log().BroadcastStarts();
  ASSERT_GE(after.size(), failedStarts + 5);
  const double lastGap = after.back() - after[after.size() - 2];
  EXPECT_NEAR(lastGap, 1.0, 0.06) << "after a success broadcasts come about once a second again";
}

TEST_F(ServiceFlight, SilentServiceTimesOutBacksOffAndNeverStallsAFrame) {
  auto player = LoadParkedAircraft();
  Load("API_KEY=tlx_demo_key_1\nDATA_KEY_TOKEN=tok_demo_1\n");
  SilenceBroadcasts();

  e2e::FlightDriver driver(0.05);
  while (driver.log().BroadcastStarts().size() < 8) driver.Frame(nullptr);
  EXPECT_EQ(driver.log().Count("Tralix - Network error: domain 1, code 60"), 8) << "read timeouts";
  const auto& starts = driver.log().BroadcastStarts();
  EXPECT_NEAR(starts[7] - starts[6], 4.0, 0.06) << "after the seventh failure the back-off is 3 s";
  RecordProperty("longest_frame_ms", std::to_string(driver.LongestFrameMilliseconds()));
  std::printf("longest frame while the service never answered: %.3f ms\n", driver.LongestFrameMilliseconds());
  EXPECT_LT(driver.LongestFrameMilliseconds(), 50.0) << "the flight loop never waits on the network";
}

TEST_F(ServiceFlight, UnloadingWithABroadcastInFlightLeavesNoCallbackBehind) {
  auto player = LoadParkedAircraft();
  Load("API_KEY=tlx_demo_key_1\nDATA_KEY_TOKEN=tok_demo_1\n");
  SilenceBroadcasts();
  e2e::LogFollower log;
  while (log.BroadcastStarts().empty()) {
    xphost::RunFrame(0.05);
    log.Poll();
  }
  ASSERT_TRUE(service_->WaitForRequests(1, std::chrono::seconds(5)));
  xphost::UnloadPlugin();
  log.Poll();
  EXPECT_EQ(log.Lines().back(), "Tralix - Plugin stopped") << "the stream is dropped without a line";
  const xphost::UnloadLeftovers leftovers = xphost::LastUnloadLeftovers();
  EXPECT_EQ(leftovers.flightLoops, 0);
  xphost::RunFor(2.0, 0.05);
}

}  // namespace
