// Browsing the item IDs: name filters and the branch/leaf view.
#include <gtest/gtest.h>

#include "AddressSpace.h"

namespace bussim {
namespace {

TEST(MatchesFilter, TheUsualWildcards) {
    struct Case {
        const char* text;
        const char* filter;
        bool match;
    };
    const Case kCases[] = {
        {"DP/Slave3/DS_Vendorname", "*DS_Vendorname", true},
        {"DP/Slave3/DS_Vendorname", "*DS_vendorname", false},  // case-sensitive
        {"anything", "", true},
        {"", "*", true},
        {"", "?", false},
        {"Slave3", "Slave?", true},
        {"Slave33", "Slave?", false},
        {"Slave3", "Slave#", true},
        {"SlaveX", "Slave#", false},
        {"Slave4", "Slave[45]", true},
        {"Slave3", "Slave[45]", false},
        {"Slave3", "Slave[!45]", true},
        {"Slave7", "Slave[3-8]", true},
        {"Slave9", "Slave[3-8]", false},
        {"a*b", "a[*]b", true},
        {"DP/Slave3/SlotI0S47D8209", "DP/Slave*/Slot*", true},
        {"DP/Slave3/SlotI0S47D8209", "*Slot", false},
        {"abcabc", "*abc", true},
        {"Slave3", "Slave[45", false},  // unterminated set
    };
    for (const Case& c : kCases)
        EXPECT_EQ(MatchesFilter(c.text, c.filter), c.match)
            << "\"" << c.text << "\" against \"" << c.filter << "\"";
}

class AddressSpaceTest : public ::testing::Test {
protected:
    AddressSpaceTest()
        : space_({{"DP/Slave3/DS_Vendorname", ItemType::kString, true, false},
                  {"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber", ItemType::kUInt16, true,
                   true},
                  {"DP/Slave4/DS_Vendorname", ItemType::kString, true, false},
                  {"Sim/Reset", ItemType::kBool, true, true}}) {}
    AddressSpace space_;
};

TEST_F(AddressSpaceTest, BranchesLeavesAndFlat) {
    EXPECT_EQ(space_.Branches({}, ""), (std::vector<std::string>{"DP", "Sim"}));
    EXPECT_EQ(space_.Branches({"DP"}, "*4"), (std::vector<std::string>{"Slave4"}));
    EXPECT_EQ(space_.Leaves({"DP", "Slave3"}, "", nullptr),
              (std::vector<std::string>{"DS_Vendorname"}));
    EXPECT_TRUE(space_.Leaves({"DP", "Nowhere"}, "", nullptr).empty())
        << "leaves of a missing branch";
    auto writable = [](const ItemInfo& item) { return item.writable; };
    EXPECT_EQ(space_.Flat({}, "", writable),
              (std::vector<std::string>{"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber",
                                        "Sim/Reset"}));
    EXPECT_EQ(space_.Flat({"DP"}, "*Vendorname", nullptr),
              (std::vector<std::string>{"DP/Slave3/DS_Vendorname", "DP/Slave4/DS_Vendorname"}))
        << "flat below a position, filter on the full ID";
    EXPECT_TRUE(space_.IsBranch({"DP", "Slave3", "DS_MSAC2_Parameter"}));
    EXPECT_FALSE(space_.IsBranch({"DP", "Slave3", "DS_Vendorname"})) << "a leaf is no branch";
}

TEST_F(AddressSpaceTest, ItemIds) {
    EXPECT_EQ(space_.ItemId({"DP", "Slave3"}, "DS_Vendorname").value_or("-"),
              "DP/Slave3/DS_Vendorname");
    EXPECT_EQ(space_.ItemId({"DP"}, "Slave3").value_or("-"), "DP/Slave3") << "a branch";
    EXPECT_EQ(space_.ItemId({"DP"}, "").value_or("-"), "DP") << "the position itself";
    EXPECT_EQ(space_.ItemId({"DP"}, "Sim/Reset").value_or("-"), "Sim/Reset") << "a full ID";
    EXPECT_FALSE(space_.ItemId({"DP"}, "Missing")) << "nothing there";
    EXPECT_EQ(AddressSpace::Join(AddressSpace::Split("DP/Slave3")), "DP/Slave3");
    EXPECT_TRUE(AddressSpace::Split("").empty());
}

}  // namespace
}  // namespace bussim
