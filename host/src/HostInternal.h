// What the host's source files share with each other; not part of any API.
#pragma once

#include "XPLMDisplay.h"
#include "XPWidgetDefs.h"

#include <cstdint>
#include <string>

namespace xphost::detail {

// Every handle the host gives out (dataref, menu, window, widget) is a number
// from one process-wide sequence, never a pointer: a stale or foreign handle
// then finds nothing instead of freed memory, even across Reset().
uintptr_t NextHandle();
inline void* AsHandle(uintptr_t id) { return reinterpret_cast<void*>(id); }
inline uintptr_t AsId(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

// Per-area reset, called by xphost::Reset() in a fixed order. None of them
// calls back into plug-in code.
void ResetLog();
void ResetDataRefs();
void ResetProcessing();
void ResetMenus();
void ResetDisplay();
void ResetWidgets();
void ResetPlugins();

// Clock and frames.
double Clock();
int CurrentCycle();

// Windows: the widget library backs every root widget with one of these.
struct WindowSetup {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool visible = false;
  XPLMDrawWindow_f draw = nullptr;
  XPLMHandleMouseClick_f click = nullptr;
  XPLMHandleKey_f key = nullptr;
  XPLMHandleCursor_f cursor = nullptr;
  XPLMHandleMouseWheel_f wheel = nullptr;
  XPLMHandleMouseClick_f rightClick = nullptr;
  void* refcon = nullptr;
  int structSize = 0;
  int decoration = 0;
  int layer = 0;
  bool widgetRoot = false;
};
XPLMWindowID CreateWindowFromSetup(const WindowSetup& shape);
void DrawAllWindows();
// The window whose draw callback is running, or 0 outside drawing.
uintptr_t WindowBeingDrawn();

// Code that lives in an unloaded plug-in must never be called again: each area
// drops what points into the module whose load address is moduleBase and
// reports how many such things were still there.
int DropFlightLoopsOfModule(const void* moduleBase);
int DropWindowsOfModule(const void* moduleBase);
int DropWidgetCallbacksOfModule(const void* moduleBase);
int DropMenuHandlersOfModule(const void* moduleBase);
bool IsCodeInModule(const void* code, const void* moduleBase);

// The plug-in ID XPLMGetMyID reports for the code under test.
constexpr int kPluginId = 1;

}  // namespace xphost::detail

namespace xphost::detail {

// Widgets, for the standard classes.
XPWidgetFunc_t StandardClassFunc(XPWidgetClass widgetClass);
// Property writes that send no xpMsg_PropertyChanged, for a class's own state.
void SetPropertyQuietly(XPWidgetID widget, XPWidgetPropertyID property, intptr_t value);
intptr_t Property(XPWidgetID widget, XPWidgetPropertyID property);
// Replaces the text without sending xpMsg_DescriptorChanged.
void SetDescriptorQuietly(XPWidgetID widget, const std::string& text);
std::string Descriptor(XPWidgetID widget);
// Moves the widget and everything inside it (and its window, for a root).
void MoveWidgetTree(XPWidgetID widget, int dx, int dy);
bool WidgetContains(XPWidgetID widget, int x, int y);
// 1 for the left close box, 2 for the right one, 0 elsewhere.
int CloseBoxAt(XPWidgetID mainWindow, int x, int y);
void CloseBoxBounds(XPWidgetID mainWindow, bool rightBox, int* left, int* top, int* right, int* bottom);

}  // namespace xphost::detail
