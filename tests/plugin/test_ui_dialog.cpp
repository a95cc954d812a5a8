// The configuration dialog: what each key and token state shows, its actions
// without a service that answers, the write failures, and the in-place rebuild
// after a press.
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
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr char kStatusHeading[] = "Connection Status:";

// What each state shows under the status heading; buttons in brackets.
const Lines kNoKeyRows = {"API Key: Not configured", "[Activate API Key]"};
const Lines kKeyOnlyRows = {"API Key: Configured", "Connection: Not established", "[Activate Connection]"};
Lines ActivatedRows(const char* connection, const char* backoff) {
  return {"API Key: Configured", connection, backoff, "[Deactivate]", "[Change API Key]"};
}

class ConfigDialog : public tralix_test::PluginTest {
 protected:
  // Without a service, activation must fail quickly and the same way whatever
  // the service client does: its URL object cannot be made.
  static void MakeActivationFail() { CFStandInFailNextCalls("CFURLCreateWithString", 1); }

  static void Build(int x = 100, int y = 700) { CreateConfigWidget(x, y, 550, 400); }

  static xphost::WidgetInfo Info(void* widget) {
    xphost::WidgetInfo info;
    EXPECT_TRUE(xphost::GetWidget(widget, &info));
    return info;
  }

  // The rows under the status heading, buttons in brackets.
  static Lines StatusRows() {
    Lines rows;
    bool below = false;
    for (void* id : Info(gConfigWidget).children) {
      const xphost::WidgetInfo child = Info(id);
      if (below) rows.push_back(child.widgetClass == xpWidgetClass_Button ? "[" + child.descriptor + "]" : child.descriptor);
      below = below || child.descriptor == kStatusHeading;
    }
    return rows;
  }

  // Every control lies inside the dialog, and none covers another.
  static void ExpectTidyLayout() {
    const xphost::WidgetInfo root = Info(gConfigWidget);
    std::vector<xphost::WidgetInfo> children;
    for (void* id : root.children) children.push_back(Info(id));
    for (size_t i = 0; i < children.size(); ++i) {
      const xphost::WidgetInfo& a = children[i];
      EXPECT_TRUE(a.left >= root.left && a.right <= root.right && a.top <= root.top && a.bottom >= root.bottom)
          << a.descriptor;
      for (size_t j = i + 1; j < children.size(); ++j) {
        const xphost::WidgetInfo& b = children[j];
        const bool overlap = a.left < b.right && b.left < a.right && a.bottom < b.top && b.bottom < a.top;
        EXPECT_FALSE(overlap) << a.descriptor << " / " << b.descriptor;
      }
    }
  }

  // Clicks the button as the user would and returns what was logged.
  static Lines Press(void* button) {
    const size_t before = xphost::LogLines().size();
    EXPECT_TRUE(xphost::ClickWidget(button));
    return tralix_test::LogLinesSince(before);
  }

  static bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  static void NextFrame() { xphost::RunFrame(0.05); }
};

TEST_F(ConfigDialog, EachKeyAndTokenStateShowsItsStatusAndActions) {
  struct Case {
    const char* name;
    const char* key;
    const char* token;
    int busy;
    float backoff;
    Lines rows;
  };
  const Case cases[] = {
      {"no key", "", "", 0, 0.0f, kNoKeyRows},
      {"no key, stray token", "", "tok", 1, 4.0f, kNoKeyRows},
      {"key only", "tlx_key", "", 0, 0.0f, kKeyOnlyRows},
      {"key and token, idle", "tlx_key", "tok", 0, 0.0f, ActivatedRows("Connection: Ready", "Backoff: 0.0 sec")},
      {"key and token, busy", "tlx_key", "tok", 1, 2.5f, ActivatedRows("Connection: Busy", "Backoff: 2.5 sec")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoreKeyAndToken(c.key, c.token);
    gNetworkBusy = c.busy;
    gBackoffTime = c.backoff;
    Build();

    const xphost::WidgetInfo root = Info(gConfigWidget);
    EXPECT_EQ(root.widgetClass, xpWidgetClass_MainWindow);
    EXPECT_TRUE(root.root && root.visible);
    EXPECT_EQ(xphost::WidgetProperty(gConfigWidget, xpProperty_MainWindowHasCloseBoxes), 1);
    EXPECT_EQ(StatusRows(), c.rows);
    ExpectTidyLayout();

    EXPECT_EQ(Info(gApiKeyEdit).widgetClass, xpWidgetClass_TextField);
    EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), c.key);
    const auto firstButton = std::find_if(c.rows.begin(), c.rows.end(), [](const std::string& row) { return row[0] == '['; });
    EXPECT_EQ("[" + xphost::WidgetDescriptor(gActivateButton) + "]", *firstButton);
    EXPECT_EQ(gClearButton != nullptr, c.rows.back() == "[Change API Key]");
    for (void* id : root.children) {
      if (Info(id).widgetClass != xpWidgetClass_Button) continue;
      EXPECT_EQ(xphost::WidgetProperty(id, xpProperty_ButtonType), xpPushButton) << xphost::WidgetDescriptor(id);
    }
  }
  EXPECT_EQ(xphost::FindWidgets(Info(gConfigWidget).descriptor.c_str()).size(), 1u)
      << "each build replaces the previous dialog";
}

TEST_F(ConfigDialog, StatusRowsAreASnapshotOfWhenTheDialogWasBuilt) {
  StoreKeyAndToken("tlx_key", "tok");
  Build();
  gNetworkBusy = 1;
  gBackoffTime = 8.0f;
  NextFrame();
  EXPECT_EQ(StatusRows(), ActivatedRows("Connection: Ready", "Backoff: 0.0 sec"));
}

TEST_F(ConfigDialog, ActivateWithAnEmptyOrBlankFieldChangesNothing) {
  Build();
  const void* const root = gConfigWidget;
  for (const char* field : {"", "   ", " \t \r\n"}) {
    SCOPED_TRACE(std::string("field \"") + field + "\"");
    XPSetWidgetDescriptor(gApiKeyEdit, field);
    EXPECT_TRUE(Has(Press(gActivateButton), "Tralix - ERROR: No API key entered"));
    NextFrame();
    EXPECT_EQ(gConfigWidget, root) << "not rebuilt";
    EXPECT_STREQ(gApiKey, "");
  }
  EXPECT_EQ(ConfigText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
}

TEST_F(ConfigDialog, AFailedActivationKeepsTheTrimmedKeyAndRebuildsOnTheNextFrame) {
  Build(120, 650);
  void* const oldRoot = gConfigWidget;
  XPSetWidgetDescriptor(gApiKeyEdit, "  tlx_new_key \n");
  MakeActivationFail();
  const Lines logged = Press(gActivateButton);
  EXPECT_TRUE(Has(logged, "Tralix - API key saved to config successfully"));
  EXPECT_TRUE(Has(logged, "Tralix - Failed to activate API key"));
  EXPECT_STREQ(gApiKey, "tlx_new_key");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_NE(ConfigText().find("API_KEY=tlx_new_key\n"), std::string::npos);

  // The pressed button and its dialog outlive the press; the rebuild follows
  // on the next frame, in the same place.
  EXPECT_EQ(gConfigWidget, oldRoot);
  EXPECT_EQ(StatusRows(), kNoKeyRows);
  NextFrame();
  EXPECT_NE(gConfigWidget, oldRoot);
  xphost::WidgetInfo gone;
  EXPECT_FALSE(xphost::GetWidget(oldRoot, &gone));
  EXPECT_EQ(StatusRows(), kKeyOnlyRows);
  EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), "tlx_new_key");
  const xphost::WidgetInfo root = Info(gConfigWidget);
  EXPECT_TRUE(root.visible);
  EXPECT_EQ(root.left, 120);
  EXPECT_EQ(root.top, 650);
  NextFrame();
  EXPECT_EQ(xphost::FindWidgets(root.descriptor.c_str()).size(), 1u) << "one rebuild per press";
}

TEST_F(ConfigDialog, WithNoKeyStoredAKeyTheFileRefusesIsNotTaken) {
  Build();
  MakeConfigUnwritable();
  XPSetWidgetDescriptor(gApiKeyEdit, "tlx_new_key");
  EXPECT_TRUE(Has(Press(gActivateButton), "Tralix - ERROR: Failed to save API key to config file"));
  EXPECT_STREQ(gApiKey, "");
  NextFrame();
  EXPECT_EQ(StatusRows(), kNoKeyRows);
}

TEST_F(ConfigDialog, ActivateConnectionUsesTheStoredKeyOrTheChangedField) {
  struct Case {
    const char* field;
    bool writable;
    const char* reported;  // null: the key is not written
    const char* keyAfter;
    const char* fileKeyAfter;
  };
  const Case cases[] = {
      {"", true, nullptr, "tlx_old", "tlx_old"},
      {" tlx_old ", true, nullptr, "tlx_old", "tlx_old"},
      {"tlx_other\t", true, "Tralix - Updated API key in config", "tlx_other", "tlx_other"},
      {"tlx_other", false, "Tralix - ERROR: Failed to update API key in config", "tlx_other", "tlx_old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("field \"") + c.field + (c.writable ? "\"" : "\", file unwritable"));
    UseConfigFile();
    StoreKeyAndToken("tlx_old", "");
    Build();
    XPSetWidgetDescriptor(gApiKeyEdit, c.field);
    if (!c.writable) MakeConfigUnwritable();
    MakeActivationFail();
    const Lines logged = Press(gActivateButton);
    EXPECT_TRUE(Has(logged, "Tralix - Failed to activate connection"));
    if (c.reported) {
      EXPECT_TRUE(Has(logged, c.reported));
    } else {
      EXPECT_FALSE(Has(logged, "Tralix - Updated API key in config")) << "an unchanged key is not written";
    }
    EXPECT_STREQ(gApiKey, c.keyAfter);
    EXPECT_STREQ(gDataKeyToken, "");
    EXPECT_NE(ConfigText().find(std::string("API_KEY=") + c.fileKeyAfter + "\n"), std::string::npos);
    NextFrame();
    EXPECT_EQ(StatusRows(), kKeyOnlyRows);
  }
}

TEST_F(ConfigDialog, DeactivateKeepsTheKeyAndClearsTheWholeToken) {
  StoreKeyAndToken("tlx_key", "tok_123");
  Build();
  EXPECT_TRUE(Has(Press(gActivateButton), "Tralix - Connection deactivated and token cleared"));
  EXPECT_TRUE(std::all_of(gDataKeyToken, gDataKeyToken + sizeof(gDataKeyToken), [](char c) { return c == 0; }));
  EXPECT_STREQ(gApiKey, "tlx_key");
  EXPECT_EQ(ConfigText(), "API_KEY=tlx_key\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(StatusRows(), kKeyOnlyRows);
  EXPECT_EQ(gClearButton, nullptr);
  ExpectTidyLayout();
}

TEST_F(ConfigDialog, ChangeClearsKeyTokenFieldAndFile) {
  StoreKeyAndToken("tlx_key", "tok_123");
  Build();
  Press(gClearButton);
  EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), "") << "emptied at once";
  EXPECT_STREQ(gApiKey, "");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_EQ(ConfigText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(StatusRows(), kNoKeyRows);
}

TEST_F(ConfigDialog, FailedTokenAndKeyClearingIsReportedNotCalledSuccess) {
  struct Case {
    bool pressChange;
    const char* reported;
  };
  const Case cases[] = {
      {false, "Tralix - ERROR: Connection deactivated but failed to clear token in config"},
      {true, "Tralix - ERROR: API key and token cleared but failed to clear them in config"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pressChange ? "change" : "deactivate");
    UseConfigFile();
    StoreKeyAndToken("tlx_key", "tok_123");
    Build();
    MakeConfigUnwritable();
    EXPECT_TRUE(Has(Press(c.pressChange ? gClearButton : gActivateButton), c.reported));
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
  ASSERT_EQ(Info(gConfigWidget).left, 485);
  ASSERT_EQ(Info(gConfigWidget).top, 640);
  Press(gActivateButton);
  NextFrame();
  const xphost::WidgetInfo root = Info(gConfigWidget);
  EXPECT_EQ(root.left, 485);
  EXPECT_EQ(root.top, 640);
  EXPECT_EQ(root.right, 1035);
  EXPECT_EQ(root.bottom, 240);
  EXPECT_EQ(StatusRows(), kKeyOnlyRows);
  ExpectTidyLayout();
}

TEST_F(ConfigDialog, AFieldTextThatFillsTheBufferIsReadAsIts255FirstBytes) {
  Build();
  const std::string longKey = "k" + std::string(298, 'x') + "z";
  XPSetWidgetDescriptor(gApiKeyEdit, longKey.c_str());
  MakeActivationFail();
  Press(gActivateButton);
  EXPECT_EQ(std::string(gApiKey), longKey.substr(0, 255));
  EXPECT_NE(ConfigText().find("API_KEY=" + longKey.substr(0, 255) + "\n"), std::string::npos);
}

TEST_F(ConfigDialog, CloseBoxHidesAndOtherMessagesAndButtonsAreNotTaken) {
  Build();
  const auto send = [](int message, void* param) {
    return ConfigWidgetHandler(message, gConfigWidget, reinterpret_cast<intptr_t>(param), 0);
  };
  EXPECT_EQ(send(xpMessage_CloseButtonPushed, gConfigWidget), 1);
  EXPECT_FALSE(Info(gConfigWidget).visible);
  EXPECT_EQ(send(xpMsg_PushButtonPressed, xphost::FindWidget("Paste", xpWidgetClass_Button)), 0);
  EXPECT_EQ(send(xpMsg_PushButtonPressed, nullptr), 0);
  EXPECT_EQ(send(xpMsg_MouseDown, nullptr), 0);
  EXPECT_EQ(send(xpMsg_TextFieldChanged, gApiKeyEdit), 0);
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
  EXPECT_EQ(xphost::FindWidgets(Info(gConfigWidget).descriptor.c_str()).size(), 1u);
  EXPECT_EQ(StatusRows(), kKeyOnlyRows);

  Press(gActivateButton);
  CleanupUI();
  NextFrame();
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
  EXPECT_EQ(gConfigWidget, nullptr);
  EXPECT_TRUE(xphost::FlightLoops().empty()) << "the rebuild callback is unregistered at clean-up";
}

}  // namespace
