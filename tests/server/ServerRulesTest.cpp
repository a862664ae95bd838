// The server's pure rules: command line, update-rate revision, deadband,
// generated group names, container keys, version text, error texts.
#include "HrCheck.h"
#include "CommandLine.h"
#include "ErrorText.h"
#include "GroupNames.h"
#include "ItemId.h"
#include "NamePattern.h"
#include "UpdateRate.h"
#include "ValueRules.h"
#include "opc.h"
#include "com/Variant.h"
#include "com/Version.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

const char* ActionName(RegistrationAction action) {
    switch (action) {
        case RegistrationAction::Register: return "Register";
        case RegistrationAction::Unregister: return "Unregister";
        default: return "None";
    }
}

TEST(CommandLine, RegistrationSwitches) {
    struct Case {
        const wchar_t* line;
        RegistrationAction expected;
    } cases[] = {
        {L"/RegServer", RegistrationAction::Register},
        {L"-RegServer", RegistrationAction::Register},
        {L"-regserver", RegistrationAction::Register},
        {L"/REGSERVER", RegistrationAction::Register},
        {L"\"C:\\Program Files\\Orvane.exe\" /RegServer", RegistrationAction::Register},
        {L"/UnregServer", RegistrationAction::Unregister},
        {L"-unregSERVER", RegistrationAction::Unregister},
        {L"/RegServer /x", RegistrationAction::None},  // the rest is compared as a whole
        {L"/RegServer ", RegistrationAction::None},
        {L"RegServer", RegistrationAction::None},
        {L"-Embedding", RegistrationAction::None},
        {L"/Reg", RegistrationAction::None},
        {L"", RegistrationAction::None},
        {nullptr, RegistrationAction::None},
    };
    for (const auto& c : cases) {
        const RegistrationAction got = ParseRegistrationSwitch(c.line);
        EXPECT_EQ(c.expected, got)
            << "ParseRegistrationSwitch(\"" << (c.line ? std::wstring(c.line) : L"<null>").c_str()
            << "\") expected " << ActionName(c.expected) << ", got " << ActionName(got);
    }
}

TEST(CommandLine, UnregServerWinsOverRegServerInTheSameSwitch) {
    // "-UnregServer" also contains "RegServer" after no switch character; it must unregister.
    EXPECT_EQ(RegistrationAction::Unregister, ParseRegistrationSwitch(L"-UnregServer"));
}

TEST(UpdateRate, RevisionWithFiftyMillisecondTick) {
    struct Case {
        DWORD requested, revised;
        bool changed;
    } cases[] = {
        {0, 50, true},
        {49, 50, true},
        {50, 50, false},
        {51, 100, true},
        {1000, 1000, false},
        {1010, 1050, true},
        {0xFFFFFFFF, 4294967250u, true},
    };
    for (const auto& c : cases) {
        const RevisedRate got = ReviseUpdateRate(c.requested, 50);
        EXPECT_EQ(c.revised, got.revised) << "ReviseUpdateRate(" << c.requested << ", 50)";
        EXPECT_EQ(c.changed, got.changed)
            << "ReviseUpdateRate(" << c.requested << ", 50) changed flag";
    }
}

TEST(UpdateRate, DeadbandRange) {
    struct Case {
        float value;
        bool valid;
    } cases[] = {
        {0.0f, true},
        {100.0f, true},
        {42.5f, true},
        {100.5f, false},
        {-0.1f, false},
        {std::numeric_limits<float>::quiet_NaN(), false},
        {std::numeric_limits<float>::infinity(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.valid, IsValidPercentDeadband(c.value))
            << "IsValidPercentDeadband(" << c.value << ")";
}

TEST(GroupNames, GeneratedNamesHaveAtLeastThreeDigits) {
    EXPECT_EQ(L"SvrProvName000", GeneratedGroupName(0));
    EXPECT_EQ(L"SvrProvName042", GeneratedGroupName(42));
    EXPECT_EQ(L"SvrProvName1234", GeneratedGroupName(1234));
}

TEST(GroupNames, ContainerKeysMergeUnmappableCharacters) {
    EXPECT_EQ(ContainerKey(L"Gruppe \u4E00"), ContainerKey(L"Gruppe \u4E01"))
        << "two CJK characters should both become '?' in code page 1252";
    EXPECT_EQ(std::string("Gr\xFC\xDF"
                          "e"),
              ContainerKey(L"Gr\u00FC\u00DFe"))
        << "German letters keep their 1252 bytes";
    EXPECT_EQ(std::string(), ContainerKey(L""));
    EXPECT_EQ(std::string(), ContainerKey(nullptr));
}

TEST(Version, ServerReportsMajorMinorAndFourthNumber) {
    com::FileVersion v;
    ASSERT_TRUE(com::ParseFileVersion(L"1, 5, 0, 27", &v));
    EXPECT_EQ(1, v.major);
    EXPECT_EQ(5, v.minor);
    EXPECT_EQ(27, v.build) << "the build is the fourth number, the third is dropped";
}

class ErrorTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        ASSERT_GT(length, 0u);
        std::wstring dir(path, length);
        dir.resize(dir.find_last_of(L'\\') + 1);
        server_ = LoadLibraryExW((dir + L"Orvane.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, server_) << "LoadLibraryEx(Orvane.exe) failed with " << GetLastError();
    }
    void TearDown() override {
        if (server_) FreeLibrary(server_);
    }
    HMODULE server_ = nullptr;
};

TEST_F(ErrorTextTest, OwnTableAnswersInEnglishAndGerman) {
    std::wstring text;
    HRESULT hr = LookUpErrorText(server_, nullptr, static_cast<HRESULT>(0xC0040007), 0x0409, &text);
    ASSERT_HR(S_OK, hr) << "LookUpErrorText(OPC_E_UNKNOWNITEMID, 0x409) returned " << std::hex
                        << hr;
    EXPECT_EQ(L"The item is no longer available in the server address space.", text);
    hr = LookUpErrorText(server_, nullptr, static_cast<HRESULT>(0xC0040007), 0x0407, &text);
    ASSERT_HR(S_OK, hr) << "LookUpErrorText(OPC_E_UNKNOWNITEMID, 0x407) returned " << std::hex
                        << hr;
    EXPECT_EQ(L"Das Item ist im Adressraum des Servers nicht mehr vorhanden.", text);
    hr = LookUpErrorText(server_, nullptr, static_cast<HRESULT>(0x0004000F), 0x0407, &text);
    ASSERT_HR(S_OK, hr);
    EXPECT_EQ(
        L"Die Operation kann nicht abgeschlossen werden, weil noch Referenzen auf das Objekt "
        L"bestehen.",
        text);
}

TEST_F(ErrorTextTest, EveryOpcCodeHasBothLanguages) {
    const DWORD codes[] = {0xC0040001, 0xC0040004, 0xC0040005, 0xC0040006, 0xC0040007, 0xC0040008,
                           0xC0040009, 0xC004000A, 0xC004000B, 0xC004000C, 0x0004000D, 0x0004000E,
                           0x0004000F, 0xC0040010, 0xC0040011, 0xC0040203, 0x80040200, 0x80040201};
    for (DWORD code : codes) {
        for (LANGID language : {LANGID(0x0409), LANGID(0x0407)}) {
            std::wstring text;
            // No fallback sources: only the own table in this exact language.
            wchar_t* buffer = nullptr;
            DWORD length = FormatMessageW(
                FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                    FORMAT_MESSAGE_IGNORE_INSERTS,
                server_, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
            EXPECT_GT(length, 3u) << "FormatMessage(0x" << std::hex << code << ", language 0x"
                                  << language << ") found no text in Orvane.exe";
            if (buffer) LocalFree(buffer);
        }
    }
}

TEST_F(ErrorTextTest, UnknownLanguageFallsBackAndSystemCodesResolve) {
    std::wstring text;
    // Swiss German is not in the table: the default-language entry answers.
    EXPECT_HR(S_OK,
              LookUpErrorText(server_, nullptr, static_cast<HRESULT>(0xC004000C), 0x0807, &text));
    EXPECT_FALSE(text.empty());
    EXPECT_HR(S_OK, LookUpErrorText(server_, nullptr, E_OUTOFMEMORY, 0x0409, &text))
        << "system codes come from the system table";
    EXPECT_NE(L'\n', text.back());
    EXPECT_HR(E_INVALIDARG,
              LookUpErrorText(server_, nullptr, static_cast<HRESULT>(0xC004FFFF), 0x0409, &text));
}

TEST_F(ErrorTextTest, StringForCallerIsTaskMemory) {
    EXPECT_HR(E_POINTER, GetErrorStringFor(server_, nullptr, E_FAIL, 0x0409, nullptr));
    LPWSTR text = reinterpret_cast<LPWSTR>(1);
    EXPECT_HR(E_INVALIDARG,
              GetErrorStringFor(server_, nullptr, static_cast<HRESULT>(0xC004FFFF), 0x0409, &text));
    EXPECT_EQ(nullptr, text) << "a failed lookup must return a null string";
    ASSERT_HR(S_OK,
              GetErrorStringFor(server_, nullptr, static_cast<HRESULT>(0xC0040001), 0x0409, &text));
    EXPECT_STREQ(L"The value of the handle is invalid.", text);
    CoTaskMemFree(text);
}

TEST(ItemIds, PlainAndPropertyForms) {
    struct Case {
        const wchar_t* id;
        const wchar_t* path;
        const wchar_t* property;
        bool isProperty;
    } cases[] = {
        {L"Drive1/P964[Description]", L"Drive1/P964", L"Description", true},
        {L"A[B][C]", L"A[B]", L"C", true},
        {L"A]", L"A]", L"", false},
        {L"A[B", L"A[B", L"", false},
        {L"[x]", L"", L"x", true},
        {L"A[]", L"A", L"", true},
        {L"A[B]C]", L"A", L"B", true},  // the name runs to the next "]"
        {L"", L"", L"", false},
        {L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18[Axolent name]",
         L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18", L"Axolent name", true},
    };
    for (const Case& c : cases) {
        const ItemIdParts parts = SplitItemId(c.id);
        EXPECT_EQ(std::wstring(c.path), std::wstring(parts.path)) << "path of " << c.id;
        EXPECT_EQ(std::wstring(c.property), std::wstring(parts.property)) << "name of " << c.id;
        EXPECT_EQ(c.isProperty, parts.isProperty) << "form of " << c.id;
    }
}

TEST(NamePattern, Table) {
    struct Case {
        const wchar_t* text;
        const wchar_t* pattern;
        bool matches;
    } cases[] = {
        {L"Drive1/P964", L"P9*", false},  // the whole path is matched
        {L"Drive1/P964", L"*P9*", true},
        {L"Drive1/P964", L"", true},
        {L"", L"", true},
        {L"", L"*", true},
        {L"", L"?", false},
        {L"abc", L"ABC", true},  // case-insensitive
        {L"abc", L"a?c", true},
        {L"abc", L"a?", false},
        {L"a1c", L"a#c", true},
        {L"abc", L"a#c", false},
        {L"abc", L"a[a-c]c", true},
        {L"adc", L"a[a-c]c", false},
        {L"adc", L"a[!a-c]c", true},
        {L"abc", L"a[!a-c]c", false},
        {L"aBc", L"a[xb]c", true},
        {L"a-c", L"a[x-]c", true},  // a "-" at the end is a character
        {L"abc", L"a[bc", false},   // unterminated list: nothing
        {L"a[bc", L"a[bc", false},
        {L"abc", L"*[", false},
        {L"abc", L"*[!", false},
        {L"xxabcab", L"*ab", true},
        {L"xxabcab", L"*ab*ab", true},
        {L"ab", L"*ab*ab", false},
        {L"pari1000d18", L"pari###d##", false},
        {L"pari1000d18", L"pari####d##", true},
        {L"pari1000d18", L"**1000*", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.matches, MatchNamePattern(c.text, c.pattern))
            << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"";
}

TEST(ValueRules, ConversionForTheDevice) {
    struct Case {
        VARIANT in;
        VARTYPE vt;
        HRESULT expected;
        const char* what;
    };
    auto i4 = [](LONG v) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = VT_I4;
        V_I4(&x) = v;
        return x;
    };
    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"abc");
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_BSTR;
    V_BSTR(&number) = SysAllocString(L"1234");
    const Case cases[] = {
        {i4(1234), VT_UI2, S_OK, "1234 to VT_UI2"},
        {i4(70000), VT_UI2, OPC_E_RANGE, "70000 to VT_UI2"},
        {i4(-1), VT_UI2, OPC_E_RANGE, "-1 to VT_UI2"},
        {i4(-1), VT_UI4, OPC_E_RANGE, "-1 to VT_UI4"},
        {i4(70000), VT_I2, OPC_E_RANGE, "70000 to VT_I2"},
        {i4(-1), VT_I2, S_OK, "-1 to VT_I2"},
        {text, VT_UI2, DISP_E_TYPEMISMATCH, "abc to VT_UI2"},
        {number, VT_UI2, S_OK, "\"1234\" to VT_UI2"},
    };
    for (const Case& c : cases) {
        VARIANT out;
        EXPECT_HR(c.expected, ConvertValue(c.in, c.vt, &out)) << c.what;
        if (SUCCEEDED(c.expected)) {
            EXPECT_EQ(c.vt, V_VT(&out)) << c.what;
        }
        VariantClear(&out);
    }
    VariantClear(&text);
    VariantClear(&number);
}

TEST(ValueRules, ChangesByTypeAndDeadband) {
    auto r8 = [](double v) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = VT_R8;
        V_R8(&x) = v;
        return x;
    };
    // Limits 0 and 200 with a deadband of 10 %: a band of 20.
    EXPECT_TRUE(ValuesDiffer(r8(50), r8(71), 20.0));
    EXPECT_FALSE(ValuesDiffer(r8(50), r8(70), 20.0));
    EXPECT_TRUE(ValuesDiffer(r8(50), r8(50.5), -1.0)) << "not analog: any difference";
    EXPECT_FALSE(ValuesDiffer(r8(50), r8(50), -1.0));
    VARIANT empty;
    VariantInit(&empty);
    EXPECT_FALSE(ValuesDiffer(empty, empty, -1.0));
    EXPECT_TRUE(ValuesDiffer(empty, r8(0), -1.0)) << "another type is a change";
}

TEST(ValueRules, ChangeRulesOfEveryType) {
    auto make = [](VARTYPE vt, LONGLONG bits) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = vt;
        V_CY(&x).int64 = bits;  // the widest member: fills every smaller one
        return x;
    };
    struct Case {
        VARTYPE vt;
        LONGLONG a, b;
        bool differ;
    };
    const Case cases[] = {
        {VT_I1, 1, 1, false},
        {VT_I1, 1, 2, true},
        {VT_UI1, 5, 5, false},
        {VT_UI1, 5, 6, true},
        {VT_I2, 7, 8, true},
        {VT_UI2, 9, 9, false},
        {VT_I4, -1, -1, false},
        {VT_UI4, 1, 2, true},
        {VT_BOOL, 0, -1, true},
        {VT_BOOL, -1, -1, false},
        {VT_ERROR, 4, 4, false},
        {VT_ERROR, 4, 5, true},
        {VT_CY, 1LL << 40, (1LL << 40) + 1, true},
        {VT_CY, 3, 3, false},
        {VT_NULL, 0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.differ, ValuesDiffer(make(c.vt, c.a), make(c.vt, c.b), -1.0))
            << "vt " << c.vt << ": " << c.a << " / " << c.b;
    }
    VARIANT d1 = make(VT_EMPTY, 0), d2 = make(VT_EMPTY, 0);
    V_VT(&d1) = V_VT(&d2) = VT_DATE;
    V_DATE(&d1) = 46000.5;
    V_DATE(&d2) = 46000.5;
    EXPECT_FALSE(ValuesDiffer(d1, d2, -1.0));
    V_DATE(&d2) = 46000.75;
    EXPECT_TRUE(ValuesDiffer(d1, d2, -1.0));

    // Strings by their bytes; byte arrays by length and bytes.
    com::UniqueVariant abc(std::wstring_view(L"abc")), abc2(std::wstring_view(L"abc")),
        abd(std::wstring_view(L"abd")), ab(std::wstring_view(L"ab"));
    EXPECT_FALSE(ValuesDiffer(*abc.get(), *abc2.get(), -1.0));
    EXPECT_TRUE(ValuesDiffer(*abc.get(), *abd.get(), -1.0));
    EXPECT_TRUE(ValuesDiffer(*abc.get(), *ab.get(), -1.0));
    auto bytes = [](std::vector<BYTE> data) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = VT_ARRAY | VT_UI1;
        V_ARRAY(&x) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
        if (!data.empty()) memcpy(V_ARRAY(&x)->pvData, data.data(), data.size());
        com::UniqueVariant owned;
        *owned.put() = x;  // adopted
        return owned;
    };
    EXPECT_FALSE(ValuesDiffer(*bytes({1, 2}).get(), *bytes({1, 2}).get(), -1.0));
    EXPECT_TRUE(ValuesDiffer(*bytes({1, 2}).get(), *bytes({1, 3}).get(), -1.0));
    EXPECT_TRUE(ValuesDiffer(*bytes({1, 2}).get(), *bytes({1, 2, 0}).get(), -1.0));
    VARIANT noArray = make(VT_EMPTY, 0);
    V_VT(&noArray) = VT_ARRAY | VT_UI1;
    EXPECT_TRUE(ValuesDiffer(noArray, noArray, -1.0)) << "a missing array is never equal";
}

}  // namespace
