// A plug-in that leaves a flight loop, a window, a menu handler and a widget
// callback registered at stop, so the loading test can check that the host
// counts them and never calls into the unloaded binary.
#include "XPLMDisplay.h"
#include "XPLMMenus.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <cstdio>

namespace {

void Called() { XPLMDebugString("test plugin: called\n"); }
float EveryFrame(float, float, int, void*) { return Called(), -1.0f; }
void Draw(XPLMWindowID, void*) { Called(); }
void MenuHandler(void*, void*) { Called(); }
int WidgetHandler(XPWidgetMessage, XPWidgetID, intptr_t, intptr_t) { return Called(), 0; }

}  // namespace

PLUGIN_API int XPluginStart(char* outName, char* outSignature, char* outDescription) {
  std::snprintf(outName, 256, "Host Test Plugin");
  std::snprintf(outSignature, 256, "net.tralix.hosttest");
  std::snprintf(outDescription, 256, "leaves everything registered");
  XPLMRegisterFlightLoopCallback(EveryFrame, -1.0f, nullptr);
  XPLMCreateWindow_t record{};
  record.structSize = sizeof record;
  record.right = record.top = 100;
  record.visible = 1;
  record.drawWindowFunc = Draw;
  XPLMCreateWindowEx(&record);
  int item = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Leftover", nullptr, 1);
  XPLMMenuID menu = XPLMCreateMenu("Leftover", XPLMFindPluginsMenu(), item, MenuHandler, nullptr);
  XPLMAppendMenuItem(menu, "Go", nullptr, 1);
  XPWidgetID widget = XPCreateWidget(200, 300, 300, 200, 1, "Leftover", 1, nullptr, xpWidgetClass_MainWindow);
  XPAddWidgetCallback(widget, WidgetHandler);
  return 1;
}

PLUGIN_API void XPluginStop(void) {}
PLUGIN_API int XPluginEnable(void) { return 1; }
PLUGIN_API void XPluginDisable(void) {}
PLUGIN_API void XPluginReceiveMessage(XPLMPluginID, int, void*) {}
