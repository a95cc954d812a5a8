// The simulated clock and the flight-loop scheduler.
#include "HostInternal.h"
#include "XPHostControl.h"
#include "XPLMProcessing.h"

#include <algorithm>
#include <cmath>

namespace xphost {
namespace {

// The plug-in hands intervals over as floats, so 0.1 arrives as 0.10000000149;
// a deadline within this much of the clock counts as reached.
constexpr double kDeadlineTolerance = 1e-5;

enum class Schedule { Inactive, AtTime, AtCycle };

struct Registration {
  uint64_t serial = 0;  // changes with every (re-)registration
  XPLMFlightLoop_f callback = nullptr;
  void* refcon = nullptr;
  Schedule schedule = Schedule::Inactive;
  double dueTime = 0;
  long dueCycle = 0;
  double lastCallTime = 0;  // or the registration time before the first call
  float lastReturn = 0;
  int callCount = 0;
};

struct ProcessingState {
  double clock = 0;
  double lastDispatchTime = 0;
  int cycle = 0;  // flight-loop dispatches so far
  uint64_t nextSerial = 1;
  std::vector<Registration> registrations;  // registration order
};

ProcessingState& State() {
  static ProcessingState state;
  return state;
}

Registration* FindByPair(XPLMFlightLoop_f callback, void* refcon) {
  for (auto& registration : State().registrations)
    if (registration.callback == callback && registration.refcon == refcon) return &registration;
  return nullptr;
}

Registration* FindBySerial(uint64_t serial) {
  for (auto& registration : State().registrations)
    if (registration.serial == serial) return &registration;
  return nullptr;
}

// Positive: seconds from 'from'; negative: that many cycles from now; 0: inactive.
void ScheduleNext(Registration& registration, float interval, double from) {
  if (interval > 0) {
    registration.schedule = Schedule::AtTime;
    registration.dueTime = from + static_cast<double>(interval);
  } else if (interval < 0) {
    long cycles = std::max(1L, std::lround(-static_cast<double>(interval)));
    registration.schedule = Schedule::AtCycle;
    registration.dueCycle = State().cycle + cycles;
  } else {
    registration.schedule = Schedule::Inactive;
  }
}

bool IsDue(const Registration& registration) {
  switch (registration.schedule) {
    case Schedule::AtTime:
      return State().clock + kDeadlineTolerance >= registration.dueTime;
    case Schedule::AtCycle:
      return State().cycle >= registration.dueCycle;
    case Schedule::Inactive:
      break;
  }
  return false;
}

// Callbacks may register, unregister or re-register anything, themselves
// included, so the pass works on serials and looks each one up again.
void DispatchFlightLoops(float sinceLastDispatch) {
  std::vector<uint64_t> serials;
  for (const auto& registration : State().registrations) serials.push_back(registration.serial);
  for (uint64_t serial : serials) {
    Registration* registration = FindBySerial(serial);
    if (!registration || !IsDue(*registration)) continue;
    float sinceLastCall = static_cast<float>(State().clock - registration->lastCallTime);
    registration->lastCallTime = State().clock;
    registration->callCount++;
    XPLMFlightLoop_f callback = registration->callback;
    void* refcon = registration->refcon;
    float next = callback(sinceLastCall, sinceLastDispatch, State().cycle, refcon);
    registration = FindBySerial(serial);
    if (!registration) continue;
    registration->lastReturn = next;
    ScheduleNext(*registration, next, State().clock);
  }
}

}  // namespace

namespace detail {
void ResetProcessing() { State() = ProcessingState{}; }
double Clock() { return State().clock; }
int CurrentCycle() { return State().cycle; }

int DropFlightLoopsOfModule(const void* moduleBase) {
  auto& registrations = State().registrations;
  auto first = std::remove_if(registrations.begin(), registrations.end(), [&](const Registration& r) {
    return IsCodeInModule(reinterpret_cast<const void*>(r.callback), moduleBase);
  });
  int dropped = static_cast<int>(registrations.end() - first);
  registrations.erase(first, registrations.end());
  return dropped;
}
}  // namespace detail

double ElapsedTime() { return State().clock; }
void SetElapsedTime(double seconds) { State().clock = seconds; }
int FrameCount() { return State().cycle; }

void RunFrame(double dt) {
  State().clock += dt;
  State().cycle++;
  float sinceLastDispatch = static_cast<float>(State().clock - State().lastDispatchTime);
  State().lastDispatchTime = State().clock;
  DispatchFlightLoops(sinceLastDispatch);
  detail::DrawAllWindows();
}

void RunFor(double seconds, double frameDt) {
  if (frameDt <= 0) return;
  double advanced = 0;
  while (advanced < seconds - 1e-9) {
    double step = std::min(frameDt, seconds - advanced);
    RunFrame(step);
    advanced += step;
  }
}

std::vector<FlightLoopInfo> FlightLoops() {
  std::vector<FlightLoopInfo> loops;
  for (const auto& registration : State().registrations) {
    double next = -1;
    if (registration.schedule == Schedule::AtTime) next = registration.dueTime;
    if (registration.schedule == Schedule::AtCycle) next = State().clock;
    loops.push_back({reinterpret_cast<void*>(registration.callback), registration.refcon, next,
                     registration.lastReturn, registration.callCount});
  }
  return loops;
}

}  // namespace xphost

using xphost::State;

extern "C" {

XPLM_API float XPLMGetElapsedTime(void) { return static_cast<float>(State().clock); }

XPLM_API int XPLMGetCycleNumber(void) { return State().cycle; }

// One registration per (callback, refcon) pair: registering the pair again
// restarts it with the new interval.
XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval,
                                             void* inRefcon) {
  if (!inFlightLoop) return;
  xphost::Registration* registration = xphost::FindByPair(inFlightLoop, inRefcon);
  if (!registration) {
    State().registrations.push_back({});
    registration = &State().registrations.back();
    registration->callback = inFlightLoop;
    registration->refcon = inRefcon;
  }
  registration->serial = State().nextSerial++;
  registration->lastCallTime = State().clock;
  xphost::ScheduleNext(*registration, inInterval, State().clock);
}

XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void* inRefcon) {
  auto& registrations = State().registrations;
  registrations.erase(std::remove_if(registrations.begin(), registrations.end(),
                                     [&](const xphost::Registration& r) {
                                       return r.callback == inFlightLoop && r.refcon == inRefcon;
                                     }),
                      registrations.end());
}

XPLM_API void XPLMSetFlightLoopCallbackInterval(XPLMFlightLoop_f inFlightLoop, float inInterval,
                                                int inRelativeToNow, void* inRefcon) {
  xphost::Registration* registration = xphost::FindByPair(inFlightLoop, inRefcon);
  if (!registration) return;
  double from = inRelativeToNow ? State().clock : registration->lastCallTime;
  xphost::ScheduleNext(*registration, inInterval, from);
}

}  // extern "C"
