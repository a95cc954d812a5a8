// tralix-sim's parts on their own: the pilot-action parser, the service address,
// and how the plug-in's log lines become the counts and landing events of the
// summary.
#include "FlightRecord.h"
#include "PilotScript.h"
#include "SimOptions.h"
#include "Summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tralix_sim::ActionKind;
using tralix_sim::FlightRecord;
using tralix_sim::PilotAction;

TEST(PilotScript, ActionsParseOrNameTheProblem) {
  struct Case {
    const char* line;
    bool ok;
    ActionKind kind;
    const char* argument;
  };
  const Case cases[] = {
      {"5 menu Tralix/Configuration", true, ActionKind::kMenu, "Tralix/Configuration"},
      {"7.5   press   Activate API Key  ", true, ActionKind::kPress, "Activate API Key"},
      {"6 type \"  tlx key  \"", true, ActionKind::kType, "  tlx key  "},
      {"6 key ctrl+v", true, ActionKind::kKey, "ctrl+v"},
      {"6 key return", true, ActionKind::kKey, "return"},
      {"6 paste", true, ActionKind::kPaste, ""},
      {"6 clipboard TRALIX-DEMO-KEY", true, ActionKind::kClipboard, "TRALIX-DEMO-KEY"},
      {"9 close", true, ActionKind::kClose, ""},
      {"9 close now", false, ActionKind::kClose, ""},
      {"6 key ctrl+", false, ActionKind::kKey, ""},
      {"6 key hyper+v", false, ActionKind::kKey, ""},
      {"6 key page-up", false, ActionKind::kKey, ""},
      {"6 press", false, ActionKind::kPress, ""},
      {"-1 close", false, ActionKind::kClose, ""},
      {"soon close", false, ActionKind::kClose, ""},
      {"5 fly", false, ActionKind::kMenu, ""},
      {"5", false, ActionKind::kMenu, ""},
  };
  for (const Case& c : cases) {
    PilotAction action;
    std::string error;
    EXPECT_EQ(tralix_sim::ParseAction(c.line, &action, &error), c.ok) << c.line << ": " << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.line;
      continue;
    }
    EXPECT_EQ(action.kind, c.kind) << c.line;
    EXPECT_EQ(action.argument, c.argument) << c.line;
  }
}

TEST(PilotScript, ScriptErrorsNameFileAndLine) {
  std::vector<PilotAction> actions;
  std::string error;
  ASSERT_TRUE(tralix_sim::ParseScript("# set-up\r\n\n5 menu Tralix/Configuration\r\n  6 paste KEY\n", "a.script",
                                      &actions, &error))
      << error;
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_DOUBLE_EQ(actions[1].time, 6.0);
  EXPECT_EQ(actions[1].argument, "KEY");

  EXPECT_FALSE(tralix_sim::ParseScript("5 menu Tralix\n6 jump\n", "b.script", &actions, &error));
  EXPECT_EQ(error.rfind("b.script:2: ", 0), 0u) << error;
}

TEST(SimOptions, ServiceAddresses) {
  struct Case {
    const char* address;
    bool ok;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"staging.example.com", true, "staging.example.com", 443},
      {"127.0.0.1:8443", true, "127.0.0.1", 8443},
      {"[::1]:8443", true, "::1", 8443},
      {"[::1]", true, "::1", 443},
      {"host:0", false, "", 0},
      {"host:70000", false, "", 0},
      {"host:", false, "", 0},
      {":443", false, "", 0},
      {"::1", false, "", 0},
      {"https://host", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    int port = 0;
    EXPECT_EQ(tralix_sim::SplitHostPort(c.address, &host, &port), c.ok) << c.address;
    if (!c.ok) continue;
    EXPECT_EQ(host, c.host) << c.address;
    EXPECT_EQ(port, c.port) << c.address;
  }
}

// ---- the plug-in's log read into the summary's figures -------------------------

void Feed(FlightRecord* record, double time, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) record->AddLogLine(time, line);
}

std::string Point(int height) {
  return "Tralix - Collected data point: alt=" + std::to_string(height) +
         ".00, g=1.0000, vs=-150.00, roll=2.00 (Buffer: 10/10, WOW: No)";
}

TEST(FlightRecord, FailureStreaksEndAtASuccessAndInFlightCountsBothKinds) {
  FlightRecord record;
  Feed(&record, 10.0, {"Tralix - Successfully sent aircraft data"});
  EXPECT_EQ(record.RequestsInFlight(), 1);
  Feed(&record, 10.1, {"Tralix - HTTP Status Code: 500", "Tralix - ERROR: Server error. Please try again later"});
  Feed(&record, 11.2, {"Tralix - Successfully sent aircraft data", "Tralix - Network error: domain 1, code 61"});
  Feed(&record, 12.3, {"Tralix - Failed to open network connection", "Tralix - Failed to send aircraft data"});
  Feed(&record, 20.0, {"Tralix - Successfully sent aircraft data", "Tralix - HTTP Status Code: 200",
                       "Tralix - Successfully sent aircraft data to server"});
  Feed(&record, 21.1, {"Tralix - Successfully sent aircraft data", "Tralix - HTTP Status Code: 404"});
  EXPECT_EQ(record.BroadcastsStarted(), 4);
  EXPECT_EQ(record.BroadcastsNotStarted(), 1);
  EXPECT_EQ(record.Answered2xx(), 1);
  EXPECT_EQ(record.FailureCount(), 4);
  EXPECT_EQ(record.LongestFailureStreak(), 3);
  EXPECT_DOUBLE_EQ(record.LongestBroadcastGap(), 20.0 - 11.2);
  EXPECT_EQ(record.Failures().at("HTTP 500"), 1);
  EXPECT_EQ(record.Failures().at("stream not opened"), 1);
  EXPECT_EQ(record.RequestsInFlight(), 0);

  // A landing event in flight beside a broadcast; the uploader's and the
  // detector's identical success lines count it once.
  Feed(&record, 30.0, {"Tralix - Weight on wheels detected! Gear values: [0,1,1,0,0,0,0,0,0,0] "
                       "(Altitude AGL: 3.2 ft, Flight time: 119.9 seconds)",
                       "Tralix - DEBUG: Sending landing event with buffer data at time 30.000",
                       "Tralix - Landing event sent successfully", "Tralix - Landing event sent successfully",
                       "Tralix - Successfully sent aircraft data"});
  EXPECT_EQ(record.RequestsInFlight(), 2);
}

TEST(FlightRecord, LandingEventsCarryTheLastTenPointsOfTheirFlight) {
  FlightRecord record;
  for (int height = 100; height > 70; --height) Feed(&record, 40.0, {Point(height)});
  // A new flight starts: the points of the first do not belong to its event.
  Feed(&record, 50.0, {"Tralix - Takeoff detection reset (new flight session)"});
  for (int height = 15; height > 0; --height) Feed(&record, 60.0 - height * 0.1, {Point(height)});
  Feed(&record, 70.0,
       {"Tralix - Weight on wheels detected! Gear values: [0,1,1,0,0,0,0,0,0,0] (Altitude AGL: 3.2 ft, Flight "
        "time: 119.9 seconds)",
        "Tralix - DEBUG: Sending landing event with buffer data at time 70.000",
        "Tralix - Landing event sent successfully", "Tralix - Landing event sent successfully"});
  // A touchdown too early in the next flight is seen but not sent.
  Feed(&record, 90.0, {"Tralix - Takeoff detection reset (new flight session)", Point(5),
                       "Tralix - Weight on wheels detected! Gear values: [0,1,1,0,0,0,0,0,0,0] (Altitude AGL: "
                       "3.2 ft, Flight time: 75.0 seconds)",
                       "Tralix - DEBUG: Not enough data points for landing event (1/10)"});

  const auto& landings = record.Landings();
  ASSERT_EQ(landings.size(), 2u);
  EXPECT_TRUE(landings[0].handedOver);
  EXPECT_DOUBLE_EQ(landings[0].simTime, 70.0);
  EXPECT_DOUBLE_EQ(landings[0].touchdownHeight, 3.2);
  EXPECT_DOUBLE_EQ(landings[0].flightTime, 119.9);
  ASSERT_EQ(landings[0].points.size(), 10u);
  EXPECT_DOUBLE_EQ(landings[0].points.front()[0], 10.0);
  EXPECT_DOUBLE_EQ(landings[0].points.back()[0], 1.0);
  EXPECT_DOUBLE_EQ(landings[0].points.back()[2], -150.0);
  ASSERT_EQ(landings[0].pointTimes.size(), 10u);
  EXPECT_DOUBLE_EQ(landings[0].pointTimes.front(), 59.0);
  EXPECT_FALSE(landings[1].handedOver);
  EXPECT_NE(landings[1].outcome.find("(1/10)"), std::string::npos) << landings[1].outcome;
  EXPECT_EQ(record.RequestsInFlight(), 1);
}

TEST(FlightRecord, ActivationsSayWhyTheyFailed) {
  FlightRecord record;
  Feed(&record, 0.0, {"Tralix - INFO: API key found but no token. Attempting activation...",
                      "Tralix - Activating API key", "Tralix - API activation failed",
                      "Tralix - ERROR: Failed to activate API key"});
  Feed(&record, 5.0, {"Tralix - Activating API key", "Tralix - Successfully extracted token",
                      "Tralix - API key activated and token saved successfully"});
  ASSERT_EQ(record.Activations().size(), 2u);
  EXPECT_EQ(record.Activations()[0], "start-up: activation failed (API activation failed)");
  EXPECT_EQ(record.Activations()[1], "dialog: API key activated, token saved");
}

TEST(FlightRecord, BackoffIsTakenFromTheStatusWindowWhenItChanges) {
  FlightRecord record;
  EXPECT_FALSE(record.StatusWindowSeen());
  for (const char* line : {"Backoff: 0.0 sec", "Backoff: 0.0 sec", "Backoff: 1.0 sec", "Backoff: 3.0 sec",
                           "Backoff: 3.0 sec", "Backoff: 0.0 sec", "Connection: Ready"})
    record.ObserveStatusLine(1.0, line);
  ASSERT_EQ(record.BackoffChanges().size(), 4u);
  EXPECT_DOUBLE_EQ(record.BackoffChanges()[2].seconds, 3.0);
  EXPECT_TRUE(record.StatusWindowSeen());
}

// The x of each point in the first panel, from its circle.
std::vector<double> FirstPanelXs(const std::string& svg, size_t count) {
  std::vector<double> xs;
  for (size_t at = svg.find("<circle cx=\""); at != std::string::npos && xs.size() < count;
       at = svg.find("<circle cx=\"", at + 1))
    xs.push_back(std::stod(svg.substr(at + 12)));
  return xs;
}

TEST(Summary, ChartPlacesPointsByTimeAndStaysFinite) {
  tralix_sim::LandingEvent event;
  event.simTime = 100.0;
  event.points.assign(3, {3.2, 1.0, -150.0, 0.0});  // flat series: no zero range
  event.pointTimes = {99.0, 99.1, 99.9};            // uneven spacing, as frames come
  std::string svg = tralix_sim::LandingChartSvg(event, 1);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
  EXPECT_TRUE(svg.find("-1.00 s") != std::string::npos && svg.find("-0.10 s") != std::string::npos) << svg;
  std::vector<double> xs = FirstPanelXs(svg, 3);
  ASSERT_EQ(xs.size(), 3u);
  EXPECT_NEAR((xs[1] - xs[0]) / (xs[2] - xs[1]), 0.1 / 0.8, 0.01);

  event.pointTimes.assign(3, 99.5);  // all in one frame: no zero span either
  svg = tralix_sim::LandingChartSvg(event, 1);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

}  // namespace
