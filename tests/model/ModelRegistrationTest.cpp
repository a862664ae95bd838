// What DllRegisterServer leaves in the registry, and that DllUnregisterServer
// takes it away again (the module is registered once more at the end).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ModelTestSupport.h"
#include "com/ComInit.h"
#include "com/ScopeExit.h"

namespace model_test {
namespace {

using RegisterFunction = HRESULT(STDAPICALLTYPE*)();

std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t data[512] = {};
    DWORD size = sizeof data;
    const LSTATUS status =
        ::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size);
    return status == ERROR_SUCCESS ? data : L"<missing>";
}

bool ClassesKeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(handle);
    return true;
}

const wchar_t kModelKey[] = L"CLSID\\{AB96C8BF-6780-11D3-BD5F-00105A3185C3}";
const wchar_t kNotifierKey[] = L"CLSID\\{4A2FA548-6DB4-11D3-BD68-00105A3185C3}";
const wchar_t kGenericKey[] = L"CLSID\\{AB96C8C1-6780-11D3-BD5F-00105A3185C3}";

void ExpectRegistered() {
    for (const wchar_t* key : {kModelKey, kNotifierKey, kGenericKey}) {
        const std::wstring server = std::wstring(key) + L"\\InprocServer32";
        EXPECT_EQ(L"Apartment", ClassesValue(server, L"ThreadingModel")) << com::WideToUtf8(key);
        std::wstring path = ClassesValue(server);
        ::CharLowerW(path.data());
        EXPECT_TRUE(path.size() > 4 && path.compare(path.size() - 4, 4, L".dll") == 0)
            << "InprocServer32 of " << com::WideToUtf8(key) << " is " << com::WideToUtf8(path);
    }
    EXPECT_EQ(L"VkObjectModel.ModelObject.1", ClassesValue(std::wstring(kModelKey) + L"\\ProgID"));
    EXPECT_EQ(L"VkObjectModel.ModelObject",
              ClassesValue(std::wstring(kModelKey) + L"\\VersionIndependentProgID"));
    EXPECT_EQ(L"{AB96C8B2-6780-11D3-BD5F-00105A3185C3}",
              ClassesValue(std::wstring(kModelKey) + L"\\TypeLib"));
    CLSID clsid = {};
    EXPECT_HR(S_OK, ::CLSIDFromProgID(L"VkObjectModel.ModelObject", &clsid));
    EXPECT_TRUE(::IsEqualCLSID(clsid, CLSID_ModelObject));

    ITypeLib* library = nullptr;
    ASSERT_HR(S_OK, ::LoadRegTypeLib(LIBID_VKOBJECTMODELLib, 1, 0, LOCALE_NEUTRAL, &library));
    // Marshalled through the type library: dual or [oleautomation] in it.
    for (const IID* iid : {&IID_VKModelObject, &IID_VKModelCollection, &IID_VKModelCollectionReKey,
                           &IID_VKModelParameter, &IID_VKModelParameter2, &IID_VKChangeNotifier}) {
        ITypeInfo* info = nullptr;
        EXPECT_HR(S_OK, library->GetTypeInfoOfGuid(*iid, &info))
            << com::WideToUtf8(com::GuidToString(*iid));
        if (!info) continue;
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            EXPECT_TRUE(attributes->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION))
                << com::WideToUtf8(com::GuidToString(*iid)) << " flags " << attributes->wTypeFlags;
            info->ReleaseTypeAttr(attributes);
        }
        info->Release();
        EXPECT_TRUE(ClassesKeyExists(L"Interface\\" + com::GuidToString(*iid, true)))
            << "no marshalling entry for " << com::WideToUtf8(com::GuidToString(*iid));
    }
    library->Release();
}

TEST(ModelRegistration, RegisterAndUnregister) {
    com::ComInitializer com(COINIT_APARTMENTTHREADED);
    ExpectRegistered();

    HMODULE dll = ::LoadLibraryW(L"VkObjectModel.dll");
    ASSERT_NE(nullptr, dll) << "LoadLibrary(VkObjectModel.dll) failed, error " << ::GetLastError();
    auto unregister =
        reinterpret_cast<RegisterFunction>(::GetProcAddress(dll, "DllUnregisterServer"));
    auto do_register =
        reinterpret_cast<RegisterFunction>(::GetProcAddress(dll, "DllRegisterServer"));
    ASSERT_TRUE(unregister && do_register);
    com::ScopeExit restore([&] {
        do_register();
        ::FreeLibrary(dll);
    });

    EXPECT_HR(S_OK, unregister());
    for (const wchar_t* key : {kModelKey, kNotifierKey, kGenericKey, L"VkObjectModel.ModelObject",
                               L"VkObjectModel.ModelObject.1", L"VkObjectModel.ChangeNotifier",
                               L"VkObjectModel.ObjectParameter"}) {
        EXPECT_FALSE(ClassesKeyExists(key)) << com::WideToUtf8(key) << " left behind";
    }
    EXPECT_TRUE(ClassesKeyExists(L"CLSID")) << "the shared CLSID key went too";
    ITypeLib* library = nullptr;
    EXPECT_TRUE(FAILED(::LoadRegTypeLib(LIBID_VKOBJECTMODELLib, 1, 0, LOCALE_NEUTRAL, &library)))
        << "type library still registered";
    if (library) library->Release();

    EXPECT_HR(S_OK, do_register());
    ExpectRegistered();
}

}  // namespace
}  // namespace model_test
