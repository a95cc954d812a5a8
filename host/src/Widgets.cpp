// The widget library: widget tree, message dispatch, geometry, descriptors,
// properties and keyboard focus, with root widgets backed by host windows.
//
// Callbacks may destroy any widget, the one being dispatched to included. So
// no Widget reference is ever held across a callback: widgets are looked up
// by ID in the live table before and after every call, and a destroyed ID
// simply finds nothing.
#include "HostInternal.h"
#include "XPHostControl.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

namespace xphost {
namespace {

struct Widget {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool visible = false;
  bool root = false;
  bool dying = false;
  int widgetClass = -1;  // -1: custom widget
  uint64_t creationOrder = 0;
  uintptr_t parent = 0;
  std::vector<uintptr_t> children;  // back to front
  std::string descriptor;
  std::vector<XPWidgetFunc_t> callbacks;  // newest first; the class function last
  std::map<int, intptr_t> properties;
  XPLMWindowID window = nullptr;  // roots only
};

struct WidgetState {
  std::unordered_map<uintptr_t, Widget> widgets;
  uint64_t nextCreationOrder = 1;
  uintptr_t focus = 0;
  uintptr_t mouseCapture = 0;  // the widget that took the last mouse-down
};

WidgetState& State() {
  static WidgetState state;
  return state;
}

Widget* Find(uintptr_t id) {
  auto found = State().widgets.find(id);
  return found == State().widgets.end() ? nullptr : &found->second;
}

Widget* Find(XPWidgetID id) { return Find(detail::AsId(id)); }

enum class CallbackRun { UntilHandled, All, FirstOnly };

// Runs the widget's callbacks, newest first, on a copy of the list; stops as
// soon as the widget is gone.
int RunCallbacks(uintptr_t id, XPWidgetMessage message, intptr_t param1, intptr_t param2,
                 CallbackRun run) {
  Widget* widget = Find(id);
  if (!widget) return 0;
  std::vector<XPWidgetFunc_t> callbacks = widget->callbacks;
  int handled = 0;
  for (XPWidgetFunc_t callback : callbacks) {
    if (!Find(id)) break;
    if (callback(message, detail::AsHandle(id), param1, param2)) {
      handled = 1;
      if (run == CallbackRun::UntilHandled) break;
    }
    if (run == CallbackRun::FirstOnly) break;
  }
  return handled;
}

int Send(uintptr_t id, XPWidgetMessage message, XPDispatchMode mode, intptr_t param1,
         intptr_t param2) {
  switch (mode) {
    case xpMode_Direct:
      return RunCallbacks(id, message, param1, param2, CallbackRun::UntilHandled);
    case xpMode_DirectAllCallbacks:
      return RunCallbacks(id, message, param1, param2, CallbackRun::All);
    case xpMode_Once:
      return RunCallbacks(id, message, param1, param2, CallbackRun::FirstOnly);
    case xpMode_UpChain:
      for (uintptr_t current = id; current;) {
        if (RunCallbacks(current, message, param1, param2, CallbackRun::UntilHandled)) return 1;
        Widget* widget = Find(current);
        if (!widget) return 0;
        current = widget->parent;
      }
      return 0;
    case xpMode_Recursive: {
      int handled = RunCallbacks(id, message, param1, param2, CallbackRun::UntilHandled);
      Widget* widget = Find(id);
      if (!widget) return handled;
      std::vector<uintptr_t> children = widget->children;
      for (uintptr_t child : children) handled |= Send(child, message, mode, param1, param2);
      return handled;
    }
    default:
      return 0;
  }
}

bool Contains(const Widget& widget, int x, int y) {
  return x >= widget.left && x < widget.right && y > widget.bottom && y <= widget.top;
}

bool IsInside(uintptr_t id, uintptr_t ancestor) {
  for (uintptr_t current = id; current;) {
    if (current == ancestor) return true;
    Widget* widget = Find(current);
    if (!widget) return false;
    current = widget->parent;
  }
  return false;
}

// The root widget at the top of the widget's tree; 0 for a floating tree.
uintptr_t RootOf(uintptr_t id) {
  Widget* widget = Find(id);
  while (widget && widget->parent) {
    id = widget->parent;
    widget = Find(id);
  }
  return widget && widget->root ? id : 0;
}

// Visible to the user: it and every parent visible, in a tree with a root.
bool Exposed(uintptr_t id) {
  Widget* widget = Find(id);
  while (widget) {
    if (!widget->visible) return false;
    if (!widget->parent) return widget->root;
    widget = Find(widget->parent);
  }
  return false;
}

void Detach(uintptr_t id) {
  Widget* widget = Find(id);
  if (!widget || !widget->parent) return;
  uintptr_t parent = widget->parent;
  widget->parent = 0;
  if (Widget* parentWidget = Find(parent)) {
    auto& siblings = parentWidget->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    Send(parent, xpMsg_LoseChild, xpMode_Direct, static_cast<intptr_t>(id), 0);
  }
}

void LoseFocus(intptr_t becauseAnotherTakesIt) {
  uintptr_t old = State().focus;
  State().focus = 0;
  if (old) Send(old, xpMsg_KeyLoseFocus, xpMode_Direct, becauseAnotherTakesIt, 0);
}

void PaintTree(uintptr_t id) {
  Widget* widget = Find(id);
  if (!widget || !widget->visible) return;
  if (!Send(id, xpMsg_Paint, xpMode_Direct, 0, 0)) Send(id, xpMsg_Draw, xpMode_Direct, 0, 0);
  widget = Find(id);
  if (!widget) return;
  std::vector<uintptr_t> children = widget->children;
  for (uintptr_t child : children) PaintTree(child);
}

uintptr_t WidgetAt(uintptr_t container, int x, int y, bool recursive, bool visibleOnly) {
  Widget* widget = Find(container);
  if (!widget || !Contains(*widget, x, y) || (visibleOnly && !widget->visible)) return 0;
  for (auto child = widget->children.rbegin(); child != widget->children.rend(); ++child) {
    Widget* childWidget = Find(*child);
    if (!childWidget || !Contains(*childWidget, x, y) || (visibleOnly && !childWidget->visible))
      continue;
    return recursive ? WidgetAt(*child, x, y, true, visibleOnly) : *child;
  }
  return container;
}

// ---- the XPLM window behind each root widget --------------------------------

uintptr_t RootOfWindow(void* refcon) { return detail::AsId(refcon); }

void RootWindowDraw(XPLMWindowID, void* refcon) { PaintTree(RootOfWindow(refcon)); }

// Mouse-down goes to the deepest visible widget under the pointer, then to
// its parents until one takes it; drag and up go to the one that took it.
int RootWindowClick(XPLMWindowID, int x, int y, XPLMMouseStatus status, void* refcon) {
  XPMouseState_t mouse{x, y, 0, 0};
  auto mouseParam = reinterpret_cast<intptr_t>(&mouse);
  if (status != xplm_MouseDown) {
    uintptr_t capture = State().mouseCapture;
    if (status == xplm_MouseUp) State().mouseCapture = 0;
    if (capture)
      Send(capture, status == xplm_MouseUp ? xpMsg_MouseUp : xpMsg_MouseDrag, xpMode_Direct,
           mouseParam, 0);
    return 1;
  }
  State().mouseCapture = 0;
  for (uintptr_t current = WidgetAt(RootOfWindow(refcon), x, y, true, true); current;) {
    if (Send(current, xpMsg_MouseDown, xpMode_Direct, mouseParam, 0)) {
      if (Find(current)) State().mouseCapture = current;
      return 1;
    }
    Widget* widget = Find(current);
    if (!widget) return 1;
    current = widget->parent;
  }
  return 0;
}

void RootWindowKey(XPLMWindowID, char key, XPLMKeyFlags flags, char virtualKey, void* refcon,
                   int losingFocus) {
  uintptr_t focus = State().focus;
  if (!focus || RootOf(focus) != RootOfWindow(refcon)) return;
  if (losingFocus) {
    LoseFocus(1);
    return;
  }
  XPKeyState_t keyState{key, flags, virtualKey};
  Send(focus, xpMsg_KeyPress, xpMode_UpChain, reinterpret_cast<intptr_t>(&keyState), 0);
}

XPLMCursorStatus RootWindowCursor(XPLMWindowID, int, int, void*) { return xplm_CursorDefault; }

int RootWindowWheel(XPLMWindowID, int x, int y, int wheel, int clicks, void* refcon) {
  XPMouseState_t mouse{x, y, wheel, clicks};
  uintptr_t target = WidgetAt(RootOfWindow(refcon), x, y, true, true);
  return target ? Send(target, xpMsg_MouseWheel, xpMode_UpChain, reinterpret_cast<intptr_t>(&mouse), 0)
                : 0;
}

XPLMWindowID CreateRootWindow(uintptr_t id, const Widget& widget) {
  detail::WindowSetup shape;
  shape.left = widget.left;
  shape.top = widget.top;
  shape.right = widget.right;
  shape.bottom = widget.bottom;
  shape.visible = widget.visible;
  shape.draw = RootWindowDraw;
  shape.click = RootWindowClick;
  shape.key = RootWindowKey;
  shape.cursor = RootWindowCursor;
  shape.wheel = RootWindowWheel;
  shape.refcon = detail::AsHandle(id);
  shape.widgetRoot = true;
  return detail::CreateWindowFromSetup(shape);
}

XPWidgetID CreateWidget(int left, int top, int right, int bottom, int visible, const char* descriptor,
                        int isRoot, XPWidgetID container, XPWidgetFunc_t classFunction,
                        int widgetClass) {
  if (!classFunction || (isRoot && container) || (container && !Find(container))) return nullptr;
  uintptr_t id = detail::NextHandle();
  Widget& widget = State().widgets[id];
  widget.left = left;
  widget.top = top;
  widget.right = right;
  widget.bottom = bottom;
  widget.visible = visible != 0;
  widget.root = isRoot != 0;
  widget.widgetClass = widgetClass;
  widget.creationOrder = State().nextCreationOrder++;
  widget.descriptor = descriptor ? descriptor : "";
  widget.callbacks = {classFunction};
  if (widget.root) widget.window = CreateRootWindow(id, widget);
  Send(id, xpMsg_Create, xpMode_Direct, 0, 0);
  if (!Find(id)) return nullptr;
  if (container) XPPlaceWidgetWithin(detail::AsHandle(id), container);
  return detail::AsHandle(id);
}

void DestroyWidget(uintptr_t id, bool destroyChildren, bool byParent) {
  Widget* widget = Find(id);
  if (!widget || widget->dying) return;
  widget->dying = true;
  if (State().focus && IsInside(State().focus, id)) LoseFocus(0);
  Detach(id);
  widget = Find(id);
  if (!widget) return;
  std::vector<uintptr_t> children = std::move(widget->children);
  widget->children.clear();
  for (uintptr_t child : children) {
    if (destroyChildren) {
      DestroyWidget(child, true, true);
    } else if (Widget* childWidget = Find(child)) {
      childWidget->parent = 0;
    }
  }
  RunCallbacks(id, xpMsg_Destroy, byParent ? 1 : 0, 0, CallbackRun::All);
  widget = Find(id);
  if (!widget) return;
  for (uintptr_t child : widget->children)
    if (Widget* childWidget = Find(child)) childWidget->parent = 0;
  if (widget->window) XPLMDestroyWindow(widget->window);
  if (State().mouseCapture == id) State().mouseCapture = 0;
  State().widgets.erase(id);
}

char VirtualKeyFor(char key) {
  if (key >= 'a' && key <= 'z') return static_cast<char>(key - 'a' + 'A');
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9') || key == ' ') return key;
  return 0;
}

}  // namespace

namespace detail {

void ResetWidgets() { State() = WidgetState{}; }

int DropWidgetCallbacksOfModule(const void* moduleBase) {
  int dropped = 0;
  for (auto& entry : State().widgets) {
    auto& callbacks = entry.second.callbacks;
    auto first = std::remove_if(callbacks.begin(), callbacks.end(), [&](XPWidgetFunc_t callback) {
      return IsCodeInModule(reinterpret_cast<const void*>(callback), moduleBase);
    });
    dropped += static_cast<int>(callbacks.end() - first);
    callbacks.erase(first, callbacks.end());
  }
  return dropped;
}

void SetPropertyQuietly(XPWidgetID widget, XPWidgetPropertyID property, intptr_t value) {
  if (Widget* found = Find(widget)) found->properties[property] = value;
}

intptr_t Property(XPWidgetID widget, XPWidgetPropertyID property) {
  return XPGetWidgetProperty(widget, property, nullptr);
}

void SetDescriptorQuietly(XPWidgetID widget, const std::string& text) {
  if (Widget* found = Find(widget)) found->descriptor = text;
}

std::string Descriptor(XPWidgetID widget) {
  Widget* found = Find(widget);
  return found ? found->descriptor : std::string();
}

void MoveWidgetTree(XPWidgetID widget, int dx, int dy) {
  Widget* found = Find(widget);
  if (!found) return;
  found->left += dx;
  found->right += dx;
  found->top += dy;
  found->bottom += dy;
  if (found->window)
    XPLMSetWindowGeometry(found->window, found->left, found->top, found->right, found->bottom);
  std::vector<uintptr_t> children = found->children;
  for (uintptr_t child : children) MoveWidgetTree(AsHandle(child), dx, dy);
}

bool WidgetContains(XPWidgetID widget, int x, int y) {
  Widget* found = Find(widget);
  return found && Contains(*found, x, y);
}

// Close boxes: 16-pixel squares 4 pixels in from the two top corners.
void CloseBoxBounds(XPWidgetID mainWindow, bool rightBox, int* left, int* top, int* right,
                    int* bottom) {
  Widget* found = Find(mainWindow);
  if (!found) return;
  int boxLeft = rightBox ? found->right - 20 : found->left + 4;
  if (left) *left = boxLeft;
  if (right) *right = boxLeft + 16;
  if (top) *top = found->top - 4;
  if (bottom) *bottom = found->top - 20;
}

int CloseBoxAt(XPWidgetID mainWindow, int x, int y) {
  for (int box = 1; box <= 2; ++box) {
    int left = 0, top = 0, right = 0, bottom = 0;
    CloseBoxBounds(mainWindow, box == 2, &left, &top, &right, &bottom);
    if (Find(mainWindow) && x >= left && x < right && y > bottom && y <= top) return box;
  }
  return 0;
}

}  // namespace detail

// ---- control API --------------------------------------------------------------

bool GetWidget(void* widget, WidgetInfo* out) {
  Widget* found = Find(widget);
  if (!found) return false;
  if (!out) return true;
  out->id = widget;
  out->widgetClass = found->widgetClass;
  out->descriptor = found->descriptor;
  out->left = found->left;
  out->top = found->top;
  out->right = found->right;
  out->bottom = found->bottom;
  out->visible = found->visible;
  out->exposed = Exposed(detail::AsId(widget));
  out->root = found->root;
  out->parent = detail::AsHandle(found->parent);
  out->children.clear();
  for (uintptr_t child : found->children) out->children.push_back(detail::AsHandle(child));
  return true;
}

std::vector<void*> FindWidgets(const char* descriptor, int widgetClass) {
  std::vector<std::pair<uint64_t, uintptr_t>> matches;
  for (const auto& entry : State().widgets) {
    const Widget& widget = entry.second;
    if (widget.dying) continue;
    if (widgetClass != -1 && widget.widgetClass != widgetClass) continue;
    if (descriptor && widget.descriptor != descriptor) continue;
    matches.emplace_back(widget.creationOrder, entry.first);
  }
  std::sort(matches.begin(), matches.end());
  std::vector<void*> widgets;
  for (const auto& match : matches) widgets.push_back(detail::AsHandle(match.second));
  return widgets;
}

void* FindWidget(const char* descriptor, int widgetClass) {
  std::vector<void*> widgets = FindWidgets(descriptor, widgetClass);
  return widgets.empty() ? nullptr : widgets.front();
}

int LiveWidgetCount() { return static_cast<int>(State().widgets.size()); }

std::string WidgetDescriptor(void* widget) { return detail::Descriptor(widget); }

intptr_t WidgetProperty(void* widget, int property, bool* exists) {
  int found = 0;
  intptr_t value = XPGetWidgetProperty(widget, property, &found);
  if (exists) *exists = found != 0;
  return value;
}

void* FocusedWidget() { return detail::AsHandle(State().focus); }

bool FocusWidget(void* widget) { return widget && XPSetKeyboardFocus(widget) == widget; }

bool ClickWidget(void* widget) {
  Widget* found = Find(widget);
  uintptr_t root = RootOf(detail::AsId(widget));
  if (!found || !root) return false;
  XPLMWindowID rootWindow = Find(root)->window;
  void* taker = ClickAt((found->left + found->right) / 2, (found->top + found->bottom) / 2);
  return taker && taker == rootWindow;
}

void CloseBoxRect(void* mainWindow, bool rightBox, int* left, int* top, int* right, int* bottom) {
  detail::CloseBoxBounds(mainWindow, rightBox, left, top, right, bottom);
}

bool ClickCloseBox(void* mainWindow, bool rightBox) {
  Widget* found = Find(mainWindow);
  if (!found || !found->root) return false;
  XPLMWindowID rootWindow = found->window;
  int left = 0, top = 0, right = 0, bottom = 0;
  detail::CloseBoxBounds(mainWindow, rightBox, &left, &top, &right, &bottom);
  void* taker = ClickAt((left + right) / 2, (top + bottom) / 2);
  return taker && taker == rootWindow;
}

bool TypeKey(void* widget, char key, int flags, char virtualKey) {
  uintptr_t target = widget ? detail::AsId(widget) : State().focus;
  if (!Find(target)) return false;
  XPKeyState_t keyState{key, flags, virtualKey};
  return Send(target, xpMsg_KeyPress, xpMode_UpChain, reinterpret_cast<intptr_t>(&keyState), 0) != 0;
}

bool KeyStroke(void* widget, char key, int modifiers, char virtualKey) {
  // Without a named widget both halves go to whatever has focus at the time.
  bool handled = TypeKey(widget, key, modifiers | xplm_DownFlag, virtualKey);
  if (!widget || Find(widget)) TypeKey(widget, key, modifiers | xplm_UpFlag, virtualKey);
  return handled;
}

void TypeText(void* widget, const std::string& text) {
  for (char key : text) {
    if (widget && !Find(widget)) return;
    KeyStroke(widget, key, 0, VirtualKeyFor(key));
  }
}

}  // namespace xphost

using xphost::Find;
using xphost::State;
using xphost::Widget;
using xphost::detail::AsHandle;
using xphost::detail::AsId;

extern "C" {

WIDGET_API XPWidgetID XPCreateWidget(int inLeft, int inTop, int inRight, int inBottom, int inVisible,
                                     const char* inDescriptor, int inIsRoot, XPWidgetID inContainer,
                                     XPWidgetClass inClass) {
  return xphost::CreateWidget(inLeft, inTop, inRight, inBottom, inVisible, inDescriptor, inIsRoot,
                              inContainer, xphost::detail::StandardClassFunc(inClass), inClass);
}

WIDGET_API XPWidgetID XPCreateCustomWidget(int inLeft, int inTop, int inRight, int inBottom,
                                           int inVisible, const char* inDescriptor, int inIsRoot,
                                           XPWidgetID inContainer, XPWidgetFunc_t inCallback) {
  return xphost::CreateWidget(inLeft, inTop, inRight, inBottom, inVisible, inDescriptor, inIsRoot,
                              inContainer, inCallback, -1);
}

WIDGET_API void XPDestroyWidget(XPWidgetID inWidget, int inDestroyChildren) {
  xphost::DestroyWidget(AsId(inWidget), inDestroyChildren != 0, false);
}

WIDGET_API int XPSendMessageToWidget(XPWidgetID inWidget, XPWidgetMessage inMessage,
                                     XPDispatchMode inMode, intptr_t inParam1, intptr_t inParam2) {
  return xphost::Send(AsId(inWidget), inMessage, inMode, inParam1, inParam2);
}

// A container of 0 leaves the widget floating; a widget cannot go inside itself.
WIDGET_API void XPPlaceWidgetWithin(XPWidgetID inSubWidget, XPWidgetID inContainer) {
  uintptr_t sub = AsId(inSubWidget);
  uintptr_t container = AsId(inContainer);
  Widget* widget = Find(sub);
  if (!widget || widget->root || (container && (!Find(container) || xphost::IsInside(container, sub))))
    return;
  xphost::Detach(sub);
  if (!container || !Find(sub)) return;
  Find(sub)->parent = container;
  Find(container)->children.push_back(sub);
  xphost::Send(sub, xpMsg_AcceptParent, xpMode_Direct, static_cast<intptr_t>(container), 0);
  xphost::Send(container, xpMsg_AcceptChild, xpMode_Direct, static_cast<intptr_t>(sub), 0);
}

WIDGET_API int XPCountChildWidgets(XPWidgetID inWidget) {
  Widget* widget = Find(inWidget);
  return widget ? static_cast<int>(widget->children.size()) : 0;
}

WIDGET_API XPWidgetID XPGetNthChildWidget(XPWidgetID inWidget, int inIndex) {
  Widget* widget = Find(inWidget);
  if (!widget || inIndex < 0 || static_cast<size_t>(inIndex) >= widget->children.size()) return nullptr;
  return AsHandle(widget->children[static_cast<size_t>(inIndex)]);
}

WIDGET_API XPWidgetID XPGetParentWidget(XPWidgetID inWidget) {
  Widget* widget = Find(inWidget);
  return widget ? AsHandle(widget->parent) : nullptr;
}

WIDGET_API void XPShowWidget(XPWidgetID inWidget) {
  Widget* widget = Find(inWidget);
  if (!widget || widget->visible) return;
  widget->visible = true;
  if (widget->window) XPLMSetWindowIsVisible(widget->window, 1);
  xphost::Send(AsId(inWidget), xpMsg_Shown, xpMode_UpChain, reinterpret_cast<intptr_t>(inWidget), 0);
}

WIDGET_API void XPHideWidget(XPWidgetID inWidget) {
  Widget* widget = Find(inWidget);
  if (!widget || !widget->visible) return;
  widget->visible = false;
  if (widget->window) XPLMSetWindowIsVisible(widget->window, 0);
  xphost::Send(AsId(inWidget), xpMsg_Hidden, xpMode_UpChain, reinterpret_cast<intptr_t>(inWidget), 0);
}

WIDGET_API int XPIsWidgetVisible(XPWidgetID inWidget) {
  Widget* widget = Find(inWidget);
  return widget && widget->visible;
}

WIDGET_API XPWidgetID XPFindRootWidget(XPWidgetID inWidget) {
  return AsHandle(xphost::RootOf(AsId(inWidget)));
}

WIDGET_API void XPBringRootWidgetToFront(XPWidgetID inWidget) {
  if (Widget* root = Find(xphost::RootOf(AsId(inWidget)))) XPLMBringWindowToFront(root->window);
}

WIDGET_API int XPIsWidgetInFront(XPWidgetID inWidget) {
  Widget* root = Find(xphost::RootOf(AsId(inWidget)));
  return root && XPLMIsWindowInFront(root->window);
}

WIDGET_API void XPGetWidgetGeometry(XPWidgetID inWidget, int* outLeft, int* outTop, int* outRight,
                                    int* outBottom) {
  Widget* widget = Find(inWidget);
  if (!widget) return;
  if (outLeft) *outLeft = widget->left;
  if (outTop) *outTop = widget->top;
  if (outRight) *outRight = widget->right;
  if (outBottom) *outBottom = widget->bottom;
}

// Moves only this widget, as the SDK does; children keep their places.
WIDGET_API void XPSetWidgetGeometry(XPWidgetID inWidget, int inLeft, int inTop, int inRight,
                                    int inBottom) {
  Widget* widget = Find(inWidget);
  if (!widget) return;
  XPWidgetGeometryChange_t change{inLeft - widget->left, inTop - widget->top,
                                  (inRight - inLeft) - (widget->right - widget->left),
                                  (inTop - inBottom) - (widget->top - widget->bottom)};
  widget->left = inLeft;
  widget->top = inTop;
  widget->right = inRight;
  widget->bottom = inBottom;
  if (widget->window) XPLMSetWindowGeometry(widget->window, inLeft, inTop, inRight, inBottom);
  xphost::Send(AsId(inWidget), xpMsg_Reshape, xpMode_UpChain, reinterpret_cast<intptr_t>(inWidget),
               reinterpret_cast<intptr_t>(&change));
}

WIDGET_API XPWidgetID XPGetWidgetForLocation(XPWidgetID inContainer, int inXOffset, int inYOffset,
                                             int inRecursive, int inVisibleOnly) {
  return AsHandle(xphost::WidgetAt(AsId(inContainer), inXOffset, inYOffset, inRecursive != 0,
                                   inVisibleOnly != 0));
}

// The part of the widget its parents leave visible.
WIDGET_API void XPGetWidgetExposedGeometry(XPWidgetID inWidgetID, int* outLeft, int* outTop,
                                           int* outRight, int* outBottom) {
  Widget* widget = Find(inWidgetID);
  if (!widget) return;
  int left = widget->left, top = widget->top, right = widget->right, bottom = widget->bottom;
  for (Widget* parent = Find(widget->parent); parent; parent = Find(parent->parent)) {
    left = std::max(left, parent->left);
    top = std::min(top, parent->top);
    right = std::min(right, parent->right);
    bottom = std::max(bottom, parent->bottom);
  }
  if (outLeft) *outLeft = left;
  if (outTop) *outTop = top;
  if (outRight) *outRight = right;
  if (outBottom) *outBottom = bottom;
}

WIDGET_API void XPSetWidgetDescriptor(XPWidgetID inWidget, const char* inDescriptor) {
  Widget* widget = Find(inWidget);
  if (!widget) return;
  widget->descriptor = inDescriptor ? inDescriptor : "";
  xphost::Send(AsId(inWidget), xpMsg_DescriptorChanged, xpMode_Direct, 0, 0);
}

// strncpy semantics: a descriptor of inMaxDescLength bytes or more fills the
// buffer without a NUL; a shorter one is NUL-padded to the end.
WIDGET_API int XPGetWidgetDescriptor(XPWidgetID inWidget, char* outDescriptor, int inMaxDescLength) {
  Widget* widget = Find(inWidget);
  if (!widget) return 0;
  const std::string& text = widget->descriptor;
  if (outDescriptor && inMaxDescLength > 0) {
    size_t capacity = static_cast<size_t>(inMaxDescLength);
    size_t copied = std::min(text.size(), capacity);
    std::memcpy(outDescriptor, text.data(), copied);
    std::memset(outDescriptor + copied, 0, capacity - copied);
  }
  return static_cast<int>(text.size());
}

WIDGET_API XPLMWindowID XPGetWidgetUnderlyingWindow(XPWidgetID inWidget) {
  Widget* root = Find(xphost::RootOf(AsId(inWidget)));
  return root ? root->window : nullptr;
}

WIDGET_API void XPSetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, intptr_t inValue) {
  Widget* widget = Find(inWidget);
  if (!widget) return;
  widget->properties[inProperty] = inValue;
  xphost::Send(AsId(inWidget), xpMsg_PropertyChanged, xpMode_Direct, inProperty, inValue);
}

WIDGET_API intptr_t XPGetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, int* inExists) {
  Widget* widget = Find(inWidget);
  intptr_t value = 0;
  bool exists = false;
  if (widget) {
    auto found = widget->properties.find(inProperty);
    exists = found != widget->properties.end();
    if (exists) value = found->second;
  }
  if (inExists) *inExists = exists;
  return value;
}

// The widget accepts focus by handling xpMsg_KeyTakeFocus; its root's window
// then takes the simulator's keyboard focus. Null removes widget focus.
WIDGET_API XPWidgetID XPSetKeyboardFocus(XPWidgetID inWidget) {
  uintptr_t id = AsId(inWidget);
  if (!id) {
    xphost::LoseFocus(0);
    return nullptr;
  }
  if (!Find(id)) return nullptr;
  if (State().focus == id) return inWidget;
  if (!xphost::Send(id, xpMsg_KeyTakeFocus, xpMode_Direct, 0, 0) || !Find(id)) return nullptr;
  if (Widget* root = Find(xphost::RootOf(id))) XPLMTakeKeyboardFocus(root->window);
  if (!Find(id)) return nullptr;
  if (State().focus && State().focus != id) xphost::LoseFocus(1);
  State().focus = id;
  return inWidget;
}

WIDGET_API void XPLoseKeyboardFocus(XPWidgetID inWidget) {
  if (State().focus && State().focus == AsId(inWidget)) xphost::LoseFocus(0);
}

WIDGET_API XPWidgetID XPGetWidgetWithFocus(void) { return AsHandle(State().focus); }

// The new callback goes first and alone receives xpMsg_Create (param1 1).
WIDGET_API void XPAddWidgetCallback(XPWidgetID inWidget, XPWidgetFunc_t inNewCallback) {
  Widget* widget = Find(inWidget);
  if (!widget || !inNewCallback) return;
  widget->callbacks.insert(widget->callbacks.begin(), inNewCallback);
  xphost::Send(AsId(inWidget), xpMsg_Create, xpMode_Once, 1, 0);
}

WIDGET_API XPWidgetFunc_t XPGetWidgetClassFunc(XPWidgetClass inWidgetClass) {
  return xphost::detail::StandardClassFunc(inWidgetClass);
}

}  // extern "C"
