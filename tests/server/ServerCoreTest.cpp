// Groups and their container in-process, where a client's proxy cannot stand
// between the test and the server's own checks of null pointers and handles.
#include <gtest/gtest.h>

#include <memory>

#include "HrCheck.h"
#include "NotImplemented.h"
#include "BaseServer.h"
#include "OPCGroup.h"
#include "UnknownCont.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"

namespace {

std::string Hex(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof(text), "%#lx", static_cast<unsigned long>(hr));
    return text;
}

// A model that only notes when it goes; the group calls nothing on it here.
class FakeModel : public com::Object<test_support::NotImplementedDispatch<VKModelObject>> {
public:
    explicit FakeModel(bool* gone) : gone_(gone) {}
    void FinalRelease() override { *gone_ = true; }

    STDMETHODIMP GetName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetName(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetAccessPath(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetAccessPath(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetParent(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP SetParent(IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetIdentity(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP GetClassID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSeparators(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP FindChild(BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP GetParameters(VKModelCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP GetObjects(VKModelCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateParameter(BSTR, BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteParameter(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP FindParameter(BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateObject(BSTR, BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP FindObject(BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPath(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRelativePath(IUnknown*, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP Clear() override { return E_NOTIMPL; }

private:
    bool* gone_;
};

// Stands for an item: notes whether the model was still there when it went.
class ProbeItem : public com::Object<test_support::NotImplementedDispatch<IUnknownCont>> {
public:
    ProbeItem(const bool* modelGone, bool* modelGoneFirst)
        : modelGone_(modelGone), modelGoneFirst_(modelGoneFirst) {}
    void FinalRelease() override { *modelGoneFirst_ = *modelGone_; }

    STDMETHODIMP GetElement(long, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP GetCount(long*) override { return E_NOTIMPL; }
    STDMETHODIMP GetElementByHandle(unsigned long, IUnknown**) override { return E_NOTIMPL; }

private:
    const bool* modelGone_;
    bool* modelGoneFirst_;
};

class ServerCore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com_.succeeded());
        com::ComPtr<CUnknownCont> groups;
        ASSERT_HR(S_OK, com::MakeObject(&groups));
        groups_ = groups;
        core_ = std::make_shared<CBaseServer>(std::move(groups), com::ComPtr<VKModelObject>(), 50);
    }
    void TearDown() override {
        if (core_) core_->Close();
    }

    HRESULT Add(const wchar_t* name, com::ComPtr<IUnknown>* group, OPCHANDLE* handle = nullptr) {
        OPCHANDLE h = 0;
        DWORD revised = 0;
        const HRESULT hr = core_->AddGroup(name, FALSE, 1000, 0, nullptr, nullptr, 0, &h, &revised,
                                           IID_IUnknown, group->put());
        if (handle) *handle = h;
        return hr;
    }

    com::ComInitializer com_{COINIT_MULTITHREADED};
    com::ComPtr<CUnknownCont> groups_;
    std::shared_ptr<CBaseServer> core_;
};

TEST_F(ServerCore, NullPointersGiveClearResults) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    com::ComPtr<IUnknown> group;
    EXPECT_HR(E_POINTER, core_->AddGroup(nullptr, FALSE, 1000, 0, nullptr, nullptr, 0, &handle,
                                         &revised, IID_IUnknown, group.put()))
        << "AddGroup with a null name";
    EXPECT_HR(E_INVALIDARG, core_->AddGroup(L"A", FALSE, 1000, 0, nullptr, nullptr, 0, nullptr,
                                            &revised, IID_IUnknown, group.put()))
        << "AddGroup without phServerGroup";
    EXPECT_HR(E_INVALIDARG, core_->AddGroup(L"A", FALSE, 1000, 0, nullptr, nullptr, 0, &handle,
                                            nullptr, IID_IUnknown, group.put()))
        << "AddGroup without pRevisedUpdateRate";
    EXPECT_HR(E_INVALIDARG, core_->AddGroup(L"A", FALSE, 1000, 0, nullptr, nullptr, 0, &handle,
                                            &revised, IID_IUnknown, nullptr))
        << "AddGroup without ppUnk";
    EXPECT_EQ(0u, core_->GroupCount()) << "refused AddGroup calls keep no group";

    EXPECT_HR(E_INVALIDARG, core_->GetGroupByName(nullptr, IID_IUnknown, group.put()));
    EXPECT_HR(E_POINTER, core_->GetGroupByName(L"A", IID_IUnknown, nullptr));
    EXPECT_HR(E_POINTER, core_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr));

    ASSERT_HR(S_OK, Add(L"A", &group));
    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, group.query(&mgt));
    DWORD rate = 0;
    BOOL active = FALSE;
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE client = 0, server = 0;
    EXPECT_HR(E_INVALIDARG,
              mgt->GetState(&rate, &active, nullptr, &bias, &deadband, &lcid, &client, &server))
        << "GetState without ppName";
    EXPECT_HR(E_INVALIDARG, mgt->SetName(nullptr)) << "SetName(null)";
    com::ComPtr<IUnknown> clone;
    EXPECT_HR(E_INVALIDARG, mgt->CloneGroup(L"B", IID_IUnknown, nullptr))
        << "CloneGroup without ppUnk";
    ASSERT_HR(S_OK, mgt->CloneGroup(nullptr, IID_IUnknown, clone.put()))
        << "CloneGroup(null name) generates one";
    EXPECT_EQ(2u, core_->GroupCount());
}

TEST_F(ServerCore, ContainerAnswersByIndexAndHandle) {
    com::ComPtr<IUnknown> b, a;
    OPCHANDLE handleB = 0, handleA = 0;
    ASSERT_HR(S_OK, Add(L"b", &b, &handleB));
    ASSERT_HR(S_OK, Add(L"a", &a, &handleA));
    EXPECT_NE(handleA, handleB);

    long count = 0;
    ASSERT_HR(S_OK, groups_->GetCount(&count));
    EXPECT_EQ(2, count);
    com::ComPtr<IUnknown> element;
    ASSERT_HR(S_OK, groups_->GetElement(0, element.put()));
    EXPECT_TRUE(com::IsSameObject(element.get(), a.get())) << "index 0 is the smallest key";
    EXPECT_HR(E_FAIL, groups_->GetElement(2, element.put())) << "GetElement past the end";
    EXPECT_HR(E_FAIL, groups_->GetElement(-1, element.put())) << "GetElement(-1)";
    ASSERT_HR(S_OK, groups_->GetElementByHandle(handleB, element.put()));
    EXPECT_TRUE(com::IsSameObject(element.get(), b.get()));
    HRESULT hr = groups_->GetElementByHandle(0x7FFFFFFF, element.put());
    EXPECT_HR(E_INVALIDARG, hr) << "GetElementByHandle of an unknown handle returned " << Hex(hr);
    EXPECT_EQ(nullptr, element.get());
}

TEST_F(ServerCore, FullHandleRegistryIsNoNameClash) {
    groups_->LimitHandles(1);
    com::ComPtr<IUnknown> a, b;
    ASSERT_EQ(S_OK, Add(L"A", &a));
    OPCHANDLE handle = 1;
    const HRESULT hr = Add(L"B", &b, &handle);
    EXPECT_EQ(E_OUTOFMEMORY, hr) << "AddGroup without a free handle returned " << Hex(hr);
    EXPECT_EQ(0u, handle);
    EXPECT_FALSE(b);
    EXPECT_EQ(1u, core_->GroupCount());
    EXPECT_EQ(OPC_E_DUPLICATENAME, Add(L"A", &b)) << "a name clash stays one";
}

// Items unbind from the model when they go, so a dying group lets them go first.
TEST_F(ServerCore, GroupReleasesItsItemsBeforeTheModel) {
    bool modelGone = false, modelGoneFirst = true;
    com::ComPtr<IUnknown> group;
    ASSERT_EQ(S_OK, Add(L"G", &group));
    com::ComPtr<IOPCGroup> opcGroup;
    ASSERT_EQ(S_OK, group.query(&opcGroup));
    {
        com::ComPtr<FakeModel> model;
        ASSERT_EQ(S_OK, com::MakeObject(&model, &modelGone));
        static_cast<COPCGroup*>(opcGroup.get())->SetModel(com::ComPtr<VKModelObject>(model.get()));
        com::ComPtr<IUnknown> items;
        ASSERT_EQ(S_OK, opcGroup->GetItems(items.put()));
        com::ComPtr<IUnknownCont> container;
        ASSERT_EQ(S_OK, items.query(&container));
        com::ComPtr<ProbeItem> probe;
        ASSERT_EQ(S_OK, com::MakeObject(&probe, &modelGone, &modelGoneFirst));
        ASSERT_EQ(S_OK, static_cast<CUnknownCont*>(container.get())
                            ->Add("probe", probe->GetControllingUnknown(), nullptr));
    }
    core_->Close();
    opcGroup.reset();
    group.reset();
    EXPECT_TRUE(modelGone) << "the group released its model";
    EXPECT_FALSE(modelGoneFirst) << "the model went before the group's items";
}

TEST_F(ServerCore, ClosedServerRefusesWhatNeedsIt) {
    com::ComPtr<IUnknown> group;
    ASSERT_HR(S_OK, Add(L"Kept", &group));
    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, group.query(&mgt));
    core_->Close();
    EXPECT_EQ(0u, core_->GroupCount()) << "closing releases the groups";
    EXPECT_HR(E_FAIL, mgt->SetName(L"New")) << "SetName after the server went";
    com::ComPtr<IUnknown> clone;
    EXPECT_HR(E_FAIL, mgt->CloneGroup(L"Clone", IID_IUnknown, clone.put()))
        << "CloneGroup after the server went";
    DWORD rate = 100, revised = 0;
    EXPECT_HR(S_OK, mgt->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr))
        << "the group's own state still works";
    EXPECT_EQ(100u, revised);
}

}  // namespace
