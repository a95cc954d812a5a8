// Landing detection: finding its catalogue rows, the touchdown sample ring, every
// transition of the detector's state table with its time and gear boundaries,
// the cool-down, and what a touchdown hands to the uploader.
#include "DataRefs.h"
#include "LandingDetection.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include "CFStandInTesting.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// The request body the uploader formatted last (the service client's buffer).
extern char gJsonBuffer[];

namespace {

using Lines = std::vector<std::string>;

constexpr char kGearPath[] = "sim/flightmodel2/gear/on_ground";
constexpr char kVerticalSpeedPath[] = "sim/cockpit2/gauges/indicators/vvi_fpm_pilot";
constexpr char kHeightPath[] = "sim/flightmodel/position/y_agl";
constexpr char kRunningTimePath[] = "sim/time/total_running_time_sec";
constexpr char kGForcePath[] = "sim/flightmodel/forces/g_nrml";
constexpr char kBankPath[] = "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot";

const std::vector<int> kParked = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const std::vector<int> kAirborne = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::vector<int> kMainsDown = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0};

constexpr char kGearChangePrefix[] = "Tralix - Gear state changed:";
constexpr char kTakeoffPrefix[] = "Tralix - Takeoff detected!";
constexpr char kSampleAttemptPrefix[] = "Tralix - DEBUG: CollectLandingDataPoint - elapsed:";
constexpr char kLandingPrefix[] = "Tralix - Weight on wheels detected!";
constexpr char kHandOverPrefix[] = "Tralix - DEBUG: Sending landing event with buffer data at time";
constexpr char kResetLine[] = "Tralix - Takeoff detection reset (new flight session)";
constexpr char kCooldownLine[] = "Tralix - DEBUG: Still in landing cooldown period";
constexpr char kUploaderLine[] = "Tralix - Failed to send landing event";  // no token: the uploader refuses at once

int CountStartingWith(const Lines& lines, const std::string& prefix) {
  int count = 0;
  for (const std::string& line : lines) count += line.compare(0, prefix.size(), prefix) == 0;
  return count;
}

// Takes catalogue rows away by name for one test case and puts them back after.
class RenamedRows {
 public:
  explicit RenamedRows(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      const int index = FindMappingIndex(name.c_str());
      EXPECT_GE(index, 0) << name;
      if (index < 0) continue;
      saved_.push_back({index, gMappings[index].name});
      gMappings[index].name = "row taken away by the test";
    }
  }
  ~RenamedRows() {
    for (const auto& [index, name] : saved_) gMappings[index].name = name;
  }

 private:
  std::vector<std::pair<int, const char*>> saved_;
};

class Landing : public tralix_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    StartDetection();
  }

  // As at plug-in start: publishes the six datarefs the detector reads (minus
  // the paths left out), clears the log, resolves the catalogue and starts the detector, so
  // that table cases run one after another in one process.
  void StartDetection(const std::vector<std::string>& leftOut = {}, const std::vector<std::string>& renamedRows = {}) {
    xphost::Reset();
    gPreviousGearOnGround = gTakeoffDetected = gWeightOnWheelsDetected = 0;
    gTakeoffTime = gLastLandingTime = 0.0f;
    auto published = [&](const char* path) {
      for (const std::string& skipped : leftOut)
        if (skipped == path) return false;
      return true;
    };
    if (published(kGearPath)) SetGear(kParked);
    for (const char* path : {kVerticalSpeedPath, kHeightPath, kRunningTimePath, kBankPath})
      if (published(path)) xphost::SetDataf(path, 0.0f);
    if (published(kGForcePath)) xphost::SetDataf(kGForcePath, 1.0f);
    ASSERT_EQ(InitDataRefs(), 1);
    xphost::ClearLog();
    RenamedRows renamed(renamedRows);
    InitLandingDetection();
  }

  static void SetGear(const std::vector<int>& values) { xphost::SetDatavi(kGearPath, values); }

  // Height in metres, as the simulator publishes it; vertical speed in ft/min.
  static void SetFlightValues(float heightMetres, float gForce, float verticalSpeed, float bank) {
    xphost::SetDataf(kHeightPath, heightMetres);
    xphost::SetDataf(kGForcePath, gForce);
    xphost::SetDataf(kVerticalSpeedPath, verticalSpeed);
    xphost::SetDataf(kBankPath, bank);
  }

  static int DetectAt(double now) {
    xphost::SetElapsedTime(now);
    return DetectLandingEvent();
  }

  static void CollectAt(double now) {
    xphost::SetElapsedTime(now);
    CollectLandingDataPoint();
  }

  // The state a takeoff at takeoffTime leaves behind, still in the air.
  static void ArmAirborne(float takeoffTime) {
    gTakeoffDetected = 1;
    gTakeoffTime = takeoffTime;
    gPreviousGearOnGround = 0;
    SetGear(kAirborne);
  }

  // Airborne calls half a second apart up to lastSampleTime; each stores a
  // sample, with vertical speeds -1, -2, ... in the order taken.
  static void FlySamples(int count, double lastSampleTime) {
    SetGear(kAirborne);
    for (int k = 1; k <= count; ++k) {
      SetFlightValues(10.0f, 1.0f, static_cast<float>(-k), 0.0f);
      DetectAt(lastSampleTime - 0.5 * (count - k));
    }
  }

  static void FillRing() {
    for (LandingDataPoint& slot : gLandingDataPoints) slot = {1.0f, 1.0f, -1.0f, 0.0f};
    gLandingDataPointCount = 10;
    gLandingDataBufferIndex = 0;
  }
};

// ---- rows and samples --------------------------------------------------------

TEST_F(Landing, InitFindsItsRowsByNameAndNeedsGearHeightAndTime) {
  struct Case {
    std::vector<std::string> missingRows;
    bool complete;
    const char* warning;
  };
  const Case cases[] = {
      {{}, true, nullptr},
      {{"xp_gear_on_ground"}, false, nullptr},
      {{"groundAltitude"}, false, nullptr},
      {{"time", "Gforce"}, false, nullptr},
      {{"vertical_speed"}, true, "Tralix - WARNING: Vertical speed dataref not available"},
      {{"Gforce"}, true, "Tralix - WARNING: G-Force dataref not available"},
      {{"bank"}, true, "Tralix - WARNING: Roll/Bank dataref not available"},
  };
  const std::pair<const char*, const int*> rows[] = {
      {"xp_gear_on_ground", &gGearOnGroundIndex}, {"vertical_speed", &gVerticalSpeedIndex},
      {"groundAltitude", &gAltitudeIndex},        {"time", &gTimeIndex},
      {"Gforce", &gGForceIndex},                  {"bank", &gRollIndex}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missingRows.empty() ? "all rows present" : "missing " + c.missingRows[0]);
    gLandingDataPointCount = 7;
    gLandingDataBufferIndex = 4;
    gLastDataPointTime = 3.5f;
    StartDetection({}, c.missingRows);
    for (const auto& [name, index] : rows) {
      bool missing = false;
      for (const std::string& row : c.missingRows) missing = missing || row == name;
      EXPECT_EQ(*index, missing ? -1 : FindMappingIndex(name)) << name;
    }
    EXPECT_EQ(tralix_test::LogHasLine(
                  "Tralix - WARNING: Landing detection system incomplete - required datarefs missing"),
              !c.complete);
    if (c.warning) {
      EXPECT_TRUE(tralix_test::LogHasLine(c.warning));
    }
    EXPECT_EQ(gLandingDataPointCount, 0);
    EXPECT_EQ(gLandingDataBufferIndex, 0);
    EXPECT_EQ(gLastDataPointTime, 0.0f);
  }
}

TEST_F(Landing, MissingRequiredRowLeavesTheDetectorSilentAndReadingNothing) {
  for (const char* name : {"xp_gear_on_ground", "groundAltitude", "time"}) {
    SCOPED_TRACE(name);
    StartDetection({}, {name});
    ArmAirborne(100.0f);
    const int readsBefore = xphost::TotalDataRefReads();
    MarkLog();
    for (double now : {5.0, 150.0, 600.0}) {
      EXPECT_EQ(DetectAt(now), 0);
      SetGear(kParked);
    }
    EXPECT_TRUE(LogSinceMark().empty());
    EXPECT_EQ(xphost::TotalDataRefReads(), readsBefore);
    EXPECT_EQ(gLandingDataPointCount, 0);
    EXPECT_EQ(gTakeoffDetected, 1);
    EXPECT_EQ(gPreviousGearOnGround, 0);
  }
}

TEST_F(Landing, SamplesAreTakenAtLeastATenthOfASecondApart) {
  SetFlightValues(3.048f, 1.25f, -480.0f, 2.6f);
  CollectAt(0.05);
  EXPECT_EQ(gLandingDataPointCount, 0);
  CollectAt(0.1);  // the last sample time starts at 0.0
  EXPECT_EQ(gLandingDataPointCount, 1);
  EXPECT_EQ(gLandingDataPoints[0].groundAltitude, 3.048f * 3.2808f) << "metres scaled by the row's multiplier";
  EXPECT_EQ(gLandingDataPoints[0].gForce, 1.25f);
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -480.0f);
  EXPECT_EQ(gLandingDataPoints[0].rollDegree, 2.6f);
  EXPECT_EQ(gLastDataPointTime, 0.1f);
  CollectAt(0.15);
  EXPECT_EQ(gLandingDataPointCount, 1);
  gWeightOnWheelsDetected = 1;
  CollectAt(0.3);
  EXPECT_EQ(xphost::LogLines().at(xphost::LogLines().size() - 2),
            "Tralix - Collected data point: alt=10.00, g=1.2500, vs=-480.00, roll=2.60 (Buffer: 2/10, WOW: Yes)");
}

TEST_F(Landing, TheEleventhSampleReplacesTheFirstAndAFlightResetKeepsTheSlots) {
  for (int k = 1; k <= 11; ++k) {
    SetFlightValues(0.0f, 1.0f, static_cast<float>(-k), 0.0f);
    CollectAt(389.0 + k);
  }
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -11.0f);
  EXPECT_EQ(gLandingDataPoints[1].verticalSpeed, -2.0f);
  EXPECT_EQ(gLandingDataPoints[9].verticalSpeed, -10.0f);
  EXPECT_EQ(gLandingDataPointCount, 10);
  EXPECT_EQ(gLandingDataBufferIndex, 1);

  // On the ground more than 300 s after takeoff: a new flight starts.
  gTakeoffDetected = 1;
  gPreviousGearOnGround = 1;
  gTakeoffTime = 50.0f;
  SetGear(kParked);
  DetectAt(401.0);
  EXPECT_EQ(xphost::LogLines().back(), kResetLine);
  EXPECT_EQ(gLandingDataPointCount, 0);
  EXPECT_EQ(gLandingDataBufferIndex, 0);
  EXPECT_EQ(gLastDataPointTime, 400.0f);
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -11.0f) << "slots keep their contents until rewritten";

  SetFlightValues(0.0f, 1.0f, -99.0f, 0.0f);
  CollectAt(402.0);
  EXPECT_EQ(gLandingDataPointCount, 1);
  EXPECT_EQ(gLandingDataBufferIndex, 1);
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -99.0f);
  EXPECT_EQ(gLandingDataPoints[1].verticalSpeed, -2.0f);
}

using SampleField = float LandingDataPoint::*;

// A row missing by name, or found by name without a dataref in this simulator,
// reads as 0; the host is never handed a null handle nor asked for a missing row.
TEST_F(Landing, MissingOrUnresolvedRowsReadAsZero) {
  struct Case {
    const char* path;
    const char* renamedRow;  // null: the row is there, its dataref is not published
    SampleField zeroField;   // null: every field keeps its value
    bool landingSeen;
  };
  const Case cases[] = {
      {kVerticalSpeedPath, "vertical_speed", &LandingDataPoint::verticalSpeed, true},
      {kGForcePath, "Gforce", &LandingDataPoint::gForce, true},
      {kBankPath, "bank", &LandingDataPoint::rollDegree, true},
      {kGearPath, nullptr, nullptr, false},  // never on the ground: no takeoff, no landing
      {kHeightPath, nullptr, &LandingDataPoint::groundAltitude, true},
      {kRunningTimePath, nullptr, nullptr, true},
      {kVerticalSpeedPath, nullptr, &LandingDataPoint::verticalSpeed, true},
      {kGForcePath, nullptr, &LandingDataPoint::gForce, true},
      {kBankPath, nullptr, &LandingDataPoint::rollDegree, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.renamedRow ? " (row missing)" : " (dataref missing)"));
    if (c.renamedRow) {
      StartDetection({}, {c.renamedRow});
    } else {
      StartDetection({c.path});
    }
    DetectAt(20.0);
    SetGear(kAirborne);
    SetFlightValues(30.0f, 1.1f, -400.0f, 3.0f);
    const int readsBefore = xphost::DataRefReadCount(c.path);
    for (int k = 0; k <= 10; ++k) DetectAt(30.0 + k);
    if (c.renamedRow) {
      EXPECT_EQ(xphost::DataRefReadCount(c.path), readsBefore);
    }
    SetGear(kMainsDown);
    EXPECT_EQ(DetectAt(100.0), c.landingSeen ? 1 : 0);

    EXPECT_EQ(xphost::NullDataRefReads(), 0);
    EXPECT_EQ(tralix_test::LogHasLine(kUploaderLine), c.landingSeen);
    if (!c.landingSeen) continue;
    ASSERT_EQ(gLandingDataPointCount, 10);
    const LandingDataPoint published = {30.0f * 3.2808f, 1.1f, -400.0f, 3.0f};
    for (SampleField field : {&LandingDataPoint::groundAltitude, &LandingDataPoint::gForce,
                              &LandingDataPoint::verticalSpeed, &LandingDataPoint::rollDegree})
      EXPECT_EQ(gLandingDataPoints[0].*field, field == c.zeroField ? 0.0f : published.*field);
  }
}

// ---- the detector ------------------------------------------------------------------

enum Effect : unsigned {
  kNothing = 0,
  kGearChange = 1,
  kTakeoff = 2,
  kSampleAttempt = 4,
  kLanding = 8,
  kHandOver = 16,
  kReset = 32,
};

TEST_F(Landing, EveryTransitionOfTheStateTable) {
  struct Case {
    const char* what;
    int armedBefore, onGroundBefore;
    bool onGroundNow;
    float flightTime;  // now - takeoff time; disarmed rows use a takeoff time of 0.0
    unsigned effects;
    int result, armedAfter, onGroundAfter;
  };
  constexpr float kNow = 1000.0f;
  constexpr float kAny = kNow;
  const Case cases[] = {
      {"disarmed, airborne, stays airborne", 0, 0, false, kAny, kNothing, 0, 0, 0},
      {"disarmed, airborne, touches down", 0, 0, true, kAny, kGearChange, 1, 0, 1},
      {"disarmed, on ground, stays", 0, 1, true, kAny, kNothing, 0, 0, 1},
      {"disarmed, on ground, lifts off", 0, 1, false, kAny, kGearChange | kTakeoff | kSampleAttempt, 0, 1, 0},
      {"armed, airborne, stays airborne", 1, 0, false, 120.0f, kSampleAttempt, 0, 1, 0},
      {"armed, airborne, touches down below 60 s", 1, 0, true, 59.0f, kGearChange, 1, 1, 1},
      {"armed, airborne, touches down at 120 s", 1, 0, true, 120.0f, kGearChange | kLanding | kHandOver, 1, 1, 1},
      {"armed, airborne, touches down above 300 s", 1, 0, true, 400.0f,
       kGearChange | kLanding | kHandOver | kReset, 1, 0, 1},
      {"armed, on ground, 300 s or below", 1, 1, true, 200.0f, kNothing, 0, 1, 1},
      {"armed, on ground, above 300 s", 1, 1, true, 301.0f, kReset, 0, 0, 1},
      {"armed, on ground, lifts off again", 1, 1, false, 200.0f, kGearChange | kTakeoff | kSampleAttempt, 0, 1, 0},
  };
  const std::pair<unsigned, const char*> markers[] = {
      {kGearChange, kGearChangePrefix}, {kTakeoff, kTakeoffPrefix}, {kSampleAttempt, kSampleAttemptPrefix},
      {kLanding, kLandingPrefix},       {kHandOver, kHandOverPrefix}, {kReset, kResetLine}};

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FillRing();
    gLastLandingTime = 0.0f;
    gWeightOnWheelsDetected = 0;
    gTakeoffDetected = c.armedBefore;
    gPreviousGearOnGround = c.onGroundBefore;
    const float takeoffBefore = c.armedBefore ? kNow - c.flightTime : 0.0f;
    gTakeoffTime = takeoffBefore;
    SetGear(c.onGroundNow ? kParked : kAirborne);

    MarkLog();
    EXPECT_EQ(DetectAt(kNow), c.result);
    const Lines lines = LogSinceMark();
    for (const auto& [effect, prefix] : markers)
      EXPECT_EQ(CountStartingWith(lines, prefix), (c.effects & effect) ? 1 : 0) << prefix;

    EXPECT_EQ(gTakeoffDetected, c.armedAfter);
    EXPECT_EQ(gPreviousGearOnGround, c.onGroundAfter);
    const float expectedTakeoffTime = (c.effects & kReset) ? 0.0f : (c.effects & kTakeoff) ? kNow : takeoffBefore;
    EXPECT_EQ(gTakeoffTime, expectedTakeoffTime);
    EXPECT_EQ(gLastLandingTime, (c.effects & kLanding) ? kNow : 0.0f);
    EXPECT_EQ(gLandingDataPointCount, (c.effects & kReset) ? 0 : 10);
    EXPECT_EQ(gWeightOnWheelsDetected, 0) << "cleared by the hand-over or never set";
  }
}

TEST_F(Landing, CooldownEndsAtExactlyTenSeconds) {
  struct Case {
    float lastLanding;
    double now;
    bool inCooldown;
  };
  const Case cases[] = {{0.0f, 9.9, true}, {0.0f, 10.0, false}, {100.0f, 109.99, true}, {100.0f, 110.0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.now);
    gLastLandingTime = c.lastLanding;
    gPreviousGearOnGround = 0;
    SetGear(kParked);  // a change the detector would see if it looked
    const int gearReadsBefore = xphost::DataRefReadCount(kGearPath);
    MarkLog();
    EXPECT_EQ(DetectAt(c.now), c.inCooldown ? 0 : 1);
    EXPECT_EQ(LogSinceMark().back() == kCooldownLine, c.inCooldown);
    EXPECT_EQ(xphost::DataRefReadCount(kGearPath) == gearReadsBefore, c.inCooldown);
    EXPECT_EQ(gPreviousGearOnGround, c.inCooldown ? 0 : 1);
  }
}

TEST_F(Landing, FlightTimeBoundaries) {
  struct Case {
    const char* what;
    int onGroundBefore;  // 0: this call is the touchdown; 1: already down, waiting for the reset
    double now;          // takeoff at 100.0
    bool landingAccepted, reset;
  };
  const double justAbove400 = std::nextafter(400.0f, 500.0f);
  const Case cases[] = {
      {"a hop of 59.9 s is not a landing", 0, 159.9, false, false},
      {"a flight of exactly 60.0 s is", 0, 160.0, true, false},
      {"landing after exactly 300.0 s keeps the detector armed", 0, 400.0, true, false},
      {"landing just above 300 s resets in the same call", 0, justAbove400, true, true},
      {"on the ground exactly 300.0 s after takeoff: no reset", 1, 400.0, false, false},
      {"on the ground just above 300 s: reset", 1, justAbove400, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FillRing();
    gLastLandingTime = 0.0f;
    gTakeoffDetected = 1;
    gTakeoffTime = 100.0f;
    gPreviousGearOnGround = c.onGroundBefore;
    SetGear(kMainsDown);
    MarkLog();
    EXPECT_EQ(DetectAt(c.now), c.onGroundBefore ? 0 : 1);
    EXPECT_EQ(CountStartingWith(LogSinceMark(), kLandingPrefix), c.landingAccepted ? 1 : 0);
    EXPECT_EQ(CountStartingWith(LogSinceMark(), kResetLine), c.reset ? 1 : 0);
    EXPECT_EQ(gTakeoffDetected, c.reset ? 0 : 1);
  }
}

TEST_F(Landing, OnTheGroundMeansSomeGearReportsExactlyOne) {
  const std::pair<std::vector<int>, bool> cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, true},  {{0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, true},
      {{2, 2, 2, 0, 0, 0, 0, 0, 0, 0}, false}, {{-1, -1, -1, 0, 0, 0, 0, 0, 0, 0}, false},
      {kAirborne, false},
  };
  for (const auto& [gear, onGround] : cases) {
    gPreviousGearOnGround = 0;
    SetGear(gear);
    EXPECT_EQ(DetectAt(50.0), onGround ? 1 : 0) << testing::PrintToString(gear);
  }
  // An aircraft that publishes three gear only: the elements the host does not
  // fill keep their last values, so the lone 1 in element 7 stays.
  SetGear({0, 0, 0, 0, 0, 0, 0, 1, 0, 0});
  DetectAt(51.0);
  SetGear({0, 0, 0});
  EXPECT_EQ(DetectAt(52.0), 0);
  EXPECT_EQ(gPreviousGearOnGround, 1);
}

TEST_F(Landing, TheEventCarriesTheTouchdownValuesAndTheRingOldestFirst) {
  std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", "token-for-the-body");
  CFStandInFailNextCalls("CFReadStreamCreateForHTTPRequest", 1);  // body built, nothing sent
  ArmAirborne(900.0f);
  FlySamples(13, 1000.0);  // thirteen samples: the ring has wrapped to write index 3
  ASSERT_EQ(gLandingDataBufferIndex, 3);
  LandingDataPoint ringBefore[10];
  std::copy(gLandingDataPoints, gLandingDataPoints + 10, ringBefore);

  SetGear(kMainsDown);
  SetFlightValues(0.98f, 1.2f, -150.0f, 2.0f);
  MarkLog();
  EXPECT_EQ(DetectAt(1001.0), 1);
  EXPECT_EQ(CountStartingWith(LogSinceMark(), kUploaderLine), 1) << "the uploader was called once";
  EXPECT_EQ(LogSinceMark().at(3),
            "Tralix - Weight on wheels detected! Gear values: [0,1,1,0,0,0,0,0,0,0] "
            "(Altitude AGL: 3.2 ft, Flight time: 101.0 seconds)");

  const nlohmann::json body = nlohmann::json::parse(gJsonBuffer);
  EXPECT_EQ(body["event"], "LandingRate");
  EXPECT_EQ(std::stod(body["data"]["verticalSpeed"].get<std::string>()), -150.0);
  EXPECT_EQ(std::stod(body["data"]["altitude"].get<std::string>()), 3.2);
  const nlohmann::json& points = body["data"]["points"];
  ASSERT_EQ(points.size(), 10u);
  const LandingDataPoint* handedOver = LastOrderedLandingPoints();
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(points[static_cast<size_t>(k)]["verticalSpeed"].get<double>(), -(k + 4.0)) << "the sample taken "
                                                                                         << k + 4 << "th";
    EXPECT_EQ(handedOver[k].verticalSpeed, -(k + 4.0f)) << k;
  }
  EXPECT_EQ(gLandingDataBufferIndex, 3) << "handing over does not empty the ring";
  EXPECT_EQ(gLandingDataPointCount, 10);
  for (int slot = 0; slot < 10; ++slot) EXPECT_EQ(gLandingDataPoints[slot].verticalSpeed, ringBefore[slot].verticalSpeed);
}

TEST_F(Landing, LandingWithoutAFullRingSendsNothingAndKeepsWeightOnWheels) {
  ArmAirborne(900.0f);
  FlySamples(9, 1000.0);
  SetGear(kMainsDown);
  EXPECT_EQ(DetectAt(1001.0), 1);
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - DEBUG: Not enough data points for landing event (9/10)");
  EXPECT_FALSE(tralix_test::LogHasLine(kUploaderLine));
  EXPECT_EQ(gLastLandingTime, 1001.0f);
  DetectAt(1011.0);
  EXPECT_EQ(gWeightOnWheelsDetected, 1);
}

TEST_F(Landing, TouchAndGoWithinTheCooldownIsNotASecondLanding) {
  ArmAirborne(100.0f);
  FlySamples(10, 199.0);
  SetGear(kMainsDown);
  ASSERT_EQ(DetectAt(200.0), 1);

  // Off again, down again, off again: all inside the ten seconds.
  const std::pair<double, std::vector<int>> bounces[] = {
      {202.0, kAirborne}, {205.0, kMainsDown}, {207.0, kParked}, {209.9, kAirborne}};
  const int gearReadsBefore = xphost::DataRefReadCount(kGearPath);
  MarkLog();
  for (const auto& [now, gear] : bounces) {
    SetGear(gear);
    EXPECT_EQ(DetectAt(now), 0) << now;
  }
  EXPECT_EQ(CountStartingWith(LogSinceMark(), kCooldownLine), 4);
  EXPECT_EQ(xphost::DataRefReadCount(kGearPath), gearReadsBefore);

  // Still airborne when the cool-down ends: that is a new takeoff.
  EXPECT_EQ(DetectAt(210.0), 0);
  EXPECT_EQ(gTakeoffTime, 210.0f);
  EXPECT_EQ(CountStartingWith(xphost::LogLines(), kLandingPrefix), 1);
}

}  // namespace
