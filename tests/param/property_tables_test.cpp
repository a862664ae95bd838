#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vk_property_tables.h"

namespace {

TEST(StandardProperties, ShortNamesInIdOrder) {
    const struct { DWORD id; const wchar_t* name; VARTYPE type; } served[] = {
        {1, L"DataType", VT_I2}, {2, L"CurrentVal", VT_I2}, {3, L"Quality", VT_I2},
        {4, L"TimeStamp", VT_DATE}, {5, L"AccRights", VT_I4}, {6, L"ScanRate", VT_R4},
    };
    for (const auto& c : served) {
        const vk::StandardProperty* property = vk::FindStandardProperty(c.id);
        ASSERT_NE(property, nullptr) << "FindStandardProperty(" << c.id << ")";
        EXPECT_STREQ(property->shortName, c.name) << "id " << c.id;
        EXPECT_EQ(property->type, c.type) << "id " << c.id;
    }
    EXPECT_STREQ(vk::FindStandardProperty(1)->description, L"Item Canonical Data Type");
    EXPECT_STREQ(vk::FindStandardProperty(312)->description, L"Deviation Limit");
    EXPECT_STREQ(vk::FindStandardProperty(100)->shortName, L"Units");
    EXPECT_STREQ(vk::FindStandardProperty(312)->shortName, L"DevLim");
    EXPECT_EQ(vk::FindStandardProperty(7), nullptr) << "FindStandardProperty(7)";
    EXPECT_EQ(vk::FindStandardProperty(99), nullptr) << "FindStandardProperty(99)";
}

TEST(StandardProperties, ShortNameLookupIsExact) {
    const vk::StandardProperty* units = vk::FindStandardPropertyByShortName(L"Units");
    ASSERT_NE(units, nullptr) << "FindStandardPropertyByShortName(\"Units\")";
    EXPECT_EQ(units->id, 100u);
    EXPECT_EQ(vk::FindStandardPropertyByShortName(L"units"), nullptr) << "lookup must be case-sensitive";
    EXPECT_EQ(vk::FindStandardPropertyByShortName(L"Unit"), nullptr);
    EXPECT_EQ(vk::FindStandardPropertyByShortName(nullptr), nullptr);
}

TEST(AxolentProperties, SixteenRowsFromTheDrive) {
    const vk::ExtraPropertyTable& table = vk::kAxolentProperties;
    ASSERT_EQ(table.count, 16u);
    std::set<std::wstring> names;
    for (size_t i = 0; i < table.count; ++i) {
        const vk::ExtraPropertyRow& row = table.rows[i];
        EXPECT_EQ(row.id, 5001 + i) << "row " << i;
        EXPECT_EQ(row.availability, DWORD{vk::kFromDevice}) << "row " << row.id;
        EXPECT_EQ(row.access, DWORD(row.id <= 5005 ? vk::kReadWrite : vk::kReadOnly)) << "row " << row.id;
        names.insert(row.name);
    }
    EXPECT_EQ(names.size(), 16u) << "row names must be distinct";
    EXPECT_STREQ(table.rows[0].description, L"text for parameter according to Axolent specification");
    EXPECT_STREQ(table.rows[5].name, L"Axolent size index");
    EXPECT_EQ(table.rows[6].type, VT_I1);
    EXPECT_EQ(table.rows[15].type, VT_ARRAY | VT_UI1);
}

}  // namespace
