// Flight-loop scheduling as the plug-in uses it: a first call after the
// registered interval, then whatever each call returns (seconds, cycles, or
// 0 to pause); a deadline reached despite float rounding.
#include "XPHostControl.h"
#include "XPLMProcessing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// What to return on each call (the last repeats), and when each call came.
struct Script {
  std::vector<float> returns;
  std::vector<double> times;
};

float Scripted(float, float, int, void* refcon) {
  auto* script = static_cast<Script*>(refcon);
  script->times.push_back(std::round(xphost::ElapsedTime() * 1000) / 1000);
  return script->returns[std::min(script->times.size(), script->returns.size()) - 1];
}

// With 0.1-second frames for 2.1 seconds.
TEST(HostFlightLoops, CallTimesFollowTheRegisteredIntervalThenTheReturnedOnes) {
  struct Row {
    const char* what;
    float registered;
    std::vector<float> returns;
    std::vector<double> expectedTimes;
  };
  const Row rows[] = {
      {"the first call, then the idle interval", 0.1f, {2.0f}, {0.1, 2.1}},
      {"one second exactly, despite float rounding", 1.0f, {1.0f}, {1.0, 2.0}},
      {"0.1 s: every frame, then paused", 0.1f, {0.1f, 0.1f, 0.1f, 0.1f, 0.0f}, {0.1, 0.2, 0.3, 0.4, 0.5}},
      {"-1: every cycle", -1.0f, {-1.0f, 0.0f}, {0.1, 0.2}},
      {"seconds, cycles, seconds due between frames", 0.2f, {0.5f, -2.0f, 0.45f, 0.0f}, {0.2, 0.7, 0.9, 1.4}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    xphost::Reset();
    Script script{row.returns, {}};
    XPLMRegisterFlightLoopCallback(Scripted, row.registered, &script);
    xphost::RunFor(2.1, 0.1);
    EXPECT_EQ(script.times, row.expectedTimes);
  }
}

}  // namespace
