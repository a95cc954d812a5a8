// Pilot actions: parsing "TIME VERB [ARGUMENT]" and carrying them out through
// the headless host's menu, widget and keyboard controls.
#include "PilotScript.h"

#include "TextUtil.h"
#include "XPHostControl.h"
#include "XPLMDefs.h"
#include "XPStandardWidgets.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tralix_sim {
namespace {

struct VerbInfo {
  const char* name;
  ActionKind kind;
  bool needsArgument;
  bool takesArgument;
};

constexpr VerbInfo kVerbs[] = {
    {"menu", ActionKind::kMenu, true, true},
    {"type", ActionKind::kType, true, true},
    {"key", ActionKind::kKey, true, true},
    {"clipboard", ActionKind::kClipboard, false, true},
    {"paste", ActionKind::kPaste, false, true},
    {"press", ActionKind::kPress, true, true},
    {"close", ActionKind::kClose, false, false},
};

const VerbInfo* FindVerb(const std::string& name) {
  for (const VerbInfo& verb : kVerbs)
    if (name == verb.name) return &verb;
  return nullptr;
}

// Drops one pair of enclosing double quotes, which keep blanks at the ends.
std::string Unquote(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

struct KeySpec {
  char key = 0;
  int modifiers = 0;
  char virtualKey = 0;
};

struct NamedKey {
  const char* name;
  char key;
  char virtualKey;
};

constexpr NamedKey kNamedKeys[] = {
    {"return", XPLM_KEY_RETURN, XPLM_VK_RETURN}, {"enter", XPLM_KEY_RETURN, XPLM_VK_RETURN},
    {"escape", XPLM_KEY_ESCAPE, XPLM_VK_ESCAPE}, {"tab", XPLM_KEY_TAB, XPLM_VK_TAB},
    {"backspace", XPLM_KEY_DELETE, XPLM_VK_BACK}, {"left", XPLM_KEY_LEFT, XPLM_VK_LEFT},
    {"right", XPLM_KEY_RIGHT, XPLM_VK_RIGHT},     {"space", ' ', XPLM_VK_SPACE},
};

char VirtualKeyOf(char key) {
  if (key >= 'a' && key <= 'z') return static_cast<char>(XPLM_VK_A + (key - 'a'));
  if (key >= 'A' && key <= 'Z') return static_cast<char>(XPLM_VK_A + (key - 'A'));
  if (key >= '0' && key <= '9') return static_cast<char>(XPLM_VK_0 + (key - '0'));
  return 0;
}

// "ctrl+v", "shift+a", "return", "x".
bool ParseKey(const std::string& text, KeySpec* wanted) {
  std::string rest = text;
  wanted->modifiers = 0;
  for (;;) {
    const size_t plus = rest.find('+');
    if (plus == std::string::npos || plus == 0 || plus + 1 == rest.size()) break;
    const std::string modifier = rest.substr(0, plus);
    if (modifier == "ctrl") wanted->modifiers |= xplm_ControlFlag;
    else if (modifier == "shift") wanted->modifiers |= xplm_ShiftFlag;
    else if (modifier == "alt") wanted->modifiers |= xplm_OptionAltFlag;
    else return false;
    rest = rest.substr(plus + 1);
  }
  for (const NamedKey& named : kNamedKeys) {
    if (rest == named.name) {
      wanted->key = named.key;
      wanted->virtualKey = named.virtualKey;
      return true;
    }
  }
  if (rest.size() != 1) return false;
  wanted->key = rest[0];
  wanted->virtualKey = VirtualKeyOf(rest[0]);
  return true;
}

std::vector<std::string> SplitMenuPath(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  std::istringstream parts(path);
  while (std::getline(parts, name, '/')) names.push_back(Trim(name));
  return names;
}

bool IsExposed(void* widget) {
  xphost::WidgetInfo info;
  return xphost::GetWidget(widget, &info) && info.exposed;
}

void* FirstExposed(const char* descriptor, int widgetClass) {
  for (void* widget : xphost::FindWidgets(descriptor, widgetClass))
    if (IsExposed(widget)) return widget;
  return nullptr;
}

void* KeyField() { return FirstExposed(nullptr, xpWidgetClass_TextField); }

std::string TypeIntoKeyField(const std::string& text) {
  void* field = KeyField();
  if (!field) return "no API key field on screen (open the configuration dialog first)";
  xphost::FocusWidget(field);
  xphost::TypeText(field, text);
  return "ok";
}

std::string StrokeKey(const std::string& name) {
  KeySpec wanted;
  if (!ParseKey(name, &wanted)) return "unknown key '" + name + "'";
  void* field = KeyField();
  if (!field) return "no API key field on screen (open the configuration dialog first)";
  xphost::FocusWidget(field);
  xphost::KeyStroke(field, wanted.key, wanted.modifiers, wanted.virtualKey);
  return "ok";
}

std::string Paste(const PilotAction& action, ScriptedClipboard* clipboard) {
  if (!action.argument.empty() && !clipboard->SetText(action.argument)) return "cannot write the clipboard";
  void* field = KeyField();
  if (!field) return "no API key field on screen (open the configuration dialog first)";
  xphost::FocusWidget(field);
  xphost::KeyStroke(field, 'v', xplm_ControlFlag, XPLM_VK_V);
  return "ok";
}

std::string PressButton(const std::string& caption) {
  void* button = FirstExposed(caption.c_str(), xpWidgetClass_Button);
  if (!button) return "no button '" + caption + "' on screen";
  return xphost::ClickWidget(button) ? "ok" : "the click did not reach the button";
}

std::string CloseDialog() {
  void* dialog = FirstExposed(nullptr, xpWidgetClass_MainWindow);
  if (!dialog) return "no dialog on screen";
  return xphost::ClickCloseBox(dialog) ? "ok" : "the click did not reach the close box";
}

}  // namespace

bool ParseAction(const std::string& line, PilotAction* action, std::string* error) {
  const std::string trimmed = Trim(line);
  const size_t timeEnd = trimmed.find_first_of(" \t");
  double time = 0.0;
  if (!ParseDecimal(trimmed.substr(0, timeEnd), &time) || time < 0.0) {
    *error = "an action starts with its time in seconds (0 or more): '" + trimmed + "'";
    return false;
  }
  const std::string rest = timeEnd == std::string::npos ? "" : Trim(trimmed.substr(timeEnd));
  const size_t verbEnd = rest.find_first_of(" \t");
  const std::string verbName = rest.substr(0, verbEnd);
  const VerbInfo* verb = FindVerb(verbName);
  if (!verb) {
    *error = "unknown action '" + verbName + "' (menu, type, key, clipboard, paste, press, close)";
    return false;
  }
  const std::string argument = verbEnd == std::string::npos ? "" : Unquote(Trim(rest.substr(verbEnd)));
  if (verb->needsArgument && argument.empty()) {
    *error = std::string("'") + verb->name + "' needs an argument";
    return false;
  }
  if (!verb->takesArgument && !argument.empty()) {
    *error = std::string("'") + verb->name + "' takes no argument";
    return false;
  }
  KeySpec unused;
  if (verb->kind == ActionKind::kKey && !ParseKey(argument, &unused)) {
    *error = "unknown key '" + argument + "' (a character, return, escape, tab, backspace, left, right, space; "
             "ctrl+, shift+, alt+ before it)";
    return false;
  }
  *action = {time, verb->kind, argument, trimmed};
  return true;
}

bool ParseScript(const std::string& text, const std::string& source, std::vector<PilotAction>* actions,
                 std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    PilotAction action;
    std::string why;
    if (!ParseAction(trimmed, &action, &why)) {
      *error = source + ":" + std::to_string(number) + ": " + why;
      return false;
    }
    actions->push_back(action);
  }
  return true;
}

bool ScriptedClipboard::Install(const std::string& folder, std::string* error) {
  std::error_code failure;
  std::filesystem::create_directories(folder, failure);
  const std::string tool = folder + "/wl-paste";
  {
    std::ofstream script(tool, std::ios::trunc);
    script << "#!/bin/sh\n# tralix-sim's clipboard: prints what the pilot script put there.\n"
           << "exec cat " << ShellQuote(folder + "/text") << "\n";
    if (!script) {
      *error = "cannot write " + tool;
      return false;
    }
  }
  chmod(tool.c_str(), 0755);
  folder_ = folder;
  if (!SetText("")) {
    *error = "cannot write " + folder + "/text";
    return false;
  }
  const char* path = std::getenv("PATH");
  const std::string searchPath = folder + (path && *path ? std::string(":") + path : std::string());
  setenv("PATH", searchPath.c_str(), 1);
  setenv("WAYLAND_DISPLAY", "tralix-sim", 1);
  return true;
}

bool ScriptedClipboard::SetText(const std::string& text) {
  if (folder_.empty()) return false;
  const std::string target = folder_ + "/text";
  const std::string temporary = target + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), target.c_str()) == 0;
}

std::string PerformAction(const PilotAction& action, ScriptedClipboard* clipboard) {
  switch (action.kind) {
    case ActionKind::kMenu:
      return xphost::PickMenuItem(SplitMenuPath(action.argument)) ? "ok"
                                                                  : "no enabled menu item '" + action.argument + "'";
    case ActionKind::kType:
      return TypeIntoKeyField(action.argument);
    case ActionKind::kKey:
      return StrokeKey(action.argument);
    case ActionKind::kClipboard:
      return clipboard->SetText(action.argument) ? "ok" : "cannot write the clipboard";
    case ActionKind::kPaste:
      return Paste(action, clipboard);
    case ActionKind::kPress:
      return PressButton(action.argument);
    case ActionKind::kClose:
      return CloseDialog();
  }
  return "unknown action";
}

}  // namespace tralix_sim
