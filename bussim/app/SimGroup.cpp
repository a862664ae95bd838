#include "SimGroup.h"

#include <cwchar>

#include "AsyncQueue.h"
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

CSimGroup::CSimGroup(std::shared_ptr<GroupTable> table, GroupState state)
    : table_(std::move(table)), state_(std::move(state)) {
    // One client callback per group, as OPC DA 2.0 allows.
    dataCallback_ = &AddConnectionPoint(__uuidof(IOPCDataCallback), 1);
}

HRESULT CSimGroup::FinalConstruct() {
    return com::ComBoundary([&] {
        slot_ = std::make_shared<UpdateSlot>();
        slot_->group = this;
        UpdateThread::Get().Add(slot_);
    });
}

void CSimGroup::FinalRelease() {
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
        RETURN_IF_FAILED(com::MakeObject(&clone, table_, state));
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

// The arrays of one OnDataChange.
struct DataChange {
    ~DataChange() {
        for (VARIANT& v : values) VariantClear(&v);
    }
    std::vector<OPCHANDLE> clients;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
};

}  // namespace

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
    auto sinks = Callbacks();
    if (sinks.empty() || active.empty()) return nullptr;
    auto change = std::make_shared<DataChange>();
    bool allGood = true;
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
        allGood = allGood && (result.quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
        change->clients.push_back(result.hClient);
        change->values.push_back(result.value.release());
        change->qualities.push_back(result.quality);
        change->times.push_back(result.timeStamp);
        change->errors.push_back(result.error);
    }
    if (change->clients.empty()) return nullptr;
    HRESULT masterQuality = allGood ? S_OK : S_FALSE;
    return [sinks, change, hGroup, masterQuality] {
        const DWORD count = static_cast<DWORD>(change->clients.size());
        for (const auto& sink : sinks)
            sink->OnDataChange(0, hGroup, masterQuality, MasterError(change->errors), count,
                               change->clients.data(), change->values.data(),
                               change->qualities.data(), change->times.data(),
                               change->errors.data());
    };
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
    return dataCallback_->Sinks<IOPCDataCallback>();
}

bool CSimGroup::Withheld(const std::vector<ItemPtr>& items) const {
    for (const ItemPtr& item : items)
        if (SimHost::Get().bus().WithholdsCompletions(item->itemId)) return true;
    return false;
}

void CSimGroup::CompleteRead(DWORD transactionId, std::vector<ItemPtr> items, bool dataChange) {
    const DWORD count = static_cast<DWORD>(items.size());
    std::vector<OPCHANDLE> clients(count);
    std::vector<VARIANT> values(count);
    std::vector<WORD> qualities(count);
    std::vector<FILETIME> times(count);
    std::vector<HRESULT> errors(count);
    bool allGood = true;
    for (DWORD i = 0; i < count; ++i) {
        ReadResult result;
        ReadDevice(items[i], &result);
        clients[i] = result.hClient;
        values[i] = result.value.release();
        qualities[i] = result.quality;
        times[i] = result.timeStamp;
        errors[i] = result.error;
        allGood = allGood && (result.quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    }
    OPCHANDLE hGroup;
    {
        com::CsLock guard(lock_);
        hGroup = state_.hClientGroup;
    }
    HRESULT masterQuality = allGood ? S_OK : S_FALSE;
    // Read all the same; a slave that withholds its completions keeps them from the sinks.
    const auto sinks = Withheld(items) ? std::vector<com::ComPtr<IOPCDataCallback>>() : Callbacks();
    for (const auto& sink : sinks) {
        if (dataChange)
            sink->OnDataChange(transactionId, hGroup, masterQuality, MasterError(errors), count,
                               clients.data(), values.data(), qualities.data(), times.data(),
                               errors.data());
        else
            sink->OnReadComplete(transactionId, hGroup, masterQuality, MasterError(errors), count,
                                 clients.data(), values.data(), qualities.data(), times.data(),
                                 errors.data());
    }
    for (VARIANT& v : values) VariantClear(&v);
}

void CSimGroup::CompleteWrite(DWORD transactionId, std::vector<ItemPtr> items,
                              std::vector<com::UniqueVariant>* values) {
    const DWORD count = static_cast<DWORD>(items.size());
    std::vector<OPCHANDLE> clients(count);
    std::vector<HRESULT> errors(count);
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = WriteDevice(items[i], *(*values)[i]);
        com::CsLock guard(lock_);
        clients[i] = items[i]->hClient;
    }
    OPCHANDLE hGroup;
    {
        com::CsLock guard(lock_);
        hGroup = state_.hClientGroup;
    }
    if (Withheld(items)) return;
    for (const auto& sink : Callbacks())
        sink->OnWriteComplete(transactionId, hGroup, MasterError(errors), count, clients.data(),
                              errors.data());
}

STDMETHODIMP CSimGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                             DWORD* pdwCancelID, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pdwCancelID || !ppErrors);
        *pdwCancelID = 0;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !phServer);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
        std::vector<ItemPtr> valid;
        HRESULT hr = ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD, OPCHANDLE h) {
            ItemPtr item;
            if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
            if (!(item->rights & OPC_READABLE)) return OPC_E_BADRIGHTS;
            valid.push_back(item);
            return S_OK;
        });
        if (FAILED(hr) || valid.empty()) return hr;
        com::ComPtr<CSimGroup> self(this);
        *pdwCancelID = AsyncQueue::Get().Post(this, [self, dwTransactionID, valid](bool cancelled) {
            if (cancelled)
                self->SendCancel(dwTransactionID);
            else
                self->CompleteRead(dwTransactionID, valid, false);
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
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
        std::vector<ItemPtr> valid;
        auto values = std::make_shared<std::vector<com::UniqueVariant>>();
        HRESULT hr = ForEachHandle(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE h) {
            ItemPtr item;
            if (!FindItem(h, &item)) return OPC_E_INVALIDHANDLE;
            if (!(item->rights & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
            com::UniqueVariant copy;
            HRESULT copied = copy.copy_from(pItemValues[i]);
            if (FAILED(copied)) return copied;
            valid.push_back(item);
            values->push_back(std::move(copy));
            return S_OK;
        });
        if (FAILED(hr) || valid.empty()) return hr;
        com::ComPtr<CSimGroup> self(this);
        *pdwCancelID =
            AsyncQueue::Get().Post(this, [self, dwTransactionID, valid, values](bool cancelled) {
                if (cancelled)
                    self->SendCancel(dwTransactionID);
                else
                    self->CompleteWrite(dwTransactionID, valid, values.get());
            });
        return hr;
    });
}

void CSimGroup::SendCancel(DWORD transactionId) {
    OPCHANDLE hGroup;
    {
        com::CsLock guard(lock_);
        hGroup = state_.hClientGroup;
    }
    for (const auto& sink : Callbacks()) sink->OnCancelComplete(transactionId, hGroup);
}

STDMETHODIMP CSimGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                 DWORD* pdwCancelID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pdwCancelID);
        *pdwCancelID = 0;
        RETURN_HR_IF(E_INVALIDARG, dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
        std::vector<ItemPtr> active;
        {
            auto snapshot = items_.Snapshot();
            com::CsLock guard(lock_);
            RETURN_HR_IF(E_FAIL, !state_.active);
            for (const auto& [handle, item] : snapshot) {
                if (item->active && (item->rights & OPC_READABLE)) active.push_back(item);
            }
        }
        // Nothing active to refresh.
        RETURN_HR_IF(E_FAIL, active.empty());
        com::ComPtr<CSimGroup> self(this);
        *pdwCancelID =
            AsyncQueue::Get().Post(this, [self, dwTransactionID, active](bool cancelled) {
                if (cancelled)
                    self->SendCancel(dwTransactionID);
                else
                    self->CompleteRead(dwTransactionID, active, true);
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
