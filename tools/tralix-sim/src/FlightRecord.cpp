// Reads the plug-in's log lines (their texts are fixed) into counts of
// broadcasts, connection failures and landing events.
#include "FlightRecord.h"

#include "TextUtil.h"

#include <algorithm>
#include <cmath>

namespace tralix_sim {
namespace {

// The number that follows label in line, up to the next ',', ' ', ')' or end.
std::optional<double> NumberAfter(const std::string& line, const std::string& label) {
  const size_t start = line.find(label);
  if (start == std::string::npos) return std::nullopt;
  const size_t from = start + label.size();
  const size_t end = line.find_first_of(", )", from);
  double value = 0.0;
  if (!ParseDecimal(line.substr(from, end == std::string::npos ? std::string::npos : end - from), &value))
    return std::nullopt;
  return value;
}

struct ActivationLine {
  const char* line;
  const char* meaning;
  bool failed;
};

constexpr ActivationLine kActivationLines[] = {
    {"Tralix - Successfully activated and saved DATA_KEY_TOKEN", "start-up: API key activated, token saved", false},
    {"Tralix - ERROR: Failed to activate API key", "start-up: activation failed", true},
    {"Tralix - ERROR: Failed to save DATA_KEY_TOKEN to config", "start-up: activated, but the token was not saved",
     true},
    {"Tralix - Successfully loaded DATA_KEY_TOKEN", "start-up: data token read from Tralix.cfg", false},
    {"Tralix - INFO: No API_KEY configured yet. Plugin will start but data transmission will be disabled.",
     "start-up: no API key configured, nothing will be sent", false},
    {"Tralix - API key activated and token saved successfully", "dialog: API key activated, token saved", false},
    {"Tralix - Connection activated and token saved successfully", "dialog: connection activated, token saved",
     false},
    {"Tralix - Failed to activate API key", "dialog: activation failed", true},
    {"Tralix - Failed to activate connection", "dialog: activation failed", true},
    {"Tralix - Connection deactivated and token cleared", "dialog: connection deactivated, token cleared", false},
    {"Tralix - API key and token cleared for change", "dialog: API key and token cleared for a change", false},
    {"Tralix - API key and token cleared", "dialog: API key cleared", false},
};

// Lines that say why an activation failed.
bool IsActivationDetail(const std::string& line) {
  return StartsWith(line, "Tralix - ERROR: ") || StartsWith(line, "Tralix - Stream error: ") ||
         line == "Tralix - API activation failed";
}

}  // namespace

void FlightRecord::AddLogLine(double simTime, const std::string& line) {
  if (line == "Tralix - Successfully sent aircraft data") {
    NoteBroadcastStart(simTime);
  } else if (StartsWith(line, "Tralix - Takeoff detected!")) {
    takeoffSeen_ = true;
  } else if (line == "Tralix - Failed to send aircraft data") {
    ++broadcastsNotStarted_;
  } else if (StartsWith(line, "Tralix - HTTP Status Code: ")) {
    ++finished_;
    const auto status = NumberAfter(line, "Code: ");
    if (status && *status >= 200 && *status <= 299) {
      ++answered2xx_;
      streak_ = 0;
    } else {
      NoteFailure("HTTP " + line.substr(std::string("Tralix - HTTP Status Code: ").size()));
    }
  } else if (StartsWith(line, "Tralix - Network error: ")) {
    ++finished_;
    NoteFailure("network error (" + line.substr(std::string("Tralix - Network error: ").size()) + ")");
  } else if (line == "Tralix - WARNING: No HTTP response headers available") {
    ++finished_;
    streak_ = 0;  // the plug-in counts an answer without headers as a success
  } else if (line == "Tralix - Failed to open network connection" || line == "Tralix - Failed to set client callback") {
    NoteFailure("stream not opened");
  } else if (StartsWith(line, "Tralix - Collected data point: ")) {
    NoteCollectedPoint(simTime, line);
  } else if (StartsWith(line, "Tralix - Weight on wheels detected! ")) {
    NoteTouchdown(simTime, line);
  } else if (StartsWith(line, "Tralix - DEBUG: Not enough data points for landing event") && !landings_.empty()) {
    const size_t open = line.find('(');
    landings_.back().outcome = "not sent: not enough points " + (open == std::string::npos ? "" : line.substr(open));
  } else if (StartsWith(line, "Tralix - DEBUG: Sending landing event with buffer data") && !landings_.empty()) {
    landings_.back().points = recentPoints_;
    landings_.back().pointTimes = recentPointTimes_;
    awaitingLandingResult_ = true;
  } else if (awaitingLandingResult_ && (line == "Tralix - Landing event sent successfully" ||
                                        line == "Tralix - Failed to send landing event")) {
    awaitingLandingResult_ = false;
    const bool sent = line == "Tralix - Landing event sent successfully";
    landings_.back().handedOver = sent;
    landings_.back().outcome = sent ? "sent" : "not sent: the request could not be started";
    if (sent) ++landingsStarted_;
  } else if (line == "Tralix - Takeoff detection reset (new flight session)") {
    recentPoints_.clear();
    recentPointTimes_.clear();
  } else {
    NoteActivation(line);
  }
}

void FlightRecord::NoteActivation(const std::string& line) {
  std::string& detail = activationDetail_;
  if (line == "Tralix - Activating API key") {
    detail.clear();
    return;
  }
  for (const ActivationLine& known : kActivationLines) {
    if (line != known.line) continue;
    activations_.push_back(std::string(known.meaning) + (known.failed && !detail.empty() ? " (" + detail + ")" : ""));
    detail.clear();
    return;
  }
  if (IsActivationDetail(line) && detail.empty()) detail = line.substr(std::string("Tralix - ").size());
}

void FlightRecord::NoteFailure(const std::string& kind) {
  ++failures_[kind];
  ++streak_;
  longestStreak_ = std::max(longestStreak_, streak_);
}

void FlightRecord::NoteBroadcastStart(double simTime) {
  ++broadcastsStarted_;
  if (lastBroadcastStart_) longestGap_ = std::max(longestGap_, simTime - *lastBroadcastStart_);
  lastBroadcastStart_ = simTime;
  if (takeoffSeen_ && !afterTakeoff_) afterTakeoff_ = BroadcastMark{simTime, broadcastsStarted_};
}

void FlightRecord::NoteCollectedPoint(double simTime, const std::string& line) {
  const auto height = NumberAfter(line, "alt=");
  const auto load = NumberAfter(line, "g=");
  const auto vertical = NumberAfter(line, "vs=");
  const auto bank = NumberAfter(line, "roll=");
  if (!height || !load || !vertical || !bank) return;
  recentPoints_.push_back({*height, *load, *vertical, *bank});
  recentPointTimes_.push_back(simTime);
  if (recentPoints_.size() > 10) {
    recentPoints_.erase(recentPoints_.begin());
    recentPointTimes_.erase(recentPointTimes_.begin());
  }
}

void FlightRecord::NoteTouchdown(double simTime, const std::string& line) {
  LandingEvent event;
  event.simTime = simTime;
  event.touchdownHeight = NumberAfter(line, "Altitude AGL: ").value_or(NAN);
  event.flightTime = NumberAfter(line, "Flight time: ").value_or(NAN);
  event.outcome = "not sent";
  landings_.push_back(event);
}

void FlightRecord::ObserveStatusLine(double simTime, const std::string& line) {
  const auto seconds = NumberAfter(line, "Backoff: ");
  if (!seconds) return;
  statusWindowSeen_ = true;
  if (backoffChanges_.empty() || backoffChanges_.back().seconds != *seconds)
    backoffChanges_.push_back({simTime, *seconds});
}

int FlightRecord::RequestsInFlight() const { return broadcastsStarted_ + landingsStarted_ - finished_; }

int FlightRecord::FailureCount() const {
  int total = 0;
  for (const auto& failure : failures_) total += failure.second;
  return total;
}

}  // namespace tralix_sim
