// Landing detection: finding its catalogue rows, the sample spacing, every
// transition of the detector's state table with its time and gear boundaries,
// and the cool-down. Whole flights (the ring's ten points oldest first, the
// event's values, the 59.9 s hop, a bounce) are flown in tests/e2e.
#include "DataRefs.h"
#include "LandingDetection.h"
#include "PluginTestSupport.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr char kGearPath[] = "sim/flightmodel2/gear/on_ground";
constexpr char kVerticalSpeedPath[] = "sim/cockpit2/gauges/indicators/vvi_fpm_pilot";
constexpr char kHeightPath[] = "sim/flightmodel/position/y_agl";
constexpr char kRunningTimePath[] = "sim/time/total_running_time_sec";
constexpr char kGForcePath[] = "sim/flightmodel/forces/g_nrml";
constexpr char kBankPath[] = "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot";

const std::vector<int> kParked = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const std::vector<int> kAirborne = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::vector<int> kMainsDown = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0};

// No token: the uploader refuses at once, and says so.
constexpr char kUploaderLine[] = "Tralix - Failed to send landing event";

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Takes catalogue rows away by name for one test case and puts them back after.
class RenamedRows {
 public:
  explicit RenamedRows(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      const int index = FindMappingIndex(name.c_str());
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
  // the paths left out), resolves the catalogue and starts the detector
  // without the rows renamed, so that table cases run one after another.
  void StartDetection(const std::vector<std::string>& leftOut = {}, const std::vector<std::string>& renamedRows = {}) {
    xphost::Reset();
    gPreviousGearOnGround = gTakeoffDetected = gWeightOnWheelsDetected = 0;
    gTakeoffTime = gLastLandingTime = 0.0f;
    if (!tralix_test::Contains(leftOut, kGearPath)) SetGear(kParked);
    for (const char* path : {kVerticalSpeedPath, kHeightPath, kRunningTimePath, kBankPath, kGForcePath})
      if (!tralix_test::Contains(leftOut, path)) xphost::SetDataf(path, 0.0f);
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

  // Airborne after a takeoff at takeoffTime; then calls half a second apart up
  // to lastSampleTime, each storing a sample with vertical speeds -1, -2, ...
  static void FlySamples(float takeoffTime, int count, double lastSampleTime) {
    gTakeoffDetected = 1;
    gTakeoffTime = takeoffTime;
    gPreviousGearOnGround = 0;
    SetGear(kAirborne);
    for (int k = 1; k <= count; ++k) {
      SetFlightValues(10.0f, 1.0f, static_cast<float>(-k), 0.0f);
      DetectAt(lastSampleTime - 0.5 * (count - k));
    }
  }
};

// ---- rows and samples --------------------------------------------------------

using SampleField = float LandingDataPoint::*;

// A row missing by name, or found without a dataref in this simulator. Without
// the gear, height or time row the detector reads nothing and never fires; any
// other row reads as 0. The host is never handed a null handle nor asked for a
// missing row.
TEST_F(Landing, MissingOrUnresolvedRows) {
  const char kIncomplete[] = "Tralix - WARNING: Landing detection system incomplete - required datarefs missing";
  struct Case {
    const char* path;
    const char* renamedRow;  // null: the row is there, its dataref is not published
    SampleField zeroField;   // null: every field keeps its value
    bool landingSeen;
    const char* warning;  // logged at start when the row is missing by name
  };
  const Case cases[] = {
      {kGearPath, "xp_gear_on_ground", nullptr, false, kIncomplete},
      {kHeightPath, "groundAltitude", nullptr, false, kIncomplete},
      {kRunningTimePath, "time", nullptr, false, kIncomplete},
      {kVerticalSpeedPath, "vertical_speed", &LandingDataPoint::verticalSpeed, true,
       "Tralix - WARNING: Vertical speed dataref not available"},
      {kGForcePath, "Gforce", &LandingDataPoint::gForce, true, "Tralix - WARNING: G-Force dataref not available"},
      {kBankPath, "bank", &LandingDataPoint::rollDegree, true, "Tralix - WARNING: Roll/Bank dataref not available"},
      {kGearPath, nullptr, nullptr, false, nullptr},  // never on the ground: no takeoff, no landing
      {kHeightPath, nullptr, &LandingDataPoint::groundAltitude, true, nullptr},
      {kRunningTimePath, nullptr, nullptr, true, nullptr},
      {kVerticalSpeedPath, nullptr, &LandingDataPoint::verticalSpeed, true, nullptr},
      {kGForcePath, nullptr, &LandingDataPoint::gForce, true, nullptr},
      {kBankPath, nullptr, &LandingDataPoint::rollDegree, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.renamedRow ? " (row missing)" : " (dataref missing)"));
    const bool required = c.warning == kIncomplete;
    gLandingDataPointCount = 7;
    gLandingDataBufferIndex = 4;
    gLastDataPointTime = 3.5f;
    if (c.renamedRow) {
      StartDetection({}, {c.renamedRow});
    } else {
      StartDetection({c.path});
    }
    EXPECT_EQ(gLandingDataPointCount + gLandingDataBufferIndex, 0) << "the ring starts empty";
    EXPECT_EQ(gLastDataPointTime, 0.0f);
    if (c.renamedRow) {
      EXPECT_EQ(tralix_test::LogHasLine(kIncomplete), required);
      EXPECT_TRUE(tralix_test::LogHasLine(c.warning));
    }
    const int readsBefore = required ? xphost::TotalDataRefReads() : xphost::DataRefReadCount(c.path);
    DetectAt(20.0);
    SetGear(kAirborne);
    SetFlightValues(30.0f, 1.1f, -400.0f, 3.0f);
    for (int k = 0; k <= 10; ++k) DetectAt(30.0 + k);
    SetGear(kMainsDown);
    EXPECT_EQ(DetectAt(100.0), c.landingSeen ? 1 : 0);
    if (required) {
      EXPECT_EQ(xphost::TotalDataRefReads(), readsBefore);
      EXPECT_EQ(gTakeoffDetected + gPreviousGearOnGround + gLandingDataPointCount, 0);
    } else if (c.renamedRow) {
      EXPECT_EQ(xphost::DataRefReadCount(c.path), readsBefore);
    }

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

// The last sample time starts at 0.0.
TEST_F(Landing, SamplesAreTakenAtLeastATenthOfASecondApart) {
  const std::pair<double, int> calls[] = {{0.05, 0}, {0.1, 1}, {0.15, 1}};
  for (const auto& [now, count] : calls) {
    CollectAt(now);
    EXPECT_EQ(gLandingDataPointCount, count) << now;
  }
}

// ---- the detector ------------------------------------------------------------------

enum Effect : unsigned { kNothing = 0, kTakeoff = 1, kSample = 2, kLanding = 4, kHandOver = 8, kReset = 16 };

// Each call from a full ring, at 1000 s; the flight times at and around the
// 60 s and 300 s limits.
TEST_F(Landing, EveryTransitionOfTheStateTable) {
  struct Case {
    const char* what;
    int armedBefore, onGroundBefore;
    bool onGroundNow;
    float takeoffTime;
    unsigned effects;
    int result;
  };
  constexpr float kNow = 1000.0f;
  const float justOver300 = std::nextafter(700.0f, 0.0f);
  const Case cases[] = {
      {"disarmed, airborne, stays airborne", 0, 0, false, 0.0f, kNothing, 0},
      {"disarmed, airborne, touches down", 0, 0, true, 0.0f, kNothing, 1},
      {"disarmed, on ground, stays", 0, 1, true, 0.0f, kNothing, 0},
      {"disarmed, on ground, lifts off", 0, 1, false, 0.0f, kTakeoff | kSample, 0},
      {"armed, airborne, stays airborne", 1, 0, false, 880.0f, kSample, 0},
      {"armed, touches down after 59.9 s", 1, 0, true, 940.1f, kNothing, 1},
      {"armed, touches down after exactly 60 s", 1, 0, true, 940.0f, kLanding | kHandOver, 1},
      {"armed, touches down after exactly 300 s", 1, 0, true, 700.0f, kLanding | kHandOver, 1},
      {"armed, touches down just over 300 s", 1, 0, true, justOver300, kLanding | kHandOver | kReset, 1},
      {"armed, on ground for exactly 300 s", 1, 1, true, 700.0f, kNothing, 0},
      {"armed, on ground just over 300 s", 1, 1, true, justOver300, kReset, 0},
      {"armed, on ground, lifts off again", 1, 1, false, 800.0f, kTakeoff | kSample, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (LandingDataPoint& slot : gLandingDataPoints) slot = {1.0f, 1.0f, -1.0f, 0.0f};
    gLandingDataPointCount = 10;
    gLandingDataBufferIndex = 0;
    gLastDataPointTime = 0.0f;
    gLastLandingTime = 0.0f;
    gWeightOnWheelsDetected = 0;
    gTakeoffDetected = c.armedBefore;
    gPreviousGearOnGround = c.onGroundBefore;
    gTakeoffTime = c.takeoffTime;
    SetGear(c.onGroundNow ? kParked : kAirborne);

    MarkLog();
    EXPECT_EQ(DetectAt(kNow), c.result);
    EXPECT_EQ(Count(LogSinceMark(), kUploaderLine), (c.effects & kHandOver) ? 1 : 0);
    EXPECT_EQ(gTakeoffDetected, (c.effects & kReset) ? 0 : (c.effects & kTakeoff) ? 1 : c.armedBefore);
    EXPECT_EQ(gPreviousGearOnGround, c.onGroundNow ? 1 : 0);
    EXPECT_EQ(gTakeoffTime, (c.effects & kReset) ? 0.0f : (c.effects & kTakeoff) ? kNow : c.takeoffTime);
    EXPECT_EQ(gLastDataPointTime, (c.effects & kSample) ? kNow : 0.0f);
    EXPECT_EQ(gLastLandingTime, (c.effects & kLanding) ? kNow : 0.0f);
    EXPECT_EQ(gLandingDataPointCount, (c.effects & kReset) ? 0 : 10);
    EXPECT_EQ(gWeightOnWheelsDetected, 0) << "cleared by the hand-over or never set";
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
}

TEST_F(Landing, LandingWithoutAFullRingSendsNothingAndKeepsWeightOnWheels) {
  FlySamples(900.0f, 9, 1000.0);
  SetGear(kMainsDown);
  EXPECT_EQ(DetectAt(1001.0), 1);
  EXPECT_FALSE(tralix_test::LogHasLine(kUploaderLine));
  EXPECT_EQ(gLastLandingTime, 1001.0f);
  DetectAt(1011.0);
  EXPECT_EQ(gWeightOnWheelsDetected, 1);
}

// The cool-down counts from the last landing, and from 0 at start: for ten
// seconds the detector reads no gear at all (a bounce inside it is flown in
// tests/e2e, LandingFlight), and an aircraft still airborne at its end has
// taken off again.
TEST_F(Landing, NoGearIsReadForTenSecondsAfterALandingOrTheStart) {
  gPreviousGearOnGround = 0;
  EXPECT_EQ(DetectAt(9.9), 0);
  EXPECT_EQ(DetectAt(10.0), 1);

  FlySamples(100.0f, 10, 199.0);
  SetGear(kMainsDown);
  ASSERT_EQ(DetectAt(200.0), 1);
  SetGear(kAirborne);
  const int gearReadsBefore = xphost::DataRefReadCount(kGearPath);
  EXPECT_EQ(DetectAt(209.99), 0);
  EXPECT_EQ(xphost::DataRefReadCount(kGearPath), gearReadsBefore);
  EXPECT_EQ(DetectAt(210.0), 0);
  EXPECT_EQ(gTakeoffTime, 210.0f);
  EXPECT_EQ(gLastLandingTime, 200.0f);
}

}  // namespace
