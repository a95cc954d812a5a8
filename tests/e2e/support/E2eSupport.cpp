#include "E2eSupport.h"

#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace fs = std::filesystem;

std::unique_ptr<tralix::dev::DevService> StartService(const std::map<std::string, std::string>& apiKeys,
                                                      std::string* whyNot) {
  const char* cert = std::getenv("TRALIX_SANDBOX_CERT");
  const char* key = std::getenv("TRALIX_SANDBOX_KEY");
  const char* ca = std::getenv("TRALIX_SANDBOX_CA");
  if (!std::getenv("TRALIX_SANDBOX") || !cert || !key || !ca) {
    *whyNot = "not inside tools/sandbox/tralix-sandbox";
    return nullptr;
  }
  tralix::dev::ServiceOptions options;
  options.port = 443;
  options.identity = tralix::dev::LoadTlsIdentity(cert, key, ca);
  options.apiKeys = apiKeys;
  auto service = std::make_unique<tralix::dev::DevService>(options);
  try {
    service->Start();
  } catch (const std::exception& error) {
    *whyNot = error.what();
    return nullptr;
  }
  return service;
}

std::string FreshScratchDir() {
  const char* root = std::getenv("TRALIX_TEST_TMP");
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string leaf = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
  const fs::path dir = fs::path(root ? root : "/tmp/tralix-e2e") / leaf;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::string InstallPlugin(const std::string& folder, const char* configText) {
  const fs::path binaryFolder = fs::path(folder) / "Tralix" / "lin_x64";
  fs::create_directories(binaryFolder);
  const fs::path binary = binaryFolder / "Tralix.xpl";
  fs::copy_file(TRALIX_PLUGIN_FILE, binary, fs::copy_options::overwrite_existing);
  if (configText) std::ofstream(binaryFolder / "Tralix.cfg", std::ios::binary) << configText;
  return binary.string();
}

flight_profile::Profile LoadFlight(const std::string& fileName) {
  flight_profile::Profile profile;
  std::string error;
  if (!flight_profile::LoadProfile(std::string(TRALIX_FLIGHTS_DIR) + "/" + fileName, &profile, &error))
    throw std::runtime_error(error);
  return profile;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> LogFollower::Poll() {
  const std::string fresh = xphost::LogTextFrom(offset_);
  offset_ += fresh.size();
  partial_ += fresh;
  std::vector<std::string> added;
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1)
    added.push_back(partial_.substr(start, end - start));
  partial_.erase(0, start);

  for (const std::string& line : added) {
    const bool landingStartLine = line.rfind("Tralix - DEBUG: Sending landing event", 0) == 0;
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
    landingStarting_ = landingStartLine;
    lines_.push_back(line);
  }
  return added;
}

int LogFollower::Count(const std::string& line) const {
  return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
}

void FlightDriver::WaitForRequests() {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  log_.Poll();
  while (log_.RequestsInFlight() > 0 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    xphost::RunFrame(0.0);
    log_.Poll();
  }
}

void FlightDriver::Frame(flight_profile::Player* player) {
  const auto begin = std::chrono::steady_clock::now();
  if (player)
    player->Step(frameSeconds_);
  else
    xphost::RunFrame(frameSeconds_);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  longestFrameMs_ = std::max(longestFrameMs_, ms);
  WaitForRequests();
}

void FlightDriver::RunUntil(double hostTime, flight_profile::Player* player) {
  while (xphost::ElapsedTime() + 1e-9 < hostTime) Frame(player);
}

}  // namespace e2e
