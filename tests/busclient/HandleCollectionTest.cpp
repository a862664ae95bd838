#include "HandleCollection.h"

#include <gtest/gtest.h>

#include <string>

namespace vkopc {
namespace {

struct Record {
    std::string name;
};

std::shared_ptr<Record> MakeRecord(const char* name) {
    return std::make_shared<Record>(Record{name});
}

TEST(HandleCollection, IssuesFromOneInOrderAndDoesNotReuse) {
    HandleCollection<Record> records;
    EXPECT_EQ(0, records.FirstHandle()) << "FirstHandle of an empty collection";
    std::vector<Handle16> handles;
    ASSERT_TRUE(records.IssueHandles(3, &handles));
    EXPECT_EQ((std::vector<Handle16>{1, 2, 3}), handles) << "first three handles";
    records.Insert(handles[2], MakeRecord("c"));
    records.Insert(handles[0], MakeRecord("a"));
    std::string order;
    for (const auto& entry : records) order += entry.second->name;
    EXPECT_EQ("ac", order) << "iteration order";
    EXPECT_NE(nullptr, records.Take(1)) << "Take(1)";
    EXPECT_EQ(3, records.FirstHandle()) << "FirstHandle after removing 1";
    // Neither the removed handle 1 nor the issued but unused 2 comes again.
    EXPECT_EQ(4, records.IssueHandle()) << "IssueHandle after removing 1";
}

TEST(HandleCollection, LookupOfUnknownAndOutOfRangeHandles) {
    HandleCollection<Record> records;
    const Handle16 a = records.IssueHandle();
    records.Insert(a, MakeRecord("a"));
    EXPECT_EQ("a", records.Find(a)->name);
    EXPECT_EQ(nullptr, records.Find(0)) << "Find(0)";
    EXPECT_EQ(nullptr, records.Find(2)) << "Find(2)";
    // A 32-bit handle whose low word matches must not alias a record.
    EXPECT_EQ(nullptr, records.Find(0x10000u + a)) << "Find(0x10001)";
    EXPECT_EQ(nullptr, records.Take(0x10000u + a)) << "Take(0x10001)";
    EXPECT_EQ(1u, records.Size());
}

TEST(HandleCollection, WrapsSkippingZeroAndHandlesInUseAndRefusesWhenFull) {
    HandleCollection<Record> records;
    records.Insert(records.IssueHandle(), MakeRecord("kept"));  // 1 stays in use
    Handle16 h = 0;
    for (int i = 0; i < 0xFFFE; ++i) h = records.IssueHandle();
    EXPECT_EQ(0xFFFF, h) << "last handle before the wrap";
    EXPECT_EQ(2, records.IssueHandle()) << "IssueHandle after the wrap";

    HandleCollection<Record> full;
    std::vector<Handle16> handles;
    ASSERT_TRUE(full.IssueHandles(0xFFFF, &handles));
    for (Handle16 handle : handles) full.Insert(handle, MakeRecord("x"));
    EXPECT_EQ(0, full.IssueHandle()) << "IssueHandle on a full collection";
    full.Take(500);
    EXPECT_FALSE(full.IssueHandles(2, &handles)) << "IssueHandles(2) with one free handle";
    EXPECT_EQ(500, full.IssueHandle()) << "IssueHandle with handle 500 free";
}

}  // namespace
}  // namespace vkopc
