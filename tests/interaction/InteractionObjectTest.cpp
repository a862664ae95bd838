// The registered OV_Interaction.dll as the server meets it: created by CLSID from
// the multithreaded apartment, its registration, its interface map and the model
// over the bus simulator that the settings name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "SimSupport.h"
#include "TestSupport.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "ov_interaction.h"
#include "ovi_custom.h"
#include "vkmodel.h"

namespace orvane::interaction::test {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The text of a registry value under HKEY_CLASSES_ROOT; "<missing>" when absent.
std::string ClassesText(const std::wstring& key, const wchar_t* value = nullptr) {
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    return Narrow(text);
}

bool ClassesKeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

class InteractionObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Hr{S_OK},
                  Hr{com::CoCreate(CLSID_OrvaneInteraction, &object_, CLSCTX_INPROC_SERVER)})
            << "CoCreateInstance(OrvaneInteraction): is OV_Interaction.dll registered?";
    }
    com::ComPtr<IOrvaneInteraction> object_;
};

TEST_F(InteractionObjectTest, RegistrationWithCrossedProgIds) {
    const std::wstring clsid = L"CLSID\\{1E34FA58-D28A-11D5-A939-0060087AB05A}";
    EXPECT_EQ("OrvaneInteraction Class", ClassesText(clsid));
    EXPECT_EQ("Orvane.OrvaneInteraction", ClassesText(clsid + L"\\ProgID")) << "ProgID without .1";
    EXPECT_EQ("Orvane.OrvaneInteraction.1", ClassesText(clsid + L"\\VersionIndependentProgID"))
        << "with .1";
    EXPECT_EQ("Free", ClassesText(clsid + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ("{1E34FA56-D28A-11D5-A939-0060087AB05A}", ClassesText(clsid + L"\\TypeLib"));
    EXPECT_TRUE(ClassesKeyExists(clsid + L"\\Programmable"));
    EXPECT_TRUE(ClassesKeyExists(clsid + L"\\Implemented Categories"));
    EXPECT_EQ("OrvaneInteraction Class", ClassesText(L"Orvane.OrvaneInteraction"));
    EXPECT_EQ("{1E34FA58-D28A-11D5-A939-0060087AB05A}",
              ClassesText(L"Orvane.OrvaneInteraction\\CLSID"));
    EXPECT_EQ("{1E34FA58-D28A-11D5-A939-0060087AB05A}",
              ClassesText(L"Orvane.OrvaneInteraction.1\\CLSID"));
    EXPECT_EQ("Orvane.OrvaneInteraction", ClassesText(L"Orvane.OrvaneInteraction.1\\CurVer"));

    com::ComPtr<ITypeLib> library;
    EXPECT_EQ(Hr{S_OK}, Hr{LoadRegTypeLib(LIBID_OV_INTERACTIONLib, 1, 0, 1031, library.put())})
        << "LoadRegTypeLib(OV_INTERACTIONLib 1.0)";
}

TEST_F(InteractionObjectTest, EveryInterfaceOfTheMap) {
    struct Entry {
        const IID& iid;
        const char* name;
    } entries[] = {
        {__uuidof(IvkInteraction), "IvkInteraction"},
        {__uuidof(IvkInteraction2), "IvkInteraction2"},
        {__uuidof(IOrvaneInteraction), "IOrvaneInteraction"},
        {__uuidof(IvkBulkInteraction), "IvkBulkInteraction"},
        {__uuidof(IvkPropertyAccess), "IvkPropertyAccess"},
        {__uuidof(IvkPropertyAccess2), "IvkPropertyAccess2"},
        {IID_IDispatch, "IDispatch"},
        {__uuidof(IOPCOVI_NameSpace), "IOPCOVI_NameSpace"},
        {__uuidof(IOPCOVI_AsyncIdent), "IOPCOVI_AsyncIdent"},
        {__uuidof(IvkAsyncCallback), "IvkAsyncCallback"},
    };
    for (const Entry& entry : entries) {
        com::ComPtr<IUnknown> answered;
        EXPECT_EQ(Hr{S_OK}, Hr{object_.query(entry.iid, answered.put_void())})
            << "QueryInterface(" << entry.name << ")";
        EXPECT_TRUE(com::IsSameObject(answered.get(), object_.get()))
            << entry.name << ": one COM identity";
    }
    com::ComPtr<IUnknown> none;
    EXPECT_EQ(Hr{E_NOINTERFACE}, Hr{object_.query(IID_IClassFactory, none.put_void())});

    com::ComPtr<IDispatch> dispatch;
    ASSERT_EQ(Hr{S_OK}, Hr{object_.query(&dispatch)});
    com::ComPtr<ITypeInfo> info;
    ASSERT_EQ(Hr{S_OK}, Hr{dispatch->GetTypeInfo(0, 0, info.put())});
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(Hr{S_OK}, Hr{info->GetTypeAttr(&attr)});
    EXPECT_TRUE(IsEqualGUID(attr->guid, __uuidof(IOrvaneInteraction)))
        << "IDispatch is IOrvaneInteraction's";
    info->ReleaseTypeAttr(attr);
    OLECHAR* names[] = {const_cast<OLECHAR*>(L"ReleaseConnections")};
    DISPID id = 0;
    EXPECT_EQ(Hr{S_OK}, Hr{dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id)});
    EXPECT_EQ(2, id) << "DISPID of ReleaseConnections";
}

TEST_F(InteractionObjectTest, ModelOverTheSimulator) {
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{object_->GetModel(nullptr)});
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{object_->GetModel(root.put())})
        << "GetModel with the prefix's settings (BusServers\\BusServerProgID1 = "
           "Orvane.BusSimulator)";
    com::ComPtr<VKModelObject> model;
    ASSERT_EQ(Hr{S_OK}, Hr{root.query(&model)});
    com::ComPtr<IUnknown> node;
    EXPECT_EQ(Hr{S_OK},
              Hr{model->FindObject(com::UniqueBstr(L"Orvane_BusSimulator").get(), node.put())})
        << "the bus-server node";
    EXPECT_EQ(Hr{S_OK}, Hr{object_->ReleaseConnections()});
    EXPECT_EQ(Hr{S_OK}, Hr{object_->ReleaseConnections()}) << "unbalanced release is harmless";

    long checked = 0;
    com::ComPtr<IOPCOVI_NameSpace> nameSpace;
    ASSERT_EQ(Hr{S_OK}, Hr{object_.query(&nameSpace)});
    EXPECT_EQ(Hr{S_OK}, Hr{nameSpace->CheckNameSpace(&checked)})
        << "CheckNameSpace discovers the simulated slaves";
    EXPECT_EQ(1, checked);
    com::ComPtr<IUnknown> device;
    EXPECT_EQ(Hr{S_OK},
              Hr{model->FindObject(com::UniqueBstr(L"Orvane_BusSimulator/DP_Slave3_").get(),
                                   device.put())})
        << "device node of slave 3";
}

TEST_F(InteractionObjectTest, OneObjectPerProcessWhileItLives) {
    // A second creation (an item binding, another server object) reaches the same model
    // and bus connection, not a new object without either.
    com::ComPtr<IOrvaneInteraction> second;
    ASSERT_EQ(Hr{S_OK}, Hr{com::CoCreate(CLSID_OrvaneInteraction, &second, CLSCTX_INPROC_SERVER)});
    EXPECT_TRUE(com::IsSameObject(object_.get(), second.get()))
        << "a creation while the object lives hands out that object";
    second.reset();
    object_.reset();
    ASSERT_EQ(Hr{S_OK}, Hr{com::CoCreate(CLSID_OrvaneInteraction, &second, CLSCTX_INPROC_SERVER)})
        << "after the last reference has gone a new object is made";
    com::ComPtr<IUnknown> root;
    EXPECT_EQ(Hr{S_OK}, Hr{second->GetModel(root.put())}) << "and it works";
    EXPECT_EQ(Hr{S_OK}, Hr{second->ReleaseConnections()});
}

TEST_F(InteractionObjectTest, GetModelThroughIDispatch) {
    com::ComPtr<IDispatch> dispatch;
    ASSERT_EQ(Hr{S_OK}, Hr{object_.query(&dispatch)});
    IUnknown* root = nullptr;
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_BYREF | VT_UNKNOWN;
    V_UNKNOWNREF(&argument) = &root;
    DISPPARAMS parameters = {&argument, nullptr, 1, 0};
    ASSERT_EQ(Hr{S_OK}, Hr{dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr,
                                            nullptr, nullptr)})
        << "Invoke(DISPID 1 GetModel)";
    ASSERT_NE(nullptr, root) << "GetModel through IDispatch gave no root";
    com::ComPtr<VKModelObject> model;
    EXPECT_EQ(Hr{S_OK}, Hr{root->QueryInterface(__uuidof(VKModelObject), model.put_void())});
    root->Release();
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(Hr{S_OK}, Hr{dispatch->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                                            nullptr, nullptr)})
        << "Invoke(DISPID 2 ReleaseConnections)";
}

}  // namespace
}  // namespace orvane::interaction::test
