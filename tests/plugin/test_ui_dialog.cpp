// The configuration dialog: its three layouts, its actions without a service
// that answers, the write failures, and the in-place rebuild after the press.
#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "UI.h"
#include "XPHostControl.h"

#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Every line the dialog itself logs; other modules' lines are left out when
// comparing.
const std::set<std::string> kDialogLines = {
    "Tralix - ERROR: No API key entered",
    "Tralix - ERROR: Failed to save API key to config file",
    "Tralix - API key saved to config successfully",
    "Tralix - API key activated and token saved successfully",
    "Tralix - ERROR: API key activated but failed to save token to config",
    "Tralix - Failed to activate API key",
    "Tralix - Connection deactivated and token cleared",
    "Tralix - ERROR: Connection deactivated but failed to clear token in config",
    "Tralix - Updated API key in config",
    "Tralix - ERROR: Failed to update API key in config",
    "Tralix - Connection activated and token saved successfully",
    "Tralix - ERROR: Connection activated but failed to save token to config",
    "Tralix - Failed to activate connection",
    "Tralix - API key and token cleared for change",
    "Tralix - API key and token cleared",
    "Tralix - ERROR: API key and token cleared but failed to clear them in config",
    "Tralix - API key manually entered and saved to config",
};

struct Child {
  int widgetClass;
  std::string descriptor;
  int left, top, right, bottom;
  bool operator==(const Child& other) const {
    return widgetClass == other.widgetClass && descriptor == other.descriptor && left == other.left &&
           top == other.top && right == other.right && bottom == other.bottom;
  }
};

void PrintTo(const Child& child, std::ostream* out) {
  *out << "{" << child.widgetClass << ", \"" << child.descriptor << "\", " << child.left << ", " << child.top
       << ", " << child.right << ", " << child.bottom << "}";
}

constexpr int kCaption = xpWidgetClass_Caption;
constexpr int kButton = xpWidgetClass_Button;

// The rows every layout shares, for a dialog whose top-left corner is (x, y).
std::vector<Child> CommonRows(int x, int y, const std::string& key) {
  return {
      {kCaption, "Tralix Connection Bridge v0.0.12", x + 10, y - 30, x + 540, y - 48},
      {kCaption, "Configure API key for real-time flight data transmission", x + 10, y - 55, x + 540, y - 85},
      {kCaption, "API Key:", x + 10, y - 90, x + 150, y - 108},
      {xpWidgetClass_TextField, key, x + 150, y - 90, x + 430, y - 108},
      {kButton, "Paste", x + 440, y - 90, x + 500, y - 108},
      {kCaption, "Get from: Tralix Account Settings > Client / API Key", x + 10, y - 115, x + 540, y - 135},
      {kCaption, "Connection Status:", x + 10, y - 140, x + 540, y - 158},
  };
}

std::vector<Child> NoKeyLayout(int x, int y, const std::string& field = "") {
  std::vector<Child> rows = CommonRows(x, y, field);
  rows.push_back({kCaption, "API Key: Not configured", x + 10, y - 160, x + 540, y - 178});
  rows.push_back({kButton, "Activate API Key", x + 10, y - 190, x + 120, y - 208});
  return rows;
}

std::vector<Child> KeyOnlyLayout(int x, int y, const std::string& key) {
  std::vector<Child> rows = CommonRows(x, y, key);
  rows.push_back({kCaption, "API Key: Configured", x + 10, y - 160, x + 540, y - 178});
  rows.push_back({kCaption, "Connection: Not established", x + 10, y - 180, x + 540, y - 198});
  rows.push_back({kButton, "Activate Connection", x + 10, y - 210, x + 120, y - 228});
  return rows;
}

std::vector<Child> ActivatedLayout(int x, int y, const std::string& key, const char* connection,
                                   const char* backoff) {
  std::vector<Child> rows = CommonRows(x, y, key);
  rows.push_back({kCaption, "API Key: Configured", x + 10, y - 160, x + 540, y - 178});
  rows.push_back({kCaption, connection, x + 10, y - 180, x + 540, y - 198});
  rows.push_back({kCaption, backoff, x + 10, y - 200, x + 540, y - 218});
  rows.push_back({kButton, "Deactivate", x + 10, y - 230, x + 120, y - 248});
  rows.push_back({kButton, "Change API Key", x + 130, y - 230, x + 240, y - 248});
  return rows;
}

class ConfigDialog : public testing::Test {
 protected:
  void SetUp() override {
    CleanupUI();
    xphost::Reset();
    CFStandInClearFailures();
    gShowConfig = 0;
    std::memset(gApiKey, 0, sizeof(gApiKey));
    std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
    gNetworkBusy = 0;
    gBackoffTime = 0.0f;
    scratch_ = tralix_test::FreshScratchDir();
    UseConfigFile(scratch_ + "/Tralix.cfg");
    tralix_test::WriteFile(configFile_, "API_KEY=\nDATA_KEY_TOKEN=\n");
  }

  void TearDown() override { CFStandInClearFailures(); }

  void UseConfigFile(const std::string& path) {
    configFile_ = path;
    std::snprintf(gConfigPath, sizeof(gConfigPath), "%s", path.c_str());
  }

  // A folder that does not exist: every write of the file fails.
  void MakeConfigUnwritable() { UseConfigFile(scratch_ + "/missing-folder/Tralix.cfg"); }

  void StoreKeyAndToken(const char* key, const char* token) {
    std::snprintf(gApiKey, sizeof(gApiKey), "%s", key);
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", token);
    tralix_test::WriteFile(configFile_, std::string("API_KEY=") + key + "\nDATA_KEY_TOKEN=" + token + "\n");
  }

  // Without a service, activation must fail quickly and the same way whatever
  // the service client does: its URL object cannot be made.
  static void MakeActivationFail() { CFStandInFailNextCalls("CFURLCreateWithString", 1); }

  static void Build(int x = 100, int y = 700) { CreateConfigWidget(x, y, 550, 400); }

  static std::vector<Child> Children() {
    std::vector<Child> rows;
    xphost::WidgetInfo root;
    if (!xphost::GetWidget(gConfigWidget, &root)) return rows;
    for (void* id : root.children) {
      xphost::WidgetInfo child;
      EXPECT_TRUE(xphost::GetWidget(id, &child));
      rows.push_back({child.widgetClass, child.descriptor, child.left, child.top, child.right, child.bottom});
    }
    return rows;
  }

  static xphost::WidgetInfo Root() {
    xphost::WidgetInfo root;
    EXPECT_TRUE(xphost::GetWidget(gConfigWidget, &root));
    return root;
  }

  // Clicks the button as the user would and returns the dialog's lines it logged.
  static Lines Press(void* button) {
    const size_t before = xphost::LogLines().size();
    EXPECT_TRUE(xphost::ClickWidget(button));
    return DialogLinesSince(before);
  }

  static Lines DialogLinesSince(size_t before) {
    Lines lines;
    for (const std::string& line : tralix_test::LogLinesSince(before))
      if (kDialogLines.count(line)) lines.push_back(line);
    return lines;
  }

  static void NextFrame() { xphost::RunFrame(0.05); }

  std::string FileText() const { return tralix_test::ReadFile(configFile_); }

  std::string scratch_;
  std::string configFile_;
};

TEST_F(ConfigDialog, EachKeyAndTokenStateHasItsLayout) {
  struct Case {
    const char* name;
    const char* key;
    const char* token;
    int busy;
    float backoff;
    std::vector<Child> expected;
    bool hasChangeButton;
  };
  const Case cases[] = {
      {"no key", "", "", 0, 0.0f, NoKeyLayout(100, 700), false},
      {"no key, stray token", "", "tok", 1, 4.0f, NoKeyLayout(100, 700), false},
      {"key only", "tlx_key", "", 0, 0.0f, KeyOnlyLayout(100, 700, "tlx_key"), false},
      {"key and token, idle", "tlx_key", "tok", 0, 0.0f,
       ActivatedLayout(100, 700, "tlx_key", "Connection: Ready", "Backoff: 0.0 sec"), true},
      {"key and token, busy", "tlx_key", "tok", 1, 2.5f,
       ActivatedLayout(100, 700, "tlx_key", "Connection: Busy", "Backoff: 2.5 sec"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoreKeyAndToken(c.key, c.token);
    gNetworkBusy = c.busy;
    gBackoffTime = c.backoff;
    Build();

    const xphost::WidgetInfo root = Root();
    EXPECT_EQ(root.widgetClass, xpWidgetClass_MainWindow);
    EXPECT_EQ(root.descriptor, "Tralix Client");
    EXPECT_TRUE(root.root);
    EXPECT_TRUE(root.visible);
    EXPECT_EQ(root.left, 100);
    EXPECT_EQ(root.top, 700);
    EXPECT_EQ(root.right, 650);
    EXPECT_EQ(root.bottom, 300);
    EXPECT_EQ(xphost::WidgetProperty(gConfigWidget, xpProperty_MainWindowHasCloseBoxes), 1);

    EXPECT_EQ(Children(), c.expected);
    ASSERT_EQ(root.children.size(), c.expected.size());
    EXPECT_EQ(gApiKeyEdit, root.children[3]);
    const size_t firstButton = c.expected.size() - (c.hasChangeButton ? 2 : 1);
    EXPECT_EQ(gActivateButton, root.children[firstButton]);
    EXPECT_EQ(gClearButton, c.hasChangeButton ? root.children.back() : nullptr);
    for (void* id : root.children) {
      xphost::WidgetInfo child;
      xphost::GetWidget(id, &child);
      if (child.widgetClass != kButton) continue;
      bool exists = false;
      EXPECT_EQ(xphost::WidgetProperty(id, xpProperty_ButtonType, &exists), xpPushButton);
      EXPECT_TRUE(exists) << child.descriptor;
    }
  }
  EXPECT_EQ(xphost::FindWidgets("Tralix Client").size(), 1u) << "each build replaces the previous dialog";
}

TEST_F(ConfigDialog, StatusLinesAreASnapshotOfWhenTheDialogWasBuilt) {
  StoreKeyAndToken("tlx_key", "tok");
  Build();
  gNetworkBusy = 1;
  gBackoffTime = 8.0f;
  NextFrame();
  EXPECT_NE(xphost::FindWidget("Connection: Ready", kCaption), nullptr);
  EXPECT_NE(xphost::FindWidget("Backoff: 0.0 sec", kCaption), nullptr);
  EXPECT_EQ(xphost::FindWidget("Connection: Busy", kCaption), nullptr);
}

TEST_F(ConfigDialog, ActivateWithAnEmptyOrBlankFieldChangesNothing) {
  Build();
  const void* const root = gConfigWidget;
  for (const char* field : {"", "   ", " \t \r\n"}) {
    SCOPED_TRACE(std::string("field \"") + field + "\"");
    XPSetWidgetDescriptor(gApiKeyEdit, field);
    EXPECT_EQ(Press(gActivateButton), Lines{"Tralix - ERROR: No API key entered"});
    NextFrame();
    EXPECT_EQ(gConfigWidget, root) << "not rebuilt";
    EXPECT_STREQ(gApiKey, "");
  }
  EXPECT_EQ(FileText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
}

TEST_F(ConfigDialog, AFailedActivationKeepsTheTrimmedKeyAndRebuildsOnTheNextFrame) {
  Build();
  void* const oldRoot = gConfigWidget;
  XPSetWidgetDescriptor(gApiKeyEdit, "  tlx_new_key \n");
  MakeActivationFail();
  EXPECT_EQ(Press(gActivateButton),
            (Lines{"Tralix - API key saved to config successfully", "Tralix - Failed to activate API key"}));
  EXPECT_STREQ(gApiKey, "tlx_new_key");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_NE(FileText().find("API_KEY=tlx_new_key\n"), std::string::npos);

  // The pressed button and its dialog outlive the press; the rebuild follows
  // on the next frame, in the same place.
  EXPECT_EQ(gConfigWidget, oldRoot);
  EXPECT_EQ(Children(), NoKeyLayout(100, 700, "  tlx_new_key \n"));
  NextFrame();
  EXPECT_NE(gConfigWidget, oldRoot);
  xphost::WidgetInfo gone;
  EXPECT_FALSE(xphost::GetWidget(oldRoot, &gone));
  EXPECT_EQ(Children(), KeyOnlyLayout(100, 700, "tlx_new_key"));
  EXPECT_TRUE(Root().visible);
  NextFrame();
  EXPECT_EQ(xphost::FindWidgets("Tralix Client").size(), 1u) << "one rebuild per press";
}

TEST_F(ConfigDialog, WithNoKeyStoredAKeyTheFileRefusesIsNotTaken) {
  Build();
  MakeConfigUnwritable();
  XPSetWidgetDescriptor(gApiKeyEdit, "tlx_new_key");
  EXPECT_EQ(Press(gActivateButton), Lines{"Tralix - ERROR: Failed to save API key to config file"});
  EXPECT_STREQ(gApiKey, "");
  NextFrame();
  EXPECT_EQ(Children(), NoKeyLayout(100, 700));
}

TEST_F(ConfigDialog, ActivateConnectionUsesTheStoredKeyOrTheChangedField) {
  struct Case {
    const char* name;
    const char* field;
    bool writable;
    Lines expected;
    const char* keyAfter;
    const char* fileKeyAfter;
  };
  const Case cases[] = {
      {"field emptied", "", true, {"Tralix - Failed to activate connection"}, "tlx_old", "tlx_old"},
      {"field unchanged", " tlx_old ", true, {"Tralix - Failed to activate connection"}, "tlx_old", "tlx_old"},
      {"field changed",
       "tlx_other\t",
       true,
       {"Tralix - Updated API key in config", "Tralix - Failed to activate connection"},
       "tlx_other",
       "tlx_other"},
      {"field changed, file unwritable",
       "tlx_other",
       false,
       {"Tralix - ERROR: Failed to update API key in config", "Tralix - Failed to activate connection"},
       "tlx_other",
       "tlx_old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseConfigFile(scratch_ + "/Tralix.cfg");
    StoreKeyAndToken("tlx_old", "");
    Build();
    XPSetWidgetDescriptor(gApiKeyEdit, c.field);
    if (!c.writable) MakeConfigUnwritable();
    MakeActivationFail();
    EXPECT_EQ(Press(gActivateButton), c.expected);
    EXPECT_STREQ(gApiKey, c.keyAfter);
    EXPECT_STREQ(gDataKeyToken, "");
    UseConfigFile(scratch_ + "/Tralix.cfg");
    EXPECT_NE(FileText().find(std::string("API_KEY=") + c.fileKeyAfter + "\n"), std::string::npos);
    NextFrame();
    EXPECT_EQ(Children(), KeyOnlyLayout(100, 700, c.keyAfter));
  }
}

TEST_F(ConfigDialog, DeactivateKeepsTheKeyAndMovesTheButtonRowUp) {
  StoreKeyAndToken("tlx_key", "tok_123");
  Build();
  EXPECT_EQ(Press(gActivateButton), Lines{"Tralix - Connection deactivated and token cleared"});
  EXPECT_TRUE(std::all_of(gDataKeyToken, gDataKeyToken + sizeof(gDataKeyToken), [](char c) { return c == 0; }));
  EXPECT_STREQ(gApiKey, "tlx_key");
  EXPECT_EQ(FileText(), "API_KEY=tlx_key\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(Children(), KeyOnlyLayout(100, 700, "tlx_key"));
  EXPECT_EQ(gClearButton, nullptr);
}

TEST_F(ConfigDialog, ChangeClearsKeyTokenFieldAndFile) {
  StoreKeyAndToken("tlx_key", "tok_123");
  Build();
  EXPECT_EQ(Press(gClearButton), Lines{"Tralix - API key and token cleared for change"});
  EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), "") << "emptied at once";
  EXPECT_STREQ(gApiKey, "");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_EQ(FileText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(Children(), NoKeyLayout(100, 700));
}

TEST_F(ConfigDialog, ChangeAfterTheTokenWentAwayLogsThePlainLine) {
  StoreKeyAndToken("tlx_key", "tok_123");
  Build();
  gDataKeyToken[0] = '\0';
  const size_t before = xphost::LogLines().size();
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_PushButtonPressed, gConfigWidget, reinterpret_cast<intptr_t>(gClearButton), 0),
            1);
  EXPECT_EQ(DialogLinesSince(before), Lines{"Tralix - API key and token cleared"});
}

TEST_F(ConfigDialog, FailedTokenAndKeyClearingIsReportedNotCalledSuccess) {
  struct Case {
    const char* name;
    bool pressChange;
    Lines expected;
  };
  const Case cases[] = {
      {"deactivate", false, {"Tralix - ERROR: Connection deactivated but failed to clear token in config"}},
      {"change", true, {"Tralix - ERROR: API key and token cleared but failed to clear them in config"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseConfigFile(scratch_ + "/Tralix.cfg");
    StoreKeyAndToken("tlx_key", "tok_123");
    Build();
    MakeConfigUnwritable();
    EXPECT_EQ(Press(c.pressChange ? gClearButton : gActivateButton), c.expected);
    // Memory holds the new state all the same.
    EXPECT_STREQ(gDataKeyToken, "");
    EXPECT_STREQ(gApiKey, c.pressChange ? "" : "tlx_key");
    NextFrame();
  }
}

TEST_F(ConfigDialog, AMovedDialogIsRebuiltWhereItStandsAtTheSameSize) {
  StoreKeyAndToken("tlx_key", "tok");
  Build(685, 740);
  // Drag it by its title area 200 pixels left and 100 down.
  xphost::DragMouse(900, 735, 700, 635);
  ASSERT_EQ(Root().left, 485);
  ASSERT_EQ(Root().top, 640);
  Press(gActivateButton);
  NextFrame();
  const xphost::WidgetInfo root = Root();
  EXPECT_EQ(root.left, 485);
  EXPECT_EQ(root.top, 640);
  EXPECT_EQ(root.right, 1035);
  EXPECT_EQ(root.bottom, 240);
  EXPECT_EQ(Children(), KeyOnlyLayout(485, 640, "tlx_key"));
}

TEST_F(ConfigDialog, AFieldTextThatFillsTheBufferIsReadAsIts255FirstBytes) {
  Build();
  const std::string longKey = "k" + std::string(298, 'x') + "z";
  XPSetWidgetDescriptor(gApiKeyEdit, longKey.c_str());
  MakeActivationFail();
  Press(gActivateButton);
  EXPECT_EQ(std::string(gApiKey), longKey.substr(0, 255));
  EXPECT_NE(FileText().find("API_KEY=" + longKey.substr(0, 255) + "\n"), std::string::npos);
}

TEST_F(ConfigDialog, CloseBoxHidesAndOtherMessagesAndButtonsAreNotTaken) {
  Build();
  EXPECT_EQ(ConfigWidgetHandler(xpMessage_CloseButtonPushed, gConfigWidget, reinterpret_cast<intptr_t>(gConfigWidget),
                                0),
            1);
  EXPECT_FALSE(Root().visible);
  void* const paste = xphost::FindWidget("Paste", kButton);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_PushButtonPressed, gConfigWidget, reinterpret_cast<intptr_t>(paste), 0), 0);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_PushButtonPressed, gConfigWidget, 0, 0), 0);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_MouseDown, gConfigWidget, 0, 0), 0);
  EXPECT_EQ(ConfigWidgetHandler(xpMsg_TextFieldChanged, gConfigWidget, reinterpret_cast<intptr_t>(gApiKeyEdit), 0),
            0);
}

TEST_F(ConfigDialog, TwoPressesBeforeTheFrameRebuildOnceAndCleanupCancelsAPendingRebuild) {
  StoreKeyAndToken("tlx_key", "tok");
  Build();
  void* const deactivate = gActivateButton;
  Press(deactivate);
  MakeActivationFail();
  Press(deactivate);  // the old layout's button again: now "Activate Connection" by state
  NextFrame();
  NextFrame();
  EXPECT_EQ(xphost::FindWidgets("Tralix Client").size(), 1u);
  EXPECT_EQ(Children(), KeyOnlyLayout(100, 700, "tlx_key"));

  Press(gActivateButton);
  CleanupUI();
  NextFrame();
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
  EXPECT_EQ(gConfigWidget, nullptr);
  const auto loops = xphost::FlightLoops();
  EXPECT_TRUE(loops.empty()) << "the rebuild callback is unregistered at clean-up";
}

}  // namespace
