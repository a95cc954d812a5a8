// The flight-profile reader on arbitrary text: it either refuses the text with
// a "name:line: message" error, or gives rows whose times strictly increase and
// whose values fit their declared datarefs.
#include "FlightProfile.h"
#include "FuzzCheck.h"

#include <cstdint>
#include <string>

namespace {

void CheckValue(const flight_profile::DataRefDecl& decl, const flight_profile::Value& value) {
  using flight_profile::ValueType;
  switch (decl.type) {
    case ValueType::Float: Check(value.floats.size() == 1, "one float"); break;
    case ValueType::Int: Check(value.ints.size() == 1, "one int"); break;
    case ValueType::FloatArray:
      Check(value.floats.size() <= static_cast<size_t>(decl.count), "float array within its size");
      break;
    case ValueType::IntArray:
      Check(value.ints.size() <= static_cast<size_t>(decl.count), "int array within its size");
      break;
    case ValueType::Bytes: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  flight_profile::Profile profile;
  std::string error;
  if (!flight_profile::ParseProfile(text, "fuzz.flight", &profile, &error)) {
    Check(error.rfind("fuzz.flight:", 0) == 0, "errors name the file and line");
    return 0;
  }
  for (size_t i = 1; i < profile.rows.size(); ++i)
    Check(profile.rows[i].time > profile.rows[i - 1].time, "row times strictly increase");
  for (const auto& row : profile.rows)
    for (const auto& assignment : row.assignments) {
      Check(assignment.dataref >= 0 && static_cast<size_t>(assignment.dataref) < profile.datarefs.size(),
            "assignments name a declared dataref");
      CheckValue(profile.datarefs[static_cast<size_t>(assignment.dataref)], assignment.value);
    }
  return 0;
}
