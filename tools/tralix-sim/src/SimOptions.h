// Command line of tralix-sim: what to fly, against which service, how fast,
// and what the pilot does on the way.
#pragma once

#include "PilotScript.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tralix_sim {

// A misbehaviour of the embedded service, armed at a profile time for the
// broadcasts that follow.
struct ServiceFault {
  double time = 0.0;
  int count = 1;
  int status = 0;       // answer with this HTTP status
  bool drop = false;    // close the connection without an answer
  int delayMs = 0;      // answer this much later
  std::string text;     // as given, for the summary
};

struct SimOptions {
  std::string profilePath;
  std::string pluginPath;          // empty: the build's Tralix.xpl
  std::string outDir = "tralix-sim-out";
  int xplaneVersion = 12;          // whose datarefs the host publishes: 11 or 12

  // Tralix.cfg written beside the plug-in copy.
  bool writeConfig = true;
  bool apiKeyGiven = false;
  std::string apiKey;              // empty with apiKeyGiven false: the demo key (embedded service)
  std::string token;

  double speed = 40.0;             // sim seconds per wall second
  double frameSeconds = 1.0 / 30.0;
  double untilTime = -1.0;         // < 0: the profile's end

  std::string serviceAddress;      // empty: the embedded service
  std::string caFile;
  std::vector<std::string> serviceKeys;  // KEY[=TOKEN] the embedded service accepts
  std::vector<ServiceFault> faults;
  std::string recordFile;

  std::vector<PilotAction> actions;
  bool statusWindow = true;
  bool sandbox = true;
  bool verbose = false;
  int expectLandings = -1;         // >= 0: exit 3 unless exactly this many landing events
};

constexpr char kDemoApiKey[] = "TRALIX-DEMO-KEY";
// Bound on a --ca file; a whole system CA bundle is a fraction of it.
constexpr size_t kMaxCaBytes = 1u << 20;
constexpr char kDemoToken[] = "demo-data-token";

enum class ParseOutcome { kRun, kHelp, kError };

// Reads argv (without argv[0]). On kError, error holds one line naming the
// problem. Script files named by --script are read here.
ParseOutcome ParseOptions(const std::vector<std::string>& arguments, SimOptions* options, std::string* error);

std::string HelpText();

// "127.0.0.1:8443" -> host and port (443 when none is given). False when malformed.
bool SplitHostPort(const std::string& address, std::string* host, int* port);

}  // namespace tralix_sim
