#include "OPCInteraction.h"

#include "com/Bstr.h"
#include "com/Disconnection.h"
#include "com/Log.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/ScopeExit.h"
#include "com/Strings.h"
#include "com/Time.h"
#include "com/Variant.h"
#include "DataCallbackSink.h"
#include "OPCResults.h"
#include "Singleton.h"

namespace vkopc {
namespace {

constexpr wchar_t kAutomaticGroupName[] = L"OPCItemAutomaticGroup";
constexpr wchar_t kLocalServer[] = L"localserver";
// Settings of every group this client adds: inactive, so that the bus
// server sends no data changes, only the completions asked for.
constexpr DWORD kGroupUpdateRate = 1000;
constexpr FLOAT kGroupDeadband = 10.0f;
constexpr DWORD kGroupLocale = 0x400;
// A lost bus server is asked for again at most this often: every call in between
// fails at once instead of waiting for a server that does not start.
constexpr ULONGLONG kReconnectIntervalMs = 1000;

// IOPCInteraction reports the failure of any step as E_FAIL; only its own
// argument checks answer otherwise.
HRESULT AsInteractionResult(HRESULT hr, const char* step) {
    return SUCCEEDED(hr) ? S_OK : com::MapFailure(E_FAIL, hr, step);
}

}  // namespace

COPCInteraction::COPCInteraction() = default;
COPCInteraction::~COPCInteraction() = default;

STDMETHODIMP_(ULONG) COPCInteraction::Release() {
    com::CsLock guard(SingletonLock());
    return InternalRelease();
}

HRESULT COPCInteraction::FinalConstruct() { return com::MakeObject(&sink_, this); }

void COPCInteraction::FinalRelease() {
    ForgetSingleton(this);
    if (sink_) sink_->Detach();
    Teardown();
}

HRESULT COPCInteraction::QueryInterfaceHook(REFIID riid, void** ppv) {
    if (riid == __uuidof(IOPCBrowseServerAddressSpace)) {
        if (!serverUnknown_) return E_NOINTERFACE;
        return serverUnknown_->QueryInterface(riid, ppv);
    }
    return E_NOINTERFACE;
}

// ---------------------------------------------------------------------------
// OPC client steps

HRESULT COPCInteraction::Connect(const std::wstring& progId, const std::wstring& hostName,
                                 std::shared_ptr<CSvrInfo>* out) {
    CLSID clsid{};
    RETURN_IF_FAILED(CLSIDFromProgID(progId.c_str(), &clsid));
    const Handle16 handle = servers_.IssueHandle();
    if (handle == 0) return E_FAIL;
    auto server = std::make_shared<CSvrInfo>();
    server->hServer = handle;
    server->hostName = hostName;
    server->progId = progId;
    server->clsid = clsid;
    RETURN_IF_FAILED(CreateServer(*server));
    servers_.Insert(handle, server);
    currentServer_ = server.get();
    *out = std::move(server);
    return S_OK;
}

HRESULT COPCInteraction::CreateServer(CSvrInfo& server) {
    MULTI_QI query{&__uuidof(IOPCServer), nullptr, S_OK};
    COSERVERINFO serverInfo{};
    COSERVERINFO* info = nullptr;
    // An empty host name means this machine, as "localserver" does.
    if (!server.hostName.empty() && !com::EqualsNoCase(server.hostName, kLocalServer)) {
        serverInfo.pwszName = const_cast<LPWSTR>(server.hostName.c_str());
        info = &serverInfo;
    }
    RETURN_IF_FAILED(CoCreateInstanceEx(
        server.clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
        info, 1, &query));
    com::ComPtr<IUnknown> unknown;
    unknown.attach(query.pItf);
    RETURN_IF_FAILED(query.hr);
    unknown.query(&server.server);
    unknown.query(&server.common);
    unknown.query(&server.publicGroups);
    unknown.query(&server.browse);
    unknown.query(&server.persistFile);
    unknown.query(&server.connectionPointContainer);
    unknown.query(&server.itemProperties);
    if (!server.server) {
        server.Release();
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT COPCInteraction::AddGroup(const std::shared_ptr<CSvrInfo>& server, const std::wstring& name,
                                  Handle16* hGroup) {
    const Handle16 handle = server->groups.IssueHandle();
    if (handle == 0) return E_FAIL;
    auto group = std::make_shared<CGrpInfo>();
    group->name = name;
    group->hClient = handle;
    RETURN_IF_FAILED(CreateGroup(*server, *group));
    server->groups.Insert(handle, group);
    *hGroup = handle;
    return S_OK;
}

HRESULT COPCInteraction::CreateGroup(CSvrInfo& server, CGrpInfo& group) {
    LONG timeBias = 0;
    FLOAT deadband = kGroupDeadband;
    OPCHANDLE hServerGroup = 0;
    DWORD revisedRate = 0;
    com::ComPtr<IOPCGroupStateMgt> stateMgt;
    com::ComPtr<IOPCServer> opcServer = server.server;
    RETURN_IF_FAILED(opcServer->AddGroup(group.name.c_str(), FALSE, kGroupUpdateRate, group.hClient,
                                         &timeBias, &deadband, kGroupLocale, &hServerGroup,
                                         &revisedRate, __uuidof(IOPCGroupStateMgt),
                                         stateMgt.put_unknown()));
    if (!stateMgt) return E_NOINTERFACE;
    const HRESULT hr = stateMgt.query(&group.itemMgt);
    if (FAILED(hr)) {
        // A group that cannot take items is of no use; do not leave it behind.
        stateMgt.reset();
        opcServer->RemoveGroup(hServerGroup, TRUE);
        return hr;
    }
    group.hServer = hServerGroup;
    group.revisedUpdateRate = revisedRate;
    group.timeBias = timeBias;
    group.percentDeadband = deadband;
    group.locale = kGroupLocale;
    return S_OK;
}

HRESULT COPCInteraction::AddItems(const std::shared_ptr<CGrpInfo>& group,
                                  const std::vector<std::wstring>& ids, VARTYPE requestedType,
                                  std::vector<Handle16>* handles) {
    handles->assign(ids.size(), 0);
    if (ids.empty()) return S_OK;
    std::vector<Handle16> clientHandles;
    if (!group->items.IssueHandles(ids.size(), &clientHandles)) return E_FAIL;
    return AddItemsAs(group, ids, std::vector<VARTYPE>(ids.size(), requestedType), clientHandles,
                      handles);
}

HRESULT COPCInteraction::AddItemsAs(const std::shared_ptr<CGrpInfo>& group,
                                    const std::vector<std::wstring>& ids,
                                    const std::vector<VARTYPE>& types,
                                    const std::vector<Handle16>& clientHandles,
                                    std::vector<Handle16>* added, HRESULT* callResult) {
    added->assign(ids.size(), 0);
    if (ids.empty()) return S_OK;
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = clientHandles[i];
        defs[i].dwBlobSize = 0;
        defs[i].pBlob = nullptr;
        defs[i].vtRequestedDataType = types[i];
    }
    ItemResults results(ids.size());
    com::ComPtr<IOPCItemMgt> itemMgt = group->itemMgt;
    const HRESULT called = itemMgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(),
                                             results.put(), results.errors.put());
    if (callResult) *callResult = called;
    RETURN_IF_FAILED(called);
    HRESULT hr = S_OK;
    for (size_t i = 0; i < ids.size(); ++i) {
        const HRESULT itemResult = results.Error(i);
        if (FAILED(itemResult)) {
            hr = itemResult;
            continue;
        }
        const OPCITEMRESULT& result = results.Result(i);
        std::shared_ptr<CItemInfo> item = group->items.Share(clientHandles[i]);
        if (!item) {
            item = std::make_shared<CItemInfo>();
            group->items.Insert(clientHandles[i], item);
        }
        item->hClient = clientHandles[i];
        item->hServer = result.hServer;
        item->itemId = ids[i];
        item->accessPath = L"";
        item->active = TRUE;
        item->requestedType = types[i];
        item->canonicalType = result.vtCanonicalDataType;
        item->accessRights = result.dwAccessRights;
        (*added)[i] = clientHandles[i];
    }
    return hr;
}

HRESULT COPCInteraction::RemoveItems(const std::shared_ptr<CGrpInfo>& group,
                                     const unsigned long* phItems, size_t count) {
    std::vector<OPCHANDLE> serverHandles(count);
    for (size_t i = 0; i < count; ++i) {
        const CItemInfo* item = group->items.Find(phItems[i]);
        if (!item) return E_INVALIDARG;
        serverHandles[i] = item->hServer;
    }
    if (count == 0) return S_OK;
    com::CoTaskMem<HRESULT> errors;
    com::ComPtr<IOPCItemMgt> itemMgt = group->itemMgt;
    RETURN_IF_FAILED(
        itemMgt->RemoveItems(static_cast<DWORD>(count), serverHandles.data(), errors.put()));
    HRESULT hr = S_OK;
    for (size_t i = 0; i < count; ++i) {
        const HRESULT itemResult = errors ? errors[i] : E_FAIL;
        if (FAILED(itemResult))
            hr = itemResult;
        else
            group->items.Take(phItems[i]);
    }
    return hr;
}

HRESULT COPCInteraction::SyncRead(const std::shared_ptr<CGrpInfo>& group,
                                  const unsigned long* phItems, size_t count, VARIANT* pValues) {
    com::ComPtr<IOPCSyncIO> syncIO;
    RETURN_IF_FAILED(group->GetSyncIO(&syncIO));
    std::vector<OPCHANDLE> serverHandles(count);
    for (size_t i = 0; i < count; ++i) {
        const CItemInfo* item = group->items.Find(phItems[i]);
        if (!item) return E_INVALIDARG;
        serverHandles[i] = item->hServer;
    }
    ItemStates states(count);
    RETURN_IF_FAILED(syncIO->Read(OPC_DS_DEVICE, static_cast<DWORD>(count), serverHandles.data(),
                                  states.put(), states.errors.put()));
    HRESULT hr = S_OK;
    for (size_t i = 0; i < count; ++i) {
        const HRESULT itemResult = states.Error(i);
        if (FAILED(itemResult)) {
            hr = itemResult;
            continue;
        }
        const OPCITEMSTATE& state = states.State(i);
        VariantInit(&pValues[i]);
        HRESULT copied = VariantCopy(&pValues[i], const_cast<VARIANT*>(&state.vDataValue));
        if (FAILED(copied)) {
            hr = copied;
            continue;
        }
        // The item may have gone while the call ran (a re-entrant Terminate).
        if (CItemInfo* item = group->items.Find(phItems[i])) {
            item->timeStamp = state.ftTimeStamp;
            item->quality = state.wQuality;
            item->value.copy_from(state.vDataValue);
        }
    }
    return hr;
}

HRESULT COPCInteraction::SyncWrite(const std::shared_ptr<CGrpInfo>& group,
                                   const unsigned long* phItems, size_t count,
                                   const VARIANT* pValues) {
    com::ComPtr<IOPCSyncIO> syncIO;
    RETURN_IF_FAILED(group->GetSyncIO(&syncIO));
    std::vector<OPCHANDLE> serverHandles(count);
    for (size_t i = 0; i < count; ++i) {
        const CItemInfo* item = group->items.Find(phItems[i]);
        if (!item) return E_INVALIDARG;
        serverHandles[i] = item->hServer;
    }
    std::vector<com::UniqueVariant> values(count);
    std::vector<VARIANT> raw(count);
    for (size_t i = 0; i < count; ++i) {
        RETURN_IF_FAILED(values[i].copy_from(pValues[i]));
        raw[i] = *values[i].get();
    }
    com::CoTaskMem<HRESULT> errors;
    const HRESULT hr =
        syncIO->Write(static_cast<DWORD>(count), serverHandles.data(), raw.data(), errors.put());
    RETURN_IF_FAILED(hr);
    if (hr == S_OK) return S_OK;
    for (size_t i = 0; i < count; ++i) {
        const HRESULT itemResult = errors ? errors[i] : E_FAIL;
        if (itemResult != S_OK) return FAILED(itemResult) ? itemResult : E_FAIL;
    }
    return S_OK;
}

HRESULT COPCInteraction::DropGroup(const std::shared_ptr<CSvrInfo>& server, Handle16 hGroup,
                                   BOOL force) {
    std::shared_ptr<CGrpInfo> group = server->groups.Share(hGroup);
    if (!group) return E_INVALIDARG;
    // A lost server has no group to remove: only the record goes.
    if (!server->lost) {
        com::ComPtr<IOPCServer> opcServer = server->server;
        RETURN_IF_FAILED(Checked(server, opcServer->RemoveGroup(group->hServer, force)));
    }
    server->groups.Take(hGroup);
    return S_OK;
}

void COPCInteraction::DropServer(Handle16 hServer) {
    std::shared_ptr<CSvrInfo> server = servers_.Take(hServer);
    if (server.get() == currentServer_) {
        currentServer_ = nullptr;
        serverUnknown_.reset();
    }
}

void COPCInteraction::Teardown() {
    // Each item singly, then its group, then the server.
    while (!servers_.Empty()) {
        std::shared_ptr<CSvrInfo> server = servers_.Share(servers_.FirstHandle());
        while (!server->groups.Empty()) {
            const Handle16 hGroup = server->groups.FirstHandle();
            std::shared_ptr<CGrpInfo> group = server->groups.Share(hGroup);
            while (!group->items.Empty()) {
                const unsigned long hItem = group->items.FirstHandle();
                if (!server->lost) Checked(server, RemoveItems(group, &hItem, 1));
                group->items.Take(hItem);
            }
            if (FAILED(DropGroup(server, hGroup, FALSE))) server->groups.Take(hGroup);
        }
        DropServer(server->hServer);
    }
    currentServer_ = nullptr;
    serverUnknown_.reset();
    callback_.reset();
    parameter_.reset();
}

// ---------------------------------------------------------------------------
// Lookups

std::shared_ptr<CSvrInfo> COPCInteraction::FindServerByProgId(const std::wstring& progId) const {
    for (const auto& entry : servers_) {
        if (com::EqualsNoCase(entry.second->progId, progId)) return entry.second;
    }
    return nullptr;
}

std::shared_ptr<CSvrInfo> COPCInteraction::CurrentServer() const {
    return currentServer_ ? servers_.Share(currentServer_->hServer) : nullptr;
}

std::shared_ptr<CGrpInfo> COPCInteraction::CurrentGroup(unsigned long hGroup) const {
    return currentServer_ ? currentServer_->groups.Share(hGroup) : nullptr;
}

HRESULT COPCInteraction::RefreshServerUnknown(const CSvrInfo& server) {
    serverUnknown_.reset();
    if (!server.server) return E_FAIL;
    return server.server.query(&serverUnknown_);
}

HRESULT COPCInteraction::Checked(const std::shared_ptr<CSvrInfo>& server, HRESULT hr) {
    if (server && !server->lost && com::IsDisconnection(hr)) {
        LOG_WARNING(L"bus server %ls gone (0x%08lX): connecting again later",
                    server->progId.c_str(), static_cast<unsigned long>(hr));
        server->Abandon(hr, GetTickCount64());
        if (server.get() == currentServer_) serverUnknown_.reset();
    }
    return hr;
}

HRESULT COPCInteraction::Reconnect(const std::shared_ptr<CSvrInfo>& server) {
    if (!server->lost) return S_OK;
    const ULONGLONG now = GetTickCount64();
    if (now - server->lastAttempt < kReconnectIntervalMs) return server->lostResult;
    server->lastAttempt = now;
    const HRESULT hr = Restore(*server);
    if (FAILED(hr)) {
        // Counted from the end: an activation that takes long is not repeated at once.
        server->Abandon(hr, GetTickCount64());
        return hr;
    }
    server->lost = false;
    server->lostResult = S_OK;
    if (server.get() == currentServer_) RefreshServerUnknown(*server);
    LOG_INFO(L"bus server %ls connected again", server->progId.c_str());
    return S_OK;
}

HRESULT COPCInteraction::Restore(CSvrInfo& server) {
    RETURN_IF_FAILED(CreateServer(server));
    // Copies: a call that re-enters during the outgoing calls may drop records.
    std::vector<std::shared_ptr<CGrpInfo>> groups;
    for (const auto& entry : server.groups) groups.push_back(entry.second);
    for (const auto& group : groups) {
        RETURN_IF_FAILED(CreateGroup(server, *group));
        std::vector<std::wstring> ids;
        std::vector<VARTYPE> types;
        std::vector<Handle16> handles;
        for (const auto& entry : group->items) {
            ids.push_back(entry.second->itemId);
            types.push_back(entry.second->requestedType);
            handles.push_back(entry.first);
        }
        std::vector<Handle16> added;
        HRESULT called = S_OK;
        AddItemsAs(group, ids, types, handles, &added, &called);
        RETURN_IF_FAILED(called);
        // An item that the server no longer knows loses its record.
        for (size_t i = 0; i < added.size(); ++i) {
            if (added[i] == 0) group->items.Take(handles[i]);
        }
        if (group->adviseAgain) {
            com::ComPtr<IOPCAsyncIO2> asyncIO;
            RETURN_IF_FAILED(PrepareGroupAsync(*group, &asyncIO));
            group->adviseAgain = false;
        }
    }
    return S_OK;
}

HRESULT COPCInteraction::UsableCurrent(std::shared_ptr<CSvrInfo>* server) {
    *server = CurrentServer();
    if (!*server) return E_FAIL;
    return Reconnect(*server);
}

HRESULT COPCInteraction::LookupAddress(const VARIANT& address, HRESULT noServerResult,
                                       ItemLookup* found, bool reconnect) {
    if (V_VT(&address) != VT_BSTR) return E_INVALIDARG;
    ItemAddress parts;
    RETURN_IF_FAILED(SplitItemAddress(std::wstring(com::BstrView(V_BSTR(&address))), &parts));
    std::shared_ptr<CSvrInfo> server = FindServerByProgId(parts.progId);
    if (!server) return noServerResult;
    currentServer_ = server.get();
    if (server->groups.Empty()) return E_FAIL;
    if (reconnect) RETURN_IF_FAILED(Reconnect(server));
    const HRESULT refreshed = server->lost ? S_OK : RefreshServerUnknown(*server);
    if (FAILED(refreshed)) return com::MapFailure(E_FAIL, refreshed, "refreshing the bus server");
    std::shared_ptr<CGrpInfo> group = server->groups.Share(automaticGroup_);
    if (!group) return E_FAIL;
    CItemInfo* item = group->FindItem(parts.itemId);
    if (!item) return E_INVALIDARG;
    found->server = std::move(server);
    found->group = std::move(group);
    found->item = item;
    return S_OK;
}

// ---------------------------------------------------------------------------
// IOPCInteraction

STDMETHODIMP COPCInteraction::ConnectToServer(BSTR szServerProgId, BSTR szHostName) {
    return com::ComBoundary([&]() -> HRESULT {
        std::shared_ptr<CSvrInfo> server;
        return AsInteractionResult(Connect(std::wstring(com::BstrView(szServerProgId)),
                                           std::wstring(com::BstrView(szHostName)), &server),
                                   "ConnectToServer");
    });
}

STDMETHODIMP COPCInteraction::OPCServerAddgroup(BSTR nameParam, unsigned long* phGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(phGroup);
        *phGroup = 0;
        const std::wstring name(com::BstrView(nameParam));
        if (name.empty()) return E_FAIL;
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "OPCServerAddgroup"));
        Handle16 handle = 0;
        RETURN_IF_FAILED(AsInteractionResult(Checked(server, AddGroup(server, name, &handle)),
                                             "OPCServerAddgroup"));
        *phGroup = handle;
        return S_OK;
    });
}

STDMETHODIMP COPCInteraction::OPCItemmgtAdditems(unsigned long hGroup, int nNumOfItems,
                                                 BSTR* szItemNames, unsigned long* phItems) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, nNumOfItems < 0);
        RETURN_HR_IF(E_POINTER, nNumOfItems > 0 && (!szItemNames || !phItems));
        for (int i = 0; i < nNumOfItems; ++i) phItems[i] = 0;
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "OPCItemmgtAdditems"));
        std::shared_ptr<CGrpInfo> group = CurrentGroup(hGroup);
        if (!group) return E_FAIL;
        // Empty names are skipped and take no handle slot.
        std::vector<std::wstring> ids;
        for (int i = 0; i < nNumOfItems; ++i) {
            std::wstring id(com::BstrView(szItemNames[i]));
            if (!id.empty()) ids.push_back(std::move(id));
        }
        std::vector<Handle16> handles;
        const HRESULT hr = Checked(server, AddItems(group, ids, VT_BSTR, &handles));
        for (size_t i = 0; i < handles.size(); ++i) phItems[i] = handles[i];
        return AsInteractionResult(hr, "OPCItemmgtAdditems");
    });
}

STDMETHODIMP COPCInteraction::OPCItemmgtRemoveitems(unsigned long hGroup, unsigned long* phItems,
                                                    int ItemNumber) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, ItemNumber < 0);
        RETURN_HR_IF(E_POINTER, ItemNumber > 0 && !phItems);
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "OPCItemmgtRemoveitems"));
        std::shared_ptr<CGrpInfo> group = CurrentGroup(hGroup);
        if (!group) return E_FAIL;
        return AsInteractionResult(
            Checked(server, RemoveItems(group, phItems, static_cast<size_t>(ItemNumber))),
            "OPCItemmgtRemoveitems");
    });
}

STDMETHODIMP COPCInteraction::OPCServerRemovegroup(unsigned long hGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "OPCServerRemovegroup"));
        std::shared_ptr<CGrpInfo> group = CurrentGroup(hGroup);
        if (!group) return E_FAIL;
        std::vector<unsigned long> handles;
        for (const auto& entry : group->items) handles.push_back(entry.first);
        RETURN_IF_FAILED(
            AsInteractionResult(Checked(server, RemoveItems(group, handles.data(), handles.size())),
                                "OPCServerRemovegroup"));
        return AsInteractionResult(DropGroup(server, group->hClient, TRUE), "OPCServerRemovegroup");
    });
}

STDMETHODIMP COPCInteraction::OPCSyncioRead(unsigned long hGroup, int numItems,
                                            unsigned long* phItems, VARIANT* pValues) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, numItems <= 0);
        RETURN_HR_IF(E_POINTER, !phItems || !pValues);
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "OPCSyncioRead"));
        std::shared_ptr<CGrpInfo> group = CurrentGroup(hGroup);
        if (!group) return E_FAIL;
        return AsInteractionResult(Checked(server, SyncRead(group, phItems, numItems, pValues)),
                                   "OPCSyncioRead");
    });
}

STDMETHODIMP COPCInteraction::OPCSyncioWrite(unsigned long hGroup, int numItems,
                                             unsigned long* phItems, VARIANT* pValues) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, numItems <= 0);
        RETURN_HR_IF(E_POINTER, !phItems || !pValues);
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "OPCSyncioWrite"));
        std::shared_ptr<CGrpInfo> group = CurrentGroup(hGroup);
        if (!group) return E_FAIL;
        return AsInteractionResult(Checked(server, SyncWrite(group, phItems, numItems, pValues)),
                                   "OPCSyncioWrite");
    });
}

STDMETHODIMP COPCInteraction::GetServerInterface(IUnknown** ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppUnk);
        *ppUnk = nullptr;
        std::shared_ptr<CSvrInfo> server;
        RETURN_IF_FAILED(AsInteractionResult(UsableCurrent(&server), "GetServerInterface"));
        com::ComPtr<IUnknown> unknown;
        if (!server->server || server->server.query(&unknown) != S_OK) return E_FAIL;
        *ppUnk = unknown.detach();
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
// IvkInteraction2

STDMETHODIMP COPCInteraction::Read(VARIANT vAddress, VARIANT* pvValue, VARIANT* pvQuality,
                                   VARIANT* pvTimeStamp) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, !pvValue || !pvQuality || !pvTimeStamp);
        // [out]: valid (empty) also when the read fails, as while a response is pending.
        VariantInit(pvValue);
        VariantInit(pvQuality);
        VariantInit(pvTimeStamp);
        ItemLookup found;
        RETURN_IF_FAILED(LookupAddress(vAddress, E_FAIL, &found));
        const unsigned long hItem = found.item->hClient;
        com::UniqueVariant value;
        RETURN_IF_FAILED(Checked(found.server, SyncRead(found.group, &hItem, 1, value.put())));
        const CItemInfo* item = found.group->items.Find(hItem);
        if (!item) return E_FAIL;
        V_VT(pvQuality) = VT_I2;
        V_I2(pvQuality) = static_cast<SHORT>(item->quality);
        V_VT(pvTimeStamp) = VT_DATE;
        V_DATE(pvTimeStamp) = com::FileTimeToDate(item->timeStamp);
        return value.move_to(pvValue);
    });
}

STDMETHODIMP COPCInteraction::Write(VARIANT vAddress, VARIANT vValue) {
    return com::ComBoundary([&]() -> HRESULT {
        ItemLookup found;
        RETURN_IF_FAILED(LookupAddress(vAddress, E_FAIL, &found));
        const unsigned long hItem = found.item->hClient;
        return Checked(found.server, SyncWrite(found.group, &hItem, 1, &vValue));
    });
}

STDMETHODIMP COPCInteraction::Init(long /*lCookie*/, IUnknown* pParameter, IUnknown** ppReplacement,
                                   VARTYPE* pvtAddressType) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, !ppReplacement || !pvtAddressType);
        *ppReplacement = nullptr;
        *pvtAddressType = VT_BSTR;
        parameter_.reset();
        RETURN_IF_NULL_POINTER(pParameter);
        RETURN_IF_FAILED(
            pParameter->QueryInterface(__uuidof(VKModelParameter), parameter_.put_void()));
        com::ComPtr<VKModelParameter> parameter = parameter_;
        com::UniqueBstr accessPath;
        long accessRights = 0;
        VARTYPE requestedType = VT_EMPTY;
        com::UniqueVariant defaultValue;
        RETURN_IF_FAILED(parameter->GetInit(accessPath.put(), &accessRights, &requestedType,
                                            defaultValue.put()));

        ItemAddress parts;
        RETURN_IF_FAILED(SplitItemAddress(accessPath.view(), &parts));
        std::shared_ptr<CSvrInfo> server = FindServerByProgId(parts.progId);
        const bool connect = !server;
        if (connect) {
            const HRESULT hr = Connect(parts.progId, kLocalServer, &server);
            if (FAILED(hr)) return com::MapFailure(E_FAIL, hr, "Init: connecting the bus server");
            RefreshServerUnknown(*server);
        } else {
            currentServer_ = server.get();
            const HRESULT hr = Reconnect(server);
            if (FAILED(hr)) return com::MapFailure(E_FAIL, hr, "Init: the bus server is gone");
        }
        // A connection made for this item alone is not left open without groups.
        com::ScopeExit dropServer([&] {
            if (server->groups.Empty()) DropServer(server->hServer);
        });
        if (!connect) dropServer.dismiss();

        Handle16 hGroup = 0;
        const bool addGroup = server->groups.Empty();
        if (addGroup) {
            const HRESULT hr = Checked(server, AddGroup(server, kAutomaticGroupName, &hGroup));
            if (FAILED(hr)) return com::MapFailure(E_POINTER, hr, "Init: adding the group");
            automaticGroup_ = hGroup;
        } else {
            hGroup = server->groups.FirstHandle();
        }
        com::ScopeExit dropGroup([&] {
            DropGroup(server, hGroup, FALSE);
            server->groups.Take(hGroup);
        });
        if (!addGroup) dropGroup.dismiss();
        std::shared_ptr<CGrpInfo> group = server->groups.Share(hGroup);
        if (addGroup) {
            // Advised now, by the synchronous call that makes the group: this object
            // is apartment-threaded, and calls re-entering while an Advise is on its
            // way would find the group half advised and have their asynchronous
            // writes refused. A failure here is met again by the first such call.
            com::ComPtr<IOPCAsyncIO2> asyncIO;
            PrepareGroupAsync(*group, &asyncIO);
        }

        std::vector<Handle16> handles;
        const HRESULT added =
            Checked(server, AddItems(group, {parts.itemId}, requestedType, &handles));
        const CItemInfo* item = SUCCEEDED(added) ? group->items.Find(handles[0]) : nullptr;
        if (!item) return com::MapFailure(E_FAIL, added, "Init: adding the item");
        dropGroup.dismiss();
        dropServer.dismiss();
        // A copy: the record may go while the call runs (a re-entrant Terminate).
        com::UniqueVariant value(*item->value.get());
        parameter->Init(accessPath.get(), static_cast<long>(item->accessRights),
                        item->canonicalType, *value.get());
        return S_OK;
    });
}

STDMETHODIMP COPCInteraction::Terminate(VARIANT vAddress) {
    return com::ComBoundary([&]() -> HRESULT {
        ItemLookup found;
        // A lost server is not connected again for this: the item is not put back.
        RETURN_IF_FAILED(LookupAddress(vAddress, E_INVALIDARG, &found, false));
        const Handle16 hItem = found.item->hClient;
        OPCHANDLE hServerItem = found.item->hServer;
        if (!found.server->lost) {
            com::ComPtr<IOPCItemMgt> itemMgt = found.group->itemMgt;
            com::CoTaskMem<HRESULT> errors;
            RETURN_IF_FAILED(
                Checked(found.server, itemMgt->RemoveItems(1, &hServerItem, errors.put())));
        }
        found.group->items.Take(hItem);
        if (!found.group->items.Empty()) return S_OK;
        RETURN_IF_FAILED(DropGroup(found.server, found.group->hClient, FALSE));
        if (!found.server->groups.Empty()) return S_OK;
        DropServer(found.server->hServer);
        serverUnknown_.reset();
        currentServer_ = nullptr;
        return S_OK;
    });
}

}  // namespace vkopc
