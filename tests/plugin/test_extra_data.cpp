// The dataref catalogue (resolution at start-up, lookup by name, reading only
// what X-Plane publishes), the extra-data encoder and the number and string
// helpers every request body uses. That encoding allocates nothing is proven by the flight-loop allocation
// check in bench/, which charges every allocation a sending cycle makes; that
// every buffer size gives a whole object holding a prefix of the entries,
// fuzz_extra_data checks; the number formatter's digits, fuzz_json_text, with a
// seed at each of its boundaries.
#include "DataRefs.h"
#include "NetworkManager.h"

#include "PluginTestSupport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

namespace {

using OrderedJson = nlohmann::ordered_json;

// The broadcast carries the object as a JSON string, which the service decodes
// and parses again.
OrderedJson ParseTwice(const std::string& escaped) {
  return OrderedJson::parse(nlohmann::json::parse("\"" + escaped + "\"").get<std::string>());
}

std::string Build(size_t outSize = kExtraDataBufferSize) {
  std::vector<char> out(outSize + 1, '#');
  const int length = BuildExtraDataJSON(out.data(), outSize);
  EXPECT_LT(static_cast<size_t>(length), outSize);
  EXPECT_EQ(std::strlen(out.data()), static_cast<size_t>(length));
  EXPECT_EQ(out[outSize], '#') << "wrote past the buffer";
  return std::string(out.data(), static_cast<size_t>(length));
}

size_t CountLines(const std::string& line) {
  const std::vector<std::string> lines = xphost::LogLines();
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

const char kBufferFullWarning[] = "Tralix - WARNING: Extra data buffer is getting full, some data will be omitted";

// One flight's values and the entries they must produce, in catalogue order.
enum Kind { kInt, kFloat, kInts, kFloats };
struct KnownRow {
  const char* path;
  Kind kind;
  std::vector<float> values;
  const char* entry;
};
constexpr int kGearRow = 8;
const std::vector<KnownRow> kKnownFlight = {
    {"sim/cockpit2/switches/taxi_light_on", kInt, {0}, "\"L_taxi\":0"},
    {"sim/flightmodel/position/groundspeed", kFloat, {5.0f}, "\"groundSpeed\":9.72"},
    {"sim/cockpit2/controls/parking_brake_ratio", kFloat, {1.0f}, "\"xp_parking_brake_ratio\":1.00"},
    {"sim/flightmodel2/gear/on_ground", kInts, {1, 1, 1}, "\"xp_gear_on_ground\":[1,1,1,0,0,0,0,0,0,0]"},
    {"sim/flightmodel/position/latitude", kFloat, {47.449f}, "\"latitude\":47.45"},
    {"sim/weather/wind_direction_degt", kFloat, {270.0f}, "\"xp_ambient_wind_direction\":270.00"},
    {"sim/weather/wind_speed_kt", kFloat, {10.0f}, "\"xp_ambient_wind_velocity\":19.44"},
    {"sim/flightmodel/failures/over_vne", kInt, {1}, "\"Overspeed\":1.00"},
    {"sim/cockpit/switches/gear_handle_status", kInt, {1}, "\"Gear\":1"},
    {"sim/cockpit2/switches/beacon_on", kInt, {1}, "\"L_beacon\":1"},
    {"sim/weather/aircraft/wind_now_speed_msc", kFloat, {5.0f}, "\"xp_aircraft_wind_velocity\":[9.72]"},
    {"sim/cockpit2/switches/landing_lights_on", kInt, {0}, "\"L_landing\":0"},
    {"sim/flightmodel/weight/m_total", kFloat, {1043.3f}, "\"total_weight\":1043.30"},
    {"sim/flightmodel/failures/stallwarning", kInt, {1}, "\"Stall\":1.00"},
    {"sim/flightmodel/engine/ENGN_power", kFloats, {65000.25f, 1234567.0f},
     "\"xp_engn_power\":[65000.25,1234567.0000000000,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,"
     "0.00,0.00,0.00,0.00]"},
    {"sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot", kFloat, {-2.5f}, "\"bank\":-2.5000000000"},
    {"sim/flightmodel/position/y_agl", kFloat, {10.0f}, "\"groundAltitude\":32.81"},
    {"sim/flightmodel/position/longitude", kFloat, {-122.309f}, "\"longitude\":-122.3089981079"},
    {"sim/flightmodel2/wing/spoiler1_deg", kFloats, {12.5f, 3.0f}, "\"Spoilers\":12.50"},
    {"sim/flightmodel/position/psi", kFloat, {163.5f}, "\"heading\":163.50"},
    {"sim/time/paused", kInt, {1}, "\"xp_paused\":1.00"},
    {"sim/cockpit2/controls/speedbrake_ratio", kFloat, {-0.5f}, "\"Spoilers_armed\":1.00"},
    {"sim/flightmodel/weight/m_fuel_total", kFloat, {150.75f}, "\"Fuel\":150.75"},
    {"sim/cockpit2/gauges/indicators/vvi_fpm_pilot", kFloat, {-500.0f}, "\"vertical_speed\":-500.0000000000"},
    {"sim/flightmodel/position/indicated_airspeed", kFloat, {95.2f}, "\"indicated_speed\":95.20"},
    {"sim/cockpit2/controls/flap_ratio", kFloat, {0.5f}, "\"Flaps\":0.50"},
    {"sim/weather/aircraft/wind_now_direction_degt", kFloat, {271.0f}, "\"xp_aircraft_wind_direction\":[271.00]"},
    {"sim/cockpit2/gauges/indicators/pitch_AHARS_deg_pilot", kFloat, {2.25f}, "\"pitch\":2.25"},
    {"sim/cockpit2/gauges/indicators/altitude_ft_pilot", kFloat, {1500.0f}, "\"altitude\":1500.00"},
    {"sim/cockpit2/switches/navigation_lights_on", kInt, {1}, "\"L_nav\":1"},
    {"sim/time/total_running_time_sec", kFloat, {1234.5f}, "\"time\":1234.50"},
    {"sim/cockpit2/radios/actuators/transponder_mode", kInt, {2}, "\"Transponder\":2"},
    {"sim/flightmodel/position/true_airspeed", kFloat, {50.0f}, "\"airspeed\":97.19"},
    {"sim/cockpit2/switches/strobe_lights_on", kInt, {1}, "\"L_strobe\":1"},
    {"sim/cockpit/radios/transponder_code", kInt, {7000}, "\"Transponder_code\":7000"},
    {"sim/flightmodel/forces/g_nrml", kFloat, {1.02f}, "\"Gforce\":1.02"},
    {"sim/cockpit2/gauges/indicators/radio_altimeter_height_ft_pilot", kFloat, {5e-7f},
     "\"radio_altimeter\":0.0000005000"},
};

// Publishes the known flight except the rows listed, resolves the catalogue
// and returns the escaped text the encoder must produce.
std::string StartWithKnownFlight(const std::vector<int>& missing = {}) {
  xphost::Reset();
  const auto left = [&](int i) { return std::find(missing.begin(), missing.end(), i) != missing.end(); };
  std::string object;
  for (int i = 0; i < static_cast<int>(kKnownFlight.size()); ++i) {
    const KnownRow& row = kKnownFlight[static_cast<size_t>(i)];
    if (left(i)) continue;
    object += std::string(object.empty() ? "" : ",") + row.entry;
    const std::vector<int> ints(row.values.begin(), row.values.end());
    if (row.kind == kInt) xphost::SetDatai(row.path, ints[0]);
    if (row.kind == kFloat) xphost::SetDataf(row.path, row.values[0]);
    if (row.kind == kInts) xphost::SetDatavi(row.path, ints);
    if (row.kind == kFloats) xphost::SetDatavf(row.path, row.values);
  }
  InitDataRefs();
  std::string escaped;
  for (char c : "{" + object + "}") escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
  return escaped;
}

// Rows whose datarefs the simulator lacks leave no trace.
TEST(ExtraData, KnownFlightGivesExactTextWithMissingRowsLeftOut) {
  for (const std::vector<int>& missing : std::vector<std::vector<int>>{
           {}, {0}, {36}, {14}, {0, 1, 2}, {0, 36}, {kGearRow}, {3, 10, 14, 26}, {35, 36}}) {
    SCOPED_TRACE(testing::PrintToString(missing));
    const std::string expected = StartWithKnownFlight(missing);
    EXPECT_EQ(Build(), expected);
  }
  EXPECT_EQ(CountLines(kBufferFullWarning), 0u);
  xphost::Reset();
  InitDataRefs();  // nothing published at all
  EXPECT_EQ(Build(), "{}");
}

// X-Plane 11 has 8 engines where 12 has 16: the rest are 0, not what the
// scratch array held from the last broadcast.
TEST(ExtraData, ShortArrayReadsNeverShowEarlierValues) {
  for (const xphost::XPlaneVersion version : {xphost::XPlaneVersion::XP12, xphost::XPlaneVersion::XP11}) {
    xphost::Reset();
    xphost::SetXPlaneVersion(version);
    xphost::SetDatavf("sim/flightmodel/engine/ENGN_power", std::vector<float>(16, 7.0f));
    InitDataRefs();
    const OrderedJson powers = ParseTwice(Build())["xp_engn_power"];
    ASSERT_EQ(powers.size(), 16u);
    EXPECT_EQ(std::count(powers.begin(), powers.end(), 7.0), version == xphost::XPlaneVersion::XP12 ? 16 : 8);
  }
}

// Rows X-Plane publishes as another type than they send: what each sends.
TEST(ExtraData, ConvertedRowsSendWhatTheirDataRefsSay) {
  struct Case {
    const char* path;
    std::vector<float> published;
    const char* key;
    const char* sent;
  };
  const Case cases[] = {
      {"sim/cockpit2/controls/speedbrake_ratio", {0.0f}, "Spoilers_armed", "0.0"},
      {"sim/cockpit2/controls/speedbrake_ratio", {-0.01f}, "Spoilers_armed", "1.0"},
      {"sim/flightmodel/failures/over_vne", {0.0f}, "Overspeed", "0.0"},
      {"sim/flightmodel2/wing/spoiler1_deg", {0.0f, 30.0f}, "Spoilers", "0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + testing::PrintToString(c.published));
    StartWithKnownFlight();
    xphost::SetDatavf(c.path, c.published);
    EXPECT_EQ(ParseTwice(Build())[c.key].dump(), c.sent);
  }
}

// The staging text ends before a large enough output buffer does: an entry
// that leaves no room there for the closing brace, or is cut, is left out.
TEST(ExtraData, AnEntryThatFillsTheStagingTextIsLeftOut) {
  xphost::Reset();
  xphost::SetDatai("sim/cockpit2/switches/taxi_light_on", 0);
  InitDataRefs();
  DataRefMapping& row = gMappings[FindMappingIndex("L_taxi")];
  const char* const name = row.name;
  // "{", the quoted name, ":" and "0": the name's length + 5 bytes.
  for (const size_t nameLength : {kExtraDataBufferSize - 7, kExtraDataBufferSize - 6, kExtraDataBufferSize - 5}) {
    const std::string longName(nameLength, 'n');
    row.name = longName.c_str();
    const bool kept = nameLength + 5 < kExtraDataBufferSize - 1;
    EXPECT_EQ(Build(2 * kExtraDataBufferSize), kept ? "{\\\"" + longName + "\\\":0}" : "{}") << nameLength;
  }
  row.name = name;
  EXPECT_EQ(CountLines(kBufferFullWarning), 2u);
}

// Every row at an extreme value: the longest object there is still fits, and
// a number that is not finite after scaling is sent as null.
TEST(ExtraData, ExtremeValuesStillParseTwiceAndFit) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, int> cases[] = {{-FLT_MAX, INT_MIN}, {FLT_MAX, INT_MAX}, {NAN, -1},
                                         {inf, 0},            {-inf, 0},          {FLT_TRUE_MIN, 0}};
  size_t longest = 0;
  for (const auto& [floatValue, intValue] : cases) {
    SCOPED_TRACE(floatValue);
    xphost::Reset();
    tralix_test::PublishCatalogue(floatValue, intValue);
    InitDataRefs();
    const std::string escaped = Build();
    longest = std::max(longest, escaped.size());
    const OrderedJson object = ParseTwice(escaped);
    ASSERT_EQ(object.size(), 37u);
    for (const DataRefMapping* row = gMappings; row->name; ++row) {
      const bool readAsInt = std::strcmp(row->dataType, "int") == 0 || row->reading == kReadIntAsFloat;
      if (readAsInt || row->reading == kReadBelowZeroFlag) continue;
      const OrderedJson& value = object[row->name];
      EXPECT_EQ((row->isArray ? value[0] : value).is_null(), !std::isfinite(floatValue * row->multiplier))
          << row->name;
    }
  }
  EXPECT_EQ(CountLines(kBufferFullWarning), 0u);
  EXPECT_GT(longest, 2600u);  // -FLT_MAX and INT_MIN everywhere
}

TEST(DataRefs, EachRowResolvesOnItsOwnAndStartUpNeedsOnlyOne) {
  struct Case {
    const char* what;
    std::set<std::string> missing;
    int result;
    const char* summary;
  };
  std::set<std::string> allPaths;
  for (const DataRefMapping* row = gMappings; row->name; ++row) allPaths.insert(row->dataRefPath);
  const Case cases[] = {
      {"all present", {}, 1, "Tralix - Data ref initialization complete: 37/37 successful"},
      {"one missing", {"sim/flightmodel/forces/g_nrml"}, 1, "Tralix - Data ref initialization complete: 36/37 successful"},
      {"none present", allPaths, 0, "Tralix - Data ref initialization complete: 0/37 successful"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xphost::Reset();  // InitDataRefs sets every row's handle and flag afresh
    tralix_test::PublishCatalogue(1.0f, 1, c.missing);
    EXPECT_EQ(InitDataRefs(), c.result);
    EXPECT_EQ(xphost::LogLines().back(), c.summary);
    for (const DataRefMapping* row = gMappings; row->name; ++row) {
      const bool missing = c.missing.count(row->dataRefPath) > 0;
      EXPECT_EQ(row->isValid, missing ? 0 : 1) << row->name;
      EXPECT_EQ(row->dataRef == nullptr, missing) << row->name;
    }
  }
  EXPECT_EQ(xphost::FindDataRefCalls().size(), 37u) << "each row resolves its path itself, once";
}

// Every dataref the simulator publishes for the plug-in, as X-Plane 12 and 11
// publish it. Start-up, a flight-loop cycle (core values, names, landing
// detector) and the extra object look up only names the version has (11 lacks
// three, which the plug-in does without) and read each through an accessor it
// offers: X-Plane gives 0 for any other.
TEST(DataRefs, LooksUpAndReadsOnlyWhatXPlanePublishes) {
  using xphost::XPlaneVersion;
  const std::pair<XPlaneVersion, std::vector<std::string>> cases[] = {
      {XPlaneVersion::XP12, {}},
      {XPlaneVersion::XP11,
       {"sim/aircraft/view/acf_ui_name", "sim/weather/aircraft/wind_now_speed_msc",
        "sim/weather/aircraft/wind_now_direction_degt"}},
  };
  for (const auto& [version, missed] : cases) {
    SCOPED_TRACE(version == XPlaneVersion::XP12 ? "X-Plane 12" : "X-Plane 11");
    xphost::Reset();
    xphost::SetXPlaneVersion(version);
    for (const xphost::XPlaneDataRef& row : xphost::kXPlaneDataRefs) {
      xphost::SetDatavf(row.name, std::vector<float>(static_cast<size_t>(row.xp12Size), 1.0f));
      xphost::SetDatab(row.name, "C172");
    }
    ASSERT_TRUE(tralix_test::StartModules());
    xphost::SetElapsedTime(20.0);
    TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
    char extra[kExtraDataBufferSize];
    BuildExtraDataJSON(extra, sizeof(extra));
    EXPECT_EQ(xphost::MissedDataRefLookups(), missed);
    EXPECT_EQ(xphost::WrongAccessorReads(), std::vector<std::string>{});
  }
}

TEST(DataRefs, FindMappingIndexTakesOnlyTheExactName) {
  auto checkEveryName = [] {
    for (int i = 0; gMappings[i].name; ++i) EXPECT_EQ(FindMappingIndex(gMappings[i].name), i) << gMappings[i].name;
    for (const char* unknown : {"Time", "", "time ", "tim", "GEAR", "xp_engn_power[0]"})
      EXPECT_EQ(FindMappingIndex(unknown), -1) << '"' << unknown << '"';
    EXPECT_EQ(FindMappingIndex(nullptr), -1);
  };
  checkEveryName();  // before start-up
  tralix_test::PublishCatalogue(1.0f, 1, {"sim/time/total_running_time_sec"});
  InitDataRefs();
  ASSERT_EQ(gMappings[FindMappingIndex("time")].isValid, 0);
  checkEveryName();  // an unresolved row is still found by name
}

// ---- numbers and strings --------------------------------------------------------

std::string Format(float value, int decimals) {
  char out[kFloatTextSize];
  const int length = FormatFloatNoScientific(out, sizeof(out), value, decimals);
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(out));
  return out;
}

TEST(EscapeJson, EscapesWhatJsonNeedsAndCopiesTheRest) {
  struct Case {
    std::string in;
    size_t outSize;
    std::string out;
  };
  const Case cases[] = {
      {"say \"hi\"", 64, "say \\\"hi\\\""},
      {"C:\\path", 64, "C:\\\\path"},
      {"a\tb\nc", 64, "a\\tb\\nc"},
      {"cr\rlf", 64, "cr\\u000dlf"},
      {std::string("\x01\x1f", 2), 64, "\\u0001\\u001f"},
      {"\x7f\xc3\xa9", 64, "\x7f\xc3\xa9"},  // DEL and UTF-8 pass unchanged
      // Room for outSize - 1 characters; an escape that does not fit ends the copy.
      {"abcdef", 4, "abc"},
      {"ab\"c", 4, "ab"},
      {"ab\"c", 5, "ab\\\""},
      {"a\\", 3, "a"},
      {"ab\r", 8, "ab"},
      {"ab\r", 9, "ab\\u000d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in) + " in " + std::to_string(c.outSize));
    std::vector<char> out(c.outSize + 4, '#');
    const int length = EscapeJSONString(out.data(), c.in.c_str(), c.outSize);
    EXPECT_EQ(out[c.outSize], '#') << "wrote past the buffer";
    EXPECT_EQ(std::string(out.data(), static_cast<size_t>(length)), c.out);
  }
  char out[8] = "#######";
  EXPECT_EQ(EscapeJSONString(nullptr, "x", 8), 0);
  EXPECT_EQ(EscapeJSONString(out, nullptr, 8), 0);
  EXPECT_EQ(EscapeJSONString(out, "x", 2), 0);
  EXPECT_EQ(EscapeJSONString(out, "x", 0), 0);
  EXPECT_STREQ(out, "#######");
}

// Switches to a locale that writes a decimal comma: an installed one, or one
// compiled privately into a scratch folder. False when neither is possible.
bool UseDecimalCommaLocale() {
  const auto comma = [] {
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", 1.5);
    return std::strcmp(text, "1,5") == 0;
  };
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
    if (std::setlocale(LC_ALL, name) && comma()) return true;
  const std::string folder = tralix_test::FreshScratchDir();
  const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
  if (std::system(command.c_str()) != -1 && std::filesystem::exists(folder + "/de_DE.UTF-8")) {
    setenv("LOCPATH", folder.c_str(), 1);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") && comma()) return true;
  }
  std::setlocale(LC_ALL, "C");
  return false;
}

TEST(ExtraData, NumbersIgnoreADecimalCommaLocale) {
  if (!UseDecimalCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma can be set up here";
  const std::string expected = StartWithKnownFlight();
  EXPECT_EQ(Format(-122.309f, 2), "-122.3089981079");
  EXPECT_EQ(Build(), expected);
  std::setlocale(LC_ALL, "C");
}

}  // namespace
