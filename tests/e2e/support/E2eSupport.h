// What the end-to-end tests share: the service stand-in on the sandbox's
// api.tralix.net, a fresh folder per test, and a flight driver that holds the
// simulator clock while a request is in flight, so that what the plug-in does
// depends on simulated time alone, until the request has taken a second: then
// the clock follows the wall clock, never ahead of it, as X-Plane's does.
#pragma once

#include "DevService.h"
#include "FlightPlayer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace e2e {

constexpr char kKey[] = "tlx_key_1";
constexpr char kToken[] = "tok_1";
constexpr char kActivatePath[] = "/api/v1/apiKey/activate/tlx_key_1";
constexpr char kBroadcastPath[] = "/api/v1/data/client/broadcast";
constexpr char kEventPath[] = "/api/v1/data/client/event";

using tralix_test::ReadFile;
// A misbehaviour for the next `count` requests to `path` (-1: until cleared).
tralix::dev::Fault FaultOn(const std::string& path, int status = 0, int count = 1);
// A service that reads the request and answers nothing for a minute.
tralix::dev::Fault Silent(const std::string& path, int count = 1);
// An answer whose body comes a byte a second.
tralix::dev::Fault Trickle(const std::string& path, const std::string& body);

// The service, where kKey activates to kToken, and a fresh folder; skips
// outside tools/sandbox/tralix-sandbox. Unloads a plug-in the test loaded.
class ServiceTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::vector<tralix::dev::RecordedRequest> RequestsTo(const std::string& path) const;
  // Replaces the service on api.tralix.net:443 with a fresh one that stalls so.
  void RestartService(tralix::dev::Stall stall);

  std::unique_ptr<tralix::dev::DevService> service_;
  std::string folder_;
};

// Installs the shipped binary with configText as its Tralix.cfg, then loads and
// starts it; returns the Tralix.cfg path.
std::string LoadShippedPlugin(const std::string& folder, const std::string& configText);
flight_profile::Player PlayerFor(const std::string& flightFile);

// Runs frames, each timed; after each, while a request is in flight, keeps the
// clock still and runs zero-length frames (the run-loop pump) until one
// completed; after a second of that the clock follows the wall clock. Reads the
// host's log as it grows, to keep the plug-in's request bookkeeping: requests
// started and completed, and when each broadcast started.
class FlightDriver {
 public:
  void Frame(flight_profile::Player* player = nullptr);
  void RunUntil(double hostTime, flight_profile::Player* player = nullptr);
  void PollLog();
  int Count(const std::string& line) const;
  // When the first such line was read, in simulator and in wall seconds; -1 when never.
  double SimTimeOf(const std::string& line) const;
  double WallTimeOf(const std::string& line) const;
  const std::vector<double>& BroadcastStarts() const { return broadcastStarts_; }
  double LongestFrameMilliseconds() const { return longestFrameMs_; }

 private:
  void TimedFrame(double seconds, flight_profile::Player* player = nullptr);

  double longestFrameMs_ = 0.0;
  size_t offset_ = 0;
  std::string partial_;
  std::vector<std::string> lines_;
  std::vector<double> lineSimTimes_;
  std::vector<double> lineWallTimes_;
  std::vector<double> broadcastStarts_;
  int started_ = 0;
  int completed_ = 0;
  bool landingStarting_ = false;
  double inFlightSince_ = -1.0;  // wall seconds; -1 while nothing is in flight
  double clockAt_ = 0.0;         // the wall time the simulator clock has caught up with
};

}  // namespace e2e
