// The dataref rules the plug-in's tests rely on: only X-Plane's names with
// X-Plane's types are published, only an accessor the type offers reads a
// value (others are recorded), byte reads copy no more than asked and held,
// stale and null handles read zero, and every read is counted (tests assert
// that nothing was read, which would pass trivially if reads went uncounted).
#include "XPHostControl.h"
#include "XPLMDataAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kFloat[] = "sim/flightmodel/position/psi";
constexpr char kInt[] = "sim/time/paused";
constexpr char kFloats[] = "sim/flightmodel/engine/ENGN_power";  // 16 in X-Plane 12, 8 in 11
constexpr char kInts[] = "sim/flightmodel2/gear/on_ground";      // 10
constexpr char kBytes[] = "sim/aircraft/view/acf_ICAO";          // 40 bytes
constexpr char kDouble[] = "sim/flightmodel/position/latitude";

class HostDataRefs : public ::testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    xphost::SetDataf(kFloat, 1.5f);
    xphost::SetDatai(kInt, 7);
    xphost::SetDatavf(kFloats, {1, 2, 3, 4, 5});
    xphost::SetDatavi(kInts, {10, 20, 30});
    xphost::SetDatab(kBytes, "A320neo");
    xphost::SetDatad(kDouble, 47.25);
  }
};

// Every reader against every type: only one the type offers sees the value
// (a double offers float too), every read counts, the wrong type's too, and
// each wrong accessor is recorded once.
TEST_F(HostDataRefs, OnlyTheMatchingTypeReadsAValue) {
  struct Row {
    const char* name;
    float asFloat;
    int asInt;
    int floatsCount, intsCount, bytesCount;
  };
  const Row rows[] = {
      {kFloat, 1.5f, 0, 0, 0, 0}, {kInt, 0, 7, 0, 0, 0}, {kFloats, 0, 0, 8, 0, 0},
      {kInts, 0, 0, 0, 8, 0},     {kBytes, 0, 0, 0, 0, 7}, {kDouble, 47.25f, 0, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    XPLMDataRef ref = XPLMFindDataRef(row.name);
    ASSERT_NE(ref, nullptr);
    float floats[8];
    int ints[8];
    char bytes[8];
    EXPECT_EQ(XPLMGetDataf(ref), row.asFloat);
    EXPECT_EQ(XPLMGetDatai(ref), row.asInt);
    EXPECT_EQ(XPLMGetDatavf(ref, floats, 0, 8), row.floatsCount);
    EXPECT_EQ(XPLMGetDatavi(ref, ints, 0, 8), row.intsCount);
    EXPECT_EQ(XPLMGetDatab(ref, bytes, 0, 8), row.bytesCount);
    EXPECT_EQ(xphost::DataRefReadCount(row.name), 5);
  }
  EXPECT_EQ(XPLMGetDatad(XPLMFindDataRef(kDouble)), 47.25);
  EXPECT_EQ(xphost::TotalDataRefReads(), 31);
  EXPECT_EQ(xphost::WrongAccessorReads().size(), 24u);
  EXPECT_EQ(xphost::WrongAccessorReads()[0], std::string("XPLMGetDatai ") + kFloat);
  XPLMFindDataRef("missing");
  EXPECT_EQ(xphost::FindDataRefCalls().back(), "missing");
  EXPECT_EQ(xphost::FindDataRefCalls().size(), 8u);
  EXPECT_EQ(xphost::MissedDataRefLookups(), std::vector<std::string>{"missing"});
}

// A name is published only when the played version has it, with the table's
// type and the version's size, whatever setter was used.
TEST_F(HostDataRefs, PublishesOnlyXPlanesNamesWithXPlanesTypesAndSizes) {
  xphost::SetDataf("test/float", 1.0f);
  xphost::SetDataf("sim/flightmodel/position/altitude_ft_pilot", 1.0f);  // X-Plane has no such dataref
  xphost::SetDataf(kInt, 0.6f);
  xphost::SetDatavi(kFloat, {3, 4});
  xphost::SetDataf(kInts, 1.0f);
  EXPECT_EQ(XPLMFindDataRef("test/float"), nullptr);
  EXPECT_EQ(XPLMFindDataRef("sim/flightmodel/position/altitude_ft_pilot"), nullptr);
  EXPECT_EQ(XPLMGetDatai(XPLMFindDataRef(kInt)), 1);
  EXPECT_EQ(XPLMGetDataf(XPLMFindDataRef(kFloat)), 3.0f);
  int gear[12] = {};
  EXPECT_EQ(XPLMGetDatavi(XPLMFindDataRef(kInts), gear, 0, 12), 10);
  EXPECT_EQ(gear[0], 1);
  EXPECT_EQ(XPLMGetDatavf(XPLMFindDataRef(kFloats), nullptr, 0, 0), 16);

  xphost::Reset();
  xphost::SetXPlaneVersion(xphost::XPlaneVersion::XP11);
  xphost::SetDatavf(kFloats, std::vector<float>(16, 1.0f));
  xphost::SetDatab("sim/aircraft/view/acf_ui_name", "Cessna");
  EXPECT_EQ(XPLMGetDatavf(XPLMFindDataRef(kFloats), nullptr, 0, 0), 8);
  EXPECT_EQ(XPLMFindDataRef("sim/aircraft/view/acf_ui_name"), nullptr);
}

// A text dataref copies only its own bytes, no terminator: a shorter new name
// leaves the old tail in a buffer that was not cleared.
TEST_F(HostDataRefs, ByteReadsCopyOnlyWhatTheDataRefHolds) {
  XPLMDataRef ref = XPLMFindDataRef(kBytes);
  char buffer[16];
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 0, 15), 7);
  xphost::SetDatab(kBytes, "B738");
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 0, 15), 4);
  EXPECT_STREQ(buffer, "B738neo");
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 2, 1), 1);
  EXPECT_EQ(buffer[0], '3');
}

// Null, never-issued and removed handles read zero and leave the buffer alone;
// only null ones count as null reads (the plug-in's tests assert there are none).
TEST_F(HostDataRefs, NullUnknownAndRemovedHandlesReadZero) {
  XPLMDataRef removed = XPLMFindDataRef(kInts);
  xphost::RemoveDataRef(kInts);
  EXPECT_EQ(XPLMFindDataRef(kInts), nullptr);
  for (XPLMDataRef ref : {static_cast<XPLMDataRef>(nullptr), reinterpret_cast<XPLMDataRef>(0x1234), removed}) {
    int ints[2] = {9, 9};
    EXPECT_EQ(XPLMGetDatai(ref), 0);
    EXPECT_EQ(XPLMGetDatavi(ref, ints, 0, 2), 0);
    EXPECT_EQ(ints[0], 9);
  }
  EXPECT_EQ(xphost::NullDataRefReads(), 2);
}

}  // namespace
