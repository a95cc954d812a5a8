// Menu, information windows and configuration dialog. Placeholder: builds nothing yet.
#include "UI.h"

#include <cstdlib>

void InitUI() {}
void CleanupUI() {}
void TralixMenuHandler(void*, void*) {}
XPLMWindowID CreateTralixWindow(int, int, int, int, XPLMDrawWindow_f, const char*) { return nullptr; }
void CreateConfigWidget(int, int, int, int) {}
int ConfigWidgetHandler(XPWidgetMessage, XPWidgetID, intptr_t, intptr_t) { return 0; }
char* GetClipboardText_Mac() {
  char* empty = static_cast<char*>(std::calloc(1, 1));
  return empty;
}
void trimString(char*) {}
int ApiKeyTextFieldKeyHandler(XPWidgetMessage, XPWidgetID, intptr_t, intptr_t) { return 0; }
int PasteButtonHandler(XPWidgetMessage, XPWidgetID, intptr_t, intptr_t) { return 0; }
