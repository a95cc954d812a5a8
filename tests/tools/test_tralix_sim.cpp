// tralix-sim as a user runs it: refused command lines and profiles, and a few
// short flights of the shipped plug-in against the embedded service, read back
// from the exit status, the summary and the files it leaves.
// Each test runs in its own sandbox, where the embedded service can take
// 127.0.0.1:443; test_tralix_sim_relay covers a service outside it.
#include "test_tralix_sim_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

using namespace tralix_sim_test;

// The number the summary prints after a marker, e.g. "flight time " -> 389.9.
double FigureAfter(const std::string& text, const std::string& marker) {
  const size_t at = text.find(marker);
  return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + marker.size());
}

// Nothing is flown and nothing written: 2 for a bad command line, 1 for a
// profile that cannot be read; stderr names what was wrong.
TEST(TralixSim, BadCommandLinesAndUnreadableProfilesAreRefusedBeforeFlying) {
  const fs::path folder = TestFolder();
  const std::string out = (folder / "out").string(), c = Flight("circuit-2min.flight");
  const std::string badFlight = (folder / "bad.flight").string(), badScript = (folder / "bad.script").string();
  std::ofstream(badFlight) << "dataref agl float sim/flightmodel/position/y_agl\n0.0 agl=high\n";
  std::ofstream(badScript) << "5 menu Tralix/Configuration\n6 jump\n";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string named;
  };
  const Case cases[] = {
      {{"--bogus", c}, 2, "--bogus"},
      {{c, "--speed"}, 2, "--speed"},
      {{"--speed", "1e-300", c}, 2, "--speed"},
      {{"--fault", "60:8:700", c}, 2, "--fault"},
      {{"--service", "host", "--fault", "1:1:500", c}, 2, "--fault"},
      {{"--ca", "ca.pem", c}, 2, "--ca"},
      {{"--service", "host", "--ca", "/dev/zero", c}, 2, "/dev/zero"},
      {{"--api-key", "key\nDATA_KEY_TOKEN=forged", c}, 2, "--api-key"},
      {{"--action", "5 fly away", c}, 2, "fly"},
      {{"--action", "6 press", c}, 2, "press"},
      {{"--script", "/nonexistent/pilot.script", c}, 2, "/nonexistent/pilot.script"},
      {{"--script", badScript, c}, 2, badScript + ":2: "},
      {{}, 2, "profile"},
      {{(folder / "missing.flight").string()}, 1, "missing.flight"},
      {{"/dev/zero"}, 1, "/dev/zero"},
      {{badFlight}, 1, badFlight + ":2: "},
  };
  for (const Case& k : cases) {
    std::vector<std::string> arguments = {"--out", out};
    arguments.insert(arguments.end(), k.arguments.begin(), k.arguments.end());
    SCOPED_TRACE(testing::PrintToString(k.arguments));
    const Outcome run = RunSim(arguments, folder);
    EXPECT_EQ(run.status, k.status) << run.err;
    EXPECT_EQ(run.err.rfind("tralix-sim: ", 0), 0u) << run.err;
    EXPECT_TRUE(Has(run.err, k.named)) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_FALSE(fs::exists(out));
  }
}

// What the README's demo relies on: a clean circuit ends with exactly one
// landing event, accepted, and exit status 0 under --expect-landings 1.
TEST(TralixSim, CircuitEndsWithOneAcceptedLandingEvent) {
  const fs::path folder = TestFolder();
  const fs::path out = folder / "out";
  const Outcome run = RunSim({"--out", out.string(), "--speed", "60", "--until", "170", "--expect-landings", "1",
                              "--xplane", "11", Flight("circuit-2min.flight")},
                             folder);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "start-up: API key activated, token saved")) << run.out;
  EXPECT_TRUE(Has(run.out, "landing event 1 (1 ok)")) << run.out;
  EXPECT_TRUE(Has(run.out, "-150.0 ft/min, 3.2 ft above ground")) << run.out;
  EXPECT_TRUE(Has(run.out, "no connection failures")) << run.out;
  const int started = static_cast<int>(FigureAfter(run.out, "Broadcasts  "));
  EXPECT_GT(started, 120);
  EXPECT_TRUE(Has(run.out, std::to_string(started) + " sent, " + std::to_string(started) + " accepted")) << run.out;
  EXPECT_EQ(ReadFile(out / "landing-1.svg").rfind("<svg ", 0), 0u);
  // X-Plane 11 names the aircraft by its description and has no wind at the aircraft.
  EXPECT_TRUE(Has(run.out, "X-Plane 11 datarefs; sent")) << run.out;
  EXPECT_TRUE(Has(run.out, "\"Cessna 172 SP Skyhawk\" acf_descrip \"Cessna 172 SP Skyhawk\"")) << run.out;
  EXPECT_TRUE(Has(run.out, "xp_aircraft_wind_velocity  (absent)")) << run.out;
}

// The first set-up through the dialog (clipboard, Ctrl+V, the key's last
// character typed after the pasted text, the button), then
// eight server errors: the back-off the status window shows grows to 7 s. A
// button that is not there and an action after the end fail the run with 4.
TEST(TralixSim, ScriptedPilotActivatesInTheDialogThenServerErrorsBackOff) {
  const fs::path folder = TestFolder();
  std::ofstream(folder / "pilot.script") << "# first set-up\n"
                                            "3 menu Tralix/Configuration\n"
                                            "3.5 clipboard TRALIX-DEMO-KE\n"
                                            "4 key ctrl+v\n"
                                            "4.5 type Y\n"
                                            "5 press Activate API Key\n"
                                            "5.5 press No Such Button\n"
                                            "6 close\n";
  const Outcome run = RunSim({"--out", (folder / "out").string(), "--no-config", "--speed", "60", "--until", "40",
                              "--fault", "8:8:500", "--script", (folder / "pilot.script").string(), "--action",
                              "45 close", Flight("circuit-2min.flight")},
                             folder);
  EXPECT_EQ(run.status, 4) << run.out << run.err;
  EXPECT_TRUE(Has(run.err, "5.5 press No Such Button")) << run.err;
  EXPECT_TRUE(Has(run.err, "45 close")) << run.err;
  EXPECT_TRUE(Has(run.out, "8 actions, 2 could not be done")) << run.out;
  const std::string config = ReadFile(folder / "out/Tralix/lin_x64/Tralix.cfg");
  EXPECT_TRUE(Has(config, "API_KEY=TRALIX-DEMO-KEY\n")) << config;
  EXPECT_TRUE(Has(config, "DATA_KEY_TOKEN=demo-data-token")) << config;
  EXPECT_TRUE(Has(run.out, "8 connection failures, at most 8 in a row")) << run.out;
  EXPECT_TRUE(Has(run.out, "8 x HTTP 500")) << run.out;
  EXPECT_TRUE(Has(run.out, "Back-off    up to 7.0 s")) << run.out;
}

// Without a key nothing goes on the wire, so the whole demo flight takes well
// under a second: one touchdown after a flight of about 390 s, which
// --expect-landings does not count, as the service accepted no event.
TEST(TralixSim, DemoFlightWithoutAKeyEndsWithOneTouchdownThatWasNotAccepted) {
  const fs::path folder = TestFolder();
  const Outcome run = RunSim({"--out", (folder / "out").string(), "--no-config", "--speed", "10000",
                              "--expect-landings", "1", Flight("demo.flight")},
                             folder);
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_TRUE(Has(run.err, "got 0")) << run.err;
  EXPECT_TRUE(Has(run.out, "1 touchdown seen by the plug-in, 0 landing events sent")) << run.out;
  EXPECT_NEAR(FigureAfter(run.out, "flight time "), 390.0, 0.5) << run.out;
}

}  // namespace
