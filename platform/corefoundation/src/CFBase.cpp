// Object lifetime (reference counts, the live-object registry, freeing at
// unload), CFEqual and type IDs, and the test-only counters and fault injection.
#include "Internal.h"
#include "Transport.h"

#include "../testing/CFStandInTesting.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace cfstandin {
namespace {

std::mutex gRegistryMutex;
Object *gFirstLive = nullptr;
std::array<std::atomic<long>, static_cast<size_t>(Kind::Count)> gLiveByKind{};
std::atomic<bool> gUnloading{false};

constexpr std::array<const char *, static_cast<size_t>(Kind::Count)> kKindNames = {
    "CFString", "CFURL", "CFData", "CFNumber", "CFBoolean", "CFHTTPMessage", "CFReadStream", "CFRunLoop"};

std::mutex gFaultMutex;
std::map<std::string, int> gPendingFaults;
std::atomic<int> gPendingFaultTotal{0};

constexpr std::array<const char *, 10> kFailableOperations = {
    "CFStringCreateWithCString", "CFURLCreateWithString", "CFHTTPMessageCreateRequest",
    "CFDataCreate", "CFNumberCreate", "CFReadStreamCreateForHTTPRequest",
    "CFReadStreamSetProperty", "CFReadStreamSetClient", "CFReadStreamOpen", "CFReadStreamCopyProperty"};

bool IsFailable(const char *operation) {
  for (const char *name : kFailableOperations) {
    if (std::strcmp(name, operation) == 0) return true;
  }
  return false;
}

// Frees every object still alive when the library goes away (the plug-in is
// unloaded or the process ends), after the network worker has stopped, so that
// nothing the library allocated outlives its code. Releases that arrive later,
// from other static destructors, are ignored.
void FreeEverything() {
  std::vector<Object *> objects;
  {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gUnloading = true;
    for (Object *object = gFirstLive; object != nullptr; object = object->nextLive) objects.push_back(object);
    gFirstLive = nullptr;
  }
  for (Object *object : objects) delete object;
  ForgetConstantStrings();
  ForgetRunLoops();
}

// The worker is stopped by its user (CFStandInShutdownTransport), never here:
// on Windows this runs under the loader lock, where a join never returns. A
// worker still running may yet touch streams and run loops, so then nothing is
// freed.
struct UnloadGuard {
  UnloadGuard() = default;
  UnloadGuard(const UnloadGuard &) = delete;
  UnloadGuard &operator=(const UnloadGuard &) = delete;
  ~UnloadGuard() {
    if (!ReleaseStoppedTransport()) return;
    FreeEverything();
  }
};
UnloadGuard gUnloadGuard;

}  // namespace

const char *KindName(Kind kind) { return kKindNames[static_cast<size_t>(kind)]; }

bool LibraryUnloading() { return gUnloading.load(std::memory_order_relaxed); }

Object::Object(Kind objectKind, bool isPermanent) : kind(objectKind), permanent(isPermanent) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  nextLive = gFirstLive;
  if (gFirstLive != nullptr) gFirstLive->previousLive = this;
  gFirstLive = this;
  if (!permanent) ++gLiveByKind[static_cast<size_t>(kind)];
}

Object::~Object() {
  if (!permanent) --gLiveByKind[static_cast<size_t>(kind)];
  if (LibraryUnloading()) return;
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  if (previousLive != nullptr) previousLive->nextLive = nextLive;
  else gFirstLive = nextLive;
  if (nextLive != nullptr) nextLive->previousLive = previousLive;
}

bool RetainIfAlive(Object *object) {
  if (object->permanent) return true;
  long count = object->references.load();
  while (count > 0) {
    if (object->references.compare_exchange_weak(count, count + 1)) return true;
  }
  return false;
}

void ContractViolation(const char *operation, const char *what) {
  std::fprintf(stderr, "CoreFoundation stand-in: %s called with %s\n", operation, what);
  std::abort();
}

bool InjectedFailure(const char *operation) {
  if (gPendingFaultTotal.load(std::memory_order_relaxed) == 0) return false;
  std::lock_guard<std::mutex> lock(gFaultMutex);
  auto found = gPendingFaults.find(operation);
  if (found == gPendingFaults.end() || found->second == 0) return false;
  --found->second;
  --gPendingFaultTotal;
  return true;
}

}  // namespace cfstandin

using namespace cfstandin;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFAllocatorRef kCFAllocatorSystemDefault = nullptr;

CFTypeRef CFRetain(CFTypeRef cf) {
  if (LibraryUnloading()) return cf;
  if (cf == nullptr) ContractViolation("CFRetain", "NULL");
  auto *object = static_cast<Object *>(const_cast<void *>(cf));
  if (!object->permanent) object->references.fetch_add(1, std::memory_order_relaxed);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (LibraryUnloading()) return;
  if (cf == nullptr) ContractViolation("CFRelease", "NULL");
  auto *object = static_cast<Object *>(const_cast<void *>(cf));
  if (object->permanent) return;
  long before = object->references.fetch_sub(1, std::memory_order_acq_rel);
  if (before <= 0) ContractViolation("CFRelease", "an object already freed");
  if (before == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  if (cf == nullptr) ContractViolation("CFGetRetainCount", "NULL");
  const auto *object = static_cast<const Object *>(cf);
  return object->permanent ? LONG_MAX : object->references.load();
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  if (cf1 == nullptr || cf2 == nullptr) ContractViolation("CFEqual", "NULL");
  return static_cast<const Object *>(cf1)->Equals(*static_cast<const Object *>(cf2));
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  if (cf == nullptr) ContractViolation("CFGetTypeID", "NULL");
  return static_cast<CFTypeID>(static_cast<const Object *>(cf)->kind) + 1;
}

CFTypeID CFStringGetTypeID(void) { return static_cast<CFTypeID>(Kind::String) + 1; }
CFTypeID CFURLGetTypeID(void) { return static_cast<CFTypeID>(Kind::URL) + 1; }
CFTypeID CFDataGetTypeID(void) { return static_cast<CFTypeID>(Kind::Data) + 1; }
CFTypeID CFNumberGetTypeID(void) { return static_cast<CFTypeID>(Kind::Number) + 1; }
CFTypeID CFBooleanGetTypeID(void) { return static_cast<CFTypeID>(Kind::Boolean) + 1; }
CFTypeID CFHTTPMessageGetTypeID(void) { return static_cast<CFTypeID>(Kind::HTTPMessage) + 1; }
CFTypeID CFReadStreamGetTypeID(void) { return static_cast<CFTypeID>(Kind::ReadStream) + 1; }
CFTypeID CFRunLoopGetTypeID(void) { return static_cast<CFTypeID>(Kind::RunLoop) + 1; }

// ---- Test controls ----

long CFStandInLiveObjectCount(void) {
  long total = 0;
  for (const auto &count : gLiveByKind) total += count.load();
  return total;
}

long CFStandInLiveObjectCountOfKind(const char *kind) {
  if (kind == nullptr) return -1;
  for (size_t index = 0; index < kKindNames.size(); ++index) {
    if (std::strcmp(kKindNames[index], kind) == 0) return gLiveByKind[index].load();
  }
  return -1;
}

void CFStandInDescribeLiveObjects(char *buffer, size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return;
  std::string text;
  for (size_t index = 0; index < kKindNames.size(); ++index) {
    long count = gLiveByKind[index].load();
    if (count == 0) continue;
    if (!text.empty()) text += ' ';
    text += kKindNames[index];
    text += '=';
    text += std::to_string(count);
  }
  std::snprintf(buffer, bufferSize, "%s", text.c_str());
}

int CFStandInFailNextCalls(const char *operation, int count) {
  if (operation == nullptr || count < 0 || !IsFailable(operation)) return 0;
  std::lock_guard<std::mutex> lock(gFaultMutex);
  int &pending = gPendingFaults[operation];
  gPendingFaultTotal += count - pending;
  pending = count;
  return 1;
}

int CFStandInPendingFailures(const char *operation) {
  if (operation == nullptr) return 0;
  std::lock_guard<std::mutex> lock(gFaultMutex);
  auto found = gPendingFaults.find(operation);
  return found == gPendingFaults.end() ? 0 : found->second;
}

void CFStandInClearFailures(void) {
  std::lock_guard<std::mutex> lock(gFaultMutex);
  gPendingFaults.clear();
  gPendingFaultTotal = 0;
}

}  // extern "C"
