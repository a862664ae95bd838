// What a client in another apartment sees: the node behind a proxy, its German
// error information read back through IErrorInfo, and the change notifications.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <thread>

#include "NotImplemented.h"
#include "com/Bstr.h"
#include "com/ClassFactory.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "ParamTestSupport.h"

namespace {

using namespace param_test;

// Runs body on a thread of the multithreaded apartment: an apartment-threaded
// node created there lives in COM's host apartment and is reached through a proxy.
template <class Body>
void RunInMta(Body body) {
    std::thread thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        body();
        CoUninitialize();
    });
    thread.join();
}

struct ClientError {
    HRESULT hr = E_FAIL;
    std::wstring description;
    GUID guid = GUID_NULL;
    std::wstring source;
};

ClientError ReadErrorInfo(HRESULT hr) {
    ClientError error;
    error.hr = hr;
    com::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) {
        error.description = L"<none>";
        return error;
    }
    com::UniqueBstr text;
    info->GetDescription(text.put());
    error.description = text.str();
    info->GetGUID(&error.guid);
    info->GetSource(text.put());
    error.source = text.str();
    return error;
}

// Wine 8's COM runtime does not carry error information across apartment or
// process boundaries (Windows does); the texts can then only be checked where
// the node lives.
bool ErrorInfoCrossesApartments() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

std::wstring GenericProgId() {
    LPOLESTR prog_id = nullptr;
    if (FAILED(ProgIDFromCLSID(CLSID_vkObjectParameter, &prog_id))) return L"";
    std::wstring text = prog_id;
    CoTaskMemFree(prog_id);
    return text;
}

TEST(CrossApartment, ClientReadsTheGermanTextsThroughIErrorInfo) {
    ClientError out_of_range, bad_type, min_above_max;
    bool is_proxy = false;
    HRESULT supports = E_FAIL;
    RunInMta([&] {
        com::ComPtr<VKModelParameter> param;
        const HRESULT hr = CoCreateInstance(CLSID_OV_Parameter, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_VKModelParameter, param.put_void());
        ASSERT_EQ(hr, S_OK) << "CoCreateInstance(OV_Parameter) from the MTA returned " << std::hex
                            << hr;
        is_proxy = static_cast<bool>(param.try_query<IClientSecurity>());
        ASSERT_EQ(param->SetDataType(VT_I2, *I2(0).get()), S_OK);
        ASSERT_EQ(param->SetMin(*I2(0).get()), S_OK);
        ASSERT_EQ(param->SetMax(*I2(3).get()), S_OK);
        out_of_range = ReadErrorInfo(param->SetValue(*I2(5).get()));
        bad_type = ReadErrorInfo(param->SetDataType(VT_I8, *I2(0).get()));
        min_above_max = ReadErrorInfo(param->SetMin(*I2(10).get()));
        if (auto support = param.try_query<ISupportErrorInfo>())
            supports = support->InterfaceSupportsErrorInfo(IID_VKModelParameter);
    });
    EXPECT_TRUE(is_proxy) << "the node was not reached through a proxy";
    EXPECT_EQ(supports, S_OK) << "ISupportErrorInfo(VKModelParameter) through the proxy";
    EXPECT_EQ(out_of_range.hr, S_OK) << "SetValue(5) with range 0..3";
    EXPECT_EQ(bad_type.hr, E_INVALIDARG) << "SetDataType(VT_I8)";
    EXPECT_EQ(min_above_max.hr, S_FALSE) << "SetMin(10) with Max 3";
    if (!ErrorInfoCrossesApartments())
        GTEST_SKIP() << "this COM runtime keeps error information in the node's apartment";

    EXPECT_EQ(out_of_range.description,
              L"Der Wert 5 liegt nicht\nim erlaubten Bereich\nvon 0 bis 3.");
    EXPECT_TRUE(IsEqualGUID(out_of_range.guid, IID_VKModelParameter)) << "GetGUID";
    EXPECT_EQ(out_of_range.source, GenericProgId()) << "GetSource";

    EXPECT_EQ(bad_type.description, L"Der Datentyp 20 ist nicht g\u00fcltig!");

    EXPECT_EQ(min_above_max.description,
              L"Das Minimum darf nicht gr\u00f6\u00dfer sein,\nals das Maximum von 3.");
}

TEST(CrossApartment, ItemPropertiesCrossTheApartment) {
    DWORD count = 0;
    DWORD seventh = 0;
    std::wstring description;
    HRESULT errors[3] = {};
    SHORT value = 0;
    RunInMta([&] {
        com::ComPtr<VKItemProperties> props;
        ASSERT_EQ(CoCreateInstance(CLSID_OV_Parameter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_VKItemProperties, props.put_void()),
                  S_OK);
        DWORD* ids = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        ASSERT_EQ(props->QueryAvailableProperties(&count, &ids, &descriptions, &types), S_OK);
        ASSERT_GE(count, 7u);
        seventh = ids[6];
        description = descriptions[6];
        for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);

        EXPECT_TRUE(props.try_query<IOV_Parameter>()) << "IOV_Parameter through the proxy";
        auto param = props.try_query<VKModelParameter>();
        ASSERT_TRUE(param);
        ASSERT_EQ(param->SetValue(*I2(-4).get()), S_OK);
        DWORD wanted[] = {5001, 7, 2};
        VARIANT* values = nullptr;
        HRESULT* results = nullptr;
        ASSERT_EQ(props->GetItemProperties(3, wanted, &values, &results), S_OK);
        std::copy(results, results + 3, errors);
        value = V_I2(&values[2]);
        for (int i = 0; i < 3; ++i) VariantClear(&values[i]);
        CoTaskMemFree(values);
        CoTaskMemFree(results);
    });
    EXPECT_EQ(count, 22u) << "QueryAvailableProperties count";
    EXPECT_EQ(seventh, 5001u);
    EXPECT_EQ(description, L"text for parameter according to Axolent specification");
    EXPECT_EQ(errors[0], kFromDevice) << "5001";
    EXPECT_EQ(errors[1], kOpcInvalidPid) << "7";
    EXPECT_EQ(errors[2], S_OK) << "2";
    EXPECT_EQ(value, -4) << "current value through GetItemProperties";
}

TEST(CrossApartment, ParentFromAnotherApartmentIsRefused) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    // A model node that lives in COM's host apartment, handed to this one as a proxy.
    IStream* stream = nullptr;
    RunInMta([&] {
        com::ComPtr<VKModelObject> root;
        ASSERT_EQ(CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_VKModelObject, root.put_void()),
                  S_OK);
        ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_VKModelObject, root.get(), &stream),
                  S_OK);
    });
    ASSERT_NE(stream, nullptr);
    com::ComPtr<VKModelObject> remote_root;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_VKModelObject, remote_root.put_void()),
              S_OK);
    com::ComPtr<VKModelParameter> param;
    ASSERT_EQ(CoCreateInstance(CLSID_OV_Parameter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_VKModelParameter, param.put_void()),
              S_OK);
    EXPECT_EQ(param->SetParent(remote_root.get()), RPC_E_WRONG_THREAD) << "SetParent(proxy)";
    com::ComPtr<IUnknown> parent;
    EXPECT_EQ(param->GetParent(parent.put()), E_POINTER) << "a refused parent was kept";
    param.reset();
    remote_root.reset();
    CoUninitialize();
}

// --- change notifications -------------------------------------------------------

struct Notifications {
    int attribute_changes = 0;
    int value_changes = 0;
    IUnknown* last_object = nullptr;  // compared only, never called
    com::UniqueVariant last_value;
};
Notifications g_notifications;

// Stands in for the object model's notifier, registered for this process only.
class RecordingNotifier
    : public com::Object<test_support::NotImplementedDispatch<VKChangeNotifier>> {
public:
    STDMETHODIMP Advise(IUnknown*, long*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(long) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectCreated(IUnknown*) override { return S_OK; }
    STDMETHODIMP OnObjectDeleted(IUnknown*) override { return S_OK; }
    STDMETHODIMP BeginUpdate() override { return S_OK; }
    STDMETHODIMP EndUpdate() override { return S_OK; }
    STDMETHODIMP OnValueChanged(IUnknown* pObject, VARIANT vNewValue) override {
        ++g_notifications.value_changes;
        g_notifications.last_object = pObject;
        return g_notifications.last_value.copy_from(vNewValue);
    }
    STDMETHODIMP OnAttributeChanged(IUnknown* pObject) override {
        ++g_notifications.attribute_changes;
        g_notifications.last_object = pObject;
        return S_OK;
    }
};

class NotificationTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        com::ComPtr<IClassFactory> factory;
        ASSERT_EQ(com::CreateClassFactory<com::ClassFactory<RecordingNotifier>>(
                      com::ModuleLockPolicy::kNone, factory.put()),
                  S_OK);
        ASSERT_EQ(CoRegisterClassObject(CLSID_ChangeNotifier, factory.get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_OV_Parameter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_VKModelParameter, param_.put_void()),
                  S_OK);
        g_notifications = Notifications();
    }
    void TearDown() override {
        param_.reset();
        if (cookie_) CoRevokeClassObject(cookie_);
        g_notifications = Notifications();
        CoUninitialize();
    }

    IUnknown* Identity() {
        com::ComPtr<IUnknown> identity;
        param_->QueryInterface(IID_IUnknown, identity.put_void());
        return identity.get();  // the node holds its own reference
    }

    DWORD cookie_ = 0;
    com::ComPtr<VKModelParameter> param_;
};

TEST_F(NotificationTest, SettersTellTheNotifier) {
    ASSERT_EQ(param_->SetTag(5), S_OK);
    com::UniqueBstr text(L"%d");
    ASSERT_EQ(param_->SetFormat(text.get()), S_OK);
    EXPECT_EQ(g_notifications.attribute_changes, 2) << "SetTag and SetFormat";
    EXPECT_EQ(g_notifications.last_object, Identity()) << "notified with the node's identity";

    ASSERT_EQ(param_->SetValue(*I2(17).get()), S_OK);
    EXPECT_EQ(g_notifications.value_changes, 1) << "SetValue";
    EXPECT_EQ(g_notifications.last_value.vt(), VT_I2);
    EXPECT_EQ(V_I2(g_notifications.last_value.get()), 17) << "value passed to OnValueChanged";
    EXPECT_EQ(g_notifications.attribute_changes, 2) << "SetValue sends no attribute notification";
}

TEST_F(NotificationTest, FailedStoreStillNotifiesAndPropertiesByNameDoNot) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(1).get()), S_OK);
    EXPECT_EQ(param_->SetValue(*Text(L"abc").get()), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(g_notifications.value_changes, 1) << "a failed store still notifies";
    EXPECT_EQ(g_notifications.last_value.vt(), VT_EMPTY) << "with the emptied value";

    const int before = g_notifications.attribute_changes;
    auto props = param_.try_query<VKItemProperties>();
    ASSERT_EQ(props->SetPropertyByName(L"Quality", *I2(192).get()), S_OK);
    ASSERT_EQ(props->SetPropertyByName(L"CurrentVal", *I2(3).get()), S_OK);
    EXPECT_EQ(g_notifications.attribute_changes, before) << "writes by name do not notify";
    EXPECT_EQ(g_notifications.value_changes, 1) << "writes by name do not notify";
}

}  // namespace
