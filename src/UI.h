// The Tralix submenu, the Live Data and Connection Status windows, and the configuration dialog.
#pragma once

#include "XPLMDisplay.h"
#include "XPWidgetDefs.h"

#include <cstdint>

void InitUI();
void CleanupUI();
void TralixMenuHandler(void* menuRef, void* itemRef);
XPLMWindowID CreateTralixWindow(int left, int top, int right, int bottom,
                                XPLMDrawWindow_f drawCallback, const char* title);

void CreateConfigWidget(int left, int top, int width, int height);
int ConfigWidgetHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t param2);

char* GetClipboardText_Mac();
void trimString(char* s);
int ApiKeyTextFieldKeyHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t param2);
int PasteButtonHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t param2);
