// The test program's environment: the multithreaded apartment (callbacks arrive on
// RPC threads) and the test server's registration for the duration of the run.
#include "MarshalTest.h"

#include <cstdio>
#include <string>

#include "com/ComInit.h"

namespace marshal {

namespace {

std::wstring ServerKey() {
    wchar_t clsid[39] = {};
    StringFromGUID2(kServerClsid, clsid, 39);
    return std::wstring(L"CLSID\\") + clsid;
}

std::wstring ServerPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + kServerExe;
}

class MarshalEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        test_support::SetHrDescriber(DescribeMismatch);
        com_ = new com::ComInitializer(COINIT_MULTITHREADED);
        ASSERT_TRUE(com_->succeeded()) << "CoInitializeEx returned " << HrText(com_->hr());
        const std::wstring key = ServerKey() + L"\\LocalServer32";
        const std::wstring path = ServerPath();
        const LSTATUS status =
            RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, path.c_str(),
                            static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
        ASSERT_EQ(ERROR_SUCCESS, status) << "registering the test server failed";
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, ServerKey().c_str());
        delete com_;
    }

private:
    com::ComInitializer* com_ = nullptr;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MarshalEnvironment);

}  // namespace

std::string DescribeMismatch(HRESULT hr) {
    if (!IsMismatch(hr)) return std::string();
    return "server rejected an in-value, MarshalServer.cpp line " +
           std::to_string(static_cast<long>(hr - kMismatchBase));
}

void OpcMarshalTest::SetUp() {
    const HRESULT hr = CoCreateInstance(kServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                        server_.put_void());
    ASSERT_EQ(S_OK, hr) << "CoCreateInstance of the test server returned " << HrText(hr);
}

void Free(OPCITEMSTATE* states, DWORD count) {
    for (DWORD i = 0; states && i < count; ++i) VariantClear(&states[i].vDataValue);
}

void Free(OPCITEMRESULT* results, DWORD count) {
    for (DWORD i = 0; results && i < count; ++i) CoTaskMemFree(results[i].pBlob);
}

void Free(OPCITEMATTRIBUTES* items, DWORD count) {
    for (DWORD i = 0; items && i < count; ++i) {
        CoTaskMemFree(items[i].szAccessPath);
        CoTaskMemFree(items[i].szItemID);
        CoTaskMemFree(items[i].pBlob);
        VariantClear(&items[i].vEUInfo);
    }
}

void Free(VARIANT* values, DWORD count) {
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
}

void Free(LPWSTR* strings, DWORD count) {
    for (DWORD i = 0; strings && i < count; ++i) CoTaskMemFree(strings[i]);
}

}  // namespace marshal
