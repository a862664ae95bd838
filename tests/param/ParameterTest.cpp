// OV_Parameter as the drive interaction and the object model use it: created
// through COM in the caller's apartment.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "ParamTestSupport.h"

namespace {

using namespace param_test;

class ParameterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        const HRESULT hr = CoCreateInstance(CLSID_OV_Parameter, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_VKModelParameter, param_.put_void());
        ASSERT_EQ(hr, S_OK) << "CoCreateInstance(OV_Parameter) returned " << std::hex << hr;
        ASSERT_EQ(param_.query(&props_), S_OK) << "QueryInterface(VKItemProperties)";
        ClearError();
    }
    void TearDown() override {
        props_.reset();
        param_.reset();
        CoUninitialize();
    }

    // DataType VT_I2 with the given bounds.
    void MakeI2Range(SHORT min, SHORT max) {
        ASSERT_EQ(param_->SetDataType(VT_I2, *I2(0).get()), S_OK);
        ASSERT_EQ(param_->SetMin(*I2(min).get()), S_OK);
        ASSERT_EQ(param_->SetMax(*I2(max).get()), S_OK);
        ClearError();
    }

    com::UniqueVariant Value() {
        com::UniqueVariant value;
        EXPECT_EQ(param_->GetValue(value.put()), S_OK) << "GetValue";
        return value;
    }

    com::ComPtr<VKModelParameter> param_;
    com::ComPtr<VKItemProperties> props_;
};

// --- defaults and interfaces ------------------------------------------------

TEST_F(ParameterTest, NewNodeHasItsDefaults) {
    EXPECT_EQ(Name(param_.get()), L"OV_Parameter");
    com::UniqueBstr text;
    ASSERT_EQ(param_->GetAccessPath(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"intern") << "GetAccessPath";
    ASSERT_EQ(param_->GetFormat(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"%s") << "GetFormat";
    ASSERT_EQ(param_->GetInteractionCLSID(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"{00000000-0000-0000-0000-000000000000}") << "GetInteractionCLSID";
    long number = -1;
    ASSERT_EQ(param_->GetAccessRights(&number), S_OK);
    EXPECT_EQ(number, 3) << "GetAccessRights";
    ASSERT_EQ(param_->GetTag(&number), S_OK);
    EXPECT_EQ(number, 0) << "GetTag";
    unsigned short flags = 1;
    ASSERT_EQ(param_->GetFlags(&flags), S_OK);
    EXPECT_EQ(flags, 0) << "GetFlags";

    com::UniqueVariant default_value;
    long rights = 0;
    VARTYPE vt = VT_ILLEGAL;
    ASSERT_EQ(param_->GetInit(text.put(), &rights, &vt, default_value.put()), S_OK);
    EXPECT_EQ(vt, VT_EMPTY) << "GetInit data type";
    EXPECT_EQ(default_value.vt(), VT_EMPTY) << "GetInit default";
    EXPECT_EQ(Value().vt(), VT_EMPTY) << "GetValue";

    auto persist = param_.try_query<IPersistStorage>();
    ASSERT_TRUE(persist) << "QueryInterface(IPersistStorage)";
    EXPECT_EQ(persist->IsDirty(), S_FALSE) << "IsDirty of a new node";
    CLSID clsid = GUID_NULL;
    ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_OV_Parameter)) << "GetClassID";
}

TEST_F(ParameterTest, AnswersItsInterfacesWithOneIdentity) {
    com::ComPtr<IOV_Parameter> marker;
    ASSERT_EQ(param_.query(&marker), S_OK) << "QueryInterface(IOV_Parameter)";
    com::ComPtr<IDispatch> dispatch;
    ASSERT_EQ(param_.query(&dispatch), S_OK) << "QueryInterface(IDispatch)";
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(marker.get()))
        << "IDispatch must be IOV_Parameter";
    com::ComPtr<VKModelParameter2> second;
    ASSERT_EQ(param_.query(&second), S_OK) << "QueryInterface(VKModelParameter2)";
    EXPECT_EQ(static_cast<void*>(second.get()), static_cast<void*>(param_.get()))
        << "VKModelParameter2 shares VKModelParameter's method table";

    com::ComPtr<IUnknown> identity;
    ASSERT_EQ(param_->GetIdentity(identity.put()), S_OK) << "GetIdentity";
    EXPECT_TRUE(com::IsSameObject(identity.get(), props_.get())) << "GetIdentity is not the node";

    auto support = param_.try_query<ISupportErrorInfo>();
    ASSERT_TRUE(support) << "QueryInterface(ISupportErrorInfo)";
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_VKModelParameter), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_VKModelParameter2), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPersistStorage), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_VKItemProperties), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IOV_Parameter), S_FALSE);
}

TEST_F(ParameterTest, DispatchRunsOnTheModelParameterTypeInformation) {
    // VKModelParameter's own IDispatch, not the one QueryInterface gives.
    IDispatch* dispatch = param_.get();
    LPOLESTR name = const_cast<LPOLESTR>(L"SetTag");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << "GetIDsOfNames(SetTag)";
    EXPECT_EQ(id, 12) << "dispid of SetTag";
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_I4;
    V_I4(&argument) = 42;
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    ASSERT_EQ(
        dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
        S_OK)
        << "Invoke(SetTag, 42)";
    long tag = 0;
    ASSERT_EQ(param_->GetTag(&tag), S_OK);
    EXPECT_EQ(tag, 42) << "GetTag after Invoke(SetTag)";
    ITypeInfo* info = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK) << "GetTypeInfo";
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_VKModelParameter2))
        << "type information is not VKModelParameter2's";
    info->ReleaseTypeAttr(attributes);
    info->Release();
}

TEST_F(ParameterTest, NullResultPointersAreReported) {
    EXPECT_EQ(param_->GetName(nullptr), E_POINTER) << "GetName(nullptr)";
    EXPECT_EQ(ErrorText(),
              L"Die \u00fcbergebene Adresse\nf\u00fcr den R\u00fcckgabewert\nzeigt auf NULL!");
    com::UniqueBstr path;
    long rights = 0;
    VARTYPE vt = 0;
    EXPECT_EQ(param_->GetInit(path.put(), &rights, &vt, nullptr), E_POINTER)
        << "GetInit without default";
    EXPECT_EQ(param_->GetValue(nullptr), E_POINTER) << "GetValue(nullptr)";
    EXPECT_EQ(param_->GetIdentity(nullptr), E_POINTER) << "GetIdentity(nullptr)";
}

TEST_F(ParameterTest, InteractionClsidIsParsedOrLeftAlone) {
    com::UniqueBstr clsid(L"{4A2FA548-6DB4-11D3-BD68-00105A3185C3}");
    ASSERT_EQ(param_->SetInteractionCLSID(clsid.get()), S_OK);
    com::UniqueBstr text;
    ASSERT_EQ(param_->GetInteractionCLSID(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"{4A2FA548-6DB4-11D3-BD68-00105A3185C3}");
    com::UniqueBstr bad(L"{not a guid}");
    EXPECT_TRUE(FAILED(param_->SetInteractionCLSID(bad.get())))
        << "SetInteractionCLSID({not a guid})";
    EXPECT_EQ(ErrorText(), L"Beim Lesen der ClsID aus einen String ist ein Fehler aufgetreten!");
    ASSERT_EQ(param_->GetInteractionCLSID(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"{4A2FA548-6DB4-11D3-BD68-00105A3185C3}")
        << "a failed parse changed the field";
}

// --- item properties -----------------------------------------------------------

TEST_F(ParameterTest, QueryAvailablePropertiesListsStandardAndDriveRows) {
    ASSERT_EQ(param_->SetDataType(VT_R4, *I2(0).get()), S_OK);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(props_->QueryAvailableProperties(&count, &ids, &descriptions, &types), S_OK);
    ASSERT_EQ(count, 22u) << "QueryAvailableProperties count";
    for (DWORD i = 0; i < 6; ++i) EXPECT_EQ(ids[i], i + 1) << "entry " << i;
    EXPECT_STREQ(descriptions[0], L"Item Canonical Data Type");
    EXPECT_EQ(types[1], VT_R4) << "the value's type is the node's DataType";
    EXPECT_EQ(types[3], VT_DATE);
    EXPECT_EQ(ids[6], 5001u) << "seventh entry";
    EXPECT_STREQ(descriptions[6], L"text for parameter according to Axolent specification");
    EXPECT_EQ(ids[21], 5016u);
    EXPECT_EQ(types[21], VT_ARRAY | VT_UI1);
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);

    EXPECT_EQ(props_->QueryAvailableProperties(&count, &ids, nullptr, &types), E_INVALIDARG);
    EXPECT_EQ(ErrorText(),
              L"Die \u00fcbergebene Adresse\nf\u00fcr den R\u00fcckgabewert\nzeigt auf NULL!");
}

TEST_F(ParameterTest, GetItemPropertiesAnswersPerId) {
    ASSERT_EQ(param_->SetValue(*I2(42).get()), S_OK);
    DWORD ids[] = {5001, 7, 2, 5, 5006};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(props_->GetItemProperties(5, ids, &values, &errors), S_OK) << "GetItemProperties";
    EXPECT_EQ(V_VT(&values[0]), VT_EMPTY);
    EXPECT_EQ(errors[0], kFromDevice) << "5001 comes from the drive";
    EXPECT_EQ(V_VT(&values[1]), VT_EMPTY);
    EXPECT_EQ(errors[1], kOpcInvalidPid) << "id 7";
    EXPECT_EQ(errors[2], S_OK) << "id 2";
    EXPECT_EQ(V_VT(&values[2]), VT_I2);
    EXPECT_EQ(V_I2(&values[2]), 42);
    EXPECT_EQ(V_VT(&values[3]), VT_I4);
    EXPECT_EQ(V_I4(&values[3]), 3) << "id 5, access rights";
    EXPECT_EQ(errors[4], kFromDevice) << "5006";
    for (int i = 0; i < 5; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);

    EXPECT_EQ(props_->GetItemProperties(0, ids, &values, &errors), E_INVALIDARG) << "count 0";
    EXPECT_EQ(props_->GetItemProperties(1, nullptr, &values, &errors), E_INVALIDARG) << "no ids";
}

TEST_F(ParameterTest, GetPropertyNamesGivesShortAndRowNames) {
    DWORD ids[] = {1, 5006, 100};
    LPWSTR* names = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(props_->GetPropertyNames(3, ids, &names, &errors), S_OK);
    EXPECT_STREQ(names[0], L"DataType");
    EXPECT_STREQ(names[1], L"Axolent size index");
    EXPECT_EQ(names[2], nullptr) << "id 100 is not served";
    EXPECT_EQ(errors[2], kOpcInvalidPid);
    for (int i = 0; i < 3; ++i) CoTaskMemFree(names[i]);
    CoTaskMemFree(names);
    CoTaskMemFree(errors);
}

TEST_F(ParameterTest, PropertyByNameFollowsTheTables) {
    com::UniqueVariant value;
    EXPECT_EQ(props_->GetPropertyByName(L"Units", value.put()), kOpcInvalidPid) << "Units";
    EXPECT_EQ(props_->GetPropertyByName(L"NoSuchProperty", value.put()), E_INVALIDARG);
    EXPECT_EQ(props_->GetPropertyByName(L"quality", value.put()), E_INVALIDARG)
        << "names are case-sensitive";
    EXPECT_EQ(props_->GetPropertyByName(L"Axolent text", value.put()), kFromDevice);
    EXPECT_EQ(value.vt(), VT_EMPTY);
    com::UniqueVariant byte_value;
    V_VT(byte_value.get()) = VT_UI1;
    EXPECT_EQ(props_->SetPropertyByName(L"Axolent size index", *byte_value.get()), E_ACCESSDENIED);
    EXPECT_EQ(props_->SetPropertyByName(L"Axolent text", *Text(L"x").get()), kFromDevice);
    EXPECT_EQ(props_->GetPropertyByName(L"AccRights", value.put()), S_OK);
    EXPECT_EQ(value.vt(), VT_I4);
    EXPECT_EQ(V_I4(value.get()), 3);
}

TEST_F(ParameterTest, QualityByNameNeedsI2) {
    EXPECT_EQ(props_->SetPropertyByName(L"Quality", *I4(192).get()), E_INVALIDARG) << "VT_I4 192";
    ASSERT_EQ(props_->SetPropertyByName(L"Quality", *I2(192).get()), S_OK) << "VT_I2 192";
    DWORD id = 3;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(props_->GetItemProperties(1, &id, &values, &errors), S_OK);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(V_VT(&values[0]), VT_I2);
    EXPECT_EQ(V_I2(&values[0]), 192) << "quality after SetPropertyByName";
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
}

TEST_F(ParameterTest, WritesByNameStoreWithoutChecks) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(0).get()), S_OK);
    com::UniqueVariant date;
    V_VT(date.get()) = VT_DATE;
    V_DATE(date.get()) = 45000.5;
    ASSERT_EQ(props_->SetPropertyByName(L"TimeStamp", *date.get()), S_OK);
    com::UniqueVariant read;
    ASSERT_EQ(props_->GetPropertyByName(L"TimeStamp", read.put()), S_OK);
    EXPECT_EQ(read.vt(), VT_DATE);
    EXPECT_DOUBLE_EQ(V_DATE(read.get()), 45000.5) << "TimeStamp round trip";
    ASSERT_EQ(props_->SetPropertyByName(L"CurrentVal", *Text(L"no check").get()), S_OK);
    EXPECT_EQ(Value().vt(), VT_BSTR) << "CurrentVal is stored unchanged";
}

// --- value checks -------------------------------------------------------------

TEST_F(ParameterTest, ValueOutOfRangeIsStoredAndExplained) {
    MakeI2Range(0, 3);
    EXPECT_EQ(param_->SetValue(*I2(5).get()), S_OK) << "SetValue(5)";
    com::UniqueVariant value = Value();
    EXPECT_EQ(value.vt(), VT_I2);
    EXPECT_EQ(V_I2(value.get()), 5) << "the value is stored anyway";
    EXPECT_EQ(ErrorText(), L"Der Wert 5 liegt nicht\nim erlaubten Bereich\nvon 0 bis 3.");

    ClearError();
    EXPECT_EQ(param_->SetValue(*I2(3).get()), S_OK) << "SetValue(3)";
    EXPECT_EQ(ErrorText(), L"<none>") << "a value in range reports nothing";
}

TEST_F(ParameterTest, ValueOfAnotherTypeIsConverted) {
    MakeI2Range(0, 100);
    EXPECT_EQ(param_->SetValue(*I4(7).get()), S_OK) << "SetValue(VT_I4 7)";
    com::UniqueVariant value = Value();
    EXPECT_EQ(value.vt(), VT_I2) << "stored in the parameter's type";
    EXPECT_EQ(V_I2(value.get()), 7);
    EXPECT_EQ(ErrorText(),
              L"Der Datentyp VT_I4 des Wertes \nstimmt nicht mit dem vorgesehenen Typ VT_I2\n"
              L"des Parameters \u00fcberein.");
}

TEST_F(ParameterTest, InconvertibleValueLeavesValueEmpty) {
    MakeI2Range(0, 100);
    ASSERT_EQ(param_->SetValue(*I2(1).get()), S_OK);
    EXPECT_EQ(param_->SetValue(*Text(L"abc").get()), DISP_E_TYPEMISMATCH) << "SetValue(\"abc\")";
    EXPECT_EQ(Value().vt(), VT_EMPTY) << "a failed store leaves Value empty";
    EXPECT_EQ(ErrorText(),
              L"Der Variant vom Typ VT_I2 konnte nicht in den Typ VT_BSTR konvertiert werden.");
}

TEST_F(ParameterTest, FirstValueAdoptsItsType) {
    EXPECT_EQ(param_->SetValue(*I4(9).get()), S_OK);
    com::UniqueBstr path;
    long rights = 0;
    VARTYPE vt = VT_EMPTY;
    com::UniqueVariant default_value;
    ASSERT_EQ(param_->GetInit(path.put(), &rights, &vt, default_value.put()), S_OK);
    EXPECT_EQ(vt, VT_I4) << "DataType after the first SetValue";
    EXPECT_EQ(ErrorText(),
              L"Der Datentyp VT_I4 des Wertes \nstimmt nicht mit dem vorgesehenen Typ VT_EMPTY\n"
              L"des Parameters \u00fcberein.");
}

TEST_F(ParameterTest, ByReferenceValueIsCopiedNotReferenced) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(0).get()), S_OK);
    SHORT number = 4;
    VARIANT reference;
    VariantInit(&reference);
    V_VT(&reference) = VT_BYREF | VT_I2;
    V_I2REF(&reference) = &number;
    EXPECT_EQ(param_->SetValue(reference), S_OK);
    number = 99;
    com::UniqueVariant value = Value();
    EXPECT_EQ(value.vt(), VT_I2) << "no reference into the caller's memory is kept";
    EXPECT_EQ(V_I2(value.get()), 4);
}

TEST_F(ParameterTest, MinimumAboveMaximumIsStoredAndExplained) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(0).get()), S_OK);
    ASSERT_EQ(param_->SetMax(*I2(5).get()), S_OK);
    EXPECT_EQ(param_->SetMin(*I2(10).get()), S_FALSE) << "SetMin(10) with Max 5";
    com::UniqueVariant min;
    ASSERT_EQ(param_->GetMin(min.put()), S_OK);
    EXPECT_EQ(V_I2(min.get()), 10) << "GetMin";
    EXPECT_EQ(ErrorText(),
              L"Das Minimum darf nicht gr\u00f6\u00dfer sein,\nals das Maximum von 5.");

    EXPECT_EQ(param_->SetMax(*I2(2).get()), S_FALSE) << "SetMax(2) with Min 10";
    EXPECT_EQ(ErrorText(), L"Das Maximum darf nicht kleiner sein,\nals das Minimum von 10.");
}

TEST_F(ParameterTest, MinimumAgainstUnsetMaximumComparesWithZero) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(0).get()), S_OK);
    EXPECT_EQ(param_->SetMin(*I2(1).get()), S_FALSE) << "SetMin(1) with Max unset";
    EXPECT_EQ(ErrorText(),
              L"Das Minimum darf nicht gr\u00f6\u00dfer sein,\nals das Maximum von 0.");
}

TEST_F(ParameterTest, BoundOfAnotherTypeIsStoredAndExplained) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(0).get()), S_OK);
    EXPECT_EQ(param_->SetMax(*I4(5).get()), S_FALSE) << "SetMax(VT_I4)";
    EXPECT_EQ(ErrorText(),
              L"Der Datentyp VT_I4 des Maximums \nstimmt nicht mit dem vorgesehenen Typ VT_I2\n"
              L"des Parameters \u00fcberein.");
    com::UniqueVariant max;
    ASSERT_EQ(param_->GetMax(max.put()), S_OK);
    EXPECT_EQ(max.vt(), VT_I4) << "the bound is kept as given";
    // The range check converts the bound instead of reading its raw bits.
    ClearError();
    EXPECT_EQ(param_->SetValue(*I2(6).get()), S_OK);
    EXPECT_EQ(ErrorText(), L"Der Wert 6 liegt nicht\nim erlaubten Bereich\nvon  bis 5.");
}

TEST_F(ParameterTest, ArrayTypeWithoutDefaultGetsEmptyArrays) {
    ASSERT_EQ(param_->SetDataType(VT_ARRAY | VT_UI1, com::UniqueVariant().release()), S_OK);
    com::UniqueVariant value = Value();
    com::UniqueBstr path;
    long rights = 0;
    VARTYPE vt = 0;
    com::UniqueVariant default_value;
    ASSERT_EQ(param_->GetInit(path.put(), &rights, &vt, default_value.put()), S_OK);
    EXPECT_EQ(vt, VT_ARRAY | VT_UI1);
    for (const com::UniqueVariant* v : {&value, &default_value}) {
        ASSERT_EQ(v->vt(), VT_ARRAY | VT_UI1);
        SAFEARRAY* array = V_ARRAY(v->get());
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(SafeArrayGetDim(array), 1u);
        LONG lower = -1, upper = 0;
        SafeArrayGetLBound(array, 1, &lower);
        SafeArrayGetUBound(array, 1, &upper);
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, -1) << "no elements";
    }
}

TEST_F(ParameterTest, InvalidDataTypeIsRefused) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *I2(3).get()), S_OK);
    EXPECT_EQ(param_->SetDataType(VT_I8, *I2(0).get()), E_INVALIDARG) << "SetDataType(VT_I8)";
    EXPECT_EQ(ErrorText(), L"Der Datentyp 20 ist nicht g\u00fcltig!");
    EXPECT_EQ(param_->SetDataType(VT_VECTOR | VT_I2, *I2(0).get()), E_INVALIDARG)
        << "VT_VECTOR|VT_I2";
    com::UniqueVariant value = Value();
    EXPECT_EQ(value.vt(), VT_I2) << "nothing changed";
    EXPECT_EQ(V_I2(value.get()), 3);
}

TEST_F(ParameterTest, DataTypeConvertsTheDefault) {
    ASSERT_EQ(param_->SetDataType(VT_I2, *Text(L"12").get()), S_OK);
    com::UniqueVariant value = Value();
    EXPECT_EQ(value.vt(), VT_I2);
    EXPECT_EQ(V_I2(value.get()), 12);
    EXPECT_EQ(param_->SetDataType(VT_I4, *Text(L"abc").get()), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ErrorText(),
              L"Der Variant vom Typ VT_I4 konnte nicht in den Typ VT_BSTR konvertiert werden.");
    value = Value();
    EXPECT_EQ(value.vt(), VT_I2) << "a failed SetDataType changed the value";
}

TEST_F(ParameterTest, InitStopsAtTheFirstFailure) {
    com::UniqueBstr path(L"Axolent://x");
    EXPECT_EQ(param_->Init(path.get(), 1, VT_I8, *I2(0).get()), E_INVALIDARG);
    long rights = 0;
    ASSERT_EQ(param_->GetAccessRights(&rights), S_OK);
    EXPECT_EQ(rights, 1) << "access rights were set before the data type failed";
    com::UniqueBstr text;
    ASSERT_EQ(param_->GetAccessPath(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"Axolent://x");
}

}  // namespace
