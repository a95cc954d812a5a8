// The entry points: start-up and its failures, stop and a second start.
#include "NetworkManager.h"
#include "PluginTestSupport.h"

#include "CFStandInTesting.h"

#include "XPLMDefs.h"

#include <algorithm>
#include <cstring>

PLUGIN_API int XPluginStart(char* outName, char* outSignature, char* outDescription);
PLUGIN_API void XPluginStop(void);
PLUGIN_API int XPluginEnable(void);

namespace {

class PluginShell : public tralix_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    xphost::SetPluginPath(scratch_ + "/Tralix.xpl");
    tralix_test::PublishCoreDataRefs();
  }

  // Starts with the identity buffers full of junk, as the host may hand them over.
  int Start() {
    for (char* buffer : {name_, signature_, description_}) std::memset(buffer, 0x55, 256);
    return XPluginStart(name_, signature_, description_);
  }

  static const xphost::FlightLoopInfo* MainLoop() {
    static std::vector<xphost::FlightLoopInfo> loops;
    loops = xphost::FlightLoops();
    const auto main = std::find_if(loops.begin(), loops.end(), [](const xphost::FlightLoopInfo& loop) {
      return loop.callback == reinterpret_cast<void*>(&TralixMainLoopCallback);
    });
    return main == loops.end() ? nullptr : &*main;
  }

  char name_[256];
  char signature_[256];
  char description_[256];
};

TEST_F(PluginShell, StartWritesItsIdentityAndRegistersTheLoopForATenthOfASecond) {
  ASSERT_EQ(Start(), 1);
  EXPECT_EQ(XPluginEnable(), 1) << "the host keeps a plug-in that refuses to be enabled disabled";
  EXPECT_STREQ(name_, "Tralix");
  for (const char* text : {signature_, description_}) {
    const size_t length = strnlen(text, 256);
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, 256u) << "ends inside its buffer";
  }
  const xphost::FlightLoopInfo* main = MainLoop();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->refcon, nullptr);
  EXPECT_NEAR(main->nextCallTime, xphost::ElapsedTime() + 0.1, 1e-6);
}

TEST_F(PluginShell, OnlyAMissingPositionDataRefStopsStartUpBeforeAnythingIsRegistered) {
  struct Case {
    std::vector<const char*> removed;
    int started;
  };
  const Case cases[] = {
      {{"sim/flightmodel/position/latitude"}, 0},
      {{"sim/flightmodel/position/longitude"}, 0},
      {{"sim/flightmodel/position/elevation"}, 0},
      {{"sim/flightmodel/position/psi", "sim/aircraft/view/acf_ui_name"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.removed[0]);
    SetUp();
    for (const char* path : c.removed) xphost::RemoveDataRef(path);
    EXPECT_EQ(Start(), c.started);
    EXPECT_EQ(MainLoop() != nullptr, c.started == 1);
    if (c.started) continue;
    EXPECT_EQ(xphost::LogLines().back(), "Tralix - CRITICAL: Failed to initialize core position data refs");
    EXPECT_TRUE(xphost::FlightLoops().empty());
    EXPECT_EQ(xphost::FindDataRefCalls().size(), 9u) << "the catalogue is not resolved";
  }
}

TEST_F(PluginShell, StopUnregistersTheLoopAndDetachesABroadcastStillInFlight) {
  tralix_test::WriteFile(configFile_, "API_KEY=key-1\nDATA_KEY_TOKEN=token-1\n");
  ASSERT_EQ(Start(), 1);
  // Called directly, so no run-loop pass can deliver the request's end.
  xphost::SetElapsedTime(2.0);
  TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
  ASSERT_TRUE(tralix_test::LogHasLine("Tralix - Successfully sent aircraft data"));
  ASSERT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 1);

  XPluginStop();
  EXPECT_TRUE(xphost::FlightLoops().empty()) << "neither the main loop nor the run-loop pump stays registered";
  EXPECT_TRUE(xphost::MenuItems({}).empty()) << "the Tralix menu goes with the plug-in";
  EXPECT_EQ(CFStandInLiveObjectCount(), 0) << "no stream is left calling into the plug-in, nor any request object";
  const int readsBefore = xphost::TotalDataRefReads();
  xphost::RunFor(5.0, 0.05);
  EXPECT_EQ(xphost::TotalDataRefReads(), readsBefore) << "nothing runs after stop";

  // A host may start the plug-in again without unloading it: no back-off carries over.
  gNetworkBusy = 1;
  gConsecutiveFailures = 7;
  gBackoffTime = 15.0f;
  gLastSendTime = 40.0f;
  ASSERT_EQ(Start(), 1);
  EXPECT_EQ(gNetworkBusy + gConsecutiveFailures, 0);
  EXPECT_EQ(gBackoffTime + gLastSendTime, 0.0f);
}

TEST(LogLines, LineCutAtItsBufferStillEndsInANewline) {
  struct Case {
    size_t lineSize;
    std::string text, logged;
  };
  const Case cases[] = {
      {16, "Tralix - short\n", "Tralix - short\n"},
      {16, "Tralix - exactly\n", "Tralix - exact\n"},
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
