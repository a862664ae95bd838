// The conversion every value passes on its way to a script.
#include <windows.h>

#include <gtest/gtest.h>

#include "HrCheck.h"
#include "ValueConversion.h"
#include "com/SafeArray.h"
#include "com/Variant.h"

namespace {

TEST(ValueConversionTest, ScalarsBecomeTypesScriptsHold) {
    struct Case {
        VARTYPE vt;
        LONGLONG raw;
        bool convert;
        VARTYPE expectedVt;
        double expected;
    };
    static const Case kCases[] = {
        {VT_I1, -5, true, VT_I2, -5},
        {VT_UI2, 65535, true, VT_I4, 65535},
        {VT_UI4, 4000000000LL, true, VT_R8, 4000000000.0},
        {VT_UI1, 200, true, VT_UI1, 200},
        {VT_I4, -7, true, VT_I4, -7},
        {VT_UI2, 1500, false, VT_UI2, 1500},
        {VT_UI4, 7, false, VT_UI4, 7},
    };
    for (const Case& c : kCases) {
        VARIANT value;
        ::VariantInit(&value);
        V_VT(&value) = c.vt;
        V_I8(&value) = c.raw;  // the low bytes hold the narrower types (little-endian)
        com::UniqueVariant out;
        ASSERT_HR(S_OK, vkauto::ConvertForAutomation(value, c.convert, out.put()));
        EXPECT_EQ(c.expectedVt, out.vt()) << "from " << c.vt << " convert " << c.convert;
        com::UniqueVariant asDouble;
        ASSERT_HR(S_OK, ::VariantChangeType(asDouble.put(), out.get(), 0, VT_R8));
        EXPECT_EQ(c.expected, V_R8(asDouble.get())) << "from " << c.vt;
    }
}

TEST(ValueConversionTest, ArraysAreWidenedElementByElementFromZero) {
    SAFEARRAYBOUND bound = {3, 1};
    com::UniqueSafeArray source(::SafeArrayCreate(VT_UI2, 1, &bound));
    ASSERT_NE(nullptr, source.get());
    USHORT values[] = {0, 1500, 65535};
    for (LONG i = 0; i < 3; ++i) {
        LONG index = i + 1;
        ASSERT_HR(S_OK, ::SafeArrayPutElement(source.get(), &index, &values[i]));
    }
    VARIANT value;
    V_VT(&value) = VT_ARRAY | VT_UI2;
    V_ARRAY(&value) = source.get();
    com::UniqueVariant out;
    ASSERT_HR(S_OK, vkauto::ConvertForAutomation(value, true, out.put()));
    ASSERT_EQ(VT_ARRAY | VT_I4, out.vt());
    LONG lower = -1, upper = -1;
    ::SafeArrayGetLBound(V_ARRAY(out.get()), 1, &lower);
    ::SafeArrayGetUBound(V_ARRAY(out.get()), 1, &upper);
    EXPECT_EQ(0, lower);
    EXPECT_EQ(2, upper);
    for (LONG i = 0; i < 3; ++i) {
        LONG element = -1;
        ASSERT_HR(S_OK, ::SafeArrayGetElement(V_ARRAY(out.get()), &i, &element));
        EXPECT_EQ(values[i], element) << "element " << i;
    }
}

TEST(ValueConversionTest, ByteArraysAndTextStayAsTheyAre) {
    com::UniqueVariant bytes;
    const BYTE data[] = {1, 2, 0xFF};
    ASSERT_HR(S_OK, com::BytesToVariant(data, sizeof data, bytes.put()));
    com::UniqueVariant out;
    ASSERT_HR(S_OK, vkauto::ConvertForAutomation(*bytes, true, out.put()));
    EXPECT_EQ(VT_ARRAY | VT_UI1, out.vt());
    com::UniqueVariant text(std::wstring_view(L"Axolent"));
    ASSERT_HR(S_OK, vkauto::ConvertForAutomation(*text, true, out.put()));
    ASSERT_EQ(VT_BSTR, out.vt());
    EXPECT_STREQ(L"Axolent", V_BSTR(out.get()));
}

}  // namespace
