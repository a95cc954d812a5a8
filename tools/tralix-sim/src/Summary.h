// The report printed at the end of a run and the landing charts.
#pragma once

#include "FlightRecord.h"
#include "TakeoffBroadcast.h"

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tralix_sim {

// What the embedded service received, by kind of request.
struct ServiceTally {
  bool embedded = false;
  std::string description;
  int activations = 0;
  int activationsOk = 0;
  int broadcasts = 0;
  int broadcastsOk = 0;
  int events = 0;
  int eventsOk = 0;
  std::map<std::string, int> otherVerdicts;  // verdict -> count, for answers other than "ok"
};

struct RunFacts {
  std::string profile;
  double simSeconds = 0.0;
  double wallSeconds = 0.0;
  long frames = 0;
  std::string pluginPath;
  std::string logPath;
  std::vector<std::string> actionReports;  // "12 menu Tralix/Configuration: ok"
  std::vector<std::string> actionsFailed;  // the reports of those that could not be done
  int requestsLeftInFlight = 0;
  bool interrupted = false;  // Ctrl+C ended the flight early
  int xplaneVersion = 12;
  // The first broadcast after takeoff, when the embedded service received it.
  std::optional<BroadcastMark> takeoffBroadcast;
  std::vector<SentBesidePublished> takeoffValues;
};

void PrintSummary(std::ostream& out, const RunFacts& facts, const ServiceTally& service, const FlightRecord& record,
                  const std::vector<std::string>& chartFiles);

// The ten points of one landing event as four small line charts (height,
// vertical speed, load factor, bank) over the seconds before touchdown.
std::string LandingChartSvg(const LandingEvent& event, int number);

// The points the summary shows: what the service received when it did, else
// what the plug-in logged.
const std::vector<LandingPoint>& ShownPoints(const LandingEvent& event);

}  // namespace tralix_sim
