// The API key field: trimming, typing, Cmd/Ctrl+V and the Paste button, with
// a stand-in clipboard tool on PATH.
#include "PluginTestSupport.h"
#include "UI.h"

#include "XPLMDefs.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <algorithm>
#include <clocale>
#include <cstring>

namespace {

using tralix_test::Lines;

TEST(TrimString, RemovesTheCLocaleBlanksAtBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" \t\v\f x y \f\v\r\n", "x y"},
      // Bytes of UTF-8 characters are never blanks, whatever the locale says.
      {"\xc2\xa0key\xc2\x85", "\xc2\xa0key\xc2\x85"},
      // A long text moves over itself intact.
      {std::string(200, ' ') + "abc" + std::string(50, '\t'), "abc"},
  };
  for (const char* locale : {"C", "C.UTF-8"}) {
    std::setlocale(LC_ALL, locale);
    for (const auto& [in, out] : cases) {
      std::vector<char> buffer(in.begin(), in.end());
      buffer.push_back('\0');
      trimString(buffer.data());
      EXPECT_EQ(std::string(buffer.data()), out) << "\"" << in << "\" in " << locale;
    }
  }
  std::setlocale(LC_ALL, "C");
  trimString(nullptr);
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
      {"Ctrl+V", 'v', xplm_ControlFlag | xplm_DownFlag, true},
      {"Ctrl+Shift+V", 'V', xplm_ControlFlag | xplm_ShiftFlag | xplm_DownFlag, true},
      {"Ctrl+V key-up", 'v', xplm_ControlFlag | xplm_UpFlag, false},
      {"Ctrl+V auto-repeat", 'v', xplm_ControlFlag, false},
      {"plain v", 'v', xplm_DownFlag, false},
      {"Ctrl+C", 'c', xplm_ControlFlag | xplm_DownFlag, false},
      {"Ctrl+F", 'F', xplm_ControlFlag | xplm_DownFlag, false},
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
