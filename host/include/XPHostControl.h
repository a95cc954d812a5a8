// Control API of the headless simulator host: what tests and tools use to
// drive the SDK functions the host implements (publish datarefs, move the
// clock, run frames, read the log, load a plug-in). Never included by the
// plug-in itself.
#pragma once

#include "XPlaneDataRefs.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xphost {

// ---- whole host ---------------------------------------------------------
// Forget every dataref, callback, menu, window, widget and log line; clock to 0;
// screen 1920 x 1080; plug-in path empty. Does not touch Log.txt on disk.
void Reset();

// Folder in which Log.txt is written (created/appended). Empty: no Log.txt.
void SetOutputDir(const std::string& dir);

// ---- datarefs -------------------------------------------------------------
// The host plays X-Plane 12 unless told otherwise (Reset() goes back to 12); set
// the version before publishing anything.
void SetXPlaneVersion(XPlaneVersion version);
// Only names of XPlaneDataRefs.h that the played version has are published; any
// other name is ignored. Whatever the setter, the dataref gets the table's type
// and the version's array size: numbers are converted (rounded for ints), an
// array takes the values given and 0 for the rest, a scalar the first value.
// Publishing again replaces the value; the handle stays.
void SetDataf(const std::string& name, float value);
void SetDatad(const std::string& name, double value);
void SetDatai(const std::string& name, int value);
void SetDatavf(const std::string& name, const std::vector<float>& values);
void SetDatavi(const std::string& name, const std::vector<int>& values);
void SetDatab(const std::string& name, const std::string& bytes);
// After this, XPLMFindDataRef(name) gives null again; old handles read as 0.
void RemoveDataRef(const std::string& name);
// How many times the plug-in read a dataref (any XPLMGetData* call on it).
int DataRefReadCount(const std::string& name);
int TotalDataRefReads();
// Names the plug-in passed to XPLMFindDataRef, in call order.
std::vector<std::string> FindDataRefCalls();
// Each name XPLMFindDataRef found nothing for, once, in call order.
std::vector<std::string> MissedDataRefLookups();
// Each read through an accessor the dataref does not offer (X-Plane gives 0),
// once, as "XPLMGetDataf sim/time/paused", in call order.
std::vector<std::string> WrongAccessorReads();

// ---- clock and frames -------------------------------------------------------
double ElapsedTime();                 // what XPLMGetElapsedTime returns, as double
void SetElapsedTime(double seconds);
// Advance the clock by dt, call every flight loop that is due (in registration
// order, each at most once per frame), then draw every visible window.
void RunFrame(double dt);
// RunFrame(frameDt) until the clock has advanced by seconds.
void RunFor(double seconds, double frameDt);

struct FlightLoopInfo {
  void* callback;          // the XPLMFlightLoop_f as registered
  void* refcon;
  double nextCallTime;     // clock value at which it is next due; < 0 when paused
  float lastReturn;        // what its last call returned (0 before the first)
  int callCount;
};
std::vector<FlightLoopInfo> FlightLoops();

// ---- log --------------------------------------------------------------------
std::string LogText();                 // everything XPLMDebugString received
std::vector<std::string> LogLines();   // LogText split at '\n', without the '\n'
void ClearLog();
// Cheap incremental reading for long runs: bytes logged so far, and the text
// logged from a byte offset on.
size_t LogSize();
std::string LogTextFrom(size_t offset);

// ---- plug-in ----------------------------------------------------------------
// Path reported by XPLMGetPluginInfo for the calling plug-in (settable so tests
// can give a classic colon path or an empty one). LoadPlugin sets it to the
// binary's path.
void SetPluginPath(const std::string& path);

struct LoadedPlugin {
  bool started = false;     // XPluginStart returned 1 (then XPluginEnable was called)
  std::string name, signature, description;
};
// dlopen the binary, call XPluginStart with three 256-byte buffers, then
// XPluginEnable when start succeeded. Returns false (with error set) when the
// file cannot be loaded or lacks an entry point.
bool LoadPlugin(const std::string& path, LoadedPlugin* out, std::string* error);
// XPluginDisable + XPluginStop (if started), then dlclose.
void UnloadPlugin();
void SendMessageToPlugin(int from, int message, void* param);

// ======== Additions: inspecting and driving the user interface ========
// Note: Reset() first unloads a plug-in that is still loaded (disable, stop,
// dlclose), so nothing of an old binary stays registered.

// ---- more about datarefs, frames and the plug-in ------------------------------
// XPLMGetData* calls made with a null handle (never counted above).
int NullDataRefReads();
// Flight-loop dispatches so far (the counter handed to flight-loop callbacks).
int FrameCount();
bool PluginLoaded();
// What the plug-in still had registered after XPluginStop, at the last
// UnloadPlugin. The host drops these before dlclose so that no code of the
// unloaded binary is ever called again (menu items stay, without handler).
// streamClients: network streams still open whose client callback lies in the
// binary; on macOS the simulator's run loop would call them after the unload.
struct UnloadLeftovers {
  int flightLoops = 0;
  int windows = 0;
  int widgetCallbacks = 0;
  int menuHandlers = 0;
  int streamClients = 0;
};
UnloadLeftovers LastUnloadLeftovers();

// ---- screen ---------------------------------------------------------------------
void SetScreenSize(int width, int height);

// ---- menus ----------------------------------------------------------------------
struct MenuItemInfo {
  std::string name;
  void* itemRef = nullptr;
  bool enabled = true;
  int check = 0;             // XPLMMenuCheck
  bool separator = false;
  bool hasSubmenu = false;
};
// Items of the Plugins menu ({}) or of the submenu reached by the path of
// item names, e.g. {"Tralix"}. Empty when the path leads nowhere.
std::vector<MenuItemInfo> MenuItems(const std::vector<std::string>& path);
// Picks the item at the end of the path under the Plugins menu, e.g.
// {"Tralix", "Configuration"}: calls its menu's handler with the menu and
// item references. False when the path leads nowhere, the item is disabled
// or its menu has no handler.
bool PickMenuItem(const std::vector<std::string>& path);
// Menus the plug-in created and has not destroyed (the Plugins menu not counted).
int LiveMenuCount();

// ---- windows --------------------------------------------------------------------
struct WindowInfo {
  void* id = nullptr;
  int left = 0, top = 0, right = 0, bottom = 0;
  bool visible = false;
  bool widgetRoot = false;   // backs a root widget; not made by XPLMCreateWindow*
  int structSize = 0;        // of the creation record; 0 for XPLMCreateWindow
  int decoration = 0, layer = 0;
  bool keyboardFocus = false;
};
// Every live window, back to front.
std::vector<WindowInfo> Windows();
bool GetWindow(void* window, WindowInfo* out);

struct DrawnString {
  std::string text;
  int x = 0, y = 0;
  std::array<float, 3> color{};
  int font = 0;
  bool hasWrapWidth = false;
  int wrapWidth = 0;
  // The last XPLMSetGraphicsState arguments the window's draw callback set
  // before this string; false when it set none (state is forgotten per window).
  bool hasGraphicsState = false;
  std::array<int, 7> graphicsState{};
};
// What the window drew in the last draw pass that reached it; empty when it
// was hidden then.
std::vector<DrawnString> DrawnStrings(void* window);
std::vector<std::string> DrawnLines(void* window);   // the texts only
// One draw pass over the visible windows, without moving the clock.
void DrawWindows();

// Mouse-down then mouse-up at a point, offered to the visible windows under it
// from front to back until one consumes it. Returns that window, or null when
// the click fell through to the simulator.
void* ClickAt(int x, int y);
// Down at from, one drag to to, up at to; same routing as ClickAt.
void* DragMouse(int fromX, int fromY, int toX, int toY);
// One key event to the window with keyboard focus (a focused widget gets it
// as xpMsg_KeyPress, up the chain). False when nothing has focus.
bool PressKey(char key, int flags, char virtualKey);

// ---- widgets --------------------------------------------------------------------
struct WidgetInfo {
  void* id = nullptr;
  int widgetClass = -1;      // -1 for a custom widget
  std::string descriptor;
  int left = 0, top = 0, right = 0, bottom = 0;
  bool visible = false;      // its own flag; see exposed for what the user sees
  bool exposed = false;      // it and every parent visible
  bool root = false;
  void* parent = nullptr;
  std::vector<void*> children;
};
bool GetWidget(void* widget, WidgetInfo* out);
// Live widgets in creation order, optionally only those of one class
// (-1 = every class) and/or with exactly this descriptor (null = any).
std::vector<void*> FindWidgets(const char* descriptor, int widgetClass = -1);
void* FindWidget(const char* descriptor, int widgetClass = -1);   // first match or null
int LiveWidgetCount();
std::string WidgetDescriptor(void* widget);
intptr_t WidgetProperty(void* widget, int property, bool* exists = nullptr);
void* FocusedWidget();
bool FocusWidget(void* widget);  // XPSetKeyboardFocus; true when it took focus

// Clicks the middle of the widget through ClickAt, as the user would; true
// when its root window took the click (so something on top can stop it).
bool ClickWidget(void* widget);
// Clicks the middle of a main window's left (or right) close box.
bool ClickCloseBox(void* mainWindow, bool rightBox = false);
// Where the close boxes of a main window are, in screen coordinates.
void CloseBoxRect(void* mainWindow, bool rightBox, int* left, int* top, int* right, int* bottom);

// One xpMsg_KeyPress (up the chain) to the widget, or to the focused widget
// when widget is null, with exactly these flags. Returns whether it was handled.
bool TypeKey(void* widget, char key, int flags, char virtualKey);
// A key stroke: a down event (modifiers | xplm_DownFlag) then an up event
// (modifiers | xplm_UpFlag). Returns whether the down event was handled.
bool KeyStroke(void* widget, char key, int modifiers, char virtualKey);
// KeyStroke for every character of text, without modifiers; the virtual key
// is the character's key code (upper-case letter, digit) or 0.
void TypeText(void* widget, const std::string& text);

}  // namespace xphost

// On macOS a plug-in's network streams are scheduled on the simulator's run
// loop, which outlives the plug-in. The CF stand-in, wherever it is linked,
// finds this by name at run time and reports each stream's client callback
// (null once the stream is closed or gone), so that UnloadPlugin can tell a
// callback left behind in the unloaded binary.
extern "C" __attribute__((visibility("default"))) void XPHostStreamClientChanged(const void* stream,
                                                                                  const void* callback);
