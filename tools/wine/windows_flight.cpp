// windows_flight, the Windows demo runner (`make demo-windows` and the Windows
// end-to-end test): the Windows plug-in flying a profile in the Windows host
// against the Tralix service at api.tralix.net (the native dev service, a
// Linux process outside Wine), then unloaded with a request in flight. Prints
// a summary and exits 0 only when the flight went as it says: start-up
// activation saved to Tralix.cfg, broadcasts accepted, one landing event with
// its ten samples (as the service recorded it), unload returning at once.
// Usage: windows_flight <Tralix.xpl> <profile> <service record file> [speed]
// Before the unload it prints "stall the service" and waits for a line on
// standard input: the caller stops the service, so a request stays open.
#include "FlightPlayer.h"
#include "FlightProfile.h"
#include "XPHostControl.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kFrameSeconds = 1.0 / 30.0;
constexpr double kMaxUnloadSeconds = 1.0;
constexpr char kSuccessCompletion[] = "Tralix - Successfully sent aircraft data to server";

// The host takes UTF-8 paths; Windows' file calls take UTF-16.
std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                                                      static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  if (FILE* file = _wfopen(Wide(path).c_str(), L"rb")) {
    char chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The samples of each recorded landing event, one request a line.
std::vector<int> LandingSamples(const std::string& record) {
  std::vector<int> samples;
  std::istringstream lines(record);
  std::string line;
  while (std::getline(lines, line))
    if (line.find("\"path\":\"/api/v1/data/client/event\"") != std::string::npos)
      samples.push_back(Count(line, "\"groundAltitude\":"));
  return samples;
}

// %TEMP%\Tralix José <pid>\Tralix\win_x64\Tralix.xpl, holding a Tralix.cfg
// with the demo key and no token: a user folder outside the ANSI code page.
std::string InstallPlugin(const std::string& built) {
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  std::wstring folder = std::wstring(temporary) + L"Tralix Jos\u00e9 " + std::to_wstring(GetCurrentProcessId());
  for (const wchar_t* part : {L"", L"\\Tralix", L"\\Tralix\\win_x64"})
    CreateDirectoryW((folder + part).c_str(), nullptr);
  folder += L"\\Tralix\\win_x64\\";
  if (!CopyFileW(Wide(built).c_str(), (folder + L"Tralix.xpl").c_str(), FALSE)) return {};
  FILE* config = _wfopen((folder + L"Tralix.cfg").c_str(), L"wb");
  if (!config) return {};
  std::fputs("API_KEY=TRALIX-DEMO-KEY\nDATA_KEY_TOKEN=\n", config);
  std::fclose(config);
  return Utf8(folder);
}

// What each frame that moves the clock cost the main thread (the plug-in's
// flight loops, sending included), in microseconds.
std::vector<double> gFrameMicros;

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

// Frames at speed times the wall clock; frames that do not move the clock
// meanwhile let the run-loop pump deliver what the service answered.
void Fly(flight_profile::Player& player, double until, double speed) {
  const auto wallStart = Clock::now();
  const double simStart = player.ProfileTime();
  while (player.ProfileTime() < until - 1e-9) {
    const double frame = std::min(kFrameSeconds, until - player.ProfileTime());
    player.PublishUntil(xphost::ElapsedTime() + frame);
    const auto frameStart = Clock::now();
    xphost::RunFrame(frame);
    gFrameMicros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - frameStart).count());
    const auto due = wallStart + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>((player.ProfileTime() - simStart) / speed));
    do {
      xphost::RunFrame(0.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (Clock::now() < due);
  }
}

void RunIdleFrames(double wallSeconds) {
  const auto end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wallSeconds));
  while (Clock::now() < end) {
    xphost::RunFrame(0.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: windows_flight <Tralix.xpl> <profile> <service record file> [speed]\n");
    return 2;
  }
  const std::string recordPath = argv[3];
  const double speed = argc > 4 ? std::atof(argv[4]) : 20.0;
  flight_profile::Profile profile;
  std::string error;
  if (!flight_profile::LoadProfile(argv[2], &profile, &error)) {
    std::fprintf(stderr, "windows_flight: %s\n", error.c_str());
    return 2;
  }
  const std::string folder = InstallPlugin(argv[1]);
  xphost::Reset();
  xphost::SetOutputDir(folder);  // Log.txt beside the plug-in
  flight_profile::Player player(profile, xphost::ElapsedTime());
  player.PublishUntil(player.ProfileTime());  // the aircraft is there before the plug-in
  xphost::LoadedPlugin loaded;
  if (folder.empty() || !xphost::LoadPlugin(folder + "Tralix.xpl", &loaded, &error) || !loaded.started) {
    std::fprintf(stderr, "windows_flight: the plug-in did not load from %s: %s\n%s", folder.c_str(), error.c_str(),
                 xphost::LogText().c_str());
    return 1;
  }
  const bool tokenSaved = FileBytes(folder + "Tralix.cfg").find("DATA_KEY_TOKEN=demo-data-token\n") != std::string::npos;
  std::printf("plug-in: %sTralix.xpl\nstart-up activation: %s\n", folder.c_str(),
              tokenSaved ? "token saved to Tralix.cfg" : "NO token saved");

  const auto flightStart = Clock::now();
  Fly(player, profile.endTime, speed);
  RunIdleFrames(1.0);
  const std::string record = FileBytes(recordPath);
  const std::vector<int> landings = LandingSamples(record);
  // The completion line is the same for a landing event's 200: those are not broadcasts.
  const int accepted = Count(xphost::LogText(), kSuccessCompletion) - static_cast<int>(landings.size());
  std::printf("flight: %.0f s of profile in %.1f s\nbroadcasts accepted: %d (the service received %d)\n",
              profile.endTime, std::chrono::duration<double>(Clock::now() - flightStart).count(), accepted,
              Count(record, "\"path\":\"/api/v1/data/client/broadcast\""));
  std::printf("landing events: %zu, samples: %d\n", landings.size(), landings.empty() ? 0 : landings[0]);
  const int errors = Count(xphost::LogText(), "Tralix - ERROR");
  std::printf("errors logged: %d (%sLog.txt)\n", errors, folder.c_str());
  std::printf("main-thread cost of a frame, sending ones included: p50 %.0f us, p99 %.0f us, max %.0f us\n",
              Percentile(gFrameMicros, 0.5), Percentile(gFrameMicros, 0.99), Percentile(gFrameMicros, 1.0));

  std::printf("stall the service\n");
  std::fflush(stdout);
  std::string line;
  std::getline(std::cin, line);
  Fly(player, player.ProfileTime() + 2.5, 1.0);  // a broadcast goes out and waits
  const auto unloadStart = Clock::now();
  xphost::UnloadPlugin();
  const double unloadSeconds = std::chrono::duration<double>(Clock::now() - unloadStart).count();
  // Module bases come from GetModuleHandleEx here: a callback left behind shows.
  const xphost::UnloadLeftovers left = xphost::LastUnloadLeftovers();
  const int leftovers = left.flightLoops + left.windows + left.widgetCallbacks + left.menuHandlers;
  std::printf("unload with a request in flight: %.3f s, callbacks left registered: %d\n", unloadSeconds, leftovers);

  const bool ok = tokenSaved && errors == 0 && accepted > 0 && landings == std::vector<int>{10} &&
                  unloadSeconds < kMaxUnloadSeconds && leftovers == 0;
  std::printf("%s\n", ok ? "windows flight: OK" : "windows flight: FAILED");
  return ok ? 0 : 1;
}
