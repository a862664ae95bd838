// OrvaneOpcPS.dll's self-registration. The prefix registration (scripts/register)
// is checked as it is; the rules (leave foreign proxy/stubs alone, remove only
// what was added) are exercised against a private copy of HKEY_CLASSES_ROOT, so
// the prefix's real registration is never disturbed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MarshalTest.h"

namespace marshal {
namespace {

constexpr wchar_t kProxyClsid[] = L"{A619CAEB-807B-446C-A52F-1CA6581DCFD4}";
constexpr wchar_t kScratchParent[] = L"Software\\Axolent\\OrvaneTest";
constexpr wchar_t kForeignClsid[] = L"{0F0E0D0C-0B0A-0908-0706-050403020100}";

struct InterfaceEntry {
    IID iid;
    const wchar_t* name;
    int methods;  // including IUnknown's three
};

std::vector<InterfaceEntry> OpcInterfaces() {
    return {
        {IID_IOPCShutdown, L"IOPCShutdown", 4},
        {IID_IOPCCommon, L"IOPCCommon", 8},
        {IID_IOPCServerList, L"IOPCServerList", 6},
        {IID_IOPCEnumGUID, L"IOPCEnumGUID", 7},
        {IID_IOPCServerList2, L"IOPCServerList2", 6},
        {IID_IOPCServer, L"IOPCServer", 9},
        {IID_IOPCServerPublicGroups, L"IOPCServerPublicGroups", 5},
        {IID_IOPCBrowseServerAddressSpace, L"IOPCBrowseServerAddressSpace", 8},
        {IID_IOPCGroupStateMgt, L"IOPCGroupStateMgt", 7},
        {IID_IOPCPublicGroupStateMgt, L"IOPCPublicGroupStateMgt", 5},
        {IID_IOPCSyncIO, L"IOPCSyncIO", 5},
        {IID_IOPCAsyncIO, L"IOPCAsyncIO", 7},
        {IID_IOPCItemMgt, L"IOPCItemMgt", 10},
        {IID_IEnumOPCItemAttributes, L"IEnumOPCItemAttributes", 7},
        {IID_IOPCDataCallback, L"IOPCDataCallback", 7},
        {IID_IOPCAsyncIO2, L"IOPCAsyncIO2", 9},
        {IID_IOPCItemProperties, L"IOPCItemProperties", 6},
    };
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring InterfaceKey(REFIID iid) { return L"Interface\\" + GuidText(iid); }

// The default value of HKCR\<path>, or "<missing>".
std::wstring ReadDefault(const std::wstring& path) {
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return L"<missing>";
    return text;
}

bool HasValue(const std::wstring& path, const wchar_t* name) {
    return RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetDefault(const std::wstring& path, const std::wstring& value) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))))
        << "writing HKCR\\" << path;
}

TEST(OpcProxyRegistration, PrefixRegistrationPointsEveryOpcInterfaceAtOrvaneOpcPS) {
    for (const auto& entry : OpcInterfaces()) {
        const std::wstring key = InterfaceKey(entry.iid);
        EXPECT_EQ(kProxyClsid, ReadDefault(key + L"\\ProxyStubClsid32"))
            << entry.name << " ProxyStubClsid32";
        EXPECT_EQ(std::to_wstring(entry.methods), ReadDefault(key + L"\\NumMethods"))
            << entry.name << " NumMethods";
        EXPECT_EQ(entry.name, ReadDefault(key)) << entry.name << " name";
    }
    const std::wstring server =
        ReadDefault(std::wstring(L"CLSID\\") + kProxyClsid + L"\\InprocServer32");
    EXPECT_NE(std::wstring::npos, server.find(L"OrvaneOpcPS.dll"))
        << "InprocServer32 is " << server;
}

// Runs the DLL's registration functions with HKEY_CLASSES_ROOT redirected to a
// scratch key of this process.
class ScratchClassesRoot : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_path_ =
            std::wstring(kScratchParent) + L"\\Classes" + std::to_wstring(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path_.c_str());
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path_.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &scratch_, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch_))
            << "RegOverridePredefKey";
        overridden_ = true;

        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path);
        dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"OrvaneOpcPS.dll";
        module_ = LoadLibraryW(dll.c_str());
        ASSERT_NE(nullptr, module_) << "LoadLibrary OrvaneOpcPS.dll failed: " << GetLastError();
        register_ = reinterpret_cast<Entry>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregister_ = reinterpret_cast<Entry>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(register_ && unregister_) << "OrvaneOpcPS.dll lacks its registration exports";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        if (overridden_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (scratch_) RegCloseKey(scratch_);
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);  // only when no other run uses it
    }

    using Entry = HRESULT(WINAPI*)();
    Entry register_ = nullptr;
    Entry unregister_ = nullptr;

private:
    std::wstring scratch_path_;
    HKEY scratch_ = nullptr;
    bool overridden_ = false;
    HMODULE module_ = nullptr;
};

TEST_F(ScratchClassesRoot, RegisterThenUnregisterLeavesNothingBehind) {
    EXPECT_HR(S_OK, register_());
    EXPECT_HR(S_OK, register_());  // again: idempotent
    for (const auto& entry : OpcInterfaces()) {
        EXPECT_EQ(kProxyClsid, ReadDefault(InterfaceKey(entry.iid) + L"\\ProxyStubClsid32"))
            << entry.name;
        EXPECT_EQ(std::to_wstring(entry.methods),
                  ReadDefault(InterfaceKey(entry.iid) + L"\\NumMethods"))
            << entry.name;
    }
    EXPECT_EQ(L"PSFactoryBuffer", ReadDefault(std::wstring(L"CLSID\\") + kProxyClsid));

    EXPECT_HR(S_OK, unregister_());
    for (const auto& entry : OpcInterfaces())
        EXPECT_FALSE(KeyExists(InterfaceKey(entry.iid)))
            << entry.name << " key left after DllUnregisterServer";
    EXPECT_FALSE(KeyExists(std::wstring(L"CLSID\\") + kProxyClsid))
        << "proxy CLSID left after DllUnregisterServer";
}

TEST_F(ScratchClassesRoot, ForeignRegistrationsStayUntouched) {
    // Another product's proxy/stub for IOPCServer, and an IOPCCommon key holding
    // only a name and a type library reference (no proxy/stub yet).
    const std::wstring server = InterfaceKey(IID_IOPCServer);
    SetDefault(server, L"IOPCServer (Core Components)");
    SetDefault(server + L"\\ProxyStubClsid32", kForeignClsid);
    SetDefault(server + L"\\NumMethods", L"9");
    const std::wstring common = InterfaceKey(IID_IOPCCommon);
    SetDefault(common, L"IOPCCommon (type library)");
    SetDefault(common + L"\\TypeLib", L"{B28EEDB1-AC6F-11D1-84D5-00608CB8A7E9}");

    EXPECT_HR(S_OK, register_());
    EXPECT_EQ(kForeignClsid, ReadDefault(server + L"\\ProxyStubClsid32"))
        << "a foreign proxy/stub was replaced";
    EXPECT_FALSE(HasValue(server, L"OrvaneOpcPS")) << "marker on a foreign registration";
    EXPECT_EQ(kProxyClsid, ReadDefault(common + L"\\ProxyStubClsid32"))
        << "IOPCCommon without proxy/stub";
    EXPECT_EQ(L"IOPCCommon (type library)", ReadDefault(common))
        << "the existing name was overwritten";

    EXPECT_HR(S_OK, unregister_());
    EXPECT_EQ(L"IOPCServer (Core Components)", ReadDefault(server));
    EXPECT_EQ(kForeignClsid, ReadDefault(server + L"\\ProxyStubClsid32"))
        << "a foreign proxy/stub was removed";
    EXPECT_EQ(L"9", ReadDefault(server + L"\\NumMethods"));
    EXPECT_EQ(L"IOPCCommon (type library)", ReadDefault(common))
        << "IOPCCommon's name after unregistration";
    EXPECT_EQ(L"{B28EEDB1-AC6F-11D1-84D5-00608CB8A7E9}", ReadDefault(common + L"\\TypeLib"));
    EXPECT_FALSE(KeyExists(common + L"\\ProxyStubClsid32"))
        << "ProxyStubClsid32 left on IOPCCommon";
    EXPECT_FALSE(KeyExists(common + L"\\NumMethods")) << "NumMethods left on IOPCCommon";
    EXPECT_FALSE(HasValue(common, L"OrvaneOpcPS")) << "marker left on IOPCCommon";
    EXPECT_FALSE(KeyExists(InterfaceKey(IID_IOPCItemMgt)))
        << "IOPCItemMgt left after DllUnregisterServer";
}

}  // namespace
}  // namespace marshal
