#include "BusTransfer.h"

#include <algorithm>
#include <optional>

#include "CommLog.h"
#include "MessageWait.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Result.h"
#include "com/Strings.h"

namespace orvane::interaction {
namespace {

void Trace(const std::wstring& text) { CommLog::Write(text); }

// The item text of an address for trace lines.
std::wstring AddressText(const VARIANT& address) {
    return V_VT(&address) == VT_BSTR && V_BSTR(&address) ? std::wstring(V_BSTR(&address))
                                                         : std::wstring();
}

// The current local time in whole seconds as an OLE date: the polling deadline is
// taken and tested at this resolution.
DATE NowWholeSeconds() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    DATE date = 0;
    SystemTimeToVariantTime(&now, &date);
    return date;
}

// Apartment-neutral (free-threaded marshaler): it is made once per process and kept
// by the bus-server connection for good, so it must not die with the apartment
// that first asked for it. It holds no apartment-bound pointers.
class CompletionCallback : public com::Object<com::Dual<IvkAsyncCallback>> {
public:
    HRESULT FinalConstruct() override {
        return CoCreateFreeThreadedMarshaler(GetControllingUnknown(), marshaler_.put());
    }
    STDMETHODIMP AsyncReadComplete(long lTransactionID, long lError, VARIANT vData,
                                   VARIANT vQuality, VARIANT vTimeStamp) override {
        return com::ComBoundary([&] {
            AsyncCompletions::Get().ReadComplete(lTransactionID, lError, vData, vQuality,
                                                 vTimeStamp);
        });
    }
    STDMETHODIMP AsyncWriteComplete(long lTransactionID, long lError) override {
        return com::ComBoundary(
            [&] { AsyncCompletions::Get().WriteComplete(lTransactionID, lError); });
    }

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (riid == IID_IMarshal) return marshaler_->QueryInterface(riid, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

private:
    com::ComPtr<IUnknown> marshaler_;
};

}  // namespace

com::CriticalSection& ModuleLock() {
    static com::CriticalSection lock;
    return lock;
}

ChannelTurns& ChannelTurns::Get() {
    static ChannelTurns* turns = new ChannelTurns;
    return *turns;
}

com::CriticalSection& ChannelTurns::Of(const std::wstring& channel, bool serial) {
    if (serial) return line_;
    com::CsLock guard(lock_);
    auto& turn = channels_[channel];
    if (!turn) turn = std::make_unique<com::CriticalSection>();
    return *turn;
}

AsyncCompletions& AsyncCompletions::Get() {
    // Never destroyed: the bus-server connection object may still hold the callback
    // when the module's statics go at process end.
    static AsyncCompletions* completions = new AsyncCompletions;
    return *completions;
}

DWORD AsyncCompletions::NextTransactionId() {
    com::CsLock guard(lock_);
    const DWORD id = counter_;
    counter_ = counter_ + 1 == 0xFFFFFFFF ? 0 : counter_ + 1;
    return id;
}

void AsyncCompletions::SetTransactionCounter(DWORD next) {
    com::CsLock guard(lock_);
    counter_ = next;
}

void AsyncCompletions::Add(PendingRequest* request) {
    com::CsLock guard(lock_);
    pending_.push_back(request);
}

void AsyncCompletions::Remove(PendingRequest* request) {
    com::CsLock guard(lock_);
    pending_.erase(std::remove(pending_.begin(), pending_.end(), request), pending_.end());
}

size_t AsyncCompletions::PendingCount() const {
    com::CsLock guard(lock_);
    return pending_.size();
}

PendingRequest* AsyncCompletions::FindWaiting(long transactionId, bool isRead) {
    for (PendingRequest* request : pending_) {
        if (request->transactionId == static_cast<DWORD>(transactionId) &&
            request->isRead == isRead && !request->completed)
            return request;
    }
    return nullptr;
}

void AsyncCompletions::ReadComplete(long transactionId, long error, const VARIANT& data,
                                    const VARIANT& quality, const VARIANT& timestamp) {
    if (CommLog::On())
        Trace(com::Format(L"        AsyncReadComplete(%d)", static_cast<int>(transactionId)));
    com::CsLock guard(lock_);
    PendingRequest* request = FindWaiting(transactionId, true);
    if (!request) return;
    request->completed = true;
    request->result = error;
    // A copy that fails leaves the slot empty; the waiter still learns the result.
    request->value.copy_from(data);
    request->quality.copy_from(quality);
    request->timestamp.copy_from(timestamp);
    SetEvent(request->event.get());
}

void AsyncCompletions::WriteComplete(long transactionId, long error) {
    if (CommLog::On())
        Trace(com::Format(L"        AsyncWriteComplete(%d)", static_cast<int>(transactionId)));
    com::CsLock guard(lock_);
    PendingRequest* request = FindWaiting(transactionId, false);
    if (!request) return;
    request->completed = true;
    request->result = error;
    SetEvent(request->event.get());
}

HRESULT AsyncCompletions::Callback(com::ComPtr<IUnknown>* callback) {
    com::CsLock guard(lock_);
    if (!callback_) {
        com::ComPtr<CompletionCallback> made;
        RETURN_IF_FAILED(com::MakeObject(&made));
        RETURN_IF_FAILED(made.query(&callback_));
    }
    *callback = callback_;
    return S_OK;
}

void BusTransfer::SetConnection(com::ComPtr<IvkInteraction2> interaction,
                                com::ComPtr<IvkAsyncInteraction> async) {
    // The old references end up in the parameters and go after the lock.
    com::CsLock guard(pointerLock_);
    interaction_.swap(interaction);
    async_.swap(async);
}

com::ComPtr<IvkInteraction2> BusTransfer::Interaction() const {
    com::CsLock guard(pointerLock_);
    return interaction_;
}

com::ComPtr<IvkAsyncInteraction> BusTransfer::Async() const {
    com::CsLock guard(pointerLock_);
    return async_;
}

ChannelBackoff& ChannelBackoff::Get() {
    static ChannelBackoff* backoff = new ChannelBackoff;
    return *backoff;
}

HRESULT ChannelBackoff::Admit(const std::wstring& channel) {
    com::CsLock guard(lock_);
    const auto it = channels_.find(channel);
    if (it == channels_.end()) return S_OK;
    State& state = it->second;
    if (state.probing || clock_() - state.since < kBackoffMs) return state.result;
    state.probing = true;
    return S_OK;
}

void ChannelBackoff::Finished(const std::wstring& channel, HRESULT result) {
    com::CsLock guard(lock_);
    if (result == RPC_E_TIMEOUT)
        channels_[channel] = State{clock_(), result, false};
    else
        channels_.erase(channel);
}

void ChannelBackoff::Clear() {
    com::CsLock guard(lock_);
    channels_.clear();
}

void BusTransfer::SetProfileItem(const std::wstring& channel, const std::wstring& profileItem) {
    com::CsLock guard(pointerLock_);
    profileItems_[channel] = profileItem;
}

bool BusTransfer::SelectDriveProfile(const std::wstring& channel) {
    std::wstring profileItem;
    {
        com::CsLock guard(pointerLock_);
        const auto it = profileItems_.find(channel);
        if (it == profileItems_.end()) return false;
        profileItem = it->second;
    }
    const com::ComPtr<IvkInteraction2> interaction = Interaction();
    if (!interaction) return false;
    if (CommLog::On())
        Trace(com::Format(L"    select the drive profile (%ls)", profileItem.c_str()));
    return SUCCEEDED(interaction->Write(*com::UniqueVariant(std::wstring_view(profileItem)),
                                        *com::UniqueVariant(kAxolentProfileIdent)));
}

HRESULT BusTransfer::Exchange(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                              VARIANT* timestamp, ULONG maxPolls, ULONG timeoutSeconds,
                              bool asynchronous) {
    // Synchronous requests queue for their channel's turn: each is admitted only when
    // its turn has come, so that none that waited behind a time-out tries the channel again.
    const std::wstring channel = AddressText(address);
    std::optional<com::CsLock> turn;
    if (!asynchronous) turn.emplace(ChannelTurns::Get().Of(channel, serial_));
    ChannelBackoff& backoff = ChannelBackoff::Get();
    const HRESULT waiting = backoff.Admit(channel);
    if (FAILED(waiting)) {
        if (CommLog::On()) Trace(com::Format(L"    no answer lately (%ls)", channel.c_str()));
        return waiting;
    }
    bool writeFailed = false;
    HRESULT hr = ExchangeOnce(address, telegram, quality, timestamp, maxPolls, timeoutSeconds,
                              asynchronous, &writeFailed);
    // A failed write leaves the request in `telegram`. Asynchronous exchanges serve the
    // identification, which selects the profile before its first request; their failed
    // writes include completions that never came, which a second try would wait out again.
    if (writeFailed && !asynchronous && SelectDriveProfile(channel))
        hr = ExchangeOnce(address, telegram, quality, timestamp, maxPolls, timeoutSeconds,
                          asynchronous, &writeFailed);
    backoff.Finished(channel, hr);
    return hr;
}

HRESULT BusTransfer::ExchangeOnce(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                                  VARIANT* timestamp, ULONG maxPolls, ULONG timeoutSeconds,
                                  bool asynchronous, bool* writeFailed) {
    *writeFailed = false;
    return asynchronous ? AsyncCommunicateWithAxolentServer(address, telegram, quality, timestamp,
                                                            maxPolls, timeoutSeconds)
                        : Communicate(address, telegram, quality, timestamp, maxPolls,
                                      timeoutSeconds, writeFailed);
}

HRESULT BusTransfer::CommunicateWithAxolentServer(const VARIANT& address, VARIANT* telegram,
                                                  VARIANT* quality, VARIANT* timestamp,
                                                  ULONG maxPolls, ULONG timeoutSeconds) {
    com::CsLock turn(ChannelTurns::Get().Of(AddressText(address), serial_));
    bool writeFailed = false;
    return Communicate(address, telegram, quality, timestamp, maxPolls, timeoutSeconds,
                       &writeFailed);
}

HRESULT BusTransfer::Communicate(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                                 VARIANT* timestamp, ULONG maxPolls, ULONG timeoutSeconds,
                                 bool* writeFailed) {
    *writeFailed = false;
    CommunicationScope bracket;
    const com::ComPtr<IvkInteraction2> interaction = Interaction();
    RETURN_HR_IF(E_POINTER, !telegram || !quality || !timestamp || !interaction);
    VariantInit(quality);
    VariantInit(timestamp);

    if (CommLog::On()) Trace(L"    InteractionObj->Write");
    const HRESULT written = interaction->Write(address, *telegram);
    *writeFailed = FAILED(written);
    RETURN_IF_FAILED(written);

    const DATE deadline = NowWholeSeconds() + timeoutSeconds / 86400.0;
    VariantClear(telegram);
    com::UniqueVariant value;
    ULONG polls = 0;
    if (CommLog::On()) Trace(L"    InteractionObj->Read");
    HRESULT hr = interaction->Read(address, value.put(), quality, timestamp);
    while (FAILED(hr)) {
        if (polls >= maxPolls || NowWholeSeconds() >= deadline) return RPC_E_TIMEOUT;
        ++polls;
        value.reset();
        VariantClear(quality);
        VariantClear(timestamp);
        if (CommLog::On()) Trace(L"    InteractionObj->Read");
        hr = interaction->Read(address, value.put(), quality, timestamp);
        Sleep(1);
    }
    return VariantChangeType(telegram, value.get(), 0, VT_ARRAY | VT_UI1);
}

HRESULT BusTransfer::AsyncCommunicateWithAxolentServer(const VARIANT& address, VARIANT* telegram,
                                                       VARIANT* quality, VARIANT* timestamp,
                                                       ULONG maxPolls, ULONG timeoutSeconds) {
    CommunicationScope bracket;
    RETURN_HR_IF(E_POINTER, !telegram || !quality || !timestamp || !Async());
    VariantInit(quality);
    VariantInit(timestamp);
    const std::wstring item = AddressText(address);

    if (CommLog::On()) Trace(com::Format(L"      call BlockingAsyncWrite (%ls)", item.c_str()));
    const HRESULT written = BlockingAsyncWrite(address, *telegram);
    if (CommLog::On())
        Trace(com::Format(SUCCEEDED(written) ? L"      BlockingAsyncWrite returns (%ls)"
                                             : L"      BlockingAsyncWrite fails (%ls)",
                          item.c_str()));
    RETURN_IF_FAILED(written);

    const DATE deadline = NowWholeSeconds() + timeoutSeconds / 86400.0;
    VariantClear(telegram);
    com::UniqueVariant value;
    ULONG polls = 0;
    auto read = [&] {
        if (CommLog::On()) Trace(com::Format(L"      call BlockingAsyncRead (%ls)", item.c_str()));
        const HRESULT hr = BlockingAsyncRead(address, value.put(), quality, timestamp);
        if (CommLog::On()) {
            Trace(com::Format(L"      BlockingAsyncRead returns (%ls)", item.c_str()));
            if (SUCCEEDED(hr) && value.vt() != (VT_ARRAY | VT_UI1))
                Trace(com::Format(L"        no byte array (%ls)", item.c_str()));
        }
        return hr;
    };
    HRESULT hr = read();
    while (FAILED(hr)) {
        if (polls >= maxPolls || NowWholeSeconds() >= deadline) return RPC_E_TIMEOUT;
        ++polls;
        value.reset();
        VariantClear(quality);
        VariantClear(timestamp);
        hr = read();
        Sleep(1);
    }
    return VariantChangeType(telegram, value.get(), 0, VT_ARRAY | VT_UI1);
}

HRESULT BusTransfer::StartAndWait(IvkAsyncInteraction* async, PendingRequest& request,
                                  const VARIANT& address, const VARIANT* value) {
    AsyncCompletions& completions = AsyncCompletions::Get();
    request.transactionId = completions.NextTransactionId();
    const int id = static_cast<int>(request.transactionId);
    if (CommLog::On())
        Trace(com::Format(
            request.isRead ? L"        send AsyncRead(%d)" : L"        send AsyncWrite(%d)", id));

    com::ComPtr<IUnknown> callback;
    RETURN_IF_FAILED(completions.Callback(&callback));
    completions.Add(&request);
    // Removed on every way out: a completion that comes later finds nothing.
    struct Unlist {
        PendingRequest& request;
        ~Unlist() { AsyncCompletions::Get().Remove(&request); }
    } unlist{request};

    const long transactionId = static_cast<long>(request.transactionId);
    long cancelId = 0;
    const HRESULT started =
        value ? async->AsyncWrite(callback.get(), address, *value, transactionId, &cancelId)
              : async->AsyncRead(callback.get(), address, transactionId, &cancelId);
    RETURN_IF_FAILED(started);
    request.cancelId = cancelId;

    if (!WaitWithMessages(request.event.get(), completionTimeout_)) {
        if (CommLog::On()) Trace(com::Format(L"        timeout (%d)", id));
        return E_FAIL;
    }
    if (CommLog::On()) Trace(com::Format(L"        event was signaled (%d)", id));
    return S_OK;
}

HRESULT BusTransfer::BlockingAsyncWrite(const VARIANT& address, const VARIANT& value) {
    const com::ComPtr<IvkAsyncInteraction> async = Async();
    RETURN_HR_IF(E_POINTER, !async);
    PendingRequest request;
    request.isRead = false;
    request.itemName = AddressText(address);
    request.event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RETURN_HR_IF(E_OUTOFMEMORY, !request.event);
    RETURN_IF_FAILED(StartAndWait(async.get(), request, address, &value));
    return request.result;
}

HRESULT BusTransfer::BlockingAsyncRead(const VARIANT& address, VARIANT* value, VARIANT* quality,
                                       VARIANT* timestamp) {
    const com::ComPtr<IvkAsyncInteraction> async = Async();
    RETURN_HR_IF(E_POINTER, !async || !value || !quality || !timestamp);
    PendingRequest request;
    request.isRead = true;
    request.itemName = AddressText(address);
    request.event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RETURN_HR_IF(E_OUTOFMEMORY, !request.event);
    const HRESULT hr = StartAndWait(async.get(), request, address, nullptr);
    if (FAILED(hr)) {
        // No completion: the quality says bad.
        VariantClear(quality);
        V_VT(quality) = VT_I2;
        V_I2(quality) = 0;
        return hr;
    }
    // The waiter owns the record again (it is off the list): its values move out.
    VariantClear(value);
    VariantClear(quality);
    VariantClear(timestamp);
    request.value.move_to(value);
    request.quality.move_to(quality);
    request.timestamp.move_to(timestamp);
    return request.result;
}

HRESULT TelegramTransfer::Communicate(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                                      VARIANT* timestamp, PollLimit limit) {
    const ULONG maxPolls =
        limit == PollLimit::Read ? settings_.maxPollCountRead : settings_.maxPollCountWrite;
    return transfer_.Exchange(address, telegram, quality, timestamp, maxPolls,
                              settings_.timeoutSeconds, asynchronous_);
}

}  // namespace orvane::interaction
