// The Tralix submenu, the Live Data and Connection Status windows, and the configuration dialog.
#pragma once

#include "XPLMDisplay.h"
#include "XPLMMenus.h"
#include "XPWidgetDefs.h"

#include <cstdint>

// Module state: the menu, the two windows with the visibility last set from the
// menu, and the dialog's widgets (null while there is no dialog).
extern int gMenuContainerIdx;
extern XPLMMenuID gTralixMenuID;
extern XPLMWindowID gLiveDataWindow;
extern XPLMWindowID gStatusWindow;
extern int gShowLiveData;
extern int gShowStatus;
extern int gShowConfig;
extern XPWidgetID gConfigWidget;
extern XPWidgetID gApiKeyEdit;
extern XPWidgetID gActivateButton;
extern XPWidgetID gClearButton;

void InitUI();
void CleanupUI();
void TralixMenuHandler(void* menuRef, void* itemRef);
XPLMWindowID CreateTralixWindow(int left, int top, int right, int bottom,
                                XPLMDrawWindow_f drawCallback, const char* title);

void draw_live_data_window(XPLMWindowID window, void* refcon);
void draw_status_window(XPLMWindowID window, void* refcon);
int dummy_mouse_handler(XPLMWindowID window, int x, int y, XPLMMouseStatus mouseStatus, void* refcon);
int dummy_wheel_handler(XPLMWindowID window, int x, int y, int wheel, int clicks, void* refcon);
void dummy_key_handler(XPLMWindowID window, char key, XPLMKeyFlags flags, char virtualKey,
                       void* refcon, int losingFocus);
XPLMCursorStatus dummy_cursor_status_handler(XPLMWindowID window, int x, int y, void* refcon);

void CreateConfigWidget(int left, int top, int width, int height);
int ConfigWidgetHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t param2);

char* GetClipboardText_Mac();
void trimString(char* s);
int ApiKeyTextFieldKeyHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t param2);
int PasteButtonHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t param2);
