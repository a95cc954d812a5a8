// The system clipboard as UTF-8 text. macOS asks the general pasteboard through
// the Objective-C runtime; other desktops run the first usable clipboard tool
// (wl-paste, xclip, xsel) without a shell, bounded in bytes and time.
#include "Clipboard.h"

#include <cstdlib>
#include <cstring>

namespace {

char* CopyText(const char* bytes, size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, bytes, length);
  copy[length] = '\0';
  return copy;
}

char* NewEmptyText() { return CopyText("", 0); }

}  // namespace

#if APL

#include <objc/message.h>
#include <objc/runtime.h>

// The pasteboard objects used here are not owned: they belong to the
// autorelease pool the simulator keeps around its callbacks.
char* ReadClipboardText() {
  using SendNoArgument = id (*)(id, SEL);
  using SendText = id (*)(id, SEL, const char*);
  using SendObject = id (*)(id, SEL, id);
  using SendForUtf8 = const char* (*)(id, SEL);

  id pasteboardClass = reinterpret_cast<id>(objc_getClass("NSPasteboard"));
  id pasteboard = reinterpret_cast<SendNoArgument>(objc_msgSend)(
      pasteboardClass, sel_registerName("generalPasteboard"));

  id stringClass = reinterpret_cast<id>(objc_getClass("NSString"));
  id textType = reinterpret_cast<SendText>(objc_msgSend)(
      stringClass, sel_registerName("stringWithUTF8String:"), "public.utf8-plain-text");

  id text = reinterpret_cast<SendObject>(objc_msgSend)(pasteboard, sel_registerName("stringForType:"),
                                                       textType);
  if (!text) return NewEmptyText();

  const char* utf8 = reinterpret_cast<SendForUtf8>(objc_msgSend)(text, sel_registerName("UTF8String"));
  if (!utf8) return NewEmptyText();
  return CopyText(utf8, std::strlen(utf8));
}

#else

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "NetworkManager.h"

#include <cerrno>
#include <string>

extern char** environ;

namespace {

struct ClipboardTool {
  const char* name;
  // The tool can only reach a clipboard inside this kind of session: a
  // Wayland tool in an X session (or the reverse) would just fail.
  const char* sessionVariable;
  const char* arguments[8];  // argv, null-terminated
};

// In order of preference. Each asks for text only and prints it unchanged.
const ClipboardTool kClipboardTools[] = {
    {"wl-paste", "WAYLAND_DISPLAY", {"wl-paste", "--no-newline", "--type", "text", nullptr}},
    {"xclip", "DISPLAY", {"xclip", "-selection", "clipboard", "-out", "-target", "UTF8_STRING", nullptr}},
    {"xsel", "DISPLAY", {"xsel", "--clipboard", "--output", nullptr}},
};

long long MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Only absolute PATH entries: a relative one would run whatever lies in the
// simulator's working folder.
std::string FindOnPath(const char* name) {
  const char* searchPath = std::getenv("PATH");
  if (!searchPath) return {};
  const std::string entries = searchPath;
  size_t start = 0;
  while (start <= entries.size()) {
    size_t end = entries.find(':', start);
    if (end == std::string::npos) end = entries.size();
    const std::string folder = entries.substr(start, end - start);
    if (!folder.empty() && folder[0] == '/') {
      const std::string candidate = folder + "/" + name;
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

const ClipboardTool* FindUsableTool(std::string* toolPath) {
  for (const ClipboardTool& tool : kClipboardTools) {
    const char* session = std::getenv(tool.sessionVariable);
    if (!session || !*session) continue;
    *toolPath = FindOnPath(tool.name);
    if (!toolPath->empty()) return &tool;
  }
  return nullptr;
}

// Pipe ends above 0-2 and closed on exec, so the child's own redirections of
// its standard streams cannot clobber them and no other child inherits them.
bool OpenOutputPipe(int* readEnd, int* writeEnd) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  *readEnd = fcntl(ends[0], F_DUPFD_CLOEXEC, 3);
  *writeEnd = fcntl(ends[1], F_DUPFD_CLOEXEC, 3);
  close(ends[0]);
  close(ends[1]);
  if (*readEnd >= 0 && *writeEnd >= 0) return true;
  if (*readEnd >= 0) close(*readEnd);
  if (*writeEnd >= 0) close(*writeEnd);
  return false;
}

bool SpawnTool(const std::string& path, const ClipboardTool& tool, int outputFd, pid_t* child) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

  // The simulator's blocked or ignored signals are no business of the tool.
  posix_spawnattr_init(&attributes);
  sigset_t noSignals;
  sigset_t defaultSignals;
  sigemptyset(&noSignals);
  sigemptyset(&defaultSignals);
  sigaddset(&defaultSignals, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &noSignals);
  posix_spawnattr_setsigdefault(&attributes, &defaultSignals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  // posix_spawn does not write to argv; its prototype only predates const.
  const int failed = posix_spawn(child, path.c_str(), &actions, &attributes,
                                 const_cast<char* const*>(tool.arguments), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0;
}

enum class ReadEnd { EndOfOutput, LimitReached, TimedOut, Failed };

ReadEnd ReadOutput(int fd, long long deadlineMs, std::string* output) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  char chunk[4096];
  for (;;) {
    const long long remainingMs = deadlineMs - MonotonicMs();
    if (remainingMs <= 0) return ReadEnd::TimedOut;
    pollfd waitFor{fd, POLLIN, 0};
    const int ready = poll(&waitFor, 1, static_cast<int>(remainingMs));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ReadEnd::Failed;
    if (ready == 0) return ReadEnd::TimedOut;

    const size_t room = kClipboardMaxBytes - output->size();
    const ssize_t got = read(fd, chunk, room < sizeof(chunk) ? room : sizeof(chunk));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return ReadEnd::Failed;
    if (got == 0) return ReadEnd::EndOfOutput;
    output->append(chunk, static_cast<size_t>(got));
    if (output->size() >= kClipboardMaxBytes) return ReadEnd::LimitReached;
  }
}

// Waits for a tool that closed its output until the deadline, then ends it.
// True when it exited on its own with status 0.
bool ReapTool(pid_t child, long long deadlineMs, bool stillRunning) {
  int status = 0;
  if (!stillRunning) {
    for (;;) {
      const pid_t done = waitpid(child, &status, WNOHANG);
      if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      // Reaped by the host already (SIGCHLD ignored): its output is all we have.
      if (done < 0 && errno == ECHILD) return true;
      if (done < 0 && errno != EINTR) break;
      if (MonotonicMs() >= deadlineMs) break;
      usleep(2000);
    }
  }
  kill(child, SIGKILL);
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

// A text cut at the byte limit may end inside a character; drop that part.
void DropIncompleteLastCharacter(std::string* text) {
  size_t start = text->size();
  while (start > 0 && text->size() - start < 4 &&
         (static_cast<unsigned char>((*text)[start - 1]) & 0xC0) == 0x80)
    --start;
  if (start == 0) return;
  const unsigned char lead = static_cast<unsigned char>((*text)[start - 1]);
  const size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (text->size() - (start - 1) < needed) text->resize(start - 1);
}

// The tool's standard output, or false when it failed, found no text or took
// too long.
bool RunClipboardTool(const std::string& path, const ClipboardTool& tool, std::string* text) {
  int readEnd = -1;
  int writeEnd = -1;
  if (!OpenOutputPipe(&readEnd, &writeEnd)) return false;
  pid_t child = 0;
  const bool spawned = SpawnTool(path, tool, writeEnd, &child);
  close(writeEnd);
  if (!spawned) {
    close(readEnd);
    return false;
  }

  const long long deadlineMs = MonotonicMs() + kClipboardTimeoutMs;
  const ReadEnd how = ReadOutput(readEnd, deadlineMs, text);
  close(readEnd);
  const bool exitedCleanly = ReapTool(child, deadlineMs, how != ReadEnd::EndOfOutput);
  if (how == ReadEnd::LimitReached) {
    DropIncompleteLastCharacter(text);
  } else if (how != ReadEnd::EndOfOutput || !exitedCleanly) {
    return false;
  }
  return IsUtf8Text(text->data(), text->size());
}

}  // namespace

char* ReadClipboardText() {
  std::string toolPath;
  const ClipboardTool* tool = FindUsableTool(&toolPath);
  std::string text;
  if (!tool || !RunClipboardTool(toolPath, *tool, &text)) return NewEmptyText();
  return CopyText(text.data(), text.size());
}

#endif
