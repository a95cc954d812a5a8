// X-Plane on macOS runs the main thread's CFRunLoop between plug-in callbacks.
// Elsewhere nothing does, so a flight-loop callback runs it once per frame,
// without waiting, and stream events arrive between the main callback's calls.
#include "RunLoopPump.h"

#include "XPLMProcessing.h"

#if APL

void StartRunLoopPump() {}
void StopRunLoopPump() {}

#else

#include <CoreFoundation/CoreFoundation.h>

namespace {

constexpr float kEveryFrame = -1.0f;

float PumpRunLoop(float, float, int, void*) {
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true);
  return kEveryFrame;
}

}  // namespace

void StartRunLoopPump() { XPLMRegisterFlightLoopCallback(PumpRunLoop, kEveryFrame, nullptr); }
void StopRunLoopPump() { XPLMUnregisterFlightLoopCallback(PumpRunLoop, nullptr); }

#endif
