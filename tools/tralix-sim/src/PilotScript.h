// The pilot's scripted actions: at a profile time, pick a menu item, type into
// the API key field, paste, or press a dialog button, through the headless
// host's user-interface controls, as a user at the simulator would.
#pragma once

#include <string>
#include <vector>

namespace tralix_sim {

enum class ActionKind {
  kMenu,       // menu Tralix/Configuration
  kType,       // type tlx_key_123         (one key stroke per character)
  kKey,        // key return | ctrl+v | backspace | ...
  kClipboard,  // clipboard TEXT           (what a paste will find)
  kPaste,      // paste [TEXT]             (Ctrl+V in the API key field)
  kPress,      // press Activate API Key   (a dialog button by caption)
  kClose,      // close                    (the dialog's close box)
};

struct PilotAction {
  double time = 0.0;
  ActionKind kind = ActionKind::kMenu;
  std::string argument;
  std::string text;  // the action as written, for messages
};

// One action: "TIME VERB [ARGUMENT]". The argument is the rest of the line,
// trimmed; wrap it in double quotes to keep blanks at its ends. False with
// error set when it does not parse.
bool ParseAction(const std::string& line, PilotAction* action, std::string* error);

// A script: one action per line, '#' comments and blank lines ignored. Errors
// name source:line.
bool ParseScript(const std::string& text, const std::string& source, std::vector<PilotAction>* actions,
                 std::string* error);

// Folder holding a stand-in clipboard tool (wl-paste) that prints the text the
// script put on the clipboard. Call Install before any thread starts: it puts
// the folder first on PATH and sets WAYLAND_DISPLAY, so the plug-in's clipboard
// reader finds it.
class ScriptedClipboard {
 public:
  bool Install(const std::string& folder, std::string* error);
  bool SetText(const std::string& text);

 private:
  std::string folder_;
};

// Carries out one action now; returns what happened, "ok" or the reason it
// could not be done.
std::string PerformAction(const PilotAction& action, ScriptedClipboard* clipboard);

}  // namespace tralix_sim
