// The API key field: trimming, typing, Cmd/Ctrl+V and the Paste button, with
// a stand-in clipboard tool on PATH.
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "UI.h"
#include "XPHostControl.h"

#include "XPLMDefs.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string Trimmed(std::string text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  trimString(buffer.data());
  return buffer.data();
}

TEST(TrimString, RemovesTheCLocaleBlanksAtBothEndsOnly) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"", ""},
      {"   ", ""},
      {"x", "x"},
      {" \t x y \r\n", "x y"},
      {"\v\fkey\f\v", "key"},
      {"key", "key"},
      {"  leading", "leading"},
      {"trailing\n\n", "trailing"},
      {"in side", "in side"},
      // Bytes of UTF-8 characters are never blanks, whatever the locale says.
      {"\xc2\xa0key\xc2\x85", "\xc2\xa0key\xc2\x85"},
      {" caf\xc3\xa9 ", "caf\xc3\xa9"},
  };
  for (const char* locale : {"C", "C.UTF-8"}) {
    std::setlocale(LC_ALL, locale);
    for (const Case& c : cases) EXPECT_EQ(Trimmed(c.in), c.out) << "\"" << c.in << "\" in " << locale;
  }
  std::setlocale(LC_ALL, "C");
  trimString(nullptr);
}

TEST(TrimString, MovesALongTextOverItselfIntact) {
  const std::string key(250, 'k');
  EXPECT_EQ(Trimmed(std::string(5, ' ') + key), key);
  EXPECT_EQ(Trimmed(std::string(200, ' ') + "abc" + std::string(50, '\t')), "abc");
}

class ApiKeyField : public testing::Test {
 protected:
  void SetUp() override {
    CleanupUI();
    xphost::Reset();
    std::memset(gApiKey, 0, sizeof(gApiKey));
    std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
    scratch_ = tralix_test::FreshScratchDir();
    configFile_ = scratch_ + "/Tralix.cfg";
    std::snprintf(gConfigPath, sizeof(gConfigPath), "%s", configFile_.c_str());
    tralix_test::WriteFile(configFile_, "API_KEY=\nDATA_KEY_TOKEN=\n");
    InstallClipboardTool();
    CreateConfigWidget(100, 700, 550, 400);
    field_ = gApiKeyEdit;
    pasteButton_ = xphost::FindWidget("Paste", xpWidgetClass_Button);
    ASSERT_NE(pasteButton_, nullptr);
  }

  // An xclip that prints the file "clipboard" when there is one and fails,
  // as for an empty clipboard, when there is none.
  void InstallClipboardTool() {
    const std::string bin = scratch_ + "/bin";
    mkdir(bin.c_str(), 0755);
    tralix_test::WriteFile(bin + "/xclip", "#!/bin/sh\nexec /bin/cat '" + scratch_ + "/clipboard' 2>/dev/null\n");
    chmod((bin + "/xclip").c_str(), 0755);
    setenv("PATH", bin.c_str(), 1);
    setenv("DISPLAY", ":99", 1);
    unsetenv("WAYLAND_DISPLAY");
  }

  void SetClipboard(const std::string& text) { tralix_test::WriteFile(scratch_ + "/clipboard", text); }
  void EmptyClipboard() { std::remove((scratch_ + "/clipboard").c_str()); }

  void MakeConfigUnwritable() {
    std::snprintf(gConfigPath, sizeof(gConfigPath), "%s/missing-folder/Tralix.cfg", scratch_.c_str());
  }

  std::string FileText() const { return tralix_test::ReadFile(configFile_); }

  std::string FieldText() const { return xphost::WidgetDescriptor(field_); }

  // Attempts to write API_KEY since the given log line.
  static int KeyWritesSince(size_t before) {
    const Lines lines = tralix_test::LogLinesSince(before);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("Tralix - WriteConfigValue: Attempting to write", 0) == 0 &&
             line.find(" key: API_KEY ") != std::string::npos;
    }));
  }

  // The key field's own lines, in order, without the configuration file's.
  static Lines FieldLinesSince(size_t before) {
    auto mentions = [](const std::string& line, const char* word) { return line.find(word) != std::string::npos; };
    Lines lines;
    for (const std::string& line : tralix_test::LogLinesSince(before)) {
      if (mentions(line, "ConfigValue:")) continue;
      if (mentions(line, "API key") || mentions(line, "Paste") || mentions(line, "Cmd/Ctrl+V")) lines.push_back(line);
    }
    return lines;
  }

  std::string scratch_;
  std::string configFile_;
  void* field_ = nullptr;
  void* pasteButton_ = nullptr;
};

TEST_F(ApiKeyField, TypingStoresEveryChangeOnceInMemoryAndFile) {
  const char* const expected[] = {"t", "tl", "tlx"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(expected[i]);
    const size_t before = xphost::LogLines().size();
    xphost::KeyStroke(field_, "tlx"[i], 0, 0);
    EXPECT_STREQ(gApiKey, expected[i]);
    EXPECT_EQ(FileText(), std::string("API_KEY=") + expected[i] + "\nDATA_KEY_TOKEN=\n");
    EXPECT_EQ(KeyWritesSince(before), 1);
    EXPECT_EQ(FieldLinesSince(before), Lines{"Tralix - API key manually entered and saved to config"});
  }
}

TEST_F(ApiKeyField, TrailingBlanksRewriteTheTrimmedKeyAndClearingStoresAnEmptyKey) {
  xphost::TypeText(field_, "tlx");
  ASSERT_TRUE(xphost::ClickWidget(field_));  // caret after the text

  for (int blanks = 1; blanks <= 2; ++blanks) {
    const size_t before = xphost::LogLines().size();
    xphost::KeyStroke(field_, ' ', 0, 0);
    EXPECT_EQ(FieldText(), "tlx" + std::string(static_cast<size_t>(blanks), ' '));
    EXPECT_STREQ(gApiKey, "tlx");
    EXPECT_EQ(KeyWritesSince(before), 1) << "the field's text still differs from the trimmed key";
  }

  for (int i = 0; i < 5; ++i) xphost::KeyStroke(field_, XPLM_KEY_DELETE, 0, 0);
  EXPECT_EQ(FieldText(), "");
  EXPECT_STREQ(gApiKey, "");
  EXPECT_EQ(FileText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
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
      {"Ctrl+Alt+v", 'v', xplm_ControlFlag | xplm_OptionAltFlag | xplm_DownFlag, true},
      {"Ctrl+V key-up", 'v', xplm_ControlFlag | xplm_UpFlag, false},
      {"Ctrl+V auto-repeat", 'v', xplm_ControlFlag, false},
      {"plain v", 'v', xplm_DownFlag, false},
      {"Shift+V", 'V', xplm_ShiftFlag | xplm_DownFlag, false},
      {"Ctrl+C", 'c', xplm_ControlFlag | xplm_DownFlag, false},
      {"Ctrl+Enter", XPLM_KEY_RETURN, xplm_ControlFlag | xplm_DownFlag, false},
      {"Ctrl+F", 'F', xplm_ControlFlag | xplm_DownFlag, false},
  };
  SetClipboard("  tlx_pasted\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XPSetWidgetDescriptor(field_, "");
    std::memset(gApiKey, 0, sizeof(gApiKey));
    XPKeyState_t state{c.key, c.flags, 0};
    const size_t before = xphost::LogLines().size();
    EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, reinterpret_cast<intptr_t>(&state), 0),
              c.pastes ? 1 : 0);
    if (c.pastes) {
      EXPECT_EQ(FieldText(), "  tlx_pasted\n");
      EXPECT_STREQ(gApiKey, "tlx_pasted");
      EXPECT_EQ(FieldLinesSince(before), (Lines{"Tralix - Cmd/Ctrl+V detected, pasting clipboard into API key field",
                                                "Tralix - API key pasted and saved to config"}));
    } else {
      EXPECT_EQ(FieldText(), "");
      EXPECT_STREQ(gApiKey, "");
      EXPECT_TRUE(FieldLinesSince(before).empty());
    }
  }
}

TEST_F(ApiKeyField, CtrlVThroughTheHostIsConsumedSoNoVReachesTheField) {
  SetClipboard("tlx_key");
  ASSERT_TRUE(xphost::FocusWidget(field_));
  EXPECT_TRUE(xphost::KeyStroke(nullptr, 'v', xplm_ControlFlag, 'V'));
  EXPECT_EQ(FieldText(), "tlx_key");
  EXPECT_STREQ(gApiKey, "tlx_key");
  EXPECT_EQ(FileText(), "API_KEY=tlx_key\nDATA_KEY_TOKEN=\n");
}

TEST_F(ApiKeyField, CtrlVWithAnEmptyClipboardIsLeftToTheFieldSilently) {
  EmptyClipboard();
  XPKeyState_t state{'v', xplm_ControlFlag | xplm_DownFlag, 0};
  const size_t before = xphost::LogLines().size();
  EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, reinterpret_cast<intptr_t>(&state), 0), 0);
  EXPECT_TRUE(tralix_test::LogLinesSince(before).empty());
  EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, 0, 0), 0) << "no key state";
}

TEST_F(ApiKeyField, PasteButtonFillsTheFieldAsCopiedAndStoresTheTrimmedKey) {
  SetClipboard("  tlx_key_42\n");
  void* const root = gConfigWidget;
  const size_t before = xphost::LogLines().size();
  ASSERT_TRUE(xphost::ClickWidget(pasteButton_));
  EXPECT_EQ(FieldLinesSince(before), (Lines{"Tralix - Paste button clicked, pasting clipboard into API key field",
                                            "Tralix - API key pasted via button and saved to config"}));
  EXPECT_EQ(FieldText(), "  tlx_key_42\n");
  EXPECT_STREQ(gApiKey, "tlx_key_42");
  EXPECT_EQ(FileText(), "API_KEY=tlx_key_42\nDATA_KEY_TOKEN=\n");
  xphost::RunFrame(0.05);
  EXPECT_EQ(gConfigWidget, root) << "the dialog never sees a press of Paste";
}

TEST_F(ApiKeyField, PasteButtonWithAnEmptyClipboardSaysSoAndChangesNothing) {
  XPSetWidgetDescriptor(field_, "typed");
  EmptyClipboard();
  const size_t before = xphost::LogLines().size();
  EXPECT_EQ(PasteButtonHandler(xpMsg_PushButtonPressed, pasteButton_, reinterpret_cast<intptr_t>(pasteButton_), 0), 1);
  EXPECT_EQ(tralix_test::LogLinesSince(before), Lines{"Tralix - Paste button clicked but clipboard is empty"});
  EXPECT_EQ(FieldText(), "typed");
  EXPECT_EQ(PasteButtonHandler(xpMsg_MouseDown, pasteButton_, 0, 0), 0);
  EXPECT_EQ(PasteButtonHandler(xpMsg_ButtonStateChanged, pasteButton_, 0, 0), 0);
}

TEST_F(ApiKeyField, ALongPasteKeepsThe255FirstBytesAsTheKey) {
  const std::string longText = "k" + std::string(298, 'x') + "z";
  SetClipboard(longText);
  ASSERT_TRUE(xphost::ClickWidget(pasteButton_));
  EXPECT_EQ(FieldText(), longText);
  EXPECT_EQ(std::string(gApiKey), longText.substr(0, 255));

  // The change notice of the long field text compares only what fits.
  std::memset(gApiKey, 0, sizeof(gApiKey));
  XPKeyState_t state{'v', xplm_ControlFlag | xplm_DownFlag, 0};
  EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, reinterpret_cast<intptr_t>(&state), 0), 1);
  EXPECT_EQ(std::string(gApiKey), longText.substr(0, 255));
  const size_t before = xphost::LogLines().size();
  EXPECT_EQ(ApiKeyTextFieldKeyHandler(xpMsg_TextFieldChanged, field_, reinterpret_cast<intptr_t>(field_), 0), 0);
  EXPECT_EQ(KeyWritesSince(before), 0) << "its first 255 bytes equal the stored key";
}

TEST_F(ApiKeyField, AKeyTheFileRefusesIsStillUsed) {
  struct Case {
    const char* name;
    bool button;
    const char* errorLine;
  };
  const Case cases[] = {
      {"button", true, "Tralix - ERROR: Failed to save pasted API key to config via button"},
      {"Ctrl+V", false, "Tralix - ERROR: Failed to save pasted API key to config"},
  };
  SetClipboard("tlx_key");
  MakeConfigUnwritable();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(gApiKey, 0, sizeof(gApiKey));
    const size_t before = xphost::LogLines().size();
    XPKeyState_t state{'v', xplm_ControlFlag | xplm_DownFlag, 0};
    if (c.button) {
      PasteButtonHandler(xpMsg_PushButtonPressed, pasteButton_, reinterpret_cast<intptr_t>(pasteButton_), 0);
    } else {
      ApiKeyTextFieldKeyHandler(xpMsg_KeyPress, field_, reinterpret_cast<intptr_t>(&state), 0);
    }
    EXPECT_EQ(FieldLinesSince(before).back(), c.errorLine);
    EXPECT_STREQ(gApiKey, "tlx_key");
  }

  std::memset(gApiKey, 0, sizeof(gApiKey));
  const size_t before = xphost::LogLines().size();
  xphost::KeyStroke(field_, 'a', 0, 0);
  EXPECT_EQ(FieldLinesSince(before), Lines{"Tralix - ERROR: Failed to save manually entered API key to config"});
  EXPECT_EQ(FileText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
}

TEST_F(ApiKeyField, OtherMessagesAreLeftToTheField) {
  for (int message : {xpMsg_MouseDown, xpMsg_KeyTakeFocus, xpMsg_DescriptorChanged, xpMsg_Paint})
    EXPECT_EQ(ApiKeyTextFieldKeyHandler(message, field_, 0, 0), 0) << message;
}

}  // namespace
