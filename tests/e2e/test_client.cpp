// The plug-in's sources against the service stand-in over verified HTTPS, with
// their state in reach: how answers are judged, hostile answers, the bodies as
// the service parses them, activation at start-up and through the dialog, and
// no object left behind.
#include "ConfigManager.h"
#include "E2eSupport.h"
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "Tralix.h"
#include "UI.h"
#include "XPHostControl.h"
#include "platform/RunLoopPump.h"

#include "CFStandInTesting.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/mount.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <regex>
#include <string>

namespace {

using e2e::FaultOn;
using e2e::kKey;
using e2e::kToken;

enum class Request { Broadcast, LandingEvent, Activation };

class Client : public e2e::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    if (IsSkipped()) return;
    InitNetwork();
    std::snprintf(gApiKey, sizeof(gApiKey), "%s", kKey);
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", kToken);
  }
  void TearDown() override {
    if (service_) {
      CleanupUI();
      ShutdownNetwork();
      CFStandInShutdownTransport();
      EXPECT_EQ(CFStandInLiveObjectCount(), 0);
    }
    ServiceTest::TearDown();
  }

  // Runs the run loop, as the simulator's main thread does, until the request
  // in flight has been judged.
  static void RunUntilIdle() {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (gNetworkBusy && std::chrono::steady_clock::now() < giveUp)
      CFRunLoopRunInMode(RequestRunLoopMode(), 0.01, true);
  }

  // Starts a broadcast or a landing event; any request's end clears the busy
  // flag, which then marks the landing event's end too.
  static int Start(Request request) {
    if (request == Request::Broadcast)
      return SendAircraftData(47.449123f, -122.30912f, 131.0f, 0.0f, 12.0f, 0.0f, 430.0f, "Cessna 172", "C172");
    static const LandingDataPoint points[10] = {};
    gNetworkBusy = 1;
    return SendLandingEvent(-300.0f, 0.5f, points, 10);
  }

  static std::string LastLine() { return xphost::LogLines().back(); }
};

TEST_F(Client, OnlyA2xxAnswerIsASuccessAnyOtherStatusIsACountedFailure) {
  const std::pair<int, bool> cases[] = {{200, true},  {204, true},  {299, true},  {300, false},
                                        {302, false}, {401, false}, {404, false}, {500, false}};
  for (const auto& [status, success] : cases) {
    SCOPED_TRACE(status);
    gConsecutiveFailures = 7;
    gBackoffTime = 3.0f;
    service_->AddFault(FaultOn(e2e::kBroadcastPath, status));
    ASSERT_EQ(Start(Request::Broadcast), 1);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunFinished)
        << "nothing waits for the mode the simulator runs";
    RunUntilIdle();
    EXPECT_EQ(gConsecutiveFailures, success ? 0 : 8);
    EXPECT_FLOAT_EQ(gBackoffTime, success ? 0.0f : 7.0f);
    EXPECT_EQ(LastLine().rfind("Tralix - ERROR: ", 0) == 0, !success) << LastLine();
    EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0) << "the handler releases the stream";
  }
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Server error. Please try again later");
  EXPECT_EQ(CFStandInLiveObjectCount(), 5) << "only the last request's objects are kept until the next";
}

TEST_F(Client, RedirectIsAFailureAndNothingReachesItsTarget) {
  // Another host, mapped to loopback and trusted like the service itself.
  const auto sandboxCa =
      tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CA"), std::getenv("TRALIX_SANDBOX_CA_KEY"));
  tralix::dev::ServiceOptions options;
  options.port = 8443;
  options.identity =
      tralix::dev::IssueTlsIdentity(sandboxCa.certificatePem, sandboxCa.privateKeyPem, {"elsewhere.tralix.test"});
  tralix::dev::DevService elsewhere(options);
  elsewhere.Start();

  const std::pair<Request, const char*> requests[] = {{Request::Broadcast, e2e::kBroadcastPath},
                                                      {Request::LandingEvent, e2e::kEventPath},
                                                      {Request::Activation, e2e::kActivatePath}};
  size_t served = 0;
  for (const auto& [request, path] : requests) {
    for (int status : {307, 302}) {
      for (bool sameHost : {false, true}) {
        SCOPED_TRACE(std::string(path) + " " + std::to_string(status) + (sameHost ? " same host" : " elsewhere"));
        tralix::dev::Fault redirect = FaultOn(path);
        redirect.redirect = true;
        redirect.status = status;
        if (!sameHost) redirect.location = std::string("https://elsewhere.tralix.test:8443") + path;
        service_->AddFault(redirect);
        gConsecutiveFailures = 0;
        if (request == Request::Activation) {
          char token[256] = "stale";
          EXPECT_EQ(ActivateApiKey(kKey, token, sizeof(token)), 0);
          EXPECT_STREQ(token, "") << "no token to save";
          EXPECT_EQ(LastLine(), "Tralix - API activation failed");
        } else {
          ASSERT_EQ(Start(request), 1);
          RunUntilIdle();
          EXPECT_EQ(LastLine(), "Tralix - ERROR: Request failed with HTTP status code " + std::to_string(status));
          EXPECT_EQ(gConsecutiveFailures, 1);
        }
        EXPECT_EQ(service_->RequestCount(), ++served);
      }
    }
  }
  EXPECT_EQ(elsewhere.RequestCount(), 0u);
  elsewhere.Stop();
}

// On the plug-in's clock: nothing before the bound, a read time-out at it. An
// answer that arrived is judged, however late the next cycle comes (a pause).
TEST_F(Client, RequestInFlightAtItsBoundEndsAsAReadTimeoutUnlessItsAnswerArrived) {
  enum class Service { Silent, Trickling, Answered };
  for (Service behaviour : {Service::Silent, Service::Trickling, Service::Answered}) {
    for (Request request : {Request::Broadcast, Request::LandingEvent}) {
      const bool broadcast = request == Request::Broadcast;
      const char* path = broadcast ? e2e::kBroadcastPath : e2e::kEventPath;
      SCOPED_TRACE(std::string(path) + " " + std::to_string(static_cast<int>(behaviour)));
      const tralix::dev::Fault fault =
          behaviour == Service::Silent ? e2e::Silent(path) : e2e::Trickle(path, std::string(200, ' '));
      service_->ClearRequests();
      if (behaviour != Service::Answered) service_->AddFault(fault);
      gConsecutiveFailures = 0;
      const double startedAt = xphost::ElapsedTime();
      ASSERT_EQ(Start(request), 1);
      ASSERT_TRUE(service_->WaitForRequests(1, std::chrono::seconds(5)));
      const double bound = broadcast ? 5.0 : 10.0;
      std::vector<double> cycles = {bound - 0.1, bound};
      if (behaviour == Service::Answered) {
        ASSERT_EQ(CFStandInWaitForTransportIdle(5), 1) << "answered, not yet delivered";
        cycles = {bound + 60.0};
      }
      const size_t linesBefore = xphost::LogLines().size();
      std::vector<size_t> linesAfterCycles;
      for (double after : cycles) {
        xphost::SetElapsedTime(startedAt + after);
        gLastSendTime = static_cast<float>(xphost::ElapsedTime());  // holds the send gate shut
        TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
        linesAfterCycles.push_back(xphost::LogLines().size());
      }
      const auto lines = xphost::LogLines();
      if (behaviour == Service::Answered) {
        EXPECT_EQ(lines.at(linesBefore), "Tralix - HTTP Status Code: 200");
        EXPECT_EQ(gConsecutiveFailures, 0);
      } else {
        ASSERT_EQ(linesAfterCycles, (std::vector<size_t>{linesBefore, linesBefore + 1})) << "nothing before the bound";
        EXPECT_EQ(lines.back(), "Tralix - Network error: domain 1, code 60");
        EXPECT_EQ(gConsecutiveFailures, 1);
      }
      EXPECT_EQ(gNetworkBusy, 0);
      EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
    }
  }
}

TEST_F(Client, BodiesAreTheJsonTheServiceParses) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ASSERT_EQ(SendAircraftData(nan, -122.30912f, 131.0f, 270.5f, 12.0f, 0.0f, 430.0f, "C \"S\"\r\n\\", "C1\t72"), 1);
  RunUntilIdle();
  LandingDataPoint points[12];
  for (int i = 0; i < 12; ++i) points[i] = {12.5f + static_cast<float>(i), 1.25f, -480.0f, 2.6f};
  points[3].rollDegree = nan;
  gNetworkBusy = 1;
  ASSERT_EQ(SendLandingEvent(-512.5f, 3.2f, points, 12), 1);
  RunUntilIdle();

  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.verdict, "ok") << request.body;
    EXPECT_EQ(request.Header("datakeytoken"), kToken);
    EXPECT_EQ(request.Header("Content-Type"), "application/json");
  }
  const std::regex time(R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")");
  EXPECT_EQ(std::regex_replace(requests[0].body, time, "T"),
            R"({"key":"tlx_key_1","clientVersion":10106,"airCraftName":"C \"S\"\u000d\n\\","icaoCode":"C1\t72",)"
            R"("simKind":"XPlane","latitude":null,"longitude":-122.3091201782,"altitude":131.00,)"
            R"("altitudeAboveGround":0.00,"altitudeMSL":430.00,"groundSpeed":12.00,"heading":270.50,)"
            R"("simTimeStamp":T,"clientTimeStamp":T,"extra":"{}"})");
  const std::string& event = requests[1].body;
  EXPECT_EQ(event.rfind(R"({"event":"LandingRate","data":{"verticalSpeed":"-512.5000000000","altitude":"3.2",)", 0),
            0u)
      << event;
  EXPECT_NE(event.find(R"([{"groundAltitude":12.500000,"gForce":1.250000,"verticalSpeed":-480.0000000000,)"
                       R"("rollDegree":3},)"),
            std::string::npos)
      << event;
  const auto& data = requests[1].json["data"];
  ASSERT_EQ(data["points"].size(), 10u) << "records past the tenth are never sent";
  EXPECT_TRUE(data["points"][3]["rollDegree"].is_null());
  EXPECT_EQ(data["simTimeStamp"], data["clientTimeStamp"]);
}

TEST_F(Client, ActivationTakesATokenOnlyFromACompleteSuccessfulAnswer) {
  struct Case {
    const char* what;
    int status;  // 0: the service's own
    std::optional<std::string> body;
    const char* token;
  };
  const Case cases[] = {
      {"known key", 0, std::nullopt, kToken},
      {"refused with a token in the body", 401, R"({"token":"nope"})", ""},
      {"empty body", 0, "", ""},
      {"token past 8 KiB", 0, std::string(8300, ' ') + R"({"token":"late"})", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    service_->SetActivationBody(c.body);
    tralix::dev::Fault refusal = FaultOn(e2e::kActivatePath, c.status);
    refusal.body = c.body;
    if (c.status) service_->AddFault(refusal);
    char token[256] = "stale";
    EXPECT_EQ(ActivateApiKey(kKey, token, sizeof(token)), c.token[0] != '\0');
    EXPECT_STREQ(token, c.token);
  }
}

// The exchange blocks the simulator; its deadline is wall-clock time.
TEST_F(Client, TricklingActivationAnswerIsGivenUpAfterThirtySeconds) {
  service_->AddFault(e2e::Trickle(e2e::kActivatePath, std::string(200, ' ') + R"({"token":"slow"})"));
  char token[256] = "stale";
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(ActivateApiKey(kKey, token, sizeof(token)), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_STREQ(token, "");
  EXPECT_GE(seconds, 29.0);
  EXPECT_LE(seconds, 33.0);
}

// A token the file cannot take is kept for the session. The read-only folder
// comes from the sandbox's private mount namespace (root ignores permission bits).
TEST_F(Client, StartUpActivationKeepsATokenTheFileRefusesForTheSession) {
  xphost::SetPluginPath(folder_ + "/Tralix.xpl");
  const std::string config = folder_ + "/Tralix.cfg", keyOnly = "API_KEY=tlx_key_1\nDATA_KEY_TOKEN=\n";
  std::ofstream(config) << keyOnly;
  if (mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      mount(nullptr, folder_.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
    GTEST_SKIP() << "cannot make a read-only folder here";
  const int result =
      InitConfig(gConfigPath, sizeof(gConfigPath), gApiKey, sizeof(gApiKey), gDataKeyToken, sizeof(gDataKeyToken));
  umount2(folder_.c_str(), MNT_DETACH);
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(gDataKeyToken, kToken);
  EXPECT_EQ(e2e::ReadFile(config), keyOnly);
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Failed to save DATA_KEY_TOKEN to config");
}

// Activate API Key (no key stored), then Activate Connection (key stored, no
// token) with a key the service refuses, then with one whose token the file
// cannot take.
TEST_F(Client, DialogStoresWhatTheServiceAnswered) {
  const std::string config = folder_ + "/Tralix.cfg";
  std::snprintf(gConfigPath, sizeof(gConfigPath), "%s", config.c_str());
  std::ofstream(config) << "API_KEY=\nDATA_KEY_TOKEN=\n";
  gApiKey[0] = gDataKeyToken[0] = '\0';
  InitUI();
  ASSERT_TRUE(xphost::PickMenuItem({"Tralix", "Configuration"}));
  // Types into the field of the dialog rebuilt for the last press's outcome, then presses.
  const auto press = [](const char* caption, const char* field = nullptr) {
    xphost::RunFrame(0.05);
    if (field) XPSetWidgetDescriptor(gApiKeyEdit, field);
    EXPECT_TRUE(xphost::ClickWidget(xphost::FindWidget(caption, xpWidgetClass_Button))) << caption;
  };

  press("Activate API Key", " tlx_key_1\n");
  EXPECT_STREQ(gDataKeyToken, kToken);
  EXPECT_EQ(e2e::ReadFile(config), "API_KEY=tlx_key_1\nDATA_KEY_TOKEN=tok_1\n");
  const auto activation = service_->Requests().at(0);
  EXPECT_EQ(activation.method + " " + activation.path + " " + activation.body,
            "POST " + std::string(e2e::kActivatePath) + " {}");
  EXPECT_FALSE(activation.HasHeader("datakeytoken"));

  press("Deactivate");
  press("Activate Connection", "tlx_unknown_key");
  EXPECT_STREQ(gApiKey, "tlx_unknown_key");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_EQ(e2e::ReadFile(config), "API_KEY=tlx_unknown_key\nDATA_KEY_TOKEN=\n");

  std::snprintf(gConfigPath, sizeof(gConfigPath), "%s/missing-folder/Tralix.cfg", folder_.c_str());
  press("Activate Connection", kKey);
  EXPECT_STREQ(gDataKeyToken, kToken) << "kept for this run";
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Connection activated but failed to save token to config");
}

}  // namespace
