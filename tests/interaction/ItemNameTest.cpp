// Drive parameter item names and the data types of VARIANT types.
#include <gtest/gtest.h>

#include <string>

#include "ItemName.h"
#include "TestSupport.h"

namespace orvane::interaction::test {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(ItemName, Accepted) {
    struct Case {
        const wchar_t* name;
        WORD parameter, subindex;
        bool unindexed;
        VARTYPE vt;
        ULONG length;
        const char* options;
    } cases[] = {
        {L"pari964s0d18", 964, 0, false, VT_UI2, 1, ""},
        {L"PARI964S2D18", 964, 2, false, VT_UI2, 1, ""},
        {L"pari1000d18", 1000, 0, true, VT_UI2, 1, ""},
        {L"pari1006s0d8l16", 1006, 0, false, VT_BSTR, 16, ""},
        {L"pari1009s0d8209", 1009, 0, false, VT_ARRAY | VT_UI1, 1, ""},
        {L"pari1005s3d3xni", 1005, 3, true, VT_I4, 1, "ni"},
        {L"pari20s0d2xNIx", 20, 0, true, VT_I2, 1, "NIx"},
        {L"pari20s0d2xab", 20, 0, false, VT_I2, 1, "ab"},
        {L"pari65535s65535d18", 65535, 65535, false, VT_UI2, 1, ""},
        {L"pari1s0d8l4294967295", 1, 0, false, VT_BSTR, 0xFFFFFFFFul, ""},
    };
    for (const Case& c : cases) {
        ParameterItemName parsed;
        ASSERT_EQ(Hr{S_OK}, Hr{ParseParameterItemName(c.name, &parsed)}) << Narrow(c.name);
        EXPECT_EQ(c.parameter, parsed.parameter) << Narrow(c.name) << ": parameter";
        EXPECT_EQ(c.subindex, parsed.subindex) << Narrow(c.name) << ": subindex";
        EXPECT_EQ(c.unindexed, parsed.unindexed) << Narrow(c.name) << ": unindexed";
        EXPECT_EQ(c.vt, parsed.vt) << Narrow(c.name) << ": VARIANT type";
        EXPECT_EQ(c.length, parsed.length) << Narrow(c.name) << ": length";
        EXPECT_EQ(c.options, Narrow(parsed.options)) << Narrow(c.name) << ": options";
    }
}

TEST(ItemName, Refused) {
    for (const wchar_t* name :
         {L"", L"pari1d", L"DS_Vendorname", L"pari964s0", L"pari964s0d", L"paris0d18",
          L"pari964sd18", L"pari65536s0d18", L"pari964s0d18z", L"pari964s0d18l", L"pari-1s0d18",
          L"xpari964s0d18", L"pari964 s0d18", L"pari1s0d8l4294967296", L"pari1s0d8l42949672960"}) {
        ParameterItemName parsed;
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{ParseParameterItemName(name, &parsed)})
            << "'" << Narrow(name) << "'";
    }
    ParameterItemName parsed;
    EXPECT_EQ(Hr{S_OK}, Hr{ParseParameterItemName(L"pari1d2", &parsed)})
        << "seven characters are enough";
}

TEST(ItemName, DataTypesOfVariantTypes) {
    struct Case {
        VARTYPE vt;
        BYTE dataType;
    } cases[] = {
        {VT_I2, 3},
        {VT_I4, 4},
        {VT_R4, 8},
        {VT_R8, 8},
        {VT_CY, 42},
        {VT_DATE, 50},
        {VT_BSTR, 9},
        {VT_BOOL, 1},
        {VT_I1, 2},
        {VT_UI1, 5},
        {VT_UI2, 6},
        {VT_UI4, 7},
        {VT_ARRAY | VT_UI1, 10},
    };
    for (const Case& c : cases) {
        BYTE dataType = 0;
        EXPECT_EQ(Hr{S_OK}, Hr{DataTypeForVarType(c.vt, &dataType)}) << VtName(c.vt);
        EXPECT_EQ(c.dataType, dataType) << VtName(c.vt);
    }
    BYTE dataType = 0;
    for (VARTYPE vt : std::initializer_list<VARTYPE>{VT_EMPTY, VT_I8, VT_UI8, VT_INT, VT_VARIANT,
                                                     VT_ARRAY | VT_I2})
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{DataTypeForVarType(vt, &dataType)}) << "VARTYPE " << vt;
}

TEST(ItemName, AddressKinds) {
    const struct {
        const wchar_t* address;
        ItemKind kind;
        const char* name;
    } cases[] = {
        {L"internal://A/B/DS_Vendorname", ItemKind::Internal, "A/B/DS_Vendorname"},
        {L"Axolent://A/B/1/pari1000d18", ItemKind::DriveParameter, "A/B/1/pari1000d18"},
        {L"opc://Sim/DP/Slave3/x", ItemKind::PassThrough, ""},
        {L"axolent://A/B/1/pari1000d18", ItemKind::Unknown, ""},
        {L"Internal://x", ItemKind::Unknown, ""},
        {L"internal:/x", ItemKind::Unknown, ""},
        {L"", ItemKind::Unknown, ""},
    };
    for (const auto& c : cases) {
        std::wstring name;
        EXPECT_EQ(c.kind, ClassifyAddress(c.address, &name)) << Narrow(c.address);
        EXPECT_EQ(c.name, Narrow(name)) << Narrow(c.address);
    }
}

TEST(ItemName, ItemPaths) {
    ItemPath parts;
    ASSERT_TRUE(SplitItemPath(L"Bus/DP_Slave3_/1/pari1000d18", &parts));
    EXPECT_EQ("Bus/DP_Slave3_", Narrow(parts.device));
    EXPECT_EQ("Bus/DP_Slave3_/1", Narrow(parts.axis));
    EXPECT_EQ("pari1000d18", Narrow(parts.leaf));
    ASSERT_TRUE(SplitItemPath(L"Bus/DP_Slave3_/pari1000d18", &parts)) << "a single-axis device";
    EXPECT_EQ(Narrow(parts.device), Narrow(parts.axis));
    for (const wchar_t* path :
         {L"pari1000d18", L"Bus/pari1000d18", L"/Dev/x", L"Bus//x", L"Bus/Dev/", L""})
        EXPECT_FALSE(SplitItemPath(path, &parts)) << Narrow(path);
}

TEST(ItemName, DefaultValues) {
    const struct {
        VARTYPE vt;
        const char* value;
    } cases[] = {
        {VT_UI2, "VT_UI2 0"},   {VT_I1, "VT_I1 0"},      {VT_R4, "VT_R4 0"},
        {VT_BOOL, "VT_BOOL 0"}, {VT_BSTR, "VT_BSTR ''"}, {VT_ARRAY | VT_UI1, "VT_ARRAY|VT_UI1"},
    };
    for (const auto& c : cases) {
        VARIANT value;
        EXPECT_EQ(Hr{S_OK}, Hr{DefaultItemValue(c.vt, &value)}) << VtName(c.vt);
        EXPECT_EQ(c.value, Describe(value));
        VariantClear(&value);
    }
}

TEST(ItemName, AnswerTimeoutRaisedByLatency) {
    const struct {
        DWORD timeout, latency, expected;
    } cases[] = {{300, 1500, 300}, {10, 1500, 16}, {15, 1500, 15}, {14, 1500, 16}, {10, 0, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, AnswerTimeoutFor(c.timeout, c.latency))
            << c.timeout << " s, latency " << c.latency;
}

}  // namespace
}  // namespace orvane::interaction::test
