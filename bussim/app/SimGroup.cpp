#include "SimGroup.h"

#include <cwchar>

#include "AsyncQueue.h"
#include "DataStream.h"
#include "ItemEnum.h"
#include "SimHost.h"
#include "Values.h"
#include "com/Strings.h"

namespace bussim {
namespace {

constexpr DWORD kFastestRate = 10;

// Per-item results: S_OK when every entry succeeded, else S_FALSE.
HRESULT Summary(const HRESULT* errors, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        if (errors[i] != S_OK) return S_FALSE;
    }
    return S_OK;
}

// The result of a whole asynchronous transaction as the completion carries
// it: for a single item that item's own result, so that a client looking only
// at the master error learns it.
HRESULT MasterError(const std::vector<HRESULT>& errors) {
    if (errors.size() == 1) return errors[0];
    return Summary(errors.data(), static_cast<DWORD>(errors.size()));
}

FILETIME Now() {
    FILETIME now;
    CoFileTimeNow(&now);
    return now;
}

bool SupportedLocale(DWORD lcid) {
    return lcid == 0 || lcid == LOCALE_SYSTEM_DEFAULT || lcid == LOCALE_USER_DEFAULT ||
           lcid == 0x409 || lcid == 0x407;
}

}  // namespace

CSimGroup::CSimGroup(std::shared_ptr<GroupTable> table, GroupState state, Face face)
    : table_(std::move(table)), face_(face), state_(std::move(state)) {
    // One client callback per group, as OPC DA 2.0 allows.
    if (face_ == Face::kDa20) dataCallback_ = &AddConnectionPoint(__uuidof(IOPCDataCallback), 1);
}

void* CSimGroup::FindInterface(REFIID riid) noexcept {
    const bool da10 = riid == __uuidof(IOPCAsyncIO) || riid == IID_IDataObject;
    const bool da20 = riid == __uuidof(IOPCAsyncIO2) || riid == IID_IConnectionPointContainer;
    if (face_ == Face::kDa10 ? da20 : da10) return nullptr;
    return Base::FindInterface(riid);
}

HRESULT CSimGroup::FinalConstruct() {
    return com::ComBoundary([&] {
        slot_ = std::make_shared<UpdateSlot>();
        slot_->group = this;
        UpdateThread::Get().Add(slot_);
    });
}

void CSimGroup::FinalRelease() {
    streams_.Clear();
    if (!slot_) return;
    // Waits for an update that is being prepared; no client call is made under the slot.
    std::lock_guard<std::mutex> held(slot_->mutex);
    slot_->group = nullptr;
}

std::wstring CSimGroup::Name() {
    com::CsLock guard(lock_);
    return state_.name;
}

void CSimGroup::SetNameInternal(const std::wstring& name) {
    com::CsLock guard(lock_);
    state_.name = name;
}

// ---------------------------------------------------------------- IOPCItemMgt

HRESULT CSimGroup::CheckItemDef(const OPCITEMDEF& def, OPCITEMRESULT* result, ItemPtr* item) {
    if (!def.szItemID || !*def.szItemID) return OPC_E_INVALIDITEMID;
    if (def.szAccessPath && *def.szAccessPath) return OPC_E_UNKNOWNPATH;
    std::string id = com::WideToUtf8(def.szItemID);
    const ItemInfo* info = SimHost::Get().bus().FindItem(id);
    if (!info) return OPC_E_UNKNOWNITEMID;
    VARTYPE canonical = CanonicalType(info->type);
    if (!CanDeliverAs(canonical, def.vtRequestedDataType)) return OPC_E_BADTYPE;
    result->vtCanonicalDataType = canonical;
    result->dwAccessRights = AccessRights(*info);
    auto made = std::make_shared<Item>();
    made->itemId = id;
    made->hClient = def.hClient;
    made->active = def.bActive;
    made->requested = def.vtRequestedDataType;
    made->canonical = canonical;
    made->rights = result->dwAccessRights;
    *item = std::move(made);
    return S_OK;
}

HRESULT CSimGroup::ValidateOrAdd(DWORD dwCount, OPCITEMDEF* pItemArray, bool add,
                                 OPCITEMRESULT** ppResults, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppResults);
        RETURN_IF_NULL_POINTER(ppErrors);
        *ppResults = nullptr;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !pItemArray);
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        RETURN_HR_IF(E_OUTOFMEMORY, !results.alloc(dwCount) || !errors.alloc(dwCount));
        for (DWORD i = 0; i < dwCount; ++i) {
            ItemPtr item;
            errors[i] = CheckItemDef(pItemArray[i], &results[i], &item);
            if (SUCCEEDED(errors[i]) && add) {
                results[i].hServer = items_.Add(item);
                if (!results[i].hServer) {
                    errors[i] = E_OUTOFMEMORY;
                    results[i] = OPCITEMRESULT{};
                }
            }
        }
        *ppResults = results.release();
        *ppErrors = errors.release();
        return Summary(*ppErrors, dwCount);
    });
}

STDMETHODIMP CSimGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                 OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) {
    return ValidateOrAdd(dwCount, pItemArray, true, ppAddResults, ppErrors);
}

STDMETHODIMP CSimGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                                      OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
    // The simulator's items have no blobs.
    return ValidateOrAdd(dwCount, pItemArray, false, ppValidationResults, ppErrors);
}

// Runs `change` for every handle; the per-item result is OPC_E_INVALIDHANDLE
// for an unknown one.
template <class Change>
static HRESULT ForEachHandle(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors,
                             Change change) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppErrors);
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer);
        com::CoTaskMem<HRESULT> errors;
        RETURN_HR_IF(E_OUTOFMEMORY, !errors.alloc(dwCount));
        for (DWORD i = 0; i < dwCount; ++i) errors[i] = change(i, phServer[i]);
        *ppErrors = errors.release();
        return Summary(*ppErrors, dwCount);
    });
}

STDMETHODIMP CSimGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    return ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD, OPCHANDLE h) {
        return items_.Remove(h) ? S_OK : OPC_E_INVALIDHANDLE;
    });
}

STDMETHODIMP CSimGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                       HRESULT** ppErrors) {
    return ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD, OPCHANDLE h) {
        ItemPtr item;
        if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
        com::CsLock guard(lock_);
        if (bActive && !item->active) item->sent = false;
        item->active = bActive ? TRUE : FALSE;
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                         HRESULT** ppErrors) {
    if (!phClient) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE h) {
        ItemPtr item;
        if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
        com::CsLock guard(lock_);
        item->hClient = phClient[i];
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                     VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) {
    if (!pRequestedDatatypes) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE h) {
        ItemPtr item;
        if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
        com::CsLock guard(lock_);
        if (!CanDeliverAs(item->canonical, pRequestedDatatypes[i])) return OPC_E_BADTYPE;
        item->requested = pRequestedDatatypes[i];
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppUnk);
        *ppUnk = nullptr;
        RETURN_HR_IF(E_NOINTERFACE, riid != __uuidof(IEnumOPCItemAttributes));
        std::vector<ItemAttributes> all;
        {
            auto snapshot = items_.Snapshot();
            com::CsLock guard(lock_);
            for (const auto& [handle, item] : snapshot) {
                ItemAttributes a;
                a.itemId = com::Utf8ToWide(item->itemId);
                a.active = item->active;
                a.hClient = item->hClient;
                a.hServer = handle;
                a.rights = item->rights;
                a.requested = item->requested;
                a.canonical = item->canonical;
                all.push_back(std::move(a));
            }
        }
        bool empty = all.empty();
        RETURN_IF_FAILED(CreateItemAttributesEnum(
            std::move(all), reinterpret_cast<IEnumOPCItemAttributes**>(ppUnk)));
        // An empty enumerator still comes with S_FALSE: nothing to enumerate.
        return empty ? S_FALSE : S_OK;
    });
}

// ---------------------------------------------------------- IOPCGroupStateMgt

STDMETHODIMP CSimGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                 FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                 OPCHANDLE* phServerGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pUpdateRate || !pActive || !ppName || !pTimeBias ||
                                       !pPercentDeadband || !pLCID || !phClientGroup ||
                                       !phServerGroup);
        *ppName = nullptr;
        com::CsLock guard(lock_);
        RETURN_IF_FAILED(com::CoTaskMemString(state_.name, ppName));
        *pUpdateRate = state_.updateRate;
        *pActive = state_.active;
        *pTimeBias = state_.timeBias;
        *pPercentDeadband = state_.percentDeadband;
        *pLCID = state_.lcid;
        *phClientGroup = state_.hClientGroup;
        *phServerGroup = hServerGroup_;
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                 BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                 DWORD* pLCID, OPCHANDLE* phClientGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pRevisedUpdateRate);
        RETURN_HR_IF(E_INVALIDARG,
                     pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100));
        RETURN_HR_IF(E_INVALIDARG, pLCID && !SupportedLocale(*pLCID));
        com::CsLock guard(lock_);
        HRESULT result = S_OK;
        if (pRequestedUpdateRate) {
            state_.updateRate = *pRequestedUpdateRate;
            if (state_.updateRate < kFastestRate) {
                state_.updateRate = kFastestRate;
                result = OPC_S_UNSUPPORTEDRATE;
            }
        }
        *pRevisedUpdateRate = state_.updateRate;
        if (pActive && *pActive && !state_.active) {
            // An activated group tells its client every active value once.
            for (const auto& entry : items_.Snapshot()) entry.second->sent = false;
            nextUpdateMs_ = 0;
        }
        if (pActive) state_.active = *pActive ? TRUE : FALSE;
        if (pTimeBias) state_.timeBias = *pTimeBias;
        if (pPercentDeadband) state_.percentDeadband = *pPercentDeadband;
        if (pLCID) state_.lcid = *pLCID;
        if (phClientGroup) state_.hClientGroup = *phClientGroup;
        return result;
    });
}

STDMETHODIMP CSimGroup::SetName(LPCWSTR szName) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !szName || !*szName);
        return table_->Rename(this, szName);
    });
}

STDMETHODIMP CSimGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppUnk);
        *ppUnk = nullptr;
        GroupState state;
        {
            com::CsLock guard(lock_);
            state = state_;
        }
        // A clone starts inactive.
        state.active = FALSE;
        state.name = szName && *szName ? std::wstring(szName) : table_->UniqueName();
        com::ComPtr<CSimGroup> clone;
        RETURN_IF_FAILED(com::MakeObject(&clone, table_, state, face_));
        {
            auto snapshot = items_.Snapshot();
            com::CsLock guard(lock_);
            for (const auto& [handle, item] : snapshot) {
                auto copy = std::make_shared<Item>();
                copy->itemId = item->itemId;
                copy->hClient = item->hClient;
                copy->active = item->active;
                copy->requested = item->requested;
                copy->canonical = item->canonical;
                copy->rights = item->rights;
                RETURN_HR_IF(E_OUTOFMEMORY, !clone->items_.Add(copy));
            }
        }
        OPCHANDLE handle = 0;
        RETURN_IF_FAILED(table_->Add(clone, state.name, &handle));
        clone->SetServerHandle(handle);
        HRESULT hr = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) table_->Remove(handle, nullptr);
        return hr;
    });
}

// ------------------------------------------------------------------ reading

void CSimGroup::ReadDevice(const ItemPtr& item, ReadResult* result) {
    result->timeStamp = Now();
    result->value.reset();
    ItemValue value;
    ItemStatus status = SimHost::Get().bus().Read(item->itemId, &value);
    VARTYPE requested;
    {
        com::CsLock guard(lock_);
        result->hClient = item->hClient;
        requested = item->requested;
    }
    if (status != ItemStatus::kOk) {
        result->error = StatusToHresult(status);
        result->quality = OPC_QUALITY_BAD;
        return;
    }
    result->error = ToVariant(value, result->value.get());
    if (FAILED(result->error)) return;
    result->quality = OPC_QUALITY_GOOD;
    {
        com::CsLock guard(lock_);
        item->value.copy_from(*result->value);
        item->quality = result->quality;
        item->timeStamp = result->timeStamp;
    }
    result->error = ConvertForClient(result->value.get(), requested);
    if (FAILED(result->error)) {
        result->value.reset();
        result->quality = OPC_QUALITY_BAD;
    }
}

void CSimGroup::ReadCache(const ItemPtr& item, ReadResult* result) {
    bool active;
    {
        com::CsLock guard(lock_);
        active = state_.active && item->active;
    }
    // Plain items are memory of the simulator: while active, the cache is
    // always current. The channel's cache is its last response; reading the
    // channel itself would consume the next one.
    if (active && !(item->canonical & VT_ARRAY)) {
        ReadDevice(item, result);
        return;
    }
    ReadCached(item, active, result);
}

void CSimGroup::ReadCached(const ItemPtr& item, bool active, ReadResult* result) {
    com::CsLock guard(lock_);
    result->hClient = item->hClient;
    result->error = result->value.copy_from(*item->value);
    result->timeStamp = item->timeStamp;
    result->quality = active ? item->quality : WORD(OPC_QUALITY_OUT_OF_SERVICE);
    if (SUCCEEDED(result->error) && result->value.vt() != VT_EMPTY)
        result->error = ConvertForClient(result->value.get(), item->requested);
}

STDMETHODIMP CSimGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                             OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppItemValues);
        RETURN_IF_NULL_POINTER(ppErrors);
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer);
        RETURN_HR_IF(E_INVALIDARG, dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE);
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        RETURN_HR_IF(E_OUTOFMEMORY, !states.alloc(dwCount) || !errors.alloc(dwCount));
        for (DWORD i = 0; i < dwCount; ++i) {
            ItemPtr item;
            if (!FindItem(phServer[i], &item)) {
                errors[i] = OPC_E_INVALIDHANDLE;
                continue;
            }
            ReadResult result;
            if (!(item->rights & OPC_READABLE)) {
                com::CsLock guard(lock_);
                result.hClient = item->hClient;
                result.error = OPC_E_BADRIGHTS;
            } else if (dwSource == OPC_DS_DEVICE) {
                ReadDevice(item, &result);
            } else {
                ReadCache(item, &result);
            }
            states[i].hClient = result.hClient;
            states[i].ftTimeStamp = result.timeStamp;
            states[i].wQuality = result.quality;
            states[i].vDataValue = result.value.release();
            errors[i] = result.error;
        }
        *ppItemValues = states.release();
        *ppErrors = errors.release();
        return Summary(*ppErrors, dwCount);
    });
}

// ------------------------------------------------------------ subscription

namespace {

bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (V_VT(&a) != V_VT(&b)) return false;
    switch (V_VT(&a)) {
        case VT_EMPTY: return true;
        case VT_ARRAY | VT_UI1: {
            std::vector<BYTE> x, y;
            return SUCCEEDED(com::VariantToBytes(a, &x)) && SUCCEEDED(com::VariantToBytes(b, &y)) &&
                   x == y;
        }
        case VT_BSTR:
            return SysStringLen(V_BSTR(&a)) == SysStringLen(V_BSTR(&b)) &&
                   std::wmemcmp(V_BSTR(&a), V_BSTR(&b), SysStringLen(V_BSTR(&a))) == 0;
        default: {
            com::UniqueVariant x, y;
            return SUCCEEDED(VariantChangeType(x.get(), const_cast<VARIANT*>(&a), 0, VT_R8)) &&
                   SUCCEEDED(VariantChangeType(y.get(), const_cast<VARIANT*>(&b), 0, VT_R8)) &&
                   V_R8(x.get()) == V_R8(y.get());
        }
    }
}

// The item results of one data change or read completion.
struct ReadResults {
    ~ReadResults() {
        for (VARIANT& v : values) VariantClear(&v);
    }
    void Add(OPCHANDLE client, VARIANT value, WORD quality, FILETIME time, HRESULT error) {
        clients.push_back(client);
        values.push_back(value);
        qualities.push_back(quality);
        times.push_back(time);
        errors.push_back(error);
    }
    DWORD count() const { return static_cast<DWORD>(clients.size()); }
    HRESULT MasterQuality() const {
        for (WORD q : qualities)
            if ((q & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) return S_FALSE;
        return S_OK;
    }
    std::vector<OPCHANDLE> clients;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
};

// The DA 1.0 stream of read results; a value the stream cannot carry goes as an empty one of
// bad quality.
HRESULT ResultsStream(DWORD transactionId, OPCHANDLE hGroup, const ReadResults& results,
                      std::vector<BYTE>* block) {
    opc::DataStream stream;
    stream.group = hGroup;
    stream.transactionId = transactionId;
    stream.status = MasterError(results.errors);
    for (DWORD i = 0; i < results.count(); ++i) {
        opc::StreamItem item;
        item.client = results.clients[i];
        item.quality = results.qualities[i];
        item.time = results.times[i];
        if (opc::CanCarry(results.values[i]))
            RETURN_IF_FAILED(item.value.copy_from(results.values[i]));
        else
            item.quality = OPC_QUALITY_BAD;
        stream.items.push_back(std::move(item));
    }
    return opc::WriteDataStream(stream, block);
}

}  // namespace

struct CSimGroup::Targets {
    std::vector<com::ComPtr<IOPCDataCallback>> callbacks;
    std::vector<com::ComPtr<IAdviseSink>> streams;

    // Data changes (transaction 0), refreshes and read completions.
    void SendRead(bool dataChange, DWORD transactionId, OPCHANDLE hGroup, ReadResults& r) const {
        for (const auto& sink : callbacks) {
            if (dataChange)
                sink->OnDataChange(transactionId, hGroup, r.MasterQuality(), MasterError(r.errors),
                                   r.count(), r.clients.data(), r.values.data(), r.qualities.data(),
                                   r.times.data(), r.errors.data());
            else
                sink->OnReadComplete(transactionId, hGroup, r.MasterQuality(),
                                     MasterError(r.errors), r.count(), r.clients.data(),
                                     r.values.data(), r.qualities.data(), r.times.data(),
                                     r.errors.data());
        }
        std::vector<BYTE> block;
        if (!streams.empty() && SUCCEEDED(ResultsStream(transactionId, hGroup, r, &block)))
            StreamSinks::Send(streams, StreamFormat::kDataTime, block);
    }

    void SendWrite(DWORD transactionId, OPCHANDLE hGroup, std::vector<OPCHANDLE>& clients,
                   std::vector<HRESULT>& errors) const {
        const DWORD count = static_cast<DWORD>(clients.size());
        for (const auto& sink : callbacks)
            sink->OnWriteComplete(transactionId, hGroup, MasterError(errors), count, clients.data(),
                                  errors.data());
        if (streams.empty()) return;
        opc::WriteCompleteStream stream;
        stream.group = hGroup;
        stream.transactionId = transactionId;
        stream.status = MasterError(errors);
        for (DWORD i = 0; i < count; ++i) stream.items.push_back({clients[i], errors[i]});
        std::vector<BYTE> block;
        if (SUCCEEDED(opc::WriteWriteCompleteStream(stream, &block)))
            StreamSinks::Send(streams, StreamFormat::kWriteComplete, block);
    }
};

CSimGroup::Targets CSimGroup::TargetsOf(StreamFormat format, DWORD connection) const {
    Targets targets;
    if (face_ == Face::kDa20)
        targets.callbacks = Callbacks();
    else
        targets.streams = streams_.Sinks(format, connection);
    return targets;
}

OPCHANDLE CSimGroup::ClientGroup() const {
    com::CsLock guard(lock_);
    return state_.hClientGroup;
}

UpdateThread::Send CSimGroup::PrepareUpdate(uint64_t nowMs) {
    std::vector<ItemPtr> active;
    OPCHANDLE hGroup;
    {
        auto snapshot = items_.Snapshot();
        com::CsLock guard(lock_);
        if (!state_.active || !enabled_ || nowMs < nextUpdateMs_) return nullptr;
        nextUpdateMs_ = nowMs + state_.updateRate;
        hGroup = state_.hClientGroup;
        for (const auto& entry : snapshot) {
            if (entry.second->active && (entry.second->rights & OPC_READABLE))
                active.push_back(entry.second);
        }
    }
    auto targets = std::make_shared<Targets>(TargetsOf(StreamFormat::kDataTime, 0));
    if ((targets->callbacks.empty() && targets->streams.empty()) || active.empty()) return nullptr;
    auto change = std::make_shared<ReadResults>();
    for (const ItemPtr& item : active) {
        ReadResult result;
        // The channel is not read for a subscription: that would take the
        // response from the client that asked for it.
        if (item->canonical & VT_ARRAY)
            ReadCached(item, true, &result);
        else
            ReadDevice(item, &result);
        {
            com::CsLock guard(lock_);
            if (item->sent && item->sentQuality == result.quality &&
                SameValue(*item->sentValue, *result.value))
                continue;
            item->sent = true;
            item->sentQuality = result.quality;
            item->sentValue.copy_from(*result.value);
        }
        change->Add(result.hClient, result.value.release(), result.quality, result.timeStamp,
                    result.error);
    }
    if (change->count() == 0) return nullptr;
    return [targets, change, hGroup] { targets->SendRead(true, 0, hGroup, *change); };
}

// ------------------------------------------------------------------ writing

HRESULT CSimGroup::WriteDevice(const ItemPtr& item, const VARIANT& value) {
    if (!(item->rights & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
    const ItemInfo* info = SimHost::Get().bus().FindItem(item->itemId);
    if (!info) return OPC_E_UNKNOWNITEMID;
    ItemValue converted;
    RETURN_IF_FAILED(FromVariant(value, info->type, &converted));
    return StatusToHresult(SimHost::Get().bus().Write(item->itemId, converted));
}

STDMETHODIMP CSimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                              HRESULT** ppErrors) {
    if (!pItemValues) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE h) {
        ItemPtr item;
        if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
        return WriteDevice(item, pItemValues[i]);
    });
}

// ------------------------------------------------------------ asynchronous

std::vector<com::ComPtr<IOPCDataCallback>> CSimGroup::Callbacks() const {
    if (!dataCallback_) return {};
    return dataCallback_->Sinks<IOPCDataCallback>();
}

bool CSimGroup::Withheld(const std::vector<ItemPtr>& items) const {
    for (const ItemPtr& item : items)
        if (SimHost::Get().bus().WithholdsCompletions(item->itemId)) return true;
    return false;
}

void CSimGroup::CompleteRead(DWORD transactionId, DWORD connection, OPCDATASOURCE source,
                             std::vector<ItemPtr> items, bool dataChange) {
    ReadResults results;
    for (const ItemPtr& item : items) {
        ReadResult result;
        if (source == OPC_DS_CACHE)
            ReadCache(item, &result);
        else
            ReadDevice(item, &result);
        results.Add(result.hClient, result.value.release(), result.quality, result.timeStamp,
                    result.error);
    }
    // Read all the same; a slave that withholds its completions keeps them from the sinks.
    if (Withheld(items)) return;
    TargetsOf(StreamFormat::kDataTime, connection)
        .SendRead(dataChange, transactionId, ClientGroup(), results);
}

void CSimGroup::CompleteWrite(DWORD transactionId, DWORD connection, std::vector<ItemPtr> items,
                              std::vector<com::UniqueVariant>* values) {
    const DWORD count = static_cast<DWORD>(items.size());
    std::vector<OPCHANDLE> clients(count);
    std::vector<HRESULT> errors(count);
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = WriteDevice(items[i], *(*values)[i]);
        com::CsLock guard(lock_);
        clients[i] = items[i]->hClient;
    }
    if (Withheld(items)) return;
    TargetsOf(StreamFormat::kWriteComplete, connection)
        .SendWrite(transactionId, ClientGroup(), clients, errors);
}

HRESULT CSimGroup::CheckAsyncItems(DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* values,
                                   HRESULT** ppErrors, std::vector<ItemPtr>* valid,
                                   std::vector<com::UniqueVariant>* copies) {
    const DWORD rights = values ? OPC_WRITEABLE : OPC_READABLE;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE h) {
        ItemPtr item;
        if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
        if (!(item->rights & rights)) return OPC_E_BADRIGHTS;
        if (values) {
            com::UniqueVariant copy;
            HRESULT copied = copy.copy_from(values[i]);
            if (FAILED(copied)) return copied;
            copies->push_back(std::move(copy));
        }
        valid->push_back(item);
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                             DWORD* pdwCancelID, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pdwCancelID || !ppErrors);
        *pdwCancelID = 0;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, Callbacks().empty());
        std::vector<ItemPtr> valid;
        HRESULT hr = CheckAsyncItems(dwCount, phServer, nullptr, ppErrors, &valid, nullptr);
        if (FAILED(hr) || valid.empty()) return hr;
        com::ComPtr<CSimGroup> self(this);
        *pdwCancelID =
            AsyncQueue::Get().Post(this, [self, dwTransactionID, valid](DWORD, bool cancelled) {
                if (cancelled)
                    self->SendCancel(dwTransactionID);
                else
                    self->CompleteRead(dwTransactionID, 0, OPC_DS_DEVICE, valid, false);
            });
        return hr;
    });
}

STDMETHODIMP CSimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                              DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pdwCancelID || !ppErrors);
        *pdwCancelID = 0;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer || !pItemValues);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, Callbacks().empty());
        std::vector<ItemPtr> valid;
        auto values = std::make_shared<std::vector<com::UniqueVariant>>();
        HRESULT hr =
            CheckAsyncItems(dwCount, phServer, pItemValues, ppErrors, &valid, values.get());
        if (FAILED(hr) || valid.empty()) return hr;
        com::ComPtr<CSimGroup> self(this);
        *pdwCancelID = AsyncQueue::Get().Post(
            this, [self, dwTransactionID, valid, values](DWORD, bool cancelled) {
                if (cancelled)
                    self->SendCancel(dwTransactionID);
                else
                    self->CompleteWrite(dwTransactionID, 0, valid, values.get());
            });
        return hr;
    });
}

void CSimGroup::SendCancel(DWORD transactionId) {
    const OPCHANDLE hGroup = ClientGroup();
    for (const auto& sink : Callbacks()) sink->OnCancelComplete(transactionId, hGroup);
}

HRESULT CSimGroup::RefreshItems(std::vector<ItemPtr>* active) const {
    auto snapshot = items_.Snapshot();
    com::CsLock guard(lock_);
    RETURN_HR_IF(E_FAIL, !state_.active);
    for (const auto& [handle, item] : snapshot) {
        if (item->active && (item->rights & OPC_READABLE)) active->push_back(item);
    }
    // Nothing active to refresh.
    RETURN_HR_IF(E_FAIL, active->empty());
    return S_OK;
}

STDMETHODIMP CSimGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                 DWORD* pdwCancelID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pdwCancelID);
        *pdwCancelID = 0;
        RETURN_HR_IF(E_INVALIDARG, dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, Callbacks().empty());
        std::vector<ItemPtr> active;
        RETURN_IF_FAILED(RefreshItems(&active));
        com::ComPtr<CSimGroup> self(this);
        *pdwCancelID =
            AsyncQueue::Get().Post(this, [self, dwTransactionID, active](DWORD, bool cancelled) {
                if (cancelled)
                    self->SendCancel(dwTransactionID);
                else
                    self->CompleteRead(dwTransactionID, 0, OPC_DS_DEVICE, active, true);
            });
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::Cancel2(DWORD dwCancelID) {
    return AsyncQueue::Get().Cancel(this, dwCancelID) ? S_OK : E_FAIL;
}

STDMETHODIMP CSimGroup::SetEnable(BOOL bEnable) {
    com::CsLock guard(lock_);
    enabled_ = bEnable ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP CSimGroup::GetEnable(BOOL* pbEnable) {
    if (!pbEnable) return E_INVALIDARG;
    com::CsLock guard(lock_);
    *pbEnable = enabled_;
    return S_OK;
}

// ------------------------------------------------------------ IOPCAsyncIO
// DA 1.0: the server chooses the transaction ID (the queue's ID, so Cancel finds the job) and
// a cancelled job sends nothing.

STDMETHODIMP CSimGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                             OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pTransactionID || !ppErrors);
        *pTransactionID = 0;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer);
        RETURN_HR_IF(E_INVALIDARG, dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, !streams_.Has(dwConnection, StreamFormat::kDataTime));
        std::vector<ItemPtr> valid;
        HRESULT hr = CheckAsyncItems(dwCount, phServer, nullptr, ppErrors, &valid, nullptr);
        if (FAILED(hr) || valid.empty()) return hr;
        com::ComPtr<CSimGroup> self(this);
        *pTransactionID = AsyncQueue::Get().Post(
            this, [self, dwConnection, dwSource, valid](DWORD id, bool cancelled) {
                if (!cancelled) self->CompleteRead(id, dwConnection, dwSource, valid, false);
            });
        return hr;
    });
}

STDMETHODIMP CSimGroup::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                              VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pTransactionID || !ppErrors);
        *pTransactionID = 0;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer || !pItemValues);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION,
                     !streams_.Has(dwConnection, StreamFormat::kWriteComplete));
        std::vector<ItemPtr> valid;
        auto values = std::make_shared<std::vector<com::UniqueVariant>>();
        HRESULT hr =
            CheckAsyncItems(dwCount, phServer, pItemValues, ppErrors, &valid, values.get());
        if (FAILED(hr) || valid.empty()) return hr;
        com::ComPtr<CSimGroup> self(this);
        *pTransactionID = AsyncQueue::Get().Post(
            this, [self, dwConnection, valid, values](DWORD id, bool cancelled) {
                if (!cancelled) self->CompleteWrite(id, dwConnection, valid, values.get());
            });
        return hr;
    });
}

STDMETHODIMP CSimGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pTransactionID);
        *pTransactionID = 0;
        RETURN_HR_IF(E_INVALIDARG, dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, !streams_.Has(dwConnection, StreamFormat::kDataTime));
        std::vector<ItemPtr> active;
        RETURN_IF_FAILED(RefreshItems(&active));
        com::ComPtr<CSimGroup> self(this);
        *pTransactionID = AsyncQueue::Get().Post(
            this, [self, dwConnection, dwSource, active](DWORD id, bool cancelled) {
                if (!cancelled) self->CompleteRead(id, dwConnection, dwSource, active, true);
            });
        return S_OK;
    });
}

STDMETHODIMP CSimGroup::Cancel(DWORD dwTransactionID) {
    return AsyncQueue::Get().Cancel(this, dwTransactionID) ? S_OK : E_FAIL;
}

// ------------------------------------------------------------ IDataObject
// An OPC group hands out no data on request: its data comes through advises.

STDMETHODIMP CSimGroup::GetData(FORMATETC*, STGMEDIUM* pmedium) {
    if (pmedium) *pmedium = STGMEDIUM{};
    return E_NOTIMPL;
}

STDMETHODIMP CSimGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP CSimGroup::QueryGetData(FORMATETC* pformatetc) {
    StreamFormat which;
    return StreamSinks::Check(pformatetc, &which);
}

STDMETHODIMP CSimGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pformatetcOut) {
    if (pformatetcOut) pformatetcOut->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CSimGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

STDMETHODIMP CSimGroup::EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) {
    if (ppenumFormatEtc) *ppenumFormatEtc = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CSimGroup::DAdvise(FORMATETC* pformatetc, DWORD, IAdviseSink* pAdvSink,
                                DWORD* pdwConnection) {
    return com::ComBoundary([&] { return streams_.Advise(pformatetc, pAdvSink, pdwConnection); });
}

STDMETHODIMP CSimGroup::DUnadvise(DWORD dwConnection) {
    return com::ComBoundary([&] { return streams_.Unadvise(dwConnection); });
}

STDMETHODIMP CSimGroup::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (ppenumAdvise) *ppenumAdvise = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}

// ---------------------------------------------------------------- GroupTable

HRESULT GroupTable::Add(const com::ComPtr<CSimGroup>& group, const std::wstring& name,
                        OPCHANDLE* handle) {
    com::CsLock guard(lock_);
    RETURN_HR_IF(E_FAIL, closed_);
    for (const auto& entry : groups_.Snapshot()) {
        if (entry.second->Name() == name) return OPC_E_DUPLICATENAME;
    }
    *handle = groups_.Add(group);
    return *handle ? S_OK : E_OUTOFMEMORY;
}

bool GroupTable::FindByName(const std::wstring& name, com::ComPtr<CSimGroup>* group) {
    com::CsLock guard(lock_);
    for (const auto& entry : groups_.Snapshot()) {
        if (entry.second->Name() == name) {
            *group = entry.second;
            return true;
        }
    }
    return false;
}

bool GroupTable::Remove(OPCHANDLE handle, com::ComPtr<CSimGroup>* group) {
    return groups_.Remove(handle, group);
}

HRESULT GroupTable::Rename(CSimGroup* group, const std::wstring& name) {
    com::CsLock guard(lock_);
    for (const auto& entry : groups_.Snapshot()) {
        if (entry.second.get() != group && entry.second->Name() == name) return OPC_E_DUPLICATENAME;
    }
    group->SetNameInternal(name);
    return S_OK;
}

std::wstring GroupTable::UniqueName() {
    com::CsLock guard(lock_);
    while (true) {
        std::wstring name = com::Format(L"Group%u", nextName_++);
        bool used = false;
        for (const auto& entry : groups_.Snapshot()) used = used || entry.second->Name() == name;
        if (!used) return name;
    }
}

std::vector<com::ComPtr<CSimGroup>> GroupTable::All() {
    std::vector<com::ComPtr<CSimGroup>> all;
    for (const auto& entry : groups_.Snapshot()) all.push_back(entry.second);
    return all;
}

size_t GroupTable::Count() { return groups_.Size(); }

void GroupTable::Close() {
    {
        com::CsLock guard(lock_);
        closed_ = true;
    }
    groups_.Clear();
}

}  // namespace bussim
