// The service client without a service: URL composition, the failure rule and
// back-off, every failure path of the three requests (through the CF stand-in's
// fault injection), token extraction, and what stays alive afterwards.
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include "CFStandInTesting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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

  const size_t baseLength = std::strlen(kBase);
  const std::string fits511(511 - baseLength - 1, 'p');
  EXPECT_EQ(BuildURL(url, sizeof(url), "/", fits511.c_str()), 1);
  EXPECT_EQ(std::strlen(url), 511u);
  EXPECT_EQ(BuildURL(url, sizeof(url), "/", (fits511 + "p").c_str()), 0) << "512 characters do not fit";

  EXPECT_EQ(BuildURL(nullptr, sizeof(url), "/x", nullptr), 0);
  EXPECT_EQ(BuildURL(url, 0, "/x", nullptr), 0);
  EXPECT_EQ(BuildURL(url, sizeof(url), nullptr, nullptr), 0);
}

TEST_F(NetworkClient, BackOffGrowsFromTheSixthConsecutiveFailureAndCapsAtThirty) {
  // Opening the stream fails every time: each is one connection failure.
  const float expectedBackoff[] = {0, 0, 0, 0, 0, 1, 3, 7, 15, 30, 30, 30};
  CFStandInFailNextCalls("CFReadStreamOpen", 100);
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(Broadcast(), 0);
    EXPECT_EQ(LastLine(), "Tralix - Failed to open network connection");
    EXPECT_EQ(gConsecutiveFailures, i + 1);
    EXPECT_FLOAT_EQ(gBackoffTime, expectedBackoff[i]);
    EXPECT_EQ(gNetworkBusy, 0);
  }
}

struct BroadcastFault {
  const char* operation;
  const char* line;
  bool countsAsConnectionFailure;
  long objectsKeptAfter;  // request objects the broadcast keeps for its next call
};

TEST_F(NetworkClient, BroadcastFailurePathsLogReleaseAndCountAsSpecified) {
  const BroadcastFault faults[] = {
      {"CFStringCreateWithCString", "Tralix - ERROR: Failed to create CFString from Target URL.", false, 0},
      {"CFURLCreateWithString", "Tralix - ERROR: Failed to create CFURLRef from Target URL string.", false, 0},
      {"CFHTTPMessageCreateRequest", "Tralix - ERROR: Failed to create HTTP request.", false, 0},
      {"CFDataCreate", "Tralix - ERROR: Failed to create CFData for request body", false, 0},
      {"CFReadStreamCreateForHTTPRequest", "Tralix - ERROR: Failed to create read stream for HTTP request",
       false, 0},
      {"CFReadStreamSetClient", "Tralix - Failed to set client callback", true, 5},
      {"CFReadStreamOpen", "Tralix - Failed to open network connection", true, 5},
  };
  for (const BroadcastFault& fault : faults) {
    SCOPED_TRACE(fault.operation);
    InitNetwork();
    ShutdownNetwork();
    ASSERT_EQ(CFStandInLiveObjectCount(), 0) << LiveObjects();
    ASSERT_EQ(CFStandInFailNextCalls(fault.operation, 1), 1);

    EXPECT_EQ(Broadcast(), 0);
    EXPECT_EQ(LastLine(), fault.line);
    EXPECT_EQ(gConsecutiveFailures, fault.countsAsConnectionFailure ? 1 : 0);
    EXPECT_EQ(gNetworkBusy, 0);
    EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0) << "no stream survives a failed start";
    EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFData"), 0) << "the body data is always released";
    EXPECT_EQ(CFStandInLiveObjectCount(), fault.objectsKeptAfter) << LiveObjects();
    CFStandInClearFailures();
  }
}

TEST_F(NetworkClient, RefusedBroadcastsTouchNothing) {
  struct Case {
    const char* what;
    const char* token;
    const char* name;
    const char* icao;
    const char* line;
  };
  const Case cases[] = {
      {"no token", "", "Cessna", "C172", "Tralix - ERROR: DATA_KEY_TOKEN is not set. Cannot send data."},
      {"null name", "t", nullptr, "C172", "Tralix - ERROR: Invalid aircraft parameters"},
      {"null code", "t", "Cessna", nullptr, "Tralix - ERROR: Invalid aircraft parameters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", c.token);
    gConsecutiveFailures = 2;
    gBackoffTime = 0.0f;
    EXPECT_EQ(SendAircraftData(1, 2, 3, 4, 5, 6, 7, c.name, c.icao), 0);
    EXPECT_EQ(LastLine(), c.line);
    EXPECT_EQ(gConsecutiveFailures, 2);
    EXPECT_EQ(CFStandInLiveObjectCount(), 0);
  }
}

TEST_F(NetworkClient, TokenThatCannotBecomeAHeaderStringIsLeftOutButTheRequestGoesOn) {
  std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", "bad\xff\xfe");
  EXPECT_EQ(Broadcast(), 1);
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - Failed to create DataKeyToken header string"));
  EXPECT_EQ(gNetworkBusy, 1);
}

TEST_F(NetworkClient, StartedBroadcastSetsBusyAndKeepsOnlyItsRequestObjectsAndTheStream) {
  EXPECT_EQ(Broadcast(), 1);
  EXPECT_EQ(gNetworkBusy, 1);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 1);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFData"), 0);
  // A second call releases the first call's objects before making its own.
  EXPECT_EQ(Broadcast(), 1);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFHTTPMessage"), 1);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFURL"), 1);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 2);
  ShutdownNetwork();
  EXPECT_EQ(CFStandInLiveObjectCount(), 0) << "unloading detaches and releases streams in flight";
}

TEST_F(NetworkClient, MissingTimeoutNumberDoesNotStopTheRequest) {
  CFStandInFailNextCalls("CFNumberCreate", 1);
  EXPECT_EQ(Broadcast(), 1);
}

TEST_F(NetworkClient, CallbackWithoutAStreamStillClearsBusy) {
  gNetworkBusy = 1;
  ReadStreamClientCallBack(nullptr, kCFStreamEventEndEncountered, nullptr);
  EXPECT_EQ(LastLine(), "Tralix - ERROR: NULL stream in callback");
  EXPECT_EQ(gNetworkBusy, 0);
}

TEST_F(NetworkClient, LandingEventFailurePathsNeverCountAsConnectionFailures) {
  const BroadcastFault faults[] = {
      {"CFStringCreateWithCString", "Tralix - ERROR: Failed to create CFString from Landing Event URL.", false, 0},
      {"CFURLCreateWithString", "Tralix - ERROR: Failed to create CFURLRef from Landing Event URL string.", false,
       0},
      {"CFHTTPMessageCreateRequest", "Tralix - ERROR: Failed to create HTTP request for landing event.", false, 0},
      {"CFDataCreate", "Tralix - ERROR: Failed to create CFData for landing event request body", false, 0},
      {"CFReadStreamCreateForHTTPRequest",
       "Tralix - ERROR: Failed to create read stream for landing event HTTP request", false, 0},
      {"CFReadStreamSetClient", "Tralix - Failed to set client callback for landing event", false, 5},
      {"CFReadStreamOpen", "Tralix - Failed to open network connection for landing event", false, 5},
  };
  LandingDataPoint points[10] = {};
  for (const BroadcastFault& fault : faults) {
    SCOPED_TRACE(fault.operation);
    ShutdownNetwork();
    ASSERT_EQ(CFStandInFailNextCalls(fault.operation, 1), 1);
    EXPECT_EQ(SendLandingEvent(-150.0f, 0.0f, points, 10), 0);
    EXPECT_EQ(LastLine(), fault.line);
    EXPECT_EQ(gConsecutiveFailures, 0);
    EXPECT_EQ(CFStandInLiveObjectCount(), fault.objectsKeptAfter) << LiveObjects();
    CFStandInClearFailures();
  }
  gDataKeyToken[0] = '\0';
  EXPECT_EQ(SendLandingEvent(-150.0f, 0.0f, points, 10), 0);
  EXPECT_EQ(LastLine(), "Tralix - ERROR: DATA_KEY_TOKEN is not set. Cannot send landing event.");
}

TEST_F(NetworkClient, LandingEventDoesNotTouchConnectionHealth) {
  LandingDataPoint points[10] = {};
  gNetworkBusy = 0;
  gConsecutiveFailures = 3;
  gBackoffTime = 0.0f;
  EXPECT_EQ(SendLandingEvent(-150.0f, 0.0f, points, 12), 1);
  EXPECT_EQ(LastLine(), "Tralix - Landing event sent successfully");
  EXPECT_EQ(gNetworkBusy, 0);
  EXPECT_EQ(gConsecutiveFailures, 3);
}

struct KeyCase {
  const char* what;
  const char* key;
  const char* lastLine;
};

TEST_F(NetworkClient, ActivationRefusesKeysThatAreNotOneCleanPathSegment) {
  const KeyCase cases[] = {
      {"empty", "", "Tralix - CRITICAL ERROR: Empty API key provided to ActivateApiKey"},
      {"blank", "ab cd", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
      {"slash", "../../data/client/broadcast", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
      {"query", "abc?admin=1", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
      {"fragment", "abc#x", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
      {"percent", "abc%2F", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
      {"backslash", "abc\\def", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
      {"line feed", "abc\ndef", "Tralix - ERROR: Failed to create CFURL - URL may be malformed"},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.what);
    char token[256] = "stale";
    EXPECT_EQ(ActivateApiKey(c.key, token, sizeof(token)), 0);
    EXPECT_STREQ(token, "");
    EXPECT_EQ(LastLine(), c.lastLine);
    EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0);
  }
  char untouched[8] = "keep";
  EXPECT_EQ(ActivateApiKey(nullptr, untouched, sizeof(untouched)), 0);
  EXPECT_STREQ(untouched, "keep");
  EXPECT_EQ(LastLine(), "Tralix - ERROR: Invalid parameters for ActivateApiKey");
}

struct TokenCase {
  const char* what;
  std::string response;
  size_t outSize;
  int result;
  const char* token;
  const char* line;
};

TEST_F(NetworkClient, TokenExtractionFindsTheFirstQuotedTokenMember) {
  const std::string longToken255(255, 't');
  const char* kUnfaithful = "Tralix - ERROR: Token holds a backslash, invalid UTF-8 or blanks at its ends";
  const TokenCase cases[] = {
      {"plain", R"({"token":"abc.def"})", 256, 1, "abc.def", "Tralix - Successfully extracted token"},
      {"blank after colon", "{\"token\": \"abc\"}", 256, 1, "abc", "Tralix - Successfully extracted token"},
      {"line feed and tab", "{\"token\":\n\t\"abc\"}", 256, 1, "abc", "Tralix - Successfully extracted token"},
      {"nested", R"({"data":{"user":1,"token":"xyz"}})", 256, 1, "xyz", "Tralix - Successfully extracted token"},
      {"UTF-8 letters", "{\"token\":\"caf\xc3\xa9-\xf0\x9f\x9b\xab\"}", 256, 1, "caf\xc3\xa9-\xf0\x9f\x9b\xab",
       "Tralix - Successfully extracted token"},
      {"blank before colon", "{\"token\" :\"abc\"}", 256, 0, "", "Tralix - ERROR: No 'token' field found in response"},
      {"member-name tail", R"({"access_token":"abc"})", 256, 0, "",
       "Tralix - ERROR: No 'token' field found in response"},
      {"capitalised", R"({"Token":"abc"})", 256, 0, "", "Tralix - ERROR: No 'token' field found in response"},
      {"null value", R"({"token":null})", 256, 0, "", "Tralix - ERROR: Token value not in quotes"},
      {"ends after colon", R"({"token":)", 256, 0, "", "Tralix - ERROR: Token value not in quotes"},
      {"no closing quote", R"({"token":"abc)", 256, 0, "", "Tralix - ERROR: Missing closing quote for token"},
      {"255 characters fit", "{\"token\":\"" + longToken255 + "\"}", 256, 1, longToken255.c_str(),
       "Tralix - Successfully extracted token"},
      {"256 characters do not", "{\"token\":\"" + longToken255 + "t\"}", 256, 0, "",
       "Tralix - ERROR: Token is too long for buffer"},
      {"empty token", R"({"token":""})", 256, 0, "", "Tralix - ERROR: Empty token in response"},
      {"control character", "{\"token\":\"ab\rc\"}", 256, 0, "",
       "Tralix - ERROR: Token holds control characters"},
      {"escaped quote", R"({"token":"abc\"def"})", 256, 0, "", kUnfaithful},
      {"escaped slash", R"({"token":"a\/b"})", 256, 0, "", kUnfaithful},
      {"not UTF-8", "{\"token\":\"ab\xff\"}", 256, 0, "", kUnfaithful},
      {"overlong UTF-8", "{\"token\":\"a\xc0\xaf" "b\"}", 256, 0, "", kUnfaithful},
      {"UTF-16 surrogate", "{\"token\":\"a\xed\xa0\x80\"}", 256, 0, "", kUnfaithful},
      {"cut UTF-8", "{\"token\":\"a\xe2\x82\"}", 256, 0, "", kUnfaithful},
      {"leading blank", R"({"token":" abc"})", 256, 0, "", kUnfaithful},
      {"trailing blank", R"({"token":"abc "})", 256, 0, "", kUnfaithful},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.what);
    char token[256] = "stale";
    EXPECT_EQ(ExtractActivationToken(c.response.c_str(), token, c.outSize), c.result);
    EXPECT_STREQ(token, c.result ? c.token : "") << "nothing of a refused token is kept";
    EXPECT_EQ(LastLine(), c.line);
  }
}

}  // namespace
