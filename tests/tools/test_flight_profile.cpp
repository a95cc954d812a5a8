// The flight-profile parser: what a valid file yields, held values, and the
// file:line messages for bad input.
#include "FlightProfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using flight_profile::LoadProfile;
using flight_profile::ParseProfile;
using flight_profile::Profile;
using flight_profile::Value;
using flight_profile::ValueType;

namespace {

Profile ParseOrFail(const std::string& text) {
  Profile profile;
  std::string error;
  EXPECT_TRUE(ParseProfile(text, "test.flight", &profile, &error)) << error;
  return profile;
}

TEST(FlightProfileParser, ReadsEveryTypeAndMergesRowsOfTheSameTime) {
  const Profile profile = ParseOrFail(
      "# a comment line\r\n"
      "dataref lat   float    sim/flightmodel/position/latitude   # trailing comment\r\n"
      "dataref beacon int     sim/cockpit2/switches/beacon_on\n"
      "dataref gear  int[3]   sim/flightmodel2/gear/on_ground\n"
      "dataref power float[2] sim/flightmodel/engine/ENGN_power\n"
      "dataref name  bytes    sim/aircraft/view/acf_ui_name\n"
      "dataref icao  bytes    sim/aircraft/view/acf_ICAO\n"
      "\n"
      "0     lat=47.4491 gear=1,1,1 name=\"Cessna \\\"Skyhawk\\\" #1 \\\\ C\" icao=C172\n"
      "0     beacon=1 power=0.25,-1e3\n"
      "12.5  lat=-47.5 gear=0,1,-1\n"
      "end 30\n");

  ASSERT_EQ(profile.datarefs.size(), 6u);
  EXPECT_EQ(profile.datarefs[2].alias, "gear");
  EXPECT_EQ(profile.datarefs[2].path, "sim/flightmodel2/gear/on_ground");
  EXPECT_EQ(profile.datarefs[2].type, ValueType::IntArray);
  EXPECT_EQ(profile.datarefs[2].count, 3);
  EXPECT_EQ(profile.datarefs[3].type, ValueType::FloatArray);
  EXPECT_EQ(profile.datarefs[4].type, ValueType::Bytes);

  ASSERT_EQ(profile.rows.size(), 2u) << "the two rows at time 0 are one moment";
  EXPECT_EQ(profile.rows[0].assignments.size(), 6u);
  EXPECT_EQ(profile.rows[1].time, 12.5);
  EXPECT_EQ(profile.endTime, 30.0);

  const Value* name = profile.ValueAt(profile.FindDataRef("name"), 0.0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->bytes, "Cessna \"Skyhawk\" #1 \\ C");
  EXPECT_EQ(profile.ValueAt(profile.FindDataRef("icao"), 0.0)->bytes, "C172");
  EXPECT_EQ(profile.ValueAt(profile.FindDataRef("power"), 0.0)->floats, (std::vector<float>{0.25f, -1000.0f}));
  EXPECT_EQ(profile.ValueAt(profile.FindDataRef("gear"), 12.5)->ints, (std::vector<int>{0, 1, -1}));
}

TEST(FlightProfileParser, ValuesHoldUntilTheNextRowThatSetsThem) {
  const Profile profile = ParseOrFail(
      "dataref vs float sim/cockpit2/gauges/indicators/vvi_fpm_pilot\n"
      "dataref agl float sim/flightmodel/position/y_agl\n"
      "5  vs=-300 agl=20\n"
      "10 agl=10\n"
      "15 vs=-150\n");
  const int vs = profile.FindDataRef("sim/cockpit2/gauges/indicators/vvi_fpm_pilot");
  const int agl = profile.FindDataRef("agl");
  EXPECT_EQ(profile.FindDataRef("nothing"), -1);

  EXPECT_EQ(profile.ValueAt(vs, 4.999), nullptr) << "nothing is held before the first row";
  EXPECT_EQ(profile.ValueAt(vs, 5.0)->floats[0], -300.0f);
  EXPECT_EQ(profile.ValueAt(vs, 14.9)->floats[0], -300.0f) << "the row at 10 does not set vs";
  EXPECT_EQ(profile.ValueAt(agl, 14.9)->floats[0], 10.0f);
  EXPECT_EQ(profile.ValueAt(vs, 15.0)->floats[0], -150.0f);
  EXPECT_EQ(profile.ValueAt(vs, 1e9)->floats[0], -150.0f);
  EXPECT_EQ(profile.endTime, 15.0) << "without an end line the profile ends at its last row";
}

struct BadInput {
  const char* text;
  const char* error;
};

TEST(FlightProfileParser, BadInputIsReportedWithFileAndLine) {
  const BadInput cases[] = {
      {"fly 12\n", "test.flight:1: expected 'dataref', 'end' or a time in seconds, got 'fly'"},
      {"\n\ndataref x double a/x\n", "test.flight:3: unknown type 'double' (float, int, float[N], int[N] or bytes)"},
      {"dataref x int[0] a/x\n", "test.flight:1: array size in 'int[0]' must be a whole number from 1 to 1024"},
      {"dataref x bytes[2] a/x\n", "test.flight:1: unknown type 'bytes[2]' (float, int, float[N], int[N] or bytes)"},
      {"dataref 9x float a/x\n",
       "test.flight:1: alias '9x' must be letters, digits and '_', not starting with a digit"},
      {"dataref x float\n", "test.flight:1: expected 'dataref <alias> <type> <path>'"},
      {"dataref x float a/x\ndataref x int a/y\n", "test.flight:2: alias 'x' already declared on line 1"},
      {"dataref x float a/x\ndataref y int a/x\n", "test.flight:2: dataref a/x already declared on line 1"},
      {"dataref x float a/x\n0 y=1\n", "test.flight:2: unknown alias 'y' (declare it with a 'dataref' line first)"},
      {"0 f=1\ndataref f float a/f\n", "test.flight:1: unknown alias 'f' (declare it with a 'dataref' line first)"},
      {"dataref f float a/f\n0 f 1\n", "test.flight:2: expected alias=value, got 'f'"},
      {"dataref f float a/f\n0 =1\n", "test.flight:2: expected alias=value, got '=1'"},
      {"dataref f float a/f\n0 f=\n", "test.flight:2: 'f' has no value"},
      {"dataref f float a/f\n-1 f=1\n", "test.flight:2: time -1 is negative"},
      {"dataref f float a/f\n2 f=1\n1.5 f=2\n", "test.flight:3: time 1.5 goes back before the previous row"},
      {"dataref f float a/f\n2\n", "test.flight:2: a row needs at least one alias=value after its time"},
      {"dataref f float a/f\n2 f=1\n2 f=3\n", "test.flight:3: 'f' is set twice at time 2 (also on line 2)"},
      {"dataref g int[3] a/g\n0 g=1,1\n", "test.flight:2: 'g' takes 3 comma-separated values, got 2"},
      {"dataref g int[3] a/g\n0 g=1,,1\n", "test.flight:2: '' is not a whole number in int range for int array 'g'"},
      {"dataref f float a/f\n0 f=abc\n", "test.flight:2: 'abc' is not a finite number for float 'f'"},
      {"dataref f float a/f\n0 f=nan\n", "test.flight:2: 'nan' is not a finite number for float 'f'"},
      {"dataref f float a/f\n0 f=1e39\n", "test.flight:2: '1e39' is not a finite number for float 'f'"},
      {"dataref f float a/f\n0 f=1,5\n", "test.flight:2: 'f' takes 1 comma-separated value, got 2"},
      {"dataref i int a/i\n0 i=1.5\n", "test.flight:2: '1.5' is not a whole number in int range for int 'i'"},
      {"dataref i int a/i\n0 i=3000000000\n",
       "test.flight:2: '3000000000' is not a whole number in int range for int 'i'"},
      {"dataref s bytes a/s\n0 s=\"open\n", "test.flight:2: unterminated quoted text"},
      {"dataref s bytes a/s\n0 s=\"a\\n\"\n", "test.flight:2: only \\\" and \\\\ may be escaped in the value of 's'"},
      {"dataref s bytes a/s\n0 s=\"a\"b\n", "test.flight:2: text after the closing quote in the value of 's'"},
      {"dataref s bytes a/s\n0 s=a\"b\"\n", "test.flight:2: stray quote in the value of 's'"},
      {"dataref f float a/f\n0 f=1\nend 5\n6 f=2\n", "test.flight:4: nothing may follow the 'end' line"},
      {"dataref f float a/f\n9 f=1\nend 5\n", "test.flight:3: end 5 is before the last row"},
      {"dataref f float a/f\n0 f=1\nend soon\n", "test.flight:3: expected 'end <seconds>'"},
      {"", "test.flight:1: the profile has no rows of values"},
      {"# only\ndataref f float a/f\n\n", "test.flight:3: the profile has no rows of values"},
  };
  for (const BadInput& bad : cases) {
    Profile profile;
    std::string error;
    EXPECT_FALSE(ParseProfile(bad.text, "test.flight", &profile, &error)) << bad.text;
    EXPECT_EQ(error, bad.error) << bad.text;
  }
}

TEST(FlightProfileParser, LoadNamesTheFileThatCannotBeRead) {
  Profile profile;
  std::string error;
  EXPECT_FALSE(LoadProfile("/nonexistent/circuit.flight", &profile, &error));
  EXPECT_EQ(error, "/nonexistent/circuit.flight: cannot be opened");
}

}  // namespace
