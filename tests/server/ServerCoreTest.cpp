// Groups and their container in-process, where a client's proxy cannot stand
// between the test and the server's own checks of null pointers and handles.
#include <gtest/gtest.h>

#include <memory>

#include "HrCheck.h"
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
