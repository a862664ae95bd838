// The object model used from the multithreaded apartment, as the interaction
// module uses it: COM hosts the apartment-threaded model in an STA of its own
// and hands out proxies; parameters are created in the model's apartment.
#include <windows.h>

#include <gtest/gtest.h>

#include "ModelTestSupport.h"
#include "TestParameter.h"
#include "com/ComInit.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "vkitemprops.h"

namespace model_test {
namespace {

const wchar_t* const kParam = kTestParameterClsidText;

bool IsProxy(IUnknown* unknown) {
    // Only a standard proxy answers IClientSecurity.
    com::ComPtr<IClientSecurity> security;
    return SUCCEEDED(unknown->QueryInterface(IID_IClientSecurity, security.put_void()));
}

class ModelAcrossApartments : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, com_.hr());
        ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_VKModelObject, root_.put_void()));
    }

    com::ComInitializer com_{COINIT_MULTITHREADED};
    com::ComPtr<VKModelObject> root_;
};

TEST_F(ModelAcrossApartments, TheCallerGetsAProxy) {
    EXPECT_TRUE(IsProxy(root_.get()))
        << "CoCreateInstance(ModelObject) from the MTA returned no proxy";
}

TEST_F(ModelAcrossApartments, BuildFindAndPathThroughProxies) {
    com::ComPtr<VKModelObject> dev = NewObject(root_.get(), L"Dev");
    ASSERT_TRUE(dev);
    com::ComPtr<VKModelParameter> p = NewParameter(dev.get(), L"P", kParam);
    ASSERT_TRUE(p);
    EXPECT_TRUE(IsProxy(p.get())) << "the parameter lives in the model's apartment";
    // The parameter reaches its parent directly in that apartment.
    EXPECT_EQ(L"Dev/P", PathOf(p.get()));
    com::ComPtr<IUnknown> found;
    EXPECT_HR(S_OK, root_->FindParameter(Bstr(L"Dev/P").get(), found.put()));
    EXPECT_TRUE(com::IsSameObject(found.get(), p.get())) << "identity survives the proxies";
    EXPECT_HR(S_OK, root_->FindObject(Bstr(L"Dev").get(), found.put()));
    EXPECT_TRUE(com::IsSameObject(found.get(), dev.get()));
    EXPECT_HR(E_FAIL, root_->FindObject(Bstr(L"Nope").get(), found.put()));

    // An ancestor passed through a proxy arrives as the node itself.
    EXPECT_EQ(L"P", RelativePathOf(p.get(), dev.get()));
    EXPECT_EQ(L"Dev", RelativePathOf(dev.get(), root_.get()));
    com::ComPtr<IUnknown> parent;
    EXPECT_HR(S_OK, p->GetParent(parent.put()));
    EXPECT_TRUE(com::IsSameObject(parent.get(), dev.get()));

    com::UniqueVariant value(7L);
    EXPECT_HR(S_OK, p->SetValue(*value));
    com::UniqueVariant back;
    EXPECT_HR(S_OK, p->GetValue(back.put()));
    EXPECT_EQ(VT_I4, back.vt());
}

TEST_F(ModelAcrossApartments, CollectionsAndReKeyThroughProxies) {
    com::ComPtr<VKModelObject> dev = NewObject(root_.get(), L"Dev");
    com::ComPtr<VKModelParameter> p = NewParameter(dev.get(), L"P", kParam);
    NewParameter(dev.get(), L"R", kParam);
    com::ComPtr<VKModelCollection> parameters;
    ASSERT_HR(S_OK, dev->GetParameters(parameters.put()));
    long count = 0;
    EXPECT_HR(S_OK, parameters->GetCount(&count));
    EXPECT_EQ(2, count);
    com::ComPtr<IUnknown> item;
    EXPECT_HR(S_OK, parameters->GetItem(1, item.put()));
    com::UniqueBstr name;
    EXPECT_HR(S_OK, parameters->NameOf(item.get(), name.put()));
    EXPECT_EQ(L"R", name.str());

    com::ComPtr<VKModelCollectionReKey> rekey;
    ASSERT_HR(S_OK, parameters.query(&rekey)) << "the re-keying interface is marshalled too";
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
              rekey->ReKey(Bstr(L"P").get(), Bstr(L"R").get()));
    // A parameter renaming itself re-keys in its own apartment.
    EXPECT_HR(S_OK, p->SetName(Bstr(L"P2").get()));
    EXPECT_HR(S_OK, root_->FindParameter(Bstr(L"Dev/P2").get(), item.put()));
    EXPECT_TRUE(com::IsSameObject(item.get(), p.get()));
    EXPECT_HR(E_FAIL, p->SetName(Bstr(L"R").get()));

    com::UniqueSafeArray names;
    EXPECT_HR(S_OK, parameters->GetNames(names.put()));
    LONG upper = -1;
    EXPECT_HR(S_OK, ::SafeArrayGetUBound(names.get(), 1, &upper));
    EXPECT_EQ(1, upper);
}

TEST_F(ModelAcrossApartments, DeleteAndClearThroughProxies) {
    com::ComPtr<VKModelObject> dev = NewObject(root_.get(), L"Dev");
    com::ComPtr<VKModelParameter> p = NewParameter(dev.get(), L"P", kParam);
    EXPECT_HR(S_OK, root_->DeleteParameter(Bstr(L"Dev").get()));
    com::ComPtr<IUnknown> found;
    EXPECT_HR(S_FALSE, root_->FindParameter(Bstr(L"Dev/P").get(), found.put()));
    EXPECT_EQ(L"P", PathOf(p.get())) << "held parameter of a removed node";
    com::ComPtr<VKModelObject> bus = NewObject(root_.get(), L"Bus");
    EXPECT_HR(S_OK, root_->Clear());
    EXPECT_EQ(0, CountOf(root_.get(), false));
    EXPECT_EQ(L"", PathOf(bus.get()));
}

TEST_F(ModelAcrossApartments, GenericParameterLivesWithItsNode) {
    com::ComPtr<VKModelObject> dev = NewObject(root_.get(), L"Dev");
    com::ComPtr<IUnknown> made;
    ASSERT_HR(S_OK, dev->CreateParameter(Bstr(L"G").get(), nullptr, made.put()));
    EXPECT_TRUE(IsProxy(made.get()));
    EXPECT_EQ(L"Dev/G", PathOf(made.get()));
    com::ComPtr<VKModelParameter> generic;
    ASSERT_HR(S_OK, made.query(&generic));
    EXPECT_HR(S_OK, generic->SetName(Bstr(L"G2").get()));
    com::ComPtr<IUnknown> found;
    EXPECT_HR(S_OK, root_->FindParameter(Bstr(L"Dev/G2").get(), found.put()));
    EXPECT_TRUE(com::IsSameObject(found.get(), made.get()));
}

TEST_F(ModelAcrossApartments, ItemPropertiesThroughTheProxyDll) {
    com::ComPtr<VKItemProperties> properties;
    ASSERT_HR(S_OK, root_.query(&properties)) << "VKItemProperties needs OrvanePS.dll registered";
    DWORD ids[] = {1, 2, 3};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_HR(S_OK, properties->GetItemProperties(3, ids, &values, &errors));
    ASSERT_TRUE(values && errors);
    for (int i = 0; i < 3; ++i) {
        EXPECT_HR(static_cast<HRESULT>(0xC0040203), errors[i]) << " entry " << i;
    }
    ::CoTaskMemFree(values);
    ::CoTaskMemFree(errors);
    LPWSTR* names = nullptr;
    EXPECT_HR(S_OK, properties->GetPropertyNames(3, ids, &names, &errors));
    ASSERT_TRUE(names && errors);
    EXPECT_EQ(nullptr, names[0]);
    ::CoTaskMemFree(names);
    ::CoTaskMemFree(errors);
}

}  // namespace
}  // namespace model_test
