#include "flight_loop_alloc_hooks.h"

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include "XPLMDataAccess.h"
#include "XPLMProcessing.h"
#include "XPLMUtilities.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TRALIX_COUNT_ALLOCATIONS 0
#else
#define TRALIX_COUNT_ALLOCATIONS 1
#endif

// The plug-in's calls into the CF stand-in: X(result, name, parameters, arguments).
// CFReadStreamSetClient is wrapped by hand below.
#define TRALIX_CF_OPERATIONS(X)                                                                                    \
  X(CFStringRef, CFStringCreateWithCString, (CFAllocatorRef a, const char* s, CFStringEncoding e), (a, s, e))     \
  X(CFStringRef, __CFStringMakeConstantString, (const char* s), (s))                                               \
  X(CFURLRef, CFURLCreateWithString, (CFAllocatorRef a, CFStringRef s, CFURLRef b), (a, s, b))                    \
  X(CFHTTPMessageRef, CFHTTPMessageCreateRequest, (CFAllocatorRef a, CFStringRef m, CFURLRef u, CFStringRef v),   \
    (a, m, u, v))                                                                                                  \
  X(void, CFHTTPMessageSetHeaderFieldValue, (CFHTTPMessageRef m, CFStringRef f, CFStringRef v), (m, f, v))        \
  X(void, CFHTTPMessageSetBody, (CFHTTPMessageRef m, CFDataRef d), (m, d))                                         \
  X(CFIndex, CFHTTPMessageGetResponseStatusCode, (CFHTTPMessageRef m), (m))                                        \
  X(CFDataRef, CFDataCreate, (CFAllocatorRef a, const UInt8* b, CFIndex n), (a, b, n))                            \
  X(CFNumberRef, CFNumberCreate, (CFAllocatorRef a, CFNumberType t, const void* v), (a, t, v))                    \
  X(CFReadStreamRef, CFReadStreamCreateForHTTPRequest, (CFAllocatorRef a, CFHTTPMessageRef r), (a, r))            \
  X(Boolean, CFReadStreamSetProperty, (CFReadStreamRef s, CFStreamPropertyKey k, CFTypeRef v), (s, k, v))         \
  X(CFTypeRef, CFReadStreamCopyProperty, (CFReadStreamRef s, CFStreamPropertyKey k), (s, k))                      \
  X(void, CFReadStreamScheduleWithRunLoop, (CFReadStreamRef s, CFRunLoopRef l, CFRunLoopMode m), (s, l, m))       \
  X(void, CFReadStreamUnscheduleFromRunLoop, (CFReadStreamRef s, CFRunLoopRef l, CFRunLoopMode m), (s, l, m))     \
  X(Boolean, CFReadStreamOpen, (CFReadStreamRef s), (s))                                                           \
  X(void, CFReadStreamClose, (CFReadStreamRef s), (s))                                                             \
  X(CFIndex, CFReadStreamRead, (CFReadStreamRef s, UInt8* b, CFIndex n), (s, b, n))                               \
  X(CFStreamStatus, CFReadStreamGetStatus, (CFReadStreamRef s), (s))                                               \
  X(CFStreamError, CFReadStreamGetError, (CFReadStreamRef s), (s))                                                 \
  X(void, CFRelease, (CFTypeRef o), (o))                                                                           \
  X(CFRunLoopRef, CFRunLoopGetCurrent, (void), ())                                                                 \
  X(CFRunLoopRunResult, CFRunLoopRunInMode, (CFRunLoopMode m, CFTimeInterval t, Boolean r), (m, t, r))

// The host functions the flight loop calls.
#define TRALIX_HOST_OPERATIONS(X)                                                                       \
  X(void, XPLMDebugString, (const char* s), (s))                                                        \
  X(float, XPLMGetElapsedTime, (void), ())                                                              \
  X(float, XPLMGetDataf, (XPLMDataRef r), (r))                                                          \
  X(int, XPLMGetDatai, (XPLMDataRef r), (r))                                                            \
  X(int, XPLMGetDatab, (XPLMDataRef r, void* v, int o, int n), (r, v, o, n))                           \
  X(int, XPLMGetDatavf, (XPLMDataRef r, float* v, int o, int n), (r, v, o, n))                         \
  X(int, XPLMGetDatavi, (XPLMDataRef r, int* v, int o, int n), (r, v, o, n))

namespace alloc_hooks {
namespace {

#define TRALIX_OPERATION_ID(result, name, parameters, arguments) k_##name,
enum Operation : int {
  TRALIX_CF_OPERATIONS(TRALIX_OPERATION_ID) k_CFReadStreamSetClient,
  TRALIX_HOST_OPERATIONS(TRALIX_OPERATION_ID) kOperationCount
};
#undef TRALIX_OPERATION_ID

#define TRALIX_OPERATION_NAME(result, name, parameters, arguments) #name,
const char* const kOperationNames[kOperationCount] = {
    TRALIX_CF_OPERATIONS(TRALIX_OPERATION_NAME) "CFReadStreamSetClient",
    TRALIX_HOST_OPERATIONS(TRALIX_OPERATION_NAME)};
#undef TRALIX_OPERATION_NAME

constexpr int kNoOperation = -1;

// Plain thread-locals without constructors: safe to touch from inside malloc.
__thread bool tCounting;
__thread Owner tOwner;
__thread int tOperation = kNoOperation;

// Written only by the counting thread.
Tally gTally;
long gByOperation[kOperationCount];

#if TRALIX_COUNT_ALLOCATIONS
void CountAllocation() {
  if (!tCounting) return;
  switch (tOwner) {
    case Owner::Plugin: ++gTally.plugin; break;
    case Owner::CoreFoundation: ++gTally.coreFoundation; break;
    case Owner::Host: ++gTally.host; break;
  }
  if (tOperation != kNoOperation) ++gByOperation[tOperation];
}
#endif

// Charges what happens during its life to `owner`. A call nested in a wrapped
// call stays charged to the outer one; a callback into the plug-in is the
// plug-in's again.
class Charge {
 public:
  Charge(Owner owner, int operation) : savedOwner_(tOwner), savedOperation_(tOperation) {
    if (owner == Owner::Plugin) {
      tOwner = Owner::Plugin;
      tOperation = kNoOperation;
    } else if (tOwner == Owner::Plugin) {
      tOwner = owner;
      tOperation = operation;
    }
  }
  ~Charge() {
    tOwner = savedOwner_;
    tOperation = savedOperation_;
  }
  Charge(const Charge&) = delete;
  Charge& operator=(const Charge&) = delete;

 private:
  Owner savedOwner_;
  int savedOperation_;
};

CFReadStreamClientCallBack gPluginClient = nullptr;

void ChargedClientCallBack(CFReadStreamRef stream, CFStreamEventType type, void* info) {
  Charge charge(Owner::Plugin, kNoOperation);
  gPluginClient(stream, type, info);
}

}  // namespace

bool Available() { return TRALIX_COUNT_ALLOCATIONS != 0; }

void StartCounting() {
  tOwner = Owner::Plugin;
  tOperation = kNoOperation;
  tCounting = true;
}

void StopCounting() { tCounting = false; }

Tally Counted() { return gTally; }

void Reset() {
  gTally = Tally();
  for (long& count : gByOperation) count = 0;
}

int OperationCount() { return kOperationCount; }
const char* OperationName(int index) { return kOperationNames[index]; }
long OperationAllocations(int index) { return gByOperation[index]; }

}  // namespace alloc_hooks

// ---- link-time wrappers ----------------------------------------------------------
using alloc_hooks::Owner;

#define TRALIX_WRAP(owner, result, name, parameters, arguments) \
  extern "C" result __real_##name parameters;                   \
  extern "C" result __wrap_##name parameters {                  \
    alloc_hooks::Charge charge(owner, alloc_hooks::k_##name);   \
    return __real_##name arguments;                             \
  }
#define TRALIX_WRAP_CF(result, name, parameters, arguments) \
  TRALIX_WRAP(Owner::CoreFoundation, result, name, parameters, arguments)
#define TRALIX_WRAP_HOST(result, name, parameters, arguments) TRALIX_WRAP(Owner::Host, result, name, parameters, arguments)

TRALIX_CF_OPERATIONS(TRALIX_WRAP_CF)
TRALIX_HOST_OPERATIONS(TRALIX_WRAP_HOST)

// The stream's client callback runs the plug-in's code inside the run loop: it
// is registered through a stand-in that charges it to the plug-in again.
extern "C" Boolean __real_CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                                CFReadStreamClientCallBack callback, CFStreamClientContext* context);
extern "C" Boolean __wrap_CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags events,
                                                CFReadStreamClientCallBack callback, CFStreamClientContext* context) {
  alloc_hooks::Charge charge(Owner::CoreFoundation, alloc_hooks::k_CFReadStreamSetClient);
  if (callback) {
    alloc_hooks::gPluginClient = callback;
    callback = alloc_hooks::ChargedClientCallBack;
  }
  return __real_CFReadStreamSetClient(stream, events, callback, context);
}

// ---- the allocator, interposed -----------------------------------------------------
#if TRALIX_COUNT_ALLOCATIONS

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) noexcept {
  alloc_hooks::CountAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  alloc_hooks::CountAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
  alloc_hooks::CountAllocation();
  return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) noexcept {
  alloc_hooks::CountAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
  alloc_hooks::CountAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  alloc_hooks::CountAllocation();
  void* pointer = __libc_memalign(alignment, size);
  if (!pointer) return ENOMEM;
  *out = pointer;
  return 0;
}
void free(void* pointer) noexcept { __libc_free(pointer); }
}  // extern "C"

// Every operator new goes through the counted malloc above, once.
namespace {
void* NewOrThrow(std::size_t size) {
  if (void* pointer = std::malloc(size ? size : 1)) return pointer;
  throw std::bad_alloc();
}
void* AlignedNewOrThrow(std::size_t size, std::align_val_t alignment) {
  void* pointer = nullptr;
  if (posix_memalign(&pointer, static_cast<size_t>(alignment), size ? size : 1) == 0) return pointer;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return NewOrThrow(size); }
void* operator new[](std::size_t size) { return NewOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new(std::size_t size, std::align_val_t alignment) { return AlignedNewOrThrow(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AlignedNewOrThrow(size, alignment); }
void operator delete(void* pointer) noexcept { std::free(pointer); }
void operator delete[](void* pointer) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { std::free(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { std::free(pointer); }

#endif
