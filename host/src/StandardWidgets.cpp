// The standard widget classes: how a main window, caption, push button and
// text field answer the messages a user's mouse and keyboard produce.
#include "HostInternal.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <algorithm>

namespace xphost {
namespace {

using detail::Property;
using detail::SetPropertyQuietly;

// The main window remembers which close box a press started on (1 left, 2 right)
// in a property of its own class's range that the SDK leaves unused.
constexpr XPWidgetPropertyID kPressedCloseBox = 1198;

const XPMouseState_t* MouseOf(intptr_t param) { return reinterpret_cast<const XPMouseState_t*>(param); }

// ---- main window ----------------------------------------------------------------

int MainWindowMouseDown(XPWidgetID window, const XPMouseState_t& mouse) {
  int box = Property(window, xpProperty_MainWindowHasCloseBoxes)
                ? detail::CloseBoxAt(window, mouse.x, mouse.y)
                : 0;
  SetPropertyQuietly(window, kPressedCloseBox, box);
  if (box) return 1;
  int left = 0, top = 0;
  XPGetWidgetGeometry(window, &left, &top, nullptr, nullptr);
  SetPropertyQuietly(window, xpProperty_Dragging, 1);
  SetPropertyQuietly(window, xpProperty_DragXOff, mouse.x - left);
  SetPropertyQuietly(window, xpProperty_DragYOff, top - mouse.y);
  return 1;
}

int MainWindowMouseDrag(XPWidgetID window, const XPMouseState_t& mouse) {
  if (!Property(window, xpProperty_Dragging)) return 1;
  int left = 0, top = 0;
  XPGetWidgetGeometry(window, &left, &top, nullptr, nullptr);
  int newLeft = mouse.x - static_cast<int>(Property(window, xpProperty_DragXOff));
  int newTop = mouse.y + static_cast<int>(Property(window, xpProperty_DragYOff));
  detail::MoveWidgetTree(window, newLeft - left, newTop - top);
  return 1;
}

// The close message goes last: its receiver may destroy the window.
int MainWindowMouseUp(XPWidgetID window, const XPMouseState_t& mouse) {
  MainWindowMouseDrag(window, mouse);
  SetPropertyQuietly(window, xpProperty_Dragging, 0);
  int pressedBox = static_cast<int>(Property(window, kPressedCloseBox));
  SetPropertyQuietly(window, kPressedCloseBox, 0);
  if (pressedBox && detail::CloseBoxAt(window, mouse.x, mouse.y) == pressedBox)
    XPSendMessageToWidget(window, xpMessage_CloseButtonPushed, xpMode_UpChain,
                          reinterpret_cast<intptr_t>(window), 0);
  return 1;
}

int MainWindowClass(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t) {
  switch (message) {
    case xpMsg_Create:
    case xpMsg_Draw:
      return 1;
    case xpMsg_MouseDown:
      return MainWindowMouseDown(widget, *MouseOf(param1));
    case xpMsg_MouseDrag:
      return MainWindowMouseDrag(widget, *MouseOf(param1));
    case xpMsg_MouseUp:
      return MainWindowMouseUp(widget, *MouseOf(param1));
    default:
      return 0;
  }
}

// ---- button --------------------------------------------------------------------

int ButtonMouseDown(XPWidgetID button) {
  if (!Property(button, xpProperty_Enabled)) return 1;
  intptr_t behavior = Property(button, xpProperty_ButtonBehavior);
  if (behavior == xpButtonBehaviorPushButton) {
    SetPropertyQuietly(button, xpProperty_Hilited, 1);
    return 1;
  }
  intptr_t state = Property(button, xpProperty_ButtonState);
  if (behavior == xpButtonBehaviorRadioButton && state) return 1;
  SetPropertyQuietly(button, xpProperty_ButtonState, !state);
  XPSendMessageToWidget(button, xpMsg_ButtonStateChanged, xpMode_UpChain,
                        reinterpret_cast<intptr_t>(button), !state);
  return 1;
}

// A push button fires when the mouse is released inside it after a press on it.
int ButtonMouseUp(XPWidgetID button, const XPMouseState_t& mouse) {
  bool pressed = Property(button, xpProperty_Hilited) && detail::WidgetContains(button, mouse.x, mouse.y);
  if (pressed)
    XPSendMessageToWidget(button, xpMsg_PushButtonPressed, xpMode_UpChain,
                          reinterpret_cast<intptr_t>(button), 0);
  // The press may have destroyed the button; this write then finds nothing.
  SetPropertyQuietly(button, xpProperty_Hilited, 0);
  return 1;
}

int ButtonClass(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t) {
  bool pushButton = Property(widget, xpProperty_ButtonBehavior) == xpButtonBehaviorPushButton;
  switch (message) {
    case xpMsg_Create:
      SetPropertyQuietly(widget, xpProperty_Hilited, 0);
      SetPropertyQuietly(widget, xpProperty_ButtonState, 0);
      SetPropertyQuietly(widget, xpProperty_Enabled, 1);
      return 1;
    case xpMsg_Draw:
      return 1;
    case xpMsg_MouseDown:
      return ButtonMouseDown(widget);
    case xpMsg_MouseDrag:
      if (pushButton && Property(widget, xpProperty_Enabled))
        SetPropertyQuietly(widget, xpProperty_Hilited,
                           detail::WidgetContains(widget, MouseOf(param1)->x, MouseOf(param1)->y));
      return 1;
    case xpMsg_MouseUp:
      return pushButton ? ButtonMouseUp(widget, *MouseOf(param1)) : 1;
    default:
      return 0;
  }
}

// ---- text field ----------------------------------------------------------------

struct Selection {
  size_t start = 0, end = 0;
};

Selection SelectionOf(XPWidgetID field, size_t length) {
  auto clamp = [&](intptr_t value) {
    return static_cast<size_t>(std::clamp<intptr_t>(value, 0, static_cast<intptr_t>(length)));
  };
  size_t start = clamp(Property(field, xpProperty_EditFieldSelStart));
  size_t end = clamp(Property(field, xpProperty_EditFieldSelEnd));
  return {std::min(start, end), std::max(start, end)};
}

void SetCaret(XPWidgetID field, size_t position) {
  SetPropertyQuietly(field, xpProperty_EditFieldSelStart, static_cast<intptr_t>(position));
  SetPropertyQuietly(field, xpProperty_EditFieldSelEnd, static_cast<intptr_t>(position));
}

// Stores the edited text the way the field always does (through the public
// setter), then announces the change up the chain.
int CommitEdit(XPWidgetID field, const std::string& text, size_t caret) {
  XPSetWidgetDescriptor(field, text.c_str());
  SetCaret(field, caret);
  XPSendMessageToWidget(field, xpMsg_TextFieldChanged, xpMode_UpChain,
                        reinterpret_cast<intptr_t>(field), 0);
  return 1;
}

int TextFieldBackspace(XPWidgetID field, std::string text, Selection selection) {
  if (selection.start == selection.end) {
    if (selection.start == 0) return 1;
    selection.start--;
  }
  text.erase(selection.start, selection.end - selection.start);
  return CommitEdit(field, text, selection.start);
}

int TextFieldInsert(XPWidgetID field, std::string text, Selection selection, char key) {
  intptr_t maxCharacters = Property(field, xpProperty_MaxCharacters);
  size_t newLength = text.size() - (selection.end - selection.start) + 1;
  if (maxCharacters > 0 && newLength > static_cast<size_t>(maxCharacters)) return 0;
  text.replace(selection.start, selection.end - selection.start, 1, key);
  return CommitEdit(field, text, selection.start + 1);
}

// Key-ups are swallowed; NUL, Escape, Tab and Return go on up the chain, as
// does a character the field has no room for.
int TextFieldKey(XPWidgetID field, const XPKeyState_t& keyState) {
  if (keyState.flags & xplm_UpFlag) return 1;
  char key = keyState.key;
  if (key == 0 || key == XPLM_KEY_ESCAPE || key == XPLM_KEY_TAB || key == XPLM_KEY_RETURN) return 0;
  std::string text = detail::Descriptor(field);
  Selection selection = SelectionOf(field, text.size());
  switch (key) {
    case XPLM_KEY_DELETE:
      return TextFieldBackspace(field, text, selection);
    case XPLM_KEY_LEFT:
      SetCaret(field, selection.start == selection.end && selection.start > 0 ? selection.start - 1
                                                                              : selection.start);
      return 1;
    case XPLM_KEY_RIGHT:
      SetCaret(field, selection.start == selection.end && selection.end < text.size() ? selection.end + 1
                                                                                      : selection.end);
      return 1;
    case XPLM_KEY_UP:
    case XPLM_KEY_DOWN:
      return 1;
    default:
      return TextFieldInsert(field, text, selection, key);
  }
}

// A text set from outside is cut to the field's limit without any message.
void EnforceMaxCharacters(XPWidgetID field) {
  intptr_t maxCharacters = Property(field, xpProperty_MaxCharacters);
  std::string text = detail::Descriptor(field);
  if (maxCharacters > 0 && text.size() > static_cast<size_t>(maxCharacters))
    detail::SetDescriptorQuietly(field, text.substr(0, static_cast<size_t>(maxCharacters)));
  Selection selection = SelectionOf(field, detail::Descriptor(field).size());
  SetPropertyQuietly(field, xpProperty_EditFieldSelStart, static_cast<intptr_t>(selection.start));
  SetPropertyQuietly(field, xpProperty_EditFieldSelEnd, static_cast<intptr_t>(selection.end));
}

void TextFieldCreate(XPWidgetID field) {
  SetPropertyQuietly(field, xpProperty_TextFieldType, xpTextEntryField);
  SetPropertyQuietly(field, xpProperty_EditFieldSelStart, 0);
  SetPropertyQuietly(field, xpProperty_EditFieldSelEnd, 0);
  SetPropertyQuietly(field, xpProperty_EditFieldSelDragStart, -1);
  SetPropertyQuietly(field, xpProperty_ScrollPosition, 0);
  SetPropertyQuietly(field, xpProperty_PasswordMode, 0);
  SetPropertyQuietly(field, xpProperty_MaxCharacters, 512);
  SetPropertyQuietly(field, xpProperty_Font, 0);
  SetPropertyQuietly(field, xpProperty_Enabled, 1);
  EnforceMaxCharacters(field);
}

// A click takes focus and puts the caret after the text.
int TextFieldMouseDown(XPWidgetID field) {
  if (!Property(field, xpProperty_Enabled)) return 0;
  if (XPSetKeyboardFocus(field) == field) SetCaret(field, detail::Descriptor(field).size());
  return 1;
}

int TextFieldClass(XPWidgetMessage message, XPWidgetID widget, intptr_t param1, intptr_t) {
  switch (message) {
    case xpMsg_Create:
      TextFieldCreate(widget);
      return 1;
    case xpMsg_Draw:
      return 1;
    case xpMsg_DescriptorChanged:
      EnforceMaxCharacters(widget);
      return 1;
    case xpMsg_KeyTakeFocus:
      return Property(widget, xpProperty_Enabled) ? 1 : 0;
    case xpMsg_KeyLoseFocus:
      return 1;
    case xpMsg_KeyPress:
      return param1 ? TextFieldKey(widget, *reinterpret_cast<const XPKeyState_t*>(param1)) : 0;
    case xpMsg_MouseDown:
      return TextFieldMouseDown(widget);
    case xpMsg_MouseDrag:
    case xpMsg_MouseUp:
      return 1;
    default:
      return 0;
  }
}

// ---- the passive classes ---------------------------------------------------------

// Captions, sub-windows, graphics and progress bars draw themselves and let
// the mouse through to their parents.
int PassiveClass(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
  return message == xpMsg_Create || message == xpMsg_Draw ? 1 : 0;
}

int ScrollBarClass(XPWidgetMessage message, XPWidgetID widget, intptr_t, intptr_t) {
  switch (message) {
    case xpMsg_Create:
      SetPropertyQuietly(widget, xpProperty_ScrollBarSliderPosition, 0);
      SetPropertyQuietly(widget, xpProperty_ScrollBarMin, 0);
      SetPropertyQuietly(widget, xpProperty_ScrollBarMax, 100);
      SetPropertyQuietly(widget, xpProperty_ScrollBarPageAmount, 10);
      return 1;
    case xpMsg_Draw:
    case xpMsg_MouseDown:
    case xpMsg_MouseDrag:
    case xpMsg_MouseUp:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

namespace detail {

XPWidgetFunc_t StandardClassFunc(XPWidgetClass widgetClass) {
  switch (widgetClass) {
    case xpWidgetClass_MainWindow:
      return MainWindowClass;
    case xpWidgetClass_Button:
      return ButtonClass;
    case xpWidgetClass_TextField:
      return TextFieldClass;
    case xpWidgetClass_ScrollBar:
      return ScrollBarClass;
    case xpWidgetClass_SubWindow:
    case xpWidgetClass_Caption:
    case xpWidgetClass_GeneralGraphics:
    case xpWidgetClass_Progress:
      return PassiveClass;
    default:
      return nullptr;
  }
}

}  // namespace detail
}  // namespace xphost
