#include "handle_collection.h"

#include <gtest/gtest.h>

#include <string>

namespace vkopc {
namespace {

struct Record {
    std::string name;
};

std::unique_ptr<Record> MakeRecord(const char* name) {
    return std::unique_ptr<Record>(new Record{name});
}

TEST(HandleCollection, FirstHandleIsOneAndHandlesAreNotReused) {
    HandleCollection<Record> records;
    Handle16 a = records.IssueHandle();
    EXPECT_EQ(1, a) << "first IssueHandle";
    records.Insert(a, MakeRecord("a"));
    Handle16 b = records.IssueHandle();
    EXPECT_EQ(2, b) << "second IssueHandle";
    records.Insert(b, MakeRecord("b"));
    EXPECT_NE(nullptr, records.Take(a)) << "Take(1)";
    Handle16 c = records.IssueHandle();
    EXPECT_EQ(3, c) << "IssueHandle after removing handle 1";
    // A handle that was issued but never inserted is not handed out again either.
    EXPECT_EQ(4, records.IssueHandle()) << "IssueHandle after an unused handle";
}

TEST(HandleCollection, LookupOfUnknownAndOutOfRangeHandles) {
    HandleCollection<Record> records;
    Handle16 a = records.IssueHandle();
    records.Insert(a, MakeRecord("a"));
    EXPECT_EQ("a", records.Find(a)->name);
    EXPECT_EQ(nullptr, records.Find(0)) << "Find(0)";
    EXPECT_EQ(nullptr, records.Find(2)) << "Find(2)";
    // A 32-bit handle whose low word matches must not alias a record.
    EXPECT_EQ(nullptr, records.Find(0x10000u + a)) << "Find(0x10001)";
    EXPECT_EQ(nullptr, records.Take(0x10000u + a)) << "Take(0x10001)";
    EXPECT_EQ(1u, records.Size());
}

TEST(HandleCollection, OrderAndFirstHandle) {
    HandleCollection<Record> records;
    EXPECT_EQ(0, records.FirstHandle()) << "FirstHandle of an empty collection";
    std::vector<Handle16> handles;
    ASSERT_TRUE(records.IssueHandles(3, &handles));
    ASSERT_EQ(3u, handles.size());
    EXPECT_EQ(1, handles[0]);
    EXPECT_EQ(3, handles[2]);
    records.Insert(handles[2], MakeRecord("c"));
    records.Insert(handles[0], MakeRecord("a"));
    records.Insert(handles[1], MakeRecord("b"));
    std::string order;
    for (const auto& entry : records)
        order += entry.second->name;
    EXPECT_EQ("abc", order) << "iteration order";
    records.Take(1);
    EXPECT_EQ(2, records.FirstHandle()) << "FirstHandle after removing 1";
}

TEST(HandleCollection, WrapsSkippingZeroAndHandlesInUse) {
    HandleCollection<Record> records;
    Handle16 keep = records.IssueHandle();  // 1 stays in use
    records.Insert(keep, MakeRecord("kept"));
    Handle16 h = 0;
    for (int i = 0; i < 0xFFFE; ++i)
        h = records.IssueHandle();
    EXPECT_EQ(0xFFFF, h) << "last handle before the wrap";
    // The counter wraps: 0 is never issued and 1 is still in use.
    EXPECT_EQ(2, records.IssueHandle()) << "IssueHandle after the wrap";
}

TEST(HandleCollection, RefusesWhenFull) {
    HandleCollection<Record> records;
    std::vector<Handle16> handles;
    ASSERT_TRUE(records.IssueHandles(0xFFFF, &handles));
    for (Handle16 h : handles)
        records.Insert(h, MakeRecord("x"));
    EXPECT_EQ(0, records.IssueHandle()) << "IssueHandle on a full collection";
    records.Take(500);
    EXPECT_FALSE(records.IssueHandles(2, &handles)) << "IssueHandles(2) with one free handle";
    EXPECT_EQ(500, records.IssueHandle()) << "IssueHandle with handle 500 free";
}

}  // namespace
}  // namespace vkopc
