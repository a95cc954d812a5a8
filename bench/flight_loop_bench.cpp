// What one broadcast costs the simulator's main thread: the flight-loop call
// that sends (TralixMainLoopCallback with the gates passing and a token set)
// and the run-loop pump passes that deliver its completion, with the service
// healthy, answering 500, never answering, and unreachable; beside it, a
// blocking client that makes the same HTTPS POST synchronously in the flight
// loop, with a new libcurl handle per call and with one kept handle. All in one
// run, so the ratios compare like with like.
//
// A percentile harness times every call (p50, p99, max); Google Benchmark then
// times the two steady sub-microsecond cases (a gate-skipped call, a pump pass
// with nothing scheduled), where a per-call clock reading would distort them.
//
// Runs inside tools/sandbox/tralix-sandbox, re-starting itself there when
// needed: api.tralix.net is the in-process service stand-in on 127.0.0.1:443.
#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "XPHostControl.h"
#include "flight_loop_support.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace fl = flight_loop_bench;
using Clock = std::chrono::steady_clock;

constexpr double kFrameBudgetMicros = 1e6 / 60.0;
constexpr double kCompletionTimeoutSeconds = 15.0;
constexpr double kBroadcastBoundSeconds = 5.0;
// The plug-in waits this long for a silent server; a script would too.
constexpr long kBlockingTimeoutMilliseconds = 5000;
constexpr char kBroadcastUrl[] = "https://api.tralix.net/api/v1/data/client/broadcast";

struct Options {
  int sends = 500;           // plug-in broadcasts, and blocking POSTs on a kept handle, per case
  int newHandleSends = 100;  // blocking POSTs with a new handle (a TLS handshake each), per case
  int timeouts = 2;          // waits for a real 5-second bound, per client, with a silent service
};

class Samples {
 public:
  void Add(Clock::duration spent) { micros_.push_back(std::chrono::duration<double, std::micro>(spent).count()); }
  size_t Count() const { return micros_.size(); }
  // Nearest rank.
  double Percentile(double fraction) const {
    if (micros_.empty()) return 0.0;
    std::vector<double> sorted = micros_;
    std::sort(sorted.begin(), sorted.end());
    size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
  }
  double Max() const { return micros_.empty() ? 0.0 : *std::max_element(micros_.begin(), micros_.end()); }

 private:
  std::vector<double> micros_;
};

template <typename Call>
Clock::duration Timed(Call&& call) {
  const auto begin = Clock::now();
  call();
  return Clock::now() - begin;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "flight_loop_bench: %s\n", what.c_str());
  std::exit(1);
}

// ---- the plug-in -------------------------------------------------------------

struct PluginFigures {
  Samples sendingCall;     // the flight-loop call that started the broadcast
  // The sending calls that ran undisturbed, and how often the scheduler took
  // the core away (involuntary switch), the call waited (voluntary switch) or
  // it touched memory the kernel had to map first (page fault).
  Samples sendingCallUndisturbed;
  int sendingCallsPreempted = 0;
  int sendingCallsThatWaited = 0;
  int sendingCallsPageFaulted = 0;
  Samples completionPass;  // the pump pass that judged the answer and released the stream
  Samples otherPasses;     // pump passes while the request was in flight
  Samples wholeBroadcast;  // the sending call and every pump pass of one broadcast
};

enum class Expect { Success, Failure };

// One pump pass, filed by whether it delivered the completion.
Clock::duration TimedPumpPass(PluginFigures& figures) {
  const Clock::duration pass = Timed(fl::RunPumpPass);
  (gNetworkBusy ? figures.otherPasses : figures.completionPass).Add(pass);
  return pass;
}

// The plug-in's own bound (CFNetwork keeps none): the clock moved on with the
// wall clock, as X-Plane's does, and the first flight-loop call past the bound
// ends the broadcast. Timed as the completion.
Clock::duration TimedBoundCheck(PluginFigures& figures, double sentAt, Clock::time_point sentWall) {
  xphost::SetElapsedTime(sentAt + std::chrono::duration<double>(Clock::now() - sentWall).count());
  const Clock::duration check = Timed(EndOverdueRequests);
  if (!gNetworkBusy) figures.completionPass.Add(check);
  return check;
}

// One broadcast as the simulator makes it: the flight-loop call at the moment
// the gates open, the next frame's pump pass, and (when waiting) the passes
// until the completion. Without waiting, the stream is dropped as unloading
// drops it, so the next broadcast can start at once.
void OneBroadcast(PluginFigures& figures, bool waitForCompletion, Expect expect) {
  fl::MoveClockToNextSend();
  rusage before{};
  rusage after{};
  getrusage(RUSAGE_THREAD, &before);
  Clock::duration whole = Timed(fl::RunFlightLoop);
  getrusage(RUSAGE_THREAD, &after);
  if (!gNetworkBusy) Fail("the flight loop did not start a broadcast");
  figures.sendingCall.Add(whole);
  if (after.ru_nivcsw != before.ru_nivcsw) {
    ++figures.sendingCallsPreempted;
  } else if (after.ru_nvcsw != before.ru_nvcsw) {
    ++figures.sendingCallsThatWaited;
  } else if (after.ru_minflt != before.ru_minflt || after.ru_majflt != before.ru_majflt) {
    ++figures.sendingCallsPageFaulted;
  } else {
    figures.sendingCallUndisturbed.Add(whole);
  }
  whole += TimedPumpPass(figures);
  if (!waitForCompletion) {
    figures.wholeBroadcast.Add(whole);
    ShutdownNetwork();
    gNetworkBusy = 0;
    return;
  }
  const double sentAt = xphost::ElapsedTime();
  const auto sentWall = Clock::now();
  const auto bound = sentWall + std::chrono::duration<double>(kBroadcastBoundSeconds);
  const auto deadline = Clock::now() + std::chrono::duration<double>(kCompletionTimeoutSeconds);
  while (gNetworkBusy) {
    if (Clock::now() > deadline) Fail("a broadcast was never completed");
    CFStandInWaitForTransportIdle(std::chrono::duration<double>(bound - Clock::now()).count() + 0.001);
    whole += TimedPumpPass(figures);
    if (gNetworkBusy && Clock::now() >= bound) whole += TimedBoundCheck(figures, sentAt, sentWall);
  }
  figures.wholeBroadcast.Add(whole);
  if ((gConsecutiveFailures == 0) != (expect == Expect::Success))
    Fail("a broadcast ended otherwise than this case expects");
}

// ---- the blocking client -----------------------------------------------------

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// The same POST (URL, headers, body, verified TLS) made synchronously.
class BlockingClient {
 public:
  explicit BlockingClient(std::string body) : body_(std::move(body)) {
    headers_ = curl_slist_append(headers_, "Content-Type: application/json");
    headers_ = curl_slist_append(headers_, (std::string("datakeytoken: ") + fl::kDataToken).c_str());
    kept_ = curl_easy_init();
  }
  ~BlockingClient() {
    curl_easy_cleanup(kept_);
    curl_slist_free_all(headers_);
  }
  BlockingClient(const BlockingClient&) = delete;
  BlockingClient& operator=(const BlockingClient&) = delete;

  // The HTTP status, or minus the libcurl error.
  long PostOnKeptHandle(Clock::duration* spent) {
    long result = 0;
    *spent = Timed([&] { result = Perform(kept_); });
    return result;
  }
  long PostOnNewHandle(Clock::duration* spent) {
    long result = 0;
    *spent = Timed([&] {
      CURL* fresh = curl_easy_init();
      result = Perform(fresh);
      curl_easy_cleanup(fresh);
    });
    return result;
  }

 private:
  long Perform(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_URL, kBroadcastUrl);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body_.c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body_.size()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kBlockingTimeoutMilliseconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DiscardBody);
    const CURLcode code = curl_easy_perform(easy);
    if (code != CURLE_OK) return -static_cast<long>(code);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }

  std::string body_;
  curl_slist* headers_ = nullptr;
  CURL* kept_ = nullptr;
};

void MeasureBlocking(BlockingClient& client, bool newHandle, int count, long expected, Samples& samples) {
  for (int i = 0; i < count; ++i) {
    Clock::duration spent{};
    const long result = newHandle ? client.PostOnNewHandle(&spent) : client.PostOnKeptHandle(&spent);
    if (result != expected)
      Fail("blocking POST gave " + std::to_string(result) + ", expected " + std::to_string(expected));
    samples.Add(spent);
  }
}

// ---- cases and the table -------------------------------------------------------

struct CaseFigures {
  const char* name;
  PluginFigures plugin;
  Samples blockingKept;
  Samples blockingNew;
};

struct CaseSetting {
  int waitedSends;     // broadcasts followed to their completion
  int droppedSends;    // broadcasts dropped after their first pump pass
  int blockingSends;   // each for the kept and for a new handle
  int blockingNewSends;
  Expect expect;
  long blockingExpected;  // HTTP status, or minus the libcurl error
};

void MeasureCase(CaseFigures& figures, const CaseSetting& setting, BlockingClient& client) {
  std::printf("measuring: %s\n", figures.name);
  std::fflush(stdout);
  for (int i = 0; i < setting.droppedSends; ++i) OneBroadcast(figures.plugin, false, setting.expect);
  for (int i = 0; i < setting.waitedSends; ++i) OneBroadcast(figures.plugin, true, setting.expect);
  MeasureBlocking(client, false, setting.blockingSends, setting.blockingExpected, figures.blockingKept);
  MeasureBlocking(client, true, setting.blockingNewSends, setting.blockingExpected, figures.blockingNew);
}

std::string Ratio(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), value < 10.0 ? "%.1fx" : "%.0fx", value);
  return text;
}

// base: the plug-in's figures the blocking client is compared with.
void PrintRow(const char* caseName, const char* what, const Samples& samples, const PluginFigures* base) {
  if (samples.Count() == 0) return;
  const double p50 = samples.Percentile(0.50);
  const double maximum = samples.Max();
  std::string ratios;
  if (base) {
    ratios = Ratio(p50 / base->sendingCall.Percentile(0.50)) + " " + Ratio(p50 / base->wholeBroadcast.Percentile(0.50)) +
             " " + Ratio(maximum / base->wholeBroadcast.Max());
  }
  std::printf("%-13s %-30s %6zu %11.2f %11.2f %11.2f %9.2f%%  %s\n", caseName, what, samples.Count(), p50,
              samples.Percentile(0.99), maximum, 100.0 * maximum / kFrameBudgetMicros, ratios.c_str());
}

void PrintTable(const Samples& gateSkipped, const std::vector<CaseFigures>& cases) {
  std::printf("\nMain-thread time per call in microseconds; frame budget at 60 fps: %.0f us.\n", kFrameBudgetMicros);
  std::printf("Ratios of a blocking POST: its p50 over the plug-in's sending-call p50, its p50 over the\n"
              "plug-in's whole-broadcast p50 (sending call and pump passes), its max over that max.\n\n");
  std::printf("%-13s %-30s %6s %11s %11s %11s %10s  %s\n", "case", "call", "n", "p50", "p99", "max", "max/frame",
              "ratios: p50/call p50/whole max/whole");
  PrintRow("any", "plug-in loop, gate shut", gateSkipped, nullptr);
  for (const CaseFigures& figures : cases) {
    PrintRow(figures.name, "plug-in loop, sending", figures.plugin.sendingCall, nullptr);
    PrintRow(figures.name, "  the same, undisturbed", figures.plugin.sendingCallUndisturbed, nullptr);
    PrintRow(figures.name, "plug-in pump, completion", figures.plugin.completionPass, nullptr);
    PrintRow(figures.name, "plug-in pump, in flight", figures.plugin.otherPasses, nullptr);
    PrintRow(figures.name, "plug-in whole broadcast", figures.plugin.wholeBroadcast, nullptr);
    PrintRow(figures.name, "blocking POST, kept handle", figures.blockingKept, &figures.plugin);
    PrintRow(figures.name, "blocking POST, new handle", figures.blockingNew, &figures.plugin);
  }
  std::printf("\nSending calls disturbed: the scheduler switched the thread out (involuntary), the call\n"
              "waited (voluntary switch), or it took a page fault; the others are \"undisturbed\":\n");
  for (const CaseFigures& figures : cases)
    std::printf("  %-13s of %3zu: %3d switched out, %3d waited, %3d page-faulted\n", figures.name,
                figures.plugin.sendingCall.Count(), figures.plugin.sendingCallsPreempted,
                figures.plugin.sendingCallsThatWaited, figures.plugin.sendingCallsPageFaulted);
  std::printf("\n");
}

Options ParseOptions(int* argc, char** argv) {
  Options options;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    int* target = nullptr;
    if (std::strcmp(argv[i], "--sends") == 0) target = &options.sends;
    if (std::strcmp(argv[i], "--new-handle-sends") == 0) target = &options.newHandleSends;
    if (std::strcmp(argv[i], "--timeouts") == 0) target = &options.timeouts;
    if (target && i + 1 < *argc) {
      *target = std::max(0, std::atoi(argv[++i]));
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  return options;
}

std::string BodyTheServiceReceived(const tralix::dev::DevService& service) {
  const std::vector<tralix::dev::RecordedRequest> requests = service.Requests();
  if (requests.empty() || requests.front().verdict != "ok") Fail("the warm-up broadcast was not accepted");
  return requests.front().body;
}

// ---- Google Benchmark: the steady sub-microsecond calls ------------------------

void BM_FlightLoopCallWithGateShut(benchmark::State& state) {
  gNetworkBusy = 1;
  for (auto _ : state) benchmark::DoNotOptimize(fl::RunFlightLoop());
  gNetworkBusy = 0;
}
BENCHMARK(BM_FlightLoopCallWithGateShut);

void BM_PumpPassWithNothingScheduled(benchmark::State& state) {
  for (auto _ : state) fl::RunPumpPass();
}
BENCHMARK(BM_PumpPassWithNothingScheduled);

}  // namespace

int main(int argc, char** argv) {
  fl::EnterSandbox(argc, argv);
  const Options options = ParseOptions(&argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  fl::SetUpPlugin();
  auto service = fl::StartService();

  PluginFigures warmUp;  // worker start, first handshake, time-zone load
  for (int i = 0; i < 20; ++i) OneBroadcast(warmUp, true, Expect::Success);
  BlockingClient client(BodyTheServiceReceived(*service));
  Clock::duration unused{};
  if (client.PostOnKeptHandle(&unused) != 200) Fail("the blocking client's first POST failed");

  Samples gateSkipped;
  gNetworkBusy = 1;
  for (int i = 0; i < 10000; ++i) gateSkipped.Add(Timed(fl::RunFlightLoop));
  gNetworkBusy = 0;

  std::vector<CaseFigures> cases = {{"healthy", {}, {}, {}},
                                    {"answers 500", {}, {}, {}},
                                    {"never answers", {}, {}, {}},
                                    {"unreachable", {}, {}, {}}};
  const int sends = options.sends;
  const int newSends = options.newHandleSends;
  MeasureCase(cases[0], {sends, 0, sends, newSends, Expect::Success, 200}, client);

  tralix::dev::Fault serverError;
  serverError.count = -1;
  serverError.status = 500;
  service->AddFault(serverError);
  MeasureCase(cases[1], {sends, 0, sends, newSends, Expect::Failure, 500}, client);

  service->ClearFaults();
  tralix::dev::Fault silence;
  silence.count = -1;
  silence.delay = std::chrono::minutes(30);
  service->AddFault(silence);
  const int timeouts = options.timeouts;
  MeasureCase(cases[2], {timeouts, sends / 2, timeouts, timeouts, Expect::Failure, -CURLE_OPERATION_TIMEDOUT},
              client);

  service->Stop();  // nothing listens on 443 any more
  MeasureCase(cases[3], {sends, 0, sends, newSends, Expect::Failure, -CURLE_COULDNT_CONNECT}, client);
  ShutdownNetwork();
  gNetworkBusy = 0;

  PrintTable(gateSkipped, cases);
  std::fflush(stdout);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CFStandInShutdownTransport();
  curl_global_cleanup();
  return 0;
}
