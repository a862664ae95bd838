#include "OPCGroup.h"

#include "AsyncServices2.h"
#include "BaseServer.h"
#include "com/Implementation.h"
#include "UpdateRate.h"
#include "com/Memory.h"
#include "com/Result.h"

void COPCGroup::SetOwner(std::shared_ptr<CBaseServer> owner) {
    com::CsLock guard(lock_);
    if (owner) {
        tick_ = owner->tick();
        timer_ = owner->groupTimers();
    }
    owner_ = std::move(owner);
}

void COPCGroup::SetModel(com::ComPtr<VKModelObject> model) {
    com::CsLock guard(lock_);
    model_ = std::move(model);
}

void COPCGroup::SetServerHandle(DWORD handle) {
    com::CsLock guard(lock_);
    serverHandle_ = handle;
}

void COPCGroup::SetActiveInternal(BOOL active) {
    {
        com::CsLock guard(lock_);
        active_ = active;
    }
    TellServices(active);
}

// Outside the group's lock: an activation reads the items and calls the clients back.
void COPCGroup::TellServices(BOOL active) {
    if (const com::ComPtr<IAsyncServices> services = this->services()) services->SetActive(active);
}

com::ComPtr<IAsyncServices> COPCGroup::services() const {
    com::CsLock guard(lock_);
    com::ComPtr<IAsyncServices> services;
    if (services_) services_.query(&services);
    return services;
}

HRESULT COPCGroup::StartThread() {
    com::CsLock threadGuard(threadLock_);
    if (thread_.running()) return S_FALSE;
    DWORD rate, tick;
    {
        com::CsLock guard(lock_);
        rate = updateRate_;
        tick = timer_ ? tick_ : 0;
    }
    com::ComPtr<IUnknown> services;
    RETURN_IF_FAILED(thread_.Start(GetControllingUnknown(), rate, tick, &services));
    com::CsLock guard(lock_);
    services_ = std::move(services);
    return S_OK;
}

bool COPCGroup::StopThread(DWORD waitMs) {
    com::ComPtr<IUnknown> services;
    {
        com::CsLock guard(lock_);
        services = std::move(services_);
    }
    // The services hold the group: releasing them here breaks that cycle.
    if (auto* object = com::ImplementationOf<CAsyncServices2>(services.get())) object->Shutdown();
    services.reset();
    com::CsLock threadGuard(threadLock_);
    return thread_.Stop(waitMs);
}

std::wstring COPCGroup::name() const {
    com::CsLock guard(lock_);
    return name_;
}

com::ComPtr<VKModelObject> COPCGroup::model() const {
    com::CsLock guard(lock_);
    return model_;
}

com::ComPtr<CUnknownCont> COPCGroup::items() const {
    com::CsLock guard(lock_);
    return items_;
}

double COPCGroup::percentDeadband() const {
    com::CsLock guard(lock_);
    return percentDeadband_;
}

BOOL COPCGroup::activeState() const {
    com::CsLock guard(lock_);
    return active_;
}

com::ComPtr<COPCItem> COPCGroup::FindItem(OPCHANDLE handle) const {
    const com::ComPtr<CUnknownCont> container = items();
    CUnknownCont::Element found;
    if (!container || !container->FindByHandle(handle, &found)) return nullptr;
    return com::ComPtr<COPCItem>(com::ImplementationOf<COPCItem>(found.object.get()));
}

std::vector<com::ComPtr<COPCItem>> COPCGroup::ItemSnapshot() const {
    std::vector<com::ComPtr<COPCItem>> items;
    const com::ComPtr<CUnknownCont> container = this->items();
    if (!container) return items;
    for (const CUnknownCont::Element& element : container->Snapshot()) {
        if (COPCItem* item = com::ImplementationOf<COPCItem>(element.object.get()))
            items.emplace_back(item);
    }
    return items;
}

std::shared_ptr<CBaseServer> COPCGroup::owner() const {
    com::CsLock guard(lock_);
    return owner_;
}

HRESULT COPCGroup::FinalConstruct() {
    TIME_ZONE_INFORMATION zone;
    if (GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID) timeBias_ = zone.Bias;
    return com::MakeObject(&items_);
}

void COPCGroup::FinalRelease() {
    // Bounded: a thread stuck in a client's callback ends by itself when the call returns.
    StopThread(kStopWaitMs);
    // Items first: they unbind from the model and their interaction component, so
    // both must still be there.
    for (const com::ComPtr<COPCItem>& item : ItemSnapshot()) item->Unbind();
    if (items_) items_->Clear();
    items_.reset();
    model_.reset();
    owner_.reset();
}

HRESULT COPCGroup::QueryInterfaceHook(REFIID riid, void** ppv) {
    if (com::AnswerImplementation(this, riid, ppv)) return S_OK;
    if (riid == IID_IOPCGroupStateMgt) return stateMgt_.Query(this, riid, ppv);
    if (riid == IID_IOPCItemMgt) return itemMgt_.Query(this, riid, ppv);
    if (riid == IID_IOPCSyncIO) return syncIO_.Query(this, riid, ppv);
    *ppv = nullptr;
    // The OPC DA 2.0 services only (no IDataObject, no IOPCAsyncIO).
    if (riid == IID_IConnectionPointContainer || riid == IID_IOPCAsyncIO2) {
        com::ComPtr<IUnknown> services;
        {
            com::CsLock guard(lock_);
            services = services_;
        }
        if (services) return services->QueryInterface(riid, ppv);
    }
    return E_NOINTERFACE;
}

HRESULT COPCGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                            FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                            OPCHANDLE* phServerGroup) {
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
        !phClientGroup || !phServerGroup)
        return E_INVALIDARG;
    com::CsLock guard(lock_);
    LPWSTR name = nullptr;
    RETURN_IF_FAILED(com::CoTaskMemString(name_, &name));
    *ppName = name;
    *pUpdateRate = updateRate_;
    *pActive = active_;
    *pTimeBias = timeBias_;
    *pPercentDeadband = percentDeadband_;
    *pLCID = lcid_;
    *phClientGroup = clientHandle_;
    *phServerGroup = serverHandle_;
    return S_OK;
}

HRESULT COPCGroup::SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                            const BOOL* pActive, const LONG* pTimeBias,
                            const FLOAT* pPercentDeadband, const DWORD* pLCID,
                            const OPCHANDLE* phClientGroup) {
    // Checked before anything changes: a refused call leaves the group as it was.
    if (pPercentDeadband && !IsValidPercentDeadband(*pPercentDeadband)) return E_INVALIDARG;

    HRESULT result = S_OK;
    if (pPercentDeadband) {
        for (const com::ComPtr<COPCItem>& item : ItemSnapshot())
            item->SetDeadband(*pPercentDeadband);
    }
    DWORD rate = 0;
    {
        com::CsLock guard(lock_);
        if (pRequestedUpdateRate) {
            const RevisedRate revised = ReviseUpdateRate(*pRequestedUpdateRate, tick_);
            updateRate_ = revised.revised;
            if (revised.changed) result = OPC_S_UNSUPPORTEDRATE;
        }
        rate = updateRate_;
        if (pRevisedUpdateRate) *pRevisedUpdateRate = updateRate_;
        if (pActive) active_ = *pActive ? TRUE : FALSE;
        if (pTimeBias) timeBias_ = *pTimeBias;
        if (pPercentDeadband) percentDeadband_ = *pPercentDeadband;
        if (pLCID) lcid_ = *pLCID;
        if (phClientGroup) clientHandle_ = *phClientGroup;
    }
    if (pRequestedUpdateRate) {
        com::CsLock threadGuard(threadLock_);
        thread_.SetRate(rate);
    }
    if (pActive) TellServices(*pActive ? TRUE : FALSE);
    return result;
}

HRESULT COPCGroup::SetName(LPCWSTR szName) {
    if (!szName || !*szName) return E_INVALIDARG;
    const std::shared_ptr<CBaseServer> server = owner();
    if (!server) return E_FAIL;
    return server->RenameGroup(this, szName);
}

void COPCGroup::StoreName(const std::wstring& name) {
    com::CsLock guard(lock_);
    name_ = name;
}

HRESULT COPCGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (riid == GUID_NULL || !ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    const std::shared_ptr<CBaseServer> server = owner();
    if (!server) return E_FAIL;

    DWORD rate;
    OPCHANDLE clientHandle;
    LONG timeBias;
    FLOAT deadband;
    DWORD lcid;
    {
        com::CsLock guard(lock_);
        rate = updateRate_;
        clientHandle = clientHandle_;
        timeBias = timeBias_;
        deadband = percentDeadband_;
        lcid = lcid_;
    }
    OPCHANDLE serverHandle = 0;
    DWORD revised = 0;
    com::ComPtr<IUnknown> clone;
    const HRESULT hr =
        server->AddGroup(szName ? szName : L"", FALSE, rate, clientHandle, &timeBias, &deadband,
                         lcid, &serverHandle, &revised, IID_IUnknown, clone.put());
    if (hr != S_OK) {
        if (SUCCEEDED(hr)) server->RemoveGroup(serverHandle, TRUE);
        return hr;
    }
    HRESULT copied = CopyItemsTo(clone.get());
    if (copied == S_OK) copied = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (copied != S_OK) {
        // A failed copy leaves no half-made group in the server.
        clone.reset();
        server->RemoveGroup(serverHandle, TRUE);
    }
    return copied;
}

// The bound items, in container order, with their client handles and active states;
// they request the parameters' canonical types.
HRESULT COPCGroup::CopyItemsTo(IUnknown* clone) {
    struct Definition {
        std::wstring accessPath, itemId;
        OPCITEMDEF def = {};
    };
    std::vector<Definition> definitions;
    for (const com::ComPtr<COPCItem>& item : ItemSnapshot()) {
        Definition d;
        DWORD rights = 0;
        VARTYPE vt = VT_EMPTY;
        if (FAILED(item->ParameterInit(&d.accessPath, &rights, &vt))) continue;
        d.itemId = item->itemId();
        d.def.bActive = item->active();
        d.def.hClient = item->clientHandle();
        d.def.vtRequestedDataType = vt;
        definitions.push_back(std::move(d));
    }
    if (definitions.empty()) return S_OK;
    std::vector<OPCITEMDEF> defs;
    for (Definition& d : definitions) {
        d.def.szAccessPath = const_cast<LPWSTR>(d.accessPath.c_str());
        d.def.szItemID = const_cast<LPWSTR>(d.itemId.c_str());
        defs.push_back(d.def);
    }
    com::ComPtr<IOPCItemMgt> mgt;
    RETURN_IF_FAILED(clone->QueryInterface(IID_IOPCItemMgt, mgt.put_void()));
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        mgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return hr;
}

STDMETHODIMP COPCGroup::GetItems(IUnknown** ppItems) {
    RETURN_IF_NULL_POINTER(ppItems);
    com::CsLock guard(lock_);
    *ppItems = nullptr;
    if (!items_) return E_POINTER;
    return items_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppItems));
}

STDMETHODIMP COPCGroup::GetClientHandle(unsigned long* phClientGroup) {
    RETURN_IF_NULL_POINTER(phClientGroup);
    com::CsLock guard(lock_);
    *phClientGroup = clientHandle_;
    return S_OK;
}

STDMETHODIMP COPCGroup::GetServerHandle(unsigned long* phServerGroup) {
    RETURN_IF_NULL_POINTER(phServerGroup);
    com::CsLock guard(lock_);
    *phServerGroup = serverHandle_;
    return S_OK;
}

STDMETHODIMP COPCGroup::GetActive(long* pbActive) {
    RETURN_IF_NULL_POINTER(pbActive);
    com::CsLock guard(lock_);
    *pbActive = active_;
    return S_OK;
}

STDMETHODIMP COPCGroup::GetAsyncMode(long* plAsyncMode) {
    RETURN_IF_NULL_POINTER(plAsyncMode);
    com::CsLock guard(lock_);
    *plAsyncMode = asyncMode_;
    return S_OK;
}

STDMETHODIMP COPCGroup::SetAsyncMode(long lAsyncMode) {
    com::CsLock guard(lock_);
    asyncMode_ = lAsyncMode;
    return S_OK;
}

STDMETHODIMP COPCGroupStateMgtImpl::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) {
    return com::ComBoundary([&] {
        return group_->GetState(pUpdateRate, pActive, ppName, pTimeBias, pPercentDeadband, pLCID,
                                phClientGroup, phServerGroup);
    });
}

STDMETHODIMP COPCGroupStateMgtImpl::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                             BOOL* pActive, LONG* pTimeBias,
                                             FLOAT* pPercentDeadband, DWORD* pLCID,
                                             OPCHANDLE* phClientGroup) {
    return com::ComBoundary([&] {
        return group_->SetState(pRequestedUpdateRate, pRevisedUpdateRate, pActive, pTimeBias,
                                pPercentDeadband, pLCID, phClientGroup);
    });
}

STDMETHODIMP COPCGroupStateMgtImpl::SetName(LPCWSTR szName) {
    return com::ComBoundary([&] { return group_->SetName(szName); });
}

STDMETHODIMP COPCGroupStateMgtImpl::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&] { return group_->CloneGroup(szName, riid, ppUnk); });
}
