// Tralix bridge: the plug-in's entry points, its global state and the flight loop
// that drives the broadcasts and the landing detector.
#include "Tralix.h"

#include "ConfigManager.h"
#include "DataRefs.h"
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "UI.h"
#include "platform/RunLoopPump.h"

#include "XPLMDataAccess.h"
#include "XPLMDefs.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char gApiKey[256];
char gDataKeyToken[256];
char gConfigPath[1024];

XPLMDataRef gPlaneLat;
XPLMDataRef gPlaneLon;
XPLMDataRef gPlaneEl;
XPLMDataRef gPlaneHeading;
XPLMDataRef gPlaneGroundSpeed;
XPLMDataRef gPlaneAltitudeAGL;
XPLMDataRef gPlaneAltitude;
XPLMDataRef gPlaneICAO;
XPLMDataRef gPlaneName;

// The flight loop's own state: the aircraft's names as last read, and when.
char aircraft_name[256];
char icao_code[40];
float lastNameFetch;

namespace {

constexpr char kPluginName[] = "Tralix";
constexpr char kPluginSignature[] = "net.tralix.bridge.zuzezarorizivov";
constexpr char kPluginDescription[] =
    "Tralix Connection Bridge v" TRALIX_VERSION " - Real-time flight data connector for X-Plane";
static_assert(sizeof(kPluginDescription) == 79, "description is 78 characters");

constexpr float kFirstCallInterval = 0.1f;
constexpr float kAirborneInterval = 0.1f;
constexpr float kNameRefreshSeconds = 5.0f;

struct CoreDataRef {
  XPLMDataRef* handle;
  const char* path;
};

// Looked up in this order at start-up.
const CoreDataRef kCoreDataRefs[] = {
    {&gPlaneLat, "sim/flightmodel/position/latitude"},
    {&gPlaneLon, "sim/flightmodel/position/longitude"},
    {&gPlaneEl, "sim/flightmodel/position/elevation"},
    {&gPlaneHeading, "sim/flightmodel/position/psi"},
    {&gPlaneGroundSpeed, "sim/flightmodel/position/groundspeed"},
    {&gPlaneAltitudeAGL, "sim/flightmodel/position/y_agl"},
    {&gPlaneAltitude, "sim/cockpit2/gauges/indicators/altitude_ft_pilot"},
    {&gPlaneICAO, "sim/aircraft/view/acf_ICAO"},
    {&gPlaneName, "sim/aircraft/view/acf_ui_name"},
};
constexpr char kAircraftDescriptionPath[] = "sim/aircraft/view/acf_descrip";

// Start-up failed, perhaps after the activation ran: no stream or network
// thread may outlive the binary, which the host unloads next.
int AbortStart(const char* line) {
  XPLMDebugString(line);
  ShutdownNetwork();
  StopNetworkWorker();
  return 0;
}

float IdleInterval() { return gConsecutiveFailures > 0 ? 2.0f : 1.0f; }

// XPLMGetDatab copies only what the dataref holds, so the buffer is cleared
// first: a shorter new name must not keep the old one's tail.
void ReadTextDataRef(XPLMDataRef ref, char* buffer, int capacity) {
  if (!ref) return;
  std::memset(buffer, 0, static_cast<size_t>(capacity));
  XPLMGetDatab(ref, buffer, 0, capacity - 1);
  buffer[capacity - 1] = '\0';
}

void RefreshAircraftNames(float cycleTime) {
  lastNameFetch = cycleTime;
  ReadTextDataRef(gPlaneName, aircraft_name, sizeof(aircraft_name));
  ReadTextDataRef(gPlaneICAO, icao_code, sizeof(icao_code));
  if (aircraft_name[0] == '\0') std::snprintf(aircraft_name, sizeof(aircraft_name), "%s", "X-Plane Aircraft");
  if (icao_code[0] == '\0') std::snprintf(icao_code, sizeof(icao_code), "%s", "XPLN");
}

}  // namespace

float ReadFloatOrZero(XPLMDataRef ref) { return ref ? XPLMGetDataf(ref) : 0.0f; }

void FindCoreDataRefs() {
  for (const CoreDataRef& core : kCoreDataRefs) *core.handle = XPLMFindDataRef(core.path);
  if (!gPlaneName) gPlaneName = XPLMFindDataRef(kAircraftDescriptionPath);
}

void LogFormatted(size_t lineSize, const char* format, ...) {
  char line[512];
  if (lineSize == 0 || lineSize > sizeof(line)) lineSize = sizeof(line);
  va_list args;
  va_start(args, format);
  const int needed = std::vsnprintf(line, lineSize, format, args);
  va_end(args);
  if (needed < 0) return;
  if (static_cast<size_t>(needed) >= lineSize && lineSize >= 2) line[lineSize - 2] = '\n';
  XPLMDebugString(line);
}

float TralixMainLoopCallback(float, float, int, void*) {
  // Before the gates: a request that never ends holds the busy flag.
  EndOverdueRequests();
  const float now = XPLMGetElapsedTime();
  const float since = now - gLastSendTime;
  if (static_cast<double>(gBackoffTime) + 1.0 > static_cast<double>(since)) return IdleInterval();
  if (gNetworkBusy) return IdleInterval();

  const float latitude = XPLMGetDataf(gPlaneLat);
  const float longitude = XPLMGetDataf(gPlaneLon);
  const float elevation = XPLMGetDataf(gPlaneEl);
  const float heading = ReadFloatOrZero(gPlaneHeading);
  const float groundSpeed = ReadFloatOrZero(gPlaneGroundSpeed) * kKnotsPerMetrePerSecond;
  const float heightAboveGround = ReadFloatOrZero(gPlaneAltitudeAGL);
  const float altitude = ReadFloatOrZero(gPlaneAltitude);

  const float cycleTime = XPLMGetElapsedTime();
  if (cycleTime - lastNameFetch > kNameRefreshSeconds) RefreshAircraftNames(cycleTime);

  if (SendAircraftData(latitude, longitude, elevation, heading, groundSpeed, heightAboveGround,
                       altitude, aircraft_name, icao_code)) {
    gLastSendTime = cycleTime;
    XPLMDebugString("Tralix - Successfully sent aircraft data\n");
  } else {
    XPLMDebugString("Tralix - Failed to send aircraft data\n");
  }

  if (DetectLandingEvent()) XPLMDebugString("Tralix - Landing event processed\n");

  if (gTakeoffDetected && !gPreviousGearOnGround) return kAirborneInterval;
  return IdleInterval();
}

PLUGIN_API int XPluginStart(char* outName, char* outSignature, char* outDescription) {
  std::snprintf(outName, 256, "%s", kPluginName);
  std::snprintf(outSignature, 256, "%s", kPluginSignature);
  std::snprintf(outDescription, 256, "%s", kPluginDescription);
  XPLMDebugString("Tralix - Plugin starting up...\n");

  if (!InitConfig(gConfigPath, sizeof(gConfigPath), gApiKey, sizeof(gApiKey), gDataKeyToken,
                  sizeof(gDataKeyToken)))
    return AbortStart("Tralix - ERROR: Failed to initialize configuration\n");

  XPLMDebugString("Tralix - Initializing data refs...\n");
  FindCoreDataRefs();
  if (!gPlaneLat || !gPlaneLon || !gPlaneEl)
    return AbortStart("Tralix - CRITICAL: Failed to initialize core position data refs\n");
  if (!InitDataRefs()) return AbortStart("Tralix - ERROR: Failed to initialize data ref mappings\n");
  InitLandingDetection();
  InitNetwork();

  XPLMDebugString("Tralix - Registering flight loop callback...\n");
  XPLMRegisterFlightLoopCallback(TralixMainLoopCallback, kFirstCallInterval, nullptr);
  StartRunLoopPump();
  InitUI();

  XPLMDebugString("Tralix - Plugin initialization complete!\n");
  return 1;
}

PLUGIN_API void XPluginStop(void) {
  XPLMUnregisterFlightLoopCallback(TralixMainLoopCallback, nullptr);
  CleanupUI();
  ShutdownNetwork();
  StopRunLoopPump();
  StopNetworkWorker();
  XPLMDebugString("Tralix - Plugin stopped\n");
}

PLUGIN_API int XPluginEnable(void) { return 1; }

PLUGIN_API void XPluginDisable(void) {}

PLUGIN_API void XPluginReceiveMessage(XPLMPluginID, int, void*) {}
