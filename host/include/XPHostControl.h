// Control API of the headless simulator host: what tests and tools use to
// drive the SDK functions the host implements (publish datarefs, move the
// clock, run frames, read the log, load a plug-in). Never included by the
// plug-in itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xphost {

// ---- whole host ---------------------------------------------------------
// Forget every dataref, callback, menu, window, widget and log line; clock to 0;
// screen 1920 x 1080; plug-in path empty. Does not touch Log.txt on disk.
void Reset();

// Folder in which Log.txt is written (created/appended). Empty: no Log.txt.
void SetOutputDir(const std::string& dir);

// ---- datarefs -------------------------------------------------------------
// Publishing a name that exists replaces its type and value; its handle stays.
void SetDataf(const std::string& name, float value);
void SetDatai(const std::string& name, int value);
void SetDatavf(const std::string& name, const std::vector<float>& values);
void SetDatavi(const std::string& name, const std::vector<int>& values);
void SetDatab(const std::string& name, const std::string& bytes);
// After this, XPLMFindDataRef(name) gives null again; old handles read as 0.
void RemoveDataRef(const std::string& name);
// How many times the plug-in read a dataref (any XPLMGetData* call on it).
int DataRefReadCount(const std::string& name);
int TotalDataRefReads();
// Names the plug-in passed to XPLMFindDataRef, in call order.
std::vector<std::string> FindDataRefCalls();

// ---- clock and frames -------------------------------------------------------
double ElapsedTime();                 // what XPLMGetElapsedTime returns, as double
void SetElapsedTime(double seconds);
// Advance the clock by dt, call every flight loop that is due (in registration
// order, each at most once per frame), then draw every visible window.
void RunFrame(double dt);
// RunFrame(frameDt) until the clock has advanced by seconds.
void RunFor(double seconds, double frameDt);

struct FlightLoopInfo {
  void* callback;          // the XPLMFlightLoop_f as registered
  void* refcon;
  double nextCallTime;     // clock value at which it is next due; < 0 when paused
  float lastReturn;        // what its last call returned (0 before the first)
  int callCount;
};
std::vector<FlightLoopInfo> FlightLoops();

// ---- log --------------------------------------------------------------------
std::string LogText();                 // everything XPLMDebugString received
std::vector<std::string> LogLines();   // LogText split at '\n', without the '\n'
void ClearLog();

// ---- plug-in ----------------------------------------------------------------
// Path reported by XPLMGetPluginInfo for the calling plug-in (settable so tests
// can give a classic colon path or an empty one). LoadPlugin sets it to the
// binary's path.
void SetPluginPath(const std::string& path);

struct LoadedPlugin {
  bool started = false;     // XPluginStart returned 1 (then XPluginEnable was called)
  std::string name, signature, description;
};
// dlopen the binary, call XPluginStart with three 256-byte buffers, then
// XPluginEnable when start succeeded. Returns false (with error set) when the
// file cannot be loaded or lacks an entry point.
bool LoadPlugin(const std::string& path, LoadedPlugin* out, std::string* error);
// XPluginDisable + XPluginStop (if started), then dlclose.
void UnloadPlugin();
void SendMessageToPlugin(int from, int message, void* param);

}  // namespace xphost
