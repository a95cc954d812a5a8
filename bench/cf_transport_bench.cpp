// What one request costs the thread that makes it: opening the stream plus
// every run-loop pass (CFRunLoopRunInMode(default, 0, true), one per 1 ms
// "frame") until its end or error, or until the caller gives it up, for a fresh
// connection with its TLS handshake, a kept-alive connection (asked for with
// the persistent-connection property), a server that never answers and a name
// that takes 300 ms to resolve. Reported time is the time spent inside those
// calls; the network's own time runs on the stand-in's worker.
//
// Runs inside tools/sandbox/tralix-sandbox, re-starting itself there when needed.
#include "../platform/corefoundation/testing/CFStandInTesting.h"
#include "DevService.h"

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSilentPort = 8444;
constexpr auto kSlowResolution = 300ms;

// A DNS server on 127.0.0.1:53 that maps every name to 127.0.0.1, answering
// names that begin with "slow" only after kSlowResolution.
class FakeResolver {
 public:
  FakeResolver() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) std::abort();
    timeval tick{0, 100000};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeResolver() {
    stopping_ = true;
    thread_.join();
    for (auto &reply : delayed_) reply.join();
    close(socket_);
  }
  FakeResolver(const FakeResolver &) = delete;
  FakeResolver &operator=(const FakeResolver &) = delete;

 private:
  void Serve() {
    unsigned char query[512];
    while (!stopping_) {
      sockaddr_in peer{};
      socklen_t peerLength = sizeof peer;
      ssize_t length = recvfrom(socket_, query, sizeof query, 0, reinterpret_cast<sockaddr *>(&peer), &peerLength);
      if (length < 17) continue;
      std::vector<unsigned char> reply = Answer(query, static_cast<size_t>(length));
      if (reply.empty()) continue;
      bool slow = std::memcmp(query + 13, "slow", 4) == 0;
      auto send = [this, reply, peer] {
        sendto(socket_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr *>(&peer), sizeof peer);
      };
      if (!slow) {
        send();
        continue;
      }
      delayed_.emplace_back([send] {
        std::this_thread::sleep_for(kSlowResolution);
        send();
      });
    }
  }

  // The query's header and question, answered with 127.0.0.1 for type A and
  // with no record for any other type.
  static std::vector<unsigned char> Answer(const unsigned char *query, size_t length) {
    size_t end = 12;
    while (end < length && query[end] != 0) end += query[end] + 1u;
    end += 5;  // the root label, type and class
    if (end > length) return {};
    bool typeA = query[end - 4] == 0 && query[end - 3] == 1;
    unsigned char header[12];
    std::memcpy(header, query, sizeof header);
    header[2] = 0x81;  // a response, recursion desired
    header[3] = 0x80;  // recursion available, no error
    header[6] = 0;
    header[7] = typeA ? 1 : 0;
    std::memset(header + 8, 0, 4);
    std::vector<unsigned char> reply(header, header + sizeof header);
    reply.insert(reply.end(), query + sizeof header, query + end);
    if (typeA) {
      const unsigned char record[] = {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
      reply.insert(reply.end(), record, record + sizeof record);
    }
    return reply;
  }

  int socket_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::vector<std::thread> delayed_;
};

// Everything the requests talk to, made once.
struct Environment {
  Environment() {
    tralix::dev::ServiceOptions options;
    options.port = 443;
    options.identity = tralix::dev::LoadTlsIdentity(std::getenv("TRALIX_SANDBOX_CERT"), std::getenv("TRALIX_SANDBOX_KEY"));
    options.apiKeys = {{"KEY-1", "token-1"}};
    service = std::make_unique<tralix::dev::DevService>(options);
    service->Start();
    silentListener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kSilentPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(silentListener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) std::abort();
    listen(silentListener, 1024);  // never accepted: connections complete, TLS gets no answer
  }
  ~Environment() {
    close(silentListener);
    service->Stop();
  }
  Environment(const Environment &) = delete;
  Environment &operator=(const Environment &) = delete;

  std::unique_ptr<tralix::dev::DevService> service;
  FakeResolver resolver;
  int silentListener = -1;
};

Environment &TheEnvironment() {
  static Environment environment;
  return environment;
}

struct Exchange {
  bool finished = false;
  long status = 0;
  CFStreamError error{0, 0};
  CFReadStreamRef stream = nullptr;  // until it finished
};

void TearDown(CFReadStreamRef stream) {
  CFReadStreamSetClient(stream, 0, nullptr, nullptr);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFReadStreamClose(stream);
  CFRelease(stream);
}

// The service client's calls, deprecated on macOS as in the plug-in.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// The service client's completion handler, in short.
void OnEvent(CFReadStreamRef stream, CFStreamEventType type, void *info) {
  auto &exchange = *static_cast<Exchange *>(info);
  if (type == kCFStreamEventHasBytesAvailable) {
    UInt8 buffer[1024];
    CFReadStreamRead(stream, buffer, sizeof buffer);
    return;
  }
  if (type == kCFStreamEventEndEncountered) {
    auto response = (CFHTTPMessageRef)CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader);
    if (response != nullptr) {
      exchange.status = CFHTTPMessageGetResponseStatusCode(response);
      CFRelease(response);
    }
  } else {
    exchange.error = CFReadStreamGetError(stream);
  }
  exchange.finished = true;
  exchange.stream = nullptr;
  TearDown(stream);
}

// The broadcast recipe: URL, message, headers, body, stream, properties,
// client, schedule, open.
void StartBroadcast(const std::string &url, double timeoutSeconds, bool persistent, Exchange &exchange) {
  static const std::string body = R"({"key":"KEY-1","clientVersion":10106,"extra":"{}"})";
  CFStringRef urlText = CFStringCreateWithCString(nullptr, url.c_str(), kCFStringEncodingUTF8);
  CFURLRef target = CFURLCreateWithString(nullptr, urlText, nullptr);
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), target, kCFHTTPVersion1_1);
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("Content-Type"), CFSTR("application/json"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("datakeytoken"), CFSTR("token-1"));
  CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(body.data()), static_cast<CFIndex>(body.size()));
  CFHTTPMessageSetBody(request, data);
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanTrue);
  if (persistent) CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPAttemptPersistentConnection, kCFBooleanTrue);
  CFNumberRef timeout = CFNumberCreate(nullptr, kCFNumberDoubleType, &timeoutSeconds);
  CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout);
  CFRelease(timeout);
  CFStreamClientContext context = {0, &exchange, nullptr, nullptr, nullptr};
  CFReadStreamSetClient(stream, 26, OnEvent, &context);
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFReadStreamOpen(stream);
  exchange.stream = stream;
  CFRelease(data);
  CFRelease(request);
  CFRelease(target);
  CFRelease(urlText);
}

#pragma GCC diagnostic pop

struct CallerCost {
  Clock::duration inside{};
  Clock::duration longestCall{};
  long passes = 0;
};

void Timed(CallerCost &cost, const std::function<void()> &call) {
  auto started = Clock::now();
  call();
  auto spent = Clock::now() - started;
  cost.inside += spent;
  cost.longestCall = std::max(cost.longestCall, spent);
}

// One request as the plug-in makes it, ended by the caller as a time-out after
// timeoutSeconds (the stream keeps no bound); returns the caller's cost.
CallerCost OneRequest(const std::string &url, double timeoutSeconds, Exchange &exchange, bool persistent = false) {
  CallerCost cost;
  Timed(cost, [&] { StartBroadcast(url, timeoutSeconds, persistent, exchange); });
  auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (!exchange.finished && Clock::now() < deadline) {
    Timed(cost, [] { CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true); });
    ++cost.passes;
    if (!exchange.finished) std::this_thread::sleep_for(1ms);
  }
  if (!exchange.finished) {
    Timed(cost, [&] { TearDown(exchange.stream); });
    exchange.error = {kCFStreamErrorDomainPOSIX, 60};
    exchange.finished = true;
  }
  return cost;
}

void Run(benchmark::State &state, const std::function<std::string(long)> &urlOf, double timeoutSeconds,
         bool expectAnswer, bool persistent = false) {
  TheEnvironment();
  long iteration = 0, passes = 0;
  Clock::duration longest{};
  for (auto _ : state) {
    Exchange exchange;
    CallerCost cost = OneRequest(urlOf(iteration++), timeoutSeconds, exchange, persistent);
    bool asExpected = expectAnswer ? exchange.status == 200 : exchange.error.domain != 0;
    if (!exchange.finished || !asExpected) {
      state.SkipWithError("the request did not end as expected");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(cost.inside).count());
    passes += cost.passes;
    longest = std::max(longest, cost.longestCall);
  }
  state.counters["passes"] = benchmark::Counter(static_cast<double>(passes), benchmark::Counter::kAvgIterations);
  state.counters["longest_call_us"] = std::chrono::duration<double, std::micro>(longest).count();
}

void BM_FreshConnectionWithTlsHandshake(benchmark::State &state) {
  // A new host name each time: a new connection and handshake (the name
  // resolves at once through the fake resolver).
  Run(state, [](long n) { return "https://fresh" + std::to_string(n) + ".tralix.test/api/v1/data/client/broadcast"; },
      5.0, true);
}

void BM_ReusedConnection(benchmark::State &state) {
  Exchange warmUp;
  OneRequest("https://api.tralix.net/api/v1/data/client/broadcast", 5.0, warmUp, true);
  Run(state, [](long) { return "https://api.tralix.net/api/v1/data/client/broadcast"; }, 5.0, true, true);
}

void BM_ServerNeverAnswers(benchmark::State &state) {
  Run(state, [](long) { return "https://api.tralix.net:" + std::to_string(kSilentPort) + "/api/v1/data/client/broadcast"; },
      0.2, false);
}

void BM_SlowNameResolution(benchmark::State &state) {
  Run(state, [](long n) { return "https://slow" + std::to_string(n) + ".tralix.test/api/v1/data/client/broadcast"; },
      5.0, true);
}

BENCHMARK(BM_FreshConnectionWithTlsHandshake)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(30);
BENCHMARK(BM_ReusedConnection)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_ServerNeverAnswers)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(10);
BENCHMARK(BM_SlowNameResolution)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(10);

// Outside the sandbox, starts this program again inside it.
void EnterSandbox(int argc, char **argv) {
  if (std::getenv("TRALIX_SANDBOX") != nullptr) return;
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) std::abort();
  self[length] = '\0';
  std::vector<char *> arguments = {const_cast<char *>(TRALIX_SANDBOX_SCRIPT), const_cast<char *>("--cert-dir"),
                                   const_cast<char *>(TRALIX_SANDBOX_CERT_DIR), const_cast<char *>("--"), self};
  for (int index = 1; index < argc; ++index) arguments.push_back(argv[index]);
  arguments.push_back(nullptr);
  execv(TRALIX_SANDBOX_SCRIPT, arguments.data());
  std::perror("cannot start the sandbox");
  std::exit(1);
}

}  // namespace

int main(int argc, char **argv) {
  EnterSandbox(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
