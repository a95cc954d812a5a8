// One tralix-sim run: plug-in folder, service, the paced frame loop, summary.
#pragma once

#include "SimOptions.h"

namespace tralix_sim {

// Flies the profile and prints the summary to stdout. Returns the exit status.
int RunSimulation(const SimOptions& options);

}  // namespace tralix_sim
