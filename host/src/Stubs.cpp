// Placeholder bodies so the host links; replaced by the real implementation.
#include "XPLMDataAccess.h"
#include "XPLMDisplay.h"
#include "XPLMGraphics.h"
#include "XPLMMenus.h"
#include "XPLMPlugin.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"
#include "XPWidgets.h"
#include "XPStandardWidgets.h"
#include "XPHostControl.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

extern "C" {
XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName) { return {}; }
XPLM_API int XPLMCanWriteDataRef(XPLMDataRef inDataRef) { return {}; }
XPLM_API int XPLMIsDataRefGood(XPLMDataRef inDataRef) { return {}; }
XPLM_API XPLMDataTypeID XPLMGetDataRefTypes(XPLMDataRef inDataRef) { return {}; }
XPLM_API int XPLMGetDatai(XPLMDataRef inDataRef) { return {}; }
XPLM_API void XPLMSetDatai(XPLMDataRef inDataRef, int inValue) {}
XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef) { return {}; }
XPLM_API void XPLMSetDataf(XPLMDataRef inDataRef, float inValue) {}
XPLM_API double XPLMGetDatad(XPLMDataRef inDataRef) { return {}; }
XPLM_API void XPLMSetDatad(XPLMDataRef inDataRef, double inValue) {}
XPLM_API int XPLMGetDatavi(XPLMDataRef inDataRef, int* outValues, int inOffset, int inMax) { return {}; }
XPLM_API void XPLMSetDatavi(XPLMDataRef inDataRef, int* inValues, int inoffset, int inCount) {}
XPLM_API int XPLMGetDatavf(XPLMDataRef inDataRef, float* outValues, int inOffset, int inMax) { return {}; }
XPLM_API void XPLMSetDatavf(XPLMDataRef inDataRef, float* inValues, int inoffset, int inCount) {}
XPLM_API int XPLMGetDatab(XPLMDataRef inDataRef, void* outValue, int inOffset, int inMaxBytes) { return {}; }
XPLM_API void XPLMSetDatab(XPLMDataRef inDataRef, void* inValue, int inOffset, int inLength) {}
XPLM_API void XPLMDebugString(const char* inString) {}
XPLM_API void XPLMSpeakString(const char* inString) {}
XPLM_API void XPLMGetVersions(int* outXPlaneVersion, int* outXPLMVersion, XPLMHostApplicationID* outHostID) {}
XPLM_API void XPLMGetSystemPath(char* outSystemPath) {}
XPLM_API void XPLMGetPrefsPath(char* outPrefsPath) {}
XPLM_API const char* XPLMGetDirectorySeparator(void) { return {}; }
XPLM_API float XPLMGetElapsedTime(void) { return {}; }
XPLM_API int XPLMGetCycleNumber(void) { return {}; }
XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void* inRefcon) {}
XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void* inRefcon) {}
XPLM_API void XPLMSetFlightLoopCallbackInterval(XPLMFlightLoop_f inFlightLoop, float inInterval, int inRelativeToNow, void* inRefcon) {}
XPLM_API XPLMPluginID XPLMGetMyID(void) { return {}; }
XPLM_API int XPLMCountPlugins(void) { return {}; }
XPLM_API XPLMPluginID XPLMGetNthPlugin(int inIndex) { return {}; }
XPLM_API XPLMPluginID XPLMFindPluginByPath(const char* inPath) { return {}; }
XPLM_API XPLMPluginID XPLMFindPluginBySignature(const char* inSignature) { return {}; }
XPLM_API void XPLMGetPluginInfo(XPLMPluginID inPlugin, char* outName, char* outFilePath, char* outSignature, char* outDescription) {}
XPLM_API int XPLMIsPluginEnabled(XPLMPluginID inPluginID) { return {}; }
XPLM_API int XPLMEnablePlugin(XPLMPluginID inPluginID) { return {}; }
XPLM_API void XPLMDisablePlugin(XPLMPluginID inPluginID) {}
XPLM_API void XPLMReloadPlugins(void) {}
XPLM_API void XPLMSendMessageToPlugin(XPLMPluginID inPlugin, int inMessage, void* inParam) {}
XPLM_API int XPLMHasFeature(const char* inFeature) { return {}; }
XPLM_API int XPLMIsFeatureEnabled(const char* inFeature) { return {}; }
XPLM_API void XPLMEnableFeature(const char* inFeature, int inEnable) {}
XPLM_API void XPLMEnumerateFeatures(XPLMFeatureEnumerator_f inEnumerator, void* inRef) {}
XPLM_API XPLMMenuID XPLMFindPluginsMenu(void) { return {}; }
XPLM_API XPLMMenuID XPLMFindAircraftMenu(void) { return {}; }
XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName, XPLMMenuID inParentMenu, int inParentItem, XPLMMenuHandler_f inHandler, void* inMenuRef) { return {}; }
XPLM_API void XPLMDestroyMenu(XPLMMenuID inMenuID) {}
XPLM_API void XPLMClearAllMenuItems(XPLMMenuID inMenuID) {}
XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char* inItemName, void* inItemRef, int inDeprecatedAndIgnored) { return {}; }
XPLM_API void XPLMAppendMenuSeparator(XPLMMenuID inMenu) {}
XPLM_API void XPLMSetMenuItemName(XPLMMenuID inMenu, int inIndex, const char* inItemName, int inDeprecatedAndIgnored) {}
XPLM_API void XPLMCheckMenuItem(XPLMMenuID inMenu, int index, XPLMMenuCheck inCheck) {}
XPLM_API void XPLMCheckMenuItemState(XPLMMenuID inMenu, int index, XPLMMenuCheck* outCheck) {}
XPLM_API void XPLMEnableMenuItem(XPLMMenuID inMenu, int index, int enabled) {}
XPLM_API void XPLMRemoveMenuItem(XPLMMenuID inMenu, int inIndex) {}
XPLM_API XPLMWindowID XPLMCreateWindowEx(XPLMCreateWindow_t* inParams) { return {}; }
XPLM_API XPLMWindowID XPLMCreateWindow(int inLeft, int inTop, int inRight, int inBottom, int inIsVisible, XPLMDrawWindow_f inDrawCallback, XPLMHandleKey_f inKeyCallback, XPLMHandleMouseClick_f inMouseCallback, void* inRefcon) { return {}; }
XPLM_API void XPLMDestroyWindow(XPLMWindowID inWindowID) {}
XPLM_API void XPLMGetScreenSize(int* outWidth, int* outHeight) {}
XPLM_API void XPLMGetMouseLocation(int* outX, int* outY) {}
XPLM_API void XPLMGetWindowGeometry(XPLMWindowID inWindowID, int* outLeft, int* outTop, int* outRight, int* outBottom) {}
XPLM_API void XPLMSetWindowGeometry(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight, int inBottom) {}
XPLM_API int XPLMGetWindowIsVisible(XPLMWindowID inWindowID) { return {}; }
XPLM_API void XPLMSetWindowIsVisible(XPLMWindowID inWindowID, int inIsVisible) {}
XPLM_API void* XPLMGetWindowRefCon(XPLMWindowID inWindowID) { return {}; }
XPLM_API void XPLMSetWindowRefCon(XPLMWindowID inWindowID, void* inRefcon) {}
XPLM_API void XPLMTakeKeyboardFocus(XPLMWindowID inWindow) {}
XPLM_API void XPLMBringWindowToFront(XPLMWindowID inWindow) {}
XPLM_API int XPLMIsWindowInFront(XPLMWindowID inWindow) { return {}; }
XPLM_API int XPLMHasKeyboardFocus(XPLMWindowID inWindow) { return {}; }
XPLM_API void XPLMSetWindowTitle(XPLMWindowID inWindowID, const char* inWindowTitle) {}
XPLM_API void XPLMGetScreenBoundsGlobal(int* outLeft, int* outTop, int* outRight, int* outBottom) {}
XPLM_API void XPLMSetGraphicsState(int inEnableFog, int inNumberTexUnits, int inEnableLighting, int inEnableAlphaTesting, int inEnableAlphaBlending, int inEnableDepthTesting, int inEnableDepthWriting) {}
XPLM_API void XPLMBindTexture2d(int inTextureNum, int inTextureUnit) {}
XPLM_API void XPLMGenerateTextureNumbers(int* outTextureIDs, int inCount) {}
XPLM_API void XPLMDrawTranslucentDarkBox(int inLeft, int inTop, int inRight, int inBottom) {}
XPLM_API void XPLMDrawString(float* inColorRGB, int inXOffset, int inYOffset, char* inChar, int* inWordWrapWidth, XPLMFontID inFontID) {}
XPLM_API void XPLMDrawNumber(float* inColorRGB, int inXOffset, int inYOffset, double inValue, int inDigits, int inDecimals, int inShowSign, XPLMFontID inFontID) {}
XPLM_API void XPLMGetFontDimensions(XPLMFontID inFontID, int* outCharWidth, int* outCharHeight, int* outDigitsOnly) {}
XPLM_API float XPLMMeasureString(XPLMFontID inFontID, const char* inChar, int inNumChars) { return {}; }
WIDGET_API XPWidgetID XPCreateWidget(int inLeft, int inTop, int inRight, int inBottom, int inVisible, const char* inDescriptor, int inIsRoot, XPWidgetID inContainer, XPWidgetClass inClass) { return {}; }
WIDGET_API XPWidgetID XPCreateCustomWidget(int inLeft, int inTop, int inRight, int inBottom, int inVisible, const char* inDescriptor, int inIsRoot, XPWidgetID inContainer, XPWidgetFunc_t inCallback) { return {}; }
WIDGET_API void XPDestroyWidget(XPWidgetID inWidget, int inDestroyChildren) {}
WIDGET_API int XPSendMessageToWidget(XPWidgetID inWidget, XPWidgetMessage inMessage, XPDispatchMode inMode, intptr_t inParam1, intptr_t inParam2) { return {}; }
WIDGET_API void XPPlaceWidgetWithin(XPWidgetID inSubWidget, XPWidgetID inContainer) {}
WIDGET_API int XPCountChildWidgets(XPWidgetID inWidget) { return {}; }
WIDGET_API XPWidgetID XPGetNthChildWidget(XPWidgetID inWidget, int inIndex) { return {}; }
WIDGET_API XPWidgetID XPGetParentWidget(XPWidgetID inWidget) { return {}; }
WIDGET_API void XPShowWidget(XPWidgetID inWidget) {}
WIDGET_API void XPHideWidget(XPWidgetID inWidget) {}
WIDGET_API int XPIsWidgetVisible(XPWidgetID inWidget) { return {}; }
WIDGET_API XPWidgetID XPFindRootWidget(XPWidgetID inWidget) { return {}; }
WIDGET_API void XPBringRootWidgetToFront(XPWidgetID inWidget) {}
WIDGET_API int XPIsWidgetInFront(XPWidgetID inWidget) { return {}; }
WIDGET_API void XPGetWidgetGeometry(XPWidgetID inWidget, int* outLeft, int* outTop, int* outRight, int* outBottom) {}
WIDGET_API void XPSetWidgetGeometry(XPWidgetID inWidget, int inLeft, int inTop, int inRight, int inBottom) {}
WIDGET_API XPWidgetID XPGetWidgetForLocation(XPWidgetID inContainer, int inXOffset, int inYOffset, int inRecursive, int inVisibleOnly) { return {}; }
WIDGET_API void XPGetWidgetExposedGeometry(XPWidgetID inWidgetID, int* outLeft, int* outTop, int* outRight, int* outBottom) {}
WIDGET_API void XPSetWidgetDescriptor(XPWidgetID inWidget, const char* inDescriptor) {}
WIDGET_API int XPGetWidgetDescriptor(XPWidgetID inWidget, char* outDescriptor, int inMaxDescLength) { return {}; }
WIDGET_API XPLMWindowID XPGetWidgetUnderlyingWindow(XPWidgetID inWidget) { return {}; }
WIDGET_API void XPSetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, intptr_t inValue) {}
WIDGET_API intptr_t XPGetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, int* inExists) { return {}; }
WIDGET_API XPWidgetID XPSetKeyboardFocus(XPWidgetID inWidget) { return {}; }
WIDGET_API void XPLoseKeyboardFocus(XPWidgetID inWidget) {}
WIDGET_API XPWidgetID XPGetWidgetWithFocus(void) { return {}; }
WIDGET_API void XPAddWidgetCallback(XPWidgetID inWidget, XPWidgetFunc_t inNewCallback) {}
WIDGET_API XPWidgetFunc_t XPGetWidgetClassFunc(XPWidgetClass inWidgetClass) { return {}; }
}

namespace xphost {
void Reset() {}
void SetOutputDir(const std::string&) {}
void SetDataf(const std::string&, float) {}
void SetDatai(const std::string&, int) {}
void SetDatavf(const std::string&, const std::vector<float>&) {}
void SetDatavi(const std::string&, const std::vector<int>&) {}
void SetDatab(const std::string&, const std::string&) {}
void RemoveDataRef(const std::string&) {}
int DataRefReadCount(const std::string&) { return 0; }
int TotalDataRefReads() { return 0; }
std::vector<std::string> FindDataRefCalls() { return {}; }
double ElapsedTime() { return 0; }
void SetElapsedTime(double) {}
void RunFrame(double) {}
void RunFor(double, double) {}
std::vector<FlightLoopInfo> FlightLoops() { return {}; }
std::string LogText() { return {}; }
std::vector<std::string> LogLines() { return {}; }
void ClearLog() {}
void SetPluginPath(const std::string&) {}
bool LoadPlugin(const std::string&, LoadedPlugin*, std::string* error) { if (error) *error = "not implemented"; return false; }
void UnloadPlugin() {}
void SendMessageToPlugin(int, int, void*) {}
}  // namespace xphost
