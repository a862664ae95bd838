// Description elements and texts offered as item properties.
#include <gtest/gtest.h>

#include <string>

#include "DescriptionTable.h"
#include "Telegram.h"
#include "TestSupport.h"

namespace orvane::interaction::test {
namespace {

std::string Narrow(const wchar_t* text) {
    const std::wstring wide(text);
    return std::string(wide.begin(), wide.end());
}

TEST(DescriptionTable, MatchesNamesWithoutRegardToCase) {
    struct Case {
        const wchar_t* name;
        BYTE attribute;
        WORD subindex;
        DWORD propertyId;
    };
    const Case cases[] = {
        {L"Axolent name", 0x20, 6, 5005},
        {L"AXOLENT NAME", 0x20, 6, 5005},
        {L"axolent pzd normalization", 0x20, 12, 5011},
        {L"Axolent Identifier", 0x20, 1, 5015},  // shares subindex 1 with the data type
        {L"Axolent data type", 0x20, 1, 5008},
    };
    DriveParameterRecord record;
    record.unindexed = true;
    for (const Case& c : cases) {
        DescriptionRequest request;
        const HRESULT hr = LookupDescription(c.name, record, nullptr, &request);
        const std::string call = "LookupDescription(\"" + Narrow(c.name) + "\")";
        ASSERT_EQ(Hr{S_OK}, Hr{hr}) << call;
        EXPECT_EQ(c.attribute, request.attribute) << call << ": attribute";
        EXPECT_EQ(c.subindex, request.subindex) << call << ": subindex";
        EXPECT_EQ(1, request.elements) << call << ": elements";
        EXPECT_EQ(c.propertyId, request.propertyId) << call << ": property ID";
    }
}

TEST(DescriptionTable, RefusesUnknownNames) {
    DriveParameterRecord record;
    for (const wchar_t* name : {L"Axolent", L"Axolent name ", L"", L"Axolent value"}) {
        DescriptionRequest request;
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{LookupDescription(name, record, nullptr, &request)})
            << "LookupDescription(\"" << Narrow(name) << "\")";
    }
}

TEST(DescriptionTable, TextOfAnIndexedItemUsesItsSubindex) {
    DriveParameterRecord record;
    record.unindexed = false;
    record.subindex = 17;
    bool asked = false;
    DescriptionRequest request;
    const HRESULT hr = LookupDescription(
        L"Axolent text", record,
        [&](VARIANT*) {
            asked = true;
            return E_FAIL;
        },
        &request);
    ASSERT_EQ(Hr{S_OK}, Hr{hr}) << "LookupDescription(\"Axolent text\") of an indexed item";
    EXPECT_EQ(kAttributeText, request.attribute) << "text attribute";
    EXPECT_EQ(17, request.subindex) << "text index of an indexed item";
    EXPECT_EQ(5001u, request.propertyId) << "text property ID";
    EXPECT_FALSE(asked) << "current value fetched for an indexed item";
}

TEST(DescriptionTable, TextOfAnUnindexedItemUsesItsValue) {
    struct Case {
        const char* name;
        BYTE dataType;
        VARTYPE vt;
        LONGLONG value;
        WORD index;
    };
    const Case cases[] = {
        {"Boolean TRUE", kBoolean, VT_BOOL, VARIANT_TRUE, 1},
        {"Boolean FALSE", kBoolean, VT_BOOL, VARIANT_FALSE, 0},
        {"Unsigned8", kUnsigned8, VT_UI2, 0x1234, 0x34},
        {"0x41", kFormatByte, VT_UI1, 0xFE, 0xFE},
        {"Unsigned16", kUnsigned16, VT_UI2, 0xABCD, 0xABCD},
        {"Unsigned32", kUnsigned32, VT_UI4, 0x12345678, 0x5678},
        {"0x43", kFormatDoubleWord, VT_I4, -1, 0xFFFF},
        {"Integer16", kInteger16, VT_I2, 5, 0},
        {"floating point", kFloatingPoint, VT_R4, 3, 0},
    };
    for (const Case& c : cases) {
        DriveParameterRecord record;
        record.unindexed = true;
        record.subindex = 9;
        record.dataType = c.dataType;
        auto current = [&](VARIANT* value) {
            VariantInit(value);
            V_VT(value) = VT_I8;
            V_I8(value) = c.value;
            return VariantChangeType(value, value, 0, c.vt);
        };
        DescriptionRequest request;
        const HRESULT hr = LookupDescription(L"Axolent text", record, current, &request);
        ASSERT_EQ(Hr{S_OK}, Hr{hr}) << "LookupDescription(\"Axolent text\"), " << c.name;
        EXPECT_EQ(c.index, request.subindex) << "text index, " << c.name;
    }

    DriveParameterRecord record;
    record.unindexed = true;
    record.dataType = kUnsigned16;
    DescriptionRequest request;
    EXPECT_EQ(Hr{RPC_E_TIMEOUT},
              Hr{LookupDescription(
                  L"Axolent text", record, [](VARIANT*) { return RPC_E_TIMEOUT; }, &request)})
        << "LookupDescription(\"Axolent text\") when the current value cannot be had";
    EXPECT_EQ(Hr{E_POINTER}, Hr{LookupDescription(L"Axolent text", record, nullptr, &request)})
        << "LookupDescription(\"Axolent text\") without a value source";
}

}  // namespace
}  // namespace orvane::interaction::test
