// Touchdown sample ring and landing detector: recognises takeoff and touchdown
// from the per-gear on-ground flags and hands each landing that ends a flight of
// at least a minute, with the ten airborne samples before it, to the uploader.
#include "LandingDetection.h"

#include "DataRefs.h"
#include "NetworkManager.h"
#include "Tralix.h"

#include "XPLMDataAccess.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"

#include <cstddef>

int gGearOnGroundIndex = -1;
int gVerticalSpeedIndex = -1;
int gAltitudeIndex = -1;
int gTimeIndex = -1;
int gGForceIndex = -1;
int gRollIndex = -1;

LandingDataPoint gLandingDataPoints[10];
int gLandingDataBufferIndex;
int gLandingDataPointCount;
float gLastDataPointTime;

int gPreviousGearOnGround;
int gTakeoffDetected;
float gTakeoffTime;
int gWeightOnWheelsDetected;
float gLastLandingTime;

namespace {

constexpr int kRingCapacity = 10;
static_assert(sizeof(gLandingDataPoints) / sizeof(gLandingDataPoints[0]) == kRingCapacity,
              "a landing event carries exactly one full ring");
constexpr int kGearCount = 10;

constexpr float kSampleInterval = 0.1f;
constexpr float kCooldownSeconds = 10.0f;
constexpr float kMinimumFlightSeconds = 60.0f;
constexpr float kFlightResetSeconds = 300.0f;

constexpr size_t kLineSize = 256;
constexpr size_t kStateLineSize = 512;

// The ring's samples in the order they were taken, as last handed to the uploader.
LandingDataPoint orderedPoints[kRingCapacity];

const char* YesNo(int flag) { return flag ? "Yes" : "No"; }
const char* GroundStateName(int onGround) { return onGround ? "On Ground" : "Airborne"; }

// A row that exists by name may still have no dataref in this simulator; it
// reads as 0 so that the host is never handed a null handle.
float ReadRow(int index) {
  if (index < 0) return 0.0f;
  const DataRefMapping& row = gMappings[index];
  if (!row.dataRef) return 0.0f;
  return XPLMGetDataf(row.dataRef) * row.multiplier;
}

// Fills gearValues from the gear row: elements the host does not fill keep
// their previous values, an unresolved row reads as all 0. Returns 1 when any
// gear reports exactly 1.
int ReadGearOnGround(int* gearValues) {
  const DataRefMapping& row = gMappings[gGearOnGroundIndex];
  if (row.dataRef) {
    XPLMGetDatavi(row.dataRef, gearValues, 0, kGearCount);
  } else {
    for (int i = 0; i < kGearCount; ++i) gearValues[i] = 0;
  }
  for (int i = 0; i < kGearCount; ++i)
    if (gearValues[i] == 1) return 1;
  return 0;
}

bool RequiredRowsPresent() { return gGearOnGroundIndex >= 0 && gAltitudeIndex >= 0 && gTimeIndex >= 0; }

void LogOptionalRow(int index, const char* availableLine, const char* missingLine) {
  XPLMDebugString(index >= 0 ? availableLine : missingLine);
}

void StoreSample(float now) {
  LandingDataPoint& sample = gLandingDataPoints[gLandingDataBufferIndex];
  sample.groundAltitude = ReadRow(gAltitudeIndex);
  sample.gForce = ReadRow(gGForceIndex);
  sample.verticalSpeed = ReadRow(gVerticalSpeedIndex);
  sample.rollDegree = ReadRow(gRollIndex);

  gLandingDataBufferIndex = (gLandingDataBufferIndex + 1) % kRingCapacity;
  if (gLandingDataPointCount < kRingCapacity) ++gLandingDataPointCount;
  gLastDataPointTime = now;

  LogFormatted(kLineSize,
               "Tralix - Collected data point: alt=%.2f, g=%.4f, vs=%.2f, roll=%.2f (Buffer: %d/%d, WOW: %s)\n",
               static_cast<double>(sample.groundAltitude), static_cast<double>(sample.gForce),
               static_cast<double>(sample.verticalSpeed), static_cast<double>(sample.rollDegree),
               gLandingDataPointCount, kRingCapacity, YesNo(gWeightOnWheelsDetected));
  LogFormatted(kLineSize, "Tralix - DEBUG: Data point collected at time %.3f, buffer index: %d, total points: %d\n",
               static_cast<double>(now), (gLandingDataBufferIndex + kRingCapacity - 1) % kRingCapacity,
               gLandingDataPointCount);
}

// Copies the full ring oldest first and hands it to the uploader. The landing is
// not retried whatever the uploader says.
void HandOverLandingEvent(float now) {
  LogFormatted(kLineSize, "Tralix - DEBUG: Sending landing event with buffer data at time %.3f\n",
               static_cast<double>(now));
  const float touchdownHeight = ReadRow(gAltitudeIndex);
  const float touchdownVerticalSpeed = ReadRow(gVerticalSpeedIndex);

  for (int k = 0; k < kRingCapacity; ++k)
    orderedPoints[k] = gLandingDataPoints[(gLandingDataBufferIndex + k) % kRingCapacity];

  const int sent = SendLandingEvent(touchdownVerticalSpeed, touchdownHeight, orderedPoints, kRingCapacity);
  XPLMDebugString(sent ? "Tralix - Landing event sent successfully\n" : "Tralix - Failed to send landing event\n");

  gWeightOnWheelsDetected = 0;
  XPLMDebugString("Tralix - DEBUG: Landing event processing complete, state reset\n");
}

void AcceptLanding(float now, float heightAboveGround, float flightTime, const int* gearValues) {
  gWeightOnWheelsDetected = 1;
  gLastLandingTime = now;
  LogFormatted(kLineSize,
               "Tralix - Weight on wheels detected! Gear values: [%d,%d,%d,%d,%d,%d,%d,%d,%d,%d] "
               "(Altitude AGL: %.1f ft, Flight time: %.1f seconds)\n",
               gearValues[0], gearValues[1], gearValues[2], gearValues[3], gearValues[4], gearValues[5],
               gearValues[6], gearValues[7], gearValues[8], gearValues[9], static_cast<double>(heightAboveGround),
               static_cast<double>(flightTime));
  LogFormatted(kLineSize, "Tralix - DEBUG: WOW detected at time %.3f, buffer points: %d\n", static_cast<double>(now),
               gLandingDataPointCount);

  if (gLandingDataPointCount < kRingCapacity) {
    LogFormatted(kLineSize, "Tralix - DEBUG: Not enough data points for landing event (%d/%d)\n",
                 gLandingDataPointCount, kRingCapacity);
    return;
  }
  HandOverLandingEvent(now);
}

// A new flight starts once the aircraft has been on the ground for a while
// after its takeoff; the ring's slots keep their contents until rewritten.
void ResetFlight() {
  gTakeoffDetected = 0;
  gWeightOnWheelsDetected = 0;
  gLandingDataPointCount = 0;
  gLandingDataBufferIndex = 0;
  gTakeoffTime = 0.0f;
  XPLMDebugString("Tralix - Takeoff detection reset (new flight session)\n");
}

}  // namespace

const LandingDataPoint* LastOrderedLandingPoints() { return orderedPoints; }

void InitLandingDetection() {
  XPLMDebugString("Tralix - Initializing landing detection system...\n");
  gGearOnGroundIndex = FindMappingIndex("xp_gear_on_ground");
  gVerticalSpeedIndex = FindMappingIndex("vertical_speed");
  gAltitudeIndex = FindMappingIndex("groundAltitude");
  gTimeIndex = FindMappingIndex("time");
  gGForceIndex = FindMappingIndex("Gforce");
  gRollIndex = FindMappingIndex("bank");

  gLandingDataPointCount = 0;
  gLandingDataBufferIndex = 0;
  gLastDataPointTime = 0.0f;

  if (!RequiredRowsPresent()) {
    XPLMDebugString("Tralix - WARNING: Landing detection system incomplete - required datarefs missing\n");
    return;
  }
  XPLMDebugString("Tralix - Landing detection system initialized successfully\n");
  LogOptionalRow(gVerticalSpeedIndex, "Tralix - Vertical speed dataref available for landing events\n",
                 "Tralix - WARNING: Vertical speed dataref not available\n");
  LogOptionalRow(gGForceIndex, "Tralix - G-Force dataref available for landing events\n",
                 "Tralix - WARNING: G-Force dataref not available\n");
  LogOptionalRow(gRollIndex, "Tralix - Roll/Bank dataref available for landing events\n",
                 "Tralix - WARNING: Roll/Bank dataref not available\n");
}

void CollectLandingDataPoint() {
  const float now = XPLMGetElapsedTime();
  const float elapsed = now - gLastDataPointTime;
  LogFormatted(kLineSize,
               "Tralix - DEBUG: CollectLandingDataPoint - elapsed: %.3f, interval: %.3f, buffer idx: %d, count: %d\n",
               static_cast<double>(elapsed), static_cast<double>(kSampleInterval), gLandingDataBufferIndex,
               gLandingDataPointCount);
  if (elapsed < kSampleInterval) {
    XPLMDebugString("Tralix - DEBUG: Not time for next data point yet\n");
    return;
  }
  StoreSample(now);
}

int DetectLandingEvent() {
  if (!RequiredRowsPresent()) return 0;

  const float now = XPLMGetElapsedTime();
  const float sinceLastLanding = now - gLastLandingTime;
  LogFormatted(kStateLineSize,
               "Tralix - DEBUG: DetectLandingEvent called at %.3f, last landing: %.3f, cooldown: %.3f\n",
               static_cast<double>(now), static_cast<double>(gLastLandingTime), static_cast<double>(sinceLastLanding));
  if (sinceLastLanding < kCooldownSeconds) {
    XPLMDebugString("Tralix - DEBUG: Still in landing cooldown period\n");
    return 0;
  }

  static int gearGroundValues[kGearCount];
  const float heightAboveGround = ReadRow(gAltitudeIndex);
  const int onGround = ReadGearOnGround(gearGroundValues);
  LogFormatted(kStateLineSize, "Tralix - DEBUG: Current state - Alt: %.1f, Gear: %s, Takeoff: %s, WOW: %s\n",
               static_cast<double>(heightAboveGround), onGround ? "On" : "Off", YesNo(gTakeoffDetected),
               YesNo(gWeightOnWheelsDetected));

  const int previousOnGround = gPreviousGearOnGround;
  if (previousOnGround != onGround) {
    LogFormatted(kLineSize, "Tralix - Gear state changed: %s -> %s (Altitude AGL: %.1f ft)\n",
                 GroundStateName(previousOnGround), GroundStateName(onGround), static_cast<double>(heightAboveGround));
    gPreviousGearOnGround = onGround;
  }

  // Every ground-to-air change is a takeoff, also while armed: it restarts the flight time.
  if (previousOnGround && !onGround) {
    gTakeoffDetected = 1;
    gTakeoffTime = now;
    LogFormatted(kLineSize, "Tralix - Takeoff detected! (Altitude AGL: %.1f ft)\n",
                 static_cast<double>(heightAboveGround));
  }

  if (gTakeoffDetected && !onGround) CollectLandingDataPoint();

  const bool touchdown = !previousOnGround && onGround;
  if (touchdown && gTakeoffDetected) {
    const float flightTime = now - gTakeoffTime;
    if (flightTime >= kMinimumFlightSeconds) AcceptLanding(now, heightAboveGround, flightTime, gearGroundValues);
  }

  if (gTakeoffDetected && onGround && now - gTakeoffTime > kFlightResetSeconds) ResetFlight();

  return touchdown ? 1 : 0;
}
