// tralix-sim as a user runs it: refused command lines and profiles, and short
// flights of the shipped plug-in against the embedded service, read back from
// the exit status, the summary and the files it leaves. Each test runs in its
// own sandbox, where the embedded service can take 127.0.0.1:443.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tralix_test::ReadFile;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A fresh folder for the running test, under the build tree.
fs::path TestFolder() { return tralix_test::FreshFolder(TRALIX_SIM_TEST_TMP); }

std::string Flight(const char* name) { return std::string(TRALIX_FLIGHTS_DIR) + "/" + name; }

// Runs tralix-sim with these arguments, its output kept in files in folder.
Outcome RunSim(const std::vector<std::string>& arguments, const fs::path& folder) {
  std::vector<std::string> words = {TRALIX_SIM_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string outFile = (folder / "stdout.txt").string(), errFile = (folder / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  Outcome outcome;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = ReadFile(outFile);
  outcome.err = ReadFile(errFile);
  return outcome;
}

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
      {{"--speed", "1e-300", c}, 2, "--speed"},
      {{"--service", "host", "--fault", "1:1:500", c}, 2, "--fault"},
      {{"--ca", "ca.pem", c}, 2, "--ca"},
      {{"--api-key", "key\nDATA_KEY_TOKEN=forged", c}, 2, "--api-key"},
      {{"--script", badScript, c}, 2, badScript + ":2: "},
      {{}, 2, "profile"},
      {{(folder / "missing.flight").string()}, 1, "missing.flight"},
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

// What the README's demo relies on, with the first set-up through the dialog
// (clipboard, Ctrl+V, the key's last character typed after the pasted text, the
// button) and then eight server errors: the back-off the status window shows
// grows to 7 s, and the circuit still ends with one accepted landing event.
TEST(TralixSim, PilotActivatesInTheDialogBacksOffThroughServerErrorsAndLandsOnce) {
  const fs::path folder = TestFolder();
  std::ofstream(folder / "pilot.script") << "# first set-up\n"
                                            "3 menu Tralix/Configuration\n"
                                            "3.5 clipboard TRALIX-DEMO-KE\n"
                                            "4 key ctrl+v\n"
                                            "4.5 type Y\n"
                                            "5 press Activate API Key\n"
                                            "6 close\n";
  const Outcome run = RunSim({"--out", (folder / "out").string(), "--no-config", "--speed", "60", "--until", "170",
                              "--expect-landings", "1", "--xplane", "11", "--fault", "8:8:500", "--script",
                              (folder / "pilot.script").string(), Flight("circuit-2min.flight")},
                             folder);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string config = ReadFile(folder / "out/Tralix/lin_x64/Tralix.cfg");
  EXPECT_TRUE(Has(config, "API_KEY=TRALIX-DEMO-KEY\n")) << config;
  EXPECT_TRUE(Has(config, "DATA_KEY_TOKEN=demo-data-token")) << config;
  EXPECT_TRUE(Has(run.out, "8 connection failures, at most 8 in a row")) << run.out;
  EXPECT_TRUE(Has(run.out, "8 x HTTP 500")) << run.out;
  EXPECT_TRUE(Has(run.out, "Back-off    up to 7.0 s")) << run.out;
  EXPECT_TRUE(Has(run.out, "landing event 1 (1 ok)")) << run.out;
  EXPECT_TRUE(Has(run.out, "-150.0 ft/min, 3.2 ft above ground")) << run.out;
  const int started = static_cast<int>(FigureAfter(run.out, "Broadcasts  "));
  EXPECT_GT(started, 100);
  EXPECT_TRUE(Has(run.out, std::to_string(started) + " sent, " + std::to_string(started - 8) + " accepted")) << run.out;
  EXPECT_EQ(ReadFile(folder / "out/landing-1.svg").rfind("<svg ", 0), 0u);
  // X-Plane 11 names the aircraft by its description and has no wind at the aircraft.
  EXPECT_TRUE(Has(run.out, "X-Plane 11 datarefs; sent")) << run.out;
  EXPECT_TRUE(Has(run.out, "\"Cessna 172 SP Skyhawk\" acf_descrip \"Cessna 172 SP Skyhawk\"")) << run.out;
  EXPECT_TRUE(Has(run.out, "xp_aircraft_wind_velocity  (absent)")) << run.out;
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
