// The service client without a service: URL composition, every failure path of the three requests (through the CF stand-in's
// fault injection), token extraction, and what stays alive afterwards. The
// back-off's growth and cap are flown in tests/e2e (ServiceFlight).
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"

#include "CFStandInTesting.h"

#include <cstring>
#include <utility>

namespace {

constexpr char kBase[] = "https://api.tralix.net/api/v1";

class NetworkClient : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    CFStandInClearFailures();
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", "token-123");
    std::snprintf(gApiKey, sizeof(gApiKey), "%s", "key-abc");
    InitNetwork();
  }
  void TearDown() override {
    ShutdownNetwork();
    CFStandInClearFailures();
    EXPECT_EQ(CFStandInLiveObjectCount(), 0) << LiveObjects();
  }

  static std::string LiveObjects() {
    char text[256];
    CFStandInDescribeLiveObjects(text, sizeof(text));
    return text;
  }

  static int Broadcast() {
    return SendAircraftData(47.449123f, -122.30912f, 131.0f, 0.0f, 12.0f, 0.0f, 430.0f, "Cessna", "C172");
  }

  static std::string LastLine() {
    const auto lines = xphost::LogLines();
    return lines.empty() ? "" : lines.back();
  }
};

TEST_F(NetworkClient, BuildUrlJoinsBasePathAndSuffixOnlyWhenItFits) {
  char url[512];
  EXPECT_EQ(BuildURL(url, sizeof(url), "/data/client/broadcast", nullptr), 1);
  EXPECT_EQ(std::string(url), std::string(kBase) + "/data/client/broadcast");
  EXPECT_EQ(BuildURL(url, sizeof(url), "/apiKey/activate", "/abc"), 1);
  EXPECT_EQ(std::string(url), std::string(kBase) + "/apiKey/activate/abc");

  const std::string fits511(511 - std::strlen(kBase) - 1, 'p');
  EXPECT_EQ(BuildURL(url, sizeof(url), "/", fits511.c_str()), 1);
  EXPECT_EQ(std::strlen(url), 511u);
  EXPECT_EQ(BuildURL(url, sizeof(url), "/", (fits511 + "p").c_str()), 0) << "512 characters do not fit";

  EXPECT_EQ(BuildURL(nullptr, sizeof(url), "/x", nullptr), 0);
  EXPECT_EQ(BuildURL(url, 0, "/x", nullptr), 0);
  EXPECT_EQ(BuildURL(url, sizeof(url), nullptr, nullptr), 0);
}

// A fault in each step of building a broadcast or a landing event: nothing is
// started, no stream or body data survives, and only the broadcast's
// connection steps count as a connection failure.
TEST_F(NetworkClient, RequestBuildingFailuresReleaseAllButTheKeptRequest) {
  const std::pair<const char*, bool> faults[] = {
      {"CFStringCreateWithCString", false}, {"CFURLCreateWithString", false},
      {"CFHTTPMessageCreateRequest", false}, {"CFDataCreate", false},
      {"CFReadStreamCreateForHTTPRequest", false}, {"CFReadStreamSetClient", true},
      {"CFReadStreamOpen", true},
  };
  LandingDataPoint points[10] = {};
  for (const auto& [operation, connectionStep] : faults) {
    for (const bool landing : {false, true}) {
      SCOPED_TRACE(std::string(operation) + (landing ? " in a landing event" : " in a broadcast"));
      ShutdownNetwork();
      InitNetwork();
      ASSERT_EQ(CFStandInLiveObjectCount(), 0) << LiveObjects();
      ASSERT_EQ(CFStandInFailNextCalls(operation, 1), 1);
      EXPECT_EQ(landing ? SendLandingEvent(-150.0f, 0.0f, points, 10) : Broadcast(), 0);
      EXPECT_EQ(gConsecutiveFailures, connectionStep && !landing ? 1 : 0);
      EXPECT_EQ(gNetworkBusy, 0);
      EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
      EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFData"), 0);
      EXPECT_EQ(CFStandInLiveObjectCount(), connectionStep ? 5 : 0) << LiveObjects();
      CFStandInClearFailures();
    }
  }
}

TEST_F(NetworkClient, RefusedBroadcastsTouchNothing) {
  const char* const cases[][3] = {{"", "Cessna", "C172"}, {"t", nullptr, "C172"}, {"t", "Cessna", nullptr}};
  for (const auto& [token, name, icao] : cases) {
    SCOPED_TRACE(std::string("token '") + token + "'" + (name ? "" : ", no name") + (icao ? "" : ", no code"));
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", token);
    gConsecutiveFailures = 2;
    EXPECT_EQ(SendAircraftData(1, 2, 3, 4, 5, 6, 7, name, icao), 0);
    EXPECT_EQ(gConsecutiveFailures, 2);
    EXPECT_EQ(CFStandInLiveObjectCount(), 0);
  }
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - ERROR: DATA_KEY_TOKEN is not set. Cannot send data."));
}

TEST_F(NetworkClient, CallbackWithoutAStreamStillClearsBusy) {
  gNetworkBusy = 1;
  ReadStreamClientCallBack(nullptr, kCFStreamEventEndEncountered, nullptr);
  EXPECT_EQ(gNetworkBusy, 0);
}

TEST_F(NetworkClient, LandingEventDoesNotTouchConnectionHealthAndNeedsAToken) {
  LandingDataPoint points[10] = {};
  gConsecutiveFailures = 3;
  EXPECT_EQ(SendLandingEvent(-150.0f, 0.0f, points, 12), 1);
  EXPECT_EQ(gNetworkBusy, 0);
  EXPECT_EQ(gConsecutiveFailures, 3);
  gDataKeyToken[0] = '\0';
  const long streams = CFStandInLiveObjectCountOfKind("CFReadStream");
  EXPECT_EQ(SendLandingEvent(-150.0f, 0.0f, points, 10), 0);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), streams);
}

TEST_F(NetworkClient, ActivationRefusesKeysThatAreNotOneCleanPathSegment) {
  for (const char* key :
       {"", "ab cd", "../../data/client/broadcast", "abc?admin=1", "abc#x", "abc%2F", "abc\\def", "abc\ndef"}) {
    SCOPED_TRACE(key);
    char token[256] = "stale";
    EXPECT_EQ(ActivateApiKey(key, token, sizeof(token)), 0);
    EXPECT_STREQ(token, "");
    EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
  }
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Failed to create CFURL - URL may be malformed");
  char untouched[8] = "keep";
  EXPECT_EQ(ActivateApiKey(nullptr, untouched, sizeof(untouched)), 0);
  EXPECT_EQ(ExtractActivationToken(nullptr, untouched, sizeof(untouched)), 0);
  EXPECT_STREQ(untouched, "keep");
}

TEST_F(NetworkClient, ActivationWhoseStreamDoesNotOpenLeavesNoStream) {
  ASSERT_EQ(CFStandInFailNextCalls("CFReadStreamOpen", 1), 1);
  char token[256] = "stale";
  EXPECT_EQ(ActivateApiKey("key-abc", token, sizeof(token)), 0);
  EXPECT_STREQ(token, "");
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
}

// The token is the quoted value right after the first "token": member, taken
// as it stands; any other answer leaves the output empty. Every rule is checked
// by fuzz_activation_token against a model, with a seed for each refusal; these
// rows keep what its 64-byte buffers cannot reach and the line logged.
TEST_F(NetworkClient, TokenExtractionFindsTheFirstQuotedTokenMember) {
  const std::string t255(255, 't');
  const std::pair<std::string, std::string> cases[] = {
      {"{\"token\": \n\t\"abc\"}", "abc"},
      {"{\"token\":\"" + t255 + "\"}", t255},
      {"{\"token\":\"" + t255 + "t\"}", ""},
      {"{\"token\":\"caf\xc3\xa9-\xf0\x9f\x9b\xab\"}", "caf\xc3\xa9-\xf0\x9f\x9b\xab"},
      {"{\"token\":\"a\xed\xa0\x80\"}", ""},
  };
  for (const auto& [answer, expected] : cases) {
    SCOPED_TRACE(answer);
    char token[256] = "stale";
    EXPECT_EQ(ExtractActivationToken(answer.c_str(), token, sizeof(token)), expected.empty() ? 0 : 1);
    EXPECT_EQ(std::string(token), expected);
  }
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Token holds a backslash, invalid UTF-8 or blanks at its ends");
}

}  // namespace
