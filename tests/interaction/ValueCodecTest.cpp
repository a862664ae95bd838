// Value conversions between telegram bytes and VARIANTs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "opcerror.h"
#include "Telegram.h"
#include "TestSupport.h"
#include "ValueCodec.h"

namespace orvane::interaction::test {
namespace {

struct DecodeCase {
    BYTE dataType;
    VARTYPE target;
    std::vector<BYTE> bytes;
    BYTE fixedLength;
    HRESULT hr;
    const char* expected;  // Describe() of the result when hr is S_OK
};

TEST(BytesToVariant, ConvertsByDataTypeAndTarget) {
    const DecodeCase cases[] = {
        // Narrower targets take the low bytes.
        {kUnsigned32, VT_UI2, {0x12, 0x34, 0x56, 0x78}, 0, S_OK, "VT_UI2 22136"},
        {kUnsigned32, VT_UI1, {0x12, 0x34, 0x56, 0x78}, 0, S_OK, "VT_UI1 120"},
        {kUnsigned32, VT_I1, {0x12, 0x34, 0x56, 0xFF}, 0, S_OK, "VT_I1 -1"},
        {kUnsigned16, VT_UI2, {0xAB, 0xCD}, 0, S_OK, "VT_UI2 43981"},
        {kUnsigned8, VT_UI2, {0xFF}, 0, S_OK, "VT_UI2 255"},
        {kFormatWord, VT_UI4, {0xFF, 0xFE}, 0, S_OK, "VT_UI4 65534"},
        // Signed drive types keep their sign in signed targets.
        {kInteger8, VT_I2, {0xFF}, 0, S_OK, "VT_I2 -1"},
        {kInteger16, VT_I4, {0xFF, 0xFE}, 0, S_OK, "VT_I4 -2"},
        {kInteger16, VT_INT, {0x80, 0x00}, 0, S_OK, "VT_INT -32768"},
        {kInteger32, VT_I4, {0xFF, 0xFF, 0xFF, 0xFB}, 0, S_OK, "VT_I4 -5"},
        {kInteger16, VT_UI4, {0xFF, 0xFE}, 0, S_OK, "VT_UI4 65534"},
        {kUnsigned16, VT_I4, {0xFF, 0xFE}, 0, S_OK, "VT_I4 65534"},
        {kInteger32, VT_DECIMAL, {0xFF, 0xFF, 0xFF, 0xFF}, 0, S_OK, "VT_DECIMAL -1"},
        {kUnsigned32, VT_DECIMAL, {0xFF, 0xFF, 0xFF, 0xFF}, 0, S_OK, "VT_DECIMAL 4294967295"},
        {kInteger32, VT_I8, {0xFF, 0xFF, 0xFF, 0xFF}, 0, S_OK, "VT_I8 -1"},
        {kInteger32, VT_UI8, {0xFF, 0xFF, 0xFF, 0xFF}, 0, S_OK, "VT_UI8 4294967295"},
        // Floating point.
        {kFloatingPoint, VT_R4, {0x3F, 0xC0, 0x00, 0x00}, 0, S_OK, "VT_R4 1.5"},
        {kFormatDoubleWord, VT_R8, {0xC0, 0x20, 0x00, 0x00}, 0, S_OK, "VT_R8 -2.5"},
        {kInteger32, VT_R4, {0x3F, 0xC0, 0x00, 0x00}, 0, E_WRONG_DATATYPE, nullptr},
        {kFloatingPoint, VT_I4, {0x3F, 0xC0, 0x00, 0x00}, 0, E_WRONG_DATATYPE, nullptr},
        // Booleans: only 0 and 0xFF.
        {kBoolean, VT_BOOL, {0xFF}, 0, S_OK, "VT_BOOL -1"},
        {kBoolean, VT_BOOL, {0x00}, 0, S_OK, "VT_BOOL 0"},
        {kBoolean, VT_BOOL, {0x01}, 0, E_WRONG_DATATYPE, nullptr},
        {kUnsigned8, VT_BOOL, {0xFF}, 0, E_WRONG_DATATYPE, nullptr},
        // Texts and byte arrays.
        {kVisibleString, VT_BSTR, {'a', 'b', 'c'}, 0, S_OK, "VT_BSTR 'abc'"},
        {kVisibleString, VT_BSTR, {}, 0, S_OK, "VT_BSTR ''"},
        {kOctetString, VT_BSTR, {'a'}, 0, E_WRONG_DATATYPE, nullptr},
        {kOctetString, VT_ARRAY | VT_UI1, {1, 2, 3}, 0, S_OK, "VT_ARRAY|VT_UI1 01 02 03"},
        {kOctetString, VT_ARRAY | VT_UI1, {1, 2, 3}, 5, S_OK, "VT_ARRAY|VT_UI1 01 02 03 00 00"},
        {kOctetString, VT_ARRAY | VT_UI1, {1, 2, 3}, 2, S_OK, "VT_ARRAY|VT_UI1 01 02"},
        {kOctetString, VT_ARRAY | VT_UI1, {}, 0, S_OK, "VT_ARRAY|VT_UI1"},
        {kUnsigned16, VT_ARRAY | VT_UI1, {0x12, 0x34}, 0, S_OK, "VT_ARRAY|VT_UI1 12 34"},
        // Too few bytes, unknown targets, bad arguments.
        {kUnsigned32, VT_UI4, {0x12, 0x34}, 0, E_WRONG_DATATYPE, nullptr},
        {kUnsigned16, VT_UI2, {0x12}, 0, E_WRONG_DATATYPE, nullptr},
        {kUnsigned16, VT_DATE, {0x12, 0x34}, 0, E_WRONG_DATATYPE, nullptr},
        {kVisibleString, VT_UI4, {1, 2, 3, 4}, 0, E_WRONG_DATATYPE, nullptr},
        {kUnsigned16, VT_EMPTY, {0x12, 0x34}, 0, E_INVALIDARG, nullptr},
        {0, VT_UI2, {0x12, 0x34}, 0, E_INVALIDARG, nullptr},
        {kUnsigned8, VT_UI1, {}, 0, E_INVALIDARG, nullptr},
    };
    for (const DecodeCase& c : cases) {
        VARIANT value;
        VariantInit(&value);
        const HRESULT hr =
            BytesToVariant(c.dataType, c.target, c.bytes.size(),
                           c.bytes.empty() ? nullptr : c.bytes.data(), &value, c.fixedLength);
        const std::string call = "BytesToVariant(" + std::to_string(c.dataType) + ", " +
                                 VtName(c.target) + ", [" + Hex(c.bytes) + "], fixed " +
                                 std::to_string(c.fixedLength) + ")";
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << call;
        if (SUCCEEDED(hr) && c.expected) {
            EXPECT_EQ(std::string(c.expected), Describe(value)) << call;
        }
        VariantClear(&value);
    }
}

TEST(BytesToVariant, RefusesMissingOutput) {
    const BYTE bytes[] = {1, 2};
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{BytesToVariant(kUnsigned16, VT_UI2, 2, bytes, nullptr)})
        << "BytesToVariant without an output";
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{BytesToVariant(kUnsigned16, VT_UI2, 2, nullptr, &value)})
        << "BytesToVariant with a length but no bytes";
}

TEST(ResolveFormat, GenericFormatsTakeTheItemType) {
    struct Case {
        BYTE format;
        VARTYPE vt;
        BYTE expected;
    };
    const Case cases[] = {
        {kFormatByte, VT_I1, kInteger8},
        {kFormatByte, VT_UI1, kUnsigned8},
        {kFormatByte, VT_UI2, kFormatByte},
        {kFormatWord, VT_I2, kInteger16},
        {kFormatWord, VT_UI2, kUnsigned16},
        {kFormatWord, VT_I4, kFormatWord},
        {kFormatDoubleWord, VT_I4, kInteger32},
        {kFormatDoubleWord, VT_R4, kFloatingPoint},
        {kFormatDoubleWord, VT_R8, kFloatingPoint},
        {kFormatDoubleWord, VT_UI4, kUnsigned32},
        {kFormatDoubleWord, VT_BSTR, kFormatDoubleWord},
        {kUnsigned16, VT_I2, kUnsigned16},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ResolveFormat(c.format, c.vt))
            << "ResolveFormat(0x" << std::hex << int(c.format) << std::dec << ", " << VtName(c.vt)
            << ")";
}

struct EncodeCase {
    const char* name;
    BYTE dataType;
    VARIANT value;
    BYTE arrayLength;
    HRESULT hr;
    std::vector<BYTE> expected;
};

VARIANT Make(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = vt;
    return v;
}
VARIANT I1(CHAR x) {
    VARIANT v = Make(VT_I1);
    V_I1(&v) = x;
    return v;
}
VARIANT UI1(BYTE x) {
    VARIANT v = Make(VT_UI1);
    V_UI1(&v) = x;
    return v;
}
VARIANT I2(SHORT x) {
    VARIANT v = Make(VT_I2);
    V_I2(&v) = x;
    return v;
}
VARIANT UI2(USHORT x) {
    VARIANT v = Make(VT_UI2);
    V_UI2(&v) = x;
    return v;
}
VARIANT I4(LONG x) {
    VARIANT v = Make(VT_I4);
    V_I4(&v) = x;
    return v;
}
VARIANT UI4(ULONG x) {
    VARIANT v = Make(VT_UI4);
    V_UI4(&v) = x;
    return v;
}
VARIANT I8(LONGLONG x) {
    VARIANT v = Make(VT_I8);
    V_I8(&v) = x;
    return v;
}
VARIANT UI8(ULONGLONG x) {
    VARIANT v = Make(VT_UI8);
    V_UI8(&v) = x;
    return v;
}
VARIANT R4(FLOAT x) {
    VARIANT v = Make(VT_R4);
    V_R4(&v) = x;
    return v;
}
VARIANT R8(DOUBLE x) {
    VARIANT v = Make(VT_R8);
    V_R8(&v) = x;
    return v;
}
VARIANT Bool(bool x) {
    VARIANT v = Make(VT_BOOL);
    V_BOOL(&v) = x ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
VARIANT Date(DATE x) {
    VARIANT v = Make(VT_DATE);
    V_DATE(&v) = x;
    return v;
}
VARIANT Decimal(LONG x) {
    VARIANT v = Make(VT_DECIMAL);
    VarDecFromI4(x, &V_DECIMAL(&v));
    V_VT(&v) = VT_DECIMAL;
    return v;
}
VARIANT Text(const std::wstring& x) {
    VARIANT v = Make(VT_BSTR);
    V_BSTR(&v) = SysAllocStringLen(x.data(), static_cast<UINT>(x.size()));
    return v;
}
VARIANT Bytes(const std::vector<BYTE>& x) {
    VARIANT v = Make(VT_ARRAY | VT_UI1);
    V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(x.size()));
    for (LONG i = 0; i < static_cast<LONG>(x.size()); ++i)
        SafeArrayPutElement(V_ARRAY(&v), &i, const_cast<BYTE*>(&x[i]));
    return v;
}

TEST(VariantToBytes, EncodesByVariantTypeAndDataType) {
    static SHORT referenced = -2;
    VARIANT byRef = Make(VT_I2 | VT_BYREF);
    V_I2REF(&byRef) = &referenced;

    EncodeCase cases[] = {
        {"VT_I1 -1 to Integer8", kInteger8, I1(-1), 0, S_OK, {0xFF, 0x00}},
        {"VT_I2 128 to Integer8", kInteger8, I2(128), 0, OPC_E_RANGE, {}},
        {"VT_I2 -2 to Integer16", kInteger16, I2(-2), 0, S_OK, {0xFF, 0xFE}},
        {"VT_I2 by reference", kInteger16, byRef, 0, S_OK, {0xFF, 0xFE}},
        {"VT_UI1 7 to Unsigned8", kUnsigned8, UI1(7), 0, S_OK, {0x07, 0x00}},
        {"VT_UI1 7 to 0x41", kFormatByte, UI1(7), 0, S_OK, {0x07, 0x00}},
        {"VT_UI1 7 to Unsigned16", kUnsigned16, UI1(7), 0, E_WRONG_DATATYPE, {}},
        {"VT_UI2 to Unsigned16", kUnsigned16, UI2(0x1234), 0, S_OK, {0x12, 0x34}},
        {"VT_UI2 to Integer16", kInteger16, UI2(0x8000), 0, OPC_E_RANGE, {}},
        {"VT_I4 -1 to Integer32", kInteger32, I4(-1), 0, S_OK, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"VT_I4 -1 to Unsigned16", kUnsigned16, I4(-1), 0, OPC_E_RANGE, {}},
        {"VT_UI4 max to Unsigned32",
         kUnsigned32,
         UI4(0xFFFFFFFF),
         0,
         S_OK,
         {0xFF, 0xFF, 0xFF, 0xFF}},
        {"VT_UI4 max to Unsigned16", kUnsigned16, UI4(0xFFFFFFFF), 0, OPC_E_RANGE, {}},
        {"VT_I4 to Boolean", kBoolean, I4(1), 0, E_WRONG_DATATYPE, {}},
        {"VT_I4 to floating point", kFloatingPoint, I4(1), 0, E_WRONG_DATATYPE, {}},
        {"VT_I8 -5 to Integer32", kInteger32, I8(-5), 0, S_OK, {0xFF, 0xFF, 0xFF, 0xFB}},
        {"VT_I8 4e9 to Unsigned32",
         kUnsigned32,
         I8(4000000000LL),
         0,
         S_OK,
         {0xEE, 0x6B, 0x28, 0x00}},
        {"VT_I8 2^32 to Unsigned32", kUnsigned32, I8(0x100000000LL), 0, OPC_E_RANGE, {}},
        {"VT_UI8 4e9 to Unsigned32",
         kUnsigned32,
         UI8(4000000000ULL),
         0,
         S_OK,
         {0xEE, 0x6B, 0x28, 0x00}},
        {"VT_UI8 2^32 to Unsigned32", kUnsigned32, UI8(0x100000000ULL), 0, OPC_E_RANGE, {}},
        {"VT_DECIMAL -2 to Integer16", kInteger16, Decimal(-2), 0, S_OK, {0xFF, 0xFE}},
        {"VT_DECIMAL 300 to Unsigned16", kUnsigned16, Decimal(300), 0, S_OK, {0x01, 0x2C}},
        {"VT_R4 1.5", kFloatingPoint, R4(1.5f), 0, S_OK, {0x3F, 0xC0, 0x00, 0x00}},
        {"VT_R4 to Integer32", kInteger32, R4(1.5f), 0, E_WRONG_DATATYPE, {}},
        {"VT_R8 -2.5 to 0x43", kFormatDoubleWord, R8(-2.5), 0, S_OK, {0xC0, 0x20, 0x00, 0x00}},
        {"VT_R8 1e300", kFloatingPoint, R8(1e300), 0, OPC_E_RANGE, {}},
        {"VT_BSTR abc", kVisibleString, Text(L"abc"), 0, S_OK, {'a', 'b', 'c'}},
        {"VT_BSTR empty", kVisibleString, Text(L""), 0, S_OK, {}},
        {"VT_BSTR to octet string", kOctetString, Text(L"abc"), 0, E_WRONG_DATATYPE, {}},
        {"VT_BSTR of 256 characters",
         kVisibleString,
         Text(std::wstring(256, L'x')),
         0,
         OPC_E_RANGE,
         {}},
        {"VT_BOOL true", kBoolean, Bool(true), 0, S_OK, {0xFF, 0x00}},
        {"VT_BOOL false", kBoolean, Bool(false), 0, S_OK, {0x00, 0x00}},
        {"VT_BOOL to Unsigned8", kUnsigned8, Bool(true), 0, E_WRONG_DATATYPE, {}},
        {"array, whole, octet string", kOctetString, Bytes({1, 2, 3}), 0, S_OK, {1, 2, 3}},
        {"array, given length", kOctetString, Bytes({1, 2, 3}), 2, S_OK, {1, 2}},
        {"array shorter than the given length",
         kOctetString,
         Bytes({1, 2}),
         3,
         E_WRONG_DATATYPE,
         {}},
        {"array to Unsigned8 keeps the pad byte", kUnsigned8, Bytes({7, 9}), 0, S_OK, {7, 0}},
        {"array to Unsigned32", kUnsigned32, Bytes({1, 2, 3, 4, 5}), 0, S_OK, {1, 2, 3, 4}},
        {"array too short for Unsigned32", kUnsigned32, Bytes({1, 2}), 0, E_WRONG_DATATYPE, {}},
        {"array to time difference, 4 bytes",
         kTimeDifference,
         Bytes({1, 2, 3, 4}),
         0,
         S_OK,
         {1, 2, 3, 4}},
        {"array to time difference, 6 bytes",
         kTimeDifference,
         Bytes({1, 2, 3, 4, 5, 6}),
         0,
         S_OK,
         {1, 2, 3, 4, 5, 6}},
        {"VT_DATE", kUnsigned32, Date(1.0), 0, E_WRONG_DATATYPE, {}},
    };
    for (EncodeCase& c : cases) {
        std::vector<BYTE> bytes{0xEE};
        const HRESULT hr = VariantToBytes(c.dataType, c.value, &bytes, c.arrayLength);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "VariantToBytes, " << c.name;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(Hex(c.expected), Hex(bytes)) << "VariantToBytes, " << c.name;
        }
        if (!(V_VT(&c.value) & VT_BYREF)) VariantClear(&c.value);
    }
}

TEST(NumberToBytes, RangesOfTheIntegerTypes) {
    struct Case {
        BYTE dataType;
        LONG value;
        HRESULT hr;
        std::vector<BYTE> expected;
    };
    const Case cases[] = {
        {kInteger8, -128, S_OK, {0x80, 0x00}},
        {kInteger8, 127, S_OK, {0x7F, 0x00}},
        {kInteger8, 128, OPC_E_RANGE, {}},
        {kInteger8, -129, OPC_E_RANGE, {}},
        {kInteger16, -32768, S_OK, {0x80, 0x00}},
        {kInteger16, 32768, OPC_E_RANGE, {}},
        {kUnsigned8, 255, S_OK, {0xFF, 0x00}},
        {kUnsigned8, 256, OPC_E_RANGE, {}},
        {kUnsigned8, -1, OPC_E_RANGE, {}},
        {kFormatByte, 1, S_OK, {0x01, 0x00}},
        {kUnsigned16, 65535, S_OK, {0xFF, 0xFF}},
        {kUnsigned16, 65536, OPC_E_RANGE, {}},
        {33, 0x0102, S_OK, {0x01, 0x02}},
        {kFormatWord, -1, OPC_E_RANGE, {}},
        {kInteger32, LONG_MIN, S_OK, {0x80, 0x00, 0x00, 0x00}},
        {54, 0x01020304, S_OK, {0x01, 0x02, 0x03, 0x04}},
        {kFormatDoubleWord, -1, S_OK, {0xFF, 0xFF, 0xFF, 0xFF}},
        {kBoolean, 1, E_WRONG_DATATYPE, {}},
        {kFloatingPoint, 1, E_WRONG_DATATYPE, {}},
        {kVisibleString, 1, E_WRONG_DATATYPE, {}},
        {kFormatError, 1, E_WRONG_DATATYPE, {}},
        {0, 1, E_WRONG_DATATYPE, {}},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> bytes;
        const HRESULT hr = NumberToBytes(c.dataType, c.value, &bytes);
        EXPECT_EQ(Hr{c.hr}, Hr{hr})
            << "NumberToBytes(" << int(c.dataType) << ", " << c.value << ")";
        EXPECT_EQ(Hex(c.expected), Hex(bytes))
            << "NumberToBytes(" << int(c.dataType) << ", " << c.value << ")";
    }
}

struct DecodeValuesCase {
    const char* name;
    std::vector<VARTYPE> types;
    std::vector<BYTE> blocks;
    HRESULT hr;
    std::vector<std::string> expected;
};

TEST(DecodeValues, WalksTheValueBlocks) {
    const VARTYPE bytesType = VT_ARRAY | VT_UI1;
    const DecodeValuesCase cases[] = {
        {"word and float",
         {VT_UI2, VT_R4},
         {0x06, 1, 0x12, 0x34, 0x08, 1, 0x3F, 0xC0, 0, 0},
         S_OK,
         {"VT_UI2 4660", "VT_R4 1.5"}},
        {"byte value without pad",
         {VT_UI1, VT_UI2},
         {0x05, 1, 0x07, 0x06, 1, 0x00, 0x09},
         S_OK,
         {"VT_UI1 7", "VT_UI2 9"}},
        {"byte value with pad",
         {VT_UI1, VT_UI2},
         {0x05, 1, 0x07, 0x00, 0x06, 1, 0x00, 0x09},
         S_OK,
         {"VT_UI1 7", "VT_UI2 9"}},
        {"pad after the last block", {VT_BOOL}, {0x01, 1, 0xFF, 0x00}, S_OK, {"VT_BOOL -1"}},
        {"generic word as signed", {VT_I2}, {0x42, 1, 0xFF, 0xFF}, S_OK, {"VT_I2 -1"}},
        {"generic word as unsigned", {VT_UI2}, {0x42, 1, 0xFF, 0xFF}, S_OK, {"VT_UI2 65535"}},
        {"string then word",
         {VT_BSTR, VT_UI2},
         {0x09, 3, 'a', 'b', 'c', 0x06, 1, 0x00, 0x02},
         S_OK,
         {"VT_BSTR 'abc'", "VT_UI2 2"}},
        {"block of three words",
         {bytesType, VT_UI2},
         {0x06, 3, 0, 1, 0, 2, 0, 3, 0x06, 1, 0, 4},
         S_OK,
         {"VT_ARRAY|VT_UI1 00 01 00 02 00 03", "VT_UI2 4"}},
        {"empty", {}, {}, S_OK, {}},
        {"error block",
         {VT_UI2, VT_UI2},
         {0x06, 1, 0, 1, 0x44, 1, 0x00, 0x14},
         DriveError(0x14),
         {}},
        {"format 0", {VT_UI2}, {0x00, 1, 0, 1}, E_INVALIDARG, {}},
        {"format above 0x44", {VT_UI2}, {0x45, 1, 0, 1}, E_INVALIDARG, {}},
        {"format without a size", {VT_UI2}, {0x40, 1, 0, 1}, E_INVALIDARG, {}},
        {"block beyond the end", {VT_UI4}, {0x07, 1, 0, 1}, E_INVALIDARG, {}},
        {"lone format byte", {VT_UI2}, {0x06}, E_INVALIDARG, {}},
        {"more blocks than items", {VT_UI2}, {0x06, 1, 0, 1, 0x06, 1, 0, 2}, E_UNEXPECTED, {}},
        {"conversion error", {VT_BOOL}, {0x01, 1, 0x01}, E_WRONG_DATATYPE, {}},
    };
    for (const DecodeValuesCase& c : cases) {
        std::vector<com::UniqueVariant> values(1);  // must stay untouched on failure
        const std::vector<BYTE> fixedLengths(c.types.size(), 0);
        const HRESULT hr = DecodeValues(c.types, c.blocks, fixedLengths, &values);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "DecodeValues, " << c.name;
        if (FAILED(c.hr)) {
            EXPECT_EQ(1u, values.size())
                << "DecodeValues, " << c.name << ": output changed on failure";
            continue;
        }
        std::vector<std::string> got;
        for (const com::UniqueVariant& v : values) got.push_back(Describe(*v));
        EXPECT_EQ(c.expected, got) << "DecodeValues, " << c.name;
    }
}

TEST(DecodeValues, UsesTheFixedLengths) {
    std::vector<com::UniqueVariant> values;
    const HRESULT hr = DecodeValues({VT_ARRAY | VT_UI1}, {0x0A, 2, 0xAA, 0xBB}, {4}, &values);
    ASSERT_EQ(Hr{S_OK}, Hr{hr}) << "DecodeValues with fixed length 4";
    ASSERT_EQ(1u, values.size()) << "DecodeValues with fixed length 4";
    EXPECT_EQ("VT_ARRAY|VT_UI1 aa bb 00 00", Describe(*values[0]))
        << "DecodeValues with fixed length 4";

    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{DecodeValues({VT_UI2, VT_UI2}, {}, {0}, &values)})
        << "DecodeValues with lists of different lengths";
}

struct ItemValuesCase {
    const char* name;
    std::vector<VARTYPE> types;
    std::vector<BYTE> blocks;
    HRESULT hr;
    std::vector<std::string> expected;  // per item its value, or its error in hex
};

TEST(DecodeItemValues, GivesEachItemItsValueOrError) {
    const ItemValuesCase cases[] = {
        {"error block between values",
         {VT_UI2, VT_UI2, VT_UI1},
         {0x06, 1, 0, 1, 0x44, 1, 0x00, 0x14, 0x05, 1, 0x07},
         S_OK,
         {"VT_UI2 1", "0xe0000014", "VT_UI1 7"}},
        {"value that does not convert",
         {VT_BOOL, VT_UI2},
         {0x01, 1, 0x01, 0x00, 0x06, 1, 0, 2},
         S_OK,
         {"0xe0000005", "VT_UI2 2"}},
        {"error block without its number", {VT_UI2}, {0x44, 0}, S_OK, {"0x80070057"}},
        {"fewer blocks than items", {VT_UI2, VT_UI2}, {0x06, 1, 0, 1}, E_FAIL, {}},
        {"more blocks than items", {VT_UI2}, {0x06, 1, 0, 1, 0x06, 1, 0, 2}, E_UNEXPECTED, {}},
        {"block beyond the end", {VT_UI2, VT_UI4}, {0x06, 1, 0, 1, 0x07, 1, 0}, E_INVALIDARG, {}},
    };
    for (const ItemValuesCase& c : cases) {
        std::vector<com::UniqueVariant> values(1);  // both must stay untouched on failure
        std::vector<HRESULT> errors(1);
        const std::vector<BYTE> fixedLengths(c.types.size(), 0);
        const HRESULT hr = DecodeItemValues(c.types, c.blocks, fixedLengths, &values, &errors);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "DecodeItemValues, " << c.name;
        if (FAILED(c.hr)) {
            EXPECT_TRUE(values.size() == 1 && errors.size() == 1)
                << "DecodeItemValues, " << c.name << ": output changed on failure";
            continue;
        }
        std::vector<std::string> got;
        for (size_t i = 0; i < values.size() && i < errors.size(); ++i) {
            char error[16];
            snprintf(error, sizeof error, "0x%08lx", static_cast<unsigned long>(errors[i]));
            got.push_back(SUCCEEDED(errors[i]) ? Describe(*values[i]) : error);
        }
        EXPECT_EQ(c.expected, got) << "DecodeItemValues, " << c.name;
    }
}

}  // namespace
}  // namespace orvane::interaction::test
