// tralix-sim as a user runs it: its command line, and short flights of the
// shipped plug-in against the embedded service, read back from the summary,
// Log.txt, Tralix.cfg and the chart.
// Each test runs in its own sandbox, where the embedded service can take
// 127.0.0.1:443; test_tralix_sim_relay covers a service outside it.
#include "test_tralix_sim_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tralix_sim_test;
namespace fs = std::filesystem;

// The rows of the first landing table: height, g, vertical speed, bank.
std::vector<std::vector<double>> LandingRows(const std::string& summary) {
  std::vector<std::vector<double>> rows;
  const size_t table = summary.find("#   height ft");
  if (table == std::string::npos) return rows;
  std::istringstream lines(summary.substr(table));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    int number = 0;
    std::vector<double> row(4);
    if (!(fields >> number >> row[0] >> row[1] >> row[2] >> row[3])) break;
    rows.push_back(row);
  }
  return rows;
}

TEST(TralixSim, HelpDocumentsEveryOption) {
  const Outcome run = RunSim({"--help"}, TestFolder());
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.err.empty()) << run.err;
  for (const char* option :
       {"--plugin", "--out", "--api-key", "--token", "--no-config", "--speed", "--realtime", "--frame", "--until",
        "--service", "--ca", "--service-key", "--fault", "--record", "--script", "--action", "--no-status-window",
        "--no-sandbox", "--verbose", "--expect-landings", "--help", "menu PATH", "type TEXT", "key KEY",
        "clipboard TEXT", "paste [TEXT]", "press CAPTION", "close"})
    EXPECT_TRUE(Has(run.out, option)) << option;
}

TEST(TralixSim, BadCommandLinesAreRefusedWithTheirReason) {
  const std::string circuit = Flight("circuit-2min.flight");
  struct Case {
    std::vector<std::string> arguments;
    const char* named;
  };
  const Case cases[] = {
      {{"--bogus", circuit}, "--bogus"},
      {{circuit, "--speed"}, "--speed needs a value"},
      {{"--speed", "0", circuit}, "--speed"},
      {{"--speed", "1e-300", circuit}, "--speed takes a number from 0.01 to 10000"},
      {{"--frame", "1e-300", circuit}, "--frame"},
      {{"--speed=fast", circuit}, "--speed"},
      {{"--verbose=yes", circuit}, "--verbose takes no value"},
      {{"--frame", "2", circuit}, "--frame"},
      {{"--fault", "60:8", circuit}, "--fault"},
      {{"--fault", "60:8:700", circuit}, "--fault"},
      {{"--action", "5 fly away", circuit}, "fly"},
      {{"--script", "/nonexistent/pilot.script", circuit}, "/nonexistent/pilot.script"},
      {{"--script", "/dev/zero", circuit}, "--script: /dev/zero: is not a regular file"},
      {{"--service", "host", "--ca", "/dev/zero", circuit}, "--ca: /dev/zero: is not a regular file"},
      {{"--api-key", "key\nDATA_KEY_TOKEN=forged", circuit}, "--api-key"},
      {{"--ca", "ca.pem", circuit}, "--ca"},
      {{"--service", "host:99999", circuit}, "--service"},
      {{"--service", "host", "--fault", "1:1:500", circuit}, "--fault"},
      {{circuit, circuit}, "one flight profile"},
      {{}, "no flight profile"},
  };
  const fs::path folder = TestFolder();
  for (const Case& c : cases) {
    const Outcome run = RunSim(c.arguments, folder);
    const std::string shown = c.arguments.empty() ? "(none)" : c.arguments[0];
    EXPECT_EQ(run.status, 2) << shown << ": " << run.err;
    EXPECT_EQ(run.err.rfind("tralix-sim: ", 0), 0u) << shown << ": " << run.err;
    EXPECT_TRUE(Has(run.err, c.named)) << shown << ": " << run.err;
    EXPECT_TRUE(run.out.empty()) << shown;
  }
}

TEST(TralixSim, UnreadableProfilesAreRefusedBeforeFlying) {
  const fs::path folder = TestFolder();
  std::ofstream(folder / "bad.flight") << "dataref agl float sim/flightmodel/position/y_agl\n0.0 agl=high\n";
  fs::create_directories(folder / "folder.flight");
  struct Case {
    std::string profile;
    const char* named;
  };
  const Case cases[] = {
      {(folder / "missing.flight").string(), "missing.flight"},
      {(folder / "folder.flight").string(), "folder.flight: is a folder"},
      {"/dev/zero", "/dev/zero: is not a regular file"},
      {(folder / "bad.flight").string(), "bad.flight:2: "},
  };
  for (const Case& c : cases) {
    const Outcome run = RunSim({"--out", (folder / "out").string(), c.profile}, folder);
    EXPECT_EQ(run.status, 1) << c.profile;
    EXPECT_TRUE(Has(run.err, c.named)) << run.err;
    EXPECT_FALSE(fs::exists(folder / "out" / "Log.txt")) << c.profile;
  }
}

TEST(TralixSim, CircuitEndsWithOneAcceptedLandingEvent) {
  const fs::path folder = TestFolder();
  const fs::path out = folder / "out";
  const Outcome run =
      RunSim({"--out", out.string(), "--speed", "60", "--expect-landings", "1", Flight("circuit-2min.flight")}, folder);
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  EXPECT_TRUE(Has(run.out, "start-up: API key activated, token saved")) << run.out;
  EXPECT_TRUE(Has(run.out, "landing event 1 (1 ok)")) << run.out;
  EXPECT_TRUE(Has(run.out, "1 touchdown seen by the plug-in, 1 landing event sent")) << run.out;
  EXPECT_TRUE(Has(run.out, "-150.0 ft/min, 3.2 ft above ground")) << run.out;
  EXPECT_TRUE(Has(run.out, "no connection failures")) << run.out;
  // Every broadcast the plug-in started was received and accepted.
  const size_t sent = run.out.find("Broadcasts  ");
  ASSERT_NE(sent, std::string::npos);
  const int started = std::stoi(run.out.substr(sent + 12));
  EXPECT_GT(started, 250);
  EXPECT_TRUE(Has(run.out, std::to_string(started) + " sent, " + std::to_string(started) + " accepted"));

  // The ten points, oldest first: the approach descends at every one.
  const auto rows = LandingRows(run.out);
  ASSERT_EQ(rows.size(), 10u) << run.out;
  for (size_t index = 1; index < rows.size(); ++index) EXPECT_LT(rows[index][0], rows[index - 1][0]);

  const std::string log = ReadFile(out / "Log.txt");
  EXPECT_TRUE(Has(log, "Tralix - Plugin initialization complete!\n"));
  EXPECT_TRUE(Has(log, "Tralix - Landing event sent successfully\n"));
  EXPECT_TRUE(Has(ReadFile(out / "Tralix/lin_x64/Tralix.cfg"), "DATA_KEY_TOKEN=demo-data-token"));
  const std::string chart = ReadFile(out / "landing-1.svg");
  EXPECT_EQ(chart.rfind("<svg ", 0), 0u);
  EXPECT_TRUE(Has(chart, "time to touchdown")) << "the x axis is time";
  EXPECT_TRUE(Has(chart, "</svg>"));
}

TEST(TralixSim, ServerErrorsShowAsFailuresAndTheBackoffTheyCause) {
  const fs::path folder = TestFolder();
  const Outcome run = RunSim({"--out", (folder / "out").string(), "--speed", "60", "--until", "100", "--fault",
                              "50:8:500", Flight("circuit-2min.flight")},
                             folder);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "8 connection failures, at most 8 in a row")) << run.out;
  EXPECT_TRUE(Has(run.out, "8 x HTTP 500")) << run.out;
  EXPECT_TRUE(Has(run.out, "8 answered injected-status (HTTP 500)")) << run.out;
  // Back-off grows from the sixth failure in a row: 1, 3, then 7 seconds.
  EXPECT_TRUE(Has(run.out, "Back-off    up to 7.0 s")) << run.out;
}

TEST(TralixSim, TooShortAHopMissesAnExpectedLanding) {
  const fs::path folder = TestFolder();
  const Outcome run = RunSim({"--out", (folder / "out").string(), "--speed", "60", "--until", "110",
                              "--expect-landings", "1", Flight("hop-59.9.flight")},
                             folder);
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_TRUE(Has(run.err, "expected 1 landing events accepted, got 0")) << run.err;
  EXPECT_TRUE(Has(run.out, "0 touchdowns seen by the plug-in")) << run.out;
}

TEST(TralixSim, ScriptedPilotActivatesAPastedKeyInTheDialog) {
  const fs::path folder = TestFolder();
  std::ofstream(folder / "pilot.script") << "# first set-up\n"
                                            "3 menu Tralix/Configuration\n"
                                            "4 paste TRALIX-DEMO-KEY\n"
                                            "5 press Activate API Key\n"
                                            "5.5 press No Such Button\n"
                                            "6 close\n";
  const Outcome run = RunSim({"--out", (folder / "out").string(), "--no-config", "--speed", "60", "--until", "30",
                              "--script", (folder / "pilot.script").string(), "--action", "40 close",
                              Flight("circuit-2min.flight")},
                             folder);
  EXPECT_EQ(run.status, 4) << run.out << run.err;
  EXPECT_TRUE(Has(run.err, "pilot action failed: 5.5 press No Such Button: no button")) << run.err;
  EXPECT_TRUE(Has(run.err, "pilot action failed: 40 close: not reached")) << run.err;
  EXPECT_TRUE(Has(run.out, "start-up: no API key configured")) << run.out;
  EXPECT_TRUE(Has(run.out, "activated, token saved")) << run.out;
  EXPECT_TRUE(Has(run.out, "6 actions, 2 could not be done")) << run.out;
  EXPECT_TRUE(Has(run.out, "5.5 press No Such Button: no button 'No Such Button' on screen")) << run.out;
  EXPECT_TRUE(Has(run.out, "40 close: not reached")) << run.out;
  const std::string config = ReadFile(folder / "out/Tralix/lin_x64/Tralix.cfg");
  EXPECT_TRUE(Has(config, "API_KEY=TRALIX-DEMO-KEY")) << config;
  EXPECT_TRUE(Has(config, "DATA_KEY_TOKEN=demo-data-token")) << config;
  EXPECT_FALSE(Has(run.out, "Broadcasts  0 sent")) << run.out;
}

}  // namespace
