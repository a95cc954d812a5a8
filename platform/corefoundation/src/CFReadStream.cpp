// CFReadStream for HTTP requests: the caller's side. Opening hands the request
// to the network worker; reads take bytes the worker delivered, waiting for
// them only when the stream is read directly.
#include "RunLoop.h"
#include "Transport.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cfstandin {
namespace {

const std::string kAutoredirectName = "kCFStreamPropertyHTTPShouldAutoredirect";
const std::string kResponseHeaderName = "kCFStreamPropertyHTTPResponseHeader";
const std::string kFinalUrlName = "kCFStreamPropertyHTTPFinalURL";
const std::string kReadTimeoutName = "_kCFStreamPropertyReadTimeout";
const std::string kPersistentName = "kCFStreamPropertyHTTPAttemptPersistentConnection";

StreamState &StateOf(CFReadStreamRef stream, const char *operation) {
  return *Checked<__CFReadStream>(stream, operation)->state;
}

std::shared_ptr<StreamState> SharedStateOf(CFReadStreamRef stream, const char *operation) {
  return Checked<__CFReadStream>(stream, operation)->state;
}

// On macOS the process's run loop, not the plug-in, holds a stream's client
// callback. A headless simulator host that loads plug-ins asks to be told of
// them (by this name, found at run time), to catch one left in unloaded code.
#if defined(_WIN32)
void TellHostOfClient(const void *, CFReadStreamClientCallBack) {}
#else
void TellHostOfClient(const void *stream, CFReadStreamClientCallBack callback) {
  using Report = void (*)(const void *, const void *);
  static const Report report = reinterpret_cast<Report>(dlsym(RTLD_DEFAULT, "XPHostStreamClientChanged"));
  if (report != nullptr) report(stream, reinterpret_cast<const void *>(callback));
}
#endif

void ReleaseClientInfo(const ClientRegistration &client) {
  if (client.callback != nullptr && client.context.release != nullptr) client.context.release(client.context.info);
}

// StreamMutex held. Returns whether the worker must be told to drop the exchange.
bool CloseLocked(StreamState &state) {
  if (state.closed) return false;
  state.closed = true;
  UnscheduleEverywhere(state);
  state.changed.notify_all();
  return state.opened && state.outcome == Outcome::Running;
}

// A stream that failed stays failed, also once closed.
CFStreamStatus StatusLocked(const StreamState &state) {
  if (!state.opened) return state.closed ? kCFStreamStatusClosed : kCFStreamStatusNotOpen;
  if (state.outcome == Outcome::Failed) return kCFStreamStatusError;
  if (state.closed) return kCFStreamStatusClosed;
  if (state.outcome == Outcome::Finished && state.Unread() == 0) return kCFStreamStatusAtEnd;
  return state.reading ? kCFStreamStatusReading : kCFStreamStatusOpen;
}

// StreamMutex held. Copies out up to `capacity` unread bytes; the consumed
// front of the buffer is dropped once it is large.
CFIndex TakeBytes(StreamState &state, UInt8 *buffer, CFIndex capacity) {
  constexpr size_t kCompactAfter = 64 * 1024;
  size_t count = std::min(state.Unread(), static_cast<size_t>(capacity));
  std::memcpy(buffer, state.body.data() + state.bodyOffset, count);
  state.bodyOffset += count;
  if (state.bodyOffset == state.body.size() || (state.bodyOffset > kCompactAfter && state.bodyOffset > state.Unread())) {
    state.body.erase(0, state.bodyOffset);
    state.bodyOffset = 0;
  }
  return static_cast<CFIndex>(count);
}

bool BooleanValue(CFTypeRef value, bool &flag) {
  if (value == nullptr || CFGetTypeID(value) != CFBooleanGetTypeID()) return false;
  flag = CFBooleanGetValue(static_cast<CFBooleanRef>(value));
  return true;
}

bool ReadTimeoutValue(CFTypeRef value, double &stored) {
  if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) return false;
  double seconds = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &seconds);
  if (!std::isfinite(seconds) || seconds < 0) return false;
  stored = seconds;
  return true;
}

}  // namespace
}  // namespace cfstandin

using namespace cfstandin;

__CFReadStream::~__CFReadStream() {
  if (LibraryUnloading()) return;
  ClientRegistration client;
  bool cancel;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    state->handle = nullptr;
    cancel = CloseLocked(*state);
    client = state->client;
    state->client = {};
  }
  TellHostOfClient(this, nullptr);
  if (cancel) CancelTransfer(state);
  ReleaseClientInfo(client);
}

extern "C" {

const CFStringRef kCFStreamPropertyHTTPShouldAutoredirect = MakePermanentString(kAutoredirectName.c_str());
const CFStringRef kCFStreamPropertyHTTPResponseHeader = MakePermanentString(kResponseHeaderName.c_str());
const CFStringRef kCFStreamPropertyHTTPFinalURL = MakePermanentString(kFinalUrlName.c_str());
const CFStringRef kCFStreamPropertyHTTPAttemptPersistentConnection = MakePermanentString(kPersistentName.c_str());

const SInt32 kCFStreamErrorDomainSSL = 3;
const SInt32 kCFStreamErrorDomainHTTP = 4;
const SInt32 kCFStreamErrorDomainSOCKS = 5;
const SInt32 kCFStreamErrorDomainNetDB = 12;
const SInt32 kCFStreamErrorDomainSystemConfiguration = 13;

CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef, CFHTTPMessageRef request) {
  if (InjectedFailure("CFReadStreamCreateForHTTPRequest") || request == nullptr) return nullptr;
  auto state = std::make_shared<StreamState>(RequestOf(request, "CFReadStreamCreateForHTTPRequest"));
  auto *stream = new __CFReadStream(state);
  std::lock_guard<std::mutex> lock(StreamMutex());
  state->handle = stream;
  return stream;
}

Boolean CFReadStreamSetProperty(CFReadStreamRef stream, CFStreamPropertyKey propertyName, CFTypeRef propertyValue) {
  StreamState &state = StateOf(stream, "CFReadStreamSetProperty");
  if (InjectedFailure("CFReadStreamSetProperty")) return false;
  const std::string &name = StringText(propertyName, "CFReadStreamSetProperty");
  std::lock_guard<std::mutex> lock(StreamMutex());
  // Apple's HTTP stream refuses every property once it is past not-open.
  if (state.opened || state.closed) return false;
  if (name == kAutoredirectName) return BooleanValue(propertyValue, state.followRedirects);
  if (name == kPersistentName) return BooleanValue(propertyValue, state.persistentConnection);
  if (name == kReadTimeoutName) return ReadTimeoutValue(propertyValue, state.readTimeoutSeconds);
  return false;
}

CFTypeRef CFReadStreamCopyProperty(CFReadStreamRef stream, CFStreamPropertyKey propertyName) {
  StreamState &state = StateOf(stream, "CFReadStreamCopyProperty");
  if (InjectedFailure("CFReadStreamCopyProperty")) return nullptr;
  const std::string &name = StringText(propertyName, "CFReadStreamCopyProperty");
  std::unique_lock<std::mutex> lock(StreamMutex());
  if (name == kResponseHeaderName) {
    if (!state.response) return nullptr;
    ResponseHead head = *state.response;
    lock.unlock();
    return MakeResponseMessage(head);
  }
  if (name == kFinalUrlName) {
    if (state.finalUrl.empty()) return nullptr;
    CFStringRef text = MakeString(state.finalUrl);
    lock.unlock();
    CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
    CFRelease(text);
    return url;
  }
  if (name == kAutoredirectName) return state.followRedirects ? kCFBooleanTrue : kCFBooleanFalse;
  if (name == kPersistentName) return state.persistentConnection ? kCFBooleanTrue : kCFBooleanFalse;
  if (name == kReadTimeoutName) {
    double seconds = state.readTimeoutSeconds;
    lock.unlock();
    return CFNumberCreate(nullptr, kCFNumberDoubleType, &seconds);
  }
  return nullptr;
}

Boolean CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags streamEvents, CFReadStreamClientCallBack clientCB,
                              CFStreamClientContext *clientContext) {
  StreamState &state = StateOf(stream, "CFReadStreamSetClient");
  if (InjectedFailure("CFReadStreamSetClient")) return false;
  ClientRegistration registration;
  if (streamEvents != 0 && clientCB != nullptr && clientContext != nullptr) {
    registration.events = streamEvents;
    registration.callback = clientCB;
    registration.context = *clientContext;
    if (clientContext->retain != nullptr) registration.context.info = clientContext->retain(clientContext->info);
  }
  CFReadStreamClientCallBack held;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    std::swap(state.client, registration);
    held = state.closed ? nullptr : state.client.callback;
    AnnounceChange(state);
  }
  TellHostOfClient(stream, held);
  ReleaseClientInfo(registration);
  return true;
}

void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop, CFRunLoopMode runLoopMode) {
  std::shared_ptr<StreamState> state = SharedStateOf(stream, "CFReadStreamScheduleWithRunLoop");
  __CFRunLoop *loop = Checked<__CFRunLoop>(runLoop, "CFReadStreamScheduleWithRunLoop");
  const std::string &mode = StringText(runLoopMode, "CFReadStreamScheduleWithRunLoop");
  std::lock_guard<std::mutex> lock(StreamMutex());
  if (state->closed) return;
  bool already = std::any_of(state->schedules.begin(), state->schedules.end(),
                             [&](const Schedule &schedule) { return schedule.loop == loop && schedule.mode == mode; });
  if (already) return;
  bool onThisLoop = std::any_of(state->schedules.begin(), state->schedules.end(),
                                [&](const Schedule &schedule) { return schedule.loop == loop; });
  state->schedules.push_back({loop, mode});
  if (!onThisLoop) loop->streams.push_back(state);
  AnnounceChange(*state);
}

void CFReadStreamUnscheduleFromRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop, CFRunLoopMode runLoopMode) {
  StreamState &state = StateOf(stream, "CFReadStreamUnscheduleFromRunLoop");
  __CFRunLoop *loop = Checked<__CFRunLoop>(runLoop, "CFReadStreamUnscheduleFromRunLoop");
  const std::string &mode = StringText(runLoopMode, "CFReadStreamUnscheduleFromRunLoop");
  std::lock_guard<std::mutex> lock(StreamMutex());
  auto &schedules = state.schedules;
  schedules.erase(std::remove_if(schedules.begin(), schedules.end(),
                                 [&](const Schedule &schedule) { return schedule.loop == loop && schedule.mode == mode; }),
                  schedules.end());
  bool stillOnLoop = std::any_of(schedules.begin(), schedules.end(),
                                 [&](const Schedule &schedule) { return schedule.loop == loop; });
  if (stillOnLoop) return;
  auto &streams = loop->streams;
  streams.erase(std::remove_if(streams.begin(), streams.end(),
                               [&](const std::shared_ptr<StreamState> &entry) { return entry.get() == &state; }),
                streams.end());
}

Boolean CFReadStreamOpen(CFReadStreamRef stream) {
  std::shared_ptr<StreamState> state = SharedStateOf(stream, "CFReadStreamOpen");
  if (InjectedFailure("CFReadStreamOpen") || LibraryUnloading()) return false;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    if (state->opened || state->closed) return false;
    state->opened = true;
    state->openEventDue = true;
    AnnounceChange(*state);
  }
  StartTransfer(state);
  return true;
}

void CFReadStreamClose(CFReadStreamRef stream) {
  std::shared_ptr<StreamState> state = SharedStateOf(stream, "CFReadStreamClose");
  bool cancel;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    cancel = CloseLocked(*state);
  }
  TellHostOfClient(stream, nullptr);
  if (cancel) CancelTransfer(state);
}

CFIndex CFReadStreamRead(CFReadStreamRef stream, UInt8 *buffer, CFIndex bufferLength) {
  std::shared_ptr<StreamState> state = SharedStateOf(stream, "CFReadStreamRead");
  if (buffer == nullptr || bufferLength < 0) return -1;
  if (bufferLength == 0) return 0;
  std::unique_lock<std::mutex> lock(StreamMutex());
  for (;;) {
    if (!state->opened || state->closed || state->outcome == Outcome::Failed) return -1;
    if (state->Unread() > 0) {
      CFIndex count = TakeBytes(*state, buffer, bufferLength);
      bool resume = state->pausedForReader && state->Unread() < kMaxUnreadBytes / 2;
      if (resume) state->pausedForReader = false;
      AnnounceChange(*state);
      lock.unlock();
      if (resume) ResumeTransfer(state);
      return count;
    }
    if (state->outcome == Outcome::Finished) return 0;
    state->reading = true;
    state->changed.wait(lock);
    state->reading = false;
  }
}

Boolean CFReadStreamHasBytesAvailable(CFReadStreamRef stream) {
  StreamState &state = StateOf(stream, "CFReadStreamHasBytesAvailable");
  std::lock_guard<std::mutex> lock(StreamMutex());
  return state.opened && !state.closed && state.outcome != Outcome::Failed && state.Unread() > 0;
}

CFStreamStatus CFReadStreamGetStatus(CFReadStreamRef stream) {
  StreamState &state = StateOf(stream, "CFReadStreamGetStatus");
  std::lock_guard<std::mutex> lock(StreamMutex());
  return StatusLocked(state);
}

CFStreamError CFReadStreamGetError(CFReadStreamRef stream) {
  StreamState &state = StateOf(stream, "CFReadStreamGetError");
  std::lock_guard<std::mutex> lock(StreamMutex());
  return state.outcome == Outcome::Failed ? state.error : CFStreamError{0, 0};
}

}  // extern "C"
