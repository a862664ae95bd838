// Registration of Orvane.exe: keys, categories, the RegServer/UnregServer switches.
#include <comcat.h>

#include <gtest/gtest.h>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/ComPtr.h"
#include "com/ScopeExit.h"
#include "com/Strings.h"

namespace {

constexpr wchar_t kClsidKey[] = L"CLSID\\{CA99FEF3-FB7A-11d4-A85E-0060087AB05A}";
constexpr CATID kCategories[] = {
    {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}},
    {0x276BC1C1, 0x0BC1, 0x11D4, {0xA7, 0x8F, 0x52, 0x54, 0x05, 0xF5, 0xB2, 0xCF}},
    {0x3CF19FF3, 0x907B, 0x11D4, {0xB4, 0xA7, 0x00, 0x50, 0xDA, 0x3F, 0x12, 0x1C}},
};
constexpr CLSID kClsid = {
    0xCA99FEF3, 0xFB7A, 0x11D4, {0xA8, 0x5E, 0x00, 0x60, 0x08, 0x7A, 0xB0, 0x5A}};

void ExpectRegString(const std::wstring& key, const wchar_t* name, const std::wstring& expected) {
    std::wstring value;
    ASSERT_TRUE(ReadRegString(HKEY_CLASSES_ROOT, key, name, &value))
        << "HKCR\\" << Narrow(key) << " value " << (name ? Narrow(name) : "(default)")
        << " is missing";
    EXPECT_EQ(expected, value) << "HKCR\\" << Narrow(key) << " value "
                               << (name ? Narrow(name) : "(default)");
}

// Runs Orvane.exe with a command line and returns its exit code.
DWORD RunServerProgram(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + BinDirectory() + L"Orvane.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

void ExpectImplementsCategories() {
    com::ComPtr<ICatInformation> info;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICatInformation, info.put_void()));
    for (const CATID& category : kCategories) {
        CATID one = category;
        CATID noneRequired = GUID_NULL;
        EXPECT_HR(S_OK, info->IsClassOfCategories(kClsid, 1, &one, 0, &noneRequired))
            << "IsClassOfCategories for " << Narrow(com::GuidToString(category));
    }
}

TEST(Registration, KeysAfterRegistration) {
    ExpectRegString(L"Axolent.Orvane", nullptr, L"OPCOrvane Class");
    ExpectRegString(L"Axolent.Orvane\\CLSID", nullptr, L"{CA99FEF3-FB7A-11d4-A85E-0060087AB05A}");
    ExpectRegString(L"Axolent.Orvane\\OPC\\Vendor", nullptr, L"Axolent");
    ExpectRegString(L"Axolent.Orvane.1", nullptr, L"OPCOrvane Class");
    ExpectRegString(L"Axolent.Orvane.1\\CLSID", nullptr, L"{CA99FEF3-FB7A-11d4-A85E-0060087AB05A}");
    ExpectRegString(L"Axolent.Orvane.1\\CurVer", nullptr, L"Axolent.Orvane");
    ExpectRegString(kClsidKey, nullptr, L"OPCOrvane Class");
    ExpectRegString(kClsidKey, L"AppID", L"{CA99FEF2-FB7A-11d4-A85E-0060087AB05A}");
    ExpectRegString(std::wstring(kClsidKey) + L"\\ProgID", nullptr, L"Axolent.Orvane");
    // The versioned name stands in the version-independent value, as the server always registered it.
    ExpectRegString(std::wstring(kClsidKey) + L"\\VersionIndependentProgID", nullptr,
                    L"Axolent.Orvane.1");
    ExpectRegString(std::wstring(kClsidKey) + L"\\TypeLib", nullptr,
                    L"{CA99FEF1-FB7A-11d4-A85E-0060087AB05A}");
    EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, std::wstring(kClsidKey) + L"\\Programmable"));
    std::wstring server;
    ASSERT_TRUE(ReadRegString(HKEY_CLASSES_ROOT, std::wstring(kClsidKey) + L"\\LocalServer32",
                              nullptr, &server));
    EXPECT_NE(std::wstring::npos, server.find(L"\\"))
        << "LocalServer32 should be a path: " << Narrow(server);
    ExpectRegString(L"AppID\\{CA99FEF2-FB7A-11d4-A85E-0060087AB05A}", nullptr, L"Orvane");
    ExpectRegString(L"AppID\\Orvane.EXE", L"AppID", L"{CA99FEF2-FB7A-11d4-A85E-0060087AB05A}");
    ExpectRegString(L"Component Categories\\{63D5F432-CFE4-11d1-B2C8-0060083BA1FB}", L"409",
                    L"OPC Data Access Servers Version 2.0");
    ExpectRegString(L"Component Categories\\{276BC1C1-0BC1-11D4-A78F-525405F5B2CF}", L"409",
                    L"Busserver Version 1.0");
    ExpectRegString(L"Component Categories\\{3CF19FF3-907B-11D4-B4A7-0050DA3F121C}", L"409",
                    L"Busserver PROFIBUS-DP");
    ExpectImplementsCategories();
}

TEST(Registration, SwitchesUnregisterAndRegisterAgain) {
    // Whatever happens below, the server is registered again afterwards.
    com::ScopeExit restore([] { RunServerProgram(L"/RegServer"); });

    EXPECT_EQ(0u, RunServerProgram(L"-unregserver")) << "Orvane.exe -unregserver exit code";
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L"Axolent.Orvane"))
        << "ProgID key left after UnregServer";
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey)) << "CLSID key left after UnregServer";
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L"AppID\\Orvane.EXE"))
        << "AppID key left after UnregServer";
    // Shared categories stay for the other OPC servers of the machine.
    EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT,
                             L"Component Categories\\{63D5F432-CFE4-11d1-B2C8-0060083BA1FB}"));

    EXPECT_EQ(0u, RunServerProgram(L"/REGSERVER")) << "Orvane.exe /REGSERVER exit code";
    ExpectRegString(L"Axolent.Orvane\\OPC\\Vendor", nullptr, L"Axolent");
    ExpectImplementsCategories();
}

}  // namespace
