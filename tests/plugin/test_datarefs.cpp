// The dataref catalogue: its rows, their resolution at start-up and lookup by name.
#include "DataRefs.h"

#include "PluginTestSupport.h"
#include "XPHostControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ExpectedRow {
  const char* name;
  const char* path;
  bool isInt;
  int isArray;
  int arraySize;
  float multiplier;
};

// Written out again from the catalogue's definition, independently of the plug-in's table.
const ExpectedRow kExpectedRows[] = {
    {"L_taxi", "sim/cockpit2/switches/taxi_light_on", true, 0, 0, 1.0f},
    {"groundSpeed", "sim/flightmodel/position/groundspeed", false, 0, 0, 1.9438f},
    {"xp_parking_brake_ratio", "sim/cockpit2/controls/parking_brake_ratio", false, 0, 0, 1.0f},
    {"xp_gear_on_ground", "sim/flightmodel2/gear/on_ground", true, 1, 10, 1.0f},
    {"latitude", "sim/flightmodel/position/latitude", false, 0, 0, 1.0f},
    {"xp_ambient_wind_direction", "sim/weather/wind_direction_degt", false, 0, 0, 1.0f},
    {"xp_ambient_wind_velocity", "sim/weather/wind_speed_kt", false, 0, 0, 1.9438f},
    {"Overspeed", "sim/operation/prefs/warn_overspeed", false, 0, 0, 1.0f},
    {"Gear", "sim/cockpit/switches/gear_handle_status", true, 0, 0, 1.0f},
    {"L_beacon", "sim/cockpit2/switches/beacon_on", true, 0, 0, 1.0f},
    {"xp_aircraft_wind_velocity", "sim/weather/aircraft/wind_speed_kts", false, 1, 1, 1.0f},
    {"L_landing", "sim/cockpit2/switches/landing_lights_on", true, 0, 0, 1.0f},
    {"total_weight", "sim/flightmodel/weight/m_total", false, 0, 0, 1.0f},
    {"Stall", "sim/flightmodel/failures/stallwarning", false, 0, 0, 1.0f},
    {"xp_engn_power", "sim/flightmodel/engine/ENGN_power", false, 1, 16, 1.0f},
    {"bank", "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot", false, 0, 0, 1.0f},
    {"groundAltitude", "sim/flightmodel/position/y_agl", false, 0, 0, 3.2808f},
    {"longitude", "sim/flightmodel/position/longitude", false, 0, 0, 1.0f},
    {"Spoilers", "sim/flightmodel2/wing/spoiler1_deg", false, 0, 0, 1.0f},
    {"heading", "sim/flightmodel/position/psi", false, 0, 0, 1.0f},
    {"xp_paused", "sim/time/paused", false, 0, 0, 1.0f},
    {"Spoilers_armed", "sim/cockpit/switches/gear_handle_status", false, 0, 0, 1.0f},
    {"Fuel", "sim/flightmodel/weight/m_fuel_total", false, 0, 0, 1.0f},
    {"vertical_speed", "sim/cockpit2/gauges/indicators/vvi_fpm_pilot", false, 0, 0, 1.0f},
    {"indicated_speed", "sim/flightmodel/position/indicated_airspeed", false, 0, 0, 1.0f},
    {"Flaps", "sim/cockpit2/controls/flap_ratio", false, 0, 0, 1.0f},
    {"xp_aircraft_wind_direction", "sim/weather/aircraft/wind_direction_degt", false, 1, 1, 1.0f},
    {"pitch", "sim/cockpit2/gauges/indicators/pitch_AHARS_deg_pilot", false, 0, 0, 1.0f},
    {"altitude", "sim/cockpit2/gauges/indicators/altitude_ft_pilot", false, 0, 0, 1.0f},
    {"L_nav", "sim/cockpit2/switches/navigation_lights_on", true, 0, 0, 1.0f},
    {"time", "sim/time/total_running_time_sec", false, 0, 0, 1.0f},
    {"Transponder", "sim/cockpit2/radios/actuators/transponder_mode", true, 0, 0, 1.0f},
    {"airspeed", "sim/flightmodel/position/true_airspeed", false, 0, 0, 1.9438f},
    {"L_strobe", "sim/cockpit2/switches/strobe_lights_on", true, 0, 0, 1.0f},
    {"Transponder_code", "sim/cockpit/radios/transponder_code", true, 0, 0, 1.0f},
    {"Gforce", "sim/flightmodel/forces/g_nrml", false, 0, 0, 1.0f},
    {"radio_altimeter", "sim/cockpit2/gauges/indicators/radio_altimeter_height_ft_pilot", false, 0, 0, 1.0f},
};
constexpr int kRowCount = 37;
static_assert(sizeof(kExpectedRows) / sizeof(kExpectedRows[0]) == kRowCount, "37 catalogue rows");

// Publishes every catalogue dataref except the paths given.
void PublishCatalogueExcept(const std::vector<std::string>& missingPaths) {
  for (const ExpectedRow& row : kExpectedRows) {
    bool missing = false;
    for (const std::string& path : missingPaths) missing = missing || path == row.path;
    if (missing) continue;
    if (row.isArray && row.isInt) {
      xphost::SetDatavi(row.path, std::vector<int>(static_cast<size_t>(row.arraySize), 1));
    } else if (row.isArray) {
      xphost::SetDatavf(row.path, std::vector<float>(static_cast<size_t>(row.arraySize), 1.0f));
    } else if (row.isInt) {
      xphost::SetDatai(row.path, 1);
    } else if (std::strcmp(row.path, "sim/cockpit/switches/gear_handle_status") != 0) {
      xphost::SetDataf(row.path, 1.0f);  // the gear handle stays the integer Gear reads
    }
  }
}

class DataRefsTest : public testing::Test {
 protected:
  void SetUp() override { xphost::Reset(); }
};

TEST_F(DataRefsTest, TableRowsMatchTheCatalogue) {
  for (int i = 0; i < kRowCount; ++i) {
    SCOPED_TRACE(kExpectedRows[i].name);
    const DataRefMapping& row = gMappings[i];
    const ExpectedRow& expected = kExpectedRows[i];
    ASSERT_NE(row.name, nullptr);
    EXPECT_STREQ(row.name, expected.name);
    EXPECT_STREQ(row.dataRefPath, expected.path);
    EXPECT_STREQ(row.dataType, expected.isInt ? "int" : "");
    EXPECT_EQ(row.isArray, expected.isArray);
    EXPECT_EQ(row.arraySize, expected.arraySize);
    EXPECT_EQ(row.multiplier, expected.multiplier);  // the 32-bit constants, not 1.94384/3.28084
    EXPECT_EQ(row.dataRef, nullptr);
    EXPECT_EQ(row.isValid, 0);
  }
  const DataRefMapping& terminator = gMappings[kRowCount];
  EXPECT_EQ(terminator.name, nullptr);
  EXPECT_EQ(terminator.dataRefPath, nullptr);
  EXPECT_EQ(terminator.dataType, nullptr);
  EXPECT_EQ(terminator.isArray, 0);
  EXPECT_EQ(terminator.arraySize, 0);
  EXPECT_EQ(terminator.multiplier, 0.0f);
  EXPECT_EQ(GetMappingCount(), 0);
}

TEST_F(DataRefsTest, InitWithEveryDataRefPresent) {
  PublishCatalogueExcept({});
  EXPECT_EQ(InitDataRefs(), 1);
  EXPECT_EQ(xphost::LogLines(), (std::vector<std::string>{
                                    "Tralix - Initializing data ref mappings...",
                                    "Tralix - Data ref initialization complete: 37/37 successful"}));
  EXPECT_EQ(GetMappingCount(), 37);
  for (int i = 0; i < kRowCount; ++i) {
    EXPECT_EQ(gMappings[i].isValid, 1) << gMappings[i].name;
    EXPECT_NE(gMappings[i].dataRef, nullptr) << gMappings[i].name;
  }
  // Gear and Spoilers_armed read one dataref, each row resolving it for itself.
  EXPECT_EQ(gMappings[8].dataRef, gMappings[21].dataRef);
  EXPECT_EQ(xphost::FindDataRefCalls().size(), 37u);
}

TEST_F(DataRefsTest, InitWithSomeOrNoDataRefs) {
  struct Case {
    const char* label;
    std::vector<std::string> missing;
    int expectedResult;
    const char* summary;
  };
  std::vector<std::string> allPaths;
  for (const ExpectedRow& row : kExpectedRows) allPaths.emplace_back(row.path);
  const Case cases[] = {
      {"one missing", {"sim/flightmodel/forces/g_nrml"}, 1,
       "Tralix - Data ref initialization complete: 36/37 successful"},
      {"only the shared gear handle missing", {"sim/cockpit/switches/gear_handle_status"}, 1,
       "Tralix - Data ref initialization complete: 35/37 successful"},
      {"none present", allPaths, 0, "Tralix - Data ref initialization complete: 0/37 successful"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    xphost::Reset();  // InitDataRefs sets every row's handle and flag afresh
    PublishCatalogueExcept(c.missing);
    EXPECT_EQ(InitDataRefs(), c.expectedResult);
    EXPECT_EQ(GetMappingCount(), 37);

    std::vector<std::string> expectedLog = {"Tralix - Initializing data ref mappings..."};
    for (const ExpectedRow& row : kExpectedRows) {
      if (std::find(c.missing.begin(), c.missing.end(), row.path) != c.missing.end())
        expectedLog.push_back(std::string("Tralix - WARNING: Failed to find dataref: ") + row.path);
    }
    expectedLog.emplace_back(c.summary);
    EXPECT_EQ(xphost::LogLines(), expectedLog);

    for (int i = 0; i < kRowCount; ++i) {
      bool missing = false;
      for (const std::string& path : c.missing) missing = missing || path == kExpectedRows[i].path;
      EXPECT_EQ(gMappings[i].isValid, missing ? 0 : 1) << kExpectedRows[i].name;
      EXPECT_EQ(gMappings[i].dataRef == nullptr, missing) << kExpectedRows[i].name;
    }
  }
}

TEST_F(DataRefsTest, FindMappingIndexByExactName) {
  struct Case {
    const char* name;
    int index;
  };
  const Case cases[] = {
      {"time", 30},          {"L_taxi", 0},   {"radio_altimeter", 36}, {"xp_gear_on_ground", 3},
      {"vertical_speed", 23}, {"groundAltitude", 16}, {"Gforce", 35}, {"bank", 15},
      {"Time", -1},          {"", -1},        {"time ", -1},           {"tim", -1},
      {"GEAR", -1},          {"xp_engn_power[0]", -1},
  };
  auto checkAll = [&] {
    for (const Case& c : cases) EXPECT_EQ(FindMappingIndex(c.name), c.index) << '"' << c.name << '"';
    EXPECT_EQ(FindMappingIndex(nullptr), -1);
  };
  checkAll();  // before start-up

  // A row whose dataref was not found is still found by name.
  PublishCatalogueExcept({"sim/time/total_running_time_sec"});
  InitDataRefs();
  ASSERT_EQ(gMappings[30].isValid, 0);
  checkAll();
}

}  // namespace
