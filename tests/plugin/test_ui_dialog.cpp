// The configuration dialog: what each key and token state shows, its actions
// without a service that answers, the write failures, the in-place rebuild
// after a press, and the API key field: typing, Cmd/Ctrl+V and the Paste
// button, with a stand-in clipboard tool on PATH.
#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "UI.h"

#include "XPLMDefs.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
// 0: every rename works; n: the nth rename from now fails. The configuration
// file is saved by renaming a temporary file over it.
int gFailRenameNumber = 0;
}  // namespace

// Linked into this test ahead of the C library's, which it then calls.
extern "C" int rename(const char* from, const char* to) noexcept {
  using Rename = int (*)(const char*, const char*);
  static const Rename libcRename = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  if (gFailRenameNumber > 0 && --gFailRenameNumber == 0) return -1;
  return libcRename(from, to);
}

namespace {

using tralix_test::Contains;
using tralix_test::Lines;
using tralix_test::Widget;

// What each state shows under the status heading; buttons in brackets.
const Lines kNoKeyRows = {"API Key: Not configured", "[Activate API Key]"};
const Lines kKeyOnlyRows = {"API Key: Configured", "Connection: Not established", "[Activate Connection]"};

class ConfigDialog : public tralix_test::UiTest {
 protected:
  void TearDown() override {
    gFailRenameNumber = 0;
    UiTest::TearDown();
  }

  // Without a service, activation must fail quickly and the same way whatever
  // the service client does: its URL object cannot be made.
  static void MakeActivationFail() { CFStandInFailNextCalls("CFURLCreateWithString", 1); }

  // The rows under the status heading, buttons in brackets.
  static Lines StatusRows() {
    Lines rows;
    bool below = false;
    for (void* id : Widget(gConfigWidget).children) {
      const xphost::WidgetInfo child = Widget(id);
      if (below) rows.push_back(child.widgetClass == xpWidgetClass_Button ? "[" + child.descriptor + "]" : child.descriptor);
      below = below || child.descriptor == "Connection Status:";
    }
    return rows;
  }

  // Every control lies inside the dialog, and none covers another.
  static void ExpectTidyLayout() {
    const xphost::WidgetInfo root = Widget(gConfigWidget);
    std::vector<xphost::WidgetInfo> children;
    for (void* id : root.children) children.push_back(Widget(id));
    for (size_t i = 0; i < children.size(); ++i) {
      const xphost::WidgetInfo& a = children[i];
      EXPECT_TRUE(a.left >= root.left && a.right <= root.right && a.top <= root.top && a.bottom >= root.bottom)
          << a.descriptor;
      for (size_t j = i + 1; j < children.size(); ++j) {
        const xphost::WidgetInfo& b = children[j];
        EXPECT_FALSE(a.left < b.right && b.left < a.right && a.bottom < b.top && b.bottom < a.top)
            << a.descriptor << " / " << b.descriptor;
      }
    }
  }
};

TEST_F(ConfigDialog, EachKeyAndTokenStateShowsItsStatusAndActions) {
  for (const tralix_test::ConnectionState& c : tralix_test::kConnectionStates) {
    SCOPED_TRACE(std::string(c.key) + "/" + c.token);
    StoreKeyAndToken(c.key, c.token);
    gNetworkBusy = c.busy;
    gBackoffTime = c.backoff;
    BuildDialog();
    EXPECT_TRUE(Widget(gConfigWidget).visible);
    const Lines buttons = c.key[0] == '\0' ? Lines{"[Activate API Key]"}
                          : c.token[0] == '\0' ? Lines{"[Activate Connection]"}
                                                : Lines{"[Deactivate]", "[Change API Key]"};
    Lines expected = c.status;
    expected.insert(expected.end(), buttons.begin(), buttons.end());
    EXPECT_EQ(StatusRows(), expected);
    ExpectTidyLayout();
    EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), c.key);
    EXPECT_EQ("[" + xphost::WidgetDescriptor(gActivateButton) + "]", buttons[0]);
    EXPECT_EQ(gClearButton != nullptr, buttons.size() == 2);
  }
  EXPECT_EQ(xphost::FindWidgets(Widget(gConfigWidget).descriptor.c_str()).size(), 1u)
      << "each build replaces the previous dialog";
}

// The first button: activate a new key, activate the stored one (or the
// changed field), or deactivate; the outcome in memory, the file and the
// rebuilt dialog, and the failure reported when the file refuses.
TEST_F(ConfigDialog, TheFirstButtonActsOnTheStoredStateAndTheField) {
  const std::string longKey = "k" + std::string(298, 'x') + "z";
  struct Case {
    const char* key;
    const char* token;
    std::string field;
    bool writable;
    const char* report;
    std::string keyAfter;
    std::string fileAfter;
    Lines rowsAfter;
  };
  const Case cases[] = {
      {"", "", "", true, "Tralix - ERROR: No API key entered", "", "API_KEY=\nDATA_KEY_TOKEN=\n", kNoKeyRows},
      {"", "", " \t\v\f\r\n", true, "Tralix - ERROR: No API key entered", "", "API_KEY=\nDATA_KEY_TOKEN=\n", kNoKeyRows},
      {"", "", "  tlx_new \n", true, "Tralix - Failed to activate API key", "tlx_new",
       "API_KEY=tlx_new\nDATA_KEY_TOKEN=\n", kKeyOnlyRows},
      {"", "", longKey, true, "Tralix - Failed to activate API key", longKey.substr(0, 255),
       "API_KEY=" + longKey.substr(0, 255) + "\nDATA_KEY_TOKEN=\n", kKeyOnlyRows},
      {"", "", "tlx_new", false, "Tralix - ERROR: Failed to save API key to config file", "",
       "API_KEY=\nDATA_KEY_TOKEN=\n", kNoKeyRows},
      {"tlx_old", "", "", true, "Tralix - Failed to activate connection", "tlx_old",
       "API_KEY=tlx_old\nDATA_KEY_TOKEN=\n", kKeyOnlyRows},
      {"tlx_old", "", "tlx_other\t", true, "Tralix - Failed to activate connection", "tlx_other",
       "API_KEY=tlx_other\nDATA_KEY_TOKEN=\n", kKeyOnlyRows},
      {"tlx_old", "", "tlx_other", false, "Tralix - ERROR: Failed to update API key in config", "tlx_other",
       "API_KEY=tlx_old\nDATA_KEY_TOKEN=\n", kKeyOnlyRows},
      {"tlx_key", "tok_1", "tlx_key", true, "Tralix - Connection deactivated and token cleared", "tlx_key",
       "API_KEY=tlx_key\nDATA_KEY_TOKEN=\n", kKeyOnlyRows},
      {"tlx_key", "tok_1", "tlx_key", false, "Tralix - ERROR: Connection deactivated but failed to clear token in config",
       "tlx_key", "API_KEY=tlx_key\nDATA_KEY_TOKEN=tok_1\n", kKeyOnlyRows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "/" + c.token + " field \"" + c.field.substr(0, 12) + "\"" +
                 (c.writable ? "" : ", file unwritable"));
    UseConfigFile();
    StoreKeyAndToken(c.key, c.token);
    BuildDialog();
    void* const root = gConfigWidget;
    XPSetWidgetDescriptor(gApiKeyEdit, c.field.c_str());
    if (!c.writable) MakeConfigUnwritable();
    MakeActivationFail();
    const Lines logged = Press(gActivateButton);
    EXPECT_TRUE(Contains(logged, c.report));
    EXPECT_EQ(Contains(logged, "Tralix - Updated API key in config"), c.field == "tlx_other\t") << "written when changed";
    EXPECT_EQ(std::string(gApiKey), c.keyAfter);
    EXPECT_TRUE(std::all_of(gDataKeyToken, gDataKeyToken + sizeof(gDataKeyToken), [](char b) { return b == 0; }));
    UseConfigFile();
    EXPECT_EQ(ConfigText(), c.fileAfter);
    NextFrame();
    EXPECT_EQ(gConfigWidget != root, c.report != std::string("Tralix - ERROR: No API key entered")) << "rebuilt";
    EXPECT_EQ(StatusRows(), c.rowsAfter);
  }
}

// Change empties key, token, field and file, and reports when either write fails.
TEST_F(ConfigDialog, ChangeClearsKeyTokenFieldAndFile) {
  const char kReport[] = "Tralix - ERROR: API key and token cleared but failed to clear them in config";
  const std::pair<int, const char*> cases[] = {
      {0, "API_KEY=\nDATA_KEY_TOKEN=\n"},
      {1, "API_KEY=tlx_key\nDATA_KEY_TOKEN=\n"},  // the key's write fails
      {2, "API_KEY=\nDATA_KEY_TOKEN=tok_123\n"},  // the token's write fails
  };
  for (const auto& [failingWrite, file] : cases) {
    SCOPED_TRACE(failingWrite);
    StoreKeyAndToken("tlx_key", "tok_123");
    BuildDialog();
    gFailRenameNumber = failingWrite;
    const Lines logged = Press(gClearButton);
    EXPECT_EQ(Contains(logged, kReport), failingWrite != 0);
    EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), "") << "emptied at once";
    EXPECT_STREQ(gApiKey, "");
    EXPECT_STREQ(gDataKeyToken, "");
    EXPECT_EQ(ConfigText(), file);
    NextFrame();
    EXPECT_EQ(StatusRows(), kNoKeyRows);
  }
}

// What the dialog does not act on travels on: another button's press, a press
// without a button, any other message.
TEST_F(ConfigDialog, OtherButtonsAndMessagesAreLeftToTravelOn) {
  BuildDialog();
  XPWidgetID other = XPCreateWidget(110, 300, 200, 280, 1, "Other", 0, gConfigWidget, xpWidgetClass_Button);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_PushButtonPressed, gConfigWidget, reinterpret_cast<intptr_t>(other), 0), 0);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_PushButtonPressed, gConfigWidget, 0, 0), 0);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_MouseDown, gConfigWidget, 0, 0), 0);
}

// The pressed button and its dialog outlive the press; the rebuild follows on
// the next frame, once however many presses, where the dialog now stands.
TEST_F(ConfigDialog, ARebuildFollowsOnTheNextFrameWhereTheDialogStands) {
  StoreKeyAndToken("tlx_key", "tok");
  BuildDialog(685, 740);
  xphost::DragMouse(900, 735, 700, 635);  // by its title, 200 pixels left and 100 down
  void* const oldRoot = gConfigWidget;
  void* const deactivate = gActivateButton;
  Press(deactivate);
  MakeActivationFail();
  Press(deactivate);  // the old layout's button again: now "Activate Connection" by state
  EXPECT_EQ(gConfigWidget, oldRoot);
  NextFrame();
  NextFrame();
  xphost::WidgetInfo gone;
  EXPECT_FALSE(xphost::GetWidget(oldRoot, &gone));
  const xphost::WidgetInfo root = Widget(gConfigWidget);
  EXPECT_EQ(xphost::FindWidgets(root.descriptor.c_str()).size(), 1u);
  EXPECT_TRUE(root.visible);
  EXPECT_EQ(std::vector<int>({root.left, root.top, root.right, root.bottom}), std::vector<int>({485, 640, 1035, 240}));
  EXPECT_EQ(StatusRows(), kKeyOnlyRows);
  ExpectTidyLayout();
}

class ApiKeyField : public tralix_test::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    BuildDialog();
    field_ = gApiKeyEdit;
    pasteButton_ = xphost::FindWidget("Paste", xpWidgetClass_Button);
    ASSERT_NE(pasteButton_, nullptr);
  }

  std::string FieldText() const { return xphost::WidgetDescriptor(field_); }

  int PressCtrlV() {
    XPKeyState_t state{'v', xplm_ControlFlag | xplm_DownFlag, 0};
    return ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, reinterpret_cast<intptr_t>(&state), 0);
  }

  // Writes of API_KEY to the configuration file since the mark.
  int KeyWritesSinceMark() const {
    const Lines lines = LogSinceMark();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("Tralix - WriteConfigValue: Attempting to write", 0) == 0 &&
             line.find(" key: API_KEY ") != std::string::npos;
    }));
  }

  void* field_ = nullptr;
  void* pasteButton_ = nullptr;
};

// Every change is stored once, trimmed, in memory and file; a field whose
// text differs from the trimmed key is written again; an empty one stores "".
TEST_F(ApiKeyField, TypingStoresEveryChangeOnceInMemoryAndFile) {
  const std::pair<int, const char*> strokes[] = {{'t', "t"}, {'l', "tl"}, {'x', "tlx"}, {' ', "tlx"}, {' ', "tlx"}};
  for (const auto& [key, stored] : strokes) {
    MarkLog();
    xphost::KeyStroke(field_, static_cast<char>(key), 0, 0);
    EXPECT_STREQ(gApiKey, stored);
    EXPECT_EQ(ConfigText(), std::string("API_KEY=") + stored + "\nDATA_KEY_TOKEN=\n");
    EXPECT_EQ(KeyWritesSinceMark(), 1) << FieldText();
  }
  EXPECT_EQ(FieldText(), "tlx  ");
  for (int i = 0; i < 5; ++i) xphost::KeyStroke(field_, XPLM_KEY_DELETE, 0, 0);
  EXPECT_EQ(FieldText(), "");
  EXPECT_STREQ(gApiKey, "");
  EXPECT_EQ(ConfigText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
}

TEST_F(ApiKeyField, OnlyCtrlVOnItsWayDownPastesWhateverElseIsHeld) {
  struct Case {
    const char* name;
    char key;
    int flags;
    bool pastes;
  };
  const Case cases[] = {
      {"Ctrl+Shift+V", 'V', xplm_ControlFlag | xplm_ShiftFlag | xplm_DownFlag, true},
      {"Ctrl+V key-up", 'v', xplm_ControlFlag | xplm_UpFlag, false},
      {"Ctrl+V auto-repeat", 'v', xplm_ControlFlag, false},
      {"plain v", 'v', xplm_DownFlag, false},
      {"Ctrl+C", 'c', xplm_ControlFlag | xplm_DownFlag, false},
  };
  SetClipboard("  tlx_pasted\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XPSetWidgetDescriptor(field_, "");
    std::memset(gApiKey, 0, sizeof(gApiKey));
    XPKeyState_t state{c.key, c.flags, 0};
    EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, reinterpret_cast<intptr_t>(&state), 0),
              c.pastes ? 1 : 0);
    EXPECT_EQ(FieldText(), c.pastes ? "  tlx_pasted\n" : "");
    EXPECT_STREQ(gApiKey, c.pastes ? "tlx_pasted" : "");
  }
}

// The field shows the text as copied, the key is its trimmed first 255 bytes;
// an empty clipboard changes nothing, and Ctrl+V then goes on to the field.
TEST_F(ApiKeyField, PasteButtonAndCtrlVFillTheFieldAsCopiedAndStoreTheTrimmedKey) {
  const std::string longText = "k" + std::string(298, 'x') + "z";
  const std::pair<std::string, std::string> cases[] = {
      {"  tlx_key_42\n", "tlx_key_42"}, {longText, longText.substr(0, 255)}, {"", ""}};
  for (const auto& [copied, key] : cases) {
    SCOPED_TRACE(copied.substr(0, 12));
    SetClipboard(copied);
    for (const bool button : {true, false}) {
      StoreKeyAndToken("", "");
      XPSetWidgetDescriptor(field_, "typed");
      void* const root = gConfigWidget;
      MarkLog();
      if (button) {
        ASSERT_TRUE(xphost::ClickWidget(pasteButton_));
      } else {
        EXPECT_EQ(PressCtrlV(), copied.empty() ? 0 : 1);
      }
      EXPECT_EQ(FieldText(), copied.empty() ? "typed" : copied);
      EXPECT_EQ(std::string(gApiKey), key);
      EXPECT_EQ(ConfigText(), "API_KEY=" + key + "\nDATA_KEY_TOKEN=\n");
      if (copied.empty() && button) {
        EXPECT_EQ(LogSinceMark(), Lines{"Tralix - Paste button clicked but clipboard is empty"});
      }
      xphost::RunFrame(0.05);
      EXPECT_EQ(gConfigWidget, root) << "the dialog never sees a press of Paste";
      if (copied.empty()) continue;
      xphost::KeyStroke(field_, '!', 0, 0);
      EXPECT_EQ(FieldText(), copied + "!") << "typing goes on at the end of the pasted text";
    }
  }
  // The change notice of the long field text compares only what fits.
  SetClipboard(longText);
  EXPECT_EQ(PressCtrlV(), 1);
  MarkLog();
  EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_TextFieldChanged, field_, reinterpret_cast<intptr_t>(field_), 0), 0);
  EXPECT_EQ(KeyWritesSinceMark(), 0) << "its first 255 bytes equal the stored key";
}

TEST_F(ApiKeyField, AKeyTheFileRefusesIsStillUsedAndTheFailureReported) {
  SetClipboard("tlx_key");
  MakeConfigUnwritable();
  const std::pair<const char*, std::string> ways[] = {
      {"button", "Tralix - ERROR: Failed to save pasted API key to config via button"},
      {"Ctrl+V", "Tralix - ERROR: Failed to save pasted API key to config"},
      {"typing", "Tralix - ERROR: Failed to save manually entered API key to config"},
  };
  for (const auto& [way, error] : ways) {
    SCOPED_TRACE(way);
    std::memset(gApiKey, 0, sizeof(gApiKey));
    MarkLog();
    if (way == ways[0].first) {
      PasteButtonHandler(xpMsg_PushButtonPressed, pasteButton_, reinterpret_cast<intptr_t>(pasteButton_), 0);
    } else if (way == ways[1].first) {
      PressCtrlV();
    } else {
      XPSetWidgetDescriptor(field_, "");
      xphost::KeyStroke(field_, 'a', 0, 0);
    }
    EXPECT_TRUE(tralix_test::Contains(LogSinceMark(), error));
    EXPECT_STREQ(gApiKey, way == ways[2].first ? "a" : "tlx_key");
  }
  UseConfigFile();
  EXPECT_EQ(ConfigText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
}

TEST_F(ApiKeyField, OtherMessagesAreLeftToTheField) {
  for (int message : {xpMsg_MouseDown, xpMsg_KeyTakeFocus, xpMsg_DescriptorChanged, xpMsg_Paint, xpMsg_KeyPress})
    EXPECT_EQ(ApiKeyTextFieldKeyHandler(message, field_, 0, 0), 0) << message;
  for (int message : {int{xpMsg_MouseDown}, int{xpMsg_ButtonStateChanged}})
    EXPECT_EQ(PasteButtonHandler(message, pasteButton_, 0, 0), 0) << message;
}

}  // namespace
