// Run loops: one per thread, permanent. A run loop knows the streams scheduled
// on it and delivers their events only while its own thread runs it.
#pragma once

#include "StreamState.h"

struct __CFRunLoop : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::RunLoop;
  __CFRunLoop() : Object(kKind, true) {}

  // Streams scheduled here in any mode, each once; guarded by StreamMutex().
  std::vector<std::shared_ptr<cfstandin::StreamState>> streams;
  size_t nextStream = 0;  // where the next search for an event starts
  bool stopRequested = false;
  std::condition_variable wake;
};

namespace cfstandin {

// Whether a stream scheduled in scheduleMode is served when running in runMode.
bool ModeServes(const std::string &scheduleMode, const std::string &runMode);

// StreamMutex held: removes every schedule of the stream.
void UnscheduleEverywhere(StreamState &state);

}  // namespace cfstandin
