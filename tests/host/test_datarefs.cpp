// The dataref rules the plug-in's tests rely on: only the matching type reads
// a value, array and byte reads copy no more than asked and held, stale and
// null handles read zero, and every read is counted (tests assert that
// nothing was read, which would pass trivially if reads went uncounted).
#include "XPHostControl.h"
#include "XPLMDataAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Every reader against every type: only the matching one sees the value, and
// every read counts, the wrong type's too.
TEST_F(HostDataRefs, OnlyTheMatchingTypeReadsAValue) {
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
    EXPECT_EQ(XPLMGetDatavf(ref, floats, 0, 8), row.floatsCount);
    EXPECT_EQ(XPLMGetDatavi(ref, ints, 0, 8), row.intsCount);
    EXPECT_EQ(XPLMGetDatab(ref, bytes, 0, 8), row.bytesCount);
    EXPECT_EQ(xphost::DataRefReadCount(row.name), 5);
  }
  EXPECT_EQ(xphost::TotalDataRefReads(), 25);
  XPLMFindDataRef("missing");
  EXPECT_EQ(xphost::FindDataRefCalls().back(), "missing");
  EXPECT_EQ(xphost::FindDataRefCalls().size(), 6u);
}

// (offset, max) against 5 floats: the count copied, the first value, and
// nothing written past the count.
TEST_F(HostDataRefs, ArrayReadsCopyWhatIsAskedAndWhatExists) {
  struct Row {
    int offset, max, expectedCount;
    float firstCopied;
  };
  const Row rows[] = {
      {0, 10, 5, 1}, {0, 2, 2, 1}, {3, 10, 2, 4}, {5, 3, 0, 0}, {-1, 3, 0, 0}, {2, -4, 0, 0},
  };
  XPLMDataRef ref = XPLMFindDataRef("test/floats");
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "offset " << row.offset << " max " << row.max);
    std::vector<float> out(12, -1.0f);
    int count = XPLMGetDatavf(ref, out.data(), row.offset, row.max);
    EXPECT_EQ(count, row.expectedCount);
    EXPECT_EQ(count > 0 ? out[0] : 0.0f, row.firstCopied);
    EXPECT_EQ(out[static_cast<size_t>(std::max(count, 0))], -1.0f) << "wrote past the count";
  }
}

// A text dataref copies only its own bytes, no terminator: a shorter new name
// leaves the old tail in a buffer that was not cleared.
TEST_F(HostDataRefs, ByteReadsCopyOnlyWhatTheDataRefHolds) {
  XPLMDataRef ref = XPLMFindDataRef("test/bytes");
  char buffer[16];
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 0, 15), 7);
  xphost::SetDatab("test/bytes", "B738");
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 0, 15), 4);
  EXPECT_STREQ(buffer, "B738neo");
  EXPECT_EQ(XPLMGetDatab(ref, buffer, 2, 1), 1);
  EXPECT_EQ(buffer[0], '3');
}

// Null, never-issued and removed handles read zero and leave the buffer alone;
// only null ones count as null reads (the plug-in's tests assert there are none).
TEST_F(HostDataRefs, NullUnknownAndRemovedHandlesReadZero) {
  XPLMDataRef removed = XPLMFindDataRef("test/ints");
  xphost::RemoveDataRef("test/ints");
  EXPECT_EQ(XPLMFindDataRef("test/ints"), nullptr);
  for (XPLMDataRef ref : {static_cast<XPLMDataRef>(nullptr), reinterpret_cast<XPLMDataRef>(0x1234), removed}) {
    int ints[2] = {9, 9};
    EXPECT_EQ(XPLMGetDatai(ref), 0);
    EXPECT_EQ(XPLMGetDatavi(ref, ints, 0, 2), 0);
    EXPECT_EQ(ints[0], 9);
  }
  EXPECT_EQ(xphost::NullDataRefReads(), 2);
}

}  // namespace
