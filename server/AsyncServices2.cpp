#include "AsyncServices2.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "BulkDeviceRead.h"
#include "OPCGroup.h"
#include "com/Implementation.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/Time.h"

namespace {

bool IsReadable(COPCItem& item) {
    return item.isProperty() || (item.accessRights() & OPC_READABLE);
}

bool IsWriteable(COPCItem& item) {
    return item.isProperty() || (item.accessRights() & OPC_WRITEABLE);
}

// A device read of one item on its own, as a synchronous read makes it.
bool ReadAlone(COPCItem& item) {
    VARIANT value;
    WORD quality = 0;
    DATE time = 0;
    const HRESULT hr = item.Read(OPC_DS_DEVICE, &value, &quality, &time);
    VariantClear(&value);
    return SUCCEEDED(hr);
}

// The items of one component that offers bulk access.
struct BulkGroup {
    com::ComPtr<IUnknown> component;
    com::ComPtr<IvkBulkInteraction> bulk;
    std::vector<com::ComPtr<COPCItem>> items;
};

// Reads the items from the device: those of a component that offers bulk access in one
// ReadMultiple (the component splits them by drive and packs them into requests within
// each drive's limits, and reads the items of a failed request alone), so that many
// parameters of a drive cost a few drive latencies instead of one each. Items without
// bulk access, and every item of a call the component refuses as a whole, are read
// alone; one bad parameter costs the others nothing. Either way the
// item's own code decides changes, qualities and time stamps. Whether every item read.
bool ReadFromDevice(const std::vector<com::ComPtr<COPCItem>>& items) {
    std::vector<BulkGroup> groups;
    std::vector<com::ComPtr<COPCItem>> alone;
    for (const com::ComPtr<COPCItem>& item : items) {
        com::ComPtr<IvkBulkInteraction> bulk = item->bulkInteraction();
        com::ComPtr<IUnknown> component = bulk ? item->component() : nullptr;
        if (!component) {
            alone.push_back(item);
            continue;
        }
        auto group = std::find_if(groups.begin(), groups.end(), [&](const BulkGroup& known) {
            return com::IsSameObject(known.component.get(), component.get());
        });
        if (group == groups.end())
            group = groups.insert(groups.end(), BulkGroup{component, bulk, {}});
        group->items.push_back(item);
    }
    bool allRead = true;
    for (const BulkGroup& group : groups) {
        BulkDeviceRead read;
        // A single item costs one request either way; alone it takes the single read.
        if (group.items.size() < 2 || FAILED(read.Read(group.bulk.get(), group.items))) {
            alone.insert(alone.end(), group.items.begin(), group.items.end());
            continue;
        }
        // A failed item's result stands: the component has already read it alone.
        for (size_t i = 0; i < group.items.size(); ++i) {
            VARIANT value;
            WORD quality = 0;
            DATE time = 0;
            if (FAILED(read.Apply(*group.items[i], i, &value, &quality, &time))) allRead = false;
            VariantClear(&value);
        }
    }
    for (const com::ComPtr<COPCItem>& item : alone) {
        if (!ReadAlone(*item)) allRead = false;
    }
    return allRead;
}

// The arrays of one OnDataChange / OnReadComplete.
class Report {
public:
    Report() {
        // The proxies refuse null arrays, also for a count of 0.
        clients_.reserve(1);
        values_.reserve(1);
        qualities_.reserve(1);
        times_.reserve(1);
        errors_.reserve(1);
    }
    ~Report() {
        for (VARIANT& value : values_) VariantClear(&value);
    }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    void Add(COPCItem& item, DWORD source) {
        VARIANT value;
        WORD quality = 0;
        DATE time = 0;
        const HRESULT hr = item.Read(source, &value, &quality, &time);
        FILETIME stamp = {};
        if (time != 0) com::DateToFileTime(time, &stamp);
        clients_.push_back(item.clientHandle());
        values_.push_back(value);
        qualities_.push_back(quality);
        times_.push_back(stamp);
        errors_.push_back(hr);
    }
    DWORD count() const { return static_cast<DWORD>(clients_.size()); }
    HRESULT masterQuality() const {
        for (WORD quality : qualities_) {
            if ((quality & 0xFF) < OPC_QUALITY_GOOD) return S_FALSE;
        }
        return S_OK;
    }
    HRESULT masterError() const {
        for (HRESULT error : errors_) {
            if (error != S_OK) return S_FALSE;
        }
        return S_OK;
    }
    OPCHANDLE* clients() { return clients_.data(); }
    VARIANT* values() { return values_.data(); }
    WORD* qualities() { return qualities_.data(); }
    FILETIME* times() { return times_.data(); }
    HRESULT* errors() { return errors_.data(); }

private:
    std::vector<OPCHANDLE> clients_;
    std::vector<VARIANT> values_;
    std::vector<WORD> qualities_;
    std::vector<FILETIME> times_;
    std::vector<HRESULT> errors_;
};

}  // namespace

bool IsDisconnection(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == CO_E_OBJNOTCONNECTED;
}

// Holds the delivery mutex for one batch of callbacks.
class CAsyncServices2::Delivery {
public:
    Delivery(HANDLE mutex, DWORD waitMs) : mutex_(mutex) {
        const DWORD result = WaitForSingleObject(mutex_, waitMs);
        owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    ~Delivery() {
        if (owned_) ReleaseMutex(mutex_);
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    bool owned() const { return owned_; }

private:
    HANDLE mutex_;
    bool owned_ = false;
};

CAsyncServices2::CAsyncServices2(IUnknown* group) : groupUnknown_(group) {
    dataCallback_ = &AddConnectionPoint(IID_IOPCDataCallback);
}

HRESULT CAsyncServices2::FinalConstruct() {
    if (!groupUnknown_ || !com::ImplementationOf<COPCGroup>(groupUnknown_.get())) return E_POINTER;
    RETURN_IF_FAILED(groupUnknown_.query(&group_));
    com::ComPtr<IUnknown> items;
    RETURN_IF_FAILED(group_->GetItems(items.put()));
    long active = FALSE;
    RETURN_IF_FAILED(group_->GetActive(&active));
    active_ = active ? TRUE : FALSE;
    delivery_.reset(CreateMutexW(nullptr, FALSE, nullptr));
    RETURN_LAST_ERROR_IF(!delivery_);
    return S_OK;
}

void CAsyncServices2::FinalRelease() {
    Shutdown();
    group_.reset();
    groupUnknown_.reset();
}

HRESULT CAsyncServices2::QueryInterfaceHook(REFIID riid, void** ppv) {
    if (com::AnswerImplementation(this, riid, ppv)) return S_OK;
    if (riid == IID_IOPCAsyncIO2) return com::CreateTearOff<COPCAsyncIO2Impl>(this, riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

COPCGroup* CAsyncServices2::group() const {
    return com::ImplementationOf<COPCGroup>(groupUnknown_.get());
}

OPCHANDLE CAsyncServices2::ClientGroupHandle() const {
    unsigned long handle = 0;
    if (group_) group_->GetClientHandle(&handle);
    return static_cast<OPCHANDLE>(handle);
}

void CAsyncServices2::Shutdown() {
    std::deque<Request> reads, refreshes, writes;  // released outside the lock
    std::vector<Request> cancelled;
    {
        com::CsLock guard(listLock_);
        closed_ = true;
        reads.swap(reads_);
        refreshes.swap(refreshes_);
        writes.swap(writes_);
        cancelled.swap(cancelled_);
    }
    dataCallback_->DisconnectAll();
}

size_t CAsyncServices2::PendingCount() const {
    com::CsLock guard(listLock_);
    return reads_.size() + refreshes_.size() + writes_.size() + cancelled_.size();
}

std::deque<CAsyncServices2::Request>& CAsyncServices2::QueueOf(Kind kind) {
    switch (kind) {
        case Kind::kRead: return reads_;
        case Kind::kRefresh: return refreshes_;
        default: return writes_;
    }
}

// Never 0: a client takes 0 for "no request".
DWORD CAsyncServices2::NextCancelIdLocked() {
    if (++transactionCounter_ == 0) ++transactionCounter_;
    return transactionCounter_;
}

HRESULT CAsyncServices2::Queue(Request request, DWORD* pdwCancelID) {
    com::CsLock guard(listLock_);
    RETURN_HR_IF(E_FAIL, closed_);
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
    RETURN_HR_IF(CONNECT_E_ADVISELIMIT, refreshes_.size() >= kMaxRefreshes);
    RETURN_HR_IF(CONNECT_E_ADVISELIMIT,
                 reads_.size() + refreshes_.size() + writes_.size() >= kMaxPending);
    request.cancelId = NextCancelIdLocked();
    *pdwCancelID = request.cancelId;
    QueueOf(request.kind).push_back(std::move(request));
    return S_OK;
}

HRESULT CAsyncServices2::Read(DWORD dwCount, const OPCHANDLE* phServer, DWORD dwTransactionID,
                              DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (pdwCancelID) *pdwCancelID = 0;
    if (ppErrors) *ppErrors = nullptr;
    if (!pdwCancelID || !ppErrors || !phServer || dwCount == 0) return E_INVALIDARG;
    {
        com::CsLock guard(listLock_);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
        RETURN_HR_IF(CONNECT_E_ADVISELIMIT, refreshes_.size() >= kMaxRefreshes);
    }
    COPCGroup* owner = group();
    RETURN_HR_IF(E_POINTER, !owner);
    com::CoTaskMem<HRESULT> errors;
    RETURN_HR_IF(E_OUTOFMEMORY, !errors.alloc(dwCount));
    Request request;
    request.kind = Kind::kRead;
    request.transactionId = dwTransactionID;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        const com::ComPtr<COPCItem> item = owner->FindItem(phServer[i]);
        errors.get()[i] = !item ? OPC_E_INVALIDHANDLE : !IsReadable(*item) ? OPC_E_BADRIGHTS : S_OK;
        if (errors.get()[i] == S_OK)
            request.handles.push_back(phServer[i]);
        else
            result = S_FALSE;
    }
    if (!request.handles.empty()) RETURN_IF_FAILED(Queue(std::move(request), pdwCancelID));
    *ppErrors = errors.release();
    return result;
}

HRESULT CAsyncServices2::Write(DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* pItemValues,
                               DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (pdwCancelID) *pdwCancelID = 0;
    if (ppErrors) *ppErrors = nullptr;
    if (!pdwCancelID || !ppErrors || !phServer || !pItemValues || dwCount == 0) return E_INVALIDARG;
    {
        com::CsLock guard(listLock_);
        RETURN_HR_IF(CONNECT_E_ADVISELIMIT, refreshes_.size() >= kMaxRefreshes);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
    }
    COPCGroup* owner = group();
    RETURN_HR_IF(E_POINTER, !owner);
    com::CoTaskMem<HRESULT> errors;
    RETURN_HR_IF(E_OUTOFMEMORY, !errors.alloc(dwCount));
    Request request;
    request.kind = Kind::kWrite;
    request.transactionId = dwTransactionID;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        const com::ComPtr<COPCItem> item = owner->FindItem(phServer[i]);
        HRESULT error = !item ? OPC_E_INVALIDHANDLE : !IsWriteable(*item) ? OPC_E_BADRIGHTS : S_OK;
        if (error == S_OK) {
            com::UniqueVariant value;
            error = value.copy_from(pItemValues[i]);
            if (SUCCEEDED(error)) {
                request.handles.push_back(phServer[i]);
                request.values.push_back(std::move(value));
            }
        }
        errors.get()[i] = error;
        if (error != S_OK) result = S_FALSE;
    }
    if (!request.handles.empty()) RETURN_IF_FAILED(Queue(std::move(request), pdwCancelID));
    *ppErrors = errors.release();
    return result;
}

HRESULT CAsyncServices2::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                  DWORD* pdwCancelID) {
    if (pdwCancelID) *pdwCancelID = 0;
    if (!pdwCancelID || (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE))
        return E_INVALIDARG;
    {
        com::CsLock guard(listLock_);
        RETURN_HR_IF(CONNECT_E_ADVISELIMIT, refreshes_.size() >= kMaxRefreshes);
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
        RETURN_HR_IF(E_FAIL, !active_);
    }
    COPCGroup* owner = group();
    RETURN_HR_IF(E_POINTER, !owner);
    Request request;
    request.kind = Kind::kRefresh;
    request.transactionId = dwTransactionID;
    request.source = dwSource;
    for (const com::ComPtr<COPCItem>& item : owner->ItemSnapshot()) {
        if (item->active()) request.handles.push_back(item->serverHandle());
    }
    RETURN_HR_IF(E_FAIL, request.handles.empty());
    return Queue(std::move(request), pdwCancelID);
}

// The request is taken out of its queue at once: a cancelled write is never executed.
// A request already being completed is no longer pending (E_FAIL).
HRESULT CAsyncServices2::Cancel2(DWORD dwCancelID) {
    com::CsLock guard(listLock_);
    RETURN_HR_IF(E_FAIL, closed_ || dwCancelID == 0);
    for (Kind kind : {Kind::kRead, Kind::kRefresh, Kind::kWrite}) {
        std::deque<Request>& queue = QueueOf(kind);
        auto found = std::find_if(queue.begin(), queue.end(), [&](const Request& request) {
            return request.cancelId == dwCancelID;
        });
        if (found == queue.end()) continue;
        cancelled_.push_back(std::move(*found));
        queue.erase(found);
        return S_OK;
    }
    return E_FAIL;
}

HRESULT CAsyncServices2::SetEnable(BOOL bEnable) {
    com::CsLock guard(listLock_);
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
    enable_ = bEnable ? TRUE : FALSE;
    return S_OK;
}

HRESULT CAsyncServices2::GetEnable(BOOL* pbEnable) {
    RETURN_HR_IF(E_INVALIDARG, !pbEnable);
    com::CsLock guard(listLock_);
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, dataCallback_->size() == 0);
    *pbEnable = enable_;
    return S_OK;
}

STDMETHODIMP CAsyncServices2::SetActive(BOOL bActive) {
    return com::ComBoundary([&]() -> HRESULT {
        {
            com::CsLock guard(listLock_);
            RETURN_HR_IF(E_FAIL, closed_);
            if (!bActive || active_) {
                active_ = bActive ? TRUE : FALSE;
                return S_OK;
            }
            active_ = TRUE;
        }
        DevicePass();
        DataChange(true);
        return S_OK;
    });
}

STDMETHODIMP CAsyncServices2::OnTimer(BOOL bUpdate) {
    return com::ComBoundary([&]() -> HRESULT {
        bool poll = bUpdate != FALSE;
        bool pending = false, enabled = false, activationReport = false;
        {
            com::CsLock guard(listLock_);
            if (closed_) return S_OK;
            if (dataCallback_->size() > 0) lostSinks_ = false;
            // Nobody is left to see the values: spare the bus.
            if (lostSinks_) poll = false;
        }
        ReportCancellations();
        ProcessWrites();
        {
            com::CsLock guard(listLock_);
            pending = !reads_.empty() || !refreshes_.empty();
            enabled = enable_ && active_;
            activationReport = activationReportDue_;
            activationReportDue_ = false;
        }
        if (poll || pending) {
            const HRESULT pass = DevicePass();
            if (poll && pass != E_POINTER && enabled) DataChange(false);
        }
        if (activationReport) DataChange(true);
        ProcessReadsOrRefreshes(Kind::kRefresh);
        ProcessReadsOrRefreshes(Kind::kRead);
        return S_OK;
    });
}

// Reads from the device the active items of an active group and the items of the
// pending device reads and refreshes, which are ready then.
HRESULT CAsyncServices2::DevicePass() {
    COPCGroup* owner = group();
    if (!owner) return E_POINTER;
    bool active;
    std::unordered_set<OPCHANDLE> requested;
    {
        com::CsLock guard(listLock_);
        active = active_ != FALSE;
        for (std::deque<Request>* queue : {&reads_, &refreshes_}) {
            for (Request& request : *queue) {
                request.ready = true;
                if (request.source == OPC_DS_DEVICE)
                    requested.insert(request.handles.begin(), request.handles.end());
            }
        }
    }
    std::vector<com::ComPtr<COPCItem>> due;
    for (const com::ComPtr<COPCItem>& item : owner->ItemSnapshot()) {
        if ((active && item->active()) || requested.count(item->serverHandle()))
            due.push_back(item);
    }
    // Nothing is locked while the items are read: the reads go to the bus.
    if (due.empty()) return S_FALSE;
    return ReadFromDevice(due) ? S_OK : S_FALSE;
}

// Reports the active readable items of the group that changed since they were last
// reported, or all of them (activation).
void CAsyncServices2::DataChange(bool all) {
    COPCGroup* owner = group();
    if (!owner || dataCallback_->size() == 0) return;
    Delivery delivery(delivery_.get(), all ? kActivationDeliveryWaitMs : INFINITE);
    if (!delivery.owned()) {
        // A callback of this group is stuck in a client; the thread reports later.
        com::CsLock guard(listLock_);
        activationReportDue_ = true;
        return;
    }
    Report report;
    for (const com::ComPtr<COPCItem>& item : owner->ItemSnapshot()) {
        if (!item->active() || !IsReadable(*item)) continue;
        if (!item->TakeChanged() && !all) continue;
        report.Add(*item, OPC_DS_CACHE);
    }
    if (report.count() == 0) return;
    const OPCHANDLE hGroup = ClientGroupHandle();
    CallSinks([&](IOPCDataCallback* sink) {
        return sink->OnDataChange(0, hGroup, report.masterQuality(), report.masterError(),
                                  report.count(), report.clients(), report.values(),
                                  report.qualities(), report.times(), report.errors());
    });
}

void CAsyncServices2::ReportCancellations() {
    std::vector<Request> cancelled;
    {
        com::CsLock guard(listLock_);
        if (cancelled_.empty() || dataCallback_->size() == 0) return;
        cancelled.swap(cancelled_);
    }
    Delivery delivery(delivery_.get(), INFINITE);
    const OPCHANDLE hGroup = ClientGroupHandle();
    for (const Request& request : cancelled) {
        CallSinks([&](IOPCDataCallback* sink) {
            return sink->OnCancelComplete(request.transactionId, hGroup);
        });
    }
}

void CAsyncServices2::ProcessWrites() {
    COPCGroup* owner = group();
    std::deque<Request> writes;
    {
        com::CsLock guard(listLock_);
        // Without a sink nobody would learn the outcome: the writes wait for one.
        if (!owner || writes_.empty() || dataCallback_->size() == 0) return;
        writes.swap(writes_);
    }
    Delivery delivery(delivery_.get(), INFINITE);
    const OPCHANDLE hGroup = ClientGroupHandle();
    for (const Request& request : writes) {
        const DWORD count = static_cast<DWORD>(request.handles.size());
        std::vector<OPCHANDLE> clients(count);
        std::vector<HRESULT> errors(count);
        HRESULT master = S_OK;
        for (DWORD i = 0; i < count; ++i) {
            const com::ComPtr<COPCItem> item = owner->FindItem(request.handles[i]);
            if (item) {
                clients[i] = item->clientHandle();
                errors[i] = item->Write(*request.values[i].get());
            } else {
                errors[i] = OPC_E_INVALIDHANDLE;
            }
            if (errors[i] != S_OK) master = S_FALSE;
        }
        CallSinks([&](IOPCDataCallback* sink) {
            return sink->OnWriteComplete(request.transactionId, hGroup, master, count,
                                         clients.data(), errors.data());
        });
    }
}

std::vector<CAsyncServices2::Request> CAsyncServices2::TakeReady(Kind kind) {
    std::vector<Request> ready;
    com::CsLock guard(listLock_);
    // Without a sink the requests wait for one.
    if (dataCallback_->size() == 0) return ready;
    std::deque<Request>& queue = QueueOf(kind);
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->ready) {
            ready.push_back(std::move(*it));
            it = queue.erase(it);
        } else {
            ++it;
        }
    }
    return ready;
}

// Completes every ready read (OnReadComplete, the items' values as the device pass
// left them) or refresh (OnDataChange with its transaction ID), each exactly once,
// whatever the sinks answer.
void CAsyncServices2::ProcessReadsOrRefreshes(Kind kind) {
    COPCGroup* owner = group();
    if (!owner) return;
    std::vector<Request> requests = TakeReady(kind);
    if (requests.empty()) return;
    Delivery delivery(delivery_.get(), INFINITE);
    const OPCHANDLE hGroup = ClientGroupHandle();
    const DWORD source = kind == Kind::kRead ? COPCItem::kSourceRawCache : OPC_DS_CACHE;
    for (const Request& request : requests) {
        Report report;
        for (OPCHANDLE handle : request.handles) {
            if (const com::ComPtr<COPCItem> item = owner->FindItem(handle))
                report.Add(*item, source);
        }
        CallSinks([&](IOPCDataCallback* sink) {
            if (kind == Kind::kRead)
                return sink->OnReadComplete(request.transactionId, hGroup, report.masterQuality(),
                                            report.masterError(), report.count(), report.clients(),
                                            report.values(), report.qualities(), report.times(),
                                            report.errors());
            return sink->OnDataChange(request.transactionId, hGroup, report.masterQuality(),
                                      report.masterError(), report.count(), report.clients(),
                                      report.values(), report.qualities(), report.times(),
                                      report.errors());
        });
    }
}

// The sinks with their cookies, in the order they subscribed (cookies grow).
std::vector<std::pair<DWORD, com::ComPtr<IOPCDataCallback>>> CAsyncServices2::Connections() {
    std::vector<std::pair<DWORD, com::ComPtr<IOPCDataCallback>>> sinks;
    com::ComPtr<IEnumConnections> connections;
    if (FAILED(dataCallback_->EnumConnections(connections.put()))) return sinks;
    CONNECTDATA data;
    ULONG fetched = 0;
    while (connections->Next(1, &data, &fetched) == S_OK && fetched == 1) {
        com::ComPtr<IOPCDataCallback> sink;
        if (data.pUnk &&
            SUCCEEDED(data.pUnk->QueryInterface(IID_IOPCDataCallback, sink.put_void())))
            sinks.emplace_back(data.dwCookie, std::move(sink));
        if (data.pUnk) data.pUnk->Release();
    }
    std::sort(sinks.begin(), sinks.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return sinks;
}

// Wine never releases the references of a client that died: a sink that can no longer
// be reached is dropped here, or the group would call it for ever.
void CAsyncServices2::CallSinks(const std::function<HRESULT(IOPCDataCallback*)>& call) {
    for (auto& [cookie, sink] : Connections()) {
        const HRESULT hr = call(sink.get());
        if (!IsDisconnection(hr)) continue;
        dataCallback_->Unadvise(cookie);
        if (dataCallback_->size() == 0) {
            com::CsLock guard(listLock_);
            lostSinks_ = true;
        }
    }
}

STDMETHODIMP COPCAsyncIO2Impl::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                    DWORD* pdwCancelID, HRESULT** ppErrors) {
    return com::ComBoundary(
        [&] { return owner()->Read(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors); });
}

STDMETHODIMP COPCAsyncIO2Impl::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                     DWORD dwTransactionID, DWORD* pdwCancelID,
                                     HRESULT** ppErrors) {
    return com::ComBoundary([&] {
        return owner()->Write(dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID,
                              ppErrors);
    });
}

STDMETHODIMP COPCAsyncIO2Impl::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                        DWORD* pdwCancelID) {
    return com::ComBoundary(
        [&] { return owner()->Refresh2(dwSource, dwTransactionID, pdwCancelID); });
}

STDMETHODIMP COPCAsyncIO2Impl::Cancel2(DWORD dwCancelID) {
    return com::ComBoundary([&] { return owner()->Cancel2(dwCancelID); });
}

STDMETHODIMP COPCAsyncIO2Impl::SetEnable(BOOL bEnable) {
    return com::ComBoundary([&] { return owner()->SetEnable(bEnable); });
}

STDMETHODIMP COPCAsyncIO2Impl::GetEnable(BOOL* pbEnable) {
    return com::ComBoundary([&] { return owner()->GetEnable(pbEnable); });
}
