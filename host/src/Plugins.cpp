// The plug-in under test: its identity as the SDK reports it, and loading its
// binary the way X-Plane does (SharedLibrary.h holds the system calls).
#include "HostInternal.h"
#include "SharedLibrary.h"
#include "XPHostControl.h"
#include "XPLMPlugin.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <set>

namespace xphost {
namespace {

using StartFunction = int (*)(char*, char*, char*);
using StopFunction = void (*)();
using EnableFunction = int (*)();
using DisableFunction = void (*)();
using ReceiveFunction = void (*)(XPLMPluginID, int, void*);

struct EntryPoints {
  StartFunction start = nullptr;
  StopFunction stop = nullptr;
  EnableFunction enable = nullptr;
  DisableFunction disable = nullptr;
  ReceiveFunction receive = nullptr;
};

struct PluginState {
  std::string path;
  std::string name, signature, description;
  void* library = nullptr;
  const void* moduleBase = nullptr;
  EntryPoints entry;
  bool started = false;
  // Code linked into the test itself counts as an enabled plug-in.
  bool enabled = true;
  std::set<std::string> enabledFeatures;
  UnloadLeftovers leftovers;
};

PluginState& State() {
  static PluginState state;
  return state;
}

constexpr size_t kInfoBufferSize = 256;

void CopyInfo(char* out, const std::string& text) {
  if (out) std::snprintf(out, kInfoBufferSize, "%s", text.c_str());
}

std::string TextOf(const char (&buffer)[kInfoBufferSize]) {
  return std::string(buffer, strnlen(buffer, kInfoBufferSize));
}

template <typename Function>
bool Resolve(void* library, const char* symbol, Function* out, std::string* missing) {
  *out = reinterpret_cast<Function>(detail::FindLibrarySymbol(library, symbol));
  if (!*out && missing->empty()) *missing = symbol;
  return *out != nullptr;
}

bool ResolveEntryPoints(void* library, EntryPoints* entry, std::string* missing) {
  bool all = Resolve(library, "XPluginStart", &entry->start, missing);
  all = Resolve(library, "XPluginStop", &entry->stop, missing) && all;
  all = Resolve(library, "XPluginEnable", &entry->enable, missing) && all;
  all = Resolve(library, "XPluginDisable", &entry->disable, missing) && all;
  all = Resolve(library, "XPluginReceiveMessage", &entry->receive, missing) && all;
  return all;
}

// Stream -> client callback, as the CF stand-in reports them; any thread may report.
struct StreamClients {
  std::mutex mutex;
  std::map<const void*, const void*> byStream;
};

// Never destroyed: a stand-in linked into the process reports until its very end.
StreamClients& Clients() {
  static StreamClients* clients = new StreamClients();
  return *clients;
}

int DropStreamClientsOfModule(const void* moduleBase) {
  StreamClients& clients = Clients();
  std::lock_guard<std::mutex> lock(clients.mutex);
  int dropped = 0;
  for (auto entry = clients.byStream.begin(); entry != clients.byStream.end();) {
    const bool inModule = detail::IsCodeInModule(entry->second, moduleBase);
    dropped += inModule ? 1 : 0;
    entry = inModule ? clients.byStream.erase(entry) : std::next(entry);
  }
  return dropped;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// Whatever the plug-in left registered would call into unmapped code later.
UnloadLeftovers DropLeftovers(const void* moduleBase) {
  UnloadLeftovers leftovers;
  leftovers.flightLoops = detail::DropFlightLoopsOfModule(moduleBase);
  leftovers.widgetCallbacks = detail::DropWidgetCallbacksOfModule(moduleBase);
  leftovers.windows = detail::DropWindowsOfModule(moduleBase);
  leftovers.menuHandlers = detail::DropMenuHandlersOfModule(moduleBase);
  leftovers.streamClients = DropStreamClientsOfModule(moduleBase);
  return leftovers;
}

void CloseLibrary() {
  PluginState& state = State();
  state.leftovers = DropLeftovers(state.moduleBase);
  detail::CloseSharedLibrary(state.library);
  state.library = nullptr;
  state.moduleBase = nullptr;
  state.entry = EntryPoints{};
  state.started = false;
  state.enabled = true;
}

}  // namespace

namespace detail {
void ResetPlugins() {
  UnloadLeftovers leftovers = State().leftovers;
  State() = PluginState{};
  State().leftovers = leftovers;
}
}  // namespace detail

void SetPluginPath(const std::string& path) { State().path = path; }
bool PluginLoaded() { return State().library != nullptr; }
UnloadLeftovers LastUnloadLeftovers() { return State().leftovers; }

bool LoadPlugin(const std::string& path, LoadedPlugin* out, std::string* error) {
  PluginState& state = State();
  if (state.library) {
    SetError(error, "a plug-in is already loaded: " + state.path);
    return false;
  }
  void* library = detail::OpenSharedLibrary(path, error);
  if (!library) return false;
  EntryPoints entry;
  std::string missing;
  if (!ResolveEntryPoints(library, &entry, &missing)) {
    detail::CloseSharedLibrary(library);
    SetError(error, "missing entry point " + missing + " in " + path);
    return false;
  }
  std::error_code ignored;
  // UTF-8 both ways, also where the system's own code page is not.
  std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::u8path(path), ignored);
  state.path = absolute.empty() ? path : absolute.u8string();
  state.library = library;
  state.moduleBase = detail::ModuleBaseOf(reinterpret_cast<const void*>(entry.start));
  state.entry = entry;
  state.enabled = false;

  char name[kInfoBufferSize] = {};
  char signature[kInfoBufferSize] = {};
  char description[kInfoBufferSize] = {};
  state.started = entry.start(name, signature, description) == 1;
  state.name = TextOf(name);
  state.signature = TextOf(signature);
  state.description = TextOf(description);
  if (state.started) state.enabled = State().entry.enable() == 1;
  if (out) *out = LoadedPlugin{state.started, state.name, state.signature, state.description};
  return true;
}

// A plug-in whose start failed was never started, so only dlclose is left.
void UnloadPlugin() {
  PluginState& state = State();
  if (!state.library) return;
  if (state.started && state.enabled) state.entry.disable();
  if (state.started) state.entry.stop();
  CloseLibrary();
}

void SendMessageToPlugin(int from, int message, void* param) {
  if (State().library && State().started) State().entry.receive(from, message, param);
}

}  // namespace xphost

using xphost::State;

extern "C" {

void XPHostStreamClientChanged(const void* stream, const void* callback) {
  xphost::StreamClients& clients = xphost::Clients();
  std::lock_guard<std::mutex> lock(clients.mutex);
  if (callback) {
    clients.byStream[stream] = callback;
  } else {
    clients.byStream.erase(stream);
  }
}

XPLM_API XPLMPluginID XPLMGetMyID(void) { return xphost::detail::kPluginId; }

XPLM_API int XPLMCountPlugins(void) { return 1; }

XPLM_API XPLMPluginID XPLMGetNthPlugin(int inIndex) {
  return inIndex == 0 ? xphost::detail::kPluginId : XPLM_NO_PLUGIN_ID;
}

XPLM_API XPLMPluginID XPLMFindPluginByPath(const char* inPath) {
  return inPath && State().path == inPath ? xphost::detail::kPluginId : XPLM_NO_PLUGIN_ID;
}

XPLM_API XPLMPluginID XPLMFindPluginBySignature(const char* inSignature) {
  return inSignature && !State().signature.empty() && State().signature == inSignature
             ? xphost::detail::kPluginId
             : XPLM_NO_PLUGIN_ID;
}

// Buffers are filled to at most 255 bytes plus NUL; an unknown ID gets empty texts.
XPLM_API void XPLMGetPluginInfo(XPLMPluginID inPlugin, char* outName, char* outFilePath,
                                char* outSignature, char* outDescription) {
  bool isSimulator = inPlugin == XPLM_PLUGIN_XPLANE;
  bool isPlugin = inPlugin == xphost::detail::kPluginId;
  xphost::CopyInfo(outName, isPlugin ? State().name : isSimulator ? "X-Plane" : "");
  xphost::CopyInfo(outFilePath, isPlugin ? State().path : "");
  xphost::CopyInfo(outSignature, isPlugin ? State().signature : isSimulator ? "xplanesdk.x-plane" : "");
  xphost::CopyInfo(outDescription, isPlugin ? State().description : "");
}

XPLM_API int XPLMIsPluginEnabled(XPLMPluginID inPluginID) {
  return inPluginID == xphost::detail::kPluginId && State().enabled;
}

XPLM_API int XPLMEnablePlugin(XPLMPluginID inPluginID) {
  if (inPluginID != xphost::detail::kPluginId) return 0;
  if (!State().enabled && State().started) State().enabled = State().entry.enable() == 1;
  return State().enabled;
}

XPLM_API void XPLMDisablePlugin(XPLMPluginID inPluginID) {
  if (inPluginID != xphost::detail::kPluginId || !State().enabled) return;
  if (State().started) State().entry.disable();
  State().enabled = false;
}

XPLM_API void XPLMReloadPlugins(void) {}

XPLM_API void XPLMSendMessageToPlugin(XPLMPluginID inPlugin, int inMessage, void* inParam) {
  if (inPlugin == xphost::detail::kPluginId || inPlugin == XPLM_NO_PLUGIN_ID)
    xphost::SendMessageToPlugin(xphost::detail::kPluginId, inMessage, inParam);
}

// Linux paths are native already; the features exist and can be switched.
XPLM_API int XPLMHasFeature(const char* inFeature) {
  return inFeature && (std::strcmp(inFeature, "XPLM_USE_NATIVE_PATHS") == 0 ||
                       std::strcmp(inFeature, "XPLM_USE_NATIVE_WIDGET_WINDOWS") == 0);
}

XPLM_API int XPLMIsFeatureEnabled(const char* inFeature) {
  return inFeature && State().enabledFeatures.count(inFeature) > 0;
}

XPLM_API void XPLMEnableFeature(const char* inFeature, int inEnable) {
  if (!XPLMHasFeature(inFeature)) return;
  if (inEnable)
    State().enabledFeatures.insert(inFeature);
  else
    State().enabledFeatures.erase(inFeature);
}

XPLM_API void XPLMEnumerateFeatures(XPLMFeatureEnumerator_f inEnumerator, void* inRef) {
  if (!inEnumerator) return;
  inEnumerator("XPLM_USE_NATIVE_PATHS", inRef);
  inEnumerator("XPLM_USE_NATIVE_WIDGET_WINDOWS", inRef);
}

}  // extern "C"
