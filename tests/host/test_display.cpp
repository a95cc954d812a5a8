// Windows (both record sizes, drawing, click routing), menus and the log.
#include "XPHostControl.h"
#include "XPLMDisplay.h"
#include "XPLMGraphics.h"
#include "XPLMMenus.h"
#include "XPLMPlugin.h"
#include "XPLMUtilities.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

static_assert(sizeof(XPLMCreateWindow_t) == 72, "built at the plug-in's API level");

class HostDisplay : public ::testing::Test {
 protected:
  void SetUp() override { xphost::Reset(); }
};

// ---- windows --------------------------------------------------------------------------

void DrawTwoLines(XPLMWindowID window, void*) {
  XPLMSetGraphicsState(0, 0, 0, 0, 1, 1, 0);
  int left = 0, top = 0;
  XPLMGetWindowGeometry(window, &left, &top, nullptr, nullptr);
  float white[] = {1.0f, 1.0f, 1.0f};
  char first[] = "First line";
  char second[] = "Second line";
  XPLMDrawString(white, left + 10, top - 20, first, nullptr, xplmFont_Proportional);
  int wrap = 100;
  XPLMDrawString(white, left + 10, top - 40, second, &wrap, xplmFont_Basic);
}

void DrawWithoutState(XPLMWindowID, void*) {
  float red[] = {1.0f, 0.0f, 0.0f};
  char text[] = "stateless";
  XPLMDrawString(red, 0, 0, text, nullptr, xplmFont_Basic);
}

void DestroyWhileDrawing(XPLMWindowID window, void*) {
  XPLMDestroyWindow(window);
  DrawWithoutState(window, nullptr);
}

XPLMWindowID MakeWindow(int left, int top, int right, int bottom, XPLMDrawWindow_f draw,
                        XPLMHandleMouseClick_f click = nullptr, void* refcon = nullptr) {
  XPLMCreateWindow_t record{};
  record.structSize = sizeof record;
  record.left = left;
  record.top = top;
  record.right = right;
  record.bottom = bottom;
  record.visible = 1;
  record.drawWindowFunc = draw;
  record.handleMouseClickFunc = click;
  record.refcon = refcon;
  return XPLMCreateWindowEx(&record);
}

TEST_F(HostDisplay, ScreenSizeDefaultsToFullHdAndCanBeSet) {
  int width = 0, height = 0;
  XPLMGetScreenSize(&width, &height);
  EXPECT_EQ(width, 1920);
  EXPECT_EQ(height, 1080);
  xphost::SetScreenSize(1280, 721);
  XPLMGetScreenSize(&width, nullptr);
  XPLMGetScreenSize(nullptr, &height);
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 721);
}

// The later 88-byte record, laid out as a 3.x plug-in passes it.
struct LongWindowRecord {
  XPLMCreateWindow_t base;
  int decorateAsFloatingWindow;
  int layer;
  XPLMHandleMouseClick_f handleRightClickFunc;
};
static_assert(sizeof(LongWindowRecord) == 88, "");

TEST_F(HostDisplay, BothRecordSizesCreateWindowsAndShorterOnesAreRefused) {
  XPLMWindowID shortOne = MakeWindow(50, 1030, 350, 830, DrawTwoLines);
  LongWindowRecord longRecord{};
  longRecord.base.structSize = sizeof longRecord;
  longRecord.base.left = 1;
  longRecord.base.top = 20;
  longRecord.base.right = 30;
  longRecord.base.bottom = 2;
  longRecord.decorateAsFloatingWindow = 1;
  longRecord.layer = 2;
  XPLMWindowID longOne = XPLMCreateWindowEx(&longRecord.base);
  XPLMCreateWindow_t tooShort{};
  tooShort.structSize = 64;
  EXPECT_EQ(XPLMCreateWindowEx(&tooShort), nullptr);

  xphost::WindowInfo info;
  ASSERT_TRUE(xphost::GetWindow(shortOne, &info));
  EXPECT_EQ(info.structSize, 72);
  EXPECT_EQ(info.layer, 0);
  int left = 0, top = 0, right = 0, bottom = 0;
  XPLMGetWindowGeometry(shortOne, &left, &top, &right, &bottom);
  EXPECT_EQ((std::vector<int>{left, top, right, bottom}), (std::vector<int>{50, 1030, 350, 830}));
  ASSERT_TRUE(xphost::GetWindow(longOne, &info));
  EXPECT_EQ(info.structSize, 88);
  EXPECT_EQ(info.decoration, 1);
  EXPECT_EQ(info.layer, 2);
  EXPECT_EQ(xphost::Windows().size(), 2u);
}

TEST_F(HostDisplay, EachFrameRecordsWhatVisibleWindowsDraw) {
  XPLMWindowID window = MakeWindow(50, 1030, 350, 830, DrawTwoLines);
  XPLMWindowID stateless = MakeWindow(0, 100, 100, 0, DrawWithoutState);
  xphost::RunFrame(0.1);
  auto drawn = xphost::DrawnStrings(window);
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0].text, "First line");
  EXPECT_EQ(drawn[0].x, 60);
  EXPECT_EQ(drawn[0].y, 1010);
  EXPECT_EQ(drawn[0].font, xplmFont_Proportional);
  EXPECT_EQ(drawn[0].color, (std::array<float, 3>{1, 1, 1}));
  EXPECT_FALSE(drawn[0].hasWrapWidth);
  ASSERT_TRUE(drawn[0].hasGraphicsState);
  EXPECT_EQ(drawn[0].graphicsState, (std::array<int, 7>{0, 0, 0, 0, 1, 1, 0}));
  EXPECT_TRUE(drawn[1].hasWrapWidth);
  EXPECT_EQ(drawn[1].wrapWidth, 100);
  EXPECT_FALSE(xphost::DrawnStrings(stateless).at(0).hasGraphicsState)
      << "graphics state set by another window does not count";

  XPLMSetWindowIsVisible(window, 0);
  EXPECT_FALSE(XPLMGetWindowIsVisible(window));
  xphost::RunFrame(0.1);
  EXPECT_TRUE(xphost::DrawnLines(window).empty());
  XPLMSetWindowIsVisible(window, 1);
  xphost::DrawWindows();
  EXPECT_EQ(xphost::DrawnLines(window), (std::vector<std::string>{"First line", "Second line"}));
}

TEST_F(HostDisplay, WindowDestroyedInsideItsDrawCallbackIsGoneAtOnce) {
  MakeWindow(0, 100, 100, 0, DestroyWhileDrawing);
  xphost::RunFrame(0.1);
  EXPECT_TRUE(xphost::Windows().empty());
  xphost::RunFrame(0.1);
}

std::vector<std::pair<int, XPLMMouseStatus>> gClicks;  // (window tag, status)
int gConsume = 0;

int RecordClick(XPLMWindowID, int, int, XPLMMouseStatus status, void* refcon) {
  int tag = static_cast<int>(reinterpret_cast<intptr_t>(refcon));
  gClicks.emplace_back(tag, status);
  return tag == gConsume;
}

// Window 1 lies under window 2; only clicks on the overlap reach both.
TEST_F(HostDisplay, ClicksFallThroughWindowsThatDoNotConsumeThem) {
  struct Row {
    int x, y, consumer;
    std::vector<std::pair<int, XPLMMouseStatus>> expected;
    int expectedTaker;  // 0: fell through to the simulator
  };
  const Row rows[] = {
      {60, 60, 0, {{2, xplm_MouseDown}, {1, xplm_MouseDown}}, 0},
      {60, 60, 2, {{2, xplm_MouseDown}, {2, xplm_MouseUp}}, 2},
      {60, 60, 1, {{2, xplm_MouseDown}, {1, xplm_MouseDown}, {1, xplm_MouseUp}}, 1},
      {10, 10, 1, {{1, xplm_MouseDown}, {1, xplm_MouseUp}}, 1},
      {500, 500, 1, {}, 0},
  };
  XPLMWindowID windows[3] = {};
  windows[1] = MakeWindow(0, 100, 100, 0, nullptr, RecordClick, reinterpret_cast<void*>(1));
  windows[2] = MakeWindow(50, 150, 150, 50, nullptr, RecordClick, reinterpret_cast<void*>(2));
  MakeWindow(0, 1000, 1000, 0, nullptr);  // no click handler: never takes a click
  XPLMBringWindowToFront(windows[1]);
  XPLMBringWindowToFront(windows[2]);
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.x << "," << row.y << " consumer " << row.consumer);
    gClicks.clear();
    gConsume = row.consumer;
    EXPECT_EQ(xphost::ClickAt(row.x, row.y), windows[row.expectedTaker]);
    EXPECT_EQ(gClicks, row.expected);
  }
  XPLMSetWindowIsVisible(windows[2], 0);
  gClicks.clear();
  xphost::ClickAt(60, 60);
  EXPECT_EQ(gClicks.front().first, 1) << "hidden windows take no clicks";
}

// ---- menus ----------------------------------------------------------------------------

std::vector<std::pair<void*, void*>> gPicks;
void RecordPick(void* menuRef, void* itemRef) { gPicks.emplace_back(menuRef, itemRef); }

XPLMMenuID gSelfDestroyingMenu = nullptr;
void DestroyOwnMenu(void*, void*) { XPLMDestroyMenu(gSelfDestroyingMenu); }

TEST_F(HostDisplay, MenuItemsArePickedByTheirPathUnderThePluginsMenu) {
  gPicks.clear();
  int container = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Tralix", nullptr, 1);
  EXPECT_EQ(container, 0) << "a plug-in's first item is index 0";
  int menuRef = 0;
  XPLMMenuID menu = XPLMCreateMenu("Tralix", XPLMFindPluginsMenu(), container, RecordPick, &menuRef);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(XPLMAppendMenuItem(menu, "Live Data", reinterpret_cast<void*>(0), 1), 0);
  EXPECT_EQ(XPLMAppendMenuItem(menu, "Status", reinterpret_cast<void*>(1), 1), 1);
  EXPECT_EQ(XPLMAppendMenuItem(menu, "Configuration", reinterpret_cast<void*>(2), 1), 2);

  auto items = xphost::MenuItems({"Tralix"});
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].name, "Status");
  EXPECT_EQ(items[1].itemRef, reinterpret_cast<void*>(1));
  EXPECT_TRUE(xphost::MenuItems({}).at(0).hasSubmenu);

  EXPECT_TRUE(xphost::PickMenuItem({"Tralix", "Configuration"}));
  ASSERT_EQ(gPicks.size(), 1u);
  EXPECT_EQ(gPicks[0].first, &menuRef);
  EXPECT_EQ(gPicks[0].second, reinterpret_cast<void*>(2));
  EXPECT_FALSE(xphost::PickMenuItem({"Tralix", "Missing"}));
  EXPECT_FALSE(xphost::PickMenuItem({"Other", "Status"}));
  XPLMEnableMenuItem(menu, 0, 0);
  EXPECT_FALSE(xphost::PickMenuItem({"Tralix", "Live Data"}));
  EXPECT_EQ(gPicks.size(), 1u);

  XPLMDestroyMenu(menu);
  EXPECT_FALSE(xphost::PickMenuItem({"Tralix", "Status"}));
  EXPECT_EQ(xphost::MenuItems({}).size(), 1u) << "the container item stays until removed";
  XPLMRemoveMenuItem(XPLMFindPluginsMenu(), container);
  EXPECT_TRUE(xphost::MenuItems({}).empty());
  EXPECT_EQ(xphost::LiveMenuCount(), 0);
}

TEST_F(HostDisplay, MenuCallsThatCannotWorkFailAsTheSdkSays) {
  EXPECT_EQ(XPLMAppendMenuItem(nullptr, "x", nullptr, 1), -1);
  EXPECT_EQ(XPLMCreateMenu("", XPLMFindPluginsMenu(), 0, RecordPick, nullptr), nullptr);
  EXPECT_EQ(XPLMCreateMenu("Sub", XPLMFindPluginsMenu(), 5, RecordPick, nullptr), nullptr)
      << "no such parent item";
  XPLMDestroyMenu(reinterpret_cast<XPLMMenuID>(0x40));  // unknown: ignored
}

TEST_F(HostDisplay, AHandlerMayDestroyItsOwnMenu) {
  int item = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Self", nullptr, 1);
  gSelfDestroyingMenu = XPLMCreateMenu("Self", XPLMFindPluginsMenu(), item, DestroyOwnMenu, nullptr);
  XPLMAppendMenuItem(gSelfDestroyingMenu, "Go", nullptr, 1);
  EXPECT_TRUE(xphost::PickMenuItem({"Self", "Go"}));
  EXPECT_EQ(xphost::LiveMenuCount(), 0);
}

// ---- log and identity -------------------------------------------------------------------

TEST_F(HostDisplay, DebugStringsGoUnchangedToMemoryAndLogFile) {
  std::filesystem::path dir = std::filesystem::path(HOST_TEST_TMP) / "log-test";
  std::filesystem::remove_all(dir);
  xphost::SetOutputDir(dir.string());
  XPLMDebugString("one\ntwo ");
  XPLMDebugString("halves\n");
  XPLMDebugString("no newline");
  EXPECT_EQ(xphost::LogText(), "one\ntwo halves\nno newline");
  EXPECT_EQ(xphost::LogLines(), (std::vector<std::string>{"one", "two halves", "no newline"}));
  std::ifstream file(dir / "Log.txt");
  std::stringstream onDisk;
  onDisk << file.rdbuf();
  EXPECT_EQ(onDisk.str(), "one\ntwo halves\nno newline") << "flushed at once";
  xphost::Reset();
  EXPECT_EQ(xphost::LogText(), "");
  EXPECT_TRUE(std::filesystem::exists(dir / "Log.txt"));
  xphost::SetOutputDir("");
}

TEST_F(HostDisplay, PluginInfoReportsTheSettablePathWithinTheSdkBuffer) {
  const std::string paths[] = {"", "Macintosh HD:Users:pilot:X-Plane 12:Resources:plugins:Tralix.xpl",
                               "/" + std::string(300, 'p')};
  for (const std::string& path : paths) {
    xphost::SetPluginPath(path);
    char buffer[300];
    std::memset(buffer, '#', sizeof buffer);
    XPLMGetPluginInfo(XPLMGetMyID(), nullptr, buffer, nullptr, nullptr);
    EXPECT_EQ(std::string(buffer), path.substr(0, 255));
    EXPECT_EQ(buffer[256], '#');
  }
  EXPECT_NE(XPLMGetMyID(), XPLM_NO_PLUGIN_ID);
}

}  // namespace
