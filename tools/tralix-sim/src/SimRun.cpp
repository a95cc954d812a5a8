// A tralix-sim run: copies the plug-in into a fresh folder with its Tralix.cfg,
// starts the service (or the relay to one), loads the plug-in into the headless
// host, plays the profile frame by frame against the wall clock, carries out
// the pilot's actions, and reports.
#include "SimRun.h"

#include "DevService.h"
#include "FlightPlayer.h"
#include "FlightRecord.h"
#include "Sandbox.h"
#include "Summary.h"
#include "TextUtil.h"
#include "XPHostControl.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

namespace tralix_sim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kBroadcastPath[] = "/api/v1/data/client/broadcast";
constexpr char kEventPath[] = "/api/v1/data/client/event";
constexpr char kActivatePrefix[] = "/api/v1/apiKey/activate/";
// After the flight, how long answers still on their way are waited for. The
// clock stands still meanwhile (no broadcast starts), so the plug-in's own
// bounds (5 s, 10 s) end nothing: a request still in flight after this is
// reported as left in flight.
constexpr double kDrainWallSeconds = 11.0;
// Behind the wall clock by more than this (after a blocking activation, say),
// the run starts counting afresh instead of rushing frames to catch up.
constexpr double kMaxLagSeconds = 0.1;
constexpr size_t kRecentLines = 6;

// Set by Ctrl+C: the flight stops at the next frame and the summary follows.
std::atomic<bool> gInterrupted{false};

// A second Ctrl+C ends the process at once.
void NoteInterrupt(int) {
  gInterrupted = true;
  std::signal(SIGINT, SIG_DFL);
}

struct RunError {
  std::string message;
};

std::string DefaultPluginPath() {
  std::error_code failure;
  const fs::path self = fs::read_symlink("/proc/self/exe", failure);
  if (!failure) {
    const fs::path beside = self.parent_path() / "../../Tralix/lin_x64/Tralix.xpl";
    if (fs::exists(beside, failure)) return fs::weakly_canonical(beside, failure).string();
  }
#ifdef TRALIX_PLUGIN_FILE
  return TRALIX_PLUGIN_FILE;
#else
  return {};
#endif
}

void WriteConfig(const fs::path& file, const std::string& apiKey, const std::string& token) {
  std::ofstream config(file, std::ios::trunc);
  config << "# Tralix Client Configuration File\n# Written by tralix-sim\n\nAPI_KEY=" << apiKey
         << "\n\nDATA_KEY_TOKEN=" << token << "\n";
  if (!config) throw RunError{"cannot write " + file.string()};
}

// A fresh <out>/Tralix/lin_x64/ with the plug-in and its Tralix.cfg; an old Log.txt goes.
std::string PreparePluginFolder(const SimOptions& options, const std::string& pluginFile) {
  const fs::path out = options.outDir;
  const fs::path folder = out / "Tralix" / "lin_x64";
  std::error_code failure;
  fs::remove_all(out / "Tralix", failure);
  fs::remove(out / "Log.txt", failure);
  for (int number = 1; fs::remove(out / ("landing-" + std::to_string(number) + ".svg"), failure); ++number) {
  }
  fs::create_directories(folder, failure);
  if (failure) throw RunError{"cannot make " + folder.string() + ": " + failure.message()};
  const fs::path copy = folder / "Tralix.xpl";
  fs::copy_file(pluginFile, copy, failure);
  if (failure) throw RunError{"cannot copy " + pluginFile + " to " + copy.string() + ": " + failure.message()};

  const bool embedded = options.serviceAddress.empty();
  if (options.writeConfig && (options.apiKeyGiven || embedded)) {
    WriteConfig(folder / "Tralix.cfg", options.apiKeyGiven ? options.apiKey : kDemoApiKey, options.token);
  }
  return copy.string();
}

std::unique_ptr<tralix::dev::DevService> StartEmbeddedService(const SimOptions& options, ServiceTally* tally) {
  const char* cert = std::getenv("TRALIX_SANDBOX_CERT");
  const char* key = std::getenv("TRALIX_SANDBOX_KEY");
  if (!cert || !key)
    throw RunError{"the embedded service needs the sandbox's certificate (TRALIX_SANDBOX_CERT, _KEY): run without "
                   "--no-sandbox, or under tools/sandbox/tralix-sandbox"};
  tralix::dev::ServiceOptions serviceOptions;
  serviceOptions.port = 443;
  const char* ca = std::getenv("TRALIX_SANDBOX_CA");
  serviceOptions.identity = tralix::dev::LoadTlsIdentity(cert, key, ca ? ca : "");
  serviceOptions.recordFile = options.recordFile;
  std::vector<std::string> keys = options.serviceKeys;
  if (keys.empty()) keys.push_back(std::string(kDemoApiKey) + "=" + kDemoToken);
  for (const std::string& entry : keys) {
    const size_t equals = entry.find('=');
    serviceOptions.apiKeys[entry.substr(0, equals)] =
        equals == std::string::npos ? "token-" + entry : entry.substr(equals + 1);
  }
  auto service = std::make_unique<tralix::dev::DevService>(serviceOptions);
  service->Start();
  tally->embedded = true;
  tally->description = "embedded stand-in on 127.0.0.1:443 (api.tralix.net in the sandbox), sandbox test CA";
  return service;
}

tralix::dev::Fault ToServiceFault(const ServiceFault& fault) {
  tralix::dev::Fault serviceFault;
  serviceFault.path = kBroadcastPath;
  serviceFault.count = fault.count;
  serviceFault.status = fault.status;
  serviceFault.closeWithoutAnswer = fault.drop;
  serviceFault.delay = std::chrono::milliseconds(fault.delayMs);
  return serviceFault;
}

// Lines worth showing while the flight runs, without --verbose.
bool IsNotable(const std::string& line) {
  static const char* const kPrefixes[] = {
      "Tralix - Successfully activated",  "Tralix - ERROR: Failed to activate", "Tralix - Takeoff detected!",
      "Tralix - Weight on wheels detected!", "Tralix - DEBUG: Not enough data points",
      "Tralix - API key activated",       "Tralix - Connection activated",     "Tralix - Failed to activate",
  };
  for (const char* prefix : kPrefixes)
    if (StartsWith(line, prefix)) return true;
  return false;
}

class FlightRun {
 public:
  explicit FlightRun(const SimOptions& options) : options_(options) {}
  ~FlightRun() {
    if (xphost::PluginLoaded()) xphost::UnloadPlugin();
  }
  FlightRun(const FlightRun&) = delete;
  FlightRun& operator=(const FlightRun&) = delete;
  int Run();

 private:
  void StartService();
  void LoadPlugin(const std::string& pluginCopy, flight_profile::Player* player);
  void Fly(flight_profile::Player* player, double endTime);
  void RunDueEvents(double profileTime);
  void CollectLog(double simTime);
  void ObserveStatusWindow(double simTime);
  void WaitForNetwork(double simTime);
  void Pace(double simElapsed);
  void Drain(double simTime);
  void TallyService();
  void CompareTakeoffBroadcast(const flight_profile::Profile& profile);
  std::vector<std::string> WriteCharts();
  int ExitStatus() const;

  const SimOptions& options_;
  FlightRecord record_;
  RunFacts facts_;
  ServiceTally tally_;
  std::unique_ptr<tralix::dev::DevService> service_;
  std::unique_ptr<Relay> relay_;
  ScriptedClipboard clipboard_;
  std::vector<PilotAction> actions_;
  size_t nextAction_ = 0;
  size_t nextFault_ = 0;
  std::string partialLine_;
  std::deque<std::string> recentLines_;
  Clock::time_point wallStart_;
  double simAtWallStart_ = 0.0;
};

xphost::XPlaneVersion XPlaneVersionOf(const SimOptions& options) {
  return options.xplaneVersion == 11 ? xphost::XPlaneVersion::XP11 : xphost::XPlaneVersion::XP12;
}

void FlightRun::StartService() {
  if (options_.serviceAddress.empty()) {
    service_ = StartEmbeddedService(options_, &tally_);
    return;
  }
  tally_.description = "api.tralix.net:443 -> " + options_.serviceAddress;
  const int control = RelayControlSocket();
  if (control >= 0) {
    relay_ = std::make_unique<Relay>(control);
    std::string error;
    if (!relay_->Start(&error)) throw RunError{error};
    tally_.description += " (relayed out of the sandbox)";
  } else {
    tally_.description += " (name and route as this machine has them)";
  }
  if (!options_.caFile.empty()) {
    std::string error;
    if (!InsideSandbox()) throw RunError{"--ca needs the sandbox: drop --no-sandbox"};
    if (!TrustCertificateAuthority(options_.caFile, &error)) throw RunError{error};
    tally_.description += ", trusting " + options_.caFile;
  }
}

void FlightRun::LoadPlugin(const std::string& pluginCopy, flight_profile::Player* player) {
  xphost::Reset();
  xphost::SetXPlaneVersion(XPlaneVersionOf(options_));
  xphost::SetOutputDir(options_.outDir);
  player->PublishUntil(player->ProfileTime());
  xphost::LoadedPlugin loaded;
  std::string error;
  if (!xphost::LoadPlugin(pluginCopy, &loaded, &error)) throw RunError{"cannot load the plug-in: " + error};
  CollectLog(0.0);
  if (!loaded.started) {
    std::string tail;
    for (const std::string& line : recentLines_) tail += "\n  " + line;
    throw RunError{"the plug-in did not start (XPluginStart returned 0); the end of " + facts_.logPath + ":" + tail};
  }
  if (options_.statusWindow) xphost::PickMenuItem({"Tralix", "Connection Status"});
  CollectLog(0.0);
}

void FlightRun::CollectLog(double simTime) {
  std::string text = partialLine_ + xphost::LogText();
  xphost::ClearLog();
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    const std::string line = text.substr(start, end - start);
    record_.AddLogLine(simTime, line);
    recentLines_.push_back(line);
    if (recentLines_.size() > kRecentLines) recentLines_.pop_front();
    if (options_.verbose || IsNotable(line))
      std::printf("[%8.1f s] %s\n", simTime, StartsWith(line, "Tralix - ") ? line.c_str() + 9 : line.c_str());
    start = end + 1;
  }
  partialLine_ = text.substr(start);
}

void FlightRun::ObserveStatusWindow(double simTime) {
  for (const xphost::WindowInfo& window : xphost::Windows()) {
    if (!window.visible || window.widgetRoot) continue;
    for (const std::string& line : xphost::DrawnLines(window.id))
      if (StartsWith(line, "Backoff: ")) record_.ObserveStatusLine(simTime, line);
  }
}

void FlightRun::RunDueEvents(double profileTime) {
  constexpr double kDue = 1e-6;
  while (service_ && nextFault_ < options_.faults.size() && options_.faults[nextFault_].time <= profileTime + kDue)
    service_->AddFault(ToServiceFault(options_.faults[nextFault_++]));
  while (nextAction_ < actions_.size() && actions_[nextAction_].time <= profileTime + kDue) {
    const PilotAction& action = actions_[nextAction_++];
    const std::string result = PerformAction(action, &clipboard_);
    facts_.actionReports.push_back(action.text + ": " + result);
    if (result != "ok") facts_.actionsFailed.push_back(facts_.actionReports.back());
    std::printf("[%8.1f s] pilot: %s: %s\n", profileTime, action.text.c_str(), result.c_str());
    CollectLog(profileTime);
    // An action may block (activation waits for the service): count the wall clock afresh.
    wallStart_ = Clock::now();
    simAtWallStart_ = profileTime;
  }
}

void FlightRun::Pace(double simTime) {
  const double wallDue = (simTime - simAtWallStart_) / options_.speed;
  const double wallNow = std::chrono::duration<double>(Clock::now() - wallStart_).count();
  if (wallNow - wallDue > kMaxLagSeconds) {
    wallStart_ = Clock::now();
    simAtWallStart_ = simTime;
  } else if (wallDue > wallNow) {
    std::this_thread::sleep_for(std::chrono::duration<double>(wallDue - wallNow));
  } else {
    std::this_thread::yield();
  }
}

// While a request is in flight the sim clock moves no faster than the wall
// clock, as in the simulator: a frame waits up to its own length for the
// answer, running frames that do not move the clock so that the run-loop pump
// delivers it. A quick answer costs next to nothing; a slow one shows its
// real length in sim time however fast the run is.
void FlightRun::WaitForNetwork(double simTime) {
  if (record_.RequestsInFlight() <= 0) return;
  const auto deadline = Clock::now() + std::chrono::duration<double>(options_.frameSeconds);
  while (record_.RequestsInFlight() > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    xphost::RunFrame(0.0);
    CollectLog(simTime);
  }
}

void FlightRun::Fly(flight_profile::Player* player, double endTime) {
  wallStart_ = Clock::now();
  simAtWallStart_ = player->ProfileTime();
  while (player->ProfileTime() < endTime - 1e-9 && !gInterrupted) {
    RunDueEvents(player->ProfileTime());
    WaitForNetwork(player->ProfileTime());
    player->Step(std::min(options_.frameSeconds, endTime - player->ProfileTime()));
    ++facts_.frames;
    CollectLog(player->ProfileTime());
    ObserveStatusWindow(player->ProfileTime());
    Pace(player->ProfileTime());
  }
  facts_.interrupted = gInterrupted;
  if (!gInterrupted) RunDueEvents(player->ProfileTime());
  for (; nextAction_ < actions_.size(); ++nextAction_) {
    facts_.actionReports.push_back(actions_[nextAction_].text + ": not reached, the flight ended first");
    facts_.actionsFailed.push_back(facts_.actionReports.back());
  }
}

// Runs frames that do not move the clock, so the run-loop pump delivers what
// is still on its way, until nothing is in flight.
void FlightRun::Drain(double simTime) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(kDrainWallSeconds);
  while (record_.RequestsInFlight() > 0 && Clock::now() < deadline) {
    xphost::RunFrame(0.0);
    CollectLog(simTime);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  facts_.requestsLeftInFlight = std::max(0, record_.RequestsInFlight());
}

std::vector<LandingPoint> PointsOf(const nlohmann::json& points) {
  std::vector<LandingPoint> parsed;
  if (!points.is_array()) return parsed;
  for (const auto& point : points) {
    auto number = [&point](const char* name) {
      return point.is_object() && point.contains(name) && point[name].is_number() ? point[name].get<double>() : NAN;
    };
    parsed.push_back({number("groundAltitude"), number("gForce"), number("verticalSpeed"), number("rollDegree")});
  }
  return parsed;
}

// What the service received of a landing event: the JSON strings of the
// touchdown values and the points.
void TakeReceivedEvent(const tralix::dev::RecordedRequest& request, LandingEvent* landing) {
  const nlohmann::json none;
  const nlohmann::json& data = request.json.is_object() && request.json.contains("data") ? request.json["data"] : none;
  auto text = [&data](const char* name) {
    return data.is_object() && data.contains(name) && data[name].is_string() ? data[name].get<std::string>() : "?";
  };
  landing->received = true;
  landing->status = request.status;
  landing->verticalSpeedText = text("verticalSpeed");
  landing->altitudeText = text("altitude");
  landing->receivedPoints = PointsOf(data.is_object() && data.contains("points") ? data["points"] : none);
}

void FlightRun::TallyService() {
  if (!service_) return;
  auto landing = record_.Landings().begin();
  for (const tralix::dev::RecordedRequest& request : service_->Requests()) {
    const bool ok = request.verdict == "ok";
    if (!ok) {
      const std::string status = request.status ? " (HTTP " + std::to_string(request.status) + ")" : "";
      ++tally_.otherVerdicts[request.verdict + status];
    }
    if (StartsWith(request.path, kActivatePrefix)) {
      ++tally_.activations;
      tally_.activationsOk += ok;
    } else if (request.path == kBroadcastPath) {
      ++tally_.broadcasts;
      tally_.broadcastsOk += ok;
    } else if (request.path == kEventPath) {
      ++tally_.events;
      tally_.eventsOk += ok;
      // Events arrive in the order the plug-in handed them over.
      while (landing != record_.Landings().end() && !landing->handedOver) ++landing;
      if (landing != record_.Landings().end()) TakeReceivedEvent(request, &*landing++);
    }
  }
}

void FlightRun::CompareTakeoffBroadcast(const flight_profile::Profile& profile) {
  facts_.xplaneVersion = options_.xplaneVersion;
  facts_.takeoffBroadcast = record_.FirstBroadcastAfterTakeoff();
  if (!service_ || !facts_.takeoffBroadcast) return;
  int ordinal = 0;
  for (const tralix::dev::RecordedRequest& request : service_->Requests()) {
    if (request.path != kBroadcastPath || ++ordinal != facts_.takeoffBroadcast->ordinal) continue;
    facts_.takeoffValues = CompareWithPublished(request.body, profile, facts_.takeoffBroadcast->simTime,
                                                XPlaneVersionOf(options_));
    return;
  }
}

std::vector<std::string> FlightRun::WriteCharts() {
  std::vector<std::string> files;
  int number = 0;
  for (const LandingEvent& event : record_.Landings()) {
    ++number;
    if (ShownPoints(event).empty()) {
      files.emplace_back();
      continue;
    }
    const std::string file = (fs::path(options_.outDir) / ("landing-" + std::to_string(number) + ".svg")).string();
    std::ofstream chart(file, std::ios::trunc);
    chart << LandingChartSvg(event, number);
    files.push_back(chart ? file : "(could not write " + file + ")");
  }
  return files;
}

// 3 for unmet --expect-landings, else 4 when a pilot action failed: a script
// that did not do what it says must not pass for a good run.
int FlightRun::ExitStatus() const {
  int status = 0;
  if (options_.expectLandings >= 0) {
    int accepted = 0;
    for (const LandingEvent& event : record_.Landings())
      accepted += service_ ? (event.received && event.status == 200) : event.handedOver;
    if (accepted != options_.expectLandings) {
      std::fprintf(stderr, "tralix-sim: expected %d landing events accepted, got %d\n", options_.expectLandings,
                   accepted);
      status = 3;
    }
  }
  for (const std::string& report : facts_.actionsFailed)
    std::fprintf(stderr, "tralix-sim: pilot action failed: %s\n", report.c_str());
  return status || facts_.actionsFailed.empty() ? status : 4;
}

int FlightRun::Run() {
  flight_profile::Profile profile;
  std::string error;
  if (!flight_profile::LoadProfile(options_.profilePath, &profile, &error)) throw RunError{error};
  if (const std::string mismatch = flight_profile::XPlaneMismatch(profile); !mismatch.empty())
    throw RunError{mismatch};
  const std::string pluginFile = options_.pluginPath.empty() ? DefaultPluginPath() : options_.pluginPath;
  std::error_code failure;
  if (pluginFile.empty() || !fs::is_regular_file(pluginFile, failure))
    throw RunError{"no plug-in binary at '" + pluginFile + "' (build it, or name one with --plugin)"};
  actions_ = options_.actions;
  std::stable_sort(actions_.begin(), actions_.end(),
                   [](const PilotAction& a, const PilotAction& b) { return a.time < b.time; });

  const std::string pluginCopy = PreparePluginFolder(options_, pluginFile);
  facts_.profile = options_.profilePath;
  facts_.pluginPath = pluginCopy;
  facts_.logPath = (fs::path(options_.outDir) / "Log.txt").string();
  // A scripted run reads tralix-sim's clipboard, never whatever the desktop holds.
  if (!actions_.empty() && !clipboard_.Install(fs::absolute(options_.outDir / fs::path("clipboard")).string(), &error))
    throw RunError{error};
  StartService();

  const double endTime = options_.untilTime > 0.0 ? std::min(options_.untilTime, profile.endTime) : profile.endTime;
  std::printf("tralix-sim: flying %s (%.1f s) with X-Plane %d's datarefs at %gx, frames of %.4f s; service: %s\n",
              options_.profilePath.c_str(), endTime, options_.xplaneVersion, options_.speed, options_.frameSeconds,
              tally_.description.c_str());
  std::fflush(stdout);
  flight_profile::Player player(profile);
  const auto wallBegin = Clock::now();
  LoadPlugin(pluginCopy, &player);
  Fly(&player, endTime);
  Drain(player.ProfileTime());
  facts_.simSeconds = player.ProfileTime();
  facts_.wallSeconds = std::chrono::duration<double>(Clock::now() - wallBegin).count();
  xphost::UnloadPlugin();
  CollectLog(player.ProfileTime());
  TallyService();
  CompareTakeoffBroadcast(profile);
  if (service_) service_->Stop();
  if (relay_) relay_->Stop();

  PrintSummary(std::cout, facts_, tally_, record_, WriteCharts());
  std::cout.flush();
  return ExitStatus();
}

}  // namespace

int RunSimulation(const SimOptions& options) {
  std::signal(SIGINT, NoteInterrupt);
  try {
    FlightRun run(options);
    return run.Run();
  } catch (const RunError& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "tralix-sim: %s\n", failure.message.c_str());
  } catch (const std::exception& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "tralix-sim: %s\n", failure.what());
  }
  return 1;
}

}  // namespace tralix_sim
