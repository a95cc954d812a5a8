// HTTP read streams against the service stand-in over real HTTPS, inside the
// sandbox (api.tralix.net is 127.0.0.1 and the test CA is in the system bundle).
// What the plug-in's own tests walk on every exchange (status codes, ordinary
// bodies, release) is left to them; these cover the faults they would not show.
#include "CFStandInTesting.h"
#include "DevService.h"

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Testing the stand-in means calling the deprecated HTTP stream API it provides.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

using namespace std::chrono_literals;
using tralix::dev::DevService;
using tralix::dev::Fault;
using tralix::dev::ServiceOptions;

constexpr CFStreamEventType kBytes = kCFStreamEventHasBytesAvailable;
constexpr CFStreamEventType kEnd = kCFStreamEventEndEncountered;
constexpr CFStreamEventType kError = kCFStreamEventErrorOccurred;
const std::vector<CFStreamEventType> kOnlyError = {kError};

// A POST request and the stream properties it is sent with.
struct RequestSetup {
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "application/json"}};
  std::string body = "{}";
  double readTimeoutSeconds = 10.0;  // bounds nothing, as on Apple
  bool autoRedirect = false;  // set only when true; unset is Apple's default (no redirects)
  bool persistent = false;    // likewise
};

// What a client registered for has-bytes, end and error saw of one scheduled
// request. Like the plug-in it reads 1024 bytes per has-bytes event and on end
// or error reads the status and error, then tears the stream down.
struct Outcome {
  std::vector<CFStreamEventType> events;
  std::string body;
  long status = -1;  // -1: the response header was null
  CFStreamError error{0, 0};
  bool finished = false;
};


CFStringRef Text(const std::string &text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8);
}

void TearDown(CFReadStreamRef stream) {
  CFReadStreamSetClient(stream, kCFStreamEventNone, nullptr, nullptr);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFReadStreamClose(stream);
  CFRelease(stream);
}

long StatusOf(CFReadStreamRef stream) {
  auto response = (CFHTTPMessageRef)CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader);
  if (response == nullptr) return -1;
  long status = CFHTTPMessageGetResponseStatusCode(response);
  CFRelease(response);
  return status;
}

void OnEvent(CFReadStreamRef stream, CFStreamEventType type, void *info) {
  auto &outcome = *static_cast<Outcome *>(info);
  outcome.events.push_back(type);
  if (type == kCFStreamEventHasBytesAvailable) {
    UInt8 buffer[1024];
    CFIndex count = CFReadStreamRead(stream, buffer, sizeof buffer);
    if (count > 0) outcome.body.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(count));
    return;
  }
  outcome.status = StatusOf(stream);
  outcome.error = CFReadStreamGetError(stream);
  outcome.finished = true;
  TearDown(stream);
}

// The stream for `setup` with its properties set, not opened; nullptr when a step failed.
CFReadStreamRef MakeStream(const RequestSetup &setup) {
  CFStringRef urlText = Text(setup.url);
  CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, urlText, nullptr);
  CFRelease(urlText);
  if (url == nullptr) return nullptr;
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(kCFAllocatorDefault, CFSTR("POST"), url, kCFHTTPVersion1_1);
  CFRelease(url);
  for (const auto &header : setup.headers) {
    CFStringRef name = Text(header.first);
    CFStringRef value = Text(header.second);
    CFHTTPMessageSetHeaderFieldValue(request, name, value);
    CFRelease(name);
    CFRelease(value);
  }
  CFDataRef body = CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(setup.body.data()),
                                static_cast<CFIndex>(setup.body.size()));
  CFHTTPMessageSetBody(request, body);
  CFRelease(body);
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(kCFAllocatorDefault, request);
  CFRelease(request);
  if (stream == nullptr) return nullptr;
  if (setup.autoRedirect) CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanTrue);
  if (setup.persistent)
    CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPAttemptPersistentConnection, kCFBooleanTrue);
  CFNumberRef timeout = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &setup.readTimeoutSeconds);
  CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout);
  CFRelease(timeout);
  return stream;
}

// Opens `setup` as a stream scheduled on the current run loop; false when a step failed.
bool StartScheduled(const RequestSetup &setup, Outcome &outcome) {
  CFReadStreamRef stream = MakeStream(setup);
  if (stream == nullptr) return false;
  CFStreamClientContext context = {0, &outcome, nullptr, nullptr, nullptr};
  CFOptionFlags mask = kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred | kCFStreamEventEndEncountered;
  CFReadStreamSetClient(stream, mask, OnEvent, &context);
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  if (CFReadStreamOpen(stream)) return true;
  TearDown(stream);
  return false;
}

// Runs the current run loop as the plug-in's pump does, one non-waiting pass
// per millisecond, until `outcome` finished or `limit` passed.
void PumpUntilFinished(Outcome &outcome, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!outcome.finished && std::chrono::steady_clock::now() < deadline) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

Outcome RunScheduled(const RequestSetup &setup, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  Outcome outcome;
  if (StartScheduled(setup, outcome)) PumpUntilFinished(outcome, limit);
  return outcome;
}

// The unscheduled path (activation): open, then read 1024 bytes at a time; a
// read of 0 is noted as the end event, one of -1 as the error event.
Outcome RunSynchronous(const RequestSetup &setup) {
  Outcome result;
  CFReadStreamRef stream = MakeStream(setup);
  if (stream == nullptr) return result;
  CFIndex count = CFReadStreamOpen(stream) ? 1 : -1;
  UInt8 buffer[1024];
  while (count > 0 && (count = CFReadStreamRead(stream, buffer, sizeof buffer)) > 0) {
    result.body.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(count));
  }
  result.events.push_back(count == 0 ? kCFStreamEventEndEncountered : kCFStreamEventErrorOccurred);
  result.error = CFReadStreamGetError(stream);
  CFReadStreamClose(stream);
  CFRelease(stream);
  return result;
}

std::string LiveObjects() {
  char text[256];
  CFStandInDescribeLiveObjects(text, sizeof text);
  return text;
}

const std::string kBroadcastUrl = "https://api.tralix.net/api/v1/data/client/broadcast";
const std::string kToken = "token-1";
// Long enough (over 1 MiB) that libcurl would otherwise send "Expect: 100-continue".
const std::string kBroadcastBody = "{\"key\":\"KEY-1\",\"airCraftName\":\"Cessna 172 \xC3\xA9" + std::string(1 << 20, '.') +
                                   "\",\"extra\":\"{\\\"flaps\\\":0.5}\"}";

RequestSetup Broadcast() {
  return {kBroadcastUrl, {{"Content-Type", "application/json"}, {"datakeytoken", kToken}}, kBroadcastBody};
}

RequestSetup Persistent(RequestSetup setup) {
  setup.persistent = true;
  return setup;
}

// A service the sandbox trusts, offering only `tlsOnlyVersion` when set.
ServiceOptions Trusted(int port, const std::string &address = "127.0.0.1", const std::string &tlsOnlyVersion = "") {
  ServiceOptions options;
  options.bindAddress = address;
  options.port = port;
  options.identity = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CERT"), std::getenv("TRALIX_SANDBOX_KEY"));
  options.apiKeys = {{"KEY-1", kToken}};
  options.tlsOnlyVersion = tlsOnlyVersion;
  return options;
}

// A loopback listener on `port` that accepts nothing by itself.
int Listen(int port) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener, 4) != 0) {
    ADD_FAILURE() << "cannot listen on " << port;
  }
  return listener;
}

class CFHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("TRALIX_SANDBOX"), nullptr) << "run inside tools/sandbox/tralix-sandbox";
    service = std::make_unique<DevService>(Trusted(443));
    service->Start();
  }

  void TearDown() override {
    EXPECT_EQ(CFStandInWaitForTransportIdle(10), 1);
    EXPECT_EQ(CFStandInLiveObjectCount(), 0) << LiveObjects();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunFinished);
    service->Stop();
  }

  std::unique_ptr<DevService> service;
};

TEST_F(CFHttp, AnExchangeArrivesWholeOnlyThroughTheRunLoopAndNoLineBreakReachesTheWire) {
  RequestSetup setup = Broadcast();
  setup.headers.push_back({"X-Crlf", "a\r\nX-Smuggled: 1"});
  setup.headers.push_back({"X-Lf", "b\nX-Smuggled: 2"});
  Fault answer;
  answer.body = std::string(5000, 'x');
  service->AddFault(answer);
  Outcome outcome;
  ASSERT_TRUE(StartScheduled(setup, outcome));
  ASSERT_TRUE(service->WaitForRequests(1, 10s));
  ASSERT_EQ(CFStandInWaitForTransportIdle(10), 1);
  EXPECT_TRUE(outcome.events.empty()) << "delivered without the run loop running";

  PumpUntilFinished(outcome, 10s);
  std::vector<CFStreamEventType> expected(5, kBytes);  // 1024 bytes read per event
  expected.push_back(kEnd);
  EXPECT_EQ(outcome.events, expected);
  EXPECT_EQ(outcome.body, std::string(5000, 'x'));
  EXPECT_EQ(outcome.status, 200);

  const auto request = service->Requests().at(0);
  EXPECT_EQ(request.body, kBroadcastBody);
  for (const char *absent : {"Expect", "X-Crlf", "X-Lf", "X-Smuggled"}) EXPECT_FALSE(request.HasHeader(absent)) << absent;
}

// Each row is one point where Apple's HTTP stream (as its open source shows it)
// promises less than a client might hope; the stand-in promises no more.
TEST_F(CFHttp, PromisesNoMoreThanCFNetwork) {
  const std::pair<const char *, std::function<void()>> rows[] = {
      {"the read time-out bounds nothing, scheduled or blocking, before or after the first byte",
       [&] {
         Fault late, trickle;
         late.delay = 1200ms;
         trickle.body = "{}";
         trickle.trickleChunkBytes = 1;
         trickle.trickleInterval = 600ms;
         RequestSetup setup = Broadcast();
         setup.readTimeoutSeconds = 0.2;
         for (const Fault &fault : {late, trickle}) {
           service->AddFault(fault);
           const auto events = RunScheduled(setup).events;
           ASSERT_FALSE(events.empty());
           EXPECT_EQ(events.back(), kEnd);
           service->AddFault(fault);
           EXPECT_EQ(RunSynchronous(setup).events, std::vector<CFStreamEventType>{kEnd});
         }
       }},
      {"properties are taken before open and refused after", [&] {
         CFReadStreamRef stream = MakeStream(Broadcast());
         double seconds = 2.5;
         CFNumberRef timeout = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &seconds);
         EXPECT_TRUE(CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout));
         auto stored = (CFNumberRef)CFReadStreamCopyProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"));
         double read = 0;
         CFNumberGetValue(stored, kCFNumberDoubleType, &read);
         EXPECT_EQ(read, 2.5);
         CFRelease(stored);
         ASSERT_TRUE(CFReadStreamOpen(stream));
         EXPECT_FALSE(CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout));
         EXPECT_FALSE(CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanTrue));
         EXPECT_FALSE(CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPAttemptPersistentConnection, kCFBooleanTrue));
         CFRelease(timeout);
         CFReadStreamClose(stream);
         CFRelease(stream);
       }},
      {"a client that leaves its bytes gets has-bytes again, the end only once they were read", [&] {
         std::vector<CFStreamEventType> events;
         CFReadStreamRef stream = MakeStream(Broadcast());
         CFStreamClientContext context = {0, &events, nullptr, nullptr, nullptr};
         CFReadStreamSetClient(stream, kBytes | kEnd | kError,
                               [](CFReadStreamRef, CFStreamEventType type, void *info) {
                                 static_cast<std::vector<CFStreamEventType> *>(info)->push_back(type);
                               },
                               &context);
         CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
         ASSERT_TRUE(CFReadStreamOpen(stream));
         ASSERT_EQ(CFStandInWaitForTransportIdle(10), 1);
         for (int pass = 0; pass < 3; ++pass) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true);
         ASSERT_EQ(events, std::vector<CFStreamEventType>(3, kBytes));
         UInt8 buffer[1024];
         while (CFReadStreamRead(stream, buffer, sizeof buffer) > 0) {
         }
         CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true);
         EXPECT_EQ(events.back(), kEnd);
         ::TearDown(stream);
       }},
      {"a failed stream keeps its error status after close", [&] {
         CFReadStreamRef stream = MakeStream({"https://api.tralix.net:1/api/v1/data/client/event"});
         ASSERT_TRUE(CFReadStreamOpen(stream));
         UInt8 buffer[16];
         EXPECT_EQ(CFReadStreamRead(stream, buffer, sizeof buffer), -1);
         CFReadStreamClose(stream);
         EXPECT_EQ(CFReadStreamGetStatus(stream), kCFStreamStatusError);
         EXPECT_EQ(CFReadStreamGetError(stream).error, 61);
         CFRelease(stream);
       }},
      {"no proxy from the environment: the connection goes direct", [&] {
         int proxy = Listen(8448);
         for (const char *name : {"https_proxy", "HTTPS_PROXY", "all_proxy"}) setenv(name, "http://127.0.0.1:8448", 1);
         Outcome direct = RunScheduled(Broadcast());
         for (const char *name : {"https_proxy", "HTTPS_PROXY", "all_proxy"}) unsetenv(name);
         EXPECT_EQ(direct.status, 200);
         pollfd waiting{proxy, POLLIN, 0};
         EXPECT_EQ(poll(&waiting, 1, 0), 0) << "the proxy was asked";
         close(proxy);
       }},
  };
  for (const auto &[point, check] : rows) {
    SCOPED_TRACE(point);
    check();
  }
}

TEST_F(CFHttp, FailedConnectionsReportWhatHappened) {
  // Servers a client must not talk to: a certificate no trusted CA signed, one
  // that does not name the address it is reached at, and trusted ones below the
  // TLS floor (a static-RSA suite only, TLS 1.1 only).
  ServiceOptions untrusted, misnamed = Trusted(443, "127.0.0.2"), staticRsa = Trusted(8445, "127.0.0.1", "1.2");
  untrusted.port = 8443;
  const auto ca = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CA"), std::getenv("TRALIX_SANDBOX_CA_KEY"));
  staticRsa.identity = tralix::dev::IssueTlsIdentity(ca.certificatePem, ca.privateKeyPem, {"api.tralix.net"}, true);
  staticRsa.tlsCiphers = "AES128-GCM-SHA256";
  std::vector<std::unique_ptr<DevService>> refused;
  for (const ServiceOptions &options : {untrusted, misnamed, staticRsa, Trusted(8446, "127.0.0.1", "1.1")}) {
    refused.push_back(std::make_unique<DevService>(options));
    refused.back()->Start();
  }
  Fault redirectLoop;
  redirectLoop.redirect = true;
  redirectLoop.count = -1;

  struct Case {
    std::string url;
    CFIndex domain;
    SInt32 code;
    std::optional<Fault> answer = std::nullopt;  // what the service does with the request
  };
  const Case cases[] = {
      {"https://api.tralix.net:1/api/v1/data/client/event", kCFStreamErrorDomainPOSIX, 61},  // refused
      {"https://no-such-host.invalid/api/v1/data/client/event", kCFStreamErrorDomainNetDB, 8},
      {"https://localhost:8443/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9812},   // unknown root
      {"https://127.0.0.2/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9843},        // wrong name
      {"http://api.tralix.net:443/api/v1/data/client/event", kCFStreamErrorDomainHTTP, -4},  // plain HTTP to TLS: dropped
      {"https://api.tralix.net:8445/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9800},  // static RSA
      {"https://api.tralix.net:8446/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9800},  // TLS 1.1
      {kBroadcastUrl, kCFStreamErrorDomainHTTP, kCFStreamErrorHTTPRedirectionLoop, redirectLoop},
  };
  for (const Case &test : cases) {
    if (test.answer) service->AddFault(*test.answer);
    RequestSetup setup{test.url};
    setup.autoRedirect = true;
    auto started = std::chrono::steady_clock::now();
    Outcome outcome = RunScheduled(setup);
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(outcome.events, kOnlyError) << test.url;
    EXPECT_EQ(outcome.error.domain, test.domain) << test.url;
    EXPECT_EQ(outcome.error.error, test.code) << test.url;
    EXPECT_TRUE(outcome.status == -1 || test.answer) << test.url << ": a response header without a response";
    EXPECT_LT(elapsed, 2500ms) << test.url;
  }
  for (const auto &server : refused) EXPECT_EQ(server->RequestCount(), 0u) << server->Port();

  // A body that never ends is read no further than 8 MiB.
  Fault endless;
  endless.endlessBody = true;
  service->ClearFaults();
  service->AddFault(endless);
  Outcome unbounded = RunSynchronous(Broadcast());
  EXPECT_EQ(unbounded.events, kOnlyError);
  EXPECT_EQ(unbounded.error.domain, kCFStreamErrorDomainPOSIX);
  EXPECT_EQ(unbounded.error.error, 27);  // EFBIG
  EXPECT_LE(unbounded.body.size(), size_t{8} << 20);
}

// Without the property a request has a connection of its own and says so.
TEST_F(CFHttp, APersistentConnectionServesTheHostAndARequestLostOnItIsNotSentAgain) {
  long opened = CFStandInConnectionsOpened();
  EXPECT_EQ(RunScheduled(Broadcast()).status, 200);
  EXPECT_EQ(RunScheduled(Persistent(Broadcast())).status, 200);
  EXPECT_EQ(RunScheduled(Persistent({"https://api.tralix.net/api/v1/data/client/event", {{"datakeytoken", kToken}}})).status,
            200);
  EXPECT_EQ(CFStandInConnectionsOpened(), opened + 2);
  EXPECT_EQ(service->Requests().at(0).Header("Connection"), "close");
  EXPECT_FALSE(service->Requests().at(2).HasHeader("Connection"));

  Fault drop;
  drop.closeWithoutAnswer = true;
  service->AddFault(drop);
  Outcome lost = RunScheduled(Persistent(Broadcast()));
  EXPECT_EQ(lost.events, kOnlyError);
  EXPECT_EQ(lost.error.domain, kCFStreamErrorDomainHTTP);
  EXPECT_EQ(lost.error.error, -4);  // connection lost
  EXPECT_EQ(service->RequestCount(), 4u) << "the lost request was sent again";
}

}  // namespace
