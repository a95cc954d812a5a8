// Every dataref the plug-in reads, as X-Plane publishes it: the type and array
// size in X-Plane 12.1, its units there, and the array size in X-Plane 11.5x
// (0: X-Plane 11 has no such dataref; its types are otherwise those of 12).
// Taken from X-Plane's own dataref lists. Four that earlier versions of the
// plug-in read by mistake are here too, as X-Plane has them, so that a test of
// an old catalogue tells a wrong accessor from a name X-Plane lacks. The headless host publishes these and
// nothing else, with these types, as the simulator version it plays does.
#pragma once

#include <cstring>

namespace xphost {

enum class XPlaneVersion { XP11, XP12 };

// A double also offers float access, as in X-Plane.
enum class XPlaneType { Int, Float, Double, IntArray, FloatArray, Bytes };

struct XPlaneDataRef {
  const char* name;
  XPlaneType type;
  int xp12Size;  // elements of an array, bytes of a byte array, 1 for a scalar
  const char* xp12Units;
  int xp11Size;  // as xp12Size in X-Plane 11; 0 when it lacks the dataref
};

inline constexpr XPlaneDataRef kXPlaneDataRefs[] = {
    {"sim/aircraft/view/acf_ICAO", XPlaneType::Bytes, 40, "string", 40},
    {"sim/aircraft/view/acf_descrip", XPlaneType::Bytes, 260, "string", 260},
    {"sim/aircraft/view/acf_ui_name", XPlaneType::Bytes, 250, "string", 0},
    {"sim/cockpit/radios/gps_dme_speed_kts", XPlaneType::Float, 1, "knots", 1},  // read before
    {"sim/cockpit/radios/transponder_code", XPlaneType::Int, 1, "code", 1},
    {"sim/cockpit/switches/gear_handle_status", XPlaneType::Int, 1, "boolean", 1},
    {"sim/cockpit2/controls/flap_ratio", XPlaneType::Float, 1, "ratio", 1},
    {"sim/cockpit2/controls/parking_brake_ratio", XPlaneType::Float, 1, "ratio", 1},
    {"sim/cockpit2/controls/speedbrake_ratio", XPlaneType::Float, 1, "ratio", 1},
    {"sim/cockpit2/gauges/indicators/altitude_ft_pilot", XPlaneType::Float, 1, "feet", 1},
    {"sim/cockpit2/gauges/indicators/pitch_AHARS_deg_pilot", XPlaneType::Float, 1, "degrees", 1},
    {"sim/cockpit2/gauges/indicators/radio_altimeter_height_ft_pilot", XPlaneType::Float, 1, "feet", 1},
    {"sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot", XPlaneType::Float, 1, "degrees", 1},
    {"sim/cockpit2/gauges/indicators/vvi_fpm_pilot", XPlaneType::Float, 1, "feet/minute", 1},
    {"sim/cockpit2/radios/actuators/transponder_mode", XPlaneType::Int, 1, "enum", 1},
    {"sim/cockpit2/switches/beacon_on", XPlaneType::Int, 1, "boolean", 1},
    {"sim/cockpit2/switches/landing_lights_on", XPlaneType::Int, 1, "boolean", 1},
    {"sim/cockpit2/switches/navigation_lights_on", XPlaneType::Int, 1, "boolean", 1},
    {"sim/cockpit2/switches/strobe_lights_on", XPlaneType::Int, 1, "boolean", 1},
    {"sim/cockpit2/switches/taxi_light_on", XPlaneType::Int, 1, "boolean", 1},
    {"sim/flightmodel/engine/ENGN_power", XPlaneType::FloatArray, 16, "-", 8},
    {"sim/flightmodel/failures/over_vne", XPlaneType::Int, 1, "-", 1},
    {"sim/flightmodel/failures/stallwarning", XPlaneType::Int, 1, "-", 1},
    {"sim/flightmodel/forces/g_nrml", XPlaneType::Float, 1, "Gs", 1},
    {"sim/flightmodel/position/elevation", XPlaneType::Double, 1, "meters", 1},
    {"sim/flightmodel/position/groundspeed", XPlaneType::Float, 1, "m/s", 1},
    {"sim/flightmodel/position/indicated_airspeed", XPlaneType::Float, 1, "kias", 1},
    {"sim/flightmodel/position/latitude", XPlaneType::Double, 1, "degrees", 1},
    {"sim/flightmodel/position/longitude", XPlaneType::Double, 1, "degrees", 1},
    {"sim/flightmodel/position/psi", XPlaneType::Float, 1, "degrees", 1},
    {"sim/flightmodel/position/true_airspeed", XPlaneType::Float, 1, "m/s", 1},
    {"sim/flightmodel/position/y_agl", XPlaneType::Float, 1, "meters", 1},
    {"sim/flightmodel/weight/m_fuel_total", XPlaneType::Float, 1, "kgs", 1},
    {"sim/flightmodel/weight/m_total", XPlaneType::Float, 1, "kgs", 1},
    {"sim/flightmodel2/gear/on_ground", XPlaneType::IntArray, 10, "boolean", 10},
    {"sim/flightmodel2/wing/spoiler1_deg", XPlaneType::FloatArray, 48, "degrees", 32},
    {"sim/operation/prefs/warn_overspeed", XPlaneType::Int, 1, "boolean", 1},  // read before
    {"sim/time/paused", XPlaneType::Int, 1, "boolean", 1},
    {"sim/time/total_running_time_sec", XPlaneType::Float, 1, "seconds", 1},
    {"sim/weather/aircraft/wind_direction_degt", XPlaneType::FloatArray, 13, "degrees", 0},  // read before
    {"sim/weather/aircraft/wind_now_direction_degt", XPlaneType::Float, 1, "degrees", 0},
    {"sim/weather/aircraft/wind_now_speed_msc", XPlaneType::Float, 1, "m/s", 0},
    {"sim/weather/aircraft/wind_speed_kts", XPlaneType::FloatArray, 13, "knots", 0},  // read before
    {"sim/weather/wind_direction_degt", XPlaneType::Float, 1, "degrees", 1},
    {"sim/weather/wind_speed_kt", XPlaneType::Float, 1, "m/s", 1},  // m/s despite its name
};

// The table's row for a name; null when the name is not in it.
inline const XPlaneDataRef* FindXPlaneDataRef(const char* name) {
  for (const XPlaneDataRef& row : kXPlaneDataRefs)
    if (std::strcmp(row.name, name) == 0) return &row;
  return nullptr;
}

// Elements (or bytes) the version publishes; 0 when it lacks the dataref.
inline int PublishedSize(const XPlaneDataRef& row, XPlaneVersion version) {
  return version == XPlaneVersion::XP12 ? row.xp12Size : row.xp11Size;
}

}  // namespace xphost
