// tralix-sim's parts where its flights in test_tralix_sim do not reach: the
// service address forms, the plug-in's log read into the summary's figures for
// what those flights never log, and a chart of degenerate points.
#include "FlightRecord.h"
#include "SimOptions.h"
#include "Summary.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using tralix_sim::FlightRecord;

// An address that parses gives "host port"; one that does not, "".
TEST(SimOptions, ServiceAddresses) {
  const std::pair<const char*, const char*> cases[] = {
      {"staging.example.com", "staging.example.com 443"}, {"127.0.0.1:8443", "127.0.0.1 8443"},
      {"[::1]:8443", "::1 8443"}, {"[::1]", "::1 443"}, {"host:0", ""}, {"host:70000", ""}, {"host:", ""},
      {":443", ""}, {"::1", ""}, {"https://host", ""},
  };
  for (const auto& [address, expected] : cases) {
    std::string host;
    int port = 0;
    const bool ok = tralix_sim::SplitHostPort(address, &host, &port);
    EXPECT_EQ(ok ? host + " " + std::to_string(port) : "", expected) << address;
  }
}

void Feed(FlightRecord* record, double time, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) record->AddLogLine(time, line);
}

const char kTouchdown[] = "Tralix - Weight on wheels detected! Gear values: [0,1,1,0,0,0,0,0,0,0] (Altitude AGL: "
                          "3.2 ft, Flight time: 119.9 seconds)";

// Every kind of failure counts, a success ends a streak, and the sim clock
// waits while a broadcast or a landing event is still unanswered.
TEST(FlightRecord, FailuresOfEveryKindStreaksAndRequestsInFlight) {
  FlightRecord record;
  Feed(&record, 10.0, {"Tralix - Successfully sent aircraft data"});
  EXPECT_EQ(record.RequestsInFlight(), 1);
  Feed(&record, 10.1, {"Tralix - HTTP Status Code: 500", "Tralix - ERROR: Server error. Please try again later"});
  Feed(&record, 11.2, {"Tralix - Successfully sent aircraft data", "Tralix - Network error: domain 1, code 61"});
  Feed(&record, 12.3, {"Tralix - Failed to open network connection", "Tralix - Failed to send aircraft data"});
  Feed(&record, 20.0, {"Tralix - Successfully sent aircraft data", "Tralix - HTTP Status Code: 200",
                       "Tralix - Successfully sent aircraft data to server"});
  Feed(&record, 21.1, {"Tralix - Successfully sent aircraft data", "Tralix - HTTP Status Code: 404"});
  EXPECT_EQ(record.BroadcastsNotStarted(), 1);
  EXPECT_EQ(record.FailureCount(), 4);
  EXPECT_EQ(record.Failures().size(), 4u) << "500, the network error, the unopened stream and 404 are told apart";
  EXPECT_EQ(record.LongestFailureStreak(), 3);
  EXPECT_DOUBLE_EQ(record.LongestBroadcastGap(), 20.0 - 11.2);
  EXPECT_EQ(record.RequestsInFlight(), 0);
  // The uploader's and the detector's identical success lines count once.
  Feed(&record, 30.0, {kTouchdown, "Tralix - DEBUG: Sending landing event with buffer data at time 30.000",
                       "Tralix - Landing event sent successfully", "Tralix - Landing event sent successfully",
                       "Tralix - Successfully sent aircraft data"});
  EXPECT_EQ(record.RequestsInFlight(), 2);
}

std::string Point(int height) {
  return "Tralix - Collected data point: alt=" + std::to_string(height) +
         ".00, g=1.0000, vs=-150.00, roll=2.00 (Buffer: 10/10, WOW: No)";
}

TEST(FlightRecord, LandingEventsCarryTheLastTenPointsOfTheirOwnFlight) {
  FlightRecord record;
  for (int height = 100; height > 70; --height) Feed(&record, 40.0, {Point(height)});
  Feed(&record, 50.0, {"Tralix - Takeoff detection reset (new flight session)"});
  for (int height = 15; height > 0; --height) Feed(&record, 60.0 - height * 0.1, {Point(height)});
  Feed(&record, 70.0, {kTouchdown, "Tralix - DEBUG: Sending landing event with buffer data at time 70.000",
                       "Tralix - Landing event sent successfully"});
  // A touchdown too early in the next flight is seen but not sent.
  Feed(&record, 90.0, {"Tralix - Takeoff detection reset (new flight session)", Point(5), kTouchdown,
                       "Tralix - DEBUG: Not enough data points for landing event (1/10)"});
  const auto& landings = record.Landings();
  ASSERT_EQ(landings.size(), 2u);
  EXPECT_TRUE(landings[0].handedOver);
  ASSERT_EQ(landings[0].points.size(), 10u);
  EXPECT_DOUBLE_EQ(landings[0].points.front()[0], 10.0);
  EXPECT_DOUBLE_EQ(landings[0].points.back()[0], 1.0);
  ASSERT_EQ(landings[0].pointTimes.size(), 10u);
  EXPECT_DOUBLE_EQ(landings[0].pointTimes.front(), 59.0);
  EXPECT_FALSE(landings[1].handedOver);
  EXPECT_NE(landings[1].outcome.find("1/10"), std::string::npos) << landings[1].outcome;
}

// A flat series, and points all in one frame, divide by no zero range.
TEST(Summary, ChartOfDegeneratePointsStaysFinite) {
  tralix_sim::LandingEvent event;
  event.simTime = 100.0;
  event.points.assign(3, {3.2, 1.0, -150.0, 0.0});
  event.pointTimes.assign(3, 99.5);
  const std::string svg = tralix_sim::LandingChartSvg(event, 1);
  EXPECT_NE(svg.find("<circle"), std::string::npos);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

}  // namespace
