// Node names, access paths and the device patterns of discovery.
#include <gtest/gtest.h>

#include <string>

#include "Naming.h"

namespace orvane::interaction {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(Naming, NodeNamesReplaceSeparators) {
    EXPECT_EQ("Vendor_BusServer_1", Narrow(BusServerNodeName(L"Vendor.BusServer.1")));
    EXPECT_EQ("a_b_c_d[0]", Narrow(BusServerNodeName(L"a/b\\c:d[0]")))
        << "brackets stay in a ProgID";
    EXPECT_EQ("DP_Slave3_", Narrow(DeviceNodeName(L"DP/Slave3/")));
    EXPECT_EQ("a_b_c_d_0__", Narrow(DeviceNodeName(L"a.b\\c:d[0]/")));
    EXPECT_EQ("opc://Vendor.BusServer.1/", Narrow(BusServerAccessPath(L"Vendor.BusServer.1")));
}

TEST(Naming, MarkerPrefixes) {
    std::wstring prefix;
    ASSERT_TRUE(PrefixFromMarker(L"DP/Slave3/DS_Vendorname", &prefix));
    EXPECT_EQ("DP/Slave3/", Narrow(prefix));
    ASSERT_TRUE(PrefixFromMarker(L"xDS_Vendorname", &prefix)) << "14 characters";
    EXPECT_EQ("x", Narrow(prefix));
    EXPECT_FALSE(PrefixFromMarker(L"DS_Vendorname", &prefix)) << "13 characters are skipped";
    EXPECT_FALSE(PrefixFromMarker(L"", &prefix));
}

TEST(Naming, DevicePatterns) {
    EXPECT_EQ("Slave*/*SlotI0S47D8209", Narrow(PatternFilter(L"Slave%d/", kDefaultChannelItem)));
    EXPECT_EQ("DP/*Chan", Narrow(PatternFilter(L"DP/", L"Chan"))) << "without %d";

    struct Case {
        const wchar_t* id;
        const wchar_t* pattern;
        bool match;
    } cases[] = {
        {L"Slave12/SlotI0S47D8209", L"Slave%d/", true},
        {L"Slave-3/SlotI0S47D8209", L"Slave%d/", true},
        {L"Slave 7/x", L"Slave%d/", true},
        {L"Slavex/SlotI0S47D8209", L"Slave%d/", false},
        {L"Slave/SlotI0S47D8209", L"Slave%d/", false},
        {L"slave12/SlotI0S47D8209", L"Slave%d/", false},
        {L"DP/Slave12/x", L"Slave%d/", false},
        {L"DP/anything", L"DP/", true},
        {L"DQ/anything", L"DP/", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.match, MatchesDevicePattern(c.id, c.pattern))
            << "MatchesDevicePattern(" << Narrow(c.id) << ", " << Narrow(c.pattern) << ")";

    std::wstring prefix;
    ASSERT_TRUE(PrefixFromChannel(L"Slave12/SlotI0S47D8209", kDefaultChannelItem, &prefix));
    EXPECT_EQ("Slave12/", Narrow(prefix));
    EXPECT_FALSE(PrefixFromChannel(L"SlotI0S47D8209", kDefaultChannelItem, &prefix))
        << "nothing before the channel";
}

}  // namespace
}  // namespace orvane::interaction
