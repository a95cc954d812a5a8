// Tralix bridge: global plug-in state shared by every module, and the flight loop.
#pragma once

#include "XPLMDataAccess.h"

#include <cstddef>

extern char gApiKey[256];        // empty: no key configured
extern char gDataKeyToken[256];  // empty: not activated
extern char gConfigPath[1024];   // full path of Tralix.cfg; byte 1023 always NUL

// Core dataref handles, found once at start-up; null when the simulator lacks one.
extern XPLMDataRef gPlaneLat;
extern XPLMDataRef gPlaneLon;
extern XPLMDataRef gPlaneEl;
extern XPLMDataRef gPlaneHeading;
extern XPLMDataRef gPlaneGroundSpeed;
extern XPLMDataRef gPlaneAltitudeAGL;
extern XPLMDataRef gPlaneAltitude;
extern XPLMDataRef gPlaneICAO;
extern XPLMDataRef gPlaneName;

// X-Plane publishes speeds in m/s; the broadcast, its extra object and the Live
// Data window all show knots with this one factor.
constexpr float kKnotsPerMetrePerSecond = 1.9438f;

// A missing dataref (an older X-Plane) reads as 0, without a null handle reaching the SDK.
float ReadFloatOrZero(XPLMDataRef ref);

// Looks the nine core datarefs up, in the order above. Without X-Plane 12's
// display name (X-Plane 11) the aircraft's description names it.
void FindCoreDataRefs();

float TralixMainLoopCallback(float elapsedSinceLastCall, float elapsedSinceLastFlightLoop,
                             int counter, void* refcon);

// Formats one log line into a buffer of lineSize bytes (at most 512) and hands
// it to XPLMDebugString. A line cut at the end of its buffer still ends in '\n'.
void LogFormatted(size_t lineSize, const char* format, ...) __attribute__((format(printf, 2, 3)));
