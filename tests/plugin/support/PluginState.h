// The plug-in's simulator side as start-up leaves it, shared by the unit tests
// and the benchmarks (no test framework needed).
#pragma once

#include <set>
#include <string>

namespace tralix_test {

// An aircraft parked at Seattle: a negative longitude that takes the number
// formatter's ten-decimal branch, and a name with quotes to escape.
void PublishCoreDataRefs();

// Every catalogue row at floatValue or intValue, arrays full, except the
// paths left out; the host gives each dataref X-Plane's type.
void PublishCatalogue(float floatValue, int intValue, const std::set<std::string>& leftOut = {});

// What start-up does over the published datarefs: core handles found, the
// catalogue resolved, landing detection and network state initialised.
// False when no catalogue row resolved.
bool StartModules();

}  // namespace tralix_test
