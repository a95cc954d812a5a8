// tralix-sim: the shipped Tralix plug-in flying a recorded flight in the
// headless simulator host against a Tralix service over HTTPS.
#include "FlightProfile.h"
#include "Sandbox.h"
#include "SimOptions.h"
#include "SimRun.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  tralix_sim::SimOptions options;
  std::string error;
  switch (tralix_sim::ParseOptions(arguments, &options, &error)) {
    case tralix_sim::ParseOutcome::kHelp:
      std::fputs(tralix_sim::HelpText().c_str(), stdout);
      return 0;
    case tralix_sim::ParseOutcome::kError:
      std::fprintf(stderr, "tralix-sim: %s\n", error.c_str());
      return 2;
    case tralix_sim::ParseOutcome::kRun:
      break;
  }
  // Refuse an unreadable or malformed profile here, before any sandbox is set up.
  flight_profile::Profile profile;
  if (!flight_profile::LoadProfile(options.profilePath, &profile, &error)) {
    std::fprintf(stderr, "tralix-sim: %s\n", error.c_str());
    return 1;
  }
  if (options.sandbox && !tralix_sim::InsideSandbox()) {
    const int status = tralix_sim::RunInsideSandbox(arguments, options.serviceAddress, &error);
    if (status >= 0) return status;
    std::fprintf(stderr, "tralix-sim: %s\n", error.c_str());
    return 1;
  }
  return tralix_sim::RunSimulation(options);
}
