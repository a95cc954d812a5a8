// Headless host: the simulator's menus.
#ifndef XPLMMenus_h
#define XPLMMenus_h

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  xplm_Menu_NoCheck = 0,
  xplm_Menu_Unchecked = 1,
  xplm_Menu_Checked = 2
};
typedef int XPLMMenuCheck;

typedef void* XPLMMenuID;

// Called with the menu's reference and the picked item's reference.
typedef void (*XPLMMenuHandler_f)(void* inMenuRef, void* inItemRef);

XPLM_API XPLMMenuID XPLMFindPluginsMenu(void);
#if defined(XPLM300)
XPLM_API XPLMMenuID XPLMFindAircraftMenu(void);
#endif
// Returns null on failure; the name must not be empty.
XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName,
                                   XPLMMenuID inParentMenu,
                                   int inParentItem,
                                   XPLMMenuHandler_f inHandler,
                                   void* inMenuRef);
XPLM_API void XPLMDestroyMenu(XPLMMenuID inMenuID);
XPLM_API void XPLMClearAllMenuItems(XPLMMenuID inMenuID);
// Returns the new item's index among this plug-in's items, negative on failure.
XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu,
                                const char* inItemName,
                                void* inItemRef,
                                int inDeprecatedAndIgnored);
XPLM_API void XPLMAppendMenuSeparator(XPLMMenuID inMenu);
XPLM_API void XPLMSetMenuItemName(XPLMMenuID inMenu,
                                  int inIndex,
                                  const char* inItemName,
                                  int inDeprecatedAndIgnored);
XPLM_API void XPLMCheckMenuItem(XPLMMenuID inMenu, int index, XPLMMenuCheck inCheck);
XPLM_API void XPLMCheckMenuItemState(XPLMMenuID inMenu, int index, XPLMMenuCheck* outCheck);
XPLM_API void XPLMEnableMenuItem(XPLMMenuID inMenu, int index, int enabled);
#if defined(XPLM210)
XPLM_API void XPLMRemoveMenuItem(XPLMMenuID inMenu, int inIndex);
#endif

#ifdef __cplusplus
}
#endif

#endif
