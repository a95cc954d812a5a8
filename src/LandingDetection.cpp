// Touchdown sample ring and landing detector. Placeholder: never detects anything.
#include "LandingDetection.h"

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

void InitLandingDetection() {}
void CollectLandingDataPoint() {}
int DetectLandingEvent() { return 0; }
