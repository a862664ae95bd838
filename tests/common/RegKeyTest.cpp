// RegKey: typed readers on values of the right and the wrong type, the raw 4-byte reading, text
// of both types within a limit, subkeys.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HrCheck.h"
#include "com/RegKey.h"
#include "com/Result.h"

namespace {

constexpr wchar_t kScratch[] = L"Software\\OrvaneComTest\\RegKey";

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ERROR_SUCCESS, key_.Create(HKEY_CURRENT_USER, kScratch)); }
    void TearDown() override {
        key_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratch);
    }
    void SetBytes(const wchar_t* name, DWORD type, std::vector<BYTE> bytes) {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key_.get(), name, 0, type, bytes.data(),
                                                  static_cast<DWORD>(bytes.size())));
    }
    com::RegKey key_;
};

TEST_F(RegKeyTest, ReadersRefuseValuesOfAnotherTypeAndKeepTheOut) {
    ASSERT_EQ(ERROR_SUCCESS, key_.WriteString(L"Text", L"abc"));
    ASSERT_EQ(ERROR_SUCCESS, key_.WriteDword(L"Number", 7));

    std::wstring text = L"kept";
    DWORD number = 99;
    EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, key_.ReadString(L"Number", &text));
    EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, key_.ReadDword(L"Text", &number));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key_.ReadString(L"Missing", &text));
    EXPECT_EQ(L"kept", text);
    EXPECT_EQ(99u, number);

    EXPECT_EQ(ERROR_SUCCESS, key_.ReadString(L"Text", &text));
    EXPECT_EQ(ERROR_SUCCESS, key_.ReadDword(L"Number", &number));
    EXPECT_EQ(L"abc", text);
    EXPECT_EQ(7u, number);
}

TEST_F(RegKeyTest, ReadRaw32TakesTheFirstFourBytesOfAnyTypeUpToTheLimit) {
    struct Case {
        DWORD type;
        std::vector<BYTE> bytes;
        DWORD maxBytes;
        LSTATUS status;
        DWORD value;  // 5 when unchanged
    } cases[] = {
        {REG_DWORD, {1, 2, 0, 0}, 4, ERROR_SUCCESS, 0x0201},
        {REG_BINARY, {1, 2}, 4, ERROR_SUCCESS, 0x0201},   // short: zero padded
        {REG_SZ, {'1', 0, 0, 0}, 4, ERROR_SUCCESS, '1'},  // a text's bytes, not its number
        {REG_BINARY, {1, 2, 3, 4, 5, 6}, 10, ERROR_SUCCESS, 0x04030201},
        {REG_BINARY, {1, 2, 3, 4, 5, 6}, 4, ERROR_MORE_DATA, 5},  // too long: unchanged
    };
    for (const Case& c : cases) {
        SetBytes(L"Raw", c.type, c.bytes);
        DWORD value = 5;
        EXPECT_EQ(c.status, key_.ReadRaw32(L"Raw", c.maxBytes, &value))
            << "type " << c.type << ", " << c.bytes.size() << " bytes";
        EXPECT_EQ(c.value, value) << "type " << c.type << ", " << c.bytes.size() << " bytes";
    }
}

TEST_F(RegKeyTest, ReadTextTakesBothTextTypesUnexpandedWithinTheLimit) {
    const std::wstring expand = L"%SystemRoot%\\x";
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key_.get(), L"Expand", 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(expand.c_str()),
                               static_cast<DWORD>((expand.size() + 1) * sizeof(wchar_t))));
    SetBytes(L"Unended", REG_SZ, {'a', 0, 'b', 0});
    ASSERT_EQ(ERROR_SUCCESS, key_.WriteDword(L"Number", 7));

    std::wstring text;
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS, key_.ReadText(L"Expand", &text, &type));
    EXPECT_EQ(expand, text);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, key_.ReadString(L"Expand", &text)) << "REG_SZ only";
    // The reported size of an unended text may count the terminator the reader adds.
    EXPECT_EQ(ERROR_SUCCESS, key_.ReadText(L"Unended", &text, &type, 6));
    EXPECT_EQ(L"ab", text);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    text = L"kept";
    EXPECT_EQ(ERROR_MORE_DATA, key_.ReadText(L"Unended", &text, nullptr, 3));
    EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, key_.ReadText(L"Number", &text));
    EXPECT_EQ(L"kept", text);
}

TEST_F(RegKeyTest, SubkeyNamesListsTheDirectSubkeys) {
    EXPECT_TRUE(key_.SubkeyNames().empty());
    for (const wchar_t* name : {L"One", L"Two"}) {
        com::RegKey sub;
        ASSERT_EQ(ERROR_SUCCESS, sub.Create(key_.get(), name));
        com::RegKey deeper;
        ASSERT_EQ(ERROR_SUCCESS, deeper.Create(sub.get(), L"Deeper"));
    }
    std::vector<std::wstring> names = key_.SubkeyNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"One", L"Two"}), names);
}

TEST(Win32Hr, SuccessIsSOkAndAnErrorCarriesItsCode) {
    EXPECT_HR(S_OK, com::Win32Hr(ERROR_SUCCESS));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), com::Win32Hr(ERROR_FILE_NOT_FOUND));
    const auto open = [] {
        com::RegKey key;
        RETURN_IF_WIN32_ERROR(key.Open(HKEY_CURRENT_USER, L"Software\\OrvaneComTest\\Missing"));
        return S_FALSE;
    };
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), open());
}

}  // namespace
