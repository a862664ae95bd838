// The group-side OPC interfaces across processes: IOPCGroupStateMgt,
// IOPCPublicGroupStateMgt, IOPCSyncIO, IOPCAsyncIO, IOPCAsyncIO2, IOPCItemMgt,
// IEnumOPCItemAttributes, and IOPCDataCallback through the group's connection point.
#include "MarshalTest.h"
#include "com/Object.h"
#include "com/Sync.h"

namespace marshal {
namespace {

class GroupMarshal : public OpcMarshalTest {
protected:
    void SetUp() override {
        OpcMarshalTest::SetUp();
        if (HasFatalFailure()) return;
        group_ = AddGroup<IOPCGroupStateMgt>();
        ASSERT_TRUE(group_) << "no group to test";
    }

    template <class I>
    com::ComPtr<I> GroupQuery() {
        com::ComPtr<I> result;
        const HRESULT hr = group_.query(&result);
        EXPECT_EQ(S_OK, hr) << "group QueryInterface for " << typeid(I).name() << " returned "
                            << HrText(hr);
        return result;
    }

    com::ComPtr<IOPCGroupStateMgt> group_;
};

void ExpectItemErrors(const HRESULT* errors, const char* call) {
    ASSERT_NE(nullptr, errors) << call << ": no error array";
    for (size_t i = 0; i < ItemErrors().size(); ++i)
        EXPECT_EQ(ItemErrors()[i], errors[i]) << call << ": error of item " << i;
}

void ExpectResults(const OPCITEMRESULT* results, const char* call) {
    ASSERT_NE(nullptr, results) << call << ": no result array";
    const auto expected = ItemResultCases();
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].server, results[i].hServer) << call << ": hServer of item " << i;
        EXPECT_EQ(expected[i].canonical, results[i].vtCanonicalDataType)
            << call << ": canonical type of item " << i;
        EXPECT_EQ(expected[i].rights, results[i].dwAccessRights)
            << call << ": access rights of item " << i;
        EXPECT_TRUE(SameBytes(results[i].dwBlobSize, results[i].pBlob, expected[i].blob))
            << call << ": blob of item " << i << " (" << results[i].dwBlobSize << " bytes)";
    }
}

// The item definitions as a client builds them; the strings stay owned by cases.
std::vector<OPCITEMDEF> ItemDefs(std::vector<ItemDefCase>& cases) {
    std::vector<OPCITEMDEF> defs;
    for (auto& c : cases) {
        OPCITEMDEF def = {};
        def.szAccessPath = const_cast<LPWSTR>(c.accessPath);
        def.szItemID = &c.itemId[0];
        def.bActive = c.active;
        def.hClient = c.client;
        def.dwBlobSize = static_cast<DWORD>(c.blob.size());
        def.pBlob = c.blob.empty() ? nullptr : c.blob.data();
        def.vtRequestedDataType = c.requested;
        defs.push_back(def);
    }
    return defs;
}

std::vector<VARIANT> Borrow(const std::vector<com::UniqueVariant>& values) {
    std::vector<VARIANT> borrowed;
    for (auto& v : values) borrowed.push_back(*v.get());
    return borrowed;
}

TEST_F(GroupMarshal, GroupStateMixesNullAndSetUniquePointers) {
    DWORD rate = 0, lcid = 0;
    BOOL active = FALSE;
    LONG bias = 0;
    FLOAT deadband = 0;
    OPCHANDLE client = 0, server = 0;
    com::CoTaskMem<WCHAR> name;
    ASSERT_HR(S_OK, group_->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid, &client,
                                     &server));
    EXPECT_EQ(kRevisedRate, rate) << "GetState update rate";
    EXPECT_EQ(TRUE, active) << "GetState active";
    EXPECT_STREQ(kGroupName, name.get())
        << "GetState name ([out, string] LPWSTR* between other outs)";
    EXPECT_EQ(kTimeBias, bias) << "GetState time bias";
    EXPECT_EQ(kDeadband, deadband) << "GetState deadband";
    EXPECT_EQ(kLcid, lcid) << "GetState LCID";
    EXPECT_EQ(kClientGroup, client) << "GetState client handle";
    EXPECT_EQ(kServerGroup, server) << "GetState server handle";

    DWORD requested = 500, revised = 0;
    LONG zeroBias = 0;
    DWORD english = 0x0409;
    EXPECT_HR(S_OK, group_->SetState(&requested, &revised, nullptr, &zeroBias, nullptr, &english,
                                     nullptr));
    EXPECT_EQ(550u, revised) << "SetState revised rate";

    EXPECT_HR(S_OK, group_->SetName(kOtherGroupName));
    ASSERT_HR(S_OK, group_->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid, &client,
                                     &server));
    EXPECT_STREQ(kOtherGroupName, name.get()) << "GetState name after SetName";

    com::ComPtr<IOPCSyncIO> clone;
    ASSERT_HR(S_OK, group_->CloneGroup(kCloneName, IID_IOPCSyncIO, clone.put_unknown()));
    ASSERT_TRUE(clone);
    com::ComPtr<IOPCGroupStateMgt> cloneState;
    ASSERT_HR(S_OK, clone.query(&cloneState));
    ASSERT_HR(S_OK, cloneState->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid,
                                         &client, &server));
    EXPECT_STREQ(kCloneName, name.get()) << "name of the cloned group";

    com::ComPtr<IOPCPublicGroupStateMgt> publicState = GroupQuery<IOPCPublicGroupStateMgt>();
    ASSERT_TRUE(publicState);
    BOOL isPublic = TRUE;
    EXPECT_HR(S_OK, publicState->GetState(&isPublic));
    EXPECT_EQ(FALSE, isPublic) << "IOPCPublicGroupStateMgt::GetState before MoveToPublic";
    EXPECT_HR(S_OK, publicState->MoveToPublic());
    EXPECT_HR(S_OK, publicState->GetState(&isPublic));
    EXPECT_EQ(TRUE, isPublic) << "IOPCPublicGroupStateMgt::GetState after MoveToPublic";
}

TEST_F(GroupMarshal, SyncReadAndWriteCarryVariantsBothWays) {
    com::ComPtr<IOPCSyncIO> io = GroupQuery<IOPCSyncIO>();
    ASSERT_TRUE(io);
    auto handles = ServerItems();
    const DWORD count = static_cast<DWORD>(handles.size());

    com::CoTaskMem<OPCITEMSTATE> states;
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_FALSE, io->Read(OPC_DS_DEVICE, count, handles.data(), states.put(), errors.put()));
    ASSERT_TRUE(states) << "Read returned no states";
    const auto values = ReadValues();
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(ClientItems()[i], states[i].hClient) << "Read hClient " << i;
        EXPECT_TRUE(SameTime(TimeStamps()[i], states[i].ftTimeStamp)) << "Read timestamp " << i;
        EXPECT_EQ(Qualities()[i], states[i].wQuality) << "Read quality " << i;
        EXPECT_TRUE(SameVariant(*values[i], states[i].vDataValue))
            << "Read value " << i << ": expected " << Describe(*values[i]) << ", got "
            << Describe(states[i].vDataValue);
    }
    ExpectItemErrors(errors.get(), "IOPCSyncIO::Read");
    Free(states.get(), count);

    const auto written = WriteValues();
    auto borrowed = Borrow(written);
    EXPECT_HR(S_FALSE, io->Write(count, handles.data(), borrowed.data(), errors.put()));
    ExpectItemErrors(errors.get(), "IOPCSyncIO::Write");
}

TEST_F(GroupMarshal, AsyncIOVersion1) {
    com::ComPtr<IOPCAsyncIO> io = GroupQuery<IOPCAsyncIO>();
    ASSERT_TRUE(io);
    auto handles = ServerItems();
    const DWORD count = static_cast<DWORD>(handles.size());
    DWORD transaction = 0;
    com::CoTaskMem<HRESULT> errors;

    EXPECT_HR(S_FALSE, io->Read(kConnection, OPC_DS_CACHE, count, handles.data(), &transaction,
                                errors.put()));
    EXPECT_EQ(kTransaction, transaction) << "IOPCAsyncIO::Read transaction";
    ExpectItemErrors(errors.get(), "IOPCAsyncIO::Read");

    const auto written = WriteValues();
    auto borrowed = Borrow(written);
    EXPECT_HR(S_FALSE, io->Write(kConnection, count, handles.data(), borrowed.data(), &transaction,
                                 errors.put()));
    EXPECT_EQ(kTransaction + 1, transaction) << "IOPCAsyncIO::Write transaction";
    ExpectItemErrors(errors.get(), "IOPCAsyncIO::Write");

    EXPECT_HR(S_OK, io->Refresh(kConnection, OPC_DS_DEVICE, &transaction));
    EXPECT_EQ(kTransaction + 2, transaction) << "IOPCAsyncIO::Refresh transaction";
    EXPECT_HR(S_OK, io->Cancel(kTransaction));
}

// Records IOPCDataCallback calls, which arrive on RPC threads.
class DataSink : public com::Object<IOPCDataCallback> {
public:
    struct Call {
        std::string method;
        DWORD transaction = 0;
        OPCHANDLE group = 0;
        HRESULT quality = S_OK, error = S_OK;
        std::vector<OPCHANDLE> clients;
        std::vector<com::UniqueVariant> values;
        std::vector<WORD> qualities;
        std::vector<FILETIME> times;
        std::vector<HRESULT> errors;
    };

    DataSink() : called_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~DataSink() override { CloseHandle(called_); }

    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                              HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                              VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                              HRESULT* pErrors) override {
        return Values("OnDataChange", dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                      phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                HRESULT* pErrors) override {
        return Values("OnReadComplete", dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                      phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                 DWORD dwCount, OPCHANDLE* pClienthandles,
                                 HRESULT* pErrors) override {
        Call call;
        call.method = "OnWriteComplete";
        call.transaction = dwTransid;
        call.group = hGroup;
        call.error = hrMastererr;
        call.clients.assign(pClienthandles, pClienthandles + dwCount);
        call.errors.assign(pErrors, pErrors + dwCount);
        return Record(std::move(call));
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        Call call;
        call.method = "OnCancelComplete";
        call.transaction = dwTransid;
        call.group = hGroup;
        return Record(std::move(call));
    }

    // The next recorded call; false after 10 s without one.
    bool Take(Call* call) {
        for (;;) {
            {
                com::CsLock guard(lock_);
                if (!calls_.empty()) {
                    *call = std::move(calls_.front());
                    calls_.erase(calls_.begin());
                    return true;
                }
            }
            if (WaitForSingleObject(called_, 10000) != WAIT_OBJECT_0) return false;
        }
    }

private:
    HRESULT Values(const char* method, DWORD transaction, OPCHANDLE group, HRESULT quality,
                   HRESULT error, DWORD count, OPCHANDLE* clients, VARIANT* values, WORD* qualities,
                   FILETIME* times, HRESULT* errors) {
        return com::ComBoundary([&] {
            Call call;
            call.method = method;
            call.transaction = transaction;
            call.group = group;
            call.quality = quality;
            call.error = error;
            call.clients.assign(clients, clients + count);
            for (DWORD i = 0; i < count; ++i) call.values.emplace_back(values[i]);
            call.qualities.assign(qualities, qualities + count);
            call.times.assign(times, times + count);
            call.errors.assign(errors, errors + count);
            return Record(std::move(call));
        });
    }
    HRESULT Record(Call call) {
        {
            com::CsLock guard(lock_);
            calls_.push_back(std::move(call));
        }
        SetEvent(called_);
        return S_OK;
    }

    HANDLE called_;
    com::CriticalSection lock_;  // guards calls_
    std::vector<Call> calls_;
};

void ExpectValuesCall(const DataSink::Call& call, const char* method) {
    EXPECT_EQ(method, call.method);
    EXPECT_EQ(kTransaction, call.transaction) << method << " transaction";
    EXPECT_EQ(kClientGroup, call.group) << method << " group";
    EXPECT_EQ(S_FALSE, call.quality) << method << " master quality";
    EXPECT_EQ(S_FALSE, call.error) << method << " master error";
    EXPECT_EQ(ClientItems(), call.clients) << method << " client handles";
    const auto values = ReadValues();
    ASSERT_EQ(values.size(), call.values.size()) << method << " value count";
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_TRUE(SameVariant(*values[i], *call.values[i].get()))
            << method << " value " << i << ": expected " << Describe(*values[i]) << ", got "
            << Describe(*call.values[i].get());
    EXPECT_EQ(Qualities(), call.qualities) << method << " qualities";
    ASSERT_EQ(TimeStamps().size(), call.times.size());
    for (size_t i = 0; i < call.times.size(); ++i)
        EXPECT_TRUE(SameTime(TimeStamps()[i], call.times[i])) << method << " timestamp " << i;
    EXPECT_EQ(ItemErrors(), call.errors) << method << " errors";
}

TEST_F(GroupMarshal, AsyncIO2AnswersThroughTheDataCallback) {
    com::ComPtr<IConnectionPointContainer> container = GroupQuery<IConnectionPointContainer>();
    ASSERT_TRUE(container);
    com::ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, point.put()));
    com::ComPtr<DataSink> sink;
    ASSERT_HR(S_OK, com::MakeObject(&sink));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, point->Advise(static_cast<IOPCDataCallback*>(sink.get()), &cookie));

    com::ComPtr<IOPCAsyncIO2> io = GroupQuery<IOPCAsyncIO2>();
    ASSERT_TRUE(io);
    auto handles = ServerItems();
    const DWORD count = static_cast<DWORD>(handles.size());
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    DataSink::Call call;

    EXPECT_HR(S_FALSE, io->Read(count, handles.data(), kTransaction, &cancelId, errors.put()));
    EXPECT_EQ(kCancelId, cancelId) << "IOPCAsyncIO2::Read cancel ID";
    ExpectItemErrors(errors.get(), "IOPCAsyncIO2::Read");
    ASSERT_TRUE(sink->Take(&call)) << "no callback for IOPCAsyncIO2::Read";
    ExpectValuesCall(call, "OnReadComplete");

    const auto written = WriteValues();
    auto borrowed = Borrow(written);
    EXPECT_HR(S_FALSE, io->Write(count, handles.data(), borrowed.data(), kTransaction, &cancelId,
                                 errors.put()));
    ExpectItemErrors(errors.get(), "IOPCAsyncIO2::Write");
    ASSERT_TRUE(sink->Take(&call)) << "no callback for IOPCAsyncIO2::Write";
    EXPECT_EQ("OnWriteComplete", call.method);
    EXPECT_EQ(kTransaction, call.transaction) << "OnWriteComplete transaction";
    EXPECT_EQ(kClientGroup, call.group) << "OnWriteComplete group";
    EXPECT_EQ(S_FALSE, call.error) << "OnWriteComplete master error";
    EXPECT_EQ(ClientItems(), call.clients) << "OnWriteComplete client handles";
    EXPECT_EQ(ItemErrors(), call.errors) << "OnWriteComplete errors";

    EXPECT_HR(S_OK, io->Refresh2(OPC_DS_CACHE, kTransaction, &cancelId));
    ASSERT_TRUE(sink->Take(&call)) << "no callback for Refresh2";
    ExpectValuesCall(call, "OnDataChange");

    EXPECT_HR(S_OK, io->Cancel2(kCancelId));
    ASSERT_TRUE(sink->Take(&call)) << "no callback for Cancel2";
    EXPECT_EQ("OnCancelComplete", call.method);
    EXPECT_EQ(kTransaction, call.transaction) << "OnCancelComplete transaction";
    EXPECT_EQ(kClientGroup, call.group) << "OnCancelComplete group";

    BOOL enabled = FALSE;
    EXPECT_HR(S_OK, io->GetEnable(&enabled));
    EXPECT_EQ(TRUE, enabled) << "GetEnable before SetEnable";
    EXPECT_HR(S_OK, io->SetEnable(FALSE));
    EXPECT_HR(S_OK, io->GetEnable(&enabled));
    EXPECT_EQ(FALSE, enabled) << "GetEnable after SetEnable(FALSE)";

    EXPECT_HR(S_OK, point->Unadvise(cookie));
}

TEST_F(GroupMarshal, ItemManagementWithStringsAndBlobs) {
    com::ComPtr<IOPCItemMgt> items = GroupQuery<IOPCItemMgt>();
    ASSERT_TRUE(items);
    auto cases = ItemDefCases();
    auto defs = ItemDefs(cases);
    const DWORD count = static_cast<DWORD>(defs.size());
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;

    ASSERT_HR(S_FALSE, items->AddItems(count, defs.data(), results.put(), errors.put()));
    ExpectResults(results.get(), "AddItems");
    ExpectItemErrors(errors.get(), "AddItems");
    Free(results.get(), count);

    ASSERT_HR(S_FALSE, items->ValidateItems(count, defs.data(), TRUE, results.put(), errors.put()));
    ExpectResults(results.get(), "ValidateItems");
    ExpectItemErrors(errors.get(), "ValidateItems");
    Free(results.get(), count);

    auto handles = ServerItems();
    EXPECT_HR(S_FALSE, items->RemoveItems(count, handles.data(), errors.put()));
    ExpectItemErrors(errors.get(), "RemoveItems");
    EXPECT_HR(S_FALSE, items->SetActiveState(count, handles.data(), FALSE, errors.put()));
    ExpectItemErrors(errors.get(), "SetActiveState");
    auto clients = ClientItems();
    EXPECT_HR(S_FALSE,
              items->SetClientHandles(count, handles.data(), clients.data(), errors.put()));
    ExpectItemErrors(errors.get(), "SetClientHandles");
    VARTYPE types[] = {VT_I4, VT_BSTR, VT_ARRAY | VT_R8};
    EXPECT_HR(S_FALSE, items->SetDatatypes(count, handles.data(), types, errors.put()));
    ExpectItemErrors(errors.get(), "SetDatatypes");
}

void ExpectAttributes(const OPCITEMATTRIBUTES& item, size_t i) {
    const ItemDefCase def = ItemDefCases()[i];
    const ItemResultCase result = ItemResultCases()[i];
    EXPECT_TRUE(SameString(def.accessPath, item.szAccessPath))
        << "szAccessPath of attributes " << i;
    EXPECT_TRUE(SameString(def.itemId.c_str(), item.szItemID)) << "szItemID of attributes " << i;
    EXPECT_EQ(def.active, item.bActive) << "bActive of attributes " << i;
    EXPECT_EQ(def.client, item.hClient) << "hClient of attributes " << i;
    EXPECT_EQ(result.server, item.hServer) << "hServer of attributes " << i;
    EXPECT_EQ(result.rights, item.dwAccessRights) << "dwAccessRights of attributes " << i;
    EXPECT_TRUE(SameBytes(item.dwBlobSize, item.pBlob, def.blob)) << "blob of attributes " << i;
    EXPECT_EQ(def.requested, item.vtRequestedDataType) << "vtRequestedDataType of attributes " << i;
    EXPECT_EQ(result.canonical, item.vtCanonicalDataType)
        << "vtCanonicalDataType of attributes " << i;
    EXPECT_EQ(EuTypes()[i], item.dwEUType) << "dwEUType of attributes " << i;
    EXPECT_TRUE(SameVariant(*EuInfo(i).get(), item.vEUInfo))
        << "vEUInfo of attributes " << i << ": got " << Describe(item.vEUInfo);
}

TEST_F(GroupMarshal, ItemAttributesEnumerator) {
    com::ComPtr<IOPCItemMgt> items = GroupQuery<IOPCItemMgt>();
    ASSERT_TRUE(items);
    com::ComPtr<IEnumOPCItemAttributes> attributes;
    ASSERT_HR(S_OK, items->CreateEnumerator(IID_IEnumOPCItemAttributes, attributes.put_unknown()));
    ASSERT_TRUE(attributes);

    com::CoTaskMem<OPCITEMATTRIBUTES> array;
    ULONG fetched = 0;
    ASSERT_HR(S_OK, attributes->Next(2, array.put(), &fetched));
    ASSERT_EQ(2u, fetched) << "Next(2)";
    ExpectAttributes(array[0], 0);
    ExpectAttributes(array[1], 1);
    Free(array.get(), fetched);

    com::ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_HR(S_OK, attributes->Clone(clone.put()));
    ASSERT_HR(S_FALSE, attributes->Next(2, array.put(), &fetched));
    ASSERT_EQ(1u, fetched) << "Next(2) with one left";
    ExpectAttributes(array[0], 2);
    Free(array.get(), fetched);
    EXPECT_HR(S_FALSE, attributes->Next(1, array.put(), &fetched));
    EXPECT_EQ(0u, fetched) << "Next past the end";

    EXPECT_HR(S_OK, attributes->Reset());
    EXPECT_HR(S_OK, attributes->Skip(2));
    EXPECT_HR(S_FALSE, attributes->Skip(2));
    ASSERT_HR(S_OK, clone->Next(1, array.put(), &fetched));
    ExpectAttributes(array[0], 2);
    Free(array.get(), fetched);

    IUnknown* other = reinterpret_cast<IUnknown*>(static_cast<uintptr_t>(1));
    EXPECT_HR(E_NOINTERFACE, items->CreateEnumerator(IID_IEnumString, &other));
    EXPECT_EQ(nullptr, other) << "CreateEnumerator with an unsupported IID";
}

}  // namespace
}  // namespace marshal
