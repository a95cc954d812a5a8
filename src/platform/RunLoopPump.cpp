// One flight-loop callback, every frame, runs the plug-in's request mode once
// without waiting: stream events arrive between the main callback's calls on
// every platform, in any host that runs flight loops.
#include "RunLoopPump.h"

#include "XPLMProcessing.h"

#if !APL
#include <CFNetwork/CFNetwork.h>
#endif

namespace {

constexpr float kEveryFrame = -1.0f;

float PumpRunLoop(float, float, int, void*) {
  CFRunLoopRunInMode(RequestRunLoopMode(), 0, true);
  return kEveryFrame;
}

}  // namespace

CFRunLoopMode RequestRunLoopMode() {
  static const CFRunLoopMode mode = CFSTR("net.tralix.bridge.requests");
  return mode;
}

void StartRunLoopPump() { XPLMRegisterFlightLoopCallback(PumpRunLoop, kEveryFrame, nullptr); }
void StopRunLoopPump() { XPLMUnregisterFlightLoopCallback(PumpRunLoop, nullptr); }

#if APL
void StopNetworkWorker() {}
#else
void StopNetworkWorker() { CFStandInShutdownTransport(); }
#endif
