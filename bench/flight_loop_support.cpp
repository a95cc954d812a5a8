#include "flight_loop_support.h"

#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "PluginState.h"
#include "Tralix.h"
#include "XPHostControl.h"
#include "platform/RunLoopPump.h"

#include "XPLMProcessing.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace flight_loop_bench {
namespace {

constexpr int kGearCount = 10;
constexpr char kGearOnGroundPath[] = "sim/flightmodel2/gear/on_ground";
// Past the gate by this much, so that the float clock never rounds it shut.
constexpr double kGateMargin = 0.25;

XPLMFlightLoop_f gPump = nullptr;

XPLMFlightLoop_f RegisteredPump() {
  const std::vector<xphost::FlightLoopInfo> loops = xphost::FlightLoops();
  if (loops.size() != 1) throw std::runtime_error("expected the run-loop pump as the only flight loop");
  return reinterpret_cast<XPLMFlightLoop_f>(loops.front().callback);
}

}  // namespace

void EnterSandbox(int argc, char** argv) {
  if (std::getenv("TRALIX_SANDBOX") != nullptr) return;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) {
    std::perror("cannot find this program");
    std::exit(1);
  }
  self[length] = '\0';
  std::vector<char*> arguments = {const_cast<char*>(TRALIX_SANDBOX_SCRIPT), const_cast<char*>("--cert-dir"),
                                  const_cast<char*>(TRALIX_SANDBOX_CERT_DIR), const_cast<char*>("--"), self};
  for (int index = 1; index < argc; ++index) arguments.push_back(argv[index]);
  arguments.push_back(nullptr);
  execv(TRALIX_SANDBOX_SCRIPT, arguments.data());
  std::perror("cannot start the sandbox");
  std::exit(1);
}

std::unique_ptr<tralix::dev::DevService> StartService() {
  const char* cert = std::getenv("TRALIX_SANDBOX_CERT");
  const char* key = std::getenv("TRALIX_SANDBOX_KEY");
  const char* ca = std::getenv("TRALIX_SANDBOX_CA");
  if (!cert || !key || !ca) {
    std::fprintf(stderr, "not inside tools/sandbox/tralix-sandbox\n");
    std::exit(1);
  }
  tralix::dev::ServiceOptions options;
  options.port = 443;
  options.identity = tralix::dev::LoadTlsIdentity(cert, key, ca);
  options.apiKeys = {{kApiKey, kDataToken}};
  auto service = std::make_unique<tralix::dev::DevService>(options);
  try {
    service->Start();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cannot start the service stand-in: %s\n", error.what());
    std::exit(1);
  }
  return service;
}

void SetUpPlugin() {
  xphost::Reset();
  tralix_test::PublishCatalogue(12.5f, 1);
  tralix_test::PublishCoreDataRefs();
  if (!tralix_test::StartModules()) throw std::runtime_error("the catalogue did not resolve");
  SetGearOnGround(true);
  std::snprintf(gApiKey, sizeof(gApiKey), "%s", kApiKey);
  std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", kDataToken);
  StartRunLoopPump();
  gPump = RegisteredPump();
  xphost::SetElapsedTime(10.0);
}

void SetGearOnGround(bool onGround) {
  xphost::SetDatavi(kGearOnGroundPath, std::vector<int>(kGearCount, onGround ? 1 : 0));
  xphost::SetDataf("sim/flightmodel/position/y_agl", onGround ? 0.0f : 850.0f);
}

void MoveClockToNextSend() {
  const double earliest = static_cast<double>(gLastSendTime) + static_cast<double>(gBackoffTime) + 1.0 + kGateMargin;
  xphost::SetElapsedTime(std::max(xphost::ElapsedTime() + 1.0 / 60.0, earliest));
}

float RunFlightLoop() { return TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr); }

void RunPumpPass() { gPump(0.0f, 0.0f, 0, nullptr); }

bool CompleteRequest(double timeoutSeconds, void (*pass)()) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (gNetworkBusy) {
    const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
    if (left <= 0.0) return false;
    CFStandInWaitForTransportIdle(left);
    pass();
  }
  return true;
}

}  // namespace flight_loop_bench
