// CFRunLoop: events of scheduled streams are picked under StreamMutex() and
// handed to the client callbacks with the lock released, on the thread that
// runs the loop.
#include "RunLoop.h"
#include "ThreadIdentity.h"

#include <algorithm>
#include <map>

namespace cfstandin {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex gStreamMutex;
std::map<ThreadNumber, __CFRunLoop *> *gRunLoopsByThread = nullptr;  // guarded by gStreamMutex
thread_local __CFRunLoop *tCurrentRunLoop = nullptr;

__CFRunLoop *RunLoopOfThread(ThreadNumber threadId) {
  std::lock_guard<std::mutex> lock(gStreamMutex);
  if (gRunLoopsByThread == nullptr) gRunLoopsByThread = new std::map<ThreadNumber, __CFRunLoop *>();
  __CFRunLoop *&loop = (*gRunLoopsByThread)[threadId];
  if (loop == nullptr) loop = new __CFRunLoop();
  return loop;
}

const std::string kDefaultModeName = "kCFRunLoopDefaultMode";
const std::string kCommonModesName = "kCFRunLoopCommonModes";

bool ServedIn(const StreamState &state, const __CFRunLoop *loop, const std::string &mode) {
  return std::any_of(state.schedules.begin(), state.schedules.end(), [&](const Schedule &schedule) {
    return schedule.loop == loop && ModeServes(schedule.mode, mode);
  });
}

bool HasSourcesIn(const __CFRunLoop &loop, const std::string &mode) {
  return std::any_of(loop.streams.begin(), loop.streams.end(),
                     [&](const std::shared_ptr<StreamState> &state) { return ServedIn(*state, &loop, mode); });
}

// The next event the stream owes its client, marked as delivered; None when it
// owes nothing now. Order: open-completed, then error (which ends the stream),
// or has-bytes-available while unread bytes remain (again and again to a
// client that leaves them), then end-encountered once they were read, as
// Apple's HTTP stream does.
CFStreamEventType NextEvent(StreamState &state) {
  if (!state.opened || state.closed || state.client.callback == nullptr) return kCFStreamEventNone;
  CFOptionFlags wanted = state.client.events;
  if (state.openEventDue) {
    state.openEventDue = false;
    if (wanted & kCFStreamEventOpenCompleted) return kCFStreamEventOpenCompleted;
  }
  if (state.outcome == Outcome::Failed) {
    if (state.errorDelivered) return kCFStreamEventNone;
    state.errorDelivered = true;
    return (wanted & kCFStreamEventErrorOccurred) ? kCFStreamEventErrorOccurred : kCFStreamEventNone;
  }
  if (state.Unread() > 0) {
    return (wanted & kCFStreamEventHasBytesAvailable) ? kCFStreamEventHasBytesAvailable : kCFStreamEventNone;
  }
  if (state.outcome != Outcome::Finished || state.endDelivered) return kCFStreamEventNone;
  state.endDelivered = true;
  return (wanted & kCFStreamEventEndEncountered) ? kCFStreamEventEndEncountered : kCFStreamEventNone;
}

struct PendingEvent {
  CFReadStreamRef stream = nullptr;  // retained for the call
  CFStreamEventType type = kCFStreamEventNone;
  CFReadStreamClientCallBack callback = nullptr;
  void *info = nullptr;
};

// StreamMutex held. Searches round-robin so one busy stream cannot starve the
// others.
PendingEvent PickEvent(__CFRunLoop &loop, const std::string &mode) {
  size_t count = loop.streams.size();
  for (size_t step = 0; step < count; ++step) {
    size_t index = (loop.nextStream + step) % count;
    StreamState &state = *loop.streams[index];
    if (!ServedIn(state, &loop, mode) || state.handle == nullptr) continue;
    CFStreamEventType type = NextEvent(state);
    if (type == kCFStreamEventNone) continue;
    if (!RetainIfAlive(state.handle)) continue;
    loop.nextStream = (index + 1) % count;
    return {state.handle, type, state.client.callback, state.client.context.info};
  }
  return {};
}

}  // namespace

std::mutex &StreamMutex() { return gStreamMutex; }

void AnnounceChange(StreamState &state) {
  state.changed.notify_all();
  for (const Schedule &schedule : state.schedules) schedule.loop->wake.notify_all();
}

void FailRunning(StreamState &state, CFStreamError error) {
  if (state.outcome != Outcome::Running || state.closed) return;
  state.outcome = Outcome::Failed;
  state.error = error;
  AnnounceChange(state);
}

bool ModeServes(const std::string &scheduleMode, const std::string &runMode) {
  return scheduleMode == runMode || (scheduleMode == kCommonModesName && runMode == kDefaultModeName);
}

void UnscheduleEverywhere(StreamState &state) {
  for (const Schedule &schedule : state.schedules) {
    auto &streams = schedule.loop->streams;
    streams.erase(std::remove_if(streams.begin(), streams.end(),
                                 [&](const std::shared_ptr<StreamState> &entry) { return entry.get() == &state; }),
                  streams.end());
  }
  state.schedules.clear();
}

void ForgetRunLoops() {
  std::lock_guard<std::mutex> lock(gStreamMutex);
  delete gRunLoopsByThread;
  gRunLoopsByThread = nullptr;
}

}  // namespace cfstandin

using namespace cfstandin;

extern "C" {

const CFRunLoopMode kCFRunLoopDefaultMode = MakePermanentString("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = MakePermanentString("kCFRunLoopCommonModes");

CFRunLoopRef CFRunLoopGetCurrent(void) {
  if (tCurrentRunLoop == nullptr) tCurrentRunLoop = RunLoopOfThread(CurrentThreadNumber());
  return tCurrentRunLoop;
}

CFRunLoopRef CFRunLoopGetMain(void) { return RunLoopOfThread(MainThreadNumber()); }

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled) {
  const std::string &modeName = StringText(mode, "CFRunLoopRunInMode");
  __CFRunLoop &loop = *CFRunLoopGetCurrent();
  auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(seconds > 0 ? seconds : 0.0));
  std::unique_lock<std::mutex> lock(gStreamMutex);
  for (;;) {
    if (loop.stopRequested) {
      loop.stopRequested = false;
      return kCFRunLoopRunStopped;
    }
    if (!HasSourcesIn(loop, modeName)) return kCFRunLoopRunFinished;
    PendingEvent event = PickEvent(loop, modeName);
    if (event.stream != nullptr) {
      lock.unlock();
      event.callback(event.stream, event.type, event.info);
      CFRelease(event.stream);
      if (returnAfterSourceHandled) return kCFRunLoopRunHandledSource;
      // A client that leaves its bytes is owed has-bytes again at once.
      if (Clock::now() >= deadline) return kCFRunLoopRunTimedOut;
      lock.lock();
      continue;
    }
    if (Clock::now() >= deadline) return kCFRunLoopRunTimedOut;
    loop.wake.wait_until(lock, deadline);
  }
}

void CFRunLoopStop(CFRunLoopRef rl) {
  __CFRunLoop *loop = Checked<__CFRunLoop>(rl, "CFRunLoopStop");
  std::lock_guard<std::mutex> lock(gStreamMutex);
  loop->stopRequested = true;
  loop->wake.notify_all();
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
  __CFRunLoop *loop = Checked<__CFRunLoop>(rl, "CFRunLoopWakeUp");
  std::lock_guard<std::mutex> lock(gStreamMutex);
  loop->wake.notify_all();
}

}  // extern "C"
