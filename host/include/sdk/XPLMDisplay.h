// Headless host: windows, their callbacks and the screen.
#ifndef XPLMDisplay_h
#define XPLMDisplay_h

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* XPLMWindowID;

enum {
  xplm_MouseDown = 1,
  xplm_MouseDrag = 2,
  xplm_MouseUp = 3
};
typedef int XPLMMouseStatus;

#if defined(XPLM200)
enum {
  xplm_CursorDefault = 0,
  xplm_CursorHidden = 1,
  xplm_CursorArrow = 2,
  xplm_CursorCustom = 3
};
typedef int XPLMCursorStatus;
#endif

typedef void (*XPLMDrawWindow_f)(XPLMWindowID inWindowID, void* inRefcon);
// losingFocus 1: the window is losing keyboard focus and no key was pressed.
typedef void (*XPLMHandleKey_f)(XPLMWindowID inWindowID,
                                char inKey,
                                XPLMKeyFlags inFlags,
                                char inVirtualKey,
                                void* inRefcon,
                                int losingFocus);
// Return 1 to consume the click, 0 to let it reach what lies below.
typedef int (*XPLMHandleMouseClick_f)(XPLMWindowID inWindowID,
                                      int x,
                                      int y,
                                      XPLMMouseStatus inMouse,
                                      void* inRefcon);
#if defined(XPLM200)
typedef XPLMCursorStatus (*XPLMHandleCursor_f)(XPLMWindowID inWindowID,
                                               int x,
                                               int y,
                                               void* inRefcon);
// wheel: 0 vertical, 1 horizontal. Return 1 to consume.
typedef int (*XPLMHandleMouseWheel_f)(XPLMWindowID inWindowID,
                                      int x,
                                      int y,
                                      int wheel,
                                      int clicks,
                                      void* inRefcon);
#endif

#if defined(XPLM300)
enum {
  xplm_WindowLayerFlightOverlay = 0,
  xplm_WindowLayerFloatingWindows = 1,
  xplm_WindowLayerModal = 2,
  xplm_WindowLayerGrowlNotifications = 3
};
typedef int XPLMWindowLayer;
#endif

#if defined(XPLM301)
enum {
  xplm_WindowDecorationNone = 0,
  xplm_WindowDecorationRoundRectangle = 1,
  xplm_WindowDecorationSelfDecorated = 2,
  xplm_WindowDecorationSelfDecoratedResizable = 3
};
typedef int XPLMWindowDecoration;
#endif

#if defined(XPLM200)
// structSize tells the simulator which API level the caller was built for:
// 72 bytes on LP64 without the later fields, 88 with them.
typedef struct {
  int structSize;
  int left;
  int top;
  int right;
  int bottom;
  int visible;
  XPLMDrawWindow_f drawWindowFunc;
  XPLMHandleMouseClick_f handleMouseClickFunc;
  XPLMHandleKey_f handleKeyFunc;
  XPLMHandleCursor_f handleCursorFunc;
  XPLMHandleMouseWheel_f handleMouseWheelFunc;
  void* refcon;
#if defined(XPLM301)
  XPLMWindowDecoration decorateAsFloatingWindow;
#endif
#if defined(XPLM300)
  XPLMWindowLayer layer;
  XPLMHandleMouseClick_f handleRightClickFunc;
#endif
} XPLMCreateWindow_t;

XPLM_API XPLMWindowID XPLMCreateWindowEx(XPLMCreateWindow_t* inParams);
#endif

// The older creation call; the window's cursor and wheel events go nowhere.
XPLM_API XPLMWindowID XPLMCreateWindow(int inLeft,
                                       int inTop,
                                       int inRight,
                                       int inBottom,
                                       int inIsVisible,
                                       XPLMDrawWindow_f inDrawCallback,
                                       XPLMHandleKey_f inKeyCallback,
                                       XPLMHandleMouseClick_f inMouseCallback,
                                       void* inRefcon);
XPLM_API void XPLMDestroyWindow(XPLMWindowID inWindowID);
XPLM_API void XPLMGetScreenSize(int* outWidth, int* outHeight);
XPLM_API void XPLMGetMouseLocation(int* outX, int* outY);
XPLM_API void XPLMGetWindowGeometry(XPLMWindowID inWindowID,
                                    int* outLeft,
                                    int* outTop,
                                    int* outRight,
                                    int* outBottom);
XPLM_API void XPLMSetWindowGeometry(XPLMWindowID inWindowID,
                                    int inLeft,
                                    int inTop,
                                    int inRight,
                                    int inBottom);
XPLM_API int XPLMGetWindowIsVisible(XPLMWindowID inWindowID);
XPLM_API void XPLMSetWindowIsVisible(XPLMWindowID inWindowID, int inIsVisible);
XPLM_API void* XPLMGetWindowRefCon(XPLMWindowID inWindowID);
XPLM_API void XPLMSetWindowRefCon(XPLMWindowID inWindowID, void* inRefcon);
// A null window takes focus away from every window.
XPLM_API void XPLMTakeKeyboardFocus(XPLMWindowID inWindow);
XPLM_API void XPLMBringWindowToFront(XPLMWindowID inWindow);
XPLM_API int XPLMIsWindowInFront(XPLMWindowID inWindow);
#if defined(XPLM300)
XPLM_API int XPLMHasKeyboardFocus(XPLMWindowID inWindow);
XPLM_API void XPLMSetWindowTitle(XPLMWindowID inWindowID, const char* inWindowTitle);
XPLM_API void XPLMGetScreenBoundsGlobal(int* outLeft, int* outTop, int* outRight, int* outBottom);
#endif

#ifdef __cplusplus
}
#endif

#endif
