// The dataref catalogue: resolution at start-up and lookup by name. What each
// row reads and how it is sent is checked through the broadcast's extra object
// (test_extra_data.cpp).
#include "DataRefs.h"

#include "PluginTestSupport.h"


#include <set>

namespace {

constexpr char kGearHandle[] = "sim/cockpit/switches/gear_handle_status";

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
      {"the gear handle two rows share", {kGearHandle}, 1, "Tralix - Data ref initialization complete: 35/37 successful"},
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
