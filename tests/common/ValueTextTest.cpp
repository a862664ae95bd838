#include <gtest/gtest.h>

#include "com/ValueText.h"
#include "com/Variant.h"

namespace {

std::string Show(const std::wstring& text) { return testing::PrintToString(text); }

TEST(ValueTextTest, TypeNames) {
    const struct {
        const wchar_t* name;
        bool known;
        VARTYPE type;
    } cases[] = {
        {L"ui1", true, VT_UI1},
        {L"UI1", true, VT_UI1},
        {L"VT_UI2", true, VT_UI2},
        {L"string", true, VT_BSTR},
        {L" r8 ", true, VT_R8},
        {L"ui1[]", true, VT_ARRAY | VT_UI1},
        {L"bstr[]", true, VT_ARRAY | VT_BSTR},
        {L"empty", true, VT_EMPTY},
        {L"empty[]", false, 0},
        {L"ui1[][]", false, 0},
        {L"[]", false, 0},
        {L"", false, 0},
        {L"u1", false, 0},
        {L"ui1 []", false, 0},
    };
    for (const auto& c : cases) {
        VARTYPE type = 0xFFFF;
        EXPECT_EQ(c.known, ParseTypeName(c.name, &type)) << "ParseTypeName(" << Show(c.name) << ")";
        if (c.known) {
            EXPECT_EQ(c.type, type) << "ParseTypeName(" << Show(c.name) << ") type";
        }
    }
    EXPECT_EQ(L"VT_ARRAY|VT_UI1", VarTypeName(VT_ARRAY | VT_UI1)) << "VarTypeName(VT_ARRAY|VT_UI1)";
    EXPECT_EQ(L"VT_BSTR", VarTypeName(VT_BSTR)) << "VarTypeName(VT_BSTR)";
    EXPECT_EQ(L"VT_13", VarTypeName(VT_UNKNOWN)) << "VarTypeName of a type without a name";
}

// Text that fits the type: parsed with that type and printed back as shown.
TEST(ValueTextTest, ParsesValuesThatFit) {
    const struct {
        const wchar_t* text;
        VARTYPE type;
        const wchar_t* printed;
    } cases[] = {
        {L"255", VT_UI1, L"255"},
        {L"0xFF", VT_UI1, L"255"},
        {L"0X3a00", VT_UI2, L"14848"},
        {L"-128", VT_I1, L"-128"},
        {L"127", VT_I1, L"127"},
        {L"-32768", VT_I2, L"-32768"},
        {L"+5", VT_I2, L"5"},
        {L" 7 ", VT_I4, L"7"},
        {L"010", VT_I4, L"10"},  // decimal, not octal
        {L"08", VT_UI2, L"8"},
        {L"-0x10", VT_I4, L"-16"},
        {L"-2147483648", VT_I4, L"-2147483648"},
        {L"4294967295", VT_UI4, L"4294967295"},
        {L"-9223372036854775808", VT_I8, L"-9223372036854775808"},
        {L"9223372036854775807", VT_I8, L"9223372036854775807"},
        {L"18446744073709551615", VT_UI8, L"18446744073709551615"},
        {L"true", VT_BOOL, L"true"},
        {L"FALSE", VT_BOOL, L"false"},
        {L"1", VT_BOOL, L"true"},
        {L"0", VT_BOOL, L"false"},
        {L"1.5", VT_R4, L"1.5"},
        {L"-3.4e38", VT_R4, L"-3.4e+38"},
        {L"0.1", VT_R8, L"0.1"},
        {L"1e308", VT_R8, L"1e+308"},
        {L" Pump 1 ", VT_BSTR, L"\" Pump 1 \""},  // strings are taken as they are
        {L"", VT_BSTR, L"\"\""},
        {L"[7, 1, 1, 1]", VT_ARRAY | VT_UI1, L"[7, 1, 1, 1]"},
        {L"7,1,1,1", VT_ARRAY | VT_UI1, L"[7, 1, 1, 1]"},
        {L"7 1\t1  1", VT_ARRAY | VT_UI1, L"[7, 1, 1, 1]"},
        {L"[-1, 0x7FFF]", VT_ARRAY | VT_I2, L"[-1, 32767]"},
        {L"[]", VT_ARRAY | VT_UI1, L"[]"},
        {L"[a, b]", VT_ARRAY | VT_BSTR, L"[\"a\", \"b\"]"},
        {L"[true, 0]", VT_ARRAY | VT_BOOL, L"[true, false]"},
        {L"[1.25, -2]", VT_ARRAY | VT_R8, L"[1.25, -2]"},
    };
    for (const auto& c : cases) {
        com::UniqueVariant value;
        std::wstring message;
        const HRESULT hr = ParseValue(c.text, c.type, value.get(), &message);
        if (hr != S_OK) {
            ADD_FAILURE() << "ParseValue(" << Show(c.text) << ", " << Show(VarTypeName(c.type))
                          << ") returned " << std::hex << hr << ": " << Show(message);
            continue;
        }
        EXPECT_EQ(c.type, V_VT(value.get())) << "ParseValue(" << Show(c.text) << ") type";
        EXPECT_EQ(std::wstring(c.printed), FormatValue(*value.get()))
            << "FormatValue of ParseValue(" << Show(c.text) << ", " << Show(VarTypeName(c.type))
            << ")";
    }
}

// Text that does not fit: E_INVALIDARG, a message naming the text and the type, no value.
TEST(ValueTextTest, RefusesValuesThatDoNotFit) {
    const struct {
        const wchar_t* text;
        VARTYPE type;
        const wchar_t* message;
    } cases[] = {
        {L"256", VT_UI1, L"\"256\" is not a value of type VT_UI1"},
        {L"-1", VT_UI1, L"\"-1\" is not a value of type VT_UI1"},
        {L"0x100", VT_UI1, nullptr},
        {L"128", VT_I1, nullptr},
        {L"-129", VT_I1, nullptr},
        {L"32768", VT_I2, nullptr},
        {L"65536", VT_UI2, nullptr},
        {L"-2147483649", VT_I4, nullptr},
        {L"4294967296", VT_UI4, nullptr},
        {L"9223372036854775808", VT_I8, nullptr},
        {L"-1", VT_UI8, nullptr},
        {L"18446744073709551616", VT_UI8, nullptr},
        {L"", VT_I4, L"\"\" is not a value of type VT_I4"},
        {L"1.5", VT_I4, nullptr},
        {L"12abc", VT_I4, nullptr},
        {L"1 2", VT_I4, nullptr},
        {L"0x", VT_I4, nullptr},
        {L"--1", VT_I4, nullptr},
        {L"+-1", VT_I4, nullptr},
        {L"0xG", VT_UI2, nullptr},
        {L"yes", VT_BOOL, nullptr},
        {L"2", VT_BOOL, nullptr},
        {L"", VT_BOOL, nullptr},
        {L"1e39", VT_R4, L"\"1e39\" is not a value of type VT_R4"},  // beyond float
        {L"1e400", VT_R8, nullptr},
        {L"1.5x", VT_R8, nullptr},
        {L"", VT_R8, nullptr},
        {L"[1, 256]", VT_ARRAY | VT_UI1, L"element 1 \"256\" is not a value of type VT_UI1"},
        {L"[x]", VT_ARRAY | VT_I4, L"element 0 \"x\" is not a value of type VT_I4"},
    };
    for (const auto& c : cases) {
        com::UniqueVariant value;
        std::wstring message;
        const HRESULT hr = ParseValue(c.text, c.type, value.get(), &message);
        EXPECT_EQ(E_INVALIDARG, hr)
            << "ParseValue(" << Show(c.text) << ", " << Show(VarTypeName(c.type)) << ") returned "
            << std::hex << hr << "; printed " << Show(FormatValue(*value.get()));
        EXPECT_EQ(VT_EMPTY, V_VT(value.get())) << "ParseValue(" << Show(c.text) << ") left a value";
        if (c.message)
            EXPECT_EQ(std::wstring(c.message), message)
                << "ParseValue(" << Show(c.text) << ") message";
        else
            EXPECT_FALSE(message.empty()) << "ParseValue(" << Show(c.text) << ") gave no message";
    }
}

TEST(ValueTextTest, FormatsScalars) {
    com::UniqueVariant value;
    EXPECT_EQ(L"(empty)", FormatValue(*value.get())) << "FormatValue(VT_EMPTY)";
    V_VT(value.get()) = VT_NULL;
    EXPECT_EQ(L"(null)", FormatValue(*value.get())) << "FormatValue(VT_NULL)";
    V_VT(value.get()) = VT_I1;
    V_I1(value.get()) = -5;
    EXPECT_EQ(L"-5", FormatValue(*value.get())) << "FormatValue(VT_I1 -5)";
    V_VT(value.get()) = VT_UI1;
    V_UI1(value.get()) = 200;
    EXPECT_EQ(L"200", FormatValue(*value.get())) << "FormatValue(VT_UI1 200)";

    com::UniqueVariant text{std::wstring_view(L"Pump \"1\"")};
    EXPECT_EQ(L"\"Pump \"1\"\"", FormatValue(*text.get())) << "FormatValue(VT_BSTR)";
    VARIANT nullString;
    V_VT(&nullString) = VT_BSTR;
    V_BSTR(&nullString) = nullptr;  // a null BSTR is the empty string
    EXPECT_EQ(L"\"\"", FormatValue(nullString)) << "FormatValue(VT_BSTR null)";

    SYSTEMTIME st = {2026, 12, 1, 7, 11, 40, 0, 0};
    DOUBLE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &date)) << "SystemTimeToVariantTime";
    VARIANT dateValue;
    V_VT(&dateValue) = VT_DATE;
    V_DATE(&dateValue) = date;
    EXPECT_EQ(L"2026-12-07 11:40:00.000", FormatValue(dateValue)) << "FormatValue(VT_DATE)";
}

TEST(ValueTextTest, QualitiesAndTimes) {
    const struct {
        WORD quality;
        const wchar_t* text;
    } qualities[] = {
        {0x00C0, L"0x00C0 good"},      {0x00D8, L"0x00D8 good"}, {0x0040, L"0x0040 uncertain"},
        {0x0054, L"0x0054 uncertain"}, {0x0000, L"0x0000 bad"},  {0x001C, L"0x001C bad"},
        {0x0080, L"0x0080 bad"},
    };
    for (const auto& q : qualities)
        EXPECT_EQ(std::wstring(q.text), FormatQuality(q.quality))
            << "FormatQuality(" << q.quality << ")";

    SYSTEMTIME st = {2026, 12, 1, 7, 11, 40, 0, 123};
    FILETIME time;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &time)) << "SystemTimeToFileTime";
    EXPECT_EQ(L"2026-12-07 11:40:00.123 UTC", FormatFileTime(time)) << "FormatFileTime";
    const FILETIME invalid = {0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(L"(invalid time)", FormatFileTime(invalid))
        << "FormatFileTime of a time beyond SYSTEMTIME";
}

}  // namespace
