// A minimal plug-in for the host's loading tests. It logs each entry point it
// goes through, so the tests can read the order the host called them in, and
// on request leaves things registered at stop.
#include "XPLMDefs.h"
#include "XPLMDisplay.h"
#include "XPLMMenus.h"
#include "XPLMPlugin.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"

#include <cstdio>
#include <cstring>

#ifndef TEST_PLUGIN_START_RESULT
#define TEST_PLUGIN_START_RESULT 1
#endif

namespace {

constexpr int kMessageLeaveLeftovers = 0x7e57;

int gFlightLoopCalls = 0;
bool gLeaveLeftovers = false;

float CountingFlightLoop(float, float, int, void*) {
  char line[64];
  std::snprintf(line, sizeof line, "test plugin: flight loop %d\n", ++gFlightLoopCalls);
  XPLMDebugString(line);
  return -1.0f;
}

void DrawNothing(XPLMWindowID, void*) {}
void MenuHandler(void*, void*) { XPLMDebugString("test plugin: menu\n"); }

void LeaveLeftovers() {
  XPLMCreateWindow_t record{};
  record.structSize = sizeof record;
  record.left = 10;
  record.top = 100;
  record.right = 100;
  record.bottom = 10;
  record.drawWindowFunc = DrawNothing;
  XPLMCreateWindowEx(&record);
  int item = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Leftover", nullptr, 1);
  XPLMCreateMenu("Leftover", XPLMFindPluginsMenu(), item, MenuHandler, nullptr);
}

}  // namespace

PLUGIN_API int XPluginStart(char* outName, char* outSignature, char* outDescription) {
  // Fills the buffers to the last byte the SDK allows: 255 characters and NUL.
  std::snprintf(outName, 256, "Host Test Plugin");
  std::snprintf(outSignature, 256, "net.tralix.hosttest");
  std::memset(outDescription, 'd', 255);
  outDescription[255] = '\0';
  char path[256];
  XPLMGetPluginInfo(XPLMGetMyID(), nullptr, path, nullptr, nullptr);
  XPLMDebugString("test plugin: start\n");
  XPLMDebugString("test plugin: path ");
  XPLMDebugString(path);
  XPLMDebugString("\n");
  XPLMRegisterFlightLoopCallback(CountingFlightLoop, -1.0f, nullptr);
  return TEST_PLUGIN_START_RESULT;
}

PLUGIN_API void XPluginStop(void) {
  if (!gLeaveLeftovers) XPLMUnregisterFlightLoopCallback(CountingFlightLoop, nullptr);
  XPLMDebugString("test plugin: stop\n");
}

PLUGIN_API int XPluginEnable(void) {
  XPLMDebugString("test plugin: enable\n");
  return 1;
}

#ifndef TEST_PLUGIN_WITHOUT_DISABLE
PLUGIN_API void XPluginDisable(void) { XPLMDebugString("test plugin: disable\n"); }
#endif

PLUGIN_API void XPluginReceiveMessage(XPLMPluginID from, int message, void*) {
  char line[80];
  std::snprintf(line, sizeof line, "test plugin: message %d from %d\n", message, from);
  XPLMDebugString(line);
  if (message == kMessageLeaveLeftovers) {
    gLeaveLeftovers = true;
    LeaveLeftovers();
  }
}
