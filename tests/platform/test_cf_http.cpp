// HTTP read streams against the service stand-in over real HTTPS, inside the
// sandbox (api.tralix.net is 127.0.0.1 and the test CA is in the system bundle).
#include "CFStandInTesting.h"
#include "CFTestSupport.h"
#include "DevService.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using cftest::Outcome;
using cftest::RequestSpec;
using tralix::dev::DevService;
using tralix::dev::Fault;
using tralix::dev::ServiceOptions;

constexpr CFStreamEventType kBytes = kCFStreamEventHasBytesAvailable;
constexpr CFStreamEventType kEnd = kCFStreamEventEndEncountered;
constexpr CFStreamEventType kError = kCFStreamEventErrorOccurred;

const std::string kBase = "https://api.tralix.net/api/v1";
const std::string kBroadcastUrl = kBase + "/data/client/broadcast";
const std::string kEventUrl = kBase + "/data/client/event";
const std::string kActivateUrl = kBase + "/apiKey/activate/KEY-1";
const std::string kToken = "token-1";
const std::string kBroadcastBody =
    "{\"key\":\"KEY-1\",\"airCraftName\":\"Cessna 172 \xC3\xA9\",\"latitude\":47.449123,"
    "\"extra\":\"{\\\"flaps\\\":0.5}\"}";

RequestSpec Broadcast(std::string body = kBroadcastBody) {
  return {kBroadcastUrl, {{"Content-Type", "application/json"}, {"datakeytoken", kToken}}, std::move(body)};
}

ServiceOptions SandboxServiceOptions(int port, const std::string &address = "127.0.0.1") {
  ServiceOptions options;
  options.bindAddress = address;
  options.port = port;
  options.identity = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CERT"), std::getenv("TRALIX_SANDBOX_KEY"));
  options.apiKeys = {{"KEY-1", kToken}};
  return options;
}

Fault StatusFault(int status) {
  Fault fault;
  fault.status = status;
  return fault;
}

Fault BodyFault(std::string body) {
  Fault fault;
  fault.body = std::move(body);
  return fault;
}

bool EndsWithEnd(const std::vector<CFStreamEventType> &events) {
  if (events.empty() || events.back() != kEnd) return false;
  for (size_t index = 0; index + 1 < events.size(); ++index) {
    if (events[index] != kBytes) return false;
  }
  return true;
}

class CFHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("TRALIX_SANDBOX"), nullptr) << "run inside tools/sandbox/tralix-sandbox";
    service = std::make_unique<DevService>(SandboxServiceOptions(443));
    service->Start();
  }

  void TearDown() override {
    EXPECT_EQ(CFStandInWaitForTransportIdle(10), 1);
    EXPECT_EQ(CFStandInLiveObjectCount(), 0) << cftest::LiveObjects();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunFinished);
    service->Stop();
  }

  std::unique_ptr<DevService> service;
};

TEST_F(CFHttp, HeadersAndBodyArriveByteForByte) {
  RequestSpec wanted = Broadcast();
  wanted.headers.push_back({"X-Injected", "a\r\nX-Smuggled: 1"});  // refused by the message
  Outcome outcome = cftest::RunScheduled(wanted);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.body, "{\"status\":\"ok\"}");

  auto requests = service->Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto &request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/api/v1/data/client/broadcast");
  EXPECT_EQ(request.body, kBroadcastBody);
  EXPECT_EQ(request.Header("Content-Type"), "application/json");
  EXPECT_EQ(request.Header("datakeytoken"), kToken);
  EXPECT_EQ(request.Header("Content-Length"), std::to_string(kBroadcastBody.size()));
  EXPECT_EQ(request.Header("Host"), "api.tralix.net");
  EXPECT_FALSE(request.HasHeader("Expect"));
  EXPECT_FALSE(request.HasHeader("X-Injected"));
  EXPECT_FALSE(request.HasHeader("X-Smuggled"));
  EXPECT_EQ(request.verdict, "ok");
  EXPECT_EQ(request.extra, nlohmann::json({{"flaps", 0.5}}));
}

TEST_F(CFHttp, EventsArriveInOrderAndOnlyInsideTheRunLoop) {
  service->AddFault(BodyFault(std::string(5000, 'x')));
  Outcome outcome;
  ASSERT_TRUE(cftest::StartScheduled(Broadcast(), outcome));
  ASSERT_TRUE(service->WaitForRequests(1, 10s));
  ASSERT_EQ(CFStandInWaitForTransportIdle(10), 1);
  EXPECT_TRUE(outcome.events.empty()) << "delivered without the run loop running";

  cftest::PumpUntilFinished(outcome, 10s);
  ASSERT_TRUE(outcome.finished);
  EXPECT_TRUE(EndsWithEnd(outcome.events));
  EXPECT_EQ(std::count(outcome.events.begin(), outcome.events.end(), kBytes), 5);  // 1024 bytes per event
  EXPECT_EQ(outcome.body, std::string(5000, 'x'));
  EXPECT_FALSE(outcome.deliveredOutsideRunLoop);
  EXPECT_FALSE(outcome.deliveredOnOtherThread);
}

TEST_F(CFHttp, StatusCodesAreReadBackAndAreNotStreamErrors) {
  struct Case {
    int injectedStatus;  // 0: the service's own answer
    RequestSpec wanted;
    long expected;
  };
  RequestSpec badToken = Broadcast();
  badToken.headers[1].second = "wrong-token";
  const Case cases[] = {
      {0, Broadcast(), 200},
      {0, {kActivateUrl}, 200},
      {201, Broadcast(), 201},
      {0, badToken, 401},
      {0, {kBase + "/no/such/path"}, 404},
      {500, {kEventUrl}, 500},
      {503, Broadcast(), 503},
  };
  for (const Case &test : cases) {
    if (test.injectedStatus != 0) service->AddFault(StatusFault(test.injectedStatus));
    Outcome outcome = cftest::RunScheduled(test.wanted);
    EXPECT_EQ(outcome.status, test.expected) << test.wanted.url;
    EXPECT_TRUE(EndsWithEnd(outcome.events)) << test.wanted.url;
    EXPECT_EQ(outcome.error.domain, 0);
  }
}

TEST_F(CFHttp, RedirectsAreFollowedOnlyWhenAskedAndTheFinalStatusCounts) {
  Fault redirect;
  redirect.redirect = true;
  service->AddFault(redirect);
  Outcome followed = cftest::RunScheduled(Broadcast());
  EXPECT_EQ(followed.status, 200);
  auto requests = service->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].verdict, "redirected");
  EXPECT_EQ(requests[1].target, "/api/v1/data/client/broadcast?redirected=1");
  EXPECT_EQ(requests[1].body, kBroadcastBody);  // 307 keeps the method and body
  EXPECT_EQ(requests[1].Header("datakeytoken"), kToken);

  service->AddFault(redirect);
  RequestSpec notFollowed = Broadcast();
  notFollowed.autoRedirect = false;
  EXPECT_EQ(cftest::RunScheduled(notFollowed).status, 307);

  Fault loop = redirect;
  loop.count = -1;
  service->AddFault(loop);
  Outcome endless = cftest::RunScheduled(Broadcast());
  EXPECT_EQ(endless.events, std::vector<CFStreamEventType>{kError});
  EXPECT_EQ(endless.error.domain, kCFStreamErrorDomainHTTP);
  EXPECT_EQ(endless.error.error, kCFStreamErrorHTTPRedirectionLoop);
}

TEST_F(CFHttp, ReadTimeoutEndsASilentExchangeWithAnErrorInAboutTheTimeout) {
  Fault silent;
  silent.delay = 30s;
  service->AddFault(silent);
  RequestSpec wanted = Broadcast();
  wanted.readTimeoutSeconds = 0.5;
  auto started = std::chrono::steady_clock::now();
  Outcome outcome = cftest::RunScheduled(wanted);
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(outcome.events, std::vector<CFStreamEventType>{kError});
  EXPECT_EQ(outcome.error.domain, kCFStreamErrorDomainPOSIX);
  EXPECT_EQ(outcome.error.error, 60);  // ETIMEDOUT on macOS
  EXPECT_GE(elapsed, 450ms);
  EXPECT_LT(elapsed, 2500ms);
}

TEST_F(CFHttp, ReadTimeoutAlsoCoversATlsHandshakeThatNeverAnswers) {
  // A listener that never accepts: the connection completes, the handshake gets no byte.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(8444);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  RequestSpec wanted = Broadcast();
  wanted.url = "https://api.tralix.net:8444/api/v1/data/client/broadcast";
  wanted.readTimeoutSeconds = 0.5;
  auto started = std::chrono::steady_clock::now();
  Outcome outcome = cftest::RunScheduled(wanted);
  EXPECT_EQ(outcome.events, std::vector<CFStreamEventType>{kError});
  EXPECT_EQ(outcome.error.domain, kCFStreamErrorDomainPOSIX);
  EXPECT_EQ(outcome.error.error, 60);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
  close(listener);
}

TEST_F(CFHttp, FailedConnectionsReportWhatHappened) {
  // A service whose certificate no trusted CA signed, and one whose certificate
  // does not name the address it is reached at.
  ServiceOptions untrustedOptions;
  untrustedOptions.port = 8443;
  DevService untrusted(untrustedOptions);
  untrusted.Start();
  DevService misnamed(SandboxServiceOptions(443, "127.0.0.2"));
  misnamed.Start();
  // Trusted servers below the TLS floor: a static-RSA suite only, TLS 1.1 only.
  const auto sandboxCa = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CA"), std::getenv("TRALIX_SANDBOX_CA_KEY"));
  ServiceOptions staticRsaOptions = SandboxServiceOptions(8445);
  staticRsaOptions.identity =
      tralix::dev::IssueTlsIdentity(sandboxCa.certificatePem, sandboxCa.privateKeyPem, {"api.tralix.net"}, true);
  staticRsaOptions.tlsOnlyVersion = "1.2";
  staticRsaOptions.tlsCiphers = "AES128-GCM-SHA256";
  DevService staticRsa(staticRsaOptions);
  staticRsa.Start();
  ServiceOptions tls11Options = SandboxServiceOptions(8446);
  tls11Options.tlsOnlyVersion = "1.1";
  DevService tls11(tls11Options);
  tls11.Start();
  // A plain-HTTP server whose answer has no status line.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(8447);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  std::thread garbage([listener] {
    int connection = accept(listener, nullptr, nullptr);
    char request[4096];
    (void)recv(connection, request, sizeof request, 0);
    const char answer[] = "garbage\r\n\r\n";
    (void)send(connection, answer, sizeof answer - 1, MSG_NOSIGNAL);
    close(connection);
  });

  struct Case {
    std::string url;
    CFIndex domain;
    SInt32 code;
  };
  const Case cases[] = {
      {"https://api.tralix.net:1/api/v1/data/client/event", kCFStreamErrorDomainPOSIX, 61},  // refused
      {"https://no-such-host.invalid/api/v1/data/client/event", kCFStreamErrorDomainNetDB, 8},
      {"https://localhost:8443/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9812},   // unknown root
      {"https://127.0.0.2/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9843},        // wrong name
      {"http://api.tralix.net:443/api/v1/data/client/event", kCFStreamErrorDomainHTTP, -4},  // plain HTTP to TLS: dropped
      {"https://api.tralix.net:8445/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9800},  // static RSA
      {"https://api.tralix.net:8446/api/v1/data/client/event", kCFStreamErrorDomainSSL, -9800},  // TLS 1.1
      {"http://api.tralix.net:8447/api/v1/data/client/event", kCFStreamErrorDomainHTTP, -1},  // no status line
  };
  for (const Case &test : cases) {
    Outcome outcome = cftest::RunScheduled({test.url});
    EXPECT_EQ(outcome.events, std::vector<CFStreamEventType>{kError}) << test.url;
    EXPECT_EQ(outcome.error.domain, test.domain) << test.url;
    EXPECT_EQ(outcome.error.error, test.code) << test.url;
  }
  EXPECT_EQ(untrusted.RequestCount(), 0u);
  EXPECT_EQ(misnamed.RequestCount(), 0u);
  EXPECT_EQ(staticRsa.RequestCount(), 0u);
  EXPECT_EQ(tls11.RequestCount(), 0u);
  garbage.join();
  close(listener);

  // A body that never ends is read no further than 8 MiB.
  Fault endless;
  endless.endlessBody = true;
  service->AddFault(endless);
  cftest::SyncResult unbounded = cftest::RunSynchronous(Broadcast());
  EXPECT_LT(unbounded.lastRead, 0);
  EXPECT_EQ(unbounded.error.domain, kCFStreamErrorDomainPOSIX);
  EXPECT_EQ(unbounded.error.error, 27);  // EFBIG
  EXPECT_LE(unbounded.body.size(), size_t{8} << 20);
}

TEST_F(CFHttp, ADroppedConnectionIsAnErrorNotAnAnswer) {
  Fault drop;
  drop.closeWithoutAnswer = true;
  service->AddFault(drop);
  Outcome outcome = cftest::RunScheduled(Broadcast());
  EXPECT_EQ(outcome.events, std::vector<CFStreamEventType>{kError});
  EXPECT_EQ(outcome.error.domain, kCFStreamErrorDomainHTTP);
  EXPECT_EQ(outcome.error.error, -4);  // connection lost
  EXPECT_EQ(cftest::RunScheduled(Broadcast()).status, 200);  // the next request is served
}

TEST_F(CFHttp, SynchronousReadsReturnTheWholeBody) {
  std::string large;
  for (int index = 0; index < 3000; ++index) large += "{\"token\":\"" + std::to_string(index) + "\"},";
  service->SetActivationBody(large);
  cftest::SyncResult whole = cftest::RunSynchronous({kActivateUrl});
  EXPECT_TRUE(whole.opened);
  EXPECT_EQ(whole.lastRead, 0);
  EXPECT_EQ(whole.body, large);
  EXPECT_EQ(whole.statusAfter, kCFStreamStatusAtEnd);
  EXPECT_EQ(whole.status, 200);

  Fault trickle;
  trickle.trickleChunkBytes = 7;
  trickle.trickleInterval = 20ms;
  trickle.body = std::string("{\"token\":\"slowly-but-surely\"}");
  service->AddFault(trickle);
  cftest::SyncResult trickled = cftest::RunSynchronous({kActivateUrl});
  EXPECT_EQ(trickled.body, *trickle.body);
  EXPECT_EQ(trickled.lastRead, 0);

  cftest::SyncResult refused = cftest::RunSynchronous({"https://api.tralix.net:1/api/v1/apiKey/activate/KEY-1"});
  EXPECT_TRUE(refused.opened);
  EXPECT_EQ(refused.lastRead, -1);
  EXPECT_EQ(refused.statusAfter, kCFStreamStatusError);
  EXPECT_EQ(refused.error.domain, kCFStreamErrorDomainPOSIX);
  EXPECT_EQ(refused.status, -1);
}

TEST_F(CFHttp, ABodyTheReaderFallsBehindOnArrivesIntact) {
  std::string large(3 << 20, '.');
  for (size_t index = 0; index < large.size(); index += 4096) large[index] = static_cast<char>('a' + index % 26);
  service->SetActivationBody(large);
  CFReadStreamRef stream = cftest::MakeStream({kActivateUrl});
  ASSERT_TRUE(CFReadStreamOpen(stream));
  std::this_thread::sleep_for(500ms);  // the worker holds back what the reader did not take
  std::string received;
  std::vector<UInt8> buffer(64 * 1024);
  CFIndex count;
  while ((count = CFReadStreamRead(stream, buffer.data(), static_cast<CFIndex>(buffer.size()))) > 0) {
    received.append(reinterpret_cast<char *>(buffer.data()), static_cast<size_t>(count));
  }
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(received == large) << "received " << received.size() << " bytes";
  CFReadStreamClose(stream);
  CFRelease(stream);
}

TEST_F(CFHttp, ASecondRequestToTheSameHostReusesTheConnection) {
  long before = CFStandInConnectionsOpened();
  long requestsBefore = CFStandInRequestsStarted();
  EXPECT_EQ(cftest::RunScheduled(Broadcast()).status, 200);
  EXPECT_EQ(CFStandInConnectionsOpened(), before + 1);
  EXPECT_EQ(cftest::RunScheduled(Broadcast()).status, 200);
  EXPECT_EQ(cftest::RunScheduled({kEventUrl, {{"datakeytoken", kToken}}}).status, 200);
  EXPECT_EQ(CFStandInConnectionsOpened(), before + 1);
  EXPECT_EQ(CFStandInRequestsStarted(), requestsBefore + 3);
}

TEST_F(CFHttp, ClosingOrReleasingAStreamInFlightStopsIt) {
  Fault slow;
  slow.delay = 30s;
  slow.count = -1;
  service->AddFault(slow);
  int events = 0;
  CFReadStreamRef scheduled = cftest::MakeStream(Broadcast());
  CFStreamClientContext context = {0, &events, nullptr, nullptr, nullptr};
  auto count = [](CFReadStreamRef, CFStreamEventType, void *info) { ++*static_cast<int *>(info); };
  ASSERT_TRUE(CFReadStreamSetClient(scheduled, kBytes | kEnd | kError, count, &context));
  CFReadStreamScheduleWithRunLoop(scheduled, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  ASSERT_TRUE(CFReadStreamOpen(scheduled));
  CFReadStreamRef unscheduled = cftest::MakeStream(Broadcast());
  ASSERT_TRUE(CFReadStreamOpen(unscheduled));
  ASSERT_TRUE(service->WaitForRequests(2, 10s));

  CFReadStreamClose(unscheduled);
  UInt8 byte;
  EXPECT_EQ(CFReadStreamRead(unscheduled, &byte, 1), -1);
  EXPECT_EQ(CFReadStreamGetStatus(unscheduled), kCFStreamStatusClosed);
  CFRelease(unscheduled);
  CFRelease(scheduled);  // still open and scheduled: freeing it closes it
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.2, false), kCFRunLoopRunFinished);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(CFStandInWaitForTransportIdle(5), 1);
  EXPECT_EQ(CFStandInActiveTransfers(), 0);
}

TEST_F(CFHttp, StoppingTheWorkerEndsWhatIsInFlightAndItStartsAgain) {
  Fault slow;
  slow.delay = 30s;
  service->AddFault(slow);
  Outcome outcome;
  ASSERT_TRUE(cftest::StartScheduled(Broadcast(), outcome));
  ASSERT_TRUE(service->WaitForRequests(1, 10s));
  CFStandInShutdownTransport();  // as at unload
  cftest::PumpUntilFinished(outcome, 5s);
  EXPECT_EQ(outcome.events, std::vector<CFStreamEventType>{kError});
  EXPECT_EQ(outcome.error.domain, kCFStreamErrorDomainPOSIX);
  EXPECT_EQ(outcome.error.error, 89);  // ECANCELED on macOS
  EXPECT_EQ(cftest::RunScheduled(Broadcast()).status, 200);
}

TEST_F(CFHttp, AClientThatLeavesTheBytesStillGetsTheEnd) {
  struct Silent {
    std::vector<CFStreamEventType> events;
  } silent;
  CFReadStreamRef stream = cftest::MakeStream(Broadcast());
  CFStreamClientContext context = {0, &silent, nullptr, nullptr, nullptr};
  auto record = [](CFReadStreamRef, CFStreamEventType type, void *info) {
    static_cast<Silent *>(info)->events.push_back(type);
  };
  ASSERT_TRUE(CFReadStreamSetClient(stream, kBytes | kEnd | kError, record, &context));
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  ASSERT_TRUE(CFReadStreamOpen(stream));
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((silent.events.empty() || silent.events.back() != kEnd) && std::chrono::steady_clock::now() < deadline) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
  }
  EXPECT_EQ(silent.events, (std::vector<CFStreamEventType>{kBytes, kEnd}));
  EXPECT_EQ(CFReadStreamGetStatus(stream), kCFStreamStatusAtEnd);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFReadStreamClose(stream);
  CFRelease(stream);
}

}  // namespace
