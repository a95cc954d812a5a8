#include "PluginState.h"

#include "DataRefs.h"
#include "LandingDetection.h"
#include "NetworkManager.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include <cstring>
#include <vector>

namespace tralix_test {

void PublishCoreDataRefs() {
  xphost::SetDataf("sim/flightmodel/position/latitude", 47.449123f);
  xphost::SetDataf("sim/flightmodel/position/longitude", -122.30912f);
  xphost::SetDataf("sim/flightmodel/position/elevation", 131.0f);
  xphost::SetDataf("sim/flightmodel/position/psi", 163.5f);
  xphost::SetDataf("sim/flightmodel/position/groundspeed", 6.0f);
  xphost::SetDataf("sim/flightmodel/position/y_agl", 0.0f);
  xphost::SetDataf("sim/cockpit2/gauges/indicators/altitude_ft_pilot", 430.0f);
  xphost::SetDatab("sim/aircraft/view/acf_ICAO", "C172");
  xphost::SetDatab("sim/aircraft/view/acf_ui_name", "Cessna 172 \"Skyhawk\"");
}

void PublishCatalogue(float floatValue, int intValue, const std::set<std::string>& leftOut) {
  std::set<std::string> published = leftOut;
  for (const DataRefMapping* row = gMappings; row->name; ++row) {
    if (!published.insert(row->dataRefPath).second) continue;
    const bool isInt = std::strcmp(row->dataType, "int") == 0;
    const size_t count = static_cast<size_t>(row->arraySize);
    if (row->isArray && isInt) {
      xphost::SetDatavi(row->dataRefPath, std::vector<int>(count, intValue));
    } else if (row->isArray) {
      xphost::SetDatavf(row->dataRefPath, std::vector<float>(count, floatValue));
    } else if (isInt) {
      xphost::SetDatai(row->dataRefPath, intValue);
    } else {
      xphost::SetDataf(row->dataRefPath, floatValue);
    }
  }
}

bool StartModules() {
  FindCoreDataRefs();
  const bool resolved = InitDataRefs() != 0;
  InitLandingDetection();
  InitNetwork();
  return resolved;
}

}  // namespace tralix_test
