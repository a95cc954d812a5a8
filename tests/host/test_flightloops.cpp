// The clock and flight-loop scheduling: seconds, cycles, stop, and changes
// made from inside a callback.
#include "XPHostControl.h"
#include "XPLMProcessing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Call {
  double clock;
  float sinceLastCall, sinceLastLoop;
  int counter;
};

// Each callback's script: what to return on each call (the last repeats).
struct Script {
  std::vector<float> returns;
  std::vector<Call> calls;
};

float Scripted(float sinceLastCall, float sinceLastLoop, int counter, void* refcon) {
  auto* script = static_cast<Script*>(refcon);
  script->calls.push_back({xphost::ElapsedTime(), sinceLastCall, sinceLastLoop, counter});
  size_t index = std::min(script->calls.size() - 1, script->returns.size() - 1);
  return script->returns[index];
}

std::vector<double> CallTimes(const Script& script) {
  std::vector<double> times;
  for (const Call& call : script.calls) times.push_back(std::round(call.clock * 1000) / 1000);
  return times;
}

class HostFlightLoops : public ::testing::Test {
 protected:
  void SetUp() override { xphost::Reset(); }
};

// Registration interval and return values against the frames that call it,
// with 0.1-second frames for 1.2 seconds.
TEST_F(HostFlightLoops, IntervalsInSecondsAndCycles) {
  struct Row {
    const char* what;
    float registered;
    std::vector<float> returns;
    std::vector<double> expectedTimes;
  };
  const Row rows[] = {
      {"seconds: first call after the registered interval", 0.5f, {0.3f}, {0.5, 0.8, 1.1}},
      {"one second exactly, despite float rounding", 1.0f, {1.0f}, {1.0}},
      {"-1: every cycle", -1.0f, {-1.0f}, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.2}},
      {"-3: every third cycle", -3.0f, {-3.0f}, {0.3, 0.6, 0.9, 1.2}},
      {"0 registers an inactive callback", 0.0f, {1.0f}, {}},
      {"returning 0 stops it", -1.0f, {-1.0f, 0.0f}, {0.1, 0.2}},
      {"seconds then cycles", 0.2f, {-2.0f, 0.45f}, {0.2, 0.4, 0.9}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    xphost::Reset();
    Script script{row.returns, {}};
    XPLMRegisterFlightLoopCallback(Scripted, row.registered, &script);
    xphost::RunFor(1.2, 0.1);
    EXPECT_EQ(CallTimes(script), row.expectedTimes);
  }
}

TEST_F(HostFlightLoops, StoppedCallbackStaysRegisteredAndCanBeRestarted) {
  Script script{{0.0f}, {}};
  XPLMRegisterFlightLoopCallback(Scripted, -1.0f, &script);
  xphost::RunFor(0.5, 0.1);
  ASSERT_EQ(script.calls.size(), 1u);
  auto loops = xphost::FlightLoops();
  ASSERT_EQ(loops.size(), 1u);
  EXPECT_LT(loops[0].nextCallTime, 0);
  EXPECT_EQ(loops[0].callCount, 1);
  XPLMSetFlightLoopCallbackInterval(Scripted, 0.25f, 1, &script);
  xphost::RunFor(0.3, 0.1);
  EXPECT_EQ(script.calls.size(), 2u);
}

TEST_F(HostFlightLoops, CallbackArgumentsAndClock) {
  Script script{{0.5f}, {}};
  xphost::SetElapsedTime(10.0);
  XPLMRegisterFlightLoopCallback(Scripted, 1.0f, &script);
  xphost::RunFor(2.0, 0.25);
  ASSERT_EQ(script.calls.size(), 3u);
  EXPECT_FLOAT_EQ(script.calls[0].sinceLastCall, 1.0f) << "first call: time since registration";
  EXPECT_FLOAT_EQ(script.calls[1].sinceLastCall, 0.5f);
  EXPECT_FLOAT_EQ(script.calls[1].sinceLastLoop, 0.25f);
  EXPECT_EQ(script.calls[0].counter, 4);
  EXPECT_EQ(script.calls[1].counter, 6);
  EXPECT_EQ(xphost::FrameCount(), 8);
  EXPECT_FLOAT_EQ(XPLMGetElapsedTime(), 12.0f);
  EXPECT_EQ(XPLMGetCycleNumber(), 8);
}

TEST_F(HostFlightLoops, PairsOfCallbackAndRefconAreSeparateRegistrations) {
  Script first{{-1.0f}, {}}, second{{-1.0f}, {}};
  XPLMRegisterFlightLoopCallback(Scripted, -1.0f, &first);
  XPLMRegisterFlightLoopCallback(Scripted, -1.0f, &second);
  xphost::RunFrame(0.1);
  XPLMUnregisterFlightLoopCallback(Scripted, &first);
  xphost::RunFrame(0.1);
  EXPECT_EQ(first.calls.size(), 1u);
  EXPECT_EQ(second.calls.size(), 2u);
}

// ---- changes from inside a callback ------------------------------------------------

struct SelfEditing {
  enum Action { UnregisterSelf, UnregisterOther, RegisterOther, ReRegisterSelf } action;
  Script* other = nullptr;
  int calls = 0;
};

float Editing(float, float, int, void* refcon) {
  auto* editing = static_cast<SelfEditing*>(refcon);
  editing->calls++;
  switch (editing->action) {
    case SelfEditing::UnregisterSelf:
      XPLMUnregisterFlightLoopCallback(Editing, refcon);
      break;
    case SelfEditing::UnregisterOther:
      XPLMUnregisterFlightLoopCallback(Scripted, editing->other);
      break;
    case SelfEditing::RegisterOther:
      if (editing->calls == 1) XPLMRegisterFlightLoopCallback(Scripted, -1.0f, editing->other);
      break;
    case SelfEditing::ReRegisterSelf:
      XPLMRegisterFlightLoopCallback(Editing, 0.5f, refcon);
      break;
  }
  return -1.0f;
}

TEST_F(HostFlightLoops, UnregisteringItselfInsideTheCallbackStopsIt) {
  SelfEditing editing{SelfEditing::UnregisterSelf};
  XPLMRegisterFlightLoopCallback(Editing, -1.0f, &editing);
  xphost::RunFor(0.5, 0.1);
  EXPECT_EQ(editing.calls, 1);
  EXPECT_TRUE(xphost::FlightLoops().empty());
}

TEST_F(HostFlightLoops, UnregisteringALaterCallbackSkipsItInTheSameFrame) {
  Script other{{-1.0f}, {}};
  SelfEditing editing{SelfEditing::UnregisterOther, &other};
  XPLMRegisterFlightLoopCallback(Editing, -1.0f, &editing);
  XPLMRegisterFlightLoopCallback(Scripted, -1.0f, &other);
  xphost::RunFor(0.3, 0.1);
  EXPECT_EQ(editing.calls, 3);
  EXPECT_TRUE(other.calls.empty());
}

TEST_F(HostFlightLoops, RegisteringInsideTheCallbackStartsOnTheNextCycle) {
  Script other{{-1.0f}, {}};
  SelfEditing editing{SelfEditing::RegisterOther, &other};
  XPLMRegisterFlightLoopCallback(Editing, -1.0f, &editing);
  xphost::RunFrame(0.1);
  EXPECT_TRUE(other.calls.empty());
  xphost::RunFrame(0.1);
  EXPECT_EQ(other.calls.size(), 1u);
}

// The new registration's interval wins over the value the old call returns.
TEST_F(HostFlightLoops, ReRegisteringItselfInsideTheCallbackUsesTheNewInterval) {
  SelfEditing editing{SelfEditing::ReRegisterSelf};
  XPLMRegisterFlightLoopCallback(Editing, -1.0f, &editing);
  xphost::RunFor(1.0, 0.1);
  EXPECT_EQ(editing.calls, 2);  // at 0.1 and 0.6
  EXPECT_EQ(xphost::FlightLoops().size(), 1u);
}

}  // namespace
