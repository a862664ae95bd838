// RegKey: typed readers on values of the right and the wrong type, and the raw 4-byte reading.
#include <gtest/gtest.h>

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
