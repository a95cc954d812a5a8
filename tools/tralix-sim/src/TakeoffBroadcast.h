// The first broadcast after takeoff beside what the simulator published when
// the plug-in built it: the values that read the wrong dataref, or read one
// the wrong way, before.
#pragma once

#include "FlightProfile.h"
#include "XPlaneDataRefs.h"

#include <string>
#include <vector>

namespace tralix_sim {

struct SentBesidePublished {
  std::string name;       // the broadcast member or extra key
  std::string sent;       // as the service received it
  std::string published;  // the dataref and its value then
};

// body: the broadcast as the service received it; values are shown as written
// there (the extra object's after its JSON string is decoded). Published values
// are the profile's at profileTime, as the given X-Plane version publishes them.
std::vector<SentBesidePublished> CompareWithPublished(const std::string& body, const flight_profile::Profile& profile,
                                                      double profileTime, xphost::XPlaneVersion version);

}  // namespace tralix_sim
