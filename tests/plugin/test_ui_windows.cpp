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

void* ItemRef(long item) { return reinterpret_cast<void*>(static_cast<intptr_t>(item)); }

class UiWindows : public testing::Test {
 protected:
  void SetUp() override {
    ResetUi();
    std::memset(gApiKey, 0, sizeof(gApiKey));
    std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
    gNetworkBusy = 0;
    gBackoffTime = 0.0f;
  }

  // The state of a freshly loaded plug-in, also when every test runs in one process.
  static void ResetUi() {
    CleanupUI();
    xphost::Reset();
    gShowLiveData = gShowStatus = gShowConfig = 0;
  }

  // Picks Tralix > item and returns what it logged.
  static Lines Pick(const std::string& item) {
    const size_t before = xphost::LogLines().size();
    EXPECT_TRUE(xphost::PickMenuItem({"Tralix", item}));
    return tralix_test::LogLinesSince(before);
  }

  static xphost::WindowInfo Window(void* id) {
    xphost::WindowInfo info;
    EXPECT_TRUE(xphost::GetWindow(id, &info));
    return info;
  }

  static Lines Drawn(void* window) {
    xphost::DrawWindows();
    return xphost::DrawnLines(window);
  }

  static void* DialogRoot() { return xphost::FindWidget("Tralix Client", xpWidgetClass_MainWindow); }
};

TEST_F(UiWindows, InitBuildsTheTralixSubmenuWithNumberedItems) {
  InitUI();
  EXPECT_EQ(xphost::LogLines(), Lines{"Tralix - UI initialized successfully"});

  const auto plugins = xphost::MenuItems({});
  ASSERT_EQ(plugins.size(), 1u);
  EXPECT_EQ(plugins[0].name, "Tralix");
  EXPECT_EQ(plugins[0].itemRef, nullptr);
  EXPECT_TRUE(plugins[0].hasSubmenu);
  EXPECT_EQ(gMenuContainerIdx, 0);
  EXPECT_NE(gTralixMenuID, nullptr);

  const auto items = xphost::MenuItems({"Tralix"});
  ASSERT_EQ(items.size(), 3u);
  const char* names[] = {"Live Data", "Connection Status", "Configuration"};
  for (long i = 0; i < 3; ++i) {
    EXPECT_EQ(items[static_cast<size_t>(i)].name, names[i]);
    EXPECT_EQ(items[static_cast<size_t>(i)].itemRef, ItemRef(i));
  }
}

TEST_F(UiWindows, EachInformationWindowIsCreatedOnceAtItsPlaceAndTheMenuFlipsItsVisibility) {
  struct Case {
    const char* item;
    XPLMWindowID* handle;
    Lines firstPick;
    const char* visibilityPrefix;
    int left, top, right, bottom;
  };
  const Case cases[] = {
      {"Live Data",
       &gLiveDataWindow,
       {"Tralix - Menu handler called with item: 0", "Tralix - Screen size: 1920x1080",
        "Tralix - Live Data menu item selected", "Tralix - Creating Live Data window",
        "Tralix - Creating window: Tralix Live Data at (50,1030,350,830)",
        "Tralix - Window created successfully: Tralix Live Data", "Tralix - Live Data window created successfully",
        "Tralix - Live Data window visibility set to: visible"},
       "Tralix - Live Data window visibility set to: ",
       50, 1030, 350, 830},
      {"Connection Status",
       &gStatusWindow,
       {"Tralix - Menu handler called with item: 1", "Tralix - Screen size: 1920x1080",
        "Tralix - Connection Status menu item selected", "Tralix - Creating Status window",
        "Tralix - Creating window: Tralix Status at (370,1030,670,830)",
        "Tralix - Window created successfully: Tralix Status", "Tralix - Status window created successfully",
        "Tralix - Status window visibility set to: visible"},
       "Tralix - Status window visibility set to: ",
       370, 1030, 670, 830},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    ResetUi();
    InitUI();

    EXPECT_EQ(Pick(c.item), c.firstPick);
    ASSERT_NE(*c.handle, nullptr);
    const xphost::WindowInfo window = Window(*c.handle);
    EXPECT_EQ(window.structSize, 72);
    EXPECT_EQ(window.left, c.left);
    EXPECT_EQ(window.top, c.top);
    EXPECT_EQ(window.right, c.right);
    EXPECT_EQ(window.bottom, c.bottom);
    EXPECT_TRUE(window.visible);

    void* const first = *c.handle;
    const Lines second = Pick(c.item);
    EXPECT_EQ(second.back(), std::string(c.visibilityPrefix) + "hidden");
    EXPECT_EQ(second.size(), 4u);
    EXPECT_FALSE(Window(first).visible);
    EXPECT_EQ(Pick(c.item).back(), std::string(c.visibilityPrefix) + "visible");
    EXPECT_TRUE(Window(first).visible);
    EXPECT_EQ(*c.handle, first);
    EXPECT_EQ(xphost::Windows().size(), 1u);
  }
}

TEST_F(UiWindows, WindowPositionFollowsTheScreenHeightAtCreationOnly) {
  xphost::SetScreenSize(1024, 768);
  InitUI();
  Pick("Connection Status");
  EXPECT_EQ(Window(gStatusWindow).top, 718);
  EXPECT_EQ(Window(gStatusWindow).bottom, 518);
  xphost::SetScreenSize(1920, 1080);
  Pick("Connection Status");
  Pick("Connection Status");
  EXPECT_EQ(Window(gStatusWindow).top, 718);
}

TEST_F(UiWindows, UnknownItemLogsOnlyTheHandlerScreenAndUnknownLines) {
  InitUI();
  for (long item : {3L, 7L, -1L}) {
    const size_t before = xphost::LogLines().size();
    TralixMenuHandler(nullptr, ItemRef(item));
    EXPECT_EQ(tralix_test::LogLinesSince(before),
              (Lines{"Tralix - Menu handler called with item: " + std::to_string(item),
                     "Tralix - Screen size: 1920x1080", "Tralix - Unknown menu item: " + std::to_string(item)}));
  }
  EXPECT_TRUE(xphost::Windows().empty());
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
}

TEST_F(UiWindows, InformationWindowsLetClicksAndWheelTurnsThrough) {
  InitUI();
  Pick("Live Data");
  Pick("Connection Status");
  EXPECT_EQ(xphost::ClickAt(200, 930), nullptr);
  EXPECT_EQ(xphost::ClickAt(500, 930), nullptr);
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

  const auto strings = xphost::DrawnStrings(gStatusWindow);
  for (size_t i = 0; i < strings.size(); ++i) {
    EXPECT_EQ(strings[i].x, 380);
    EXPECT_EQ(strings[i].y, 1030 - 20 * static_cast<int>(i + 1));
    EXPECT_EQ(strings[i].font, 18);
    EXPECT_FALSE(strings[i].hasWrapWidth);
    EXPECT_EQ(strings[i].color, (std::array<float, 3>{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(strings[i].graphicsState, (std::array<int, 7>{0, 0, 0, 0, 1, 1, 0}));
  }
}

TEST_F(UiWindows, LiveDataShowsPositionAltitudeInFeetAndGroundSpeedInKnots) {
  xphost::SetDataf("sim/flightmodel/position/latitude", 47.5f);
  xphost::SetDataf("sim/flightmodel/position/longitude", -122.25f);
  xphost::SetDataf("sim/flightmodel/position/elevation", 1000.0f);
  // The dataref is published in knots: drawn as read, rounded.
  xphost::SetDataf("sim/cockpit/radios/gps_dme_speed_kts", 87.6f);
  gPlaneLat = XPLMFindDataRef("sim/flightmodel/position/latitude");
  gPlaneLon = XPLMFindDataRef("sim/flightmodel/position/longitude");
  gPlaneEl = XPLMFindDataRef("sim/flightmodel/position/elevation");
  gPlaneGroundSpeed = XPLMFindDataRef("sim/cockpit/radios/gps_dme_speed_kts");
  InitUI();
  Pick("Live Data");

  EXPECT_EQ(Drawn(gLiveDataWindow), (Lines{"Lat: 47.500000", "Lon: -122.250000", "Alt: 3281 ft", "GS: 88 kt"}));
  const auto strings = xphost::DrawnStrings(gLiveDataWindow);
  ASSERT_EQ(strings.size(), 4u);
  for (size_t i = 0; i < strings.size(); ++i) {
    EXPECT_EQ(strings[i].x, 60);
    EXPECT_EQ(strings[i].y, 1030 - 20 * static_cast<int>(i + 1));
    EXPECT_EQ(strings[i].font, 18);
  }

  Pick("Live Data");
  EXPECT_TRUE(Drawn(gLiveDataWindow).empty());
}

TEST_F(UiWindows, LiveDataReadsOnlyHandlesThatExist) {
  xphost::SetDataf("sim/flightmodel/position/latitude", 10.0f);
  gPlaneLat = XPLMFindDataRef("sim/flightmodel/position/latitude");
  gPlaneLon = gPlaneEl = gPlaneGroundSpeed = nullptr;
  InitUI();
  Pick("Live Data");
  EXPECT_EQ(Drawn(gLiveDataWindow), (Lines{"Lat: 10.000000", "Lon: 0.000000", "Alt: 0 ft", "GS: 0 kt"}));
  EXPECT_EQ(xphost::NullDataRefReads(), 0);
}

TEST_F(UiWindows, ConfigurationIsCentredOnTheScreenWithTruncatingDivisions) {
  struct Case {
    int width, height;
    int left, top;
  };
  const Case cases[] = {{1920, 1080, 685, 740}, {549, 399, 0, 399}, {550, 400, 0, 400}, {1025, 769, 237, 585}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    ResetUi();
    xphost::SetScreenSize(c.width, c.height);
    InitUI();
    Pick("Configuration");
    xphost::WidgetInfo root;
    ASSERT_TRUE(xphost::GetWidget(DialogRoot(), &root));
    EXPECT_EQ(root.left, c.left);
    EXPECT_EQ(root.top, c.top);
    EXPECT_EQ(root.right, c.left + 550);
    EXPECT_EQ(root.bottom, c.top - 400);
  }
}

TEST_F(UiWindows, ConfigurationItemShowsAndHidesTheDialogAndTheCloseBoxOnlyHidesIt) {
  InitUI();
  EXPECT_EQ(Pick("Configuration"),
            (Lines{"Tralix - Menu handler called with item: 2", "Tralix - Screen size: 1920x1080",
                   "Tralix - Configuration menu item selected", "Tralix - Creating Config widget",
                   "Tralix - Config widget shown"}));
  void* const root = DialogRoot();
  ASSERT_EQ(root, gConfigWidget);
  xphost::WidgetInfo info;
  ASSERT_TRUE(xphost::GetWidget(root, &info));
  EXPECT_TRUE(info.visible);

  EXPECT_EQ(Pick("Configuration").back(), "Tralix - Config widget hidden");
  ASSERT_TRUE(xphost::GetWidget(root, &info));
  EXPECT_FALSE(info.visible);
  EXPECT_EQ(Pick("Configuration").back(), "Tralix - Config widget shown");

  // The close box hides without touching the menu's flag, so the next pick
  // "hides" the hidden dialog and the one after shows it again.
  ASSERT_TRUE(xphost::ClickCloseBox(root));
  ASSERT_TRUE(xphost::GetWidget(root, &info));
  EXPECT_FALSE(info.visible);
  EXPECT_EQ(gShowConfig, 1);
  EXPECT_EQ(Pick("Configuration").back(), "Tralix - Config widget hidden");
  ASSERT_TRUE(xphost::GetWidget(root, &info));
  EXPECT_FALSE(info.visible);
  EXPECT_EQ(Pick("Configuration").back(), "Tralix - Config widget shown");
  ASSERT_TRUE(xphost::GetWidget(root, &info));
  EXPECT_TRUE(info.visible);
  EXPECT_EQ(DialogRoot(), root) << "the dialog is built once";
}

TEST_F(UiWindows, CleanupWithNothingCreatedLogsOnlyItsLine) {
  CleanupUI();
  EXPECT_EQ(xphost::LogLines(), Lines{"Tralix - UI cleaned up successfully"});
  InitUI();
  xphost::ClearLog();
  CleanupUI();
  EXPECT_EQ(xphost::LogLines(), Lines{"Tralix - UI cleaned up successfully"});
}

TEST_F(UiWindows, CleanupRemovesMenuWindowsAndDialogAndAReloadLeavesOneTralixItem) {
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
  EXPECT_EQ(gTralixMenuID, nullptr);
  EXPECT_EQ(gLiveDataWindow, nullptr);
  EXPECT_EQ(gStatusWindow, nullptr);
  EXPECT_EQ(gConfigWidget, nullptr);
  EXPECT_EQ(gApiKeyEdit, nullptr);
  EXPECT_EQ(gActivateButton, nullptr);
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - UI cleaned up successfully");
  // The menu's own flags stay as they were.
  EXPECT_EQ(gShowLiveData, 0);
  EXPECT_EQ(gShowStatus, 1);
  EXPECT_EQ(gShowConfig, 1);

  InitUI();
  const auto plugins = xphost::MenuItems({});
  ASSERT_EQ(plugins.size(), 1u);
  EXPECT_EQ(plugins[0].name, "Tralix");
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
    ResetUi();
    const fs::path folder = fs::path(tralix_test::FreshScratchDir()) / "Tralix/lin_x64";
    fs::create_directories(folder);
    fs::copy_file(shipped, folder / "Tralix.xpl");
    tralix_test::WriteFile((folder / "Tralix.cfg").string(), "API_KEY=tlx_key\nDATA_KEY_TOKEN=tok_1\n");
    tralix_test::PublishCoreDataRefs();
    xphost::LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(xphost::LoadPlugin((folder / "Tralix.xpl").string(), &plugin, &error)) << error;
    ASSERT_TRUE(plugin.started);

    ASSERT_TRUE(xphost::PickMenuItem({"Tralix", "Live Data"}));
    ASSERT_TRUE(xphost::PickMenuItem({"Tralix", "Connection Status"}));
    ASSERT_TRUE(xphost::PickMenuItem({"Tralix", "Configuration"}));
    ASSERT_TRUE(xphost::ClickWidget(xphost::FindWidget("Deactivate", xpWidgetClass_Button)));
    if (!rebuildStillPending) {
      xphost::RunFrame(0.01);
      ASSERT_NE(xphost::FindWidget("Activate Connection", xpWidgetClass_Button), nullptr);
    }

    xphost::UnloadPlugin();
    const xphost::UnloadLeftovers leftovers = xphost::LastUnloadLeftovers();
    EXPECT_EQ(leftovers.flightLoops, 0);
    EXPECT_EQ(leftovers.windows, 0);
    EXPECT_EQ(leftovers.widgetCallbacks, 0);
    EXPECT_EQ(leftovers.menuHandlers, 0);
    EXPECT_TRUE(xphost::MenuItems({}).empty());
    EXPECT_EQ(xphost::LiveWidgetCount(), 0);
    EXPECT_TRUE(xphost::Windows().empty());
  }
}

}  // namespace
