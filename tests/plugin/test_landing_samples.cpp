// Touchdown sample ring: finding the landing rows, sample spacing and log lines,
// the ring's wrap-around, and rows that are missing or unresolved.
#include "test_landing_fixture.h"

#include <cstring>
#include <string>
#include <vector>

using namespace landing_test;

namespace {

constexpr char kInitLine[] = "Tralix - Initializing landing detection system...";
constexpr char kInitOkLine[] = "Tralix - Landing detection system initialized successfully";
constexpr char kIncompleteLine[] = "Tralix - WARNING: Landing detection system incomplete - required datarefs missing";
constexpr char kVsOk[] = "Tralix - Vertical speed dataref available for landing events";
constexpr char kVsMissing[] = "Tralix - WARNING: Vertical speed dataref not available";
constexpr char kGOk[] = "Tralix - G-Force dataref available for landing events";
constexpr char kGMissing[] = "Tralix - WARNING: G-Force dataref not available";
constexpr char kBankOk[] = "Tralix - Roll/Bank dataref available for landing events";
constexpr char kBankMissing[] = "Tralix - WARNING: Roll/Bank dataref not available";

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

class LandingSamples : public LandingTest {};

struct InitCase {
  std::vector<std::string> missingRows;
  std::vector<std::string> lines;
};

TEST_F(LandingSamples, InitFindsTheSixRowsByNameAndReportsWhatIsMissing) {
  const InitCase cases[] = {
      {{}, {kInitLine, kInitOkLine, kVsOk, kGOk, kBankOk}},
      {{"xp_gear_on_ground"}, {kInitLine, kIncompleteLine}},
      {{"groundAltitude"}, {kInitLine, kIncompleteLine}},
      {{"time"}, {kInitLine, kIncompleteLine}},
      {{"time", "Gforce"}, {kInitLine, kIncompleteLine}},
      {{"vertical_speed"}, {kInitLine, kInitOkLine, kVsMissing, kGOk, kBankOk}},
      {{"Gforce"}, {kInitLine, kInitOkLine, kVsOk, kGMissing, kBankOk}},
      {{"bank"}, {kInitLine, kInitOkLine, kVsOk, kGOk, kBankMissing}},
      {{"vertical_speed", "Gforce", "bank"}, {kInitLine, kInitOkLine, kVsMissing, kGMissing, kBankMissing}},
  };
  struct Row {
    const char* name;
    int* index;
    int catalogueIndex;
  };
  const Row rows[] = {{"xp_gear_on_ground", &gGearOnGroundIndex, 3}, {"vertical_speed", &gVerticalSpeedIndex, 23},
                      {"groundAltitude", &gAltitudeIndex, 16},       {"time", &gTimeIndex, 30},
                      {"Gforce", &gGForceIndex, 35},                 {"bank", &gRollIndex, 15}};

  for (const InitCase& c : cases) {
    const std::string what = c.missingRows.empty() ? "all rows present" : "missing " + c.missingRows[0];
    gLandingDataPointCount = 7;
    gLandingDataBufferIndex = 4;
    gLastDataPointTime = 3.5f;
    xphost::ClearLog();
    {
      RenamedRows renamed(c.missingRows);
      InitLandingDetection();
    }
    EXPECT_EQ(xphost::LogLines(), c.lines) << what;
    for (const Row& row : rows) {
      bool missing = false;
      for (const std::string& name : c.missingRows) missing = missing || name == row.name;
      EXPECT_EQ(*row.index, missing ? -1 : row.catalogueIndex) << what << ", row " << row.name;
    }
    EXPECT_EQ(gLandingDataPointCount, 0) << what;
    EXPECT_EQ(gLandingDataBufferIndex, 0) << what;
    EXPECT_EQ(gLastDataPointTime, 0.0f) << what;
  }
}

TEST_F(LandingSamples, MissingRequiredRowLeavesTheDetectorSilentAndReadingNothing) {
  for (const char* name : {"xp_gear_on_ground", "groundAltitude", "time"}) {
    xphost::Reset();
    {
      RenamedRows renamed({name});
      StartDetection();
    }
    ArmAirborne(100.0f);
    const int readsBefore = xphost::TotalDataRefReads();
    for (double now : {5.0, 150.0, 600.0}) {
      EXPECT_EQ(DetectAt(now), 0) << name;
      SetGear(kParked);
    }
    EXPECT_TRUE(xphost::LogLines().empty()) << name;
    EXPECT_EQ(xphost::TotalDataRefReads(), readsBefore) << name;
    EXPECT_EQ(gLandingDataPointCount, 0) << name;
    EXPECT_EQ(gTakeoffDetected, 1) << name;
    EXPECT_EQ(gPreviousGearOnGround, 0) << name;
  }
}

TEST_F(LandingSamples, SamplesAreTakenAtLeastATenthOfASecondApartWithTheirLogLines) {
  StartDetection();
  SetFlightValues(3.048f, 1.25f, -480.0f, 2.6f);

  MarkLog();
  xphost::SetElapsedTime(0.05);
  CollectLandingDataPoint();
  EXPECT_EQ(LinesSinceMark(),
            (std::vector<std::string>{
                "Tralix - DEBUG: CollectLandingDataPoint - elapsed: 0.050, interval: 0.100, buffer idx: 0, count: 0",
                "Tralix - DEBUG: Not time for next data point yet"}));
  EXPECT_EQ(gLandingDataPointCount, 0);

  // The last sample time starts at 0.0, so the clock at exactly 0.1 takes one.
  MarkLog();
  xphost::SetElapsedTime(0.1);
  CollectLandingDataPoint();
  EXPECT_EQ(LinesSinceMark(),
            (std::vector<std::string>{
                "Tralix - DEBUG: CollectLandingDataPoint - elapsed: 0.100, interval: 0.100, buffer idx: 0, count: 0",
                "Tralix - Collected data point: alt=10.00, g=1.2500, vs=-480.00, roll=2.60 (Buffer: 1/10, WOW: No)",
                "Tralix - DEBUG: Data point collected at time 0.100, buffer index: 0, total points: 1"}));
  EXPECT_EQ(gLandingDataPoints[0].groundAltitude, 3.048f * 3.2808f) << "metres scaled by the row's multiplier";
  EXPECT_EQ(gLandingDataPoints[0].gForce, 1.25f);
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -480.0f);
  EXPECT_EQ(gLandingDataPoints[0].rollDegree, 2.6f);
  EXPECT_EQ(gLastDataPointTime, 0.1f);

  MarkLog();
  xphost::SetElapsedTime(0.15);
  CollectLandingDataPoint();
  EXPECT_EQ(LinesSinceMark().back(), "Tralix - DEBUG: Not time for next data point yet");
  EXPECT_EQ(gLandingDataPointCount, 1);

  gWeightOnWheelsDetected = 1;
  MarkLog();
  xphost::SetElapsedTime(0.3);
  CollectLandingDataPoint();
  EXPECT_EQ(LinesSinceMark().at(1),
            "Tralix - Collected data point: alt=10.00, g=1.2500, vs=-480.00, roll=2.60 (Buffer: 2/10, WOW: Yes)");
}

TEST_F(LandingSamples, TheEleventhSampleReplacesTheFirstInSlotZero) {
  StartDetection();
  for (int k = 1; k <= 11; ++k) {
    SetFlightValues(0.0f, 1.0f, static_cast<float>(-k), 0.0f);
    MarkLog();
    xphost::SetElapsedTime(k);
    CollectLandingDataPoint();
  }
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -11.0f);
  EXPECT_EQ(gLandingDataPoints[1].verticalSpeed, -2.0f);
  EXPECT_EQ(gLandingDataPoints[9].verticalSpeed, -10.0f);
  EXPECT_EQ(gLandingDataPointCount, 10);
  EXPECT_EQ(gLandingDataBufferIndex, 1);
  const std::vector<std::string> lines = LinesSinceMark();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "Tralix - DEBUG: CollectLandingDataPoint - elapsed: 1.000, interval: 0.100, buffer idx: 0, count: 10");
  EXPECT_EQ(lines[1],
            "Tralix - Collected data point: alt=0.00, g=1.0000, vs=-11.00, roll=0.00 (Buffer: 10/10, WOW: No)");
  EXPECT_EQ(lines[2], "Tralix - DEBUG: Data point collected at time 11.000, buffer index: 0, total points: 10");
}

TEST_F(LandingSamples, FlightResetEmptiesTheRingButKeepsItsSlotsAndLastSampleTime) {
  StartDetection();
  for (int k = 1; k <= 10; ++k) {
    SetFlightValues(0.0f, 1.0f, static_cast<float>(-k), 0.0f);
    xphost::SetElapsedTime(389.0 + k);
    CollectLandingDataPoint();
  }
  ASSERT_EQ(gLandingDataPointCount, 10);

  gTakeoffDetected = 1;
  gPreviousGearOnGround = 1;
  gTakeoffTime = 50.0f;
  SetGear(kParked);
  MarkLog();
  DetectAt(400.0);
  EXPECT_EQ(LinesSinceMark().back(), "Tralix - Takeoff detection reset (new flight session)");
  EXPECT_EQ(gLandingDataPointCount, 0);
  EXPECT_EQ(gLandingDataBufferIndex, 0);
  EXPECT_EQ(gLastDataPointTime, 399.0f);
  for (int slot = 0; slot < 10; ++slot) EXPECT_EQ(gLandingDataPoints[slot].verticalSpeed, -(slot + 1.0f)) << slot;

  SetFlightValues(0.0f, 1.0f, -99.0f, 0.0f);
  xphost::SetElapsedTime(401.0);
  CollectLandingDataPoint();
  EXPECT_EQ(gLandingDataPointCount, 1);
  EXPECT_EQ(gLandingDataBufferIndex, 1);
  EXPECT_EQ(gLandingDataPoints[0].verticalSpeed, -99.0f);
  for (int slot = 1; slot < 10; ++slot) EXPECT_EQ(gLandingDataPoints[slot].verticalSpeed, -(slot + 1.0f)) << slot;
}

using SampleField = float LandingDataPoint::*;

struct MissingOptionalCase {
  const char* rowName;
  const char* path;
  SampleField field;
};

TEST_F(LandingSamples, MissingOptionalRowGivesZeroInItsFieldWithoutReadingIt) {
  const MissingOptionalCase cases[] = {
      {"vertical_speed", kVerticalSpeedPath, &LandingDataPoint::verticalSpeed},
      {"Gforce", kGForcePath, &LandingDataPoint::gForce},
      {"bank", kBankPath, &LandingDataPoint::rollDegree},
  };
  for (const MissingOptionalCase& c : cases) {
    xphost::Reset();
    {
      RenamedRows renamed({c.rowName});
      StartDetection();
    }
    SetFlightValues(10.0f, 1.5f, -300.0f, 4.0f);
    const int readsBefore = xphost::DataRefReadCount(c.path);
    xphost::SetElapsedTime(1.0);
    CollectLandingDataPoint();
    EXPECT_EQ(gLandingDataPoints[0].*c.field, 0.0f) << c.rowName;
    EXPECT_EQ(gLandingDataPoints[0].groundAltitude, 10.0f * 3.2808f) << c.rowName;
    EXPECT_EQ(xphost::DataRefReadCount(c.path), readsBefore) << c.rowName;
  }
  EXPECT_TRUE(tralix_test::LogHasLine(
      "Tralix - Collected data point: alt=32.81, g=1.5000, vs=-300.00, roll=0.00 (Buffer: 1/10, WOW: No)"));
}

struct UnresolvedCase {
  const char* path;
  SampleField zeroField;  // null: every field keeps its value
  bool landingSeen;
};

// A row found by name whose dataref the simulator lacks reads as 0; the host
// is never handed the null handle.
TEST_F(LandingSamples, UnresolvedRowReadsAsZeroWithoutANullHandleReachingTheHost) {
  const UnresolvedCase cases[] = {
      {kGearPath, nullptr, false},  // never on the ground: no takeoff, no landing
      {kHeightPath, &LandingDataPoint::groundAltitude, true},
      {kRunningTimePath, nullptr, true},
      {kVerticalSpeedPath, &LandingDataPoint::verticalSpeed, true},
      {kGForcePath, &LandingDataPoint::gForce, true},
      {kBankPath, &LandingDataPoint::rollDegree, true},
  };
  for (const UnresolvedCase& c : cases) {
    xphost::Reset();
    StartDetection({c.path});
    ASSERT_GE(gGearOnGroundIndex, 0);
    DetectAt(20.0);
    SetGear(kAirborne);
    SetFlightValues(30.0f, 1.1f, -400.0f, 3.0f);
    DetectAt(30.0);
    for (int k = 1; k <= 10; ++k) DetectAt(30.0 + k);
    SetGear(kMainsDown);
    const int touchdowns = DetectAt(100.0);

    EXPECT_EQ(xphost::NullDataRefReads(), 0) << c.path;
    EXPECT_EQ(tralix_test::LogHasLine("Tralix - Failed to send landing event"), c.landingSeen) << c.path;
    EXPECT_EQ(touchdowns, c.landingSeen ? 1 : 0) << c.path;
    if (!c.landingSeen) continue;
    ASSERT_EQ(gLandingDataPointCount, 10) << c.path;
    const LandingDataPoint& sample = gLandingDataPoints[0];
    const LandingDataPoint published = {30.0f * 3.2808f, 1.1f, -400.0f, 3.0f};
    for (SampleField field : {&LandingDataPoint::groundAltitude, &LandingDataPoint::gForce,
                              &LandingDataPoint::verticalSpeed, &LandingDataPoint::rollDegree})
      EXPECT_EQ(sample.*field, field == c.zeroField ? 0.0f : published.*field) << c.path;
  }
}

}  // namespace
