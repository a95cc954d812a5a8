// The user-interface SDK as the plug-in's tests rely on it, where a lenient
// host would let a faulty plug-in pass: widget dispatch (order, modes,
// results), descriptors copied as the SDK copies them, handles never reused,
// and menu items that outlive their menu.
#include "XPHostControl.h"
#include "XPLMDisplay.h"
#include "XPLMMenus.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr XPWidgetMessage kProbe = xpMsg_UserStart + 1;

std::vector<std::string> gOrder;     // callbacks that saw kProbe, in order
std::vector<std::string> gHandlers;  // callbacks that return 1 for it

template <const char* Name>
int Recorder(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
  if (message != kProbe) return 0;
  gOrder.push_back(Name);
  return std::count(gHandlers.begin(), gHandlers.end(), Name) > 0;
}

constexpr char kA[] = "A", kB[] = "B", kRoot[] = "root", kChild[] = "child";

class HostUi : public ::testing::Test {
 protected:
  void SetUp() override { xphost::Reset(); }
};

// A custom child under a custom root, with callbacks A then B added to the
// child: the last added sees a message first, the class function last.
TEST_F(HostUi, DispatchOrderAndResultByMode) {
  struct Row {
    XPDispatchMode mode;
    bool toRoot;
    std::vector<std::string> handlers;
    std::vector<std::string> expectedOrder;
    int expectedResult;
  };
  const Row rows[] = {
      {xpMode_Direct, false, {}, {"B", "A", "child"}, 0},
      {xpMode_Direct, false, {"A"}, {"B", "A"}, 1},
      {xpMode_Direct, false, {"child"}, {"B", "A", "child"}, 1},
      {xpMode_UpChain, false, {}, {"B", "A", "child", "root"}, 0},
      {xpMode_UpChain, false, {"child"}, {"B", "A", "child"}, 1},
      {xpMode_Recursive, true, {"root"}, {"root", "B", "A", "child"}, 1},
      {xpMode_DirectAllCallbacks, false, {"A"}, {"B", "A", "child"}, 1},
      {xpMode_Once, false, {}, {"B"}, 0},
  };
  XPWidgetID parent = XPCreateCustomWidget(0, 100, 100, 0, 1, "", 1, nullptr, Recorder<kRoot>);
  XPWidgetID child = XPCreateCustomWidget(0, 50, 50, 0, 1, "", 0, parent, Recorder<kChild>);
  XPAddWidgetCallback(child, Recorder<kA>);
  XPAddWidgetCallback(child, Recorder<kB>);
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "mode " << row.mode << " handled by " << testing::PrintToString(row.handlers));
    gOrder.clear();
    gHandlers = row.handlers;
    EXPECT_EQ(XPSendMessageToWidget(row.toRoot ? parent : child, kProbe, row.mode, 0, 0), row.expectedResult);
    EXPECT_EQ(gOrder, row.expectedOrder);
  }
}

// The plug-in reads the field into a fixed buffer: at most the size given,
// NUL-padded when shorter, no terminator when the text fills it, and the
// full length returned.
TEST_F(HostUi, DescriptorIsCopiedLikeStrncpyAndItsFullLengthReturned) {
  for (size_t length : {size_t{0}, size_t{5}, size_t{255}, size_t{256}, size_t{300}}) {
    SCOPED_TRACE(length);
    std::string text(length, 'k');
    XPWidgetID widget = XPCreateWidget(0, 10, 10, 0, 1, text.c_str(), 1, nullptr, xpWidgetClass_MainWindow);
    char buffer[260];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(XPGetWidgetDescriptor(widget, buffer, 256), static_cast<int>(length));
    EXPECT_EQ(std::string(buffer, std::min<size_t>(length, 256)), text.substr(0, 256));
    EXPECT_EQ(buffer[255], length < 256 ? '\0' : 'k') << "padded to the end";
    EXPECT_EQ(buffer[256], '#') << "nothing written past the size given";
  }
}

XPWidgetID MakeRoot(const char* descriptor) {
  return XPCreateWidget(0, 10, 10, 0, 1, descriptor, 1, nullptr, xpWidgetClass_MainWindow);
}

// A reused handle would let a plug-in that keeps a stale one (a field of the
// dialog it rebuilt, a window it closed) act on its successor unnoticed.
TEST_F(HostUi, HandlesOfDestroyedObjectsAreNeverReusedAndStayDead) {
  XPWidgetID stale = MakeRoot("stale");
  XPDestroyWidget(stale, 1);
  XPWidgetID live = MakeRoot("live");
  EXPECT_NE(live, stale);
  XPDestroyWidget(stale, 1);
  EXPECT_EQ(XPGetWidgetDescriptor(stale, nullptr, 0), 0);
  EXPECT_EQ(xphost::Windows().size(), 1u);

  XPLMCreateWindow_t record{};
  record.structSize = sizeof record;
  XPLMWindowID closed = XPLMCreateWindowEx(&record);
  XPLMDestroyWindow(closed);
  EXPECT_NE(XPLMCreateWindowEx(&record), closed);
}

void Ignore(void*, void*) {}

// The plug-in's clean-up tests expect no menu and no item left: destroying the
// menu alone must leave its item in the Plugins menu.
TEST_F(HostUi, AMenusItemStaysUntilRemovedAndItsHandleIsNotReused) {
  int item = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Tralix", nullptr, 1);
  XPLMMenuID menu = XPLMCreateMenu("Tralix", XPLMFindPluginsMenu(), item, Ignore, nullptr);
  XPLMAppendMenuItem(menu, "Status", nullptr, 1);
  EXPECT_EQ(xphost::LiveMenuCount(), 1);
  XPLMDestroyMenu(menu);
  EXPECT_EQ(xphost::LiveMenuCount(), 0);
  EXPECT_EQ(xphost::MenuItems({}).size(), 1u);
  EXPECT_NE(XPLMCreateMenu("Tralix", XPLMFindPluginsMenu(), item, Ignore, nullptr), menu);
  XPLMRemoveMenuItem(XPLMFindPluginsMenu(), item);
  EXPECT_TRUE(xphost::MenuItems({}).empty());
}

}  // namespace
