// Shared set-up of the landing detection tests: the six datarefs the detector
// reads, published in the headless host and resolved through the real catalogue.
#pragma once

#include "DataRefs.h"
#include "LandingDetection.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace landing_test {

constexpr char kGearPath[] = "sim/flightmodel2/gear/on_ground";
constexpr char kVerticalSpeedPath[] = "sim/cockpit2/gauges/indicators/vvi_fpm_pilot";
constexpr char kHeightPath[] = "sim/flightmodel/position/y_agl";
constexpr char kRunningTimePath[] = "sim/time/total_running_time_sec";
constexpr char kGForcePath[] = "sim/flightmodel/forces/g_nrml";
constexpr char kBankPath[] = "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot";

const std::vector<int> kParked = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const std::vector<int> kAirborne = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::vector<int> kMainsDown = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0};

constexpr char kStoredLinePrefix[] = "Tralix - Collected data point:";
constexpr char kSampleAttemptPrefix[] = "Tralix - DEBUG: CollectLandingDataPoint - elapsed:";

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

inline int CountLinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  int count = 0;
  for (const std::string& line : lines) count += StartsWith(line, prefix) ? 1 : 0;
  return count;
}

class LandingTest : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    gDataKeyToken[0] = '\0';  // the uploader refuses at once, without a network
  }

  // As at plug-in start: publishes the six datarefs (minus the paths in
  // leftOut), resolves the catalogue, finds the landing rows and clears the
  // detector, so that table cases run one after another in one process.
  void StartDetection(const std::vector<std::string>& leftOut = {}) {
    gPreviousGearOnGround = 0;
    gTakeoffDetected = 0;
    gTakeoffTime = 0.0f;
    gWeightOnWheelsDetected = 0;
    gLastLandingTime = 0.0f;
    auto publish = [&](const char* path) {
      for (const std::string& skipped : leftOut)
        if (skipped == path) return false;
      return true;
    };
    if (publish(kGearPath)) xphost::SetDatavi(kGearPath, kParked);
    if (publish(kVerticalSpeedPath)) xphost::SetDataf(kVerticalSpeedPath, 0.0f);
    if (publish(kHeightPath)) xphost::SetDataf(kHeightPath, 0.0f);
    if (publish(kRunningTimePath)) xphost::SetDataf(kRunningTimePath, 0.0f);
    if (publish(kGForcePath)) xphost::SetDataf(kGForcePath, 1.0f);
    if (publish(kBankPath)) xphost::SetDataf(kBankPath, 0.0f);
    ASSERT_EQ(InitDataRefs(), 1);
    InitLandingDetection();
    xphost::ClearLog();
  }

  void SetGear(const std::vector<int>& values) { xphost::SetDatavi(kGearPath, values); }

  // Height in metres, as the simulator publishes it; vertical speed in ft/min.
  void SetFlightValues(float heightMetres, float gForce, float verticalSpeed, float bank) {
    xphost::SetDataf(kHeightPath, heightMetres);
    xphost::SetDataf(kGForcePath, gForce);
    xphost::SetDataf(kVerticalSpeedPath, verticalSpeed);
    xphost::SetDataf(kBankPath, bank);
  }

  int DetectAt(double now) {
    xphost::SetElapsedTime(now);
    return DetectLandingEvent();
  }

  // Log lines of the calls made since the last MarkLog.
  void MarkLog() { logMark_ = xphost::LogLines().size(); }
  std::vector<std::string> LinesSinceMark() const { return tralix_test::LogLinesSince(logMark_); }

  // The state a takeoff at takeoffTime leaves behind, with the aircraft still in the air.
  void ArmAirborne(float takeoffTime) {
    gTakeoffDetected = 1;
    gTakeoffTime = takeoffTime;
    gPreviousGearOnGround = 0;
    SetGear(kAirborne);
  }

 private:
  size_t logMark_ = 0;
};

}  // namespace landing_test
