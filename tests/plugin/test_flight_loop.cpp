// The flight loop's send and busy gates, its intervals and the aircraft name refresh.
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include "XPLMDataAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern char aircraft_name[256];
extern char icao_code[40];
extern float lastNameFetch;

namespace {

class FlightLoop : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    tralix_test::PublishCoreDataRefs();
    FindCoreDataRefs();
    // No data token: every cycle that passes the gates fails to send, which
    // is observable without a service.
    gDataKeyToken[0] = '\0';
  }

  float RunCycleAt(double now) {
    xphost::SetElapsedTime(now);
    return TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
  }

  bool CyclePassedGates(size_t logBefore, int readsBefore) {
    const bool readData = xphost::TotalDataRefReads() > readsBefore;
    const bool logged = !tralix_test::LogLinesSince(logBefore).empty();
    EXPECT_EQ(readData, logged) << "a cycle either does its work or nothing at all";
    return readData;
  }
};

struct GateCase {
  const char* what;
  double now;
  float lastSendTime;
  float backoff;
  int busy;
  int failures;
  int takeoff;
  int gearOnGround;
  bool passes;
  float interval;
};

TEST_F(FlightLoop, GatesAndIntervals) {
  const GateCase cases[] = {
      {"first second after start is skipped", 0.5, 0.0f, 0.0f, 0, 0, 0, 0, false, 1.0f},
      {"just under one second is skipped", 0.999, 0.0f, 0.0f, 0, 0, 0, 0, false, 1.0f},
      {"exactly back-off + 1.0 passes", 1.0, 0.0f, 0.0f, 0, 0, 0, 0, true, 1.0f},
      {"back-off holds the next send", 9.9, 2.0f, 7.0f, 0, 5, 0, 0, false, 2.0f},
      {"back-off elapsed passes", 10.0, 2.0f, 7.0f, 0, 5, 0, 0, true, 2.0f},
      {"busy skips even when airborne", 50.0, 0.0f, 0.0f, 1, 0, 1, 0, false, 1.0f},
      {"busy with failures idles at 2.0", 50.0, 0.0f, 0.0f, 1, 3, 1, 0, false, 2.0f},
      {"failures above 0 idle at 2.0", 0.5, 0.0f, 0.0f, 0, 3, 0, 0, false, 2.0f},
      {"negative failure count idles at 1.0", 0.5, 0.0f, 0.0f, 0, -1, 0, 0, false, 1.0f},
      {"airborne after takeoff asks for 0.1", 50.0, 0.0f, 0.0f, 0, 0, 1, 0, true, 0.1f},
      {"airborne with failures still 0.1", 50.0, 0.0f, 0.0f, 0, 2, 1, 0, true, 0.1f},
      {"on ground after takeoff idles", 50.0, 0.0f, 0.0f, 0, 0, 1, 1, true, 1.0f},
      {"no takeoff, gear up, idles", 50.0, 0.0f, 0.0f, 0, 0, 0, 0, true, 1.0f},
      {"no takeoff, on ground, with failures", 50.0, 0.0f, 0.0f, 0, 1, 0, 1, true, 2.0f},
  };
  for (const GateCase& c : cases) {
    SCOPED_TRACE(c.what);
    gLastSendTime = c.lastSendTime;
    gBackoffTime = c.backoff;
    gNetworkBusy = c.busy;
    gConsecutiveFailures = c.failures;
    gTakeoffDetected = c.takeoff;
    gPreviousGearOnGround = c.gearOnGround;
    const size_t logBefore = xphost::LogLines().size();
    const int readsBefore = xphost::TotalDataRefReads();

    EXPECT_FLOAT_EQ(RunCycleAt(c.now), c.interval);
    EXPECT_EQ(CyclePassedGates(logBefore, readsBefore), c.passes);
    EXPECT_FLOAT_EQ(gLastSendTime, c.lastSendTime) << "a failed send never moves the send time";
  }
}

TEST_F(FlightLoop, FailedSendIsLoggedAndRetriedEveryAirborneCycle) {
  gTakeoffDetected = 1;
  gPreviousGearOnGround = 0;
  for (double now : {20.0, 20.1, 20.2}) {
    const size_t logBefore = xphost::LogLines().size();
    EXPECT_FLOAT_EQ(RunCycleAt(now), 0.1f);
    const auto lines = tralix_test::LogLinesSince(logBefore);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Tralix - Failed to send aircraft data");
  }
  EXPECT_FLOAT_EQ(gLastSendTime, 0.0f);
}

TEST_F(FlightLoop, NamesStayEmptyUntilTheFirstRefreshAfterFiveSeconds) {
  RunCycleAt(1.0);
  RunCycleAt(5.0);
  EXPECT_STREQ(aircraft_name, "");
  EXPECT_STREQ(icao_code, "");
  RunCycleAt(5.5);
  EXPECT_STREQ(aircraft_name, "Cessna Skyhawk");
  EXPECT_STREQ(icao_code, "C172");
}

TEST_F(FlightLoop, NamesRefreshAtMostEveryFiveSeconds) {
  RunCycleAt(6.0);
  xphost::SetDatab("sim/aircraft/view/acf_ui_name", "Boeing 737-800");
  RunCycleAt(11.0);
  EXPECT_STREQ(aircraft_name, "Cessna Skyhawk") << "5.0 s since the last refresh is not more than 5";
  RunCycleAt(11.5);
  EXPECT_STREQ(aircraft_name, "Boeing 737-800");
}

TEST_F(FlightLoop, ShorterNewNameDoesNotKeepTheOldTail) {
  xphost::SetDatab("sim/aircraft/view/acf_ui_name", "A320neo");
  xphost::SetDatab("sim/aircraft/view/acf_ICAO", "A20N");
  RunCycleAt(6.0);
  xphost::SetDatab("sim/aircraft/view/acf_ui_name", "B738");
  xphost::SetDatab("sim/aircraft/view/acf_ICAO", "B7");
  RunCycleAt(12.0);
  EXPECT_STREQ(aircraft_name, "B738");
  EXPECT_STREQ(icao_code, "B7");
}

TEST_F(FlightLoop, NameReadsAreBoundedAndDefaulted) {
  struct Case {
    const char* what;
    std::string name;
    std::string icao;
    bool removeDataRefs;
    std::string expectedName;
    std::string expectedIcao;
  };
  const Case cases[] = {
      {"300-byte name keeps its first 255", std::string(300, 'N'), std::string(60, 'I'), false,
       std::string(255, 'N'), std::string(39, 'I')},
      {"empty datarefs give the defaults", "", "", false, "X-Plane Aircraft", "XPLN"},
      {"missing datarefs give the defaults", "", "", true, "X-Plane Aircraft", "XPLN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xphost::Reset();
    tralix_test::PublishCoreDataRefs();
    xphost::SetDatab("sim/aircraft/view/acf_ui_name", c.name);
    xphost::SetDatab("sim/aircraft/view/acf_ICAO", c.icao);
    if (c.removeDataRefs) {
      xphost::RemoveDataRef("sim/aircraft/view/acf_ui_name");
      xphost::RemoveDataRef("sim/aircraft/view/acf_ICAO");
    }
    FindCoreDataRefs();
    // A stale longer value must not survive a read; a missing dataref is only
    // ever seen from load, when the strings are still empty.
    const char filler = c.removeDataRefs ? '\0' : 'x';
    std::memset(aircraft_name, filler, sizeof(aircraft_name) - 1);
    std::memset(icao_code, filler, sizeof(icao_code) - 1);
    gLastSendTime = 0.0f;
    lastNameFetch = 0.0f;
    RunCycleAt(1000.0);
    EXPECT_EQ(std::string(aircraft_name), c.expectedName);
    EXPECT_EQ(std::string(icao_code), c.expectedIcao);
  }
}

TEST_F(FlightLoop, MissingOptionalDataRefsAreReadAsZeroWithoutCrashing) {
  xphost::RemoveDataRef("sim/flightmodel/position/psi");
  xphost::RemoveDataRef("sim/cockpit/radios/gps_dme_speed_kts");
  xphost::RemoveDataRef("sim/flightmodel/position/y_agl");
  xphost::RemoveDataRef("sim/flightmodel/position/altitude_ft_pilot");
  FindCoreDataRefs();
  ASSERT_EQ(gPlaneHeading, nullptr);
  EXPECT_FLOAT_EQ(RunCycleAt(3.0), 1.0f);
  EXPECT_TRUE(tralix_test::LogHasLine("Tralix - Failed to send aircraft data"));
}

}  // namespace
