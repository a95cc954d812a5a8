// The dataref catalogue: resolution at start-up and lookup by name. What each
// row reads and how it is sent is checked through the broadcast's extra object
// (test_extra_data.cpp).
#include "DataRefs.h"
#include "NetworkManager.h"

#include "PluginTestSupport.h"

#include <set>

namespace {

TEST(DataRefs, EachRowResolvesOnItsOwnAndStartUpNeedsOnlyOne) {
  struct Case {
    const char* what;
    std::set<std::string> missing;
    int result;
    const char* summary;
  };
  std::set<std::string> allPaths;
  for (const DataRefMapping* row = gMappings; row->name; ++row) allPaths.insert(row->dataRefPath);
  const Case cases[] = {
      {"all present", {}, 1, "Tralix - Data ref initialization complete: 37/37 successful"},
      {"one missing", {"sim/flightmodel/forces/g_nrml"}, 1, "Tralix - Data ref initialization complete: 36/37 successful"},
      {"none present", allPaths, 0, "Tralix - Data ref initialization complete: 0/37 successful"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xphost::Reset();  // InitDataRefs sets every row's handle and flag afresh
    tralix_test::PublishCatalogue(1.0f, 1, c.missing);
    EXPECT_EQ(InitDataRefs(), c.result);
    EXPECT_EQ(xphost::LogLines().back(), c.summary);
    for (const DataRefMapping* row = gMappings; row->name; ++row) {
      const bool missing = c.missing.count(row->dataRefPath) > 0;
      EXPECT_EQ(row->isValid, missing ? 0 : 1) << row->name;
      EXPECT_EQ(row->dataRef == nullptr, missing) << row->name;
    }
  }
  EXPECT_EQ(xphost::FindDataRefCalls().size(), 37u) << "each row resolves its path itself, once";
}

// Every dataref the simulator publishes for the plug-in, as X-Plane 12 and 11
// publish it. Start-up, a flight-loop cycle (core values, names, landing
// detector) and the extra object look up only names the version has (11 lacks
// three, which the plug-in does without) and read each through an accessor it
// offers: X-Plane gives 0 for any other.
TEST(DataRefs, LooksUpAndReadsOnlyWhatXPlanePublishes) {
  using xphost::XPlaneVersion;
  const std::pair<XPlaneVersion, std::vector<std::string>> cases[] = {
      {XPlaneVersion::XP12, {}},
      {XPlaneVersion::XP11,
       {"sim/aircraft/view/acf_ui_name", "sim/weather/aircraft/wind_now_speed_msc",
        "sim/weather/aircraft/wind_now_direction_degt"}},
  };
  for (const auto& [version, missed] : cases) {
    SCOPED_TRACE(version == XPlaneVersion::XP12 ? "X-Plane 12" : "X-Plane 11");
    xphost::Reset();
    xphost::SetXPlaneVersion(version);
    for (const xphost::XPlaneDataRef& row : xphost::kXPlaneDataRefs) {
      xphost::SetDatavf(row.name, std::vector<float>(static_cast<size_t>(row.xp12Size), 1.0f));
      xphost::SetDatab(row.name, "C172");
    }
    ASSERT_TRUE(tralix_test::StartModules());
    xphost::SetElapsedTime(20.0);
    TralixMainLoopCallback(0.0f, 0.0f, 0, nullptr);
    char extra[kExtraDataBufferSize];
    BuildExtraDataJSON(extra, sizeof(extra));
    EXPECT_EQ(xphost::MissedDataRefLookups(), missed);
    EXPECT_EQ(xphost::WrongAccessorReads(), std::vector<std::string>{});
  }
}

TEST(DataRefs, FindMappingIndexTakesOnlyTheExactName) {
  auto checkEveryName = [] {
    for (int i = 0; gMappings[i].name; ++i) EXPECT_EQ(FindMappingIndex(gMappings[i].name), i) << gMappings[i].name;
    for (const char* unknown : {"Time", "", "time ", "tim", "GEAR", "xp_engn_power[0]"})
      EXPECT_EQ(FindMappingIndex(unknown), -1) << '"' << unknown << '"';
    EXPECT_EQ(FindMappingIndex(nullptr), -1);
  };
  checkEveryName();  // before start-up
  tralix_test::PublishCatalogue(1.0f, 1, {"sim/time/total_running_time_sec"});
  InitDataRefs();
  ASSERT_EQ(gMappings[FindMappingIndex("time")].isValid, 0);
  checkEveryName();  // an unresolved row is still found by name
}

}  // namespace
