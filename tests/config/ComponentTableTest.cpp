// The information box's rows, read from a redirected HKEY_CLASSES_ROOT, and the version
// resources they come from.
#include <windows.h>

#include <gtest/gtest.h>

#include "ConfigTestSupport.h"
#include "core/ComponentTable.h"
#include "core/ComponentVersion.h"

namespace ovconfig::test {
namespace {

std::wstring ThisProgram() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring BesideThisProgram(const wchar_t* name) {
    std::wstring path = ThisProgram();
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

std::wstring TempDirectory() {
    wchar_t buffer[MAX_PATH];
    GetTempPathW(MAX_PATH, buffer);
    std::wstring path(buffer);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

class ComponentTableTest : public ::testing::Test {
protected:
    ComponentTableTest() : classes_(L"ConfigClasses") {}
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_.get()));
        // Copies of this program (it has a version resource) in folders of awkward names.
        base_ = TempDirectory() + L"\\ov_config_rows";
        CreateDirectoryW(base_.c_str(), nullptr);
        blank_ = base_ + L"\\with blank";
        CreateDirectoryW(blank_.c_str(), nullptr);
        // 200 characters in all: more than the 256 bytes a short read would take.
        deep_ = base_ + L"\\" + std::wstring(200 - base_.size() - 7, L'd');
        CreateDirectoryW(deep_.c_str(), nullptr);
        for (const std::wstring& dir : {base_, blank_, deep_})
            ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), (dir + L"\\a.exe").c_str(), FALSE))
                << Narrow(dir);
        ASSERT_EQ(200u, (deep_ + L"\\a.exe").size());
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        for (const std::wstring& dir : {base_, blank_, deep_})
            DeleteFileW((dir + L"\\a.exe").c_str());
        RemoveDirectoryW(deep_.c_str());
        RemoveDirectoryW(blank_.c_str());
        RemoveDirectoryW(base_.c_str());
    }

    void Register(const wchar_t* progId, int number, const wchar_t* server,
                  const std::wstring& value, DWORD type = REG_SZ) {
        const std::wstring clsid =
            L"{6E0C0F00-0000-4000-8000-00000000000" + std::to_wstring(number) + L"}";
        classes_.SetText(std::wstring(progId) + L"\\CLSID", nullptr, clsid);
        if (server) classes_.SetText(L"CLSID\\" + clsid + L"\\" + server, nullptr, value, type);
    }

    ScratchKey classes_;
    std::wstring base_, blank_, deep_;
};

TEST_F(ComponentTableTest, RowsInTheFixedOrderOnlyForServedComponents) {
    SetEnvironmentVariableW(L"OV_CONFIG_ROWS", base_.c_str());
    // Registered in reverse order; the table's order must win.
    Register(L"VkOPCInteraction.OPCInteraction", 5, L"InprocServer32", base_ + L"\\a.exe");
    Register(L"VkObjectModel.ModelObject", 4, nullptr, L"");  // a class without server
    Register(L"OV_Param.OV_Parameter", 3, L"LocalServer", blank_ + L"\\a.exe /Automation");
    Register(L"Orvane.OrvaneInteraction", 2, L"InprocServer32", L"%OV_CONFIG_ROWS%\\a.exe",
             REG_EXPAND_SZ);
    Register(L"Axolent.Orvane", 1, L"LocalServer32", L"\"" + deep_ + L"\\a.exe\" -Embedding");
    // "VkyOPC.vkInteraction" is never registered here: it has no row.

    const std::vector<ComponentRow> rows = ReadComponentRows();
    const std::vector<std::wstring> expected = {deep_ + L"\\a.exe", base_ + L"\\a.exe",
                                                blank_ + L"\\a.exe", base_ + L"\\a.exe"};
    ASSERT_EQ(expected.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(Narrow(expected[i]), Narrow(rows[i].path)) << "row " << i;
        EXPECT_EQ(L"config_core_test.exe", rows[i].name) << "InternalName, row " << i;
        EXPECT_EQ(L"1.0.0.", rows[i].version.substr(0, 6)) << "row " << i;
    }
}

TEST(ProgramPath, QuotesArgumentsAndBlanks) {
    const std::wstring blank = TempDirectory() + L"\\ov config path";
    CreateDirectoryW(blank.c_str(), nullptr);
    const std::wstring file = blank + L"\\x.exe";
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), file.c_str(), FALSE));
    struct Case {
        std::wstring command, path;
    } cases[] = {
        {L"C:\\a\\b.exe", L"C:\\a\\b.exe"},
        {L"\"C:\\a b\\c.exe\" -Embedding", L"C:\\a b\\c.exe"},
        {L"  \"C:\\a b\\c.exe\"", L"C:\\a b\\c.exe"},
        {L"\"C:\\unterminated", L"C:\\unterminated"},
        {L"C:\\a\\b.exe /Automation", L"C:\\a\\b.exe"},
        {file + L" -Embedding", file},
        {file + L"  ", file},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(Narrow(c.path), Narrow(ProgramPath(c.command)));
    DeleteFileW(file.c_str());
    RemoveDirectoryW(blank.c_str());
}

TEST(ComponentVersion, TranslationFallbackAndFileName) {
    ComponentVersion version;
    ASSERT_TRUE(
        ReadComponentVersion(BesideThisProgram(L"config_version_notranslation.dll"), &version));
    EXPECT_EQ(L"2.3.4.5", version.version);
    EXPECT_EQ(L"NoTranslation", version.internalName) << "read from block 040904E4";
    ASSERT_TRUE(ReadComponentVersion(BesideThisProgram(L"config_version_noname.dll"), &version));
    EXPECT_EQ(L"config_version_noname.dll", version.internalName) << "no InternalName";
    EXPECT_FALSE(ReadComponentVersion(L"C:\\windows\\win.ini", &version)) << "no resource";
}

}  // namespace
}  // namespace ovconfig::test
