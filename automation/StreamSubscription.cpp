#include "StreamSubscription.h"

#include "OPCGroup.h"
#include "com/Object.h"
#include "com/Result.h"

namespace vkauto {
namespace {

CLIPFORMAT Registered(const wchar_t* name) {
    return static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(name));
}
CLIPFORMAT DataTimeFormat() {
    static const CLIPFORMAT format = Registered(opc::kDataTimeFormat);
    return format;
}
CLIPFORMAT WriteCompleteFormat() {
    static const CLIPFORMAT format = Registered(opc::kWriteCompleteFormat);
    return format;
}

// Completions kept for calls that have not returned yet; more means they belong to no call.
constexpr size_t kMaxEarly = 64;

}  // namespace

// The IAdviseSink given to the server. The server holds it, so it points back at the group
// weakly; the subscription clears that pointer when it unadvises.
class CStreamSink : public com::Object<IAdviseSink> {
public:
    explicit CStreamSink(COPCGroupImpl* owner) : owner_(owner) {}
    void Detach() noexcept { owner_ = nullptr; }

    STDMETHODIMP_(void) OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
        com::ComBoundary([&] {
            if (!owner_ || !format || !medium || medium->tymed != TYMED_HGLOBAL) return S_OK;
            const SIZE_T size = ::GlobalSize(medium->hGlobal);
            const BYTE* data = static_cast<const BYTE*>(::GlobalLock(medium->hGlobal));
            if (!data) return S_OK;
            // The medium is the caller's: the block is copied before any handler runs.
            std::vector<BYTE> block(data, data + size);
            ::GlobalUnlock(medium->hGlobal);
            // A handler may release the group's last reference or remove it while it runs.
            com::ComPtr<COPCGroupImpl> keep(owner_);
            keep->OnStream(format->cfFormat, block.data(), block.size());
            return S_OK;
        });
    }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override {}
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}

private:
    COPCGroupImpl* owner_;  // not counted; cleared by Unadvise
};

StreamSubscription::StreamSubscription() = default;

StreamSubscription::~StreamSubscription() { Unadvise(); }

HRESULT StreamSubscription::Advise(IDataObject* data, COPCGroupImpl* group) {
    RETURN_HR_IF(E_FAIL, !data);
    Unadvise();
    com::ComPtr<CStreamSink> sink;
    RETURN_IF_FAILED(com::MakeObject(&sink, group));
    FORMATETC dataTime = {DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FORMATETC writeComplete = {WriteCompleteFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD dataConnection = 0, writeConnection = 0;
    HRESULT hr = data->DAdvise(&dataTime, 0, sink.get(), &dataConnection);
    if (SUCCEEDED(hr)) hr = data->DAdvise(&writeComplete, 0, sink.get(), &writeConnection);
    if (FAILED(hr)) {
        if (dataConnection) data->DUnadvise(dataConnection);
        sink->Detach();
        return hr;
    }
    data_ = com::ComPtr<IDataObject>(data);
    sink_ = std::move(sink);
    dataConnection_ = dataConnection;
    writeConnection_ = writeConnection;
    return S_OK;
}

void StreamSubscription::Unadvise() {
    if (!sink_) return;
    data_->DUnadvise(dataConnection_);
    data_->DUnadvise(writeConnection_);
    // A block already on its way finds the sink detached.
    sink_->Detach();
    sink_.reset();
    data_.reset();
    dataConnection_ = writeConnection_ = 0;
    pending_.clear();
    early_.clear();
}

void StreamSubscription::Started(COPCGroupImpl* group, DWORD serverId, Kind kind, LONG clientId) {
    for (auto it = early_.begin(); it != early_.end(); ++it) {
        if (it->id() == serverId && it->write == (kind == Kind::kWrite)) {
            Completion completion = std::move(*it);
            early_.erase(it);
            Deliver(group, completion, kind, clientId);
            return;
        }
    }
    pending_[serverId] = Pending{kind, clientId};
}

bool StreamSubscription::Cancelled(DWORD serverId, LONG* clientId) {
    auto it = pending_.find(serverId);
    if (it == pending_.end()) return false;
    *clientId = it->second.clientId;
    pending_.erase(it);
    return true;
}

void StreamSubscription::Receive(COPCGroupImpl* group, CLIPFORMAT format, const BYTE* block,
                                 size_t size) {
    Completion completion;
    if (format == DataTimeFormat()) {
        if (FAILED(opc::ReadDataStream(block, size, &completion.data))) return;
        // A data change of the subscription.
        if (completion.data.transactionId == 0)
            return Deliver(group, completion, Kind::kRefresh, 0);
    } else if (format == WriteCompleteFormat()) {
        completion.write = true;
        if (FAILED(opc::ReadWriteCompleteStream(block, size, &completion.written))) return;
    } else {
        return;
    }
    auto it = pending_.find(completion.id());
    if (it == pending_.end() || completion.write != (it->second.kind == Kind::kWrite)) {
        if (early_.size() == kMaxEarly) early_.erase(early_.begin());
        early_.push_back(std::move(completion));
        return;
    }
    const Pending pending = it->second;
    pending_.erase(it);
    Deliver(group, completion, pending.kind, pending.clientId);
}

void StreamSubscription::Deliver(COPCGroupImpl* group, const Completion& completion, Kind kind,
                                 LONG clientId) {
    const DWORD transactionId = static_cast<DWORD>(clientId);
    if (completion.write) {
        std::vector<OPCHANDLE> items;
        std::vector<HRESULT> errors;
        for (const opc::WriteResult& r : completion.written.items) {
            items.push_back(r.client);
            errors.push_back(r.error);
        }
        group->OnWriteComplete(transactionId, static_cast<DWORD>(items.size()), items.data(),
                               errors.data());
        return;
    }
    const auto& entries = completion.data.items;
    std::vector<OPCHANDLE> items;
    std::vector<VARIANT> values;  // not owned: the completion's values
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    for (const opc::StreamItem& entry : entries) {
        items.push_back(entry.client);
        values.push_back(*entry.value);
        qualities.push_back(entry.quality);
        times.push_back(entry.time);
    }
    // The streams carry no per-item errors: the quality tells.
    const COPCGroupImpl::ItemData data = {static_cast<DWORD>(items.size()),
                                          items.data(),
                                          values.data(),
                                          qualities.data(),
                                          times.data(),
                                          nullptr};
    if (kind == Kind::kRead)
        group->OnReadComplete(transactionId, data);
    else
        group->OnDataChange(transactionId, data);
}

}  // namespace vkauto
