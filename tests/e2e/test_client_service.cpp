// The service client's requests against the service stand-in: how each HTTP
// status is judged, the activation exchange and its token, the start-up
// activation, the bodies as the service parses them, and no object left behind.
#include "ConfigManager.h"
#include "E2eSupport.h"
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include "CFStandInTesting.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kKey[] = "tlx_client_key";
constexpr char kToken[] = "tok_client_1";
constexpr char kActivatePath[] = "/api/v1/apiKey/activate/tlx_client_key";
constexpr char kElsewhereHost[] = "elsewhere.tralix.test";

// The request kinds a redirect or a hostile answer is tried on.
enum class Request { Broadcast, LandingEvent, Activation };

class ClientAgainstService : public testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    service_ = e2e::StartService({{kKey, kToken}}, &whyNot);
    if (!service_) GTEST_SKIP() << whyNot;
    xphost::Reset();
    InitNetwork();
    std::snprintf(gApiKey, sizeof(gApiKey), "%s", kKey);
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", kToken);
  }
  void TearDown() override {
    ShutdownNetwork();
    CFStandInShutdownTransport();
    EXPECT_EQ(CFStandInLiveObjectCount(), 0);
    if (service_) service_->Stop();
  }

  // Runs the run loop, as the simulator's main thread does, until the
  // request in flight has been judged.
  static void RunUntilIdle() {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (gNetworkBusy && std::chrono::steady_clock::now() < giveUp)
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true);
  }

  static int Broadcast(const char* name = "Cessna 172", const char* icao = "C172") {
    return SendAircraftData(47.449123f, -122.30912f, 131.0f, 0.0f, 12.0f, 0.0f, 430.0f, name, icao);
  }

  static std::string LastLine() { return xphost::LogLines().back(); }

  // Starts a broadcast or a landing event; the landing event's end also clears
  // the busy flag, which then marks it.
  static int Start(Request request) {
    if (request == Request::Broadcast) return Broadcast();
    static const LandingDataPoint points[10] = {};
    gNetworkBusy = 1;
    return SendLandingEvent(-300.0f, 0.5f, points, 10);
  }

  void FailNext(const char* path, int status) {
    tralix::dev::Fault fault;
    fault.path = path;
    fault.status = status;
    service_->AddFault(fault);
  }

  std::unique_ptr<tralix::dev::DevService> service_;
};

struct StatusCase {
  int status;
  const char* line;  // after "Tralix - HTTP Status Code: N"
  bool success;
};

TEST_F(ClientAgainstService, EveryStatusIsJudgedAndCountedAsTheTableSays) {
  const StatusCase cases[] = {
      {200, "Tralix - Successfully sent aircraft data to server", true},
      {201, "Tralix - Successfully sent aircraft data to server", true},
      {204, "Tralix - Successfully sent aircraft data to server", true},
      {302, "Tralix - ERROR: Request failed with HTTP status code 302", false},
      {401, "Tralix - ERROR: Authentication failed. Check API key and token", false},
      {402, "Tralix - ERROR: Request failed with HTTP status code 402", false},
      {403, "Tralix - ERROR: Authentication failed. Check API key and token", false},
      {404, "Tralix - ERROR: Server endpoint not found. Check URL configuration", false},
      {405, "Tralix - ERROR: Request failed with HTTP status code 405", false},
      {499, "Tralix - ERROR: Request failed with HTTP status code 499", false},
      {500, "Tralix - ERROR: Server error. Please try again later", false},
      {503, "Tralix - ERROR: Server error. Please try again later", false},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.status);
    gConsecutiveFailures = 7;
    gBackoffTime = 3.0f;
    if (c.status != 200) FailNext(e2e::kBroadcastPath, c.status);
    ASSERT_EQ(Broadcast(), 1);
    EXPECT_EQ(gNetworkBusy, 1);
    RunUntilIdle();
    EXPECT_EQ(gNetworkBusy, 0);
    const auto lines = xphost::LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Tralix - HTTP Status Code: " + std::to_string(c.status));
    EXPECT_EQ(lines.back(), c.line);
    EXPECT_EQ(gConsecutiveFailures, c.success ? 0 : 8);
    EXPECT_FLOAT_EQ(gBackoffTime, c.success ? 0.0f : 7.0f);
    EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0) << "the handler releases the stream";
  }
}

TEST_F(ClientAgainstService, RedirectsAreFailuresAndNothingReachesTheirTarget) {
  // Another host, mapped to loopback and trusted like the service itself.
  const auto sandboxCa = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CA"),
                                                      std::getenv("TRALIX_SANDBOX_CA_KEY"));
  tralix::dev::ServiceOptions options;
  options.port = 8443;
  options.identity = tralix::dev::IssueTlsIdentity(sandboxCa.certificatePem, sandboxCa.privateKeyPem,
                                                   {kElsewhereHost});
  options.apiKeys = {{kKey, "tok_elsewhere"}};
  tralix::dev::DevService elsewhere(options);
  elsewhere.Start();

  struct Case {
    Request request;
    const char* path;
  };
  const Case requests[] = {{Request::Broadcast, e2e::kBroadcastPath},
                           {Request::LandingEvent, e2e::kEventPath},
                           {Request::Activation, kActivatePath}};
  size_t served = 0;
  for (const Case& c : requests) {
    for (int status : {307, 302}) {
      for (bool sameHost : {false, true}) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(status) + (sameHost ? " same host" : " elsewhere"));
        tralix::dev::Fault redirect;
        redirect.path = c.path;
        redirect.redirect = true;
        redirect.status = status;
        if (!sameHost) redirect.location = std::string("https://") + kElsewhereHost + ":8443" + c.path;
        service_->AddFault(redirect);
        gConsecutiveFailures = 0;
        char token[256] = "stale";
        if (c.request == Request::Activation) {
          EXPECT_EQ(ActivateApiKey(kKey, token, sizeof(token)), 0);
          EXPECT_STREQ(token, "") << "no token to save";
          EXPECT_EQ(LastLine(), "Tralix - API activation failed");
        } else {
          ASSERT_EQ(Start(c.request), 1);
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

TEST_F(ClientAgainstService, ARequestLostOnAKeptAliveConnectionIsNotSentAgain) {
  ASSERT_EQ(Broadcast(), 1);
  RunUntilIdle();  // the connection stays open for the next request
  tralix::dev::Fault drop;
  drop.path = e2e::kEventPath;
  drop.closeWithoutAnswer = true;
  service_->AddFault(drop);
  ASSERT_EQ(Start(Request::LandingEvent), 1);
  RunUntilIdle();
  const auto requests = service_->Requests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.path == e2e::kEventPath; }),
            1);
  const auto lines = xphost::LogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("Tralix - Network error", 0) == 0; }),
            1);
  EXPECT_EQ(LastLine(), "Tralix - Network error: domain 4, code -4");
  EXPECT_EQ(gConsecutiveFailures, 1);
}

TEST_F(ClientAgainstService, ARequestStillInFlightAfterThirtySecondsEndsAsAReadTimeout) {
  tralix::dev::Fault trickle;
  trickle.body = std::string(200, ' ');
  trickle.trickleChunkBytes = 1;
  trickle.trickleInterval = std::chrono::milliseconds(1000);
  tralix::dev::Fault endless;
  endless.endlessBody = true;
  for (const tralix::dev::Fault& answer : {trickle, endless}) {
    for (Request request : {Request::Broadcast, Request::LandingEvent}) {
      SCOPED_TRACE(std::string(answer.endlessBody ? "endless" : "trickle") +
                   (request == Request::Broadcast ? " broadcast" : " landing event"));
      tralix::dev::Fault fault = answer;
      fault.path = request == Request::Broadcast ? e2e::kBroadcastPath : e2e::kEventPath;
      service_->ClearRequests();
      service_->AddFault(fault);
      gConsecutiveFailures = 0;
      const double startedAt = xphost::ElapsedTime();
      ASSERT_EQ(Start(request), 1);
      // Bytes are flowing when the time is up.
      ASSERT_TRUE(service_->WaitForRequests(1, std::chrono::seconds(5)));
      for (int pass = 0; pass < 50; ++pass) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true);
      const size_t linesBefore = xphost::LogLines().size();
      for (double after : {29.9, 30.0}) {
        xphost::SetElapsedTime(startedAt + after);
        gLastSendTime = static_cast<float>(xphost::ElapsedTime());  // holds the send gate shut
        TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
      }
      const auto lines = xphost::LogLines();
      ASSERT_EQ(lines.size(), linesBefore + 1);
      EXPECT_EQ(lines.back(), "Tralix - Network error: domain 1, code 60");
      EXPECT_EQ(gNetworkBusy, 0);
      EXPECT_EQ(gConsecutiveFailures, 1);
      EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
      service_->ClearFaults();
    }
  }
}

TEST_F(ClientAgainstService, NamesWithQuotesAndControlBytesStillMakeValidBodies) {
  ASSERT_EQ(Broadcast("Cessna 172 \"Skyhawk\"\r\n\\", "C1\t72"), 1);
  RunUntilIdle();
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].verdict, "ok") << requests[0].body;
  EXPECT_EQ(requests[0].json["airCraftName"], "Cessna 172 \"Skyhawk\"\r\n\\");
  EXPECT_EQ(requests[0].json["icaoCode"], "C1\t72");
  EXPECT_EQ(requests[0].json["longitude"].get<double>(), -122.3091201782);
}

TEST_F(ClientAgainstService, NonFiniteValuesAreSentAsNull) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ASSERT_EQ(SendAircraftData(nan, 1.0f, std::numeric_limits<float>::infinity(), 0, 0, 0, 0, "A", "B"), 1);
  RunUntilIdle();
  LandingDataPoint points[10] = {};
  points[3].rollDegree = nan;
  gNetworkBusy = 1;
  ASSERT_EQ(SendLandingEvent(nan, 1.0f, points, 10), 1);
  RunUntilIdle();
  ASSERT_TRUE(service_->WaitForRequests(2, std::chrono::seconds(5)));
  const auto requests = service_->Requests();
  for (const auto& request : requests) EXPECT_EQ(request.verdict, "ok") << request.body;
  EXPECT_TRUE(requests[0].json["latitude"].is_null());
  EXPECT_TRUE(requests[0].json["altitude"].is_null());
  EXPECT_TRUE(requests[1].json["data"]["points"][3]["rollDegree"].is_null());
}

TEST_F(ClientAgainstService, LandingEventBodyCarriesTheSamplesAsWritten) {
  LandingDataPoint points[12];
  for (int i = 0; i < 12; ++i) points[i] = {12.5f + static_cast<float>(i), 1.25f, -480.0f, 2.6f};
  // The completion of any request clears the busy flag; it marks the end here.
  gNetworkBusy = 1;
  ASSERT_EQ(SendLandingEvent(-512.5f, 3.2f, points, 12), 1);
  RunUntilIdle();
  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& body = requests[0].body;
  EXPECT_EQ(requests[0].Header("datakeytoken"), kToken);
  EXPECT_NE(body.find(R"({"event":"LandingRate","data":{"verticalSpeed":"-512.5000000000","altitude":"3.2",)"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find(R"([{"groundAltitude":12.500000,"gForce":1.250000,"verticalSpeed":-480.0000000000,)"
                      R"("rollDegree":3},)"),
            std::string::npos)
      << body;
  const auto& data = requests[0].json["data"];
  EXPECT_EQ(data["points"].size(), 10u) << "records past the tenth are never sent";
  EXPECT_EQ(data["simTimeStamp"], data["clientTimeStamp"]);
  EXPECT_EQ(LastLine(), "Tralix - Successfully sent aircraft data to server");
}

TEST_F(ClientAgainstService, ThousandBroadcastsLeaveNothingAlive) {
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(Broadcast(), 1);
    RunUntilIdle();
  }
  EXPECT_EQ(gConsecutiveFailures, 0);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
  EXPECT_EQ(CFStandInLiveObjectCount(), 5) << "only the last request's kept objects";
}

struct ActivationCase {
  const char* what;
  int status;              // 0: the service's own answer
  const char* body;        // null: the service's own body
  int result;
  const char* token;
  const char* lastLine;
};

TEST_F(ClientAgainstService, ActivationExchangesTheKeyForTheTokenInTheAnswer) {
  const std::string longAnswer = std::string(8300, ' ') + R"({"token":"late"})";
  const ActivationCase cases[] = {
      {"known key", 0, nullptr, 1, kToken, "Tralix - Successfully extracted token"},
      {"nested member", 0, R"({"data":{"user":7,"token":"nested-1"}})", 1, "nested-1",
       "Tralix - Successfully extracted token"},
      {"refused with a token in the body", 401, R"({"token":"nope"})", 0, "", "Tralix - API activation failed"},
      {"empty body", 0, "", 0, "", "Tralix - ERROR: Empty response body"},
      {"empty token", 0, R"({"token":""})", 0, "", "Tralix - ERROR: Empty token in response"},
      {"token past 8 KiB", 0, longAnswer.c_str(), 0, "", "Tralix - ERROR: No 'token' field found in response"},
  };
  for (const ActivationCase& c : cases) {
    SCOPED_TRACE(c.what);
    service_->ClearFaults();
    service_->SetActivationBody(c.body ? std::optional<std::string>(c.body) : std::nullopt);
    if (c.status) {
      tralix::dev::Fault fault;
      fault.path = kActivatePath;
      fault.status = c.status;
      fault.body = c.body ? std::string(c.body) : std::string();
      service_->AddFault(fault);
    }
    char token[256] = "stale";
    EXPECT_EQ(ActivateApiKey(kKey, token, sizeof(token)), c.result);
    EXPECT_STREQ(token, c.token);
    EXPECT_EQ(LastLine(), c.lastLine);
  }
  const auto lines = xphost::LogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Tralix - WARNING: Response truncated"), 1)
      << "only the answer longer than 8 KiB is cut";
}

TEST_F(ClientAgainstService, TricklingAnswerCannotHoldTheSimulatorPastThirtySeconds) {
  tralix::dev::Fault trickle;
  trickle.path = kActivatePath;
  trickle.body = std::string(200, ' ') + R"({"token":"slow"})";
  trickle.trickleChunkBytes = 1;
  trickle.trickleInterval = std::chrono::milliseconds(1000);
  service_->AddFault(trickle);
  char token[256] = "stale";
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(ActivateApiKey(kKey, token, sizeof(token)), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_STREQ(token, "");
  EXPECT_GE(seconds, 29.0);
  EXPECT_LE(seconds, 33.0);
  const std::string last = LastLine();
  EXPECT_TRUE(last == "Tralix - ERROR: Activation took too long, giving up" ||
              last.rfind("Tralix - Stream error: domain ", 0) == 0)
      << last;
}

class StartUpActivation : public ClientAgainstService {
 protected:
  void SetUp() override {
    ClientAgainstService::SetUp();
    if (IsSkipped()) return;
    folder_ = e2e::FreshScratchDir();
    xphost::SetPluginPath(folder_ + "/Tralix.xpl");
    config_ = folder_ + "/Tralix.cfg";
    gApiKey[0] = '\0';
    gDataKeyToken[0] = '\0';
  }
  int Init() {
    return InitConfig(gConfigPath, sizeof(gConfigPath), gApiKey, sizeof(gApiKey), gDataKeyToken,
                      sizeof(gDataKeyToken));
  }
  std::string folder_;
  std::string config_;
};

TEST_F(StartUpActivation, KeyWithoutTokenIsActivatedAndTheTokenSaved) {
  const std::string before = "# mine\nAPI_KEY=tlx_client_key\nDATA_KEY_TOKEN=\n";
  std::ofstream(config_) << before;
  ASSERT_EQ(Init(), 1);
  EXPECT_STREQ(gDataKeyToken, kToken);
  EXPECT_EQ(e2e::ReadFile(config_), "# mine\nAPI_KEY=tlx_client_key\nDATA_KEY_TOKEN=tok_client_1\n");
  EXPECT_EQ(LastLine(), "Tralix - Successfully activated and saved DATA_KEY_TOKEN");
}

// The sandbox's private mount namespace lets the test make the plug-in folder
// read-only, as it can be on a pilot's machine (root ignores permission bits).
TEST_F(StartUpActivation, TokenThatCannotBeSavedStillServesTheSession) {
  const std::string before = "API_KEY=tlx_client_key\nDATA_KEY_TOKEN=\n";
  std::ofstream(config_) << before;
  if (mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      mount(nullptr, folder_.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
    GTEST_SKIP() << "cannot make a read-only folder here";
  const int result = Init();
  umount2(folder_.c_str(), MNT_DETACH);
  ASSERT_EQ(result, 1);
  EXPECT_STREQ(gDataKeyToken, kToken);
  EXPECT_EQ(e2e::ReadFile(config_), before);
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Failed to save DATA_KEY_TOKEN to config");
}

TEST_F(StartUpActivation, RefusedKeyLeavesTheFileAndTheTokenEmpty) {
  const std::string before = "API_KEY=unknown_key\nDATA_KEY_TOKEN=\n";
  std::ofstream(config_) << before;
  ASSERT_EQ(Init(), 1);
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_EQ(e2e::ReadFile(config_), before);
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Failed to activate API key");
}

}  // namespace
