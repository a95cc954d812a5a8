// Windows: creation from either record size, geometry, visibility, keyboard
// focus, the per-frame draw pass that records what each window draws, and
// mouse clicks routed from the front window down.
#include "HostInternal.h"
#include "XPHostControl.h"
#include "XPLMDisplay.h"
#include "XPLMGraphics.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace xphost {
namespace {

// The record as a plug-in built at the 2.x API level passes it: up to refcon.
constexpr int kShortRecordSize = static_cast<int>(offsetof(XPLMCreateWindow_t, decorateAsFloatingWindow));
static_assert(kShortRecordSize == 72, "the short window record is 72 bytes on LP64");
static_assert(sizeof(XPLMCreateWindow_t) == 88, "the host sees the full window record");

struct Window {
  detail::WindowSetup shape;
  std::vector<DrawnString> drawn;  // from the last draw pass that reached it
};

struct DisplayState {
  std::unordered_map<uintptr_t, Window> windows;
  std::vector<uintptr_t> zOrder;  // back to front
  uintptr_t keyboardFocus = 0;
  uintptr_t beingDrawn = 0;
  bool hasGraphicsState = false;
  std::array<int, 7> graphicsState{};
  int screenWidth = 1920;
  int screenHeight = 1080;
  int mouseX = 0, mouseY = 0;
};

DisplayState& State() {
  static DisplayState state;
  return state;
}

Window* FindWindow(XPLMWindowID id) {
  auto found = State().windows.find(detail::AsId(id));
  return found == State().windows.end() ? nullptr : &found->second;
}

bool Contains(const detail::WindowSetup& shape, int x, int y) {
  return x >= shape.left && x <= shape.right && y >= shape.bottom && y <= shape.top;
}

void DrawWindow(uintptr_t id) {
  Window* window = FindWindow(detail::AsHandle(id));
  if (!window) return;
  window->drawn.clear();
  if (!window->shape.visible || !window->shape.draw) return;
  XPLMDrawWindow_f draw = window->shape.draw;
  void* refcon = window->shape.refcon;
  State().beingDrawn = id;
  State().hasGraphicsState = false;
  draw(detail::AsHandle(id), refcon);
  State().beingDrawn = 0;
}

// Front to back, the visible windows under the point.
std::vector<uintptr_t> WindowsUnder(int x, int y) {
  std::vector<uintptr_t> hits;
  for (auto it = State().zOrder.rbegin(); it != State().zOrder.rend(); ++it) {
    const Window& window = State().windows[*it];
    if (window.shape.visible && Contains(window.shape, x, y)) hits.push_back(*it);
  }
  return hits;
}

int SendMouse(uintptr_t id, int x, int y, XPLMMouseStatus status) {
  Window* window = FindWindow(detail::AsHandle(id));
  if (!window || !window->shape.click) return 0;
  XPLMHandleMouseClick_f click = window->shape.click;
  void* refcon = window->shape.refcon;
  State().mouseX = x;
  State().mouseY = y;
  return click(detail::AsHandle(id), x, y, status, refcon);
}

// Offers a press to each window under (fromX, fromY), front to back; the one
// that takes the down also gets the drag (when moved) and the up.
void* MouseGesture(int fromX, int fromY, int toX, int toY, bool withDrag) {
  for (uintptr_t id : WindowsUnder(fromX, fromY)) {
    if (!SendMouse(id, fromX, fromY, xplm_MouseDown)) continue;
    if (withDrag) SendMouse(id, toX, toY, xplm_MouseDrag);
    SendMouse(id, toX, toY, xplm_MouseUp);
    return detail::AsHandle(id);
  }
  return nullptr;
}

WindowInfo InfoOf(uintptr_t id, const Window& window) {
  const detail::WindowSetup& shape = window.shape;
  return {detail::AsHandle(id), shape.left,      shape.top,        shape.right,
          shape.bottom,          shape.visible,   shape.widgetRoot, shape.structSize,
          shape.decoration,      shape.layer,     State().keyboardFocus == id};
}

}  // namespace

namespace detail {

void ResetDisplay() { State() = DisplayState{}; }

uintptr_t WindowBeingDrawn() { return State().beingDrawn; }

XPLMWindowID CreateWindowFromSetup(const WindowSetup& shape) {
  uintptr_t id = NextHandle();
  State().windows[id].shape = shape;
  State().zOrder.push_back(id);
  return AsHandle(id);
}

void DrawAllWindows() {
  std::vector<uintptr_t> order = State().zOrder;
  for (uintptr_t id : order) DrawWindow(id);
}

int DropWindowsOfModule(const void* moduleBase) {
  std::vector<uintptr_t> doomed;
  for (const auto& entry : State().windows) {
    const WindowSetup& shape = entry.second.shape;
    const void* callbacks[] = {reinterpret_cast<const void*>(shape.draw),
                               reinterpret_cast<const void*>(shape.click),
                               reinterpret_cast<const void*>(shape.key),
                               reinterpret_cast<const void*>(shape.cursor),
                               reinterpret_cast<const void*>(shape.wheel),
                               reinterpret_cast<const void*>(shape.rightClick)};
    if (std::any_of(std::begin(callbacks), std::end(callbacks),
                    [&](const void* code) { return IsCodeInModule(code, moduleBase); }))
      doomed.push_back(entry.first);
  }
  for (uintptr_t id : doomed) XPLMDestroyWindow(AsHandle(id));
  return static_cast<int>(doomed.size());
}

}  // namespace detail

void SetScreenSize(int width, int height) {
  State().screenWidth = width;
  State().screenHeight = height;
}

std::vector<WindowInfo> Windows() {
  std::vector<WindowInfo> windows;
  for (uintptr_t id : State().zOrder) windows.push_back(InfoOf(id, State().windows[id]));
  return windows;
}

bool GetWindow(void* window, WindowInfo* out) {
  Window* found = FindWindow(window);
  if (!found) return false;
  if (out) *out = InfoOf(detail::AsId(window), *found);
  return true;
}

std::vector<DrawnString> DrawnStrings(void* window) {
  Window* found = FindWindow(window);
  return found ? found->drawn : std::vector<DrawnString>{};
}

std::vector<std::string> DrawnLines(void* window) {
  std::vector<std::string> lines;
  for (const auto& drawn : DrawnStrings(window)) lines.push_back(drawn.text);
  return lines;
}

void DrawWindows() { detail::DrawAllWindows(); }

void* ClickAt(int x, int y) { return MouseGesture(x, y, x, y, false); }

void* DragMouse(int fromX, int fromY, int toX, int toY) {
  return MouseGesture(fromX, fromY, toX, toY, true);
}

bool PressKey(char key, int flags, char virtualKey) {
  Window* window = FindWindow(detail::AsHandle(State().keyboardFocus));
  if (!window || !window->shape.key) return false;
  XPLMHandleKey_f handler = window->shape.key;
  handler(detail::AsHandle(State().keyboardFocus), key, flags, virtualKey, window->shape.refcon, 0);
  return true;
}

}  // namespace xphost

using xphost::FindWindow;
using xphost::State;

extern "C" {

// Accepts the 72-byte record of the 2.x API and the 88-byte one of 3.x; the
// caller's structSize says how much of it exists.
XPLM_API XPLMWindowID XPLMCreateWindowEx(XPLMCreateWindow_t* inParams) {
  if (!inParams || inParams->structSize < xphost::kShortRecordSize) return nullptr;
  XPLMCreateWindow_t params{};
  std::memcpy(&params, inParams,
              std::min(sizeof(params), static_cast<size_t>(inParams->structSize)));
  xphost::detail::WindowSetup shape;
  shape.left = params.left;
  shape.top = params.top;
  shape.right = params.right;
  shape.bottom = params.bottom;
  shape.visible = params.visible != 0;
  shape.draw = params.drawWindowFunc;
  shape.click = params.handleMouseClickFunc;
  shape.key = params.handleKeyFunc;
  shape.cursor = params.handleCursorFunc;
  shape.wheel = params.handleMouseWheelFunc;
  shape.refcon = params.refcon;
  shape.structSize = inParams->structSize;
  if (inParams->structSize >= static_cast<int>(sizeof(XPLMCreateWindow_t))) {
    shape.decoration = params.decorateAsFloatingWindow;
    shape.layer = params.layer;
    shape.rightClick = params.handleRightClickFunc;
  }
  return xphost::detail::CreateWindowFromSetup(shape);
}

XPLM_API XPLMWindowID XPLMCreateWindow(int inLeft, int inTop, int inRight, int inBottom,
                                       int inIsVisible, XPLMDrawWindow_f inDrawCallback,
                                       XPLMHandleKey_f inKeyCallback,
                                       XPLMHandleMouseClick_f inMouseCallback, void* inRefcon) {
  xphost::detail::WindowSetup shape;
  shape.left = inLeft;
  shape.top = inTop;
  shape.right = inRight;
  shape.bottom = inBottom;
  shape.visible = inIsVisible != 0;
  shape.draw = inDrawCallback;
  shape.key = inKeyCallback;
  shape.click = inMouseCallback;
  shape.refcon = inRefcon;
  return xphost::detail::CreateWindowFromSetup(shape);
}

XPLM_API void XPLMDestroyWindow(XPLMWindowID inWindowID) {
  uintptr_t id = xphost::detail::AsId(inWindowID);
  if (!FindWindow(inWindowID)) return;
  if (State().keyboardFocus == id) State().keyboardFocus = 0;
  auto& order = State().zOrder;
  order.erase(std::remove(order.begin(), order.end(), id), order.end());
  State().windows.erase(id);
}

XPLM_API void XPLMGetScreenSize(int* outWidth, int* outHeight) {
  if (outWidth) *outWidth = State().screenWidth;
  if (outHeight) *outHeight = State().screenHeight;
}

XPLM_API void XPLMGetScreenBoundsGlobal(int* outLeft, int* outTop, int* outRight, int* outBottom) {
  if (outLeft) *outLeft = 0;
  if (outTop) *outTop = State().screenHeight;
  if (outRight) *outRight = State().screenWidth;
  if (outBottom) *outBottom = 0;
}

XPLM_API void XPLMGetMouseLocation(int* outX, int* outY) {
  if (outX) *outX = State().mouseX;
  if (outY) *outY = State().mouseY;
}

XPLM_API void XPLMGetWindowGeometry(XPLMWindowID inWindowID, int* outLeft, int* outTop,
                                    int* outRight, int* outBottom) {
  xphost::Window* window = FindWindow(inWindowID);
  if (!window) return;
  if (outLeft) *outLeft = window->shape.left;
  if (outTop) *outTop = window->shape.top;
  if (outRight) *outRight = window->shape.right;
  if (outBottom) *outBottom = window->shape.bottom;
}

XPLM_API void XPLMSetWindowGeometry(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight,
                                    int inBottom) {
  xphost::Window* window = FindWindow(inWindowID);
  if (!window) return;
  window->shape.left = inLeft;
  window->shape.top = inTop;
  window->shape.right = inRight;
  window->shape.bottom = inBottom;
}

XPLM_API int XPLMGetWindowIsVisible(XPLMWindowID inWindowID) {
  xphost::Window* window = FindWindow(inWindowID);
  return window && window->shape.visible;
}

XPLM_API void XPLMSetWindowIsVisible(XPLMWindowID inWindowID, int inIsVisible) {
  if (xphost::Window* window = FindWindow(inWindowID)) window->shape.visible = inIsVisible != 0;
}

XPLM_API void* XPLMGetWindowRefCon(XPLMWindowID inWindowID) {
  xphost::Window* window = FindWindow(inWindowID);
  return window ? window->shape.refcon : nullptr;
}

XPLM_API void XPLMSetWindowRefCon(XPLMWindowID inWindowID, void* inRefcon) {
  if (xphost::Window* window = FindWindow(inWindowID)) window->shape.refcon = inRefcon;
}

XPLM_API void XPLMSetWindowTitle(XPLMWindowID, const char*) {}

// The window losing focus hears of it through its key callback.
XPLM_API void XPLMTakeKeyboardFocus(XPLMWindowID inWindow) {
  uintptr_t id = FindWindow(inWindow) ? xphost::detail::AsId(inWindow) : 0;
  uintptr_t previous = State().keyboardFocus;
  if (previous == id) return;
  State().keyboardFocus = id;
  xphost::Window* old = FindWindow(xphost::detail::AsHandle(previous));
  if (old && old->shape.key)
    old->shape.key(xphost::detail::AsHandle(previous), 0, 0, 0, old->shape.refcon, 1);
}

XPLM_API int XPLMHasKeyboardFocus(XPLMWindowID inWindow) {
  return inWindow && State().keyboardFocus == xphost::detail::AsId(inWindow);
}

XPLM_API void XPLMBringWindowToFront(XPLMWindowID inWindow) {
  uintptr_t id = xphost::detail::AsId(inWindow);
  if (!FindWindow(inWindow)) return;
  auto& order = State().zOrder;
  order.erase(std::remove(order.begin(), order.end(), id), order.end());
  order.push_back(id);
}

XPLM_API int XPLMIsWindowInFront(XPLMWindowID inWindow) {
  return !State().zOrder.empty() && State().zOrder.back() == xphost::detail::AsId(inWindow);
}

XPLM_API void XPLMSetGraphicsState(int inEnableFog, int inNumberTexUnits, int inEnableLighting,
                                   int inEnableAlphaTesting, int inEnableAlphaBlending,
                                   int inEnableDepthTesting, int inEnableDepthWriting) {
  State().hasGraphicsState = true;
  State().graphicsState = {inEnableFog,          inNumberTexUnits,      inEnableLighting,
                           inEnableAlphaTesting, inEnableAlphaBlending, inEnableDepthTesting,
                           inEnableDepthWriting};
}

XPLM_API void XPLMBindTexture2d(int, int) {}

XPLM_API void XPLMGenerateTextureNumbers(int* outTextureIDs, int inCount) {
  static int nextTexture = 1;
  for (int i = 0; outTextureIDs && i < inCount; ++i) outTextureIDs[i] = nextTexture++;
}

XPLM_API void XPLMDrawTranslucentDarkBox(int, int, int, int) {}

// Recorded against the window being drawn; drawing outside a draw callback
// shows nothing, as in the simulator.
XPLM_API void XPLMDrawString(float* inColorRGB, int inXOffset, int inYOffset, char* inChar,
                             int* inWordWrapWidth, XPLMFontID inFontID) {
  xphost::Window* window = FindWindow(xphost::detail::AsHandle(State().beingDrawn));
  if (!window || !inChar) return;
  xphost::DrawnString drawn;
  drawn.text = inChar;
  drawn.x = inXOffset;
  drawn.y = inYOffset;
  if (inColorRGB) drawn.color = {inColorRGB[0], inColorRGB[1], inColorRGB[2]};
  drawn.font = inFontID;
  drawn.hasWrapWidth = inWordWrapWidth != nullptr;
  drawn.wrapWidth = inWordWrapWidth ? *inWordWrapWidth : 0;
  drawn.hasGraphicsState = State().hasGraphicsState;
  drawn.graphicsState = State().graphicsState;
  window->drawn.push_back(drawn);
}

XPLM_API void XPLMDrawNumber(float* inColorRGB, int inXOffset, int inYOffset, double inValue,
                             int inDigits, int inDecimals, int inShowSign, XPLMFontID inFontID) {
  char text[64];
  std::snprintf(text, sizeof text, inShowSign ? "%+*.*f" : "%*.*f", inDigits, inDecimals, inValue);
  XPLMDrawString(inColorRGB, inXOffset, inYOffset, text, nullptr, inFontID);
}

// A fixed-cell font model: every character 7 x 12 pixels (digits the same).
XPLM_API void XPLMGetFontDimensions(XPLMFontID, int* outCharWidth, int* outCharHeight,
                                    int* outDigitsOnly) {
  if (outCharWidth) *outCharWidth = 7;
  if (outCharHeight) *outCharHeight = 12;
  if (outDigitsOnly) *outDigitsOnly = 0;
}

XPLM_API float XPLMMeasureString(XPLMFontID, const char* inChar, int inNumChars) {
  if (!inChar || inNumChars <= 0) return 0;
  return 7.0f * static_cast<float>(strnlen(inChar, static_cast<size_t>(inNumChars)));
}

}  // extern "C"
