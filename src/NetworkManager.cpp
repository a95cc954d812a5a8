// Service client and JSON text helpers. Placeholder: sends nothing yet.
#include "NetworkManager.h"

#include "LandingDetection.h"
#include "Tralix.h"

#include "XPLMUtilities.h"

int gNetworkBusy;
int gConsecutiveFailures;
float gBackoffTime;
float gLastSendTime;

void InitNetwork() {
  gNetworkBusy = 0;
  gLastSendTime = 0.0f;
  gConsecutiveFailures = 0;
  gBackoffTime = 0.0f;
  XPLMDebugString("Tralix - Network system initialized\n");
}

int BuildURL(char*, size_t, const char*, const char*) { return 0; }
void ReadStreamClientCallBack(CFReadStreamRef, CFStreamEventType, void*) {}

int SendAircraftData(float, float, float, float, float, float, float, const char*, const char*) { return 0; }
int ActivateApiKey(const char*, char* tokenOut, size_t tokenOutSize) {
  if (tokenOut && tokenOutSize) tokenOut[0] = '\0';
  return 0;
}
int SendLandingEvent(float, float, const LandingDataPoint*, int) { return 0; }

int BuildExtraDataJSON(char*, size_t) { return 0; }
int FormatFloatNoScientific(char* out, size_t outSize, float, int) {
  if (out && outSize) out[0] = '\0';
  return 0;
}
int EscapeJSONString(char* out, const char*, size_t outSize) {
  if (out && outSize) out[0] = '\0';
  return 0;
}
