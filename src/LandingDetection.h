// Touchdown sample ring and landing detector.
#pragma once

struct LandingDataPoint {
  float groundAltitude;  // feet above ground
  float gForce;          // normal load factor
  float verticalSpeed;   // feet per minute
  float rollDegree;      // bank, degrees
};

// Catalogue rows the detector reads; -1 when the catalogue has no such row.
extern int gGearOnGroundIndex;
extern int gVerticalSpeedIndex;
extern int gAltitudeIndex;
extern int gTimeIndex;
extern int gGForceIndex;
extern int gRollIndex;

extern LandingDataPoint gLandingDataPoints[10];
extern int gLandingDataBufferIndex;
extern int gLandingDataPointCount;
extern float gLastDataPointTime;

extern int gPreviousGearOnGround;
extern int gTakeoffDetected;
extern float gTakeoffTime;
extern int gWeightOnWheelsDetected;
extern float gLastLandingTime;

void InitLandingDetection();
void CollectLandingDataPoint();
int DetectLandingEvent();

// The ring's samples, oldest first, as the last accepted landing handed them to
// the uploader (all zero before the first hand-over).
const LandingDataPoint* LastOrderedLandingPoints();
