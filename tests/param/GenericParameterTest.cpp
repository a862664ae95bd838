// The generic layer on its own, as the object model serves it for {AB96C8C1-…}.
#include <gtest/gtest.h>

#include <windows.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "ParamTestSupport.h"
#include "VkObjectParameter.h"

namespace {

using namespace param_test;

class GenericParameterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(com::CreateInstance<vk::vkObjectParameter>(nullptr, IID_VKModelParameter,
                                                             param_.put_void()),
                  S_OK);
    }
    void TearDown() override {
        param_.reset();
        CoUninitialize();
    }
    com::ComPtr<VKModelParameter> param_;
};

TEST_F(GenericParameterTest, HasTheGenericIdentityAndNoDriveProperties) {
    EXPECT_EQ(Name(param_.get()), L"vkObjectParameter");
    CLSID clsid = GUID_NULL;
    ASSERT_EQ(param_.try_query<IPersistStorage>()->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_vkObjectParameter)) << "GetClassID";
    EXPECT_FALSE(param_.try_query<IOV_Parameter>()) << "a generic node is no OV_Parameter";

    auto props = param_.try_query<VKItemProperties>();
    ASSERT_TRUE(props);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(props->QueryAvailableProperties(&count, &ids, &descriptions, &types), S_OK);
    EXPECT_EQ(count, 6u) << "standard properties only";
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    com::UniqueVariant value;
    EXPECT_EQ(props->GetPropertyByName(L"Axolent text", value.put()), E_INVALIDARG)
        << "no extra rows";
}

TEST_F(GenericParameterTest, DataTypeByNameMustBeValid) {
    auto props = param_.try_query<VKItemProperties>();
    EXPECT_EQ(props->SetPropertyByName(L"DataType", *I2(VT_I8).get()), E_INVALIDARG)
        << "DataType VT_I8";
    EXPECT_EQ(props->SetPropertyByName(L"DataType", *I2(VT_R8).get()), S_OK) << "DataType VT_R8";
    com::UniqueVariant type;
    ASSERT_EQ(props->GetPropertyByName(L"DataType", type.put()), S_OK);
    EXPECT_EQ(V_I2(type.get()), VT_R8);
}

}  // namespace
