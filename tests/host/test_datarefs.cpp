// Datarefs as the plug-in sees them: types, null handles, array copy counts.
#include "XPHostControl.h"
#include "XPLMDataAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class HostDataRefs : public ::testing::Test {
 protected:
  void SetUp() override {
    xphost::Reset();
    xphost::SetDataf("test/float", 1.5f);
    xphost::SetDatai("test/int", 7);
    xphost::SetDatavf("test/floats", {1, 2, 3, 4, 5});
    xphost::SetDatavi("test/ints", {10, 20, 30});
    xphost::SetDatab("test/bytes", "A320neo");
  }
};

// Every reader against every type: only the matching one sees the value.
TEST_F(HostDataRefs, ReadingThroughAnotherTypeGivesZero) {
  struct Row {
    const char* name;
    float asFloat;
    int asInt;
    int floatsCount, intsCount, bytesCount;
  };
  const Row rows[] = {
      {"test/float", 1.5f, 0, 0, 0, 0},  {"test/int", 0, 7, 0, 0, 0},
      {"test/floats", 0, 0, 5, 0, 0},    {"test/ints", 0, 0, 0, 3, 0},
      {"test/bytes", 0, 0, 0, 0, 7},
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
    EXPECT_EQ(XPLMGetDatad(ref), 0.0);
    EXPECT_EQ(XPLMGetDatavf(ref, floats, 0, 8), row.floatsCount);
    EXPECT_EQ(XPLMGetDatavi(ref, ints, 0, 8), row.intsCount);
    EXPECT_EQ(XPLMGetDatab(ref, bytes, 0, 8), row.bytesCount);
  }
}

TEST_F(HostDataRefs, NullAndUnknownHandlesReadAsZeroAndLeaveMemoryAlone) {
  EXPECT_EQ(XPLMFindDataRef("no/such/dataref"), nullptr);
  EXPECT_EQ(XPLMFindDataRef(nullptr), nullptr);
  void* junk = reinterpret_cast<void*>(0x1234);
  for (XPLMDataRef ref : {static_cast<XPLMDataRef>(nullptr), junk}) {
    float floats[2] = {9, 9};
    int ints[2] = {9, 9};
    char bytes[2] = {'x', 'x'};
    EXPECT_EQ(XPLMGetDataf(ref), 0.0f);
    EXPECT_EQ(XPLMGetDatai(ref), 0);
    EXPECT_EQ(XPLMGetDatavf(ref, floats, 0, 2), 0);
    EXPECT_EQ(XPLMGetDatavi(ref, ints, 0, 2), 0);
    EXPECT_EQ(XPLMGetDatab(ref, bytes, 0, 2), 0);
    EXPECT_EQ(XPLMGetDatavf(ref, nullptr, 0, 0), 0);
    EXPECT_EQ(floats[0], 9);
    EXPECT_EQ(ints[1], 9);
    EXPECT_EQ(bytes[0], 'x');
  }
  EXPECT_EQ(xphost::NullDataRefReads(), 6);
  EXPECT_EQ(xphost::TotalDataRefReads(), 0);
}

// (offset, max) against 5 floats: the count copied and where the copy ends.
TEST_F(HostDataRefs, ArrayReadsCopyWhatIsAskedAndWhatExists) {
  struct Row {
    int offset, max, expectedCount;
    float firstCopied;
  };
  const Row rows[] = {
      {0, 5, 5, 1}, {0, 10, 5, 1}, {0, 2, 2, 1}, {3, 10, 2, 4}, {4, 1, 1, 5},
      {5, 3, 0, 0}, {9, 3, 0, 0},  {0, 0, 0, 0}, {-1, 3, 0, 0}, {2, -4, 0, 0},
  };
  XPLMDataRef ref = XPLMFindDataRef("test/floats");
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "offset " << row.offset << " max " << row.max);
    std::vector<float> out(12, -1.0f);
    int count = XPLMGetDatavf(ref, out.data(), row.offset, row.max);
    EXPECT_EQ(count, row.expectedCount);
    if (count > 0) {
      EXPECT_EQ(out[0], row.firstCopied);
    }
    EXPECT_EQ(out[static_cast<size_t>(std::max(count, 0))], -1.0f) << "wrote past the count";
  }
  EXPECT_EQ(XPLMGetDatavf(ref, nullptr, 3, 1), 5) << "a null buffer asks for the full size";
  EXPECT_EQ(XPLMGetDatavi(XPLMFindDataRef("test/ints"), nullptr, 0, 0), 3);
}

// A text dataref read into a used buffer copies only its own bytes, which is
// why callers must clear the buffer first.
TEST_F(HostDataRefs, ByteReadsCopyOnlyWhatTheDataRefHolds) {
  XPLMDataRef ref = XPLMFindDataRef("test/bytes");
  char buffer[16];
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 0, 15), 7);
  EXPECT_STREQ(buffer, "A320neo");
  xphost::SetDatab("test/bytes", "B738");
  EXPECT_EQ(XPLMFindDataRef("test/bytes"), ref) << "republishing keeps the handle";
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 0, 15), 4);
  EXPECT_STREQ(buffer, "B738neo");
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 2, 1), 1);
  EXPECT_EQ(buffer[0], '3');
  EXPECT_EQ(XPLMGetDatab(ref, nullptr, 0, 0), 4);
}

TEST_F(HostDataRefs, RemovedDataRefsVanishAndOldHandlesReadZero) {
  XPLMDataRef ref = XPLMFindDataRef("test/int");
  xphost::RemoveDataRef("test/int");
  EXPECT_EQ(XPLMFindDataRef("test/int"), nullptr);
  EXPECT_EQ(XPLMGetDatai(ref), 0);
  EXPECT_FALSE(XPLMIsDataRefGood(ref));
  xphost::SetDatai("test/int", 3);
  EXPECT_EQ(XPLMGetDatai(ref), 3);
  xphost::SetDataf("test/int", 2.5f);  // a new type replaces the old one
  EXPECT_EQ(XPLMGetDatai(ref), 0);
  EXPECT_EQ(XPLMGetDataf(ref), 2.5f);
  EXPECT_EQ(XPLMGetDataRefTypes(ref), xplmType_Float);
}

TEST_F(HostDataRefs, ReadsAndLookupsAreCounted) {
  XPLMDataRef floatRef = XPLMFindDataRef("test/float");
  XPLMFindDataRef("missing");
  XPLMGetDataf(floatRef);
  XPLMGetDatai(floatRef);  // the wrong type still counts as a read
  XPLMGetDatavi(XPLMFindDataRef("test/ints"), nullptr, 0, 0);
  EXPECT_EQ(xphost::DataRefReadCount("test/float"), 2);
  EXPECT_EQ(xphost::DataRefReadCount("test/ints"), 1);
  EXPECT_EQ(xphost::DataRefReadCount("never/read"), 0);
  EXPECT_EQ(xphost::TotalDataRefReads(), 3);
  EXPECT_EQ(xphost::FindDataRefCalls(),
            (std::vector<std::string>{"test/float", "missing", "test/ints"}));
}

TEST_F(HostDataRefs, WritesStayWithinTheArray) {
  XPLMDataRef ref = XPLMFindDataRef("test/ints");
  int values[] = {7, 8, 9};
  XPLMSetDatavi(ref, values, 1, 3);
  int out[3] = {};
  ASSERT_EQ(XPLMGetDatavi(ref, out, 0, 3), 3);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(out[2], 8);
  XPLMSetDataf(XPLMFindDataRef("test/int"), 4.0f);  // wrong type: ignored
  EXPECT_EQ(XPLMGetDatai(XPLMFindDataRef("test/int")), 7);
}

}  // namespace
