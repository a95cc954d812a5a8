// The Tralix submenu, the Live Data and Connection Status windows, the menu's
// handling of the configuration dialog, and the clean-up at stop.
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "UI.h"
#include "XPHostControl.h"

#include "XPLMDataAccess.h"
#include "XPStandardWidgets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

class UiWindows : public tralix_test::PluginTest {
 protected:
  static void Pick(const std::string& item) { EXPECT_TRUE(xphost::PickMenuItem({"Tralix", item})); }

  static xphost::WindowInfo Window(void* id) {
    xphost::WindowInfo info;
    EXPECT_TRUE(xphost::GetWindow(id, &info));
    return info;
  }

  // What the window draws in the next frame; every string inside it, top to bottom.
  static Lines Drawn(void* window) {
    xphost::DrawWindows();
    const xphost::WindowInfo frame = Window(window);
    int above = frame.top;
    for (const xphost::DrawnString& text : xphost::DrawnStrings(window)) {
      EXPECT_TRUE(text.x > frame.left && text.x < frame.right && text.y < above && text.y > frame.bottom) << text.text;
      above = text.y;
    }
    return xphost::DrawnLines(window);
  }

  static xphost::WidgetInfo Dialog() {
    xphost::WidgetInfo root;
    EXPECT_TRUE(xphost::GetWidget(gConfigWidget, &root));
    return root;
  }
};

TEST_F(UiWindows, InitBuildsTheTralixSubmenu) {
  InitUI();
  const auto plugins = xphost::MenuItems({});
  ASSERT_EQ(plugins.size(), 1u);
  EXPECT_EQ(plugins[0].name, "Tralix");
  EXPECT_TRUE(plugins[0].hasSubmenu);
  Lines items;
  for (const xphost::MenuItemInfo& item : xphost::MenuItems({"Tralix"})) items.push_back(item.name);
  EXPECT_EQ(items, (Lines{"Live Data", "Connection Status", "Configuration"}));
}

TEST_F(UiWindows, EachInformationWindowIsCreatedOnceAndTheMenuFlipsItsVisibility) {
  const std::pair<const char*, XPLMWindowID*> windows[] = {{"Live Data", &gLiveDataWindow},
                                                           {"Connection Status", &gStatusWindow}};
  for (const auto& [item, handle] : windows) {
    SCOPED_TRACE(item);
    SetUp();
    InitUI();
    Pick(item);
    ASSERT_NE(*handle, nullptr);
    void* const first = *handle;
    EXPECT_TRUE(Window(first).visible);
    Pick(item);
    EXPECT_FALSE(Window(first).visible);
    Pick(item);
    EXPECT_TRUE(Window(first).visible);
    EXPECT_EQ(*handle, first);
    EXPECT_EQ(xphost::Windows().size(), 1u);
  }
}

TEST_F(UiWindows, WindowsArePlacedOnTheScreenAtCreationOnlyAndApart) {
  xphost::SetScreenSize(1024, 768);
  InitUI();
  Pick("Live Data");
  Pick("Connection Status");
  const xphost::WindowInfo live = Window(gLiveDataWindow);
  const xphost::WindowInfo status = Window(gStatusWindow);
  for (const xphost::WindowInfo& window : {live, status})
    EXPECT_TRUE(window.left >= 0 && window.right <= 1024 && window.bottom >= 0 && window.top <= 768);
  EXPECT_LE(live.right, status.left) << "side by side";
  xphost::SetScreenSize(1920, 1080);
  Pick("Connection Status");
  Pick("Connection Status");
  EXPECT_EQ(Window(gStatusWindow).top, status.top);
}

TEST_F(UiWindows, UnknownItemCreatesNothing) {
  InitUI();
  for (long item : {3L, 7L, -1L}) {
    TralixMenuHandler(nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(item)));
    EXPECT_EQ(xphost::LogLines().back(), "Tralix - Unknown menu item: " + std::to_string(item));
  }
  EXPECT_TRUE(xphost::Windows().empty());
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
}

TEST_F(UiWindows, InformationWindowsLetClicksAndWheelTurnsThrough) {
  InitUI();
  Pick("Live Data");
  Pick("Connection Status");
  for (void* window : {gLiveDataWindow, gStatusWindow}) {
    const xphost::WindowInfo frame = Window(window);
    EXPECT_EQ(xphost::ClickAt((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2), nullptr);
  }
  EXPECT_EQ(dummy_wheel_handler(gLiveDataWindow, 200, 930, 0, 3, nullptr), 0);
  EXPECT_EQ(dummy_cursor_status_handler(gLiveDataWindow, 200, 930, nullptr), xplm_CursorDefault);
}

TEST_F(UiWindows, StatusWindowShowsOneTwoOrThreeLinesReadAfreshEachFrame) {
  struct Case {
    const char* key;
    const char* token;
    int busy;
    float backoff;
    Lines expected;
  };
  const Case cases[] = {
      {"", "", 0, 0.0f, {"API Key: Not configured"}},
      {"", "tok", 1, 3.0f, {"API Key: Not configured"}},
      {"key", "", 0, 0.0f, {"API Key: Configured", "Connection: Not established"}},
      {"key", "tok", 0, 0.0f, {"API Key: Configured", "Connection: Ready", "Backoff: 0.0 sec"}},
      {"key", "tok", 1, 3.0f, {"API Key: Configured", "Connection: Busy", "Backoff: 3.0 sec"}},
  };
  InitUI();
  Pick("Connection Status");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "/" + c.token);
    std::strcpy(gApiKey, c.key);
    std::strcpy(gDataKeyToken, c.token);
    gNetworkBusy = c.busy;
    gBackoffTime = c.backoff;
    EXPECT_EQ(Drawn(gStatusWindow), c.expected);
  }
}

TEST_F(UiWindows, LiveDataShowsPositionAltitudeInFeetAndGroundSpeedInKnots) {
  xphost::SetDataf("sim/flightmodel/position/latitude", 47.5f);
  xphost::SetDataf("sim/flightmodel/position/longitude", -122.25f);
  xphost::SetDataf("sim/flightmodel/position/elevation", 1000.0f);
  // The dataref is published in knots: drawn as read, rounded.
  xphost::SetDataf("sim/cockpit/radios/gps_dme_speed_kts", 87.6f);
  FindCoreDataRefs();
  InitUI();
  Pick("Live Data");
  EXPECT_EQ(Drawn(gLiveDataWindow), (Lines{"Lat: 47.500000", "Lon: -122.250000", "Alt: 3281 ft", "GS: 88 kt"}));
  Pick("Live Data");
  EXPECT_TRUE(Drawn(gLiveDataWindow).empty());
}

TEST_F(UiWindows, LiveDataReadsOnlyHandlesThatExist) {
  xphost::SetDataf("sim/flightmodel/position/latitude", 10.0f);
  FindCoreDataRefs();
  InitUI();
  Pick("Live Data");
  EXPECT_EQ(Drawn(gLiveDataWindow), (Lines{"Lat: 10.000000", "Lon: 0.000000", "Alt: 0 ft", "GS: 0 kt"}));
  EXPECT_EQ(xphost::NullDataRefReads(), 0);
}

TEST_F(UiWindows, ConfigurationIsCentredOnTheScreenWithTruncatingDivisions) {
  struct Case {
    int width, height, left, top;
  };
  const Case cases[] = {{1920, 1080, 685, 740}, {549, 399, 0, 399}, {550, 400, 0, 400}, {1025, 769, 237, 585}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    SetUp();
    xphost::SetScreenSize(c.width, c.height);
    InitUI();
    Pick("Configuration");
    const xphost::WidgetInfo root = Dialog();
    EXPECT_EQ(root.left, c.left);
    EXPECT_EQ(root.top, c.top);
    EXPECT_EQ(root.right, c.left + 550);
    EXPECT_EQ(root.bottom, c.top - 400);
  }
}

TEST_F(UiWindows, ConfigurationItemShowsAndHidesTheDialogAndTheCloseBoxOnlyHidesIt) {
  InitUI();
  Pick("Configuration");
  void* const root = gConfigWidget;
  ASSERT_NE(root, nullptr);
  // The close box hides without touching the menu's flag, so the pick after it
  // "hides" the hidden dialog and the next one shows it again.
  const std::pair<bool, bool> steps[] = {{false, false}, {false, true}, {true, false}, {false, false}, {false, true}};
  EXPECT_TRUE(Dialog().visible);
  for (const auto& [closeBox, visibleAfter] : steps) {
    if (closeBox) {
      ASSERT_TRUE(xphost::ClickCloseBox(root));
    } else {
      Pick("Configuration");
    }
    EXPECT_EQ(Dialog().visible, visibleAfter);
  }
  EXPECT_EQ(gConfigWidget, root) << "the dialog is built once";
}

TEST_F(UiWindows, CleanupRemovesMenuWindowsAndDialogAndAReloadLeavesOneTralixItem) {
  CleanupUI();  // nothing created yet
  InitUI();
  Pick("Live Data");
  Pick("Connection Status");
  Pick("Configuration");
  Pick("Live Data");
  ASSERT_GT(xphost::LiveWidgetCount(), 0);

  CleanupUI();
  EXPECT_EQ(xphost::LiveMenuCount(), 0);
  EXPECT_TRUE(xphost::MenuItems({}).empty());
  EXPECT_TRUE(xphost::Windows().empty());
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
  for (void* handle : {static_cast<void*>(gTralixMenuID), gLiveDataWindow, gStatusWindow, gConfigWidget, gApiKeyEdit,
                       gActivateButton})
    EXPECT_EQ(handle, nullptr);
  // The menu's own flags stay as they were.
  EXPECT_EQ(gShowLiveData, 0);
  EXPECT_EQ(gShowStatus, 1);
  EXPECT_EQ(gShowConfig, 1);

  CleanupUI();
  InitUI();
  EXPECT_EQ(xphost::MenuItems({}).size(), 1u);
  EXPECT_EQ(xphost::MenuItems({"Tralix"}).size(), 3u);
}

// The shipped module, loaded and unloaded by the host after its dialog was
// used: nothing of it may stay registered, or the host would call into
// unloaded code, and the Plugins menu keeps no "Tralix" item.
TEST_F(UiWindows, TheShippedPluginLeavesNothingBehindAtUnload) {
  namespace fs = std::filesystem;
  const fs::path shipped =
      fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path() / "Tralix/lin_x64/Tralix.xpl";
  if (!fs::exists(shipped)) GTEST_SKIP() << "Tralix.xpl is not built";

  for (const bool rebuildStillPending : {false, true}) {
    SCOPED_TRACE(rebuildStillPending ? "unloaded before the rebuild ran" : "unloaded after the rebuild");
    SetUp();
    const fs::path folder = fs::path(scratch_) / (rebuildStillPending ? "b" : "a") / "Tralix/lin_x64";
    fs::create_directories(folder);
    fs::copy_file(shipped, folder / "Tralix.xpl");
    tralix_test::WriteFile((folder / "Tralix.cfg").string(), "API_KEY=tlx_key\nDATA_KEY_TOKEN=tok_1\n");
    tralix_test::PublishCoreDataRefs();
    xphost::LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(xphost::LoadPlugin((folder / "Tralix.xpl").string(), &plugin, &error)) << error;
    ASSERT_TRUE(plugin.started);

    for (const char* item : {"Live Data", "Connection Status", "Configuration"})
      ASSERT_TRUE(xphost::PickMenuItem({"Tralix", item}));
    ASSERT_TRUE(xphost::ClickWidget(xphost::FindWidget("Deactivate", xpWidgetClass_Button)));
    if (!rebuildStillPending) {
      xphost::RunFrame(0.01);
      ASSERT_NE(xphost::FindWidget("Activate Connection", xpWidgetClass_Button), nullptr);
    }

    xphost::UnloadPlugin();
    const xphost::UnloadLeftovers leftovers = xphost::LastUnloadLeftovers();
    EXPECT_EQ(leftovers.flightLoops + leftovers.windows + leftovers.widgetCallbacks + leftovers.menuHandlers, 0);
    EXPECT_TRUE(xphost::MenuItems({}).empty());
    EXPECT_EQ(xphost::LiveWidgetCount(), 0);
    EXPECT_TRUE(xphost::Windows().empty());
  }
}

}  // namespace
