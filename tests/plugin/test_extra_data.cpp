// The extra-data encoder and the number and string helpers every request body uses.
#include "DataRefs.h"
#include "NetworkManager.h"

#include "PluginTestSupport.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

// ---- allocation counting -------------------------------------------------------
// Every malloc, calloc and realloc of the process (operator new included) passes
// through these while counting is on; not under AddressSanitizer, which owns malloc.

#if defined(__SANITIZE_ADDRESS__)
#define TRALIX_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRALIX_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef TRALIX_COUNTS_ALLOCATIONS
#define TRALIX_COUNTS_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> gCountingAllocations{false};
std::atomic<int> gAllocationCount{0};
[[maybe_unused]] void NoteAllocation() {
  if (gCountingAllocations.load(std::memory_order_relaxed)) gAllocationCount.fetch_add(1);
}
}  // namespace

#if TRALIX_COUNTS_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t size) noexcept;
void* __libc_calloc(size_t count, size_t size) noexcept;
void* __libc_realloc(void* pointer, size_t size) noexcept;

void* malloc(size_t size) noexcept {
  NoteAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  NoteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
  NoteAllocation();
  return __libc_realloc(pointer, size);
}
}  // extern "C"
#endif

namespace {

using OrderedJson = nlohmann::ordered_json;

constexpr char kGearHandle[] = "sim/cockpit/switches/gear_handle_status";

// The broadcast carries the object as a JSON string, which the service decodes
// and parses again.
OrderedJson ParseTwice(const std::string& escaped) {
  const std::string inner = nlohmann::json::parse("\"" + escaped + "\"").get<std::string>();
  return OrderedJson::parse(inner);
}

std::string EscapeQuotes(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string Build(size_t outSize = kExtraDataBufferSize) {
  std::vector<char> out(outSize + 1, '#');
  const int length = BuildExtraDataJSON(out.data(), outSize);
  EXPECT_GE(length, 0);
  EXPECT_LT(static_cast<size_t>(length), outSize);
  EXPECT_EQ(std::strlen(out.data()), static_cast<size_t>(length));
  EXPECT_EQ(out[outSize], '#') << "wrote past the buffer";
  return std::string(out.data(), static_cast<size_t>(length));
}

size_t CountLines(const std::string& line) {
  size_t count = 0;
  for (const std::string& logged : xphost::LogLines()) count += logged == line;
  return count;
}

const char kBufferFullWarning[] = "Tralix - WARNING: Extra data buffer is getting full, some data will be omitted";

// One flight's values and the entries they must produce, in catalogue order.
struct KnownRow {
  const char* path;
  enum { kInt, kFloat, kInts, kFloats, kShared } kind;
  std::vector<float> values;
  const char* entry;
};

const std::vector<KnownRow>& KnownFlight() {
  static const std::vector<KnownRow> rows = {
      {"sim/cockpit2/switches/taxi_light_on", KnownRow::kInt, {0}, "\"L_taxi\":0"},
      {"sim/flightmodel/position/groundspeed", KnownRow::kFloat, {5.0f}, "\"groundSpeed\":9.72"},
      {"sim/cockpit2/controls/parking_brake_ratio", KnownRow::kFloat, {1.0f}, "\"xp_parking_brake_ratio\":1.00"},
      {"sim/flightmodel2/gear/on_ground", KnownRow::kInts, {1, 1, 1},
       "\"xp_gear_on_ground\":[1,1,1,0,0,0,0,0,0,0]"},
      {"sim/flightmodel/position/latitude", KnownRow::kFloat, {47.449f}, "\"latitude\":47.45"},
      {"sim/weather/wind_direction_degt", KnownRow::kFloat, {270.0f}, "\"xp_ambient_wind_direction\":270.00"},
      {"sim/weather/wind_speed_kt", KnownRow::kFloat, {10.0f}, "\"xp_ambient_wind_velocity\":19.44"},
      {"sim/operation/prefs/warn_overspeed", KnownRow::kFloat, {0.0f}, "\"Overspeed\":0.00"},
      {kGearHandle, KnownRow::kInt, {1}, "\"Gear\":1"},
      {"sim/cockpit2/switches/beacon_on", KnownRow::kInt, {1}, "\"L_beacon\":1"},
      {"sim/weather/aircraft/wind_speed_kts", KnownRow::kFloats, {5.5f}, "\"xp_aircraft_wind_velocity\":[5.50]"},
      {"sim/cockpit2/switches/landing_lights_on", KnownRow::kInt, {0}, "\"L_landing\":0"},
      {"sim/flightmodel/weight/m_total", KnownRow::kFloat, {1043.3f}, "\"total_weight\":1043.30"},
      {"sim/flightmodel/failures/stallwarning", KnownRow::kFloat, {0.0f}, "\"Stall\":0.00"},
      {"sim/flightmodel/engine/ENGN_power", KnownRow::kFloats, {65000.25f, 1234567.0f},
       "\"xp_engn_power\":[65000.25,1234567.0000000000,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,"
       "0.00,0.00,0.00,0.00]"},
      {"sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot", KnownRow::kFloat, {-2.5f}, "\"bank\":-2.5000000000"},
      {"sim/flightmodel/position/y_agl", KnownRow::kFloat, {10.0f}, "\"groundAltitude\":32.81"},
      {"sim/flightmodel/position/longitude", KnownRow::kFloat, {-122.309f}, "\"longitude\":-122.3089981079"},
      {"sim/flightmodel2/wing/spoiler1_deg", KnownRow::kFloat, {0.0f}, "\"Spoilers\":0.00"},
      {"sim/flightmodel/position/psi", KnownRow::kFloat, {163.5f}, "\"heading\":163.50"},
      {"sim/time/paused", KnownRow::kFloat, {0.0f}, "\"xp_paused\":0.00"},
      // The gear handle is an integer dataref: read as a float it gives 0.
      {kGearHandle, KnownRow::kShared, {}, "\"Spoilers_armed\":0.00"},
      {"sim/flightmodel/weight/m_fuel_total", KnownRow::kFloat, {150.75f}, "\"Fuel\":150.75"},
      {"sim/cockpit2/gauges/indicators/vvi_fpm_pilot", KnownRow::kFloat, {-500.0f},
       "\"vertical_speed\":-500.0000000000"},
      {"sim/flightmodel/position/indicated_airspeed", KnownRow::kFloat, {95.2f}, "\"indicated_speed\":95.20"},
      {"sim/cockpit2/controls/flap_ratio", KnownRow::kFloat, {0.5f}, "\"Flaps\":0.50"},
      {"sim/weather/aircraft/wind_direction_degt", KnownRow::kFloats, {271.0f},
       "\"xp_aircraft_wind_direction\":[271.00]"},
      {"sim/cockpit2/gauges/indicators/pitch_AHARS_deg_pilot", KnownRow::kFloat, {2.25f}, "\"pitch\":2.25"},
      {"sim/cockpit2/gauges/indicators/altitude_ft_pilot", KnownRow::kFloat, {1500.0f}, "\"altitude\":1500.00"},
      {"sim/cockpit2/switches/navigation_lights_on", KnownRow::kInt, {1}, "\"L_nav\":1"},
      {"sim/time/total_running_time_sec", KnownRow::kFloat, {1234.5f}, "\"time\":1234.50"},
      {"sim/cockpit2/radios/actuators/transponder_mode", KnownRow::kInt, {2}, "\"Transponder\":2"},
      {"sim/flightmodel/position/true_airspeed", KnownRow::kFloat, {50.0f}, "\"airspeed\":97.19"},
      {"sim/cockpit2/switches/strobe_lights_on", KnownRow::kInt, {1}, "\"L_strobe\":1"},
      {"sim/cockpit/radios/transponder_code", KnownRow::kInt, {7000}, "\"Transponder_code\":7000"},
      {"sim/flightmodel/forces/g_nrml", KnownRow::kFloat, {1.02f}, "\"Gforce\":1.02"},
      {"sim/cockpit2/gauges/indicators/radio_altimeter_height_ft_pilot", KnownRow::kFloat, {5e-7f},
       "\"radio_altimeter\":0.0000005000"},
  };
  return rows;
}

void Publish(const KnownRow& row) {
  std::vector<int> ints;
  for (float value : row.values) ints.push_back(static_cast<int>(value));
  switch (row.kind) {
    case KnownRow::kInt: xphost::SetDatai(row.path, ints[0]); break;
    case KnownRow::kFloat: xphost::SetDataf(row.path, row.values[0]); break;
    case KnownRow::kInts: xphost::SetDatavi(row.path, ints); break;
    case KnownRow::kFloats: xphost::SetDatavf(row.path, row.values); break;
    case KnownRow::kShared: break;
  }
}

std::string ExpectedObject(const std::vector<std::string>& entries) {
  std::string text = "{";
  for (size_t i = 0; i < entries.size(); ++i) text += (i ? "," : "") + entries[i];
  return text + "}";
}

class ExtraDataTest : public testing::Test {
 protected:
  void SetUp() override { xphost::Reset(); }

  // Publishes the known flight except the rows whose index is listed, then resolves the catalogue.
  static void StartWithKnownFlight(const std::vector<int>& missingRows = {}) {
    xphost::Reset();
    for (size_t i = 0; i < KnownFlight().size(); ++i)
      if (std::find(missingRows.begin(), missingRows.end(), static_cast<int>(i)) == missingRows.end())
        Publish(KnownFlight()[i]);
    InitDataRefs();
  }
};

std::vector<std::string> KnownEntriesWithout(const std::vector<int>& missingRows) {
  std::vector<std::string> entries;
  for (size_t i = 0; i < KnownFlight().size(); ++i) {
    bool missing = false;
    for (int index : missingRows) missing = missing || index == static_cast<int>(i);
    // Gear and Spoilers_armed share a dataref: leaving out one leaves out both.
    if (missing || (i == 21 && std::find(missingRows.begin(), missingRows.end(), 8) != missingRows.end())) continue;
    entries.emplace_back(KnownFlight()[i].entry);
  }
  return entries;
}

// The object's exact text for a known flight, and with rows whose datarefs
// the simulator lacks: those leave no trace.
TEST_F(ExtraDataTest, KnownFlightGivesExactTextWithMissingRowsLeftOut) {
  const std::vector<std::vector<int>> missingSets = {
      {}, {0}, {36}, {14}, {0, 1, 2}, {0, 36}, {8}, {3, 10, 14, 26}, {35, 36},
  };
  for (const std::vector<int>& missing : missingSets) {
    SCOPED_TRACE(testing::PrintToString(missing));
    StartWithKnownFlight(missing);
    EXPECT_EQ(Build(), EscapeQuotes(ExpectedObject(KnownEntriesWithout(missing))));
  }
  EXPECT_EQ(CountLines(kBufferFullWarning), 0u);
  xphost::Reset();
  InitDataRefs();  // nothing published at all
  EXPECT_EQ(Build(), "{}");
}

TEST_F(ExtraDataTest, ShortArrayReadsNeverShowEarlierValues) {
  StartWithKnownFlight();
  Build();  // the engine powers have passed through the scratch arrays
  xphost::SetDatavf("sim/weather/aircraft/wind_speed_kts", {});
  xphost::SetDatavf("sim/weather/aircraft/wind_direction_degt", {});
  xphost::SetDatavi("sim/flightmodel2/gear/on_ground", {1});
  const OrderedJson object = ParseTwice(Build());
  EXPECT_EQ(object["xp_aircraft_wind_velocity"].dump(), "[0.0]");
  EXPECT_EQ(object["xp_aircraft_wind_direction"].dump(), "[0.0]");  // comes after the engines
  EXPECT_EQ(object["xp_gear_on_ground"].dump(), "[1,0,0,0,0,0,0,0,0,0]");
  EXPECT_EQ(object["xp_engn_power"].size(), 16u);
}

TEST_F(ExtraDataTest, RejectsMissingOrTinyBuffers) {
  StartWithKnownFlight();
  xphost::ClearLog();
  EXPECT_EQ(BuildExtraDataJSON(nullptr, 1024), 0);
  for (size_t size : {0, 1, 2}) {
    char out[8] = "#######";
    EXPECT_EQ(BuildExtraDataJSON(out, size), 0);
    for (size_t i = size; i < sizeof(out) - 1; ++i) EXPECT_EQ(out[i], '#') << "size " << size;
  }
  EXPECT_EQ(CountLines("Tralix - ERROR: Invalid buffer provided to BuildExtraDataJSON"), 4u);
}

// Whatever the caller's buffer, the result is a whole object that parses,
// holding a prefix of the catalogue's entries; no entry is ever cut.
TEST_F(ExtraDataTest, EveryBufferSizeGivesAWellFormedObject) {
  StartWithKnownFlight();
  const std::string full = Build();
  const OrderedJson fullObject = ParseTwice(full);
  for (size_t size = 3; size <= full.size() + 2; ++size) {
    SCOPED_TRACE(size);
    const size_t warningsBefore = CountLines(kBufferFullWarning);
    const std::string escaped = Build(size);
    const OrderedJson object = ParseTwice(escaped);
    ASSERT_TRUE(object.is_object());
    auto expected = fullObject.begin();
    for (auto it = object.begin(); it != object.end(); ++it, ++expected) {
      EXPECT_EQ(it.key(), expected.key());
      EXPECT_EQ(it.value(), expected.value());
    }
    const bool shortened = object.size() < fullObject.size();
    EXPECT_EQ(CountLines(kBufferFullWarning) - warningsBefore, shortened ? 1u : 0u);
    if (size > full.size()) {
      EXPECT_EQ(escaped, full);
    }
  }
}

TEST_F(ExtraDataTest, ExtremeValuesStillParseTwiceAndFit) {
  struct Case {
    const char* label;
    float floatValue;
    int intValue;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {"-FLT_MAX", -FLT_MAX, INT_MIN},
      {"FLT_MAX", FLT_MAX, INT_MAX},
      {"NaN", std::numeric_limits<float>::quiet_NaN(), -1},
      {"inf", inf, 0},
      {"-inf", -inf, 0},
      {"smallest denormal", std::numeric_limits<float>::denorm_min(), 0},
      {"-FLT_MIN", -FLT_MIN, 0},
      {"-0", -0.0f, 0},
      {"large negative", -999999.9f, INT_MIN},
  };
  size_t longest = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    xphost::Reset();
    tralix_test::PublishCatalogue(c.floatValue, c.intValue);
    InitDataRefs();
    const std::string escaped = Build();
    longest = std::max(longest, escaped.size());
    const OrderedJson object = ParseTwice(escaped);
    ASSERT_EQ(object.size(), 37u);
    EXPECT_EQ(CountLines(kBufferFullWarning), 0u);
    for (const DataRefMapping* row = gMappings; row->name; ++row) {
      const OrderedJson& value = object[row->name];
      if (std::strcmp(row->dataType, "int") == 0 || std::strcmp(row->dataRefPath, kGearHandle) == 0) continue;
      const float scaled = c.floatValue * row->multiplier;
      const OrderedJson& first = row->isArray ? value[0] : value;
      EXPECT_EQ(first.is_null(), !std::isfinite(scaled)) << row->name;
    }
  }
  EXPECT_GT(longest, 2800u);  // -FLT_MAX and INT_MIN everywhere: about the longest object there is
}

// ---- FormatFloatNoScientific ------------------------------------------------

std::string Format(float value, int decimals) {
  char out[kFloatTextSize];
  const int length = FormatFloatNoScientific(out, sizeof(out), value, decimals);
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(out));
  return out;
}

TEST(FormatFloatTest, FixedDecimalsAndTheTenDecimalBranch) {
  struct Case {
    float value;
    int decimals;
    const char* text;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {0.0f, 2, "0.00"},
      {-0.0f, 2, "-0.00"},
      {1e-7f, 2, "0.0000001000"},
      {1e-6f, 2, "0.00"},
      {999999.0f, 2, "999999.00"},
      {1000000.0f, 2, "1000000.0000000000"},
      {999999.0625f, 2, "999999.0625000000"},  // the next float above 999999
      {47.449f, 2, "47.45"},
      {-122.309f, 2, "-122.3089981079"},
      {47.449123f, 6, "47.449123"},
      {-122.30912f, 6, "-122.3091201782"},
      {3.25f, 2, "3.25"},
      {-3.25f, 2, "-3.2500000000"},
      {0.125f, 2, "0.12"},  // ties go to the even digit, as the C library rounds
      {0.375f, 2, "0.38"},
      {2.5f, 0, "2"},
      {2.5f, 1, "2.5"},
      {163.5f, 1, "163.5"},
      {-1e-20f, 2, "-0.0000000000"},
      {FLT_MAX, 2, "340282346638528859811704183484516925440.0000000000"},
      {-FLT_MAX, 6, "-340282346638528859811704183484516925440.0000000000"},
      {16777216.0f, 2, "16777216.0000000000"},
      {1e19f, 2, "9999999980506447872.0000000000"},
      {std::numeric_limits<float>::denorm_min(), 2, "0.0000000000"},
      {nan, 2, "null"},
      {inf, 2, "null"},
      {-inf, 6, "null"},
      {12.5f, -3, "12"},            // a negative count asks for no decimals
      {12.5f, 40, "12.5000000000"}, // at most ten
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.value, c.decimals), c.text) << c.value << " / " << c.decimals;
}

TEST(FormatFloatTest, MatchesTheCLibraryDigitForDigit) {
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) {
    const uint32_t bits = random();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    if (!std::isfinite(value)) continue;
    int decimals = static_cast<int>(random() % 11);
    const bool plain = value == 0.0f || (value >= 1e-6f && value <= 999999.0f);
    if (!plain) decimals = 10;
    char expected[512];
    std::snprintf(expected, sizeof(expected), "%.*f", decimals, static_cast<double>(value));
    ASSERT_EQ(Format(value, decimals), expected) << std::hexfloat << value;
  }
}

TEST(FormatFloatTest, NeverWritesACutNumber) {
  char out[16];
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(FormatFloatNoScientific(out, 8, -122.309f, 2), 15);  // needed 15 characters
  EXPECT_STREQ(out, "null");
  EXPECT_EQ(FormatFloatNoScientific(out, 4, -122.309f, 2), 15);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(FormatFloatNoScientific(out, 6, 47.449f, 2), 5);
  EXPECT_STREQ(out, "47.45");
  EXPECT_EQ(FormatFloatNoScientific(out, 5, 47.449f, 2), 5);
  EXPECT_STREQ(out, "null");

  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(FormatFloatNoScientific(out, 0, 1.0f, 2), 0);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(FormatFloatNoScientific(nullptr, 32, 1.0f, 2), 0);
}

// ---- EscapeJSONString ----------------------------------------------------------

std::string Escape(const std::string& in, size_t outSize) {
  std::vector<char> out(outSize + 4, '#');
  const int length = EscapeJSONString(out.data(), in.c_str(), outSize);
  EXPECT_EQ(out[outSize], '#') << "wrote past the buffer";
  return std::string(out.data(), static_cast<size_t>(length));
}

TEST(EscapeJsonTest, EscapesWhatJsonNeedsAndCopiesTheRest) {
  struct Case {
    std::string in;
    size_t outSize;
    std::string out;
  };
  const Case cases[] = {
      {"plain text", 64, "plain text"},
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
      {"", 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in) + " in " + std::to_string(c.outSize));
    const std::string escaped = Escape(c.in, c.outSize);
    EXPECT_EQ(escaped, c.out);
    if (c.in.find_first_of("\x7f\xc3") == std::string::npos) {
      // As a JSON string it reads back as the start of the input.
      const std::string decoded = nlohmann::json::parse("\"" + escaped + "\"").get<std::string>();
      EXPECT_EQ(c.in.compare(0, decoded.size(), decoded), 0);
    }
  }
}

TEST(EscapeJsonTest, RefusesMissingArgumentsWithoutWriting) {
  char out[8] = "#######";
  EXPECT_EQ(EscapeJSONString(nullptr, "x", 8), 0);
  EXPECT_EQ(EscapeJSONString(out, nullptr, 8), 0);
  EXPECT_EQ(EscapeJSONString(out, "x", 2), 0);
  EXPECT_EQ(EscapeJSONString(out, "x", 0), 0);
  EXPECT_STREQ(out, "#######");
}

// ---- locale and allocation ---------------------------------------------------------

bool DecimalPointIsComma() {
  char text[16];
  std::snprintf(text, sizeof(text), "%.1f", 1.5);
  return std::strcmp(text, "1,5") == 0;
}

// Switches to a locale that writes a decimal comma: an installed one, or one
// compiled privately into a scratch folder. False when neither is possible.
bool UseDecimalCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8", "it_IT.UTF-8"})
    if (std::setlocale(LC_ALL, name) && DecimalPointIsComma()) return true;
  const std::string folder = tralix_test::FreshScratchDir();
  const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
  if (std::system(command.c_str()) != -1 && std::filesystem::exists(folder + "/de_DE.UTF-8")) {
    setenv("LOCPATH", folder.c_str(), 1);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") && DecimalPointIsComma()) return true;
  }
  std::setlocale(LC_ALL, "C");
  return false;
}

TEST_F(ExtraDataTest, NumbersIgnoreADecimalCommaLocale) {
  if (!UseDecimalCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma can be set up here";
  StartWithKnownFlight();
  EXPECT_EQ(Format(47.449f, 2), "47.45");
  EXPECT_EQ(Format(-122.309f, 2), "-122.3089981079");
  EXPECT_EQ(Build(), EscapeQuotes(ExpectedObject(KnownEntriesWithout({}))));
  std::setlocale(LC_ALL, "C");
}

TEST_F(ExtraDataTest, EncodingAllocatesNothing) {
  if (!TRALIX_COUNTS_ALLOCATIONS) GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
  tralix_test::PublishCatalogue(-FLT_MAX, INT_MIN);
  InitDataRefs();
  static char out[kExtraDataBufferSize];
  char number[kFloatTextSize];
  char escaped[64];
  BuildExtraDataJSON(out, sizeof(out));  // first use of the host's tables

  gAllocationCount = 0;
  gCountingAllocations = true;
  const int length = BuildExtraDataJSON(out, sizeof(out));
  FormatFloatNoScientific(number, sizeof(number), -122.309f, 2);
  FormatFloatNoScientific(number, sizeof(number), FLT_MAX, 6);
  EscapeJSONString(escaped, "quote \" and \r", sizeof(escaped));
  gCountingAllocations = false;

  EXPECT_GT(length, 2800);
  EXPECT_EQ(gAllocationCount.load(), 0);
  // The counter does see allocations.
  gCountingAllocations = true;
  std::string* probe = new std::string(100, 'x');
  gCountingAllocations = false;
  delete probe;
  EXPECT_GT(gAllocationCount.load(), 0);
}

}  // namespace
