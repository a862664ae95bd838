// Names and paths without COM.
#include <gtest/gtest.h>

#include "NamedItems.h"
#include "PathRules.h"

namespace model {
namespace {

TEST(PathRules, NodeNamesAreSinglePathElements) {
    EXPECT_TRUE(IsValidNodeName(L"Dev1"));
    EXPECT_FALSE(IsValidNodeName(L"")) << "empty name";
    EXPECT_FALSE(IsValidNodeName(L"a/b")) << "separator inside";
    EXPECT_FALSE(IsValidNodeName(L"/")) << "separator alone";
    EXPECT_TRUE(IsValidParameterName(L"DS_MSAC2_Parameter/MA_ProfileIdentNumber"));
    EXPECT_FALSE(IsValidParameterName(L""));
}

TEST(PathRules, JoinLeavesTheRootOut) {
    EXPECT_EQ(L"P1", JoinPath(L"", L"P1"));
    EXPECT_EQ(L"Dev/Axis/P1", JoinPath(L"Dev/Axis", L"P1"));
}

TEST(PathRules, SplitAtTheFirstSeparator) {
    PathSplit split = SplitFirst(L"a/b/c");
    EXPECT_EQ(L"a", split.head);
    EXPECT_EQ(L"b/c", split.tail);
    EXPECT_TRUE(split.has_tail);
    split = SplitFirst(L"abc");
    EXPECT_EQ(L"abc", split.head);
    EXPECT_FALSE(split.has_tail);
    split = SplitFirst(L"a/");
    EXPECT_EQ(L"a", split.head);
    EXPECT_EQ(L"", split.tail);
    EXPECT_TRUE(split.has_tail) << "a trailing separator leaves an empty element";
    split = SplitFirst(L"/a");
    EXPECT_EQ(L"", split.head);
}

TEST(NamedItems, KeepsCreationOrderAcrossRemoveAndRename) {
    NamedItems items;
    items.Add(L"b", nullptr);
    items.Add(L"a", nullptr);
    items.Add(L"c", nullptr);
    EXPECT_EQ(0u, items.Find(L"b"));
    EXPECT_EQ(NamedItems::npos, items.Find(L"B")) << "names are case-sensitive";
    items.RemoveAt(0);
    EXPECT_EQ(0u, items.Find(L"a"));
    EXPECT_EQ(1u, items.Find(L"c"));
    items.Rename(1, L"z");
    EXPECT_EQ(NamedItems::npos, items.Find(L"c"));
    EXPECT_EQ(1u, items.Find(L"z"));
    EXPECT_EQ(2u, items.TakeAll().size());
    EXPECT_TRUE(items.empty());
}

}  // namespace
}  // namespace model
