// Pairs members of one broadcast with the datarefs they come from.
#include "TakeoffBroadcast.h"

#include "TextUtil.h"

#include <nlohmann/json.hpp>

namespace tralix_sim {
namespace {

constexpr double kKnotsPerMetrePerSecond = 1.9438;

struct Source {
  const char* name;  // broadcast member, or extra key when inExtra
  bool inExtra;
  const char* path;
  const char* note;  // how the plug-in turns the dataref into what it sends
};

const Source kSources[] = {
    {"altitudeMSL", false, "sim/cockpit2/gauges/indicators/altitude_ft_pilot", "ft"},
    {"groundSpeed", false, "sim/flightmodel/position/groundspeed", "m/s, in knots"},
    {"airCraftName", false, "sim/aircraft/view/acf_ui_name", ""},
    {"Stall", true, "sim/flightmodel/failures/stallwarning", ""},
    {"xp_paused", true, "sim/time/paused", ""},
    {"Spoilers", true, "sim/flightmodel2/wing/spoiler1_deg", "element 0"},
    {"Overspeed", true, "sim/flightmodel/failures/over_vne", ""},
    {"Spoilers_armed", true, "sim/cockpit2/controls/speedbrake_ratio", "armed below 0"},
    {"xp_aircraft_wind_velocity", true, "sim/weather/aircraft/wind_now_speed_msc", "m/s, in knots"},
    {"xp_aircraft_wind_direction", true, "sim/weather/aircraft/wind_now_direction_degt", ""},
};

constexpr char kDescriptionPath[] = "sim/aircraft/view/acf_descrip";

// A member's value as written in the JSON text: a string to its closing quote,
// anything else to the comma or brace that ends it outside brackets.
std::string Member(const std::string& text, const char* name) {
  const std::string key = std::string("\"") + name + "\":";
  const size_t start = text.find(key);
  if (start == std::string::npos) return "(absent)";
  const size_t from = start + key.size();
  size_t end = from;
  if (end < text.size() && text[end] == '"') {
    for (++end; end < text.size() && text[end] != '"'; ++end)
      if (text[end] == '\\') ++end;
    return text.substr(from, end + 1 - from);
  }
  for (int depth = 0; end < text.size(); ++end) {
    if (text[end] == '[') ++depth;
    if (text[end] == ']') --depth;
    if (depth == 0 && (text[end] == ',' || text[end] == '}')) break;
  }
  return text.substr(from, end - from);
}

// The value a profile gives a dataref at a time, first element of an array.
bool FirstValue(const flight_profile::Profile& profile, const std::string& path, double time, std::string* text,
                double* number) {
  const int index = profile.FindDataRef(path);
  const flight_profile::Value* value = index >= 0 ? profile.ValueAt(index, time) : nullptr;
  if (!value) return false;
  if (!value->bytes.empty() || (value->floats.empty() && value->ints.empty())) {
    *text = "\"" + value->bytes + "\"";
    return true;
  }
  *number = value->floats.empty() ? value->ints[0] : value->floats[0];
  *text = value->floats.empty() ? std::to_string(value->ints[0]) : Fixed(value->floats[0], 2);
  return true;
}

std::string Published(const Source& source, const flight_profile::Profile& profile, double time,
                      xphost::XPlaneVersion version) {
  std::string path = source.path;
  const xphost::XPlaneDataRef* row = xphost::FindXPlaneDataRef(source.path);
  if (row && xphost::PublishedSize(*row, version) == 0) {
    if (std::string(source.name) != "airCraftName")
      return path.substr(path.rfind('/') + 1) + ": none in X-Plane 11, key left out";
    path = kDescriptionPath;  // what the plug-in names the aircraft with instead
  }
  std::string text;
  double number = 0.0;
  if (!FirstValue(profile, path, time, &text, &number)) return path + ": not published by the profile";
  const std::string note = source.note;
  const std::string shown = path.substr(path.rfind('/') + 1) + (note == "element 0" ? "[0] " : " ") + text;
  if (note == "m/s, in knots") return shown + " m/s = " + Fixed(number * kKnotsPerMetrePerSecond, 2) + " kt";
  if (note == "armed below 0") return shown + (number < 0.0 ? " (armed)" : " (not armed)");
  if (note == "ft") return shown + " ft";
  return shown;
}

}  // namespace

std::vector<SentBesidePublished> CompareWithPublished(const std::string& body, const flight_profile::Profile& profile,
                                                      double profileTime, xphost::XPlaneVersion version) {
  const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  const nlohmann::json none;
  const nlohmann::json& extraMember = parsed.is_object() && parsed.contains("extra") ? parsed["extra"] : none;
  const std::string extra = extraMember.is_string() ? extraMember.get<std::string>() : "";
  std::vector<SentBesidePublished> lines;
  for (const Source& source : kSources)
    lines.push_back({source.name, Member(source.inExtra ? extra : body, source.name),
                     Published(source, profile, profileTime, version)});
  return lines;
}

}  // namespace tralix_sim
