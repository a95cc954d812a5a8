// Landing detector: every transition of its state table, the time and gear
// boundaries, the cool-down, and what a touchdown hands to the uploader.
#include "test_landing_fixture.h"

#include "CFStandInTesting.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace landing_test;

// The request body the uploader formatted last (the service client's buffer).
extern char gJsonBuffer[];

namespace {

constexpr char kGearChangePrefix[] = "Tralix - Gear state changed:";
constexpr char kTakeoffPrefix[] = "Tralix - Takeoff detected!";
constexpr char kLandingPrefix[] = "Tralix - Weight on wheels detected!";
constexpr char kHandOverPrefix[] = "Tralix - DEBUG: Sending landing event with buffer data at time";
constexpr char kResetLine[] = "Tralix - Takeoff detection reset (new flight session)";
constexpr char kCooldownLine[] = "Tralix - DEBUG: Still in landing cooldown period";
constexpr char kNoTokenLine[] = "Tralix - ERROR: DATA_KEY_TOKEN is not set. Cannot send landing event.";

class LandingDetector : public LandingTest {
 protected:
  void SetUp() override {
    LandingTest::SetUp();
    StartDetection();
  }

  // Airborne calls half a second apart up to lastSampleTime; while armed each
  // stores a sample, with vertical speeds -1, -2, ... in the order taken.
  void FlySamples(int count, double lastSampleTime) {
    SetGear(kAirborne);
    for (int k = 1; k <= count; ++k) {
      SetFlightValues(10.0f, 1.0f, static_cast<float>(-k), 0.0f);
      DetectAt(lastSampleTime - 0.5 * (count - k));
    }
  }

  void FillRing() {
    for (LandingDataPoint& slot : gLandingDataPoints) slot = {1.0f, 1.0f, -1.0f, 0.0f};
    gLandingDataPointCount = 10;
    gLandingDataBufferIndex = 0;
  }
};

enum Effect : unsigned {
  kNothing = 0,
  kGearChange = 1,
  kTakeoff = 2,
  kSampleAttempt = 4,
  kLanding = 8,
  kHandOver = 16,
  kReset = 32,
};

struct TransitionCase {
  const char* what;
  int armedBefore;
  int onGroundBefore;
  bool onGroundNow;
  float flightTime;  // now - takeoff time; disarmed rows use a takeoff time of 0.0
  unsigned effects;
  int result;
  int armedAfter;
  int onGroundAfter;
};

TEST_F(LandingDetector, EveryTransitionOfTheStateTable) {
  constexpr float kNow = 1000.0f;
  constexpr float kAny = kNow;
  const TransitionCase cases[] = {
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

  for (const TransitionCase& c : cases) {
    FillRing();
    gLastLandingTime = 0.0f;
    gWeightOnWheelsDetected = 0;
    gTakeoffDetected = c.armedBefore;
    gPreviousGearOnGround = c.onGroundBefore;
    const float takeoffBefore = c.armedBefore ? kNow - c.flightTime : 0.0f;
    gTakeoffTime = takeoffBefore;
    SetGear(c.onGroundNow ? kParked : kAirborne);

    MarkLog();
    EXPECT_EQ(DetectAt(kNow), c.result) << c.what;
    const std::vector<std::string> lines = LinesSinceMark();
    ASSERT_GE(lines.size(), 2u) << c.what;
    EXPECT_TRUE(StartsWith(lines[0], "Tralix - DEBUG: DetectLandingEvent called at 1000.000,")) << c.what;
    EXPECT_TRUE(StartsWith(lines[1], "Tralix - DEBUG: Current state - Alt:")) << c.what;
    for (const auto& [effect, prefix] : markers)
      EXPECT_EQ(CountLinesStartingWith(lines, prefix), (c.effects & effect) ? 1 : 0) << c.what << ": " << prefix;

    EXPECT_EQ(gTakeoffDetected, c.armedAfter) << c.what;
    EXPECT_EQ(gPreviousGearOnGround, c.onGroundAfter) << c.what;
    const float expectedTakeoffTime = (c.effects & kReset) ? 0.0f : (c.effects & kTakeoff) ? kNow : takeoffBefore;
    EXPECT_EQ(gTakeoffTime, expectedTakeoffTime) << c.what;
    EXPECT_EQ(gLastLandingTime, (c.effects & kLanding) ? kNow : 0.0f) << c.what;
    EXPECT_EQ(gLandingDataPointCount, (c.effects & kReset) ? 0 : 10) << c.what;
    EXPECT_EQ(gWeightOnWheelsDetected, 0) << c.what << ": cleared by the hand-over or never set";
  }
}

struct CooldownCase {
  const char* what;
  float lastLanding;
  double now;
  bool inCooldown;
};

TEST_F(LandingDetector, CooldownEndsAtExactlyTenSeconds) {
  const CooldownCase cases[] = {
      {"first seconds after start", 0.0f, 9.9, true},
      {"ten seconds after start", 0.0f, 10.0, false},
      {"just inside the cool-down", 100.0f, 109.99, true},
      {"exactly ten seconds after a landing", 100.0f, 110.0, false},
  };
  for (const CooldownCase& c : cases) {
    gLastLandingTime = c.lastLanding;
    gPreviousGearOnGround = 0;
    SetGear(kParked);  // a change the detector would see if it looked
    const int gearReadsBefore = xphost::DataRefReadCount(kGearPath);
    MarkLog();
    const int result = DetectAt(c.now);
    const std::vector<std::string> lines = LinesSinceMark();
    EXPECT_EQ(result, c.inCooldown ? 0 : 1) << c.what;
    EXPECT_EQ(lines.size() == 2 && lines[1] == kCooldownLine, c.inCooldown) << c.what;
    EXPECT_EQ(xphost::DataRefReadCount(kGearPath) == gearReadsBefore, c.inCooldown) << c.what;
    EXPECT_EQ(gPreviousGearOnGround, c.inCooldown ? 0 : 1) << c.what;
  }
  EXPECT_TRUE(tralix_test::LogHasLine(
      "Tralix - DEBUG: DetectLandingEvent called at 109.990, last landing: 100.000, cooldown: 9.990"));
}

struct FlightTimeCase {
  const char* what;
  int onGroundBefore;  // 0: this call is the touchdown; 1: already down, waiting for the reset
  double now;          // takeoff at 100.0
  bool landingAccepted;
  bool reset;
};

TEST_F(LandingDetector, FlightTimeBoundaries) {
  const double justAbove400 = std::nextafter(400.0f, 500.0f);
  const FlightTimeCase cases[] = {
      {"a hop of 59.9 s is not a landing", 0, 159.9, false, false},
      {"a flight of exactly 60.0 s is", 0, 160.0, true, false},
      {"landing after exactly 300.0 s keeps the detector armed", 0, 400.0, true, false},
      {"landing just above 300 s resets in the same call", 0, justAbove400, true, true},
      {"on the ground exactly 300.0 s after takeoff: no reset", 1, 400.0, false, false},
      {"on the ground just above 300 s: reset", 1, justAbove400, false, true},
  };
  for (const FlightTimeCase& c : cases) {
    FillRing();
    gLastLandingTime = 0.0f;
    gTakeoffDetected = 1;
    gTakeoffTime = 100.0f;
    gPreviousGearOnGround = c.onGroundBefore;
    SetGear(kMainsDown);
    MarkLog();
    EXPECT_EQ(DetectAt(c.now), c.onGroundBefore ? 0 : 1) << c.what;
    const std::vector<std::string> lines = LinesSinceMark();
    EXPECT_EQ(CountLinesStartingWith(lines, kLandingPrefix), c.landingAccepted ? 1 : 0) << c.what;
    EXPECT_EQ(CountLinesStartingWith(lines, kResetLine), c.reset ? 1 : 0) << c.what;
    EXPECT_EQ(gTakeoffDetected, c.reset ? 0 : 1) << c.what;
    if (!c.landingAccepted && !c.reset) {
      const size_t expectedLines = c.onGroundBefore ? 2 : 3;  // the gear change is the only trace of a short hop
      EXPECT_EQ(lines.size(), expectedLines) << c.what;
    }
  }
}

struct GearCase {
  const char* what;
  std::vector<int> values;
  bool onGround;
};

TEST_F(LandingDetector, OnTheGroundMeansSomeGearReportsExactlyOne) {
  const GearCase cases[] = {
      {"a lone 1 in element 7", {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, true},
      {"a 1 in the last element", {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, true},
      {"values of 2 only", {2, 2, 2, 0, 0, 0, 0, 0, 0, 0}, false},
      {"negative values", {-1, -1, -1, 0, 0, 0, 0, 0, 0, 0}, false},
      {"all zero", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
  };
  for (const GearCase& c : cases) {
    gPreviousGearOnGround = 0;
    SetGear(c.values);
    MarkLog();
    EXPECT_EQ(DetectAt(50.0), c.onGround ? 1 : 0) << c.what;
    const std::string expectedState =
        std::string("Tralix - DEBUG: Current state - Alt: 0.0, Gear: ") + (c.onGround ? "On" : "Off") +
        ", Takeoff: No, WOW: No";
    EXPECT_EQ(LinesSinceMark().at(1), expectedState) << c.what;
  }
}

TEST_F(LandingDetector, GearElementsTheHostDoesNotFillKeepTheirLastValues) {
  SetGear({0, 0, 0, 0, 0, 0, 0, 1, 0, 0});
  EXPECT_EQ(DetectAt(50.0), 1);
  SetGear({0, 0, 0});  // an aircraft that publishes three gear only
  MarkLog();
  DetectAt(51.0);
  EXPECT_EQ(LinesSinceMark().at(1), "Tralix - DEBUG: Current state - Alt: 0.0, Gear: On, Takeoff: No, WOW: No");
}

TEST_F(LandingDetector, FirstLookAtAParkedAircraftReportsATouchdownAndNothingElse) {
  MarkLog();
  EXPECT_EQ(DetectAt(12.5), 1);
  EXPECT_EQ(LinesSinceMark(),
            (std::vector<std::string>{
                "Tralix - DEBUG: DetectLandingEvent called at 12.500, last landing: 0.000, cooldown: 12.500",
                "Tralix - DEBUG: Current state - Alt: 0.0, Gear: On, Takeoff: No, WOW: No",
                "Tralix - Gear state changed: Airborne -> On Ground (Altitude AGL: 0.0 ft)"}));
  EXPECT_EQ(gTakeoffDetected, 0);
}

TEST_F(LandingDetector, TwentyMinuteFlightHandsOverThenResetsInTheTouchdownCall) {
  DetectAt(20.0);
  SetGear(kAirborne);
  SetFlightValues(0.5f, 1.0f, 700.0f, 0.0f);
  MarkLog();
  DetectAt(30.0);
  EXPECT_EQ(LinesSinceMark().at(2), "Tralix - Gear state changed: On Ground -> Airborne (Altitude AGL: 1.6 ft)");
  EXPECT_EQ(LinesSinceMark().at(3), "Tralix - Takeoff detected! (Altitude AGL: 1.6 ft)");
  FlySamples(10, 1229.0);

  SetGear(kMainsDown);
  SetFlightValues(0.3048f, 1.3f, -150.0f, 1.0f);
  MarkLog();
  EXPECT_EQ(DetectAt(1230.0), 1);
  EXPECT_EQ(LinesSinceMark(),
            (std::vector<std::string>{
                "Tralix - DEBUG: DetectLandingEvent called at 1230.000, last landing: 0.000, cooldown: 1230.000",
                "Tralix - DEBUG: Current state - Alt: 1.0, Gear: On, Takeoff: Yes, WOW: No",
                "Tralix - Gear state changed: Airborne -> On Ground (Altitude AGL: 1.0 ft)",
                "Tralix - Weight on wheels detected! Gear values: [0,1,1,0,0,0,0,0,0,0] "
                "(Altitude AGL: 1.0 ft, Flight time: 1200.0 seconds)",
                "Tralix - DEBUG: WOW detected at time 1230.000, buffer points: 10",
                "Tralix - DEBUG: Sending landing event with buffer data at time 1230.000",
                kNoTokenLine,
                "Tralix - Failed to send landing event",
                "Tralix - DEBUG: Landing event processing complete, state reset",
                kResetLine}));
  EXPECT_EQ(gTakeoffDetected, 0);
  EXPECT_EQ(gWeightOnWheelsDetected, 0);
  EXPECT_EQ(gLastLandingTime, 1230.0f);
}

TEST_F(LandingDetector, TheUploaderGetsTheRingOldestFirstStartingAtTheWriteIndex) {
  gTakeoffDetected = 1;
  gTakeoffTime = 900.0f;
  gPreviousGearOnGround = 0;
  FlySamples(13, 1000.0);  // thirteen samples: the ring has wrapped to write index 3
  ASSERT_EQ(gLandingDataBufferIndex, 3);
  LandingDataPoint ringBefore[10];
  for (int slot = 0; slot < 10; ++slot) ringBefore[slot] = gLandingDataPoints[slot];

  SetGear(kMainsDown);
  MarkLog();
  EXPECT_EQ(DetectAt(1001.0), 1);
  const std::vector<std::string> lines = LinesSinceMark();
  EXPECT_EQ(CountLinesStartingWith(lines, kNoTokenLine), 1) << "the uploader was called once";

  const LandingDataPoint* handedOver = LastOrderedLandingPoints();
  for (int k = 0; k < 10; ++k) {
    const int slot = (3 + k) % 10;
    EXPECT_EQ(handedOver[k].verticalSpeed, -(k + 4.0f)) << "position " << k << " is the sample taken " << k + 4 << "th";
    EXPECT_EQ(handedOver[k].verticalSpeed, ringBefore[slot].verticalSpeed) << k;
  }
  EXPECT_EQ(gLandingDataBufferIndex, 3) << "handing over does not empty the ring";
  EXPECT_EQ(gLandingDataPointCount, 10);
  for (int slot = 0; slot < 10; ++slot)
    EXPECT_EQ(gLandingDataPoints[slot].verticalSpeed, ringBefore[slot].verticalSpeed) << slot;
}

TEST_F(LandingDetector, TheEventBodyCarriesTheTouchdownValuesAndTheTenSamplesInOrder) {
  std::snprintf(gDataKeyToken, sizeof(gDataKeyToken), "%s", "token-for-the-body");
  CFStandInFailNextCalls("CFReadStreamCreateForHTTPRequest", 1);  // body built, nothing sent
  gTakeoffDetected = 1;
  gTakeoffTime = 900.0f;
  gPreviousGearOnGround = 0;
  FlySamples(13, 1000.0);
  SetGear(kMainsDown);
  SetFlightValues(0.98f, 1.2f, -150.0f, 2.0f);
  MarkLog();
  EXPECT_EQ(DetectAt(1001.0), 1);
  EXPECT_EQ(CountLinesStartingWith(LinesSinceMark(), "Tralix - Failed to send landing event"), 1);

  const nlohmann::json body = nlohmann::json::parse(gJsonBuffer);
  EXPECT_EQ(body["event"], "LandingRate");
  EXPECT_EQ(std::stod(body["data"]["verticalSpeed"].get<std::string>()), -150.0);
  EXPECT_EQ(std::stod(body["data"]["altitude"].get<std::string>()), 3.2);
  const nlohmann::json& points = body["data"]["points"];
  ASSERT_EQ(points.size(), 10u);
  for (size_t k = 0; k < points.size(); ++k)
    EXPECT_EQ(points[k]["verticalSpeed"].get<double>(), -(k + 4.0)) << "point " << k;
}

TEST_F(LandingDetector, LandingWithoutAFullRingSendsNothingAndKeepsWeightOnWheels) {
  gTakeoffDetected = 1;
  gTakeoffTime = 900.0f;
  gPreviousGearOnGround = 0;
  FlySamples(9, 1000.0);
  SetGear(kMainsDown);
  MarkLog();
  EXPECT_EQ(DetectAt(1001.0), 1);
  const std::vector<std::string> lines = LinesSinceMark();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "Tralix - DEBUG: WOW detected at time 1001.000, buffer points: 9");
  EXPECT_EQ(lines[5], "Tralix - DEBUG: Not enough data points for landing event (9/10)");
  EXPECT_EQ(gWeightOnWheelsDetected, 1);
  EXPECT_EQ(gLastLandingTime, 1001.0f);

  MarkLog();
  DetectAt(1011.0);
  EXPECT_EQ(LinesSinceMark().at(1), "Tralix - DEBUG: Current state - Alt: 32.8, Gear: On, Takeoff: Yes, WOW: Yes");
}

TEST_F(LandingDetector, TouchAndGoWithinTheCooldownIsNotASecondLanding) {
  gTakeoffDetected = 1;
  gTakeoffTime = 100.0f;
  gPreviousGearOnGround = 0;
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
  EXPECT_EQ(CountLinesStartingWith(LinesSinceMark(), kCooldownLine), 4);
  EXPECT_EQ(LinesSinceMark().size(), 8u);
  EXPECT_EQ(xphost::DataRefReadCount(kGearPath), gearReadsBefore);

  // Still airborne when the cool-down ends: that is a new takeoff.
  MarkLog();
  EXPECT_EQ(DetectAt(210.0), 0);
  EXPECT_EQ(CountLinesStartingWith(LinesSinceMark(), kTakeoffPrefix), 1);
  EXPECT_EQ(gTakeoffTime, 210.0f);
  EXPECT_EQ(CountLinesStartingWith(xphost::LogLines(), kLandingPrefix), 1);
}

}  // namespace
