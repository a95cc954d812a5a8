// Heap allocations per flight-loop call on the simulator's main thread, and
// whose they are: cycles that the gates turn away, cycles that send (parked and
// airborne, where the landing detector samples), and the run-loop pump passes
// that deliver the completions. The plug-in's own code must allocate nothing;
// the rest must come from the CF stand-in's request objects (on Apple, from
// CFNetwork) or from the host. Exits 1 when the plug-in's own code allocated,
// or a cycle that the gates turned away allocated at all.
//
// Runs inside tools/sandbox/tralix-sandbox against the service stand-in,
// re-starting itself there when needed. Sanitizer builds skip it.
#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "flight_loop_alloc_hooks.h"
#include "flight_loop_support.h"

#include <CoreFoundation/CoreFoundation.h>
#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace fl = flight_loop_bench;
constexpr double kCompletionTimeoutSeconds = 15.0;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "flight_loop_alloc_bench: %s\n", what);
  std::exit(1);
}

struct Row {
  std::string what;
  int calls = 0;
  alloc_hooks::Tally tally;
  std::vector<long> byOperation;
};

Row Collect(const std::string& what, int calls) {
  Row row{what, calls, alloc_hooks::Counted(), {}};
  for (int i = 0; i < alloc_hooks::OperationCount(); ++i) row.byOperation.push_back(alloc_hooks::OperationAllocations(i));
  alloc_hooks::Reset();
  return row;
}

void FlightLoopCall() { fl::RunFlightLoop(); }

void CountedFlightLoopCall() {
  alloc_hooks::StartCounting();
  fl::RunFlightLoop();
  alloc_hooks::StopCounting();
}

void CountedPumpPass() {
  alloc_hooks::StartCounting();
  fl::RunPumpPass();
  alloc_hooks::StopCounting();
}

void Complete(void (*pass)()) {
  if (!fl::CompleteRequest(kCompletionTimeoutSeconds, pass)) Fail("a broadcast was never completed");
  if (gConsecutiveFailures != 0) Fail("a broadcast was not accepted");
}

void StartBroadcast(void (*call)()) {
  fl::MoveClockToNextSend();
  call();
  if (!gNetworkBusy) Fail("the flight loop did not start a broadcast");
}

// Sending cycles, then the passes that deliver their completions.
void MeasureSending(const char* state, int cycles, std::vector<Row>& rows) {
  for (int i = 0; i < cycles; ++i) {
    StartBroadcast(CountedFlightLoopCall);
    Complete(fl::RunPumpPass);
  }
  rows.push_back(Collect(std::string("sending, ") + state, cycles));
  for (int i = 0; i < cycles; ++i) {
    StartBroadcast(FlightLoopCall);
    Complete(CountedPumpPass);
  }
  rows.push_back(Collect(std::string("pump passes, per request, ") + state, cycles));
}

// The two gates: the spacing gate right after a completion, the busy gate while
// a request is in flight.
void MeasureGateShut(int cycles, std::vector<Row>& rows) {
  StartBroadcast(FlightLoopCall);
  for (int i = 0; i < cycles; ++i) CountedFlightLoopCall();
  Complete(fl::RunPumpPass);
  rows.push_back(Collect("gate shut, request in flight", cycles));
  for (int i = 0; i < cycles; ++i) CountedFlightLoopCall();
  rows.push_back(Collect("gate shut, too soon", cycles));
}

void PrintRows(const std::vector<Row>& rows) {
  std::printf("\nHeap allocations on the main thread (malloc, calloc, realloc, aligned, operator new)\n\n");
  std::printf("%-38s %6s %8s %9s %13s %8s %13s\n", "calls", "n", "total", "per call", "plug-in's own",
              "in CF", "in host");
  for (const Row& row : rows)
    std::printf("%-38s %6d %8ld %9.2f %13ld %8ld %13ld\n", row.what.c_str(), row.calls, row.tally.Total(),
                static_cast<double>(row.tally.Total()) / row.calls, row.tally.plugin, row.tally.coreFoundation,
                row.tally.host);
  for (const Row& row : rows) {
    if (row.tally.Total() == 0) continue;
    std::printf("\n%s, per call, by the operation that allocated:\n", row.what.c_str());
    for (int i = 0; i < alloc_hooks::OperationCount(); ++i) {
      if (row.byOperation[static_cast<size_t>(i)] == 0) continue;
      std::printf("  %-36s %8.2f\n", alloc_hooks::OperationName(i),
                  static_cast<double>(row.byOperation[static_cast<size_t>(i)]) / row.calls);
    }
  }
  std::printf("\n");
}

// Before any figure is believed: an allocation made outside the wrapped calls
// is charged to the plug-in, one made inside a CF call to the CF stand-in.
bool CounterChargesTheRightOwner() {
  static void* volatile block;  // volatile: the allocation must not be optimised away
  alloc_hooks::Reset();
  alloc_hooks::StartCounting();
  block = std::malloc(32);
  CFStringRef text = CFStringCreateWithCString(nullptr, "a string long enough to need the heap", kCFStringEncodingUTF8);
  alloc_hooks::StopCounting();
  std::free(block);
  CFRelease(text);
  const alloc_hooks::Tally tally = alloc_hooks::Counted();
  alloc_hooks::Reset();
  return tally.plugin == 1 && tally.coreFoundation > 0 && tally.host == 0;
}

int CyclesOption(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--cycles") == 0) return std::max(1, std::atoi(argv[i + 1]));
  return 200;
}

}  // namespace

int main(int argc, char** argv) {
  if (!alloc_hooks::Available()) {
    std::printf("flight_loop_alloc_bench: not counted in a sanitizer build (its allocator cannot be interposed)\n");
    return 0;
  }
  fl::EnterSandbox(argc, argv);
  if (!CounterChargesTheRightOwner()) Fail("the allocation counter is not in place");
  const int cycles = CyclesOption(argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  fl::SetUpPlugin();
  auto service = fl::StartService();

  // First uses allocate once: the worker, the connection, the time zone, the log's room.
  for (int i = 0; i < 20; ++i) {
    StartBroadcast(FlightLoopCall);
    Complete(fl::RunPumpPass);
  }
  alloc_hooks::Reset();

  std::vector<Row> rows;
  MeasureGateShut(cycles, rows);
  MeasureSending("parked", cycles, rows);
  fl::SetGearOnGround(false);  // takeoff: from now on every sending cycle also samples
  MeasureSending("airborne", cycles, rows);

  ShutdownNetwork();
  CFStandInShutdownTransport();
  service->Stop();
  curl_global_cleanup();

  PrintRows(rows);
  long pluginOwn = 0;
  bool gateCyclesAllocated = false;
  for (const Row& row : rows) {
    pluginOwn += row.tally.plugin;
    if (row.what.rfind("gate shut", 0) == 0 && row.tally.Total() != 0) gateCyclesAllocated = true;
  }
  std::printf("plug-in's own allocations: %ld%s\n", pluginOwn, pluginOwn == 0 ? " (as required)" : "  <-- must be 0");
  if (gateCyclesAllocated) std::printf("a cycle turned away by the gates allocated  <-- must not\n");
  return pluginOwn == 0 && !gateCyclesAllocated ? 0 : 1;
}
