// What the end-to-end tests share: the service stand-in on the sandbox's
// api.tralix.net, a fresh plug-in folder holding the shipped binary, and a
// flight driver that holds the simulator clock while a request is in flight,
// so that what the plug-in does depends on simulated time alone.
#pragma once

#include "DevService.h"
#include "FlightPlayer.h"
#include "FlightProfile.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

// Where the plug-in's requests arrive at the service stand-in.
constexpr char kBroadcastPath[] = "/api/v1/data/client/broadcast";
constexpr char kEventPath[] = "/api/v1/data/client/event";

// Serves on 127.0.0.1:443 with the sandbox's certificate; null (with a reason)
// outside a sandbox.
std::unique_ptr<tralix::dev::DevService> StartService(const std::map<std::string, std::string>& apiKeys,
                                                      std::string* whyNot);

// A new empty folder for the running test.
std::string FreshScratchDir();

// Copies the shipped binary into <folder>/Tralix/lin_x64/Tralix.xpl and, when
// configText is not null, writes it as Tralix.cfg beside it. Returns the
// binary's path.
std::string InstallPlugin(const std::string& folder, const char* configText);

flight_profile::Profile LoadFlight(const std::string& fileName);

std::string ReadFile(const std::string& path);

// Reads the host's log line by line as it grows, and keeps the plug-in's
// request bookkeeping: requests started and completed, and the simulator time
// of every broadcast start.
class LogFollower {
 public:
  // Reads what was logged since the last call; returns the new lines.
  std::vector<std::string> Poll();
  const std::vector<std::string>& Lines() const { return lines_; }
  int RequestsInFlight() const { return started_ - completed_; }
  const std::vector<double>& BroadcastStarts() const { return broadcastStarts_; }
  int Count(const std::string& line) const;

 private:
  size_t offset_ = 0;
  std::string partial_;
  std::vector<std::string> lines_;
  std::vector<double> broadcastStarts_;
  int started_ = 0;
  int completed_ = 0;
  bool landingStarting_ = false;
};

// Runs frames; after each, while a request is in flight, keeps the clock still
// and runs zero-length frames (the run-loop pump) until it completed.
class FlightDriver {
 public:
  explicit FlightDriver(double frameSeconds) : frameSeconds_(frameSeconds) {}
  void Frame(flight_profile::Player* player);
  void RunUntil(double hostTime, flight_profile::Player* player = nullptr);
  LogFollower& log() { return log_; }
  const LogFollower& log() const { return log_; }
  double LongestFrameMilliseconds() const { return longestFrameMs_; }

 private:
  void WaitForRequests();
  double frameSeconds_;
  double longestFrameMs_ = 0.0;
  LogFollower log_;
};

}  // namespace e2e
