// Dataref catalogue: the simulator values sent under their names in the
// broadcast's "extra" object, resolved once at start-up.
#include "DataRefs.h"

#include "Tralix.h"

#include "XPLMUtilities.h"

#include <cstring>

// The order is the order of the keys in the extra object; indices never change.
// Each row reads its dataref with an accessor X-Plane offers for it (a wrong
// one reads 0). Kept on purpose: the two aircraft-wind rows are sent as
// one-element arrays, and the ambient wind speed, which X-Plane publishes in m/s
// despite the "_kt" in its name, is converted to knots.
DataRefMapping gMappings[38] = {
    {"L_taxi", "sim/cockpit2/switches/taxi_light_on", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"groundSpeed", "sim/flightmodel/position/groundspeed", "", 0, 0, kKnotsPerMetrePerSecond, kReadAsTyped, nullptr, 0},
    {"xp_parking_brake_ratio", "sim/cockpit2/controls/parking_brake_ratio", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"xp_gear_on_ground", "sim/flightmodel2/gear/on_ground", "int", 1, 10, 1.0f, kReadAsTyped, nullptr, 0},
    {"latitude", "sim/flightmodel/position/latitude", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"xp_ambient_wind_direction", "sim/weather/wind_direction_degt", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"xp_ambient_wind_velocity", "sim/weather/wind_speed_kt", "", 0, 0, kKnotsPerMetrePerSecond, kReadAsTyped, nullptr, 0},
    {"Overspeed", "sim/flightmodel/failures/over_vne", "", 0, 0, 1.0f, kReadIntAsFloat, nullptr, 0},
    {"Gear", "sim/cockpit/switches/gear_handle_status", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"L_beacon", "sim/cockpit2/switches/beacon_on", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"xp_aircraft_wind_velocity", "sim/weather/aircraft/wind_now_speed_msc", "", 1, 1, kKnotsPerMetrePerSecond, kReadScalarAsArray, nullptr, 0},
    {"L_landing", "sim/cockpit2/switches/landing_lights_on", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"total_weight", "sim/flightmodel/weight/m_total", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"Stall", "sim/flightmodel/failures/stallwarning", "", 0, 0, 1.0f, kReadIntAsFloat, nullptr, 0},
    {"xp_engn_power", "sim/flightmodel/engine/ENGN_power", "", 1, 16, 1.0f, kReadAsTyped, nullptr, 0},
    {"bank", "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"groundAltitude", "sim/flightmodel/position/y_agl", "", 0, 0, 3.2808f, kReadAsTyped, nullptr, 0},
    {"longitude", "sim/flightmodel/position/longitude", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"Spoilers", "sim/flightmodel2/wing/spoiler1_deg", "", 0, 0, 1.0f, kReadFirstElement, nullptr, 0},
    {"heading", "sim/flightmodel/position/psi", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"xp_paused", "sim/time/paused", "", 0, 0, 1.0f, kReadIntAsFloat, nullptr, 0},
    {"Spoilers_armed", "sim/cockpit2/controls/speedbrake_ratio", "", 0, 0, 1.0f, kReadBelowZeroFlag, nullptr, 0},
    {"Fuel", "sim/flightmodel/weight/m_fuel_total", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"vertical_speed", "sim/cockpit2/gauges/indicators/vvi_fpm_pilot", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"indicated_speed", "sim/flightmodel/position/indicated_airspeed", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"Flaps", "sim/cockpit2/controls/flap_ratio", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"xp_aircraft_wind_direction", "sim/weather/aircraft/wind_now_direction_degt", "", 1, 1, 1.0f, kReadScalarAsArray, nullptr, 0},
    {"pitch", "sim/cockpit2/gauges/indicators/pitch_AHARS_deg_pilot", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"altitude", "sim/cockpit2/gauges/indicators/altitude_ft_pilot", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"L_nav", "sim/cockpit2/switches/navigation_lights_on", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"time", "sim/time/total_running_time_sec", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"Transponder", "sim/cockpit2/radios/actuators/transponder_mode", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"airspeed", "sim/flightmodel/position/true_airspeed", "", 0, 0, kKnotsPerMetrePerSecond, kReadAsTyped, nullptr, 0},
    {"L_strobe", "sim/cockpit2/switches/strobe_lights_on", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"Transponder_code", "sim/cockpit/radios/transponder_code", "int", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"Gforce", "sim/flightmodel/forces/g_nrml", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {"radio_altimeter", "sim/cockpit2/gauges/indicators/radio_altimeter_height_ft_pilot", "", 0, 0, 1.0f, kReadAsTyped, nullptr, 0},
    {nullptr, nullptr, nullptr, 0, 0, 0.0f, kReadAsTyped, nullptr, 0},
};
int gMappingCount;

int InitDataRefs() {
  XPLMDebugString("Tralix - Initializing data ref mappings...\n");
  int walked = 0;
  int found = 0;
  for (DataRefMapping* row = gMappings; row->name; ++row, ++walked) {
    row->dataRef = XPLMFindDataRef(row->dataRefPath);
    row->isValid = row->dataRef ? 1 : 0;
    if (row->isValid) {
      ++found;
    } else {
      LogFormatted(256, "Tralix - WARNING: Failed to find dataref: %s\n", row->dataRefPath);
    }
  }
  gMappingCount = walked;
  LogFormatted(256, "Tralix - Data ref initialization complete: %d/%d successful\n", found, walked);
  return found > 0 ? 1 : 0;
}

int FindMappingIndex(const char* name) {
  if (!name) return -1;
  for (int i = 0; gMappings[i].name; ++i)
    if (std::strcmp(gMappings[i].name, name) == 0) return i;
  return -1;
}

int GetMappingCount() { return gMappingCount; }
