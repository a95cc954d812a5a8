// The Tralix submenu, the Live Data and Connection Status windows, the menu's
// handling of the configuration dialog, and the clean-up at stop (what the
// shipped binary leaves at unload is checked in tests/e2e).
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "UI.h"

#include "XPLMDataAccess.h"
#include "XPStandardWidgets.h"

#include <cstring>

namespace {

using tralix_test::Lines;

class UiWindows : public tralix_test::UiTest {
 protected:
  // What the window draws in the next frame, top to bottom; every string
  // must lie inside the window.
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

  static xphost::WidgetInfo Dialog() { return tralix_test::Widget(gConfigWidget); }
};

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
    for (const bool visible : {true, false, true}) {
      EXPECT_EQ(Window(first).visible, visible);
      Pick(item);
    }
    EXPECT_EQ(*handle, first);
    EXPECT_EQ(xphost::Windows().size(), 1u);
    // Clicks and wheel turns go through to the simulator.
    const xphost::WindowInfo frame = Window(first);
    EXPECT_EQ(xphost::ClickAt((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2), nullptr);
  }
  for (long item : {3L, 7L, -1L}) TralixMenuHandler(nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(item)));
  EXPECT_EQ(xphost::Windows().size(), 1u) << "an unknown item creates nothing";
  EXPECT_EQ(gConfigWidget, nullptr);
}

TEST_F(UiWindows, StatusWindowShowsOneTwoOrThreeLinesReadAfreshEachFrame) {
  InitUI();
  Pick("Connection Status");
  for (const tralix_test::ConnectionState& c : tralix_test::kConnectionStates) {
    SCOPED_TRACE(std::string(c.key) + "/" + c.token);
    std::strcpy(gApiKey, c.key);
    std::strcpy(gDataKeyToken, c.token);
    gNetworkBusy = c.busy;
    gBackoffTime = c.backoff;
    EXPECT_EQ(Drawn(gStatusWindow), c.status);
  }
}

// Altitude in feet, ground speed in knots from X-Plane's m/s; a dataref the
// simulator lacks reads as 0 without a null handle reaching the host.
TEST_F(UiWindows, LiveDataShowsPositionAltitudeInFeetAndGroundSpeedInKnots) {
  xphost::SetDataf("sim/flightmodel/position/latitude", 47.5f);
  xphost::SetDataf("sim/flightmodel/position/longitude", -122.25f);
  xphost::SetDataf("sim/flightmodel/position/elevation", 1000.0f);
  xphost::SetDataf("sim/flightmodel/position/groundspeed", 45.0f);
  FindCoreDataRefs();
  InitUI();
  Pick("Live Data");
  EXPECT_EQ(Drawn(gLiveDataWindow), (Lines{"Lat: 47.500000", "Lon: -122.250000", "Alt: 3281 ft", "GS: 87 kt"}));

  xphost::RemoveDataRef("sim/flightmodel/position/longitude");
  xphost::RemoveDataRef("sim/flightmodel/position/groundspeed");
  FindCoreDataRefs();
  EXPECT_EQ(Drawn(gLiveDataWindow), (Lines{"Lat: 47.500000", "Lon: 0.000000", "Alt: 3281 ft", "GS: 0 kt"}));
  EXPECT_EQ(xphost::NullDataRefReads(), 0);
  Pick("Live Data");
  EXPECT_TRUE(Drawn(gLiveDataWindow).empty());
}

// Centred on the screen, and never off its top-left corner on a small one.
TEST_F(UiWindows, ConfigurationIsCentredOnTheScreen) {
  const int cases[][4] = {{1920, 1080, 685, 740}, {549, 399, 0, 399}};
  for (const auto& [width, height, left, top] : cases) {
    SCOPED_TRACE(width);
    SetUp();
    xphost::SetScreenSize(width, height);
    InitUI();
    Pick("Configuration");
    EXPECT_EQ(Dialog().left, left);
    EXPECT_EQ(Dialog().top, top);
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
  for (const char* item : {"Live Data", "Connection Status", "Configuration"}) Pick(item);
  CleanupUI();
  for (void* handle : {static_cast<void*>(gTralixMenuID), gLiveDataWindow, gStatusWindow, gConfigWidget, gApiKeyEdit,
                       gActivateButton})
    EXPECT_EQ(handle, nullptr);

  CleanupUI();
  InitUI();
  EXPECT_EQ(xphost::MenuItems({}).size(), 1u);
  EXPECT_EQ(xphost::MenuItems({"Tralix"}).size(), 3u);
}

}  // namespace
