// The flight loop's send and busy gates, its intervals and the aircraft name refresh.
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"

#include "XPLMDataAccess.h"

#include <dlfcn.h>

#include <cstring>
#include <utility>

extern char aircraft_name[256];
extern char icao_code[40];
extern float lastNameFetch;

namespace {
// Every byte read the plug-in makes: the buffer and how many bytes it let the host write.
std::vector<std::pair<const void*, int>> gByteReads;
}  // namespace

// Linked into this test ahead of the host's own, which it then calls.
extern "C" int XPLMGetDatab(XPLMDataRef ref, void* out, int offset, int maxBytes) {
  using Read = int (*)(XPLMDataRef, void*, int, int);
  static const Read hostRead = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "XPLMGetDatab"));
  gByteReads.emplace_back(out, maxBytes);
  return hostRead(ref, out, offset, maxBytes);
}

namespace {

constexpr char kNamePath[] = "sim/aircraft/view/acf_ui_name";
constexpr char kDescriptionPath[] = "sim/aircraft/view/acf_descrip";
constexpr char kIcaoPath[] = "sim/aircraft/view/acf_ICAO";

class FlightLoop : public tralix_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    tralix_test::PublishCoreDataRefs();
    FindCoreDataRefs();
    lastNameFetch = 0.0f;
    std::memset(aircraft_name, 0, sizeof(aircraft_name));
    std::memset(icao_code, 0, sizeof(icao_code));
    // No data token: every cycle that passes the gates fails to send, which
    // is observable without a service.
  }

  static float RunCycleAt(double now) {
    xphost::SetElapsedTime(now);
    return TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
  }
};

TEST_F(FlightLoop, GatesAndIntervals) {
  struct Case {
    const char* what;
    double now;
    float lastSendTime, backoff;
    int busy, failures, takeoff, gearOnGround;
    bool passes;
    float interval;
  };
  const Case cases[] = {
      {"first second after start is skipped", 0.5, 0.0f, 0.0f, 0, 0, 0, 0, false, 1.0f},
      {"just under one second is skipped", 0.999, 0.0f, 0.0f, 0, 0, 0, 0, false, 1.0f},
      {"exactly back-off + 1.0 passes", 1.0, 0.0f, 0.0f, 0, 0, 0, 0, true, 1.0f},
      {"back-off holds the next send", 9.9, 2.0f, 7.0f, 0, 5, 0, 0, false, 2.0f},
      {"back-off elapsed passes", 10.0, 2.0f, 7.0f, 0, 5, 0, 0, true, 2.0f},
      {"busy skips even when airborne", 50.0, 0.0f, 0.0f, 1, 0, 1, 0, false, 1.0f},
      {"failures above 0 idle at 2.0", 0.5, 0.0f, 0.0f, 0, 3, 0, 0, false, 2.0f},
      {"airborne after takeoff asks for 0.1", 50.0, 0.0f, 0.0f, 0, 0, 1, 0, true, 0.1f},
      {"on ground after takeoff idles", 50.0, 0.0f, 0.0f, 0, 0, 1, 1, true, 1.0f},
      {"no takeoff, gear up, idles", 50.0, 0.0f, 0.0f, 0, 0, 0, 0, true, 1.0f},
      {"no takeoff, on ground, with failures", 50.0, 0.0f, 0.0f, 0, 1, 0, 1, true, 2.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gLastSendTime = c.lastSendTime;
    gBackoffTime = c.backoff;
    gNetworkBusy = c.busy;
    gConsecutiveFailures = c.failures;
    gTakeoffDetected = c.takeoff;
    gPreviousGearOnGround = c.gearOnGround;
    MarkLog();
    const int readsBefore = xphost::TotalDataRefReads();

    EXPECT_FLOAT_EQ(RunCycleAt(c.now), c.interval);
    EXPECT_EQ(xphost::TotalDataRefReads() > readsBefore, c.passes);
    const std::vector<std::string> lines = LogSinceMark();
    EXPECT_EQ(!lines.empty() && lines.back() == "Tralix - Failed to send aircraft data", c.passes);
    EXPECT_FLOAT_EQ(gLastSendTime, c.lastSendTime) << "a failed send never moves the send time";
  }
}

TEST_F(FlightLoop, NamesAreReadFirstAfterFiveSecondsThenAtMostEveryFive) {
  struct Step {
    double now;
    const char* publishedName;  // null: unchanged
    const char* publishedIcao;
    const char* name;
    const char* icao;
  };
  const Step steps[] = {
      {1.0, "A320neo", "A20N", "", ""},
      {5.0, nullptr, nullptr, "", ""},
      {5.5, nullptr, nullptr, "A320neo", "A20N"},
      {10.5, "B738", "B7", "A320neo", "A20N"},  // 5.0 s since the last read is not more than 5
      {10.6, nullptr, nullptr, "B738", "B7"},   // a shorter name keeps no tail of the old one
  };
  for (const Step& step : steps) {
    if (step.publishedName) xphost::SetDatab(kNamePath, step.publishedName);
    if (step.publishedIcao) xphost::SetDatab(kIcaoPath, step.publishedIcao);
    RunCycleAt(step.now);
    EXPECT_STREQ(aircraft_name, step.name) << step.now;
    EXPECT_STREQ(icao_code, step.icao) << step.now;
  }
}

// The host is never allowed to write past the name buffers; a stale longer
// value does not survive a read; empty or missing datarefs give the defaults.
// X-Plane 11 has no display name: its 260-byte description names the aircraft.
TEST_F(FlightLoop, NameReadsAreBoundedAndDefaulted) {
  struct Case {
    const char* namePath;
    std::string name, icao;
    bool removeDataRefs;
    std::string expectedName, expectedIcao;
  };
  const Case cases[] = {
      {kDescriptionPath, std::string(400, 'N'), std::string(60, 'I'), false, std::string(255, 'N'),
       std::string(39, 'I')},
      {kNamePath, "", "", false, "X-Plane Aircraft", "XPLN"},
      {kNamePath, "", "", true, "X-Plane Aircraft", "XPLN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.size());
    xphost::SetDatab(c.namePath, c.name);
    xphost::SetDatab(kIcaoPath, c.icao);
    if (c.namePath != kNamePath) xphost::RemoveDataRef(kNamePath);
    if (c.removeDataRefs) {
      xphost::RemoveDataRef(kNamePath);
      xphost::RemoveDataRef(kDescriptionPath);
      xphost::RemoveDataRef(kIcaoPath);
    }
    FindCoreDataRefs();
    // A missing dataref is only ever seen from load, when the strings are still empty.
    const char filler = c.removeDataRefs ? '\0' : 'x';
    std::memset(aircraft_name, filler, sizeof(aircraft_name) - 1);
    std::memset(icao_code, filler, sizeof(icao_code) - 1);
    lastNameFetch = 0.0f;
    gByteReads.clear();
    RunCycleAt(1000.0);
    EXPECT_EQ(std::string(aircraft_name), c.expectedName);
    EXPECT_EQ(std::string(icao_code), c.expectedIcao);
    for (const auto& [buffer, maxBytes] : gByteReads) {
      const bool isName = buffer == aircraft_name;
      ASSERT_TRUE(isName || buffer == icao_code);
      EXPECT_LE(maxBytes, static_cast<int>(isName ? sizeof(aircraft_name) : sizeof(icao_code)));
    }
    EXPECT_EQ(gByteReads.size(), c.removeDataRefs ? 0u : 2u);
  }
}

TEST_F(FlightLoop, MissingOptionalDataRefsReadAsZeroWithoutANullHandleReachingTheHost) {
  for (const char* path : {"sim/flightmodel/position/psi", "sim/flightmodel/position/groundspeed",
                           "sim/flightmodel/position/y_agl", "sim/cockpit2/gauges/indicators/altitude_ft_pilot"})
    xphost::RemoveDataRef(path);
  FindCoreDataRefs();
  ASSERT_EQ(gPlaneHeading, nullptr);
  EXPECT_FLOAT_EQ(RunCycleAt(3.0), 1.0f);
  EXPECT_EQ(xphost::NullDataRefReads(), 0);
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - Failed to send aircraft data"));
}

}  // namespace
