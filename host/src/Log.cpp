// XPLMDebugString and the other utilities: the log lives in memory for the
// tests and, when an output folder is set, in <folder>/Log.txt as in X-Plane.
#include "HostInternal.h"
#include "SharedLibrary.h"
#include "XPHostControl.h"
#include "XPLMUtilities.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace xphost {
namespace {

struct LogState {
  std::string text;
  std::string outputDir;
  FILE* file = nullptr;
};

LogState& State() {
  static LogState state;
  return state;
}

void CloseLogFile() {
  if (State().file) std::fclose(State().file);
  State().file = nullptr;
}

void CopyBounded(char* out, const std::string& text) {
  if (!out) return;
  // The SDK's path buffers are 256 bytes (512 for some); stay within 256.
  std::snprintf(out, 256, "%s", text.c_str());
}

}  // namespace

namespace detail {
void ResetLog() { State().text.clear(); }
}  // namespace detail

void SetOutputDir(const std::string& dir) {
  CloseLogFile();
  State().outputDir = dir;
  if (dir.empty()) return;
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::u8path(dir), ignored);
  State().file = detail::OpenFileToAppend(dir + "/Log.txt");
}

std::string LogText() { return State().text; }

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  const std::string& text = State().text;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

void ClearLog() { State().text.clear(); }

size_t LogSize() { return State().text.size(); }

std::string LogTextFrom(size_t offset) {
  const std::string& text = State().text;
  return offset < text.size() ? text.substr(offset) : std::string();
}

}  // namespace xphost

using xphost::State;

extern "C" {

XPLM_API void XPLMDebugString(const char* inString) {
  if (!inString) return;
  State().text += inString;
  if (State().file) {
    std::fputs(inString, State().file);
    std::fflush(State().file);
  }
}

// There is no one to hear it.
XPLM_API void XPLMSpeakString(const char*) {}

XPLM_API void XPLMGetVersions(int* outXPlaneVersion, int* outXPLMVersion,
                              XPLMHostApplicationID* outHostID) {
  if (outXPlaneVersion) *outXPlaneVersion = 12100;
  if (outXPLMVersion) *outXPLMVersion = kXPLM_Version;
  if (outHostID) *outHostID = xplm_Host_XPlane;
}

XPLM_API void XPLMGetSystemPath(char* outSystemPath) {
  const std::string& dir = State().outputDir;
  xphost::CopyBounded(outSystemPath, dir.empty() ? std::string("./") : dir + "/");
}

XPLM_API void XPLMGetPrefsPath(char* outPrefsPath) {
  const std::string& dir = State().outputDir;
  xphost::CopyBounded(outPrefsPath, (dir.empty() ? std::string(".") : dir) +
                                        "/Output/preferences/Set X-Plane.prf");
}

XPLM_API const char* XPLMGetDirectorySeparator(void) { return "/"; }

}  // extern "C"
