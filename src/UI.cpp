// The Tralix submenu, the Live Data and Connection Status windows, the
// configuration dialog, and the API key field with its clipboard paste.
#include "UI.h"

#include "ConfigManager.h"
#include "NetworkManager.h"
#include "Tralix.h"
#include "platform/Clipboard.h"

#include "XPLMDataAccess.h"
#include "XPLMGraphics.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int gMenuContainerIdx;
XPLMMenuID gTralixMenuID;
XPLMWindowID gLiveDataWindow;
XPLMWindowID gStatusWindow;
int gShowLiveData;
int gShowStatus;
int gShowConfig;
XPWidgetID gConfigWidget;
XPWidgetID gApiKeyEdit;
XPWidgetID gActivateButton;
XPWidgetID gClearButton;

namespace {

constexpr size_t kLogLineSize = 256;
constexpr size_t kDrawLineSize = 256;
constexpr size_t kCaptionSize = 255;
constexpr int kFieldBufferSize = 256;
constexpr size_t kStoredKeyLength = 255;

constexpr char kPluginVersion[] = TRALIX_VERSION;
constexpr double kFeetPerMetre = 3.28084;

constexpr long kLiveDataItem = 0;
constexpr long kStatusItem = 1;
constexpr long kConfigItem = 2;

constexpr int kInfoWindowWidth = 300;
constexpr int kInfoWindowHeight = 200;
constexpr int kInfoWindowTopMargin = 50;
constexpr int kLiveDataLeft = 50;
constexpr int kStatusLeft = 370;

constexpr int kDialogWidth = 550;
constexpr int kDialogHeight = 400;

constexpr float kNextFlightLoop = -1.0f;

static_assert(sizeof(XPLMCreateWindow_t) == 72, "the plug-in passes the shorter window record");

// Set once "Tralix" is in the Plugins menu, so CleanupUI removes only what InitUI added.
bool pluginsMenuItemAdded;
// The one-shot rebuild callback is registered from the first button press on.
bool rebuildLoopRegistered;

// ---- Menu and information windows --------------------------------------------

void* ItemReference(long item) { return reinterpret_cast<void*>(static_cast<intptr_t>(item)); }

struct InfoWindow {
  XPLMWindowID* handle;
  int* shown;
  int left;
  XPLMDrawWindow_f draw;
  const char* title;
  const char* selectedLine;
  const char* creatingLine;
  const char* createdLine;
  const char* failedLine;
  const char* visibilityPrefix;
};

const InfoWindow kLiveDataWindow = {
    &gLiveDataWindow,
    &gShowLiveData,
    kLiveDataLeft,
    draw_live_data_window,
    "Tralix Live Data",
    "Tralix - Live Data menu item selected\n",
    "Tralix - Creating Live Data window\n",
    "Tralix - Live Data window created successfully\n",
    "Tralix - ERROR: Failed to create Live Data window\n",
    "Tralix - Live Data window visibility set to: ",
};

const InfoWindow kStatusWindow = {
    &gStatusWindow,
    &gShowStatus,
    kStatusLeft,
    draw_status_window,
    "Tralix Status",
    "Tralix - Connection Status menu item selected\n",
    "Tralix - Creating Status window\n",
    "Tralix - Status window created successfully\n",
    "Tralix - ERROR: Failed to create Status window\n",
    "Tralix - Status window visibility set to: ",
};

// The window's place comes from the screen height when it is first created.
void ToggleInfoWindow(const InfoWindow& window, int screenHeight) {
  XPLMDebugString(window.selectedLine);
  if (!*window.handle) {
    XPLMDebugString(window.creatingLine);
    const int top = screenHeight - kInfoWindowTopMargin;
    *window.handle = CreateTralixWindow(window.left, top, window.left + kInfoWindowWidth,
                                        top - kInfoWindowHeight, window.draw, window.title);
    XPLMDebugString(*window.handle ? window.createdLine : window.failedLine);
  }
  *window.shown = *window.shown == 0 ? 1 : 0;
  if (*window.handle) XPLMSetWindowIsVisible(*window.handle, *window.shown);
  LogFormatted(kLogLineSize, "%s%s\n", window.visibilityPrefix, *window.shown ? "visible" : "hidden");
}

// Built on first use, centred on the screen; later selections show or hide it.
void ToggleConfigDialog(int screenWidth, int screenHeight) {
  XPLMDebugString("Tralix - Configuration menu item selected\n");
  if (!gConfigWidget) {
    XPLMDebugString("Tralix - Creating Config widget\n");
    CreateConfigWidget((screenWidth - kDialogWidth) / 2, screenHeight - (screenHeight - kDialogHeight) / 2,
                       kDialogWidth, kDialogHeight);
  }
  if (gShowConfig == 0) {
    gShowConfig = 1;
    if (gConfigWidget) XPShowWidget(gConfigWidget);
    XPLMDebugString("Tralix - Config widget shown\n");
  } else {
    gShowConfig = 0;
    if (gConfigWidget) XPHideWidget(gConfigWidget);
    XPLMDebugString("Tralix - Config widget hidden\n");
  }
}

// Both windows draw white text lines 10 pixels in from their left edge.
struct TextLines {
  float colour[3];
  int x;
  int top;
  char line[kDrawLineSize];
};

void BeginTextLines(XPLMWindowID window, TextLines* lines) {
  XPLMSetGraphicsState(0, 0, 0, 0, 1, 1, 0);
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
  lines->colour[0] = lines->colour[1] = lines->colour[2] = 1.0f;
  lines->x = left + 10;
  lines->top = top;
}

__attribute__((format(printf, 3, 4))) void DrawTextLine(TextLines* lines, int belowTop, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(lines->line, sizeof(lines->line), format, args);
  va_end(args);
  XPLMDrawString(lines->colour, lines->x, lines->top - belowTop, lines->line, nullptr, xplmFont_Proportional);
}

// ---- Configuration dialog ------------------------------------------------------

void ForgetDialogHandles() {
  gConfigWidget = nullptr;
  gApiKeyEdit = nullptr;
  gActivateButton = nullptr;
  gClearButton = nullptr;
}

void AddCaption(int left, int top, int right, int bottom, const char* text) {
  XPCreateWidget(left, top, right, bottom, 1, text, 0, gConfigWidget, xpWidgetClass_Caption);
}

XPWidgetID AddPushButton(int left, int top, int right, int bottom, const char* caption) {
  XPWidgetID button = XPCreateWidget(left, top, right, bottom, 1, caption, 0, gConfigWidget, xpWidgetClass_Button);
  XPSetWidgetProperty(button, xpProperty_ButtonType, xpPushButton);
  return button;
}

// The status lines below "Connection Status:" for the current key and token;
// returns the top of the button row that follows them.
int AddStatusLines(int x, int y, bool keySet, bool tokenSet) {
  AddCaption(x + 10, y - 160, x + 540, y - 178, keySet ? "API Key: Configured" : "API Key: Not configured");
  if (!keySet) return y - 180;
  if (!tokenSet) {
    AddCaption(x + 10, y - 180, x + 540, y - 198, "Connection: Not established");
    return y - 200;
  }
  char caption[kCaptionSize];
  std::snprintf(caption, sizeof(caption), "Connection: %s", gNetworkBusy ? "Busy" : "Ready");
  AddCaption(x + 10, y - 180, x + 540, y - 198, caption);
  std::snprintf(caption, sizeof(caption), "Backoff: %.1f sec", static_cast<double>(gBackoffTime));
  AddCaption(x + 10, y - 200, x + 540, y - 218, caption);
  return y - 220;
}

void AddActionButtons(int x, int buttonRow, bool keySet, bool tokenSet) {
  const char* firstCaption = !keySet ? "Activate API Key" : tokenSet ? "Deactivate" : "Activate Connection";
  gActivateButton = AddPushButton(x + 10, buttonRow - 10, x + 120, buttonRow - 28, firstCaption);
  if (keySet && tokenSet)
    gClearButton = AddPushButton(x + 130, buttonRow - 10, x + 240, buttonRow - 28, "Change API Key");
}

// The field's text, at most 255 bytes and always terminated: the widget
// library copies like strncpy and leaves a text that fills the buffer open.
void ReadFieldText(XPWidgetID field, char (&text)[kFieldBufferSize]) {
  std::memset(text, 0, sizeof(text));
  XPGetWidgetDescriptor(field, text, kFieldBufferSize);
  text[kFieldBufferSize - 1] = '\0';
}

void ReadTrimmedField(char (&text)[kFieldBufferSize]) {
  ReadFieldText(gApiKeyEdit, text);
  trimString(text);
}

// At most 255 bytes; the rest of the buffer is cleared so no old key bytes stay behind.
void CopyIntoApiKey(const char* text) {
  std::strncpy(gApiKey, text, kStoredKeyLength);
  gApiKey[kStoredKeyLength] = '\0';
}

bool SaveToken() { return WriteConfigValue(gConfigPath, "DATA_KEY_TOKEN", gDataKeyToken) != 0; }

// No key stored yet: the key is taken only once the file holds it.
// Returns false when there was nothing to activate, so nothing is rebuilt.
bool ActivateNewKey() {
  char entered[kFieldBufferSize];
  ReadTrimmedField(entered);
  if (entered[0] == '\0') {
    XPLMDebugString("Tralix - ERROR: No API key entered\n");
    return false;
  }
  if (!WriteConfigValue(gConfigPath, "API_KEY", entered)) {
    XPLMDebugString("Tralix - ERROR: Failed to save API key to config file\n");
    return true;
  }
  CopyIntoApiKey(entered);
  XPLMDebugString("Tralix - API key saved to config successfully\n");

  if (!ActivateApiKey(gApiKey, gDataKeyToken, sizeof(gDataKeyToken))) {
    XPLMDebugString("Tralix - Failed to activate API key\n");
  } else if (SaveToken()) {
    XPLMDebugString("Tralix - API key activated and token saved successfully\n");
  } else {
    XPLMDebugString("Tralix - ERROR: API key activated but failed to save token to config\n");
  }
  return true;
}

// A key is stored: a changed field replaces it (even if the file cannot be
// written), an empty field keeps it, then the key is activated.
void ActivateStoredKey() {
  char entered[kFieldBufferSize];
  ReadTrimmedField(entered);
  if (entered[0] != '\0' && std::strcmp(entered, gApiKey) != 0) {
    CopyIntoApiKey(entered);
    XPLMDebugString(WriteConfigValue(gConfigPath, "API_KEY", gApiKey)
                        ? "Tralix - Updated API key in config\n"
                        : "Tralix - ERROR: Failed to update API key in config\n");
  }

  if (!ActivateApiKey(gApiKey, gDataKeyToken, sizeof(gDataKeyToken))) {
    XPLMDebugString("Tralix - Failed to activate connection\n");
  } else if (SaveToken()) {
    XPLMDebugString("Tralix - Connection activated and token saved successfully\n");
  } else {
    XPLMDebugString("Tralix - ERROR: Connection activated but failed to save token to config\n");
  }
}

void Deactivate() {
  std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
  XPLMDebugString(WriteConfigValue(gConfigPath, "DATA_KEY_TOKEN", "")
                      ? "Tralix - Connection deactivated and token cleared\n"
                      : "Tralix - ERROR: Connection deactivated but failed to clear token in config\n");
}

// Chosen by the key and token at the moment of the press, not by the caption:
// the key field may have changed the key since the dialog was built.
bool RunActivateAction() {
  if (gApiKey[0] == '\0') return ActivateNewKey();
  if (gDataKeyToken[0] != '\0') {
    Deactivate();
  } else {
    ActivateStoredKey();
  }
  return true;
}

void RunChangeAction() {
  const bool hadToken = gDataKeyToken[0] != '\0';
  std::memset(gApiKey, 0, sizeof(gApiKey));
  std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
  XPSetWidgetDescriptor(gApiKeyEdit, "");
  const bool keyCleared = WriteConfigValue(gConfigPath, "API_KEY", "") != 0;
  const bool tokenCleared = WriteConfigValue(gConfigPath, "DATA_KEY_TOKEN", "") != 0;
  if (!keyCleared || !tokenCleared) {
    XPLMDebugString("Tralix - ERROR: API key and token cleared but failed to clear them in config\n");
  } else {
    XPLMDebugString(hadToken ? "Tralix - API key and token cleared for change\n"
                             : "Tralix - API key and token cleared\n");
  }
}

// Rebuilds the dialog where it now stands, at the same size, in the layout
// the new key and token call for. Returning 0 leaves the callback idle until
// the next press arms it again.
float RebuildConfigDialog(float, float, int, void*) {
  if (gConfigWidget) {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    XPGetWidgetGeometry(gConfigWidget, &left, &top, &right, &bottom);
    CreateConfigWidget(left, top, kDialogWidth, top - bottom);
  }
  return 0.0f;
}

// The widget library still uses the pressed button and its root after the
// press handler returns, so destroying them inside the dispatch would be a
// use-after-free. The rebuild runs on the next flight-loop cycle instead,
// before the next frame is drawn, so the user only ever sees the new layout.
void ScheduleDialogRebuild() {
  if (rebuildLoopRegistered) XPLMUnregisterFlightLoopCallback(RebuildConfigDialog, nullptr);
  XPLMRegisterFlightLoopCallback(RebuildConfigDialog, kNextFlightLoop, nullptr);
  rebuildLoopRegistered = true;
}

// ---- API key field -------------------------------------------------------------

bool IsCLocaleSpace(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

// Keeps at most 255 bytes of the text, trimmed, and saves it to the file.
bool StoreApiKey(const char* text) {
  CopyIntoApiKey(text);
  trimString(gApiKey);
  return WriteConfigValue(gConfigPath, "API_KEY", gApiKey) != 0;
}

void StoreTypedKey(XPWidgetID field) {
  char typed[kFieldBufferSize];
  ReadFieldText(field, typed);
  if (std::strcmp(typed, gApiKey) == 0) return;
  XPLMDebugString(StoreApiKey(typed) ? "Tralix - API key manually entered and saved to config\n"
                                     : "Tralix - ERROR: Failed to save manually entered API key to config\n");
}

// Cmd/Ctrl+V on its way down, either case, whatever other modifiers are held.
bool IsPasteShortcut(const XPKeyState_t& key) {
  const bool isV = (static_cast<unsigned char>(key.key) & ~0x20u) == 0x56u;
  return isV && (key.flags & xplm_ControlFlag) && (key.flags & xplm_DownFlag);
}

// Setting the text leaves the field's selection where it was, so what the
// pilot types next would land in front of the pasted key.
void PutCaretAtEnd(XPWidgetID field, const char* text) {
  const intptr_t end = static_cast<intptr_t>(std::strlen(text));
  XPSetWidgetProperty(field, xpProperty_EditFieldSelStart, end);
  XPSetWidgetProperty(field, xpProperty_EditFieldSelEnd, end);
}

struct PasteLines {
  const char* pasting;
  const char* saved;
  const char* notSaved;
};

// Puts the clipboard's text into the key field and saves it as the key; false,
// with nothing changed, when the clipboard holds no text.
bool PasteClipboardInto(XPWidgetID field, const PasteLines& lines) {
  char* clipboard = GetClipboardText_Mac();
  const bool hasText = clipboard && clipboard[0] != '\0';
  if (hasText) {
    XPLMDebugString(lines.pasting);
    XPSetWidgetDescriptor(field, clipboard);
    PutCaretAtEnd(field, clipboard);
    XPLMDebugString(StoreApiKey(clipboard) ? lines.saved : lines.notSaved);
  }
  std::free(clipboard);
  return hasText;
}

int PasteIntoField(XPWidgetID field, const XPKeyState_t* key) {
  if (!key || !IsPasteShortcut(*key)) return 0;
  static const PasteLines kShortcutLines = {
      "Tralix - Cmd/Ctrl+V detected, pasting clipboard into API key field\n",
      "Tralix - API key pasted and saved to config\n",
      "Tralix - ERROR: Failed to save pasted API key to config\n",
  };
  return PasteClipboardInto(field, kShortcutLines) ? 1 : 0;
}

}  // namespace

// ---- Menu and information windows --------------------------------------------

void InitUI() {
  XPLMMenuID pluginsMenu = XPLMFindPluginsMenu();
  gMenuContainerIdx = XPLMAppendMenuItem(pluginsMenu, "Tralix", nullptr, 1);
  pluginsMenuItemAdded = gMenuContainerIdx >= 0;
  gTralixMenuID = XPLMCreateMenu("Tralix", pluginsMenu, gMenuContainerIdx, TralixMenuHandler, nullptr);
  XPLMAppendMenuItem(gTralixMenuID, "Live Data", ItemReference(kLiveDataItem), 1);
  XPLMAppendMenuItem(gTralixMenuID, "Connection Status", ItemReference(kStatusItem), 1);
  XPLMAppendMenuItem(gTralixMenuID, "Configuration", ItemReference(kConfigItem), 1);
  XPLMDebugString("Tralix - UI initialized successfully\n");
}

void CleanupUI() {
  if (gTralixMenuID) {
    XPLMDestroyMenu(gTralixMenuID);
    gTralixMenuID = nullptr;
  }
  // The "Tralix" item goes too, or a reload of the plug-in would add a second one.
  if (pluginsMenuItemAdded) {
    XPLMRemoveMenuItem(XPLMFindPluginsMenu(), gMenuContainerIdx);
    pluginsMenuItemAdded = false;
  }
  if (gLiveDataWindow) {
    XPLMDestroyWindow(gLiveDataWindow);
    gLiveDataWindow = nullptr;
  }
  if (gStatusWindow) {
    XPLMDestroyWindow(gStatusWindow);
    gStatusWindow = nullptr;
  }
  if (rebuildLoopRegistered) {
    XPLMUnregisterFlightLoopCallback(RebuildConfigDialog, nullptr);
    rebuildLoopRegistered = false;
  }
  if (gConfigWidget) {
    XPDestroyWidget(gConfigWidget, 1);
    ForgetDialogHandles();
  }
  XPLMDebugString("Tralix - UI cleaned up successfully\n");
}

void TralixMenuHandler(void*, void* itemRef) {
  const long item = static_cast<long>(reinterpret_cast<intptr_t>(itemRef));
  LogFormatted(kLogLineSize, "Tralix - Menu handler called with item: %ld\n", item);
  int screenWidth = 0;
  int screenHeight = 0;
  XPLMGetScreenSize(&screenWidth, &screenHeight);
  LogFormatted(kLogLineSize, "Tralix - Screen size: %dx%d\n", screenWidth, screenHeight);

  switch (item) {
    case kLiveDataItem:
      ToggleInfoWindow(kLiveDataWindow, screenHeight);
      break;
    case kStatusItem:
      ToggleInfoWindow(kStatusWindow, screenHeight);
      break;
    case kConfigItem:
      ToggleConfigDialog(screenWidth, screenHeight);
      break;
    default:
      LogFormatted(kLogLineSize, "Tralix - Unknown menu item: %ld\n", item);
      break;
  }
}

XPLMWindowID CreateTralixWindow(int left, int top, int right, int bottom, XPLMDrawWindow_f drawCallback,
                                const char* title) {
  if (!title) title = "";
  LogFormatted(kLogLineSize, "Tralix - Creating window: %s at (%d,%d,%d,%d)\n", title, left, top, right, bottom);

  XPLMCreateWindow_t params{};
  params.structSize = sizeof(params);
  params.left = left;
  params.top = top;
  params.right = right;
  params.bottom = bottom;
  params.visible = 1;
  params.drawWindowFunc = drawCallback;
  params.handleMouseClickFunc = dummy_mouse_handler;
  params.handleKeyFunc = dummy_key_handler;
  params.handleCursorFunc = dummy_cursor_status_handler;
  params.handleMouseWheelFunc = dummy_wheel_handler;
  params.refcon = nullptr;
  XPLMWindowID window = XPLMCreateWindowEx(&params);

  if (window) {
    LogFormatted(kLogLineSize, "Tralix - Window created successfully: %s\n", title);
  } else {
    LogFormatted(kLogLineSize, "Tralix - ERROR: Failed to create window: %s\n", title);
  }
  return window;
}

void draw_live_data_window(XPLMWindowID window, void*) {
  TextLines lines;
  BeginTextLines(window, &lines);
  const float latitude = ReadFloatOrZero(gPlaneLat);
  const float longitude = ReadFloatOrZero(gPlaneLon);
  const float elevationMetres = ReadFloatOrZero(gPlaneEl);
  const float groundSpeedKnots = ReadFloatOrZero(gPlaneGroundSpeed) * kKnotsPerMetrePerSecond;

  DrawTextLine(&lines, 20, "Lat: %.6f", static_cast<double>(latitude));
  DrawTextLine(&lines, 40, "Lon: %.6f", static_cast<double>(longitude));
  DrawTextLine(&lines, 60, "Alt: %.0f ft", static_cast<double>(elevationMetres) * kFeetPerMetre);
  DrawTextLine(&lines, 80, "GS: %.0f kt", static_cast<double>(groundSpeedKnots));
}

void draw_status_window(XPLMWindowID window, void*) {
  TextLines lines;
  BeginTextLines(window, &lines);
  if (gApiKey[0] == '\0') {
    DrawTextLine(&lines, 20, "%s", "API Key: Not configured");
    return;
  }
  DrawTextLine(&lines, 20, "%s", "API Key: Configured");
  if (gDataKeyToken[0] == '\0') {
    DrawTextLine(&lines, 40, "%s", "Connection: Not established");
    return;
  }
  DrawTextLine(&lines, 40, "Connection: %s", gNetworkBusy ? "Busy" : "Ready");
  DrawTextLine(&lines, 60, "Backoff: %.1f sec", static_cast<double>(gBackoffTime));
}

// Clicks and wheel turns pass through to whatever lies beneath; keys are ignored.
int dummy_mouse_handler(XPLMWindowID, int, int, XPLMMouseStatus, void*) { return 0; }
int dummy_wheel_handler(XPLMWindowID, int, int, int, int, void*) { return 0; }
void dummy_key_handler(XPLMWindowID, char, XPLMKeyFlags, char, void*, int) {}
XPLMCursorStatus dummy_cursor_status_handler(XPLMWindowID, int, int, void*) { return xplm_CursorDefault; }

// ---- Configuration dialog ------------------------------------------------------

void CreateConfigWidget(int left, int top, int width, int height) {
  if (gConfigWidget) {
    XPDestroyWidget(gConfigWidget, 1);
    ForgetDialogHandles();
  }
  const int x = left;
  const int y = top;
  gConfigWidget = XPCreateWidget(x, y, x + width, y - height, 1, "Tralix Client", 1, nullptr,
                                 xpWidgetClass_MainWindow);
  if (!gConfigWidget) return;
  XPSetWidgetProperty(gConfigWidget, xpProperty_MainWindowHasCloseBoxes, 1);

  const bool keySet = gApiKey[0] != '\0';
  const bool tokenSet = gDataKeyToken[0] != '\0';
  char caption[kCaptionSize];
  std::snprintf(caption, sizeof(caption), "Tralix Connection Bridge v%s", kPluginVersion);
  AddCaption(x + 10, y - 30, x + 540, y - 48, caption);
  AddCaption(x + 10, y - 55, x + 540, y - 85, "Configure API key for real-time flight data transmission");
  AddCaption(x + 10, y - 90, x + 150, y - 108, "API Key:");

  gApiKeyEdit = XPCreateWidget(x + 150, y - 90, x + 430, y - 108, 1, gApiKey, 0, gConfigWidget,
                               xpWidgetClass_TextField);
  XPAddWidgetCallback(gApiKeyEdit, ApiKeyTextFieldKeyHandler);
  XPWidgetID pasteButton = AddPushButton(x + 440, y - 90, x + 500, y - 108, "Paste");
  XPAddWidgetCallback(pasteButton, PasteButtonHandler);

  AddCaption(x + 10, y - 115, x + 540, y - 135, "Get from: Tralix Account Settings > Client / API Key");
  AddCaption(x + 10, y - 140, x + 540, y - 158, "Connection Status:");
  const int buttonRow = AddStatusLines(x, y, keySet, tokenSet);
  AddActionButtons(x, buttonRow, keySet, tokenSet);

  XPAddWidgetCallback(gConfigWidget, ConfigWidgetHandler);
}

int ConfigWidgetHandler(XPWidgetMessage message, XPWidgetID, intptr_t param1, intptr_t) {
  if (message == xpMessage_CloseButtonPushed) {
    XPHideWidget(gConfigWidget);
    return 1;
  }
  if (message != xpMsg_PushButtonPressed) return 0;

  const XPWidgetID pressed = reinterpret_cast<XPWidgetID>(param1);
  if (!pressed) return 0;
  if (pressed == gActivateButton) {
    if (RunActivateAction()) ScheduleDialogRebuild();
    return 1;
  }
  if (pressed == gClearButton) {
    RunChangeAction();
    ScheduleDialogRebuild();
    return 1;
  }
  return 0;
}

// ---- API key field and clipboard -----------------------------------------------

char* GetClipboardText_Mac() { return ReadClipboardText(); }

// White space is the C locale's six bytes whatever locale the simulator set, so
// no byte of a UTF-8 character is ever taken for a blank.
void trimString(char* s) {
  if (!s) return;
  size_t leading = 0;
  while (s[leading] != '\0' && IsCLocaleSpace(static_cast<unsigned char>(s[leading]))) ++leading;
  size_t length = std::strlen(s + leading);
  if (leading > 0) std::memmove(s, s + leading, length + 1);
  while (length > 0 && IsCLocaleSpace(static_cast<unsigned char>(s[length - 1]))) s[--length] = '\0';
}

int ApiKeyTextFieldKeyHandler(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t) {
  if (message == xpMsg_TextFieldChanged) {
    StoreTypedKey(widget);
    return 0;
  }
  if (message == xpMsg_KeyPress) return PasteIntoField(widget, reinterpret_cast<const XPKeyState_t*>(param1));
  return 0;
}

int PasteButtonHandler(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
  if (message != xpMsg_PushButtonPressed) return 0;
  static const PasteLines kButtonLines = {
      "Tralix - Paste button clicked, pasting clipboard into API key field\n",
      "Tralix - API key pasted via button and saved to config\n",
      "Tralix - ERROR: Failed to save pasted API key to config via button\n",
  };
  if (!PasteClipboardInto(gApiKeyEdit, kButtonLines))
    XPLMDebugString("Tralix - Paste button clicked but clipboard is empty\n");
  return 1;
}
