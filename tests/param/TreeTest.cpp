// OV_Parameter inside the object model's tree: paths, renaming and
// re-parenting against a real model (VkObjectModel.dll).
#include <gtest/gtest.h>

#include <windows.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "ParamTestSupport.h"

namespace {

using namespace param_test;

constexpr wchar_t kOvParameterClass[] = L"{D13597C6-6931-11D5-A8E6-0060087AB05A}";

class TreeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        const HRESULT hr = CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_VKModelObject, root_.put_void());
        ASSERT_EQ(hr, S_OK) << "CoCreateInstance(ModelObject) returned " << std::hex << hr;
        dev_ = CreateObject(root_.get(), L"Dev");
        ASSERT_TRUE(dev_);
        axis_ = CreateObject(dev_.get(), L"Axis");
        ASSERT_TRUE(axis_);
        ClearError();
    }
    void TearDown() override {
        axis_.reset();
        dev_.reset();
        if (root_) root_->Clear();
        root_.reset();
        CoUninitialize();
    }

    static com::ComPtr<VKModelObject> CreateObject(VKModelObject* parent, const wchar_t* name) {
        com::UniqueBstr text(name);
        com::ComPtr<IUnknown> object;
        const HRESULT hr = parent->CreateObject(text.get(), nullptr, object.put());
        EXPECT_EQ(hr, S_OK) << "CreateObject returned " << std::hex << hr;
        return object.try_query<VKModelObject>();
    }

    static com::ComPtr<VKModelParameter> CreateParameter(VKModelObject* parent,
                                                         const wchar_t* name) {
        com::UniqueBstr text(name);
        com::UniqueBstr clsid(kOvParameterClass);
        com::ComPtr<IUnknown> parameter;
        const HRESULT hr = parent->CreateParameter(text.get(), clsid.get(), parameter.put());
        EXPECT_EQ(hr, S_OK) << "CreateParameter returned " << std::hex << hr;
        return parameter.try_query<VKModelParameter>();
    }

    static std::wstring Path(VKModelParameter* parameter) {
        com::UniqueBstr path;
        const HRESULT hr = parameter->GetPath(path.put());
        return SUCCEEDED(hr) ? path.str() : L"<failed>";
    }

    com::ComPtr<VKModelObject> root_, dev_, axis_;
};

TEST_F(TreeTest, PathFollowsTheParentsPath) {
    auto p1 = CreateParameter(axis_.get(), L"P1");
    ASSERT_TRUE(p1);
    EXPECT_EQ(Path(p1.get()), L"Dev/Axis/P1") << "GetPath under Dev/Axis";
    auto top = CreateParameter(root_.get(), L"P1");
    ASSERT_TRUE(top);
    EXPECT_EQ(Path(top.get()), L"P1") << "GetPath under a node with an empty path";

    com::UniqueBstr relative;
    ASSERT_EQ(p1->GetRelativePath(dev_.get(), relative.put()), S_OK) << "GetRelativePath(Dev)";
    EXPECT_EQ(relative.str(), L"Axis/P1");
    // The parent itself, passed through another interface than IUnknown.
    ASSERT_EQ(p1->GetRelativePath(axis_.get(), relative.put()), S_OK) << "GetRelativePath(Axis)";
    EXPECT_EQ(relative.str(), L"P1");
    EXPECT_EQ(p1->GetRelativePath(p1.get(), relative.put()), E_INVALIDARG)
        << "ancestor without VKModelObject";
    EXPECT_EQ(ErrorText(), L"Das VKModelObject-Interface des Objekts\nkonnte nicht geholt werden.");
}

TEST_F(TreeTest, ParentIsTheNodeThatHoldsTheParameter) {
    auto p1 = CreateParameter(axis_.get(), L"P1");
    com::ComPtr<IUnknown> parent;
    ASSERT_EQ(p1->GetParent(parent.put()), S_OK);
    EXPECT_TRUE(com::IsSameObject(parent.get(), axis_.get())) << "GetParent is not Axis";

    EXPECT_EQ(p1->SetParent(nullptr), E_POINTER) << "SetParent(nullptr)";
    EXPECT_EQ(ErrorText(), L"Der \u00fcbergebene Pointer zeigt auf NULL!");
    EXPECT_EQ(p1->SetParent(p1.get()), E_INVALIDARG) << "SetParent(a parameter)";
    EXPECT_EQ(ErrorText(), L"Das VKModelObject-Interface des Objekts\nkonnte nicht geholt werden.");
}

TEST_F(TreeTest, InternalParameterKeepsItsParentAndName) {
    auto p1 = CreateParameter(axis_.get(), L"P1");
    ASSERT_EQ(p1->SetFlags(0x0002), S_OK);
    EXPECT_EQ(p1->SetParent(dev_.get()), S_FALSE) << "SetParent on an internal parameter";
    EXPECT_EQ(ErrorText(), L"Diese Aktion ist f\u00fcr interne Parameter nicht erlaubt.");
    com::ComPtr<IUnknown> parent;
    ASSERT_EQ(p1->GetParent(parent.put()), S_OK);
    EXPECT_TRUE(com::IsSameObject(parent.get(), axis_.get())) << "the parent changed";

    com::UniqueBstr name(L"P2");
    EXPECT_EQ(p1->SetName(name.get()), S_FALSE) << "SetName on an internal parameter";
    EXPECT_EQ(Name(p1.get()), L"P1");
}

TEST_F(TreeTest, RenameRefusesSeparatorsAndTakenNames) {
    auto p1 = CreateParameter(dev_.get(), L"P1");
    auto p2 = CreateParameter(dev_.get(), L"P2");

    com::UniqueBstr with_slash(L"P/3");
    EXPECT_EQ(p2->SetName(with_slash.get()), E_FAIL) << "SetName(\"P/3\")";
    EXPECT_EQ(ErrorText(), L"Seperatoren d\u00fcrfen nicht\nBestandteil des Namens sein.");

    com::UniqueBstr taken(L"P1");
    EXPECT_EQ(p2->SetName(taken.get()), E_FAIL) << "SetName to another parameter's name";
    EXPECT_EQ(ErrorText(), L"Ein Object mit dem Namen\nP1\nist bereits vorhanden.");

    com::UniqueBstr child(L"Axis");
    EXPECT_EQ(p2->SetName(child.get()), E_FAIL) << "SetName to a child object's name";
    EXPECT_EQ(ErrorText(), L"Ein Object mit dem Namen\nAxis\nist bereits vorhanden.");

    com::UniqueBstr empty(L"");
    EXPECT_EQ(p2->SetName(empty.get()), E_FAIL) << "SetName(\"\")";
    EXPECT_EQ(ErrorText(), L"Geben Sie einen\ng\u00fcltigen Namen an!");
    EXPECT_EQ(Name(p2.get()), L"P2") << "a refused name was stored";
}

TEST_F(TreeTest, RenameToItsOwnNameChangesNothing) {
    auto p1 = CreateParameter(dev_.get(), L"P1");
    auto persist = p1.try_query<IPersistStorage>();
    ASSERT_TRUE(persist);
    const HRESULT dirty_before = persist->IsDirty();
    com::UniqueBstr same(L"P1");
    EXPECT_EQ(p1->SetName(same.get()), S_OK) << "SetName with the current name";
    EXPECT_EQ(persist->IsDirty(), dirty_before) << "renaming to the own name changed Dirty";
}

TEST_F(TreeTest, RenameReKeysTheParentsList) {
    auto p1 = CreateParameter(dev_.get(), L"P1");
    com::UniqueBstr name(L"P\u00e4r 3");
    ASSERT_EQ(p1->SetName(name.get()), S_OK) << "SetName(\"Pär 3\")";
    EXPECT_EQ(Name(p1.get()), L"P\u00e4r 3");
    com::ComPtr<IUnknown> found;
    EXPECT_EQ(dev_->FindParameter(name.get(), found.put()), S_OK) << "FindParameter(new name)";
    EXPECT_TRUE(com::IsSameObject(found.get(), p1.get())) << "the list entry is not the parameter";
    com::UniqueBstr old_name(L"P1");
    found.reset();
    dev_->FindParameter(old_name.get(), found.put());
    EXPECT_FALSE(found) << "the old name is still in the list";
    EXPECT_EQ(Path(p1.get()), L"Dev/P\u00e4r 3");
}

TEST_F(TreeTest, ModelServesTheGenericLayerForItsOwnClass) {
    com::UniqueBstr name(L"Axolent://x");
    com::ComPtr<IUnknown> created;
    ASSERT_EQ(root_->CreateParameter(name.get(), nullptr, created.put()), S_OK)
        << "CreateParameter(generic)";
    auto persist = created.try_query<IPersistStorage>();
    ASSERT_TRUE(persist);
    CLSID clsid = GUID_NULL;
    ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_vkObjectParameter)) << "class of a generic parameter";
    EXPECT_FALSE(created.try_query<IOV_Parameter>()) << "a generic parameter is no OV_Parameter";

    auto param = created.try_query<VKModelParameter>();
    ASSERT_EQ(param->SetValue(*I2(1).get()), S_OK);
    com::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK) << "the first value leaves the type text";
    com::UniqueBstr source;
    ASSERT_EQ(info->GetSource(source.put()), S_OK);
    EXPECT_EQ(source.str(), L"VkObjectModel.ObjectParameter.1")
        << "source is the generic class's ProgID";
}

}  // namespace
