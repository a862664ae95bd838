// OV_Param.dll as a module: registration, type library, category, the
// class factory, DllCanUnloadNow and aggregation.
#include <gtest/gtest.h>

#include <windows.h>
#include <comcat.h>
#include <oleauto.h>

#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "ParamTestSupport.h"

namespace {

using namespace param_test;

constexpr wchar_t kClsidKey[] = L"CLSID\\{D13597C6-6931-11D5-A8E6-0060087AB05A}";
constexpr CATID kCatid = {
    0xAA3DF0E0, 0x806C, 0x11D3, {0xBD, 0x83, 0x00, 0x10, 0x5A, 0x31, 0x85, 0xC3}};

// The default value (or a named value) of a key under HKCR; "<missing>" when absent.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* value = nullptr) {
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer);
    const LONG status =
        RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size);
    return status == ERROR_SUCCESS ? buffer : L"<missing>";
}

bool ClassesKeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

HRESULT ImplementsCategory() {
    com::ComPtr<ICatInformation> categories;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatInformation, categories.put_void());
    if (FAILED(hr)) return hr;
    CATID wanted = kCatid;
    return categories->IsClassOfCategories(CLSID_OV_Parameter, 1, &wanted, 0, &wanted);
}

class ModuleTest : public testing::Test {
protected:
    using CanUnloadFn = HRESULT(WINAPI*)();
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        const std::wstring path = ClassesValue(std::wstring(kClsidKey) + L"\\InprocServer32");
        ASSERT_NE(path, L"<missing>") << "OV_Param.dll is not registered";
        module_ = LoadLibraryW(path.c_str());
        ASSERT_NE(module_, nullptr) << "LoadLibrary(OV_Param.dll) failed " << GetLastError();
        can_unload_ = reinterpret_cast<CanUnloadFn>(GetProcAddress(module_, "DllCanUnloadNow"));
        get_class_object_ =
            reinterpret_cast<GetClassObjectFn>(GetProcAddress(module_, "DllGetClassObject"));
        register_ = reinterpret_cast<CanUnloadFn>(GetProcAddress(module_, "DllRegisterServer"));
        unregister_ = reinterpret_cast<CanUnloadFn>(GetProcAddress(module_, "DllUnregisterServer"));
        ASSERT_TRUE(can_unload_ && get_class_object_ && register_ && unregister_)
            << "missing exports";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        CoUninitialize();
    }

    HMODULE module_ = nullptr;
    CanUnloadFn can_unload_ = nullptr;
    GetClassObjectFn get_class_object_ = nullptr;
    CanUnloadFn register_ = nullptr;
    CanUnloadFn unregister_ = nullptr;
};

TEST_F(ModuleTest, RegistrationWritesTheCrossedProgIds) {
    EXPECT_EQ(ClassesValue(kClsidKey), L"OV_Parameter Class");
    EXPECT_EQ(ClassesValue(std::wstring(kClsidKey) + L"\\ProgID"), L"OV_Param.OV_Parameter");
    EXPECT_EQ(ClassesValue(std::wstring(kClsidKey) + L"\\VersionIndependentProgID"),
              L"OV_Param.OV_Parameter.1");
    EXPECT_TRUE(ClassesKeyExists(std::wstring(kClsidKey) + L"\\Programmable")) << "Programmable";
    EXPECT_EQ(ClassesValue(std::wstring(kClsidKey) + L"\\InprocServer32", L"ThreadingModel"),
              L"Apartment");
    EXPECT_EQ(ClassesValue(std::wstring(kClsidKey) + L"\\TypeLib"),
              L"{D13597C4-6931-11D5-A8E6-0060087AB05A}");
    EXPECT_EQ(ClassesValue(L"OV_Param.OV_Parameter\\CLSID"),
              L"{D13597C6-6931-11D5-A8E6-0060087AB05A}");
    EXPECT_EQ(ClassesValue(L"OV_Param.OV_Parameter.1\\CurVer"), L"OV_Param.OV_Parameter");
    EXPECT_EQ(ImplementsCategory(), S_OK) << "category {AA3DF0E0-…} not recorded";
}

TEST_F(ModuleTest, TypeLibraryIsRegistered) {
    com::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_OV_PARAMLib, 1, 0, 0, library.put()), S_OK)
        << "LoadRegTypeLib(OV_PARAMLib)";
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->lcid, 1031u) << "locale of OV_PARAMLib";
    library->ReleaseTLibAttr(attributes);
    com::UniqueBstr help;
    ASSERT_EQ(library->GetDocumentation(-1, nullptr, help.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(help.str(), L"OV_Param 1.0 Typbibliothek");
    com::ComPtr<ITypeInfo> marker;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IOV_Parameter, marker.put()), S_OK)
        << "IOV_Parameter in the library";
    ASSERT_EQ(marker->GetDocumentation(MEMBERID_NIL, nullptr, help.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(help.str(), L"IOV_Parameter-Schnittstelle");
}

TEST_F(ModuleTest, UnregistrationRemovesWhatRegistrationWrote) {
    ASSERT_EQ(unregister_(), S_OK) << "DllUnregisterServer";
    EXPECT_FALSE(ClassesKeyExists(kClsidKey)) << "CLSID key left behind";
    EXPECT_FALSE(ClassesKeyExists(L"OV_Param.OV_Parameter")) << "ProgID left behind";
    EXPECT_FALSE(ClassesKeyExists(L"OV_Param.OV_Parameter.1")) << "versioned ProgID left behind";
    EXPECT_NE(ImplementsCategory(), S_OK) << "category still recorded";
    com::ComPtr<ITypeLib> library;
    EXPECT_NE(LoadRegTypeLib(LIBID_OV_PARAMLib, 1, 0, 0, library.put()), S_OK)
        << "type library still registered";
    library.reset();
    ASSERT_EQ(register_(), S_OK) << "DllRegisterServer";
    EXPECT_EQ(ClassesValue(std::wstring(kClsidKey) + L"\\ProgID"), L"OV_Param.OV_Parameter");
    EXPECT_EQ(ImplementsCategory(), S_OK) << "category after registering again";
}

TEST_F(ModuleTest, CanUnloadOnlyWithoutObjectsAndLocks) {
    ASSERT_EQ(can_unload_(), S_OK) << "DllCanUnloadNow before any object";
    com::ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_OV_Parameter, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(can_unload_(), S_FALSE) << "while the caller holds the factory";
    com::ComPtr<VKModelParameter> parameter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_VKModelParameter, parameter.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_(), S_FALSE) << "while an object lives";
    parameter.reset();
    EXPECT_EQ(can_unload_(), S_OK) << "after the last object";

    ASSERT_EQ(get_class_object_(CLSID_OV_Parameter, IID_IClassFactory, factory.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_(), S_FALSE) << "while the server is locked";
    ASSERT_EQ(get_class_object_(CLSID_OV_Parameter, IID_IClassFactory, factory.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_(), S_OK) << "after LockServer(FALSE)";

    EXPECT_EQ(get_class_object_(CLSID_ModelObject, IID_IClassFactory, factory.put_void()),
              CLASS_E_CLASSNOTAVAILABLE);
}

// A minimal outer object that aggregates one inner object.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            if (inner) inner->Release();
            delete this;
        }
        return left;
    }
    LONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST_F(ModuleTest, ParameterCanBeAggregated) {
    Outer* outer = new Outer;
    HRESULT hr = CoCreateInstance(CLSID_OV_Parameter, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&outer->inner));
    ASSERT_EQ(hr, S_OK) << "CoCreateInstance with an outer unknown";
    com::ComPtr<VKModelParameter> parameter;
    ASSERT_EQ(outer->QueryInterface(IID_VKModelParameter, parameter.put_void()), S_OK);
    com::ComPtr<IUnknown> identity;
    ASSERT_EQ(parameter->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(outer))
        << "QueryInterface(IUnknown) must reach the outer";
    identity.reset();
    ASSERT_EQ(parameter->GetIdentity(identity.put()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(outer))
        << "GetIdentity must be the controlling unknown";
    identity.reset();
    parameter.reset();
    outer->Release();

    IUnknown* unused = nullptr;
    Outer* second = new Outer;
    EXPECT_EQ(CoCreateInstance(CLSID_OV_Parameter, second, CLSCTX_INPROC_SERVER,
                               IID_VKModelParameter, reinterpret_cast<void**>(&unused)),
              CLASS_E_NOAGGREGATION)
        << "aggregation asking for another interface than IUnknown";
    second->Release();
}

}  // namespace
