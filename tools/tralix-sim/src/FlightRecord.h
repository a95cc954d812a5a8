// What happened on a flight, read from the plug-in's log lines as they come
// (each stamped with the sim time of the frame that wrote it), from the
// Connection Status window, and from what the embedded service received.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tralix_sim {

// One of the ten airborne samples: height above ground (ft), load factor (g),
// vertical speed (ft/min) and bank (degrees), oldest first in an event.
using LandingPoint = std::array<double, 4>;

struct LandingEvent {
  double simTime = 0.0;             // when the detector accepted the touchdown
  double touchdownHeight = 0.0;     // ft, from the touchdown line
  double flightTime = 0.0;          // s, from the touchdown line
  bool handedOver = false;          // the uploader started the request
  std::string outcome;              // "sent", "not enough points (n/10)", "not sent"
  std::vector<LandingPoint> points;  // as logged when collected
  std::vector<double> pointTimes;    // sim time each of them was logged

  // As the service received it (embedded service only).
  bool received = false;
  std::string verticalSpeedText;    // the JSON string members, as sent
  std::string altitudeText;
  std::vector<LandingPoint> receivedPoints;
  int status = 0;                   // HTTP status answered
};

// A broadcast the plug-in started: when, and which of the flight's it was
// (1 for the first).
struct BroadcastMark {
  double simTime = 0.0;
  int ordinal = 0;
};

struct BackoffChange {
  double simTime;
  double seconds;
};

class FlightRecord {
 public:
  // One log line without its newline, written during the frame that ended at simTime.
  void AddLogLine(double simTime, const std::string& line);
  // The "Backoff: X sec" line of the Connection Status window, read after a frame.
  void ObserveStatusLine(double simTime, const std::string& line);

  // Requests started and not yet finished, as the log tells.
  int RequestsInFlight() const;

  // Start-up and dialog activations, in order: e.g. "start-up: token obtained".
  const std::vector<std::string>& Activations() const { return activations_; }
  int BroadcastsStarted() const { return broadcastsStarted_; }
  int BroadcastsNotStarted() const { return broadcastsNotStarted_; }
  int Answered2xx() const { return answered2xx_; }
  // Connection failures by kind ("HTTP 500", "network error domain 1 code 61",
  // "stream not opened", "no response headers").
  const std::map<std::string, int>& Failures() const { return failures_; }
  int FailureCount() const;
  int LongestFailureStreak() const { return longestStreak_; }
  // The longest sim-time gap between two started broadcasts.
  double LongestBroadcastGap() const { return longestGap_; }
  const std::vector<BackoffChange>& BackoffChanges() const { return backoffChanges_; }
  bool StatusWindowSeen() const { return statusWindowSeen_; }
  // The first broadcast started after the detector's first takeoff line.
  const std::optional<BroadcastMark>& FirstBroadcastAfterTakeoff() const { return afterTakeoff_; }
  std::vector<LandingEvent>& Landings() { return landings_; }
  const std::vector<LandingEvent>& Landings() const { return landings_; }

 private:
  void NoteFailure(const std::string& kind);
  void NoteBroadcastStart(double simTime);
  void NoteCollectedPoint(double simTime, const std::string& line);
  void NoteTouchdown(double simTime, const std::string& line);
  void NoteActivation(const std::string& line);

  std::vector<std::string> activations_;
  std::string activationDetail_;  // why the activation under way failed, when it says
  int broadcastsStarted_ = 0;
  int broadcastsNotStarted_ = 0;
  int landingsStarted_ = 0;
  int finished_ = 0;
  int answered2xx_ = 0;
  std::map<std::string, int> failures_;
  int streak_ = 0;
  int longestStreak_ = 0;
  std::optional<double> lastBroadcastStart_;
  double longestGap_ = 0.0;
  std::vector<BackoffChange> backoffChanges_;
  bool statusWindowSeen_ = false;
  bool takeoffSeen_ = false;
  std::optional<BroadcastMark> afterTakeoff_;
  std::vector<LandingPoint> recentPoints_;
  std::vector<double> recentPointTimes_;
  bool awaitingLandingResult_ = false;
  std::vector<LandingEvent> landings_;
};

}  // namespace tralix_sim
