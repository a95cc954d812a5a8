// Widget dispatch (order, up-chain, modes), the standard classes driven as a
// user would, descriptors, and widget trees destroyed from inside their own
// message dispatch (the sanitizer build catches any touch of freed memory).
#include "XPHostControl.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr XPWidgetMessage kProbe = xpMsg_UserStart + 1;

struct Seen {
  std::string who;
  XPWidgetMessage message;
  XPWidgetID widget;
  intptr_t param1;
};
std::vector<Seen> gSeen;
std::vector<std::string> gHandlers;  // names of callbacks that return 1 for kProbe

std::vector<std::string> WhoSaw(XPWidgetMessage message) {
  std::vector<std::string> who;
  for (const Seen& seen : gSeen)
    if (seen.message == message) who.push_back(seen.who);
  return who;
}

template <const char* Name>
int Recorder(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t) {
  gSeen.push_back({Name, message, widget, param1});
  if (message != kProbe) return 0;
  return std::find(gHandlers.begin(), gHandlers.end(), Name) != gHandlers.end();
}

constexpr char kA[] = "A", kB[] = "B", kC[] = "C", kRoot[] = "root", kChild[] = "child",
               kClass[] = "class";
constexpr auto RecordA = Recorder<kA>;
constexpr auto RecordB = Recorder<kB>;
constexpr auto RecordC = Recorder<kC>;
constexpr auto RecordRoot = Recorder<kRoot>;
constexpr auto RecordChild = Recorder<kChild>;
constexpr auto RecordClass = Recorder<kClass>;

class HostWidgets : public ::testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    gSeen.clear();
    gHandlers.clear();
  }

  // A 400 x 300 dialog at (100, 700) like the plug-in's, with a caption, a
  // text field and a push button.
  void BuildDialog() {
    root = XPCreateWidget(100, 700, 500, 400, 1, "Dialog", 1, nullptr, xpWidgetClass_MainWindow);
    XPSetWidgetProperty(root, xpProperty_MainWindowHasCloseBoxes, 1);
    caption = XPCreateWidget(110, 670, 490, 652, 1, "Caption", 0, root, xpWidgetClass_Caption);
    field = XPCreateWidget(110, 600, 300, 582, 1, "", 0, root, xpWidgetClass_TextField);
    button = XPCreateWidget(310, 600, 400, 582, 1, "Press", 0, root, xpWidgetClass_Button);
    XPSetWidgetProperty(button, xpProperty_ButtonType, xpPushButton);
  }

  XPWidgetID root = nullptr, caption = nullptr, field = nullptr, button = nullptr;
};

// ---- dispatch -------------------------------------------------------------------

TEST_F(HostWidgets, LastAddedCallbackSeesAMessageFirstAndHandlingStopsIt) {
  struct Row {
    std::vector<std::string> handlers;
    std::vector<std::string> expectedOrder;
    int expectedResult;
  };
  const Row rows[] = {
      {{}, {"C", "B", "A", "class"}, 0},
      {{"B"}, {"C", "B"}, 1},
      {{"C"}, {"C"}, 1},
      {{"class"}, {"C", "B", "A", "class"}, 1},
  };
  for (const Row& row : rows) {
    xphost::Reset();
    gSeen.clear();
    gHandlers = row.handlers;
    XPWidgetID widget = XPCreateCustomWidget(0, 10, 10, 0, 1, "", 1, nullptr, RecordClass);
    XPAddWidgetCallback(widget, RecordA);
    XPAddWidgetCallback(widget, RecordB);
    XPAddWidgetCallback(widget, RecordC);
    EXPECT_EQ(XPSendMessageToWidget(widget, kProbe, xpMode_Direct, 0, 0), row.expectedResult);
    EXPECT_EQ(WhoSaw(kProbe), row.expectedOrder);
  }
}

TEST_F(HostWidgets, AddedCallbackAloneReceivesCreateWithParamOne) {
  XPWidgetID widget = XPCreateCustomWidget(0, 10, 10, 0, 1, "", 1, nullptr, RecordClass);
  XPAddWidgetCallback(widget, RecordA);
  XPAddWidgetCallback(widget, RecordB);
  ASSERT_EQ(WhoSaw(xpMsg_Create), (std::vector<std::string>{"class", "A", "B"}));
  EXPECT_EQ(gSeen[0].param1, 0);
  EXPECT_EQ(gSeen[1].param1, 1);
}

TEST_F(HostWidgets, UpChainTravelsToParentsUntilHandled) {
  XPWidgetID parent = XPCreateCustomWidget(0, 100, 100, 0, 1, "", 1, nullptr, RecordRoot);
  XPWidgetID child = XPCreateCustomWidget(0, 50, 50, 0, 1, "", 0, parent, RecordChild);
  gSeen.clear();
  EXPECT_EQ(XPSendMessageToWidget(child, kProbe, xpMode_UpChain, 0, 0), 0);
  EXPECT_EQ(WhoSaw(kProbe), (std::vector<std::string>{"child", "root"}));

  gSeen.clear();
  gHandlers = {"child"};
  EXPECT_EQ(XPSendMessageToWidget(child, kProbe, xpMode_UpChain, 0, 0), 1);
  EXPECT_EQ(WhoSaw(kProbe), (std::vector<std::string>{"child"}));

  gSeen.clear();
  gHandlers = {"child"};
  XPSendMessageToWidget(parent, kProbe, xpMode_Recursive, 0, 0);
  EXPECT_EQ(WhoSaw(kProbe), (std::vector<std::string>{"root", "child"}));

  gSeen.clear();
  XPAddWidgetCallback(child, RecordA);
  gHandlers = {"A"};
  XPSendMessageToWidget(child, kProbe, xpMode_DirectAllCallbacks, 0, 0);
  EXPECT_EQ(WhoSaw(kProbe), (std::vector<std::string>{"A", "child"}));
  gSeen.clear();
  gHandlers = {};
  XPSendMessageToWidget(child, kProbe, xpMode_Once, 0, 0);
  EXPECT_EQ(WhoSaw(kProbe), (std::vector<std::string>{"A"}));
}

TEST_F(HostWidgets, DestroyingATreeTellsEveryWidgetAndFreesIt) {
  XPWidgetID parent = XPCreateCustomWidget(0, 100, 100, 0, 1, "", 1, nullptr, RecordRoot);
  XPWidgetID child = XPCreateCustomWidget(0, 50, 50, 0, 1, "", 0, parent, RecordChild);
  gSeen.clear();
  XPDestroyWidget(parent, 1);
  std::vector<Seen> destroyed;
  for (const Seen& seen : gSeen)
    if (seen.message == xpMsg_Destroy) destroyed.push_back(seen);
  ASSERT_EQ(destroyed.size(), 2u);
  EXPECT_EQ(destroyed[0].who, "child");
  EXPECT_EQ(destroyed[0].param1, 1) << "destroyed with its parent";
  EXPECT_EQ(destroyed[1].who, "root");
  EXPECT_EQ(destroyed[1].param1, 0) << "destroyed explicitly";
  EXPECT_EQ(xphost::LiveWidgetCount(), 0);
  EXPECT_TRUE(xphost::Windows().empty()) << "the root's window goes too";
  EXPECT_EQ(XPGetWidgetDescriptor(child, nullptr, 0), 0);
  XPDestroyWidget(child, 1);  // a stale ID is ignored
}

TEST_F(HostWidgets, DestroyingWithoutChildrenOrphansThem) {
  XPWidgetID parent = XPCreateCustomWidget(0, 100, 100, 0, 1, "", 1, nullptr, RecordRoot);
  XPWidgetID child = XPCreateCustomWidget(0, 50, 50, 0, 1, "kept", 0, parent, RecordChild);
  XPDestroyWidget(parent, 0);
  EXPECT_EQ(xphost::LiveWidgetCount(), 1);
  EXPECT_EQ(XPGetParentWidget(child), nullptr);
}

// ---- descriptors ------------------------------------------------------------------

// Buffer of 256 bytes: returned length, bytes written, and whether a NUL ends them.
TEST_F(HostWidgets, DescriptorIsCopiedLikeStrncpyAndItsFullLengthReturned) {
  for (size_t length : {size_t{0}, size_t{5}, size_t{255}, size_t{256}, size_t{300}}) {
    SCOPED_TRACE(length);
    std::string text(length, 'k');
    XPWidgetID widget = XPCreateWidget(0, 10, 10, 0, 1, text.c_str(), 1, nullptr, xpWidgetClass_MainWindow);
    char buffer[260];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(XPGetWidgetDescriptor(widget, buffer, 256), static_cast<int>(length));
    EXPECT_EQ(std::string(buffer, std::min<size_t>(length, 256)), text.substr(0, 256));
    if (length < 256) {
      EXPECT_EQ(buffer[length], '\0');
      EXPECT_EQ(buffer[255], '\0') << "padded to the end";
    }
    EXPECT_EQ(buffer[256], '#') << "nothing written past the size given";
    EXPECT_EQ(XPGetWidgetDescriptor(widget, nullptr, 0), static_cast<int>(length));
  }
  EXPECT_EQ(XPGetWidgetDescriptor(nullptr, nullptr, 0), 0);
}

// ---- standard classes driven by the user --------------------------------------------

TEST_F(HostWidgets, PushButtonClickSendsPressedUpTheChainWithTheButton) {
  BuildDialog();
  XPAddWidgetCallback(root, RecordRoot);
  gSeen.clear();
  ASSERT_TRUE(xphost::ClickWidget(button));
  std::vector<Seen> pressed;
  for (const Seen& seen : gSeen)
    if (seen.message == xpMsg_PushButtonPressed) pressed.push_back(seen);
  ASSERT_EQ(pressed.size(), 1u);
  EXPECT_EQ(pressed[0].widget, root);
  EXPECT_EQ(pressed[0].param1, reinterpret_cast<intptr_t>(button));
  EXPECT_EQ(xphost::WidgetProperty(button, xpProperty_Hilited), 0);

  gSeen.clear();
  xphost::DragMouse(350, 590, 350, 300);  // released outside: no press
  EXPECT_TRUE(WhoSaw(xpMsg_PushButtonPressed).empty());
  XPSetWidgetProperty(button, xpProperty_Enabled, 0);
  xphost::ClickWidget(button);
  EXPECT_TRUE(WhoSaw(xpMsg_PushButtonPressed).empty());
}

TEST_F(HostWidgets, CloseBoxSendsCloseButtonPushedOnlyWhenTheWindowHasThem) {
  BuildDialog();
  XPAddWidgetCallback(root, RecordRoot);
  for (bool right : {false, true}) {
    gSeen.clear();
    ASSERT_TRUE(xphost::ClickCloseBox(root, right));
    ASSERT_EQ(WhoSaw(xpMessage_CloseButtonPushed), (std::vector<std::string>{"root"}));
    EXPECT_EQ(gSeen.back().param1, reinterpret_cast<intptr_t>(root));
  }
  XPSetWidgetProperty(root, xpProperty_MainWindowHasCloseBoxes, 0);
  gSeen.clear();
  xphost::ClickCloseBox(root);
  EXPECT_TRUE(WhoSaw(xpMessage_CloseButtonPushed).empty());
}

TEST_F(HostWidgets, DraggingTheMainWindowMovesTheWholeDialog) {
  BuildDialog();
  ASSERT_EQ(xphost::Windows().size(), 1u);
  void* window = xphost::Windows()[0].id;
  EXPECT_EQ(xphost::DragMouse(300, 690, 350, 640), window);
  xphost::WidgetInfo info;
  ASSERT_TRUE(xphost::GetWidget(button, &info));
  EXPECT_EQ(info.left, 360);
  EXPECT_EQ(info.top, 550);
  xphost::WindowInfo windowInfo;
  ASSERT_TRUE(xphost::GetWindow(window, &windowInfo));
  EXPECT_EQ(windowInfo.left, 150);
  EXPECT_EQ(windowInfo.top, 650);
  EXPECT_TRUE(windowInfo.widgetRoot);
}

TEST_F(HostWidgets, TypingEditsTheFieldAndAnnouncesEachChange) {
  BuildDialog();
  XPAddWidgetCallback(root, RecordRoot);
  ASSERT_TRUE(xphost::ClickWidget(field));
  EXPECT_EQ(xphost::FocusedWidget(), field);
  gSeen.clear();
  xphost::TypeText(nullptr, "abc");
  xphost::KeyStroke(nullptr, XPLM_KEY_DELETE, 0, XPLM_VK_BACK);
  xphost::KeyStroke(nullptr, 'x', xplm_ControlFlag, XPLM_VK_X);  // the field takes modified keys too
  EXPECT_EQ(xphost::WidgetDescriptor(field), "abx");
  std::vector<Seen> changes;
  for (const Seen& seen : gSeen)
    if (seen.message == xpMsg_TextFieldChanged) changes.push_back(seen);
  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[0].param1, reinterpret_cast<intptr_t>(field));

  // Return is not the field's: it travels up to the root's callbacks.
  gSeen.clear();
  EXPECT_FALSE(xphost::TypeKey(nullptr, XPLM_KEY_RETURN, xplm_DownFlag, XPLM_VK_RETURN));
  EXPECT_EQ(WhoSaw(xpMsg_KeyPress), (std::vector<std::string>{"root"}));
  // Key-ups are swallowed by the field; a programmatic change is not announced.
  EXPECT_TRUE(xphost::TypeKey(nullptr, 'q', xplm_UpFlag, XPLM_VK_Q));
  gSeen.clear();
  XPSetWidgetDescriptor(field, "set");
  EXPECT_TRUE(WhoSaw(xpMsg_TextFieldChanged).empty());
  EXPECT_TRUE(xphost::PressKey('!', xplm_DownFlag, 0)) << "keys reach the focused field";
  EXPECT_EQ(xphost::WidgetDescriptor(field), "set!") << "the caret stayed at 3";
}

TEST_F(HostWidgets, FieldHoldsAtMostMaxCharacters) {
  BuildDialog();
  EXPECT_EQ(xphost::WidgetProperty(field, xpProperty_MaxCharacters), 512);
  XPSetWidgetDescriptor(field, std::string(600, 'a').c_str());
  EXPECT_EQ(xphost::WidgetDescriptor(field).size(), 512u);
  XPSetWidgetProperty(field, xpProperty_EditFieldSelStart, 512);
  XPSetWidgetProperty(field, xpProperty_EditFieldSelEnd, 512);
  EXPECT_FALSE(xphost::TypeKey(field, 'b', xplm_DownFlag, XPLM_VK_B));
  EXPECT_EQ(xphost::WidgetDescriptor(field).size(), 512u);
}

int ConsumeControlV(XPWidgetMessage message, XPWidgetID, intptr_t param1, intptr_t) {
  if (message != xpMsg_KeyPress) return 0;
  auto* key = reinterpret_cast<XPKeyState_t*>(param1);
  bool controlV = (key->flags & xplm_ControlFlag) && (key->flags & xplm_DownFlag) &&
                  (key->key == 'v' || static_cast<unsigned char>(key->vkey) == XPLM_VK_V);
  return controlV ? 1 : 0;
}

TEST_F(HostWidgets, ACallbackThatConsumesAKeyKeepsItFromTheField) {
  BuildDialog();
  XPAddWidgetCallback(field, ConsumeControlV);
  xphost::FocusWidget(field);
  EXPECT_TRUE(xphost::KeyStroke(nullptr, 'v', xplm_ControlFlag, XPLM_VK_V));
  EXPECT_EQ(xphost::WidgetDescriptor(field), "");
  xphost::KeyStroke(nullptr, 'v', 0, XPLM_VK_V);
  EXPECT_EQ(xphost::WidgetDescriptor(field), "v");
}

// ---- destroyed from inside its own dispatch ------------------------------------------

XPWidgetID gDoomedRoot = nullptr;
XPWidgetMessage gDestroyOn = 0;
int gDestroyHandlerResult = 1;

int DestroyRootOnMessage(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
  if (message != gDestroyOn || !gDoomedRoot) return 0;
  XPDestroyWidget(gDoomedRoot, 1);
  gDoomedRoot = nullptr;
  return gDestroyHandlerResult;
}

// Each user action below leads to a callback that destroys the whole dialog
// while the dispatch that called it is still on the stack.
TEST_F(HostWidgets, DestroyingTheTreeInsideItsOwnDispatchIsSafe) {
  struct Row {
    const char* what;
    XPWidgetMessage destroyOn;
    int handlerResult;
    bool onField;
  };
  const Row rows[] = {
      {"push button press, handled", xpMsg_PushButtonPressed, 1, false},
      {"push button press, not handled", xpMsg_PushButtonPressed, 0, false},
      {"close box", xpMessage_CloseButtonPushed, 1, false},
      {"text change", xpMsg_TextFieldChanged, 0, false},
      {"key press seen by the field's own callback", xpMsg_KeyPress, 0, true},
      {"mouse down", xpMsg_MouseDown, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    xphost::Reset();
    BuildDialog();
    gDoomedRoot = root;
    gDestroyOn = row.destroyOn;
    gDestroyHandlerResult = row.handlerResult;
    XPAddWidgetCallback(row.onField ? field : root, DestroyRootOnMessage);
    if (row.destroyOn == xpMessage_CloseButtonPushed) {
      xphost::ClickCloseBox(root);
    } else if (row.destroyOn == xpMsg_PushButtonPressed) {
      xphost::ClickWidget(button);
    } else if (row.destroyOn == xpMsg_MouseDown) {
      xphost::ClickWidget(field);
    } else {
      xphost::FocusWidget(field);
      xphost::TypeText(field, "ab");
    }
    EXPECT_EQ(gDoomedRoot, nullptr) << "the action reached the destroying callback";
    EXPECT_EQ(xphost::LiveWidgetCount(), 0);
    EXPECT_TRUE(xphost::Windows().empty());
    EXPECT_EQ(xphost::FocusedWidget(), nullptr);
    xphost::RunFrame(0.1);
  }
}

int DestroyRootWhileBeingDestroyed(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
  if (message == xpMsg_Destroy) XPDestroyWidget(gDoomedRoot, 1);
  return 0;
}

// The button's destroy handler destroys the root: once while the root is
// alive (it takes the rest of the tree), once while the root is itself being
// destroyed (the nested call is ignored).
TEST_F(HostWidgets, DestroyingAgainFromInsideDestroyIsSafe) {
  for (bool startAtRoot : {false, true}) {
    SCOPED_TRACE(startAtRoot ? "root destroyed first" : "button destroyed first");
    xphost::Reset();
    BuildDialog();
    gDoomedRoot = root;
    XPAddWidgetCallback(button, DestroyRootWhileBeingDestroyed);
    XPDestroyWidget(startAtRoot ? root : button, 1);
    EXPECT_EQ(xphost::LiveWidgetCount(), 0);
    EXPECT_TRUE(xphost::Windows().empty());
  }
  gDoomedRoot = nullptr;
}

TEST_F(HostWidgets, ShowingAndHidingTheRootShowsAndHidesItsWindow) {
  BuildDialog();
  XPAddWidgetCallback(root, RecordRoot);
  void* window = xphost::Windows().at(0).id;
  gSeen.clear();
  XPHideWidget(caption);
  XPHideWidget(root);
  XPHideWidget(root);  // already hidden: nothing sent
  EXPECT_FALSE(XPLMGetWindowIsVisible(window));
  XPShowWidget(root);
  EXPECT_TRUE(XPLMGetWindowIsVisible(window));
  EXPECT_EQ(WhoSaw(xpMsg_Hidden), (std::vector<std::string>{"root", "root"})) << "up from the caption too";
  EXPECT_EQ(WhoSaw(xpMsg_Shown), (std::vector<std::string>{"root"}));
}

// Focus moves from field to field, and leaves the dialog when a plain window
// takes the keyboard.
TEST_F(HostWidgets, KeyboardFocusMovesAndIsLost) {
  BuildDialog();
  XPWidgetID second = XPCreateWidget(110, 560, 300, 542, 1, "", 0, root, xpWidgetClass_TextField);
  XPAddWidgetCallback(field, RecordA);
  ASSERT_TRUE(xphost::ClickWidget(field));
  ASSERT_TRUE(xphost::ClickWidget(second));
  EXPECT_EQ(XPGetWidgetWithFocus(), second);
  ASSERT_EQ(WhoSaw(xpMsg_KeyLoseFocus).size(), 1u);
  XPLMCreateWindow_t record{};
  record.structSize = sizeof record;
  XPLMWindowID plain = XPLMCreateWindowEx(&record);
  XPLMTakeKeyboardFocus(plain);
  EXPECT_EQ(XPGetWidgetWithFocus(), nullptr);
  EXPECT_FALSE(xphost::TypeKey(nullptr, 'a', xplm_DownFlag, XPLM_VK_A));
  XPSetWidgetProperty(second, xpProperty_Enabled, 0);
  EXPECT_FALSE(xphost::FocusWidget(second)) << "a disabled field refuses focus";
}

TEST_F(HostWidgets, FindAndInspectWidgets) {
  BuildDialog();
  XPHideWidget(root);
  EXPECT_EQ(xphost::FindWidget("Press", xpWidgetClass_Button), button);
  EXPECT_EQ(xphost::FindWidget("Press", xpWidgetClass_Caption), nullptr);
  EXPECT_EQ(xphost::FindWidgets(nullptr, -1).size(), 4u);
  EXPECT_EQ(xphost::FindWidgets(nullptr, xpWidgetClass_TextField), std::vector<void*>{field});
  xphost::WidgetInfo info;
  ASSERT_TRUE(xphost::GetWidget(caption, &info));
  EXPECT_TRUE(info.visible);
  EXPECT_FALSE(info.exposed) << "its root is hidden";
  EXPECT_EQ(info.parent, root);
  EXPECT_EQ(info.descriptor, "Caption");
  EXPECT_FALSE(xphost::ClickWidget(button)) << "a hidden dialog takes no clicks";
}

}  // namespace
