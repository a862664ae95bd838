#include "OPCGroup.h"

#include "ClientArrays.h"
#include "Events.h"
#include "OPCGroups.h"
#include "OPCItem.h"
#include "OPCItems.h"
#include "ValueConversion.h"
#include "com/Bstr.h"
#include "com/Memory.h"

namespace vkauto {

// The IOPCDataCallback given to the OPC server. The server holds it, so it points back at the
// group weakly; the group clears that pointer when it unsubscribes. Both live in the wrapper's
// apartment.
class CDataCallback : public com::Object<IOPCDataCallback> {
public:
    explicit CDataCallback(COPCGroupImpl* owner) : owner_(owner) {}
    void Detach() noexcept { owner_ = nullptr; }

    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                              OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                              FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        return Deliver([&](COPCGroupImpl* group) {
            group->OnDataChange(
                dwTransid, {dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors});
        });
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        return Deliver([&](COPCGroupImpl* group) {
            group->OnReadComplete(
                dwTransid, {dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors});
        });
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT, DWORD dwCount,
                                 OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        return Deliver([&](COPCGroupImpl* group) {
            group->OnWriteComplete(dwTransid, dwCount, pClienthandles, pErrors);
        });
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE) override {
        return Deliver([&](COPCGroupImpl* group) { group->OnCancelComplete(dwTransid); });
    }

private:
    template <class Call>
    HRESULT Deliver(Call call) {
        return com::ComBoundary([&] {
            if (!owner_) return S_OK;
            // A handler may release the group's last reference or remove it while it runs.
            com::ComPtr<COPCGroupImpl> keep(owner_);
            call(keep.get());
            return S_OK;
        });
    }

    COPCGroupImpl* owner_;  // not counted; cleared by the group's Unsubscribe
};

namespace {
constexpr DISPID kDispidDataChange = 1;
constexpr DISPID kDispidAsyncReadComplete = 2;
constexpr DISPID kDispidAsyncWriteComplete = 3;
constexpr DISPID kDispidAsyncCancelComplete = 4;

// Elements 1..count of the client's server handles (E_INVALIDARG for a bad array).
HRESULT ClientHandlesOf(SAFEARRAY** array, LONG count, std::vector<LONG>* handles) {
    RETURN_HR_IF(E_INVALIDARG, !array);
    return ReadClientLongs(*array, count, handles);
}
}  // namespace

COPCGroupImpl::COPCGroupImpl(COPCGroups* groups, DWORD serverHandle, bool convertValues)
    : groups_(groups),
      serverHandle_(serverHandle),
      convertValues_(convertValues),
      clientHandle_(static_cast<LONG>(serverHandle)) {
    events_ = &AddConnectionPoint(__uuidof(DIOPCGroupEvent));
}

HRESULT COPCGroupImpl::FinalConstruct() { return com::MakeObject(&items_, this); }

void COPCGroupImpl::FinalRelease() {
    Unsubscribe();
    if (items_) {
        items_->RemoveAllFromServer();
        items_->Detach();
    }
    events_->DisconnectAll();
}

HRESULT COPCGroupImpl::Create(IOPCServer* server, const Settings& settings) {
    RETURN_HR_IF(E_FAIL, !server);
    LONG timeBias = settings.timeBias;
    FLOAT deadband = settings.deadband;
    DWORD revisedRate = 0;
    com::ComPtr<IOPCGroupStateMgt> state;
    RETURN_IF_FAILED(server->AddGroup(settings.name.c_str(), settings.active ? TRUE : FALSE,
                                      static_cast<DWORD>(settings.updateRate), serverHandle_,
                                      &timeBias, &deadband, static_cast<DWORD>(settings.localeId),
                                      &serverGroup_, &revisedRate, __uuidof(IOPCGroupStateMgt),
                                      state.put_unknown()));
    state_ = std::move(state);
    name_ = settings.name;
    active_ = settings.active;
    updateRate_ = static_cast<LONG>(revisedRate);
    timeBias_ = timeBias;
    deadband_ = deadband;
    localeId_ = settings.localeId;
    ReadState();
    return S_OK;
}

HRESULT COPCGroupImpl::ReadState() {
    RETURN_HR_IF(E_FAIL, !state_);
    DWORD rate = 0, locale = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG timeBias = 0;
    FLOAT deadband = 0;
    OPCHANDLE client = 0, server = 0;
    RETURN_IF_FAILED(
        state_->GetState(&rate, &active, &name, &timeBias, &deadband, &locale, &client, &server));
    com::CoTaskMem<wchar_t> ownName(name);
    if (name) name_ = name;
    updateRate_ = static_cast<LONG>(rate);
    active_ = active != FALSE;
    timeBias_ = timeBias;
    deadband_ = deadband;
    localeId_ = static_cast<LONG>(locale);
    return S_OK;
}

HRESULT COPCGroupImpl::RemoveFromServer(IOPCServer* server) {
    Unsubscribe();
    if (items_) items_->RemoveAllFromServer();
    const bool hadGroup = state_ != nullptr;
    // The wrapper's own references go first: a server answers OPC_S_INUSE for a group that is
    // still referenced.
    state_.reset();
    itemMgt_.reset();
    syncIO_.reset();
    asyncIO2_.reset();
    asyncIO_.reset();
    if (!hadGroup || !server) return S_OK;
    return server->RemoveGroup(serverGroup_, FALSE);
}

void COPCGroupImpl::Detach() { groups_ = nullptr; }

IOPCItemMgt* COPCGroupImpl::ItemMgt() {
    if (!itemMgt_ && state_) itemMgt_ = state_.try_query<IOPCItemMgt>();
    return itemMgt_.get();
}

IOPCSyncIO* COPCGroupImpl::SyncIO() {
    if (!syncIO_ && state_) syncIO_ = state_.try_query<IOPCSyncIO>();
    return syncIO_.get();
}

IOPCAsyncIO2* COPCGroupImpl::AsyncIO2() {
    if (!asyncIO2_ && state_) asyncIO2_ = state_.try_query<IOPCAsyncIO2>();
    return asyncIO2_.get();
}

IOPCAsyncIO* COPCGroupImpl::AsyncIO() {
    if (!asyncIO_ && state_) asyncIO_ = state_.try_query<IOPCAsyncIO>();
    return asyncIO_.get();
}

void COPCGroupImpl::Started(HRESULT hr, DWORD serverId, StreamSubscription::Kind kind,
                            LONG clientId) {
    if (SUCCEEDED(hr) && serverId != 0) streams_.Started(this, serverId, kind, clientId);
}

void COPCGroupImpl::OnStream(CLIPFORMAT format, const BYTE* block, size_t size) {
    streams_.Receive(this, format, block, size);
}

STDMETHODIMP COPCGroupImpl::get_Parent(IOPCAutoServer** ppParent) {
    RETURN_HR_IF(E_INVALIDARG, !ppParent);
    *ppParent = nullptr;
    RETURN_HR_IF(E_FAIL, !groups_);
    com::ComPtr<IOPCGroups> groups;
    RETURN_IF_FAILED(groups_->QueryInterface(IID_PPV_ARGS(groups.put())));
    return groups->get_Parent(ppParent);
}

STDMETHODIMP COPCGroupImpl::get_Name(BSTR* Name) {
    RETURN_HR_IF(E_INVALIDARG, !Name);
    return com::AllocBstr(name_, Name);
}

STDMETHODIMP COPCGroupImpl::put_Name(BSTR Name) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_FAIL, !state_);
        std::wstring name(com::BstrView(Name));
        RETURN_IF_FAILED(state_->SetName(name.c_str()));
        name_ = std::move(name);
        return S_OK;
    });
}

STDMETHODIMP COPCGroupImpl::get_IsPublic(VARIANT_BOOL* IsPublic) {
    RETURN_HR_IF(E_INVALIDARG, !IsPublic);
    return E_NOTIMPL;
}

HRESULT COPCGroupImpl::SetState(DWORD* rate, BOOL* active, LONG* timeBias, FLOAT* deadband,
                                DWORD* locale) {
    RETURN_HR_IF(E_FAIL, !state_);
    DWORD revised = 0;
    RETURN_IF_FAILED(state_->SetState(rate, &revised, active, timeBias, deadband, locale, nullptr));
    updateRate_ = static_cast<LONG>(revised);
    if (active) active_ = *active != FALSE;
    if (timeBias) timeBias_ = *timeBias;
    if (deadband) deadband_ = *deadband;
    if (locale) localeId_ = static_cast<LONG>(*locale);
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::get_IsActive(VARIANT_BOOL* IsActive) {
    RETURN_HR_IF(E_INVALIDARG, !IsActive);
    RETURN_HR_IF(E_FAIL, !state_);
    *IsActive = active_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_IsActive(VARIANT_BOOL IsActive) {
    BOOL active = IsActive ? TRUE : FALSE;
    return SetState(nullptr, &active, nullptr, nullptr, nullptr);
}

STDMETHODIMP COPCGroupImpl::get_IsSubscribed(VARIANT_BOOL* IsSubscribed) {
    RETURN_HR_IF(E_INVALIDARG, !IsSubscribed);
    RETURN_HR_IF(E_FAIL, !state_);
    *IsSubscribed = subscribed_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_IsSubscribed(VARIANT_BOOL IsSubscribed) {
    RETURN_HR_IF(E_FAIL, !state_);
    const bool wanted = IsSubscribed != VARIANT_FALSE;
    if (wanted == subscribed_) return S_OK;
    if (!wanted) {
        Unsubscribe();
        return S_OK;
    }
    return Subscribe();
}

HRESULT COPCGroupImpl::Subscribe() {
    auto container = state_.try_query<IConnectionPointContainer>();
    if (!container) {
        // A DA 1.0 group.
        RETURN_HR_IF(E_FAIL, FAILED(streams_.Advise(state_.try_query<IDataObject>().get(), this)));
        subscribed_ = true;
        return S_OK;
    }
    com::ComPtr<IConnectionPoint> point;
    RETURN_HR_IF(E_FAIL,
                 FAILED(container->FindConnectionPoint(__uuidof(IOPCDataCallback), point.put())));
    com::ComPtr<CDataCallback> callback;
    RETURN_IF_FAILED(com::MakeObject(&callback, this));
    DWORD cookie = 0;
    if (FAILED(point->Advise(static_cast<IOPCDataCallback*>(callback.get()), &cookie))) {
        callback->Detach();
        return E_FAIL;
    }
    callback_ = std::move(callback);
    callbackCookie_ = cookie;
    subscribed_ = true;
    return S_OK;
}

void COPCGroupImpl::Unsubscribe() {
    if (streams_.advised()) {
        streams_.Unadvise();
        subscribed_ = false;
    }
    if (!callback_) return;
    if (auto container = state_.try_query<IConnectionPointContainer>()) {
        com::ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(container->FindConnectionPoint(__uuidof(IOPCDataCallback), point.put())))
            point->Unadvise(callbackCookie_);
    }
    // A callback already on its way finds the sink detached.
    callback_->Detach();
    callback_.reset();
    callbackCookie_ = 0;
    subscribed_ = false;
}

STDMETHODIMP COPCGroupImpl::get_ClientHandle(LONG* ClientHandle) {
    RETURN_HR_IF(E_INVALIDARG, !ClientHandle);
    *ClientHandle = clientHandle_;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_ClientHandle(LONG ClientHandle) {
    clientHandle_ = ClientHandle;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::get_ServerHandle(LONG* ServerHandle) {
    RETURN_HR_IF(E_INVALIDARG, !ServerHandle);
    *ServerHandle = static_cast<LONG>(serverHandle_);
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::get_LocaleID(LONG* LocaleID) {
    RETURN_HR_IF(E_INVALIDARG, !LocaleID);
    RETURN_HR_IF(E_FAIL, !state_);
    *LocaleID = localeId_;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_LocaleID(LONG LocaleID) {
    DWORD locale = static_cast<DWORD>(LocaleID);
    return SetState(nullptr, nullptr, nullptr, nullptr, &locale);
}

STDMETHODIMP COPCGroupImpl::get_TimeBias(LONG* TimeBias) {
    RETURN_HR_IF(E_INVALIDARG, !TimeBias);
    RETURN_HR_IF(E_FAIL, !state_);
    *TimeBias = timeBias_;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_TimeBias(LONG TimeBias) {
    return SetState(nullptr, nullptr, &TimeBias, nullptr, nullptr);
}

STDMETHODIMP COPCGroupImpl::get_DeadBand(FLOAT* DeadBand) {
    RETURN_HR_IF(E_INVALIDARG, !DeadBand);
    RETURN_HR_IF(E_FAIL, !state_);
    *DeadBand = deadband_;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_DeadBand(FLOAT DeadBand) {
    return SetState(nullptr, nullptr, nullptr, &DeadBand, nullptr);
}

STDMETHODIMP COPCGroupImpl::get_UpdateRate(LONG* UpdateRate) {
    RETURN_HR_IF(E_INVALIDARG, !UpdateRate);
    RETURN_IF_FAILED(ReadState());
    *UpdateRate = updateRate_;
    return S_OK;
}

STDMETHODIMP COPCGroupImpl::put_UpdateRate(LONG UpdateRate) {
    RETURN_HR_IF(E_INVALIDARG, UpdateRate < 0);
    DWORD rate = static_cast<DWORD>(UpdateRate);
    return SetState(&rate, nullptr, nullptr, nullptr, nullptr);
}

STDMETHODIMP COPCGroupImpl::get_OPCItems(OPCItems** ppItems) {
    RETURN_HR_IF(E_INVALIDARG, !ppItems);
    *ppItems = nullptr;
    return items_->QueryInterface(IID_PPV_ARGS(ppItems));
}

STDMETHODIMP COPCGroupImpl::SyncRead(SHORT Source, LONG NumItems, SAFEARRAY** ServerHandles,
                                     SAFEARRAY** Values, SAFEARRAY** Errors, VARIANT* Qualities,
                                     VARIANT* TimeStamps) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !Values || !Errors);
        std::vector<LONG> handles;
        RETURN_IF_FAILED(ClientHandlesOf(ServerHandles, NumItems, &handles));
        IOPCSyncIO* io = SyncIO();
        RETURN_HR_IF(E_FAIL, !io);
        ResolvedItems resolved;
        RETURN_IF_FAILED(items_->Resolve(handles, &resolved));
        com::UniqueSafeArray values, qualities, times;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_VARIANT, NumItems, &values));
        RETURN_IF_FAILED(CreateOneBasedArray(VT_I2, NumItems, &qualities));
        RETURN_IF_FAILED(CreateOneBasedArray(VT_DATE, NumItems, &times));
        if (!resolved.serverHandles.empty()) {
            OPCITEMSTATE* rawStates = nullptr;
            HRESULT* rawErrors = nullptr;
            const DWORD count = static_cast<DWORD>(resolved.serverHandles.size());
            RETURN_IF_FAILED(io->Read(static_cast<OPCDATASOURCE>(Source), count,
                                      resolved.serverHandles.data(), &rawStates, &rawErrors));
            com::CoTaskMem<OPCITEMSTATE> states(rawStates);
            com::CoTaskMem<HRESULT> serverErrors(rawErrors);
            RETURN_HR_IF(E_FAIL, !rawStates || !rawErrors);
            resolved.Merge(rawErrors);
            for (DWORD k = 0; k < count; ++k) {
                com::UniqueVariant value;
                value.reset(states[k].vDataValue);
                if (FAILED(serverErrors[k])) continue;
                resolved.items[k]->Update(*value, states[k].wQuality, states[k].ftTimeStamp);
                LONG index = static_cast<LONG>(resolved.positions[k]) + 1;
                com::UniqueVariant converted;
                RETURN_IF_FAILED(ConvertForAutomation(*value, convertValues_, converted.put()));
                RETURN_IF_FAILED(::SafeArrayPutElement(values.get(), &index, converted.get()));
                SHORT quality = static_cast<SHORT>(states[k].wQuality);
                RETURN_IF_FAILED(::SafeArrayPutElement(qualities.get(), &index, &quality));
                DATE time = LocalDate(states[k].ftTimeStamp);
                RETURN_IF_FAILED(::SafeArrayPutElement(times.get(), &index, &time));
            }
        }
        RETURN_IF_FAILED(PutOneBasedLongs(
            std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
        *Values = values.release();
        auto hand = [](VARIANT* out, com::UniqueSafeArray& array, VARTYPE vt) {
            if (!out) return;
            if (V_VT(out) == VT_ERROR && V_ERROR(out) == DISP_E_PARAMNOTFOUND) return;
            VARIANT* target = V_VT(out) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(out) : out;
            ::VariantClear(target);
            V_VT(target) = VT_ARRAY | vt;
            V_ARRAY(target) = array.release();
        };
        hand(Qualities, qualities, VT_I2);
        hand(TimeStamps, times, VT_DATE);
        return resolved.Result();
    });
}

STDMETHODIMP COPCGroupImpl::SyncWrite(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Values,
                                      SAFEARRAY** Errors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !Values || !Errors);
        std::vector<LONG> handles;
        std::vector<com::UniqueVariant> values;
        RETURN_IF_FAILED(ClientHandlesOf(ServerHandles, NumItems, &handles));
        RETURN_IF_FAILED(ReadClientVariants(*Values, NumItems, VT_VARIANT, &values));
        IOPCSyncIO* io = SyncIO();
        RETURN_HR_IF(E_FAIL, !io);
        ResolvedItems resolved;
        RETURN_IF_FAILED(items_->Resolve(handles, &resolved));
        if (!resolved.serverHandles.empty()) {
            std::vector<VARIANT> written;
            for (size_t position : resolved.positions) written.push_back(*values[position]);
            HRESULT* rawErrors = nullptr;
            RETURN_IF_FAILED(io->Write(static_cast<DWORD>(written.size()),
                                       resolved.serverHandles.data(), written.data(), &rawErrors));
            com::CoTaskMem<HRESULT> serverErrors(rawErrors);
            resolved.Merge(rawErrors);
        }
        RETURN_IF_FAILED(PutOneBasedLongs(
            std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
        return resolved.Result();
    });
}

STDMETHODIMP COPCGroupImpl::AsyncRead(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Errors,
                                      LONG TransactionID, LONG* CancelID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !Errors || !CancelID);
        std::vector<LONG> handles;
        RETURN_IF_FAILED(ClientHandlesOf(ServerHandles, NumItems, &handles));
        IOPCAsyncIO2* io = AsyncIO2();
        IOPCAsyncIO* io1 = io ? nullptr : AsyncIO();
        RETURN_HR_IF(E_FAIL, !io && !io1);
        ResolvedItems resolved;
        RETURN_IF_FAILED(items_->Resolve(handles, &resolved));
        DWORD cancelId = 0;
        if (!resolved.serverHandles.empty()) {
            HRESULT* rawErrors = nullptr;
            const DWORD count = static_cast<DWORD>(resolved.serverHandles.size());
            HRESULT hr;
            if (io) {
                hr = io->Read(count, resolved.serverHandles.data(),
                              static_cast<DWORD>(TransactionID), &cancelId, &rawErrors);
            } else {
                hr = io1->Read(streams_.dataConnection(), OPC_DS_DEVICE, count,
                               resolved.serverHandles.data(), &cancelId, &rawErrors);
            }
            com::CoTaskMem<HRESULT> serverErrors(rawErrors);
            RETURN_IF_FAILED(hr);
            resolved.Merge(rawErrors);
            if (io1) Started(hr, cancelId, StreamSubscription::Kind::kRead, TransactionID);
        }
        RETURN_IF_FAILED(PutOneBasedLongs(
            std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
        *CancelID = static_cast<LONG>(cancelId);
        return resolved.Result();
    });
}

STDMETHODIMP COPCGroupImpl::AsyncWrite(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Values,
                                       SAFEARRAY** Errors, LONG TransactionID, LONG* CancelID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !Values || !Errors || !CancelID);
        std::vector<LONG> handles;
        std::vector<com::UniqueVariant> values;
        RETURN_IF_FAILED(ClientHandlesOf(ServerHandles, NumItems, &handles));
        RETURN_IF_FAILED(ReadClientVariants(*Values, NumItems, VT_VARIANT, &values));
        IOPCAsyncIO2* io = AsyncIO2();
        IOPCAsyncIO* io1 = io ? nullptr : AsyncIO();
        RETURN_HR_IF(E_FAIL, !io && !io1);
        ResolvedItems resolved;
        RETURN_IF_FAILED(items_->Resolve(handles, &resolved));
        DWORD cancelId = 0;
        if (!resolved.serverHandles.empty()) {
            std::vector<VARIANT> written;
            for (size_t position : resolved.positions) written.push_back(*values[position]);
            HRESULT* rawErrors = nullptr;
            const DWORD count = static_cast<DWORD>(written.size());
            HRESULT hr;
            if (io) {
                hr = io->Write(count, resolved.serverHandles.data(), written.data(),
                               static_cast<DWORD>(TransactionID), &cancelId, &rawErrors);
            } else {
                hr = io1->Write(streams_.writeConnection(), count, resolved.serverHandles.data(),
                                written.data(), &cancelId, &rawErrors);
            }
            com::CoTaskMem<HRESULT> serverErrors(rawErrors);
            RETURN_IF_FAILED(hr);
            resolved.Merge(rawErrors);
            if (io1) Started(hr, cancelId, StreamSubscription::Kind::kWrite, TransactionID);
        }
        RETURN_IF_FAILED(PutOneBasedLongs(
            std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
        *CancelID = static_cast<LONG>(cancelId);
        return resolved.Result();
    });
}

STDMETHODIMP COPCGroupImpl::AsyncRefresh(SHORT Source, LONG TransactionID, LONG* CancelID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !CancelID);
        const auto source = static_cast<OPCDATASOURCE>(Source);
        DWORD cancelId = 0;
        if (IOPCAsyncIO2* io = AsyncIO2()) {
            RETURN_IF_FAILED(io->Refresh2(source, static_cast<DWORD>(TransactionID), &cancelId));
        } else {
            IOPCAsyncIO* io1 = AsyncIO();
            RETURN_HR_IF(E_FAIL, !io1);
            const HRESULT hr = io1->Refresh(streams_.dataConnection(), source, &cancelId);
            RETURN_IF_FAILED(hr);
            Started(hr, cancelId, StreamSubscription::Kind::kRefresh, TransactionID);
        }
        *CancelID = static_cast<LONG>(cancelId);
        return S_OK;
    });
}

STDMETHODIMP COPCGroupImpl::AsyncCancel(LONG CancelID) {
    if (IOPCAsyncIO2* io = AsyncIO2()) return io->Cancel2(static_cast<DWORD>(CancelID));
    IOPCAsyncIO* io1 = AsyncIO();
    RETURN_HR_IF(E_FAIL, !io1);
    // A DA 1.0 server sends nothing for a cancelled call: the event comes from here.
    RETURN_IF_FAILED(io1->Cancel(static_cast<DWORD>(CancelID)));
    LONG transactionId = 0;
    if (streams_.Cancelled(static_cast<DWORD>(CancelID), &transactionId))
        OnCancelComplete(static_cast<DWORD>(transactionId));
    return S_OK;
}

struct COPCGroupImpl::Arrays {
    LONG count = 0;
    com::UniqueSafeArray clientHandles, values, qualities, times, errors;
};

HRESULT COPCGroupImpl::CollectItems(const ItemData& data, bool withErrors, Arrays* out) {
    // Entries that name no live item (removed meanwhile, or a stray handle) are left out.
    std::vector<std::pair<DWORD, com::ComPtr<COPCItemImpl>>> live;
    for (DWORD i = 0; data.items && i < data.count; ++i)
        if (auto item = items_->Find(data.items[i])) live.emplace_back(i, std::move(item));
    const ULONG count = static_cast<ULONG>(live.size());
    RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, count, &out->clientHandles));
    RETURN_IF_FAILED(CreateOneBasedArray(VT_VARIANT, count, &out->values));
    RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, count, &out->qualities));
    RETURN_IF_FAILED(CreateOneBasedArray(VT_DATE, count, &out->times));
    if (withErrors) RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, count, &out->errors));
    for (ULONG k = 0; k < count; ++k) {
        const DWORD i = live[k].first;
        COPCItemImpl* item = live[k].second.get();
        LONG index = static_cast<LONG>(k) + 1;
        const HRESULT error = data.errors ? data.errors[i] : S_OK;
        VARIANT empty;
        ::VariantInit(&empty);
        const VARIANT& value = data.values ? data.values[i] : empty;
        const WORD quality = data.qualities ? data.qualities[i] : OPC_QUALITY_BAD;
        const FILETIME time = data.times ? data.times[i] : FILETIME{};
        if (SUCCEEDED(error)) item->Update(value, quality, time);
        LONG clientHandle = item->clientHandle();
        RETURN_IF_FAILED(::SafeArrayPutElement(out->clientHandles.get(), &index, &clientHandle));
        com::UniqueVariant converted;
        if (SUCCEEDED(error))
            RETURN_IF_FAILED(ConvertForAutomation(value, convertValues_, converted.put()));
        RETURN_IF_FAILED(::SafeArrayPutElement(out->values.get(), &index, converted.get()));
        LONG q = quality;
        RETURN_IF_FAILED(::SafeArrayPutElement(out->qualities.get(), &index, &q));
        DATE date = LocalDate(time);
        RETURN_IF_FAILED(::SafeArrayPutElement(out->times.get(), &index, &date));
        if (withErrors) {
            LONG e = error;
            RETURN_IF_FAILED(::SafeArrayPutElement(out->errors.get(), &index, &e));
        }
    }
    out->count = static_cast<LONG>(count);
    return S_OK;
}

void COPCGroupImpl::OnDataChange(DWORD transactionId, const ItemData& data) {
    {
        Arrays arrays;
        if (FAILED(CollectItems(data, false, &arrays))) return;
        EventArgs args;
        args.Long(static_cast<LONG>(transactionId));
        args.Long(arrays.count);
        args.Array(VT_I4, arrays.clientHandles.release());
        args.Array(VT_VARIANT, arrays.values.release());
        args.Array(VT_I4, arrays.qualities.release());
        args.Array(VT_DATE, arrays.times.release());
        args.Fire<DIOPCGroupEvent>(*events_, kDispidDataChange);
    }
    // A DataChange handler may have removed this group; then its collection is gone.
    if (!groups_) return;
    com::ComPtr<COPCGroups> groups(groups_);
    Arrays arrays;
    if (FAILED(CollectItems(data, false, &arrays))) return;
    EventArgs args;
    args.Long(static_cast<LONG>(transactionId));
    args.Long(clientHandle_);
    args.Long(arrays.count);
    args.Array(VT_I4, arrays.clientHandles.release());
    args.Array(VT_VARIANT, arrays.values.release());
    args.Array(VT_I4, arrays.qualities.release());
    args.Array(VT_DATE, arrays.times.release());
    groups->FireGlobalDataChange(args);
}

void COPCGroupImpl::OnReadComplete(DWORD transactionId, const ItemData& data) {
    Arrays arrays;
    if (FAILED(CollectItems(data, true, &arrays))) return;
    EventArgs args;
    args.Long(static_cast<LONG>(transactionId));
    args.Long(arrays.count);
    args.Array(VT_I4, arrays.clientHandles.release());
    args.Array(VT_VARIANT, arrays.values.release());
    args.Array(VT_I4, arrays.qualities.release());
    args.Array(VT_DATE, arrays.times.release());
    args.Array(VT_I4, arrays.errors.release());
    args.Fire<DIOPCGroupEvent>(*events_, kDispidAsyncReadComplete);
}

void COPCGroupImpl::OnWriteComplete(DWORD transactionId, DWORD count, const OPCHANDLE* items,
                                    const HRESULT* errors) {
    std::vector<LONG> clientHandles, results;
    for (DWORD i = 0; items && i < count; ++i) {
        if (auto item = items_->Find(items[i])) {
            clientHandles.push_back(item->clientHandle());
            results.push_back(errors ? errors[i] : S_OK);
        }
    }
    SAFEARRAY* handleArray = nullptr;
    SAFEARRAY* errorArray = nullptr;
    if (FAILED(PutOneBasedLongs(clientHandles, &handleArray))) return;
    EventArgs args;
    args.Long(static_cast<LONG>(transactionId));
    args.Long(static_cast<LONG>(clientHandles.size()));
    args.Array(VT_I4, handleArray);
    if (FAILED(PutOneBasedLongs(results, &errorArray))) return;
    args.Array(VT_I4, errorArray);
    args.Fire<DIOPCGroupEvent>(*events_, kDispidAsyncWriteComplete);
}

void COPCGroupImpl::OnCancelComplete(DWORD transactionId) {
    EventArgs args;
    args.Long(static_cast<LONG>(transactionId));
    args.Fire<DIOPCGroupEvent>(*events_, kDispidAsyncCancelComplete);
}

}  // namespace vkauto
