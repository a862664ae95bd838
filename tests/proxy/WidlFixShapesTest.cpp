// The shapes tools/widlfix.py repairs, called across apartments through their
// generated (and repaired) proxy/stub: an object in a single-threaded apartment,
// called from this multithreaded one.
#include <gtest/gtest.h>

#include <thread>

#include "MarshalTest.h"
#include "com/ComInit.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "widlfix_shapes.h"

extern "C" HRESULT WINAPI ShapesDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" const CLSID CLSID_PSFactoryBuffer;

namespace marshal {
namespace {

#define CHECK_IN(cond)                                     \
    do {                                                   \
        if (!(cond)) return marshal::MismatchHr(__LINE__); \
    } while (0)

class Shapes : public com::Object<IWidlFixShapes> {
public:
    STDMETHODIMP OutString(LPWSTR* text) override {
        return com::CoTaskMemString(L"hinaus äöü", text);
    }
    STDMETHODIMP InOutString(LPWSTR* text) override {
        CHECK_IN(SameString(*text, L"hinein"));
        CoTaskMemFree(*text);
        *text = nullptr;
        return com::CoTaskMemString(LongText(), text);
    }
    STDMETHODIMP InOutUniqueString(LPWSTR* text) override {
        if (!text) return S_FALSE;
        CHECK_IN(SameString(*text, L"eins"));
        CoTaskMemFree(*text);
        *text = nullptr;
        return com::CoTaskMemString(L"zwei", text);
    }
    STDMETHODIMP OutStrings(DWORD count, LPWSTR** texts) override {
        *texts = nullptr;
        CHECK_IN(count == 3);
        com::CoTaskMem<LPWSTR> array;
        RETURN_HR_IF(E_OUTOFMEMORY, !array.alloc(count));
        RETURN_IF_FAILED(com::CoTaskMemString(L"erste", &array[0]));
        RETURN_IF_FAILED(com::CoTaskMemString(L"", &array[2]));  // [1] stays NULL
        *texts = array.release();
        return S_OK;
    }
    STDMETHODIMP InVariants(DWORD count, VARIANT* values) override {
        CHECK_IN(count == 3);
        CHECK_IN(V_VT(&values[0]) == VT_I4 && V_I4(&values[0]) == -7);
        CHECK_IN(V_VT(&values[1]) == VT_BSTR && SameString(V_BSTR(&values[1]), L"sieben"));
        CHECK_IN(V_VT(&values[2]) == VT_EMPTY);
        return S_OK;
    }
    STDMETHODIMP InVariant(VARIANT* value) override {
        CHECK_IN(V_VT(value) == VT_BSTR && SameString(V_BSTR(value), L"acht"));
        return S_OK;
    }
};

// Makes the repaired proxy/stub this apartment's marshaller for IWidlFixShapes.
class ShapesProxyRegistration {
public:
    ShapesProxyRegistration() {
        com::ComPtr<IUnknown> factory;
        hr_ = ShapesDllGetClassObject(CLSID_PSFactoryBuffer, IID_IUnknown, factory.put_void());
        if (SUCCEEDED(hr_))
            hr_ = CoRegisterClassObject(CLSID_PSFactoryBuffer, factory.get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_);
        if (SUCCEEDED(hr_)) hr_ = CoRegisterPSClsid(IID_IWidlFixShapes, CLSID_PSFactoryBuffer);
    }
    ~ShapesProxyRegistration() {
        if (cookie_) CoRevokeClassObject(cookie_);
    }
    HRESULT hr() const { return hr_; }

private:
    HRESULT hr_;
    DWORD cookie_ = 0;
};

// Hosts a Shapes object in a single-threaded apartment until destroyed.
class ApartmentHost {
public:
    ApartmentHost() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this] { Run(); });
        WaitForSingleObject(ready_, 10000);
    }
    ~ApartmentHost() {
        PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
        thread_.join();
        CloseHandle(ready_);
    }
    HRESULT hr() const { return hr_; }
    // The object, unmarshalled into the calling apartment (once).
    HRESULT Take(IWidlFixShapes** shapes) {
        IStream* stream = stream_;
        stream_ = nullptr;
        if (!stream) return E_UNEXPECTED;
        return CoGetInterfaceAndReleaseStream(stream, IID_IWidlFixShapes,
                                              reinterpret_cast<void**>(shapes));
    }

private:
    void Run() {
        com::ComInitializer com(COINIT_APARTMENTTHREADED);
        thread_id_ = GetCurrentThreadId();
        MSG msg;
        PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue for WM_QUIT
        ShapesProxyRegistration registration;
        com::ComPtr<IWidlFixShapes> shapes;
        hr_ = registration.hr();
        if (SUCCEEDED(hr_))
            hr_ = com::CreateInstance<Shapes>(nullptr, IID_IWidlFixShapes, shapes.put_void());
        if (SUCCEEDED(hr_))
            hr_ = CoMarshalInterThreadInterfaceInStream(IID_IWidlFixShapes, shapes.get(), &stream_);
        SetEvent(ready_);
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }

    HANDLE ready_;
    std::thread thread_;
    DWORD thread_id_ = 0;
    HRESULT hr_ = E_FAIL;
    IStream* stream_ = nullptr;
};

TEST(WidlFixShapes, StringsThroughPointersCrossApartments) {
    ShapesProxyRegistration registration;
    ASSERT_HR(S_OK, registration.hr());
    ApartmentHost host;
    ASSERT_HR(S_OK, host.hr());
    com::ComPtr<IWidlFixShapes> shapes;
    ASSERT_HR(S_OK, host.Take(shapes.put()));

    LPWSTR text = nullptr;
    EXPECT_HR(S_OK, shapes->OutString(&text));
    EXPECT_STREQ(L"hinaus äöü", text) << "[out, string] LPWSTR*";
    CoTaskMemFree(text);

    com::CoTaskMemString(L"hinein", &text);
    EXPECT_HR(S_OK, shapes->InOutString(&text));
    EXPECT_EQ(LongText(), text ? std::wstring(text) : L"<null>") << "[in, out, string] LPWSTR*";
    CoTaskMemFree(text);

    EXPECT_HR(S_FALSE, shapes->InOutUniqueString(nullptr));
    com::CoTaskMemString(L"eins", &text);
    EXPECT_HR(S_OK, shapes->InOutUniqueString(&text));
    EXPECT_STREQ(L"zwei", text) << "[in, out, unique, string] LPWSTR*";
    CoTaskMemFree(text);

    LPWSTR* texts = nullptr;
    ASSERT_HR(S_OK, shapes->OutStrings(3, &texts));
    ASSERT_NE(nullptr, texts) << "[out, string, size_is(,count)] LPWSTR**";
    EXPECT_STREQ(L"erste", texts[0]);
    EXPECT_EQ(nullptr, texts[1]);
    EXPECT_STREQ(L"", texts[2]);
    Free(texts, 3);
    CoTaskMemFree(texts);
}

TEST(WidlFixShapes, InVariantsCrossApartments) {
    ShapesProxyRegistration registration;
    ASSERT_HR(S_OK, registration.hr());
    ApartmentHost host;
    ASSERT_HR(S_OK, host.hr());
    com::ComPtr<IWidlFixShapes> shapes;
    ASSERT_HR(S_OK, host.Take(shapes.put()));

    com::UniqueVariant values[3];
    V_VT(values[0].get()) = VT_I4;
    V_I4(values[0].get()) = -7;
    values[1] = com::UniqueVariant(std::wstring_view(L"sieben"));
    VARIANT array[3] = {*values[0], *values[1], *values[2]};
    EXPECT_HR(S_OK, shapes->InVariants(3, array));
    com::UniqueVariant single(std::wstring_view(L"acht"));
    EXPECT_HR(S_OK, shapes->InVariant(single.get()));
}

}  // namespace
}  // namespace marshal
