#include "E2eSupport.h"

#include "FlightProfile.h"
#include "XPHostControl.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace fs = std::filesystem;

constexpr double kFrameSeconds = 0.05;
// A request in flight holds the simulator clock this long (wall time).
constexpr double kHoldSeconds = 1.0;

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

tralix::dev::ServiceOptions TrustedServiceOptions(tralix::dev::Stall stall) {
  tralix::dev::ServiceOptions options;
  options.port = 443;
  options.identity = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CERT"),
                                                  std::getenv("TRALIX_SANDBOX_KEY"), std::getenv("TRALIX_SANDBOX_CA"));
  options.apiKeys = {{kKey, kToken}};
  options.stall = stall;
  return options;
}

tralix::dev::Fault FaultOn(const std::string& path, int status, int count) {
  tralix::dev::Fault fault;
  fault.path = path;
  fault.status = status;
  fault.count = count;
  return fault;
}

tralix::dev::Fault Silent(const std::string& path, int count) {
  tralix::dev::Fault fault = FaultOn(path, 0, count);
  fault.delay = std::chrono::milliseconds(60000);
  return fault;
}

tralix::dev::Fault Trickle(const std::string& path, const std::string& body) {
  tralix::dev::Fault fault = FaultOn(path);
  fault.body = body;
  fault.trickleChunkBytes = 1;
  fault.trickleInterval = std::chrono::milliseconds(1000);
  return fault;
}

void ServiceTest::SetUp() {
  const char* cert = std::getenv("TRALIX_SANDBOX_CERT");
  const char* key = std::getenv("TRALIX_SANDBOX_KEY");
  const char* ca = std::getenv("TRALIX_SANDBOX_CA");
  if (!std::getenv("TRALIX_SANDBOX") || !cert || !key || !ca) GTEST_SKIP() << "not inside tools/sandbox/tralix-sandbox";
  RestartService(tralix::dev::Stall::kNone);
  xphost::Reset();

  const char* root = std::getenv("TRALIX_TEST_TMP");
  folder_ = tralix_test::FreshFolder(root ? root : "/tmp/tralix-e2e");
}

void ServiceTest::TearDown() {
  if (xphost::PluginLoaded()) xphost::UnloadPlugin();
  if (service_) service_->Stop();
}

void ServiceTest::RestartService(tralix::dev::Stall stall) {
  if (service_) service_->Stop();
  service_ = std::make_unique<tralix::dev::DevService>(TrustedServiceOptions(stall));
  service_->Start();
}

std::vector<tralix::dev::RecordedRequest> ServiceTest::RequestsTo(const std::string& path) const {
  std::vector<tralix::dev::RecordedRequest> found;
  for (const auto& request : service_->Requests())
    if (request.path == path) found.push_back(request);
  return found;
}

std::string LoadShippedPlugin(const std::string& folder, const std::string& configText) {
  const fs::path binaryFolder = fs::path(folder) / "Tralix" / "lin_x64";
  fs::create_directories(binaryFolder);
  fs::copy_file(TRALIX_PLUGIN_FILE, binaryFolder / "Tralix.xpl", fs::copy_options::overwrite_existing);
  std::ofstream(binaryFolder / "Tralix.cfg", std::ios::binary) << configText;
  xphost::LoadedPlugin plugin;
  std::string error;
  EXPECT_TRUE(xphost::LoadPlugin((binaryFolder / "Tralix.xpl").string(), &plugin, &error)) << error;
  EXPECT_TRUE(plugin.started);
  return (binaryFolder / "Tralix.cfg").string();
}

flight_profile::Player PlayerFor(const std::string& flightFile) {
  flight_profile::Profile profile;
  std::string error;
  if (!flight_profile::LoadProfile(std::string(TRALIX_FLIGHTS_DIR) + "/" + flightFile, &profile, &error))
    throw std::runtime_error(error);
  const std::string mismatch = flight_profile::XPlaneMismatch(profile);
  if (!mismatch.empty()) throw std::runtime_error(mismatch);
  flight_profile::Player player(profile);
  player.PublishUntil(0.0);
  return player;
}

void FlightDriver::PollLog() {
  const std::string fresh = xphost::LogTextFrom(offset_);
  offset_ += fresh.size();
  partial_ += fresh;
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = partial_.substr(start, end - start);
    // A landing event's start is the success line right after its sending line.
    if (line == "Tralix - Successfully sent aircraft data") {
      ++started_;
      broadcastStarts_.push_back(xphost::ElapsedTime());
    } else if (landingStarting_ && line == "Tralix - Landing event sent successfully") {
      ++started_;
    } else if (line.rfind("Tralix - HTTP Status Code: ", 0) == 0 ||
               line == "Tralix - WARNING: No HTTP response headers available" ||
               line.rfind("Tralix - Network error: ", 0) == 0) {
      ++completed_;
    }
    landingStarting_ = line.rfind("Tralix - DEBUG: Sending landing event", 0) == 0;
    lines_.push_back(line);
    lineSimTimes_.push_back(xphost::ElapsedTime());
    lineWallTimes_.push_back(WallSeconds());
  }
  partial_.erase(0, start);
}

int FlightDriver::Count(const std::string& line) const {
  return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
}

double FlightDriver::SimTimeOf(const std::string& line) const {
  const auto found = std::find(lines_.begin(), lines_.end(), line);
  return found == lines_.end() ? -1.0 : lineSimTimes_[static_cast<size_t>(found - lines_.begin())];
}

double FlightDriver::WallTimeOf(const std::string& line) const {
  const auto found = std::find(lines_.begin(), lines_.end(), line);
  return found == lines_.end() ? -1.0 : lineWallTimes_[static_cast<size_t>(found - lines_.begin())];
}

// While a request is in flight the clock is held for its first second (wall
// time), then moves with the wall clock: frames keep pace, and a wait for an
// answer moves it by the time waited.
void FlightDriver::Frame(flight_profile::Player* player) {
  const bool paced = started_ > completed_ && inFlightSince_ >= 0.0;
  while (paced && WallSeconds() < clockAt_) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    TimedFrame(0.0);
    PollLog();
  }
  TimedFrame(kFrameSeconds, player);
  if (paced) clockAt_ += kFrameSeconds;

  PollLog();
  if (started_ > completed_ && inFlightSince_ < 0.0) {
    inFlightSince_ = WallSeconds();
    clockAt_ = inFlightSince_ + kHoldSeconds;
  }
  // Until a request completes: one ended at its bound may start the next at once.
  const int completedBefore = completed_;
  while (started_ > completed_ && completed_ == completedBefore && WallSeconds() < inFlightSince_ + 60.0) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    const double now = WallSeconds();
    const double follow = now > clockAt_ ? now - clockAt_ : 0.0;
    clockAt_ = std::max(clockAt_, now);
    TimedFrame(follow);
    PollLog();
  }
  if (started_ <= completed_) inFlightSince_ = -1.0;
}

// Every frame is timed, those that deliver or end a request too.
void FlightDriver::TimedFrame(double seconds, flight_profile::Player* player) {
  const auto begin = std::chrono::steady_clock::now();
  if (player)
    player->Step(seconds);
  else
    xphost::RunFrame(seconds);
  const auto took = std::chrono::steady_clock::now() - begin;
  longestFrameMs_ = std::max(longestFrameMs_, std::chrono::duration<double, std::milli>(took).count());
}

void FlightDriver::RunUntil(double hostTime, flight_profile::Player* player) {
  while (xphost::ElapsedTime() + 1e-9 < hostTime) Frame(player);
}

}  // namespace e2e
