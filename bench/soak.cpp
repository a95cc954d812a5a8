// Soak: 10,000 broadcasts through the plug-in's flight loop against the service
// stand-in, with a fault every third request (each failable CF operation in
// turn, and the service answering 500 or 401, closing without an answer,
// answering late, redirecting) and, every thousand, a run of twelve failures
// that walks the back-off table to its end. After every broadcast:
//   - the failure count is what the outcome implies (a success resets it, a
//     refused or failed request adds one, a request that was never made
//     leaves it), judged from what the service really answered;
//   - the back-off is one of 0, 1, 3, 7, 15, 30 and the one the table gives
//     for that count, and the flight loop sends nothing before it elapsed;
//   - after a completion exactly the broadcast's five kept objects are alive,
//     after a request that never started no stream, data or number is;
//   - the service never saw a malformed body.
// At the end nothing is alive after ShutdownNetwork, and the heap in use after
// 10,000 broadcasts is where it was after 1,000. Exits 1 on any violation.
//
// Runs inside tools/sandbox/tralix-sandbox (re-starting itself there when
// needed); CTest runs it as `soak`.
#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "XPHostControl.h"
#include "flight_loop_support.h"

#include <curl/curl.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fl = flight_loop_bench;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultBroadcasts = 10000;
constexpr int kFaultEvery = 3;
constexpr int kBurstEvery = 1000;
constexpr int kBurstOffset = 500;
constexpr int kBurstLength = 12;  // past the tenth failure the back-off stays at 30
constexpr long kKeptObjects = 5;  // URL string, URL, request, header name and value
constexpr double kCompletionTimeoutSeconds = 20.0;
constexpr auto kShortDelay = 30ms;
// The in-process service's sixteen threads fill their allocator caches for the
// first few thousand broadcasts (about 150 KiB, then flat). A leak of a stream,
// a transfer handle or a header list per request is far above this limit, and
// CF objects are counted one by one anyway.
constexpr long kHeapGrowthLimitBytes = 1024 * 1024;
constexpr int kHeapReadings = 5;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapIsMeasurable = false;  // the sanitizer's allocator; LeakSanitizer checks at exit
#else
constexpr bool kHeapIsMeasurable = true;
#endif

enum class Effect { Reset, AddOne, Unchanged, FromService };

struct FaultKind {
  const char* name;
  const char* failingOperation;  // a CF operation whose next call fails, or null
  bool serviceFault;             // the fault below goes to the service
  tralix::dev::Fault fault;
  Effect effect;  // on the failure count; FromService: as the service's last answer says
};

tralix::dev::Fault ServiceFault(int status, bool close, std::chrono::milliseconds delay, bool redirect,
                                int count = 1) {
  tralix::dev::Fault fault;
  fault.path = fl::kBroadcastPath;
  fault.count = count;
  fault.status = status;
  fault.closeWithoutAnswer = close;
  fault.delay = delay;
  fault.redirect = redirect;
  return fault;
}

FaultKind CfFault(const char* name, const char* operation, Effect effect) {
  return {name, operation, false, {}, effect};
}

FaultKind Service(const char* name, const tralix::dev::Fault& fault) {
  return {name, nullptr, true, fault, Effect::FromService};
}

// Which failures count is the client's contract: a request that never started
// for want of an object is not a connection failure; one whose stream could
// not be started is; a missing response header counts as a success. A kept-alive
// connection closed without an answer is tried once more on a fresh one by the
// transport, so a close counts only when the retry is closed too.
std::vector<FaultKind> Rotation() {
  return {
      CfFault("CFStringCreateWithCString fails", "CFStringCreateWithCString", Effect::Unchanged),
      Service("service answers 500", ServiceFault(500, false, 0ms, false)),
      CfFault("CFURLCreateWithString fails", "CFURLCreateWithString", Effect::Unchanged),
      Service("service closes without answer", ServiceFault(0, true, 0ms, false)),
      CfFault("CFHTTPMessageCreateRequest fails", "CFHTTPMessageCreateRequest", Effect::Unchanged),
      Service("service closes twice without answer", ServiceFault(0, true, 0ms, false, 2)),
      Service("service answers 401", ServiceFault(401, false, 0ms, false)),
      CfFault("CFDataCreate fails", "CFDataCreate", Effect::Unchanged),
      Service("service answers after 30 ms", ServiceFault(0, false, kShortDelay, false)),
      CfFault("CFNumberCreate fails", "CFNumberCreate", Effect::FromService),
      Service("service closes after 30 ms", ServiceFault(0, true, kShortDelay, false)),
      CfFault("CFReadStreamCreateForHTTPRequest fails", "CFReadStreamCreateForHTTPRequest", Effect::Unchanged),
      Service("service redirects", ServiceFault(0, false, 0ms, true)),
      CfFault("CFReadStreamSetProperty fails", "CFReadStreamSetProperty", Effect::FromService),
      CfFault("CFReadStreamSetClient fails", "CFReadStreamSetClient", Effect::AddOne),
      CfFault("CFReadStreamOpen fails", "CFReadStreamOpen", Effect::AddOne),
      CfFault("CFReadStreamCopyProperty fails", "CFReadStreamCopyProperty", Effect::Reset),
  };
}

std::vector<FaultKind> BurstKinds() {
  return {
      Service("burst: service answers 500", ServiceFault(500, false, 0ms, false)),
      Service("burst: service closes twice without answer", ServiceFault(0, true, 0ms, false, 2)),
      CfFault("burst: CFReadStreamOpen fails", "CFReadStreamOpen", Effect::AddOne),
  };
}

float BackoffFor(int failures) {
  if (failures <= 5) return 0.0f;
  const int doublings = std::min(failures - 5, 5);
  return std::min(static_cast<float>((1 << doublings) - 1), 30.0f);
}

bool IsTableValue(float backoff) {
  static const float kTable[] = {0.0f, 1.0f, 3.0f, 7.0f, 15.0f, 30.0f};
  return std::find(std::begin(kTable), std::end(kTable), backoff) != std::end(kTable);
}

// Collects violations; prints the first few in full.
class Checks {
 public:
  void Expect(bool holds, int broadcast, const std::string& what) {
    if (holds) return;
    if (++violations_ <= 20) std::printf("VIOLATION at broadcast %d: %s\n", broadcast, what.c_str());
  }
  int Violations() const { return violations_; }

 private:
  int violations_ = 0;
};

struct HeapSample {
  int broadcasts;
  size_t heapInUse;
  long residentKiB;
};

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

struct Tallies {
  std::map<std::string, int> faults;
  std::map<std::string, int> verdicts;
  int started = 0;
  int notStarted = 0;
  int judgedSuccess = 0;
  int retriedAfterClose = 0;
  int backoffGateChecks = 0;
  int peakFailures = 0;
  std::set<float> backoffsSeen;
};

class Soak {
 public:
  Soak(int broadcasts, tralix::dev::DevService& service) : broadcasts_(broadcasts), service_(service) {}

  void Run() {
    const std::vector<FaultKind> rotation = Rotation();
    const std::vector<FaultKind> burst = BurstKinds();
    size_t next = 0;
    for (int i = 0; i < broadcasts_; ++i) {
      const bool inBurst = i % kBurstEvery >= kBurstOffset && i % kBurstEvery < kBurstOffset + kBurstLength;
      const FaultKind* fault = nullptr;
      if (inBurst) {
        fault = &burst[static_cast<size_t>(i) % burst.size()];
      } else if (i % kFaultEvery == kFaultEvery - 1) {
        fault = &rotation[next++ % rotation.size()];
      }
      OneBroadcast(i + 1, fault);
      if ((i + 1) % 1000 == 0) SampleHeap(i + 1);
    }
  }

  void Finish() {
    ShutdownNetwork();
    checks_.Expect(CFStandInLiveObjectCount() == 0, broadcasts_, "objects alive after ShutdownNetwork: " + Live());
    CFStandInShutdownTransport();
    checks_.Expect(CFStandInLiveObjectCount() == 0, broadcasts_, "objects alive after the transport stopped");
  }

  void Report(double seconds) const;
  int Violations() const { return checks_.Violations(); }

 private:
  void OneBroadcast(int number, const FaultKind* fault);
  void CheckBackoffHolds(int number);
  void CheckLiveObjects(int number, bool completed);
  Effect ServiceOutcome(int number);
  void CheckLog(int number, bool started);
  void SampleHeap(int number);
  static std::string Live() {
    char text[256];
    CFStandInDescribeLiveObjects(text, sizeof(text));
    return text;
  }

  int broadcasts_;
  tralix::dev::DevService& service_;
  Checks checks_;
  Tallies tallies_;
  std::vector<HeapSample> heap_;
  int expectedFailures_ = 0;
};

void Soak::OneBroadcast(int number, const FaultKind* fault) {
  CheckBackoffHolds(number);
  if (fault) {
    ++tallies_.faults[fault->name];
    if (fault->failingOperation) CFStandInFailNextCalls(fault->failingOperation, 1);
    if (fault->serviceFault) service_.AddFault(fault->fault);
  }
  fl::MoveClockToNextSend();
  fl::RunFlightLoop();
  const bool started = gNetworkBusy != 0;
  if (started) {
    ++tallies_.started;
    checks_.Expect(fl::CompleteRequest(kCompletionTimeoutSeconds), number, "no completion");
  } else {
    ++tallies_.notStarted;
  }
  if (fault && fault->failingOperation)
    checks_.Expect(CFStandInPendingFailures(fault->failingOperation) == 0, number,
                   std::string("the injected failure of ") + fault->failingOperation + " was not reached");
  CFStandInClearFailures();
  service_.ClearFaults();

  Effect effect = fault ? fault->effect : Effect::FromService;
  const Effect answered = ServiceOutcome(number);
  if (effect == Effect::FromService) effect = started ? answered : Effect::Unchanged;
  if (effect == Effect::Reset) expectedFailures_ = 0;
  if (effect == Effect::AddOne) ++expectedFailures_;
  if (expectedFailures_ == 0 && started) ++tallies_.judgedSuccess;

  checks_.Expect(gConsecutiveFailures == expectedFailures_, number,
                 "failures " + std::to_string(gConsecutiveFailures) + ", expected " + std::to_string(expectedFailures_) +
                     (fault ? std::string(" after: ") + fault->name : std::string(" after a clean broadcast")));
  checks_.Expect(IsTableValue(gBackoffTime), number, "back-off " + std::to_string(gBackoffTime) + " is not in the table");
  checks_.Expect(gBackoffTime == BackoffFor(gConsecutiveFailures), number,
                 "back-off " + std::to_string(gBackoffTime) + " for " + std::to_string(gConsecutiveFailures) + " failures");
  tallies_.peakFailures = std::max(tallies_.peakFailures, gConsecutiveFailures);
  tallies_.backoffsSeen.insert(gBackoffTime);
  CheckLiveObjects(number, started);
  CheckLog(number, started);
}

// Just before the back-off has elapsed, the flight loop must send nothing.
void Soak::CheckBackoffHolds(int number) {
  if (gBackoffTime <= 0.0f) return;
  const double shutUntil = static_cast<double>(gLastSendTime) + static_cast<double>(gBackoffTime) + 1.0;
  const double probe = shutUntil - 0.25;
  if (probe <= xphost::ElapsedTime()) return;
  xphost::SetElapsedTime(probe);
  const long requestsBefore = CFStandInRequestsStarted();
  fl::RunFlightLoop();
  ++tallies_.backoffGateChecks;
  checks_.Expect(gNetworkBusy == 0 && CFStandInRequestsStarted() == requestsBefore, number,
                 "a broadcast started before the back-off elapsed");
}

// What the service did with this broadcast's requests, as the failure count
// must see it; records are dropped afterwards so they cannot pile up.
Effect Soak::ServiceOutcome(int number) {
  const std::vector<tralix::dev::RecordedRequest> requests = service_.Requests();
  service_.ClearRequests();
  bool dropped = false;
  for (const tralix::dev::RecordedRequest& request : requests) {
    ++tallies_.verdicts[request.verdict];
    checks_.Expect(!request.malformed, number, "the service received a malformed body: " + request.body);
    if (request.verdict == "dropped") dropped = true;
  }
  if (requests.empty()) return Effect::AddOne;  // the request never reached the service
  const tralix::dev::RecordedRequest& last = requests.back();
  if (dropped && last.verdict == "ok") ++tallies_.retriedAfterClose;
  if (last.verdict == "dropped") return Effect::AddOne;
  return last.status >= 200 && last.status <= 299 ? Effect::Reset : Effect::AddOne;
}

void Soak::CheckLiveObjects(int number, bool completed) {
  if (completed) {
    checks_.Expect(CFStandInLiveObjectCount() == kKeptObjects, number,
                   "after a completion, alive: " + Live() + " (expected the five kept objects)");
    return;
  }
  const bool onlyKeptKindsAlive = CFStandInLiveObjectCountOfKind("CFReadStream") == 0 &&
                                    CFStandInLiveObjectCountOfKind("CFData") == 0 &&
                                    CFStandInLiveObjectCountOfKind("CFNumber") == 0;
  checks_.Expect(onlyKeptKindsAlive && CFStandInLiveObjectCount() <= kKeptObjects, number,
                 "after a request that did not start, alive: " + Live());
}

void Soak::CheckLog(int number, bool started) {
  const std::vector<std::string> lines = xphost::LogLines();
  xphost::ClearLog();
  const char* const expectedLine =
      started ? "Tralix - Successfully sent aircraft data" : "Tralix - Failed to send aircraft data";
  checks_.Expect(std::find(lines.begin(), lines.end(), expectedLine) != lines.end(), number,
                 std::string("the flight loop did not log \"") + expectedLine + "\"");
  for (const std::string& line : lines)
    checks_.Expect(line.find("Too many requests in flight") == std::string::npos &&
                       line.find("too large for its buffer") == std::string::npos,
                   number, "logged: " + line);
}

// The median of a few readings: a service thread that is just closing a
// connection moves a single reading by tens of kilobytes.
size_t HeapInUse() {
  if (!kHeapIsMeasurable) return 0;
  std::vector<size_t> readings;
  for (int i = 0; i < kHeapReadings; ++i) {
    if (i > 0) std::this_thread::sleep_for(2ms);
    readings.push_back(mallinfo2().uordblks);
  }
  std::sort(readings.begin(), readings.end());
  return readings[readings.size() / 2];
}

void Soak::SampleHeap(int number) {
  const size_t inUse = HeapInUse();
  heap_.push_back({number, inUse, ResidentKiB()});
  if (!kHeapIsMeasurable || heap_.size() < 2) return;
  const long growth = static_cast<long>(inUse) - static_cast<long>(heap_.front().heapInUse);
  checks_.Expect(growth < kHeapGrowthLimitBytes, number,
                 "heap in use grew by " + std::to_string(growth) + " bytes since broadcast " +
                     std::to_string(heap_.front().broadcasts));
}

void Soak::Report(double seconds) const {
  std::printf("\nsoak: %d broadcasts in %.1f s (%.2f ms each)\n", broadcasts_, seconds, 1000.0 * seconds / broadcasts_);
  std::printf("  started %d (judged a success %d), not started %d\n", tallies_.started, tallies_.judgedSuccess,
              tallies_.notStarted);
  std::printf("  faults injected:\n");
  for (const auto& [name, count] : tallies_.faults) std::printf("    %-44s %6d\n", name.c_str(), count);
  std::printf("  service verdicts:");
  for (const auto& [verdict, count] : tallies_.verdicts) std::printf(" %s %d", verdict.c_str(), count);
  std::printf("\n  closes without answer answered on the transport's retry: %d\n", tallies_.retriedAfterClose);
  std::printf("  connections opened: %ld, requests started: %ld\n", CFStandInConnectionsOpened(),
              CFStandInRequestsStarted());
  std::printf("  consecutive failures peaked at %d; back-off values seen:", tallies_.peakFailures);
  for (float backoff : tallies_.backoffsSeen) std::printf(" %g", static_cast<double>(backoff));
  std::printf("\n  back-off gate probed %d times just before it opened\n", tallies_.backoffGateChecks);
  std::printf("  heap in use%s and resident set, every 1,000 broadcasts:\n",
              kHeapIsMeasurable ? " (mallinfo2)" : " (not measured under the sanitizer)");
  for (const HeapSample& sample : heap_)
    std::printf("    %6d  %10zu bytes  %8ld KiB\n", sample.broadcasts, sample.heapInUse, sample.residentKiB);
  std::printf("result: %s (%d violations)\n", checks_.Violations() == 0 ? "PASS" : "FAIL", checks_.Violations());
}

int BroadcastsOption(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--broadcasts") == 0) return std::max(1, std::atoi(argv[i + 1]));
  return kDefaultBroadcasts;
}

}  // namespace

int main(int argc, char** argv) {
  fl::EnterSandbox(argc, argv);
  const int broadcasts = BroadcastsOption(argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  fl::SetUpPlugin();
  xphost::ClearLog();
  auto service = fl::StartService();

  const auto begin = Clock::now();
  Soak soak(broadcasts, *service);
  soak.Run();
  soak.Finish();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  service->Stop();
  soak.Report(seconds);
  curl_global_cleanup();
  return soak.Violations() == 0 ? 0 : 1;
}
