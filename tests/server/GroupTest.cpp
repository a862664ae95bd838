// Groups of a server: naming, rate revision, deadband, state, removal,
// enumeration, cloning and bad input, all through the proxies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/ComPtr.h"

namespace {

const IID kUnknownIid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

class Groups : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CreateServer(&server_)) << "CoCreateInstance(Axolent.Orvane)";
    }

    HRESULT Add(const wchar_t* name, DWORD rate, com::ComPtr<IUnknown>* group,
                OPCHANDLE* handle = nullptr, DWORD* revised = nullptr,
                const FLOAT* deadband = nullptr) {
        OPCHANDLE h = 0;
        DWORD r = 0;
        const HRESULT hr =
            server_->AddGroup(name, FALSE, rate, 7, nullptr, const_cast<FLOAT*>(deadband), 0x0407,
                              &h, &r, IID_IUnknown, group->put());
        if (handle) *handle = h;
        if (revised) *revised = r;
        return hr;
    }

    DWORD GroupCount() {
        OPCSERVERSTATUS* status = nullptr;
        if (FAILED(server_->GetStatus(&status)) || !status) return ~0u;
        const DWORD count = status->dwGroupCount;
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
        return count;
    }

    com::ComPtr<IOPCServer> server_;
};

TEST_F(Groups, EmptyNamesAreGeneratedFromTheGroupCount) {
    com::ComPtr<IUnknown> first, second, third;
    OPCHANDLE firstHandle = 0;
    ASSERT_HR(S_OK, Add(L"", 1000, &first, &firstHandle));
    ASSERT_HR(S_OK, Add(L"", 1000, &second));
    GroupState state;
    ASSERT_HR(S_OK, GetGroupState(first.get(), &state));
    EXPECT_EQ(L"SvrProvName000", state.name);
    ASSERT_HR(S_OK, GetGroupState(second.get(), &state));
    EXPECT_EQ(L"SvrProvName001", state.name);

    first.reset();
    ASSERT_HR(S_OK, server_->RemoveGroup(firstHandle, FALSE));
    // One group left: counting starts at 1, finds SvrProvName001 taken, takes 002.
    ASSERT_HR(S_OK, Add(L"", 1000, &third));
    ASSERT_HR(S_OK, GetGroupState(third.get(), &state));
    EXPECT_EQ(L"SvrProvName002", state.name);
}

TEST_F(Groups, DuplicateNamesAlsoAfterAnsiConversion) {
    com::ComPtr<IUnknown> group, other;
    ASSERT_HR(S_OK, Add(L"Gruppe \u4E00", 1000, &group));
    EXPECT_HR(OPC_E_DUPLICATENAME, Add(L"Gruppe \u4E00", 1000, &other))
        << "AddGroup with the same name";
    EXPECT_HR(OPC_E_DUPLICATENAME, Add(L"Gruppe \u4E01", 1000, &other))
        << "AddGroup with a name equal only in the ANSI code page";
    EXPECT_EQ(nullptr, other.get());
    EXPECT_EQ(1u, GroupCount()) << "a refused AddGroup keeps no group";

    com::ComPtr<IUnknown> found;
    ASSERT_HR(S_OK, server_->GetGroupByName(L"Gruppe \u4E00", IID_IUnknown, found.put()));
    EXPECT_TRUE(com::IsSameObject(found.get(), group.get()));
    EXPECT_HR(E_INVALIDARG, server_->GetGroupByName(L"Gruppe", IID_IUnknown, found.put()))
        << "GetGroupByName of an unknown name";
    EXPECT_EQ(nullptr, found.get());
}

TEST_F(Groups, SetNameChecksTheContainer) {
    com::ComPtr<IUnknown> a, b;
    ASSERT_HR(S_OK, Add(L"A", 1000, &a));
    ASSERT_HR(S_OK, Add(L"B", 1000, &b));
    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, a.query(&mgt));
    EXPECT_HR(OPC_E_DUPLICATENAME, mgt->SetName(L"A")) << "SetName to the group's own name";
    EXPECT_HR(OPC_E_DUPLICATENAME, mgt->SetName(L"B")) << "SetName to another group's name";
    EXPECT_HR(E_INVALIDARG, mgt->SetName(L"")) << "SetName to an empty name";
    ASSERT_HR(S_OK, mgt->SetName(L"C")) << "SetName to a free name";

    GroupState state;
    ASSERT_HR(S_OK, GetGroupState(a.get(), &state));
    EXPECT_EQ(L"C", state.name);
    com::ComPtr<IUnknown> found;
    EXPECT_HR(E_INVALIDARG, server_->GetGroupByName(L"A", IID_IUnknown, found.put()))
        << "old name after SetName";
    ASSERT_HR(S_OK, server_->GetGroupByName(L"C", IID_IUnknown, found.put()))
        << "new name after SetName";
    EXPECT_TRUE(com::IsSameObject(found.get(), a.get()));
    std::vector<std::wstring> expected = {L"B", L"C"};
    EXPECT_EQ(expected, GroupNames(server_.get())) << "names in key order after the rename";

    // The server handle stays the group's across the rename.
    OPCHANDLE handle = state.serverHandle;
    a.reset();
    mgt.reset();
    found.reset();
    EXPECT_HR(S_OK, server_->RemoveGroup(handle, FALSE))
        << "RemoveGroup by the handle from before the rename";
}

TEST_F(Groups, RatesAreRevisedToTheFiftyMillisecondTick) {
    struct Case {
        DWORD requested, revised;
        HRESULT hr;
    } cases[] = {
        {0, 50, OPC_S_UNSUPPORTEDRATE},
        {49, 50, OPC_S_UNSUPPORTEDRATE},
        {50, 50, S_OK},
        {1000, 1000, S_OK},
        {1010, 1050, OPC_S_UNSUPPORTEDRATE},
    };
    com::ComPtr<IUnknown> target;
    ASSERT_HR(S_OK, Add(L"Target", 1000, &target));
    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, target.query(&mgt));
    for (const Case& c : cases) {
        com::ComPtr<IUnknown> group;
        DWORD revised = 0;
        HRESULT hr = Add(L"", c.requested, &group, nullptr, &revised);
        EXPECT_EQ(c.hr, hr) << "AddGroup rate " << c.requested << " returned " << Hex(hr);
        EXPECT_EQ(c.revised, revised) << "AddGroup rate " << c.requested;

        DWORD requested = c.requested;
        revised = 0;
        hr = mgt->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(c.hr, hr) << "SetState rate " << c.requested << " returned " << Hex(hr);
        EXPECT_EQ(c.revised, revised) << "SetState rate " << c.requested;
        GroupState state;
        ASSERT_HR(S_OK, GetGroupState(target.get(), &state));
        EXPECT_EQ(c.revised, state.updateRate) << "GetState after SetState rate " << c.requested;
    }
}

TEST_F(Groups, DeadbandOutsideZeroToHundredChangesNothing) {
    const FLOAT full = 100.0f;
    com::ComPtr<IUnknown> group;
    ASSERT_HR(S_OK, Add(L"G", 1000, &group, nullptr, nullptr, &full))
        << "AddGroup with deadband 100.0";
    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, group.query(&mgt));
    for (FLOAT bad : {100.5f, -0.1f, std::numeric_limits<FLOAT>::quiet_NaN()}) {
        DWORD rate = 2000;
        DWORD revised = 0;
        FLOAT deadband = bad;
        const HRESULT hr =
            mgt->SetState(&rate, &revised, nullptr, nullptr, &deadband, nullptr, nullptr);
        EXPECT_HR(E_INVALIDARG, hr) << "SetState deadband " << bad << " returned " << Hex(hr);
        GroupState state;
        ASSERT_HR(S_OK, GetGroupState(group.get(), &state));
        EXPECT_EQ(1000u, state.updateRate)
            << "the rate of a refused SetState (deadband " << bad << ")";
        EXPECT_EQ(100.0f, state.deadband);

        com::ComPtr<IUnknown> refused;
        const DWORD before = GroupCount();
        EXPECT_HR(E_INVALIDARG, Add(L"", 1000, &refused, nullptr, nullptr, &deadband))
            << "AddGroup deadband " << bad;
        EXPECT_EQ(before, GroupCount()) << "a refused AddGroup keeps no group";
    }
}

TEST_F(Groups, StateAfterAddGroupAndSetState) {
    com::ComPtr<IUnknown> group;
    OPCHANDLE handle = 0;
    ASSERT_HR(S_OK, Add(L"State", 1000, &group, &handle));
    GroupState state;
    ASSERT_HR(S_OK, GetGroupState(group.get(), &state));
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_EQ(zone.Bias, state.timeBias) << "time bias of a group added without one";
    EXPECT_EQ(L"State", state.name);
    EXPECT_EQ(handle, state.serverHandle);
    EXPECT_NE(0u, state.serverHandle);
    EXPECT_EQ(7u, state.clientHandle);
    EXPECT_EQ(0x0407u, state.lcid);
    EXPECT_FALSE(state.active);

    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, group.query(&mgt));
    BOOL active = TRUE;
    LONG bias = -60;
    FLOAT deadband = 12.5f;
    DWORD lcid = 0x0409;
    OPCHANDLE client = 42;
    DWORD revised = 0;
    ASSERT_HR(S_OK, mgt->SetState(nullptr, &revised, &active, &bias, &deadband, &lcid, &client));
    EXPECT_EQ(1000u, revised) << "SetState without a rate reports the current one";
    ASSERT_HR(S_OK, GetGroupState(group.get(), &state));
    EXPECT_TRUE(state.active);
    EXPECT_EQ(-60, state.timeBias);
    EXPECT_EQ(12.5f, state.deadband);
    EXPECT_EQ(0x0409u, state.lcid);
    EXPECT_EQ(42u, state.clientHandle);
}

TEST_F(Groups, RemoveGroupWhileTheClientHoldsIt) {
    com::ComPtr<IUnknown> held, free;
    OPCHANDLE heldHandle = 0, freeHandle = 0;
    ASSERT_HR(S_OK, Add(L"Held", 1000, &held, &heldHandle));
    ASSERT_HR(S_OK, Add(L"Free", 1000, &free, &freeHandle));

    EXPECT_HR(OPC_S_INUSE, server_->RemoveGroup(heldHandle, FALSE))
        << "RemoveGroup of a group still held";
    com::ComPtr<IUnknown> found;
    EXPECT_HR(E_INVALIDARG, server_->GetGroupByName(L"Held", IID_IUnknown, found.put()))
        << "GetGroupByName after RemoveGroup";
    EXPECT_EQ(std::vector<std::wstring>{L"Free"}, GroupNames(server_.get()));
    GroupState state;
    EXPECT_HR(S_OK, GetGroupState(held.get(), &state)) << "the client's group still answers";
    EXPECT_HR(E_INVALIDARG, server_->RemoveGroup(heldHandle, FALSE))
        << "second RemoveGroup of one handle";

    free.reset();
    EXPECT_HR(S_OK, server_->RemoveGroup(freeHandle, FALSE)) << "RemoveGroup of a released group";
    EXPECT_HR(E_INVALIDARG, server_->RemoveGroup(0, FALSE)) << "RemoveGroup of handle 0";
    EXPECT_HR(E_INVALIDARG, server_->RemoveGroup(0xDEADBEEF, TRUE))
        << "RemoveGroup of an unknown handle";

    com::ComPtr<IUnknown> forced;
    OPCHANDLE forcedHandle = 0;
    ASSERT_HR(S_OK, Add(L"Forced", 1000, &forced, &forcedHandle));
    EXPECT_HR(S_OK, server_->RemoveGroup(forcedHandle, TRUE))
        << "forced RemoveGroup of a held group";
    EXPECT_TRUE(FAILED(GetGroupState(forced.get(), &state)))
        << "a forcibly removed group is disconnected";
    EXPECT_EQ(0u, GroupCount());
}

TEST_F(Groups, EnumeratorsByScope) {
    com::ComPtr<IUnknown> enumerator;
    EXPECT_HR(S_FALSE,
              server_->CreateGroupEnumerator(OPC_ENUM_PRIVATE, IID_IEnumString, enumerator.put()))
        << "private scope without groups";
    com::ComPtr<IUnknown> b, a;
    ASSERT_HR(S_OK, Add(L"b", 1000, &b));
    ASSERT_HR(S_OK, Add(L"a", 1000, &a));
    for (OPCENUMSCOPE scope : {OPC_ENUM_PUBLIC, OPC_ENUM_PUBLIC_CONNECTIONS}) {
        enumerator.reset();
        EXPECT_HR(S_FALSE,
                  server_->CreateGroupEnumerator(scope, IID_IEnumUnknown, enumerator.put()))
            << "public scope " << scope;
        EXPECT_EQ(nullptr, enumerator.get());
    }
    ASSERT_HR(S_OK, server_->CreateGroupEnumerator(OPC_ENUM_PRIVATE_CONNECTIONS, IID_IEnumUnknown,
                                                   enumerator.put()));
    com::ComPtr<IEnumUnknown> groups;
    ASSERT_HR(S_OK, enumerator.query(&groups));
    IUnknown* items[3] = {};
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, groups->Next(3, items, &fetched)) << "IEnumUnknown::Next(3) over two groups";
    ASSERT_EQ(2u, fetched);
    EXPECT_TRUE(com::IsSameObject(items[0], a.get())) << "container order is key order: a first";
    EXPECT_TRUE(com::IsSameObject(items[1], b.get()));
    items[0]->Release();
    items[1]->Release();
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), GroupNames(server_.get()));

    EXPECT_HR(E_INVALIDARG, server_->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(7),
                                                           IID_IEnumString, enumerator.put()))
        << "scope 7";
    EXPECT_HR(E_NOINTERFACE,
              server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, enumerator.put()))
        << "enumerator of an unsupported IID";
}

TEST_F(Groups, CloneCopiesTheStateIntoAnInactiveGroup) {
    com::ComPtr<IUnknown> source;
    const FLOAT deadband = 25.0f;
    ASSERT_HR(S_OK, Add(L"Source", 250, &source, nullptr, nullptr, &deadband));
    com::ComPtr<IOPCGroupStateMgt> mgt;
    ASSERT_HR(S_OK, source.query(&mgt));
    BOOL active = TRUE;
    LONG bias = 120;
    DWORD revised = 0;
    ASSERT_HR(S_OK, mgt->SetState(nullptr, &revised, &active, &bias, nullptr, nullptr, nullptr));

    com::ComPtr<IUnknown> clone;
    ASSERT_HR(S_OK, mgt->CloneGroup(L"Clone", IID_IOPCGroupStateMgt, clone.put())) << "CloneGroup";
    GroupState original, copy;
    ASSERT_HR(S_OK, GetGroupState(source.get(), &original));
    ASSERT_HR(S_OK, GetGroupState(clone.get(), &copy));
    EXPECT_EQ(L"Clone", copy.name);
    EXPECT_FALSE(copy.active) << "a clone starts inactive";
    EXPECT_EQ(original.updateRate, copy.updateRate);
    EXPECT_EQ(original.deadband, copy.deadband);
    EXPECT_EQ(original.timeBias, copy.timeBias);
    EXPECT_EQ(original.lcid, copy.lcid);
    EXPECT_EQ(original.clientHandle, copy.clientHandle);
    EXPECT_NE(original.serverHandle, copy.serverHandle);

    com::ComPtr<IUnknown> unnamed, refused;
    ASSERT_HR(S_OK, mgt->CloneGroup(L"", IID_IUnknown, unnamed.put()));
    ASSERT_HR(S_OK, GetGroupState(unnamed.get(), &copy));
    EXPECT_EQ(0u, copy.name.rfind(L"SvrProvName", 0))
        << "an empty clone name is generated: " << Narrow(copy.name);
    EXPECT_HR(OPC_E_DUPLICATENAME, mgt->CloneGroup(L"Clone", IID_IUnknown, refused.put()));
    EXPECT_HR(E_INVALIDARG, mgt->CloneGroup(L"X", GUID_NULL, refused.put()))
        << "CloneGroup for GUID_NULL";
    const DWORD before = GroupCount();
    EXPECT_HR(E_NOINTERFACE, mgt->CloneGroup(L"Y", kUnknownIid, refused.put()))
        << "CloneGroup for an unknown IID";
    EXPECT_EQ(before, GroupCount()) << "a clone that cannot be handed out is not kept";
}

// Several client threads add, rename and remove groups of one server at once; the
// server keeps count and names consistent and survives.
TEST_F(Groups, ConcurrentAddRenameAndRemove) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20;
    std::vector<std::thread> threads;
    std::vector<std::string> failures(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int n = 0; n < kRounds && failures[t].empty(); ++n) {
                const std::wstring name = L"T" + std::to_wstring(t) + L"_" + std::to_wstring(n);
                com::ComPtr<IUnknown> group;
                OPCHANDLE handle = 0;
                HRESULT hr = Add(name.c_str(), 1000, &group, &handle);
                com::ComPtr<IOPCGroupStateMgt> mgt;
                if (SUCCEEDED(hr)) hr = group.query(&mgt);
                // Every thread also tries a name another thread may hold right now.
                if (SUCCEEDED(hr)) mgt->SetName(L"Contested");
                if (SUCCEEDED(hr)) hr = mgt->SetName((L"R" + name).c_str());
                mgt.reset();
                group.reset();
                if (SUCCEEDED(hr) && n % 2) hr = server_->RemoveGroup(handle, FALSE);
                if (FAILED(hr))
                    failures[t] = "thread " + std::to_string(t) + " round " + std::to_string(n) +
                                  ": " + Hex(hr);
            }
            CoUninitialize();
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& failure : failures) EXPECT_EQ("", failure);

    std::vector<std::wstring> expected;
    for (int t = 0; t < kThreads; ++t)
        for (int n = 0; n < kRounds; n += 2)
            expected.push_back(L"RT" + std::to_wstring(t) + L"_" + std::to_wstring(n));
    std::sort(expected.begin(), expected.end());
    std::vector<std::wstring> names = GroupNames(server_.get());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(expected, names);
    EXPECT_EQ(expected.size(), GroupCount());
}

TEST_F(Groups, BadInputLeavesTheServerWorking) {
    com::ComPtr<IUnknown> group;
    OPCHANDLE handle = 1;
    DWORD revised = 0;
    HRESULT hr = server_->AddGroup(L"NoSuchInterface", TRUE, 1000, 0, nullptr, nullptr, 0, &handle,
                                   &revised, kUnknownIid, group.put());
    EXPECT_HR(E_NOINTERFACE, hr) << "AddGroup for an unknown IID returned " << Hex(hr);
    EXPECT_EQ(0u, handle) << "no server handle for a refused group";
    EXPECT_EQ(0u, GroupCount());

    com::ComPtr<IUnknown> item_mgt;
    ASSERT_HR(S_OK, Add(L"Plain", 1000, &group));
    EXPECT_HR(E_NOINTERFACE, group->QueryInterface(kUnknownIid, item_mgt.put_void()));
    com::ComPtr<IOPCPublicGroupStateMgt> publicMgt;
    EXPECT_HR(E_NOINTERFACE, group.query(&publicMgt)) << "public groups are not offered";

    // A long name is just a name.
    const std::wstring longName(10000, L'x');
    com::ComPtr<IUnknown> longGroup;
    ASSERT_HR(S_OK, Add(longName.c_str(), 1000, &longGroup))
        << "AddGroup with a 10000-character name";
    GroupState state;
    ASSERT_HR(S_OK, GetGroupState(longGroup.get(), &state));
    EXPECT_EQ(longName, state.name);

    EXPECT_HR(E_INVALIDARG, server_->GetGroupByName(L"", IID_IUnknown, group.put()));
    // Null pointers a client cannot send are refused by its proxy; the server never sees them.
    EXPECT_TRUE(FAILED(server_->GetStatus(nullptr))) << "GetStatus(null)";
    EXPECT_TRUE(FAILED(server_->AddGroup(nullptr, FALSE, 1000, 0, nullptr, nullptr, 0, &handle,
                                         &revised, IID_IUnknown, group.put())))
        << "AddGroup(null name)";
    EXPECT_EQ(2u, GroupCount()) << "the server still counts its groups after the refused calls";
}

}  // namespace
