// Class factories, LockServer and the module's lock count, in this program and as a DLL's
// caller sees them (DllGetClassObject / DllCanUnloadNow of a test server DLL).
#include <gtest/gtest.h>

#include <string>

#include "HrCheck.h"
#include "com/ClassFactory.h"
#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Strings.h"
#include "TestObjects.h"

using comtest::CThing;

namespace {

const CLSID kClsidPlain = {
    0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x10}};
const CLSID kClsidSingleton = {
    0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x11}};
const CLSID kClsidUnknown = {
    0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x1f}};

template <class Factory>
com::ComPtr<IClassFactory> MakeFactory() {
    com::ComPtr<IClassFactory> factory;
    EXPECT_HR(S_OK, com::CreateClassFactory<Factory>(com::ModuleLockPolicy::kNone, factory.put()));
    return factory;
}

TEST(ClassFactory, CreatesIndependentObjectsAndHonoursAggregationRules) {
    auto factory = MakeFactory<com::ClassFactory<CThing>>();
    ASSERT_TRUE(factory);
    com::ComPtr<ITestCounter> a, b;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, __uuidof(ITestCounter), a.put_void()));
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, __uuidof(ITestCounter), b.put_void()));
    EXPECT_FALSE(com::IsSameObject(a.get(), b.get())) << "each CreateInstance makes a new object";

    com::ComPtr<CThing> outer;
    ASSERT_HR(S_OK, com::MakeObject(&outer));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(static_cast<IPersist*>(outer.get()), IID_IPersist, &out))
        << "outer unknown with a non-IUnknown IID";
    EXPECT_EQ(nullptr, out);
    com::ComPtr<IUnknown> inner;
    EXPECT_HR(S_OK, factory->CreateInstance(static_cast<IPersist*>(outer.get()), IID_IUnknown,
                                            inner.put_void()))
        << "aggregated creation with IID_IUnknown";
    EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

TEST(ClassFactory, SingletonHandsOutOneObjectAndRefusesAggregation) {
    auto factory = MakeFactory<com::SingletonClassFactory<CThing>>();
    ASSERT_TRUE(factory);
    com::ComPtr<ITestCounter> a;
    com::ComPtr<IPersist> b;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, __uuidof(ITestCounter), a.put_void()));
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IPersist, b.put_void()));
    EXPECT_TRUE(com::IsSameObject(a.get(), b.get()))
        << "every CreateInstance hands out the same object";
    LONG first = 0, second = 0;
    a->Next(&first);
    a.reset();
    b.reset();
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, __uuidof(ITestCounter), a.put_void()));
    a->Next(&second);
    EXPECT_EQ(first + 1, second) << "the singleton survives while its factory lives";

    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(a.get(), IID_IUnknown, &out))
        << "singleton with an outer unknown";
    EXPECT_EQ(nullptr, out);
}

TEST(ClassFactory, LockServerCountsAndIgnoresUnbalancedUnlock) {
    auto factory = MakeFactory<com::ClassFactory<CThing>>();
    com::Module& module = com::Module::Get();
    const LONG before = module.GetLockCount();
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(before + 1, module.GetLockCount()) << "LockServer(TRUE)";
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(before, module.GetLockCount()) << "LockServer(FALSE)";
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(before, module.GetLockCount())
        << "an extra LockServer(FALSE) must not take other locks away";
}

// The test server DLL beside this program.
class DllServer : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring path = com::Module::Get().path();
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"comtest_server.dll";
        dll_ = ::LoadLibraryW(path.c_str());
        ASSERT_NE(nullptr, dll_) << "LoadLibrary(comtest_server.dll) error " << ::GetLastError();
        get_class_object_ = reinterpret_cast<decltype(get_class_object_)>(
            ::GetProcAddress(dll_, "DllGetClassObject"));
        can_unload_now_ =
            reinterpret_cast<decltype(can_unload_now_)>(::GetProcAddress(dll_, "DllCanUnloadNow"));
        register_ =
            reinterpret_cast<decltype(register_)>(::GetProcAddress(dll_, "DllRegisterServer"));
        unregister_ =
            reinterpret_cast<decltype(unregister_)>(::GetProcAddress(dll_, "DllUnregisterServer"));
        ASSERT_TRUE(get_class_object_ && can_unload_now_ && register_ && unregister_)
            << "exports of comtest_server.dll";
    }
    void TearDown() override {
        if (dll_) ::FreeLibrary(dll_);
    }
    HRESULT Factory(REFCLSID clsid, com::ComPtr<IClassFactory>* out) {
        return get_class_object_(clsid, IID_IClassFactory, out->put_void());
    }

    HMODULE dll_ = nullptr;
    HRESULT(STDAPICALLTYPE* get_class_object_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* can_unload_now_)() = nullptr;
    HRESULT(STDAPICALLTYPE* register_)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregister_)() = nullptr;
};

// What comtest_server.dll registers through com::InprocServer.
const wchar_t kPlainKey[] = L"CLSID\\{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A10}";
const wchar_t kCategoryKey[] =
    L"CLSID\\{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A10}\\Implemented "
    L"Categories\\{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A12}";
const wchar_t kTypeLibKey[] = L"TypeLib\\{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A00}";

bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

std::wstring ReadText(const std::wstring& path, const wchar_t* name) {
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text,
                       &size) != ERROR_SUCCESS)
        return L"<missing>";
    return text;
}

TEST_F(DllServer, RegistrationWritesScriptTypeLibraryAndCategoriesAndTakesThemAway) {
    ASSERT_HR(S_OK, register_()) << "DllRegisterServer";
    const std::wstring server = ReadText(std::wstring(kPlainKey) + L"\\InprocServer32", nullptr);
    wchar_t long_path[MAX_PATH] = {};
    ::GetLongPathNameW(server.c_str(), long_path, MAX_PATH);  // the script writes the short form
    EXPECT_NE(nullptr, wcsstr(long_path, L"comtest_server.dll"))
        << "InprocServer32: " << com::WideToUtf8(server);
    EXPECT_EQ(L"comtest_server", ReadText(kPlainKey, L"Marker")) << "replacement %MARKER%";
    EXPECT_TRUE(KeyExists(kCategoryKey)) << "implemented category after DllRegisterServer";
    EXPECT_TRUE(KeyExists(kTypeLibKey)) << "type library after DllRegisterServer";

    EXPECT_HR(S_OK, unregister_()) << "DllUnregisterServer";
    EXPECT_FALSE(KeyExists(kPlainKey)) << "class key after DllUnregisterServer";
    EXPECT_FALSE(KeyExists(kTypeLibKey)) << "type library after DllUnregisterServer";
}

// A module whose registration is half gone must still be removable: every step runs.
TEST_F(DllServer, UnregistrationGoesOnPastAFailedStep) {
    ASSERT_HR(S_OK, register_()) << "DllRegisterServer";
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kTypeLibKey))
        << "removing the type library key";
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kTypeLibKey);
    const HRESULT hr = unregister_();
    EXPECT_FALSE(KeyExists(kCategoryKey))
        << "implemented category after DllUnregisterServer returned " << std::hex << hr;
    EXPECT_FALSE(KeyExists(kPlainKey))
        << "class key after DllUnregisterServer returned " << std::hex << hr;
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kPlainKey);
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kPlainKey);
}

TEST_F(DllServer, CanUnloadNowIsHonestAboutObjectsFactoriesAndLocks) {
    EXPECT_HR(S_OK, can_unload_now_()) << "DllCanUnloadNow with nothing alive";
    com::ComPtr<IClassFactory> factory;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, get_class_object_(kClsidUnknown, IID_IClassFactory, &out))
        << "DllGetClassObject for an unknown CLSID";
    EXPECT_EQ(nullptr, out);
    ASSERT_HR(S_OK, Factory(kClsidPlain, &factory)) << "DllGetClassObject(plain)";
    EXPECT_HR(S_FALSE, can_unload_now_()) << "a caller holds a factory";

    com::ComPtr<IPersist> object;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IPersist, object.put_void()));
    factory.reset();
    EXPECT_HR(S_FALSE, can_unload_now_()) << "an object lives";
    object.reset();
    EXPECT_HR(S_OK, can_unload_now_()) << "object and factory released";

    ASSERT_HR(S_OK, Factory(kClsidPlain, &factory));
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_HR(S_FALSE, can_unload_now_()) << "LockServer(TRUE) outstanding";
    ASSERT_HR(S_OK, Factory(kClsidPlain, &factory));
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
    factory.reset();
    EXPECT_HR(S_OK, can_unload_now_()) << "lock given back";
}

TEST_F(DllServer, SingletonCountsOnlyWhileCallersHoldIt) {
    com::ComPtr<IClassFactory> factory;
    ASSERT_HR(S_OK, Factory(kClsidSingleton, &factory));
    com::ComPtr<IPersist> a, b;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IPersist, a.put_void()));
    factory.reset();
    ASSERT_HR(S_OK, Factory(kClsidSingleton, &factory));
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IPersist, b.put_void()));
    factory.reset();
    EXPECT_TRUE(com::IsSameObject(a.get(), b.get())) << "one singleton across factory look-ups";
    EXPECT_HR(S_FALSE, can_unload_now_()) << "callers hold the singleton";
    a.reset();
    b.reset();
    EXPECT_HR(S_OK, can_unload_now_()) << "only the module itself holds the singleton";
}

}  // namespace
