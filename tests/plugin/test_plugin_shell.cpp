// Start-up order and failures, stop, enable/disable and messages of the entry points.
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "XPHostControl.h"

#include "CFStandInTesting.h"

#include "XPLMDefs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

PLUGIN_API int XPluginStart(char* outName, char* outSignature, char* outDescription);
PLUGIN_API void XPluginStop(void);
PLUGIN_API int XPluginEnable(void);
PLUGIN_API void XPluginDisable(void);
PLUGIN_API void XPluginReceiveMessage(XPLMPluginID from, int message, void* param);

namespace {

const std::vector<std::string> kShellStartLines = {
    "Tralix - Plugin starting up...",
    "Tralix - Initializing data refs...",
    "Tralix - Network system initialized",
    "Tralix - Registering flight loop callback...",
    "Tralix - Plugin initialization complete!",
};

class PluginShell : public testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    scratch_ = tralix_test::FreshScratchDir();
    xphost::SetPluginPath(scratch_ + "/Tralix.xpl");
  }

  int Start() {
    std::memset(name_, 0x55, sizeof(name_));
    std::memset(signature_, 0x55, sizeof(signature_));
    std::memset(description_, 0x55, sizeof(description_));
    return XPluginStart(name_, signature_, description_);
  }

  bool MainLoopRegistered() {
    const auto loops = xphost::FlightLoops();
    return std::any_of(loops.begin(), loops.end(), [](const xphost::FlightLoopInfo& loop) {
      return loop.callback == reinterpret_cast<void*>(&TralixMainLoopCallback);
    });
  }

  // The shell's own lines, in the order logged, ignoring the modules' lines.
  static std::vector<std::string> ShellLines() {
    std::vector<std::string> shell;
    for (const std::string& line : xphost::LogLines())
      if (std::find(kShellStartLines.begin(), kShellStartLines.end(), line) != kShellStartLines.end())
        shell.push_back(line);
    return shell;
  }

  std::string scratch_;
  char name_[256];
  char signature_[256];
  char description_[256];
};

TEST_F(PluginShell, SuccessfulStartWritesIdentityLogsInOrderAndRegistersTheLoop) {
  tralix_test::PublishCoreDataRefs();
  ASSERT_EQ(Start(), 1);

  EXPECT_STREQ(name_, "Tralix");
  EXPECT_STREQ(description_, "Tralix Connection Bridge v0.0.12 - Real-time flight data connector for X-Plane");
  const std::string signature = signature_;
  ASSERT_GT(signature.size(), std::strlen(".zuzezarorizivov"));
  EXPECT_EQ(signature.substr(signature.rfind('.')), ".zuzezarorizivov");

  EXPECT_EQ(ShellLines(), kShellStartLines);
  const auto lines = xphost::LogLines();
  EXPECT_EQ(lines.front(), "Tralix - Plugin starting up...");
  EXPECT_EQ(lines.back(), "Tralix - Plugin initialization complete!");

  const auto loops = xphost::FlightLoops();
  const auto main = std::find_if(loops.begin(), loops.end(), [](const xphost::FlightLoopInfo& loop) {
    return loop.callback == reinterpret_cast<void*>(&TralixMainLoopCallback);
  });
  ASSERT_NE(main, loops.end());
  EXPECT_EQ(main->refcon, nullptr);
  EXPECT_NEAR(main->nextCallTime, xphost::ElapsedTime() + 0.1, 1e-6);
}

TEST_F(PluginShell, CoreDataRefsAreLookedUpInTableOrderFirst) {
  tralix_test::PublishCoreDataRefs();
  ASSERT_EQ(Start(), 1);
  const std::vector<std::string> expected = {
      "sim/flightmodel/position/latitude",      "sim/flightmodel/position/longitude",
      "sim/flightmodel/position/elevation",     "sim/flightmodel/position/psi",
      "sim/cockpit/radios/gps_dme_speed_kts",   "sim/flightmodel/position/y_agl",
      "sim/flightmodel/position/altitude_ft_pilot", "sim/aircraft/view/acf_ICAO",
      "sim/aircraft/view/acf_ui_name",
  };
  const auto calls = xphost::FindDataRefCalls();
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 9), expected);
}

TEST_F(PluginShell, MissingPositionDataRefStopsStartUpBeforeAnythingIsRegistered) {
  for (const char* required : {"sim/flightmodel/position/latitude", "sim/flightmodel/position/longitude",
                               "sim/flightmodel/position/elevation"}) {
    SCOPED_TRACE(required);
    xphost::Reset();
    xphost::SetPluginPath(scratch_ + "/Tralix.xpl");
    tralix_test::PublishCoreDataRefs();
    xphost::RemoveDataRef(required);

    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(xphost::LogLines().back(), "Tralix - CRITICAL: Failed to initialize core position data refs");
    EXPECT_FALSE(MainLoopRegistered());
    EXPECT_TRUE(xphost::FlightLoops().empty());
    EXPECT_EQ(xphost::FindDataRefCalls().size(), 9u) << "the catalogue is not resolved";
  }
}

TEST_F(PluginShell, MissingOptionalDataRefsStillStart) {
  tralix_test::PublishCoreDataRefs();
  xphost::RemoveDataRef("sim/flightmodel/position/psi");
  xphost::RemoveDataRef("sim/aircraft/view/acf_ui_name");
  EXPECT_EQ(Start(), 1);
  EXPECT_TRUE(MainLoopRegistered());
}

TEST_F(PluginShell, StopUnregistersTheLoopAndLogsLast) {
  tralix_test::PublishCoreDataRefs();
  ASSERT_EQ(Start(), 1);
  XPluginStop();
  EXPECT_FALSE(MainLoopRegistered());
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - Plugin stopped");
  const int callsBefore = xphost::TotalDataRefReads();
  xphost::RunFor(5.0, 0.05);
  EXPECT_EQ(xphost::TotalDataRefReads(), callsBefore) << "nothing runs after stop";
}

TEST_F(PluginShell, StopDetachesABroadcastStillInFlight) {
  tralix_test::PublishCoreDataRefs();
  tralix_test::WriteFile(scratch_ + "/Tralix.cfg", "API_KEY=key-1\nDATA_KEY_TOKEN=token-1\n");
  ASSERT_EQ(Start(), 1);
  // Called directly, so no run-loop pass can deliver the request's end.
  xphost::SetElapsedTime(2.0);
  TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
  ASSERT_TRUE(tralix_test::LogHasLine("Tralix - Successfully sent aircraft data"));
  ASSERT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 1);

  XPluginStop();
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 0) << "no callback is left pointing into the plug-in";
  EXPECT_EQ(CFStandInLiveObjectCount(), 0) << "nor any request object";
  EXPECT_EQ(xphost::LogLines().back(), "Tralix - Plugin stopped");
}

TEST_F(PluginShell, EnableDisableAndMessagesChangeNothing) {
  tralix_test::PublishCoreDataRefs();
  ASSERT_EQ(Start(), 1);
  const size_t linesBefore = xphost::LogLines().size();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(XPluginEnable(), 1);
  XPluginDisable();
  int payload = 7;
  XPluginReceiveMessage(0, 101, &payload);
  XPluginReceiveMessage(-1, 0x7fffffff, nullptr);
  EXPECT_EQ(xphost::LogLines().size(), linesBefore);
  EXPECT_EQ(payload, 7);
  EXPECT_TRUE(MainLoopRegistered()) << "the loop stays registered while disabled";
}

TEST(LogLines, LineCutAtItsBufferStillEndsInANewline) {
  struct Case {
    size_t lineSize;
    std::string text;
    std::string logged;
  };
  const Case cases[] = {
      {16, "Tralix - short\n", "Tralix - short\n"},
      {16, "Tralix - exactly\n", "Tralix - exact\n"},
      {16, "Tralix - much longer than sixteen\n", "Tralix - much \n"},
      {600, std::string(700, 'x') + "\n", std::string(510, 'x') + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    xphost::Reset();
    LogFormatted(c.lineSize, "%s", c.text.c_str());
    LogFormatted(c.lineSize, "%s", "next\n");
    EXPECT_EQ(xphost::LogText(), c.logged + "next\n") << "the next message starts a line of its own";
  }
}

}  // namespace
