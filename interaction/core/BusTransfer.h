// Telegram exchanges with a drive through the bus-server connection object: the
// synchronous transfer that polls the channel item under the module's lock, and the
// asynchronous one built on blocking single reads and writes whose completions
// arrive through IvkAsyncCallback.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <deque>
#include <string>

#include "ParameterChannel.h"
#include "Settings.h"
#include "com/ComPtr.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "vkopcinteraction.h"

namespace orvane::interaction {

// The one lock of the module, shared by every interaction object in the process:
// synchronous transfers, item and bulk operations exclude each other under it. It
// is re-entrant, as item operations call the transfer while holding it.
com::CriticalSection& ModuleLock();

// One asynchronous bus-server call that waits for its completion.
struct PendingRequest {
    std::wstring itemName;
    bool isRead = false;
    bool completed = false;  // set by the completion
    DWORD transactionId = 0;
    long cancelId = 0;
    com::UniqueHandle event;  // manual reset, set by the completion
    HRESULT result = E_FAIL;  // the completion's error
    com::UniqueVariant value, quality, timestamp;
};

// The requests of every interaction object in the process that wait for their
// completions, with the transaction counter they draw from. The bus-server
// connection object is one per process and keeps the first callback it is given for
// good, so completions are matched here, by transaction ID, whoever receives them.
class AsyncCompletions {
public:
    static AsyncCompletions& Get();

    // 0, 1, ... 0xFFFFFFFE, then 0 again: 0xFFFFFFFF is never issued.
    DWORD NextTransactionId();
    void SetTransactionCounter(DWORD next);  // tests

    void Add(PendingRequest* request);
    void Remove(PendingRequest* request);
    size_t PendingCount() const;  // tests

    // The first waiting, not yet completed request of the kind with this ID takes
    // the completion; anything else (unknown, completed, timed out) is ignored.
    void ReadComplete(long transactionId, long error, const VARIANT& data, const VARIANT& quality,
                      const VARIANT& timestamp);
    void WriteComplete(long transactionId, long error);

    // The IvkAsyncCallback handed to the bus-server connection; it forwards here and
    // holds nothing, so it keeps no interaction object alive.
    HRESULT Callback(com::ComPtr<IUnknown>* callback);

private:
    PendingRequest* FindWaiting(long transactionId, bool isRead);  // under lock_

    mutable com::CriticalSection lock_;  // guards pending_, counter_, callback_
    std::deque<PendingRequest*> pending_;
    DWORD counter_ = 0;
    com::ComPtr<IUnknown> callback_;
};

class BusTransfer {
public:
    void SetConnection(com::ComPtr<IvkInteraction2> interaction,
                       com::ComPtr<IvkAsyncInteraction> async);
    void SetCompletionTimeout(DWORD milliseconds) { completionTimeout_ = milliseconds; }

    // `telegram` holds the request on entry and the response on return; `quality` and
    // `timestamp` receive what the last bus-server read returned.
    HRESULT CommunicateWithAxolentServer(const VARIANT& address, VARIANT* telegram,
                                         VARIANT* quality, VARIANT* timestamp, ULONG maxPolls,
                                         ULONG timeoutSeconds);
    HRESULT AsyncCommunicateWithAxolentServer(const VARIANT& address, VARIANT* telegram,
                                              VARIANT* quality, VARIANT* timestamp, ULONG maxPolls,
                                              ULONG timeoutSeconds);

    HRESULT BlockingAsyncWrite(const VARIANT& address, const VARIANT& value);
    HRESULT BlockingAsyncRead(const VARIANT& address, VARIANT* value, VARIANT* quality,
                              VARIANT* timestamp);

private:
    HRESULT StartAndWait(IvkAsyncInteraction* async, PendingRequest& request,
                         const VARIANT& address, const VARIANT* value);
    com::ComPtr<IvkInteraction2> Interaction() const;
    com::ComPtr<IvkAsyncInteraction> Async() const;

    // Set while transfers of other threads may run: each transfer works on its own
    // reference, taken under this lock (never held during a call).
    mutable com::CriticalSection pointerLock_;  // guards the two pointers
    com::ComPtr<IvkInteraction2> interaction_;  // the "InteractionObj"
    com::ComPtr<IvkAsyncInteraction> async_;
    DWORD completionTimeout_ = 30000;
};

// A transfer as the parameter requests use it, with the poll limits and answer
// timeout of the settings (read when each exchange starts).
class TelegramTransfer : public ITelegramTransfer {
public:
    TelegramTransfer(BusTransfer& transfer, const Settings& settings, bool asynchronous)
        : transfer_(transfer), settings_(settings), asynchronous_(asynchronous) {}

    HRESULT Communicate(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                        VARIANT* timestamp, PollLimit limit) override;
    bool IsAsynchronous() const override { return asynchronous_; }

private:
    BusTransfer& transfer_;
    const Settings& settings_;
    bool asynchronous_;
};

}  // namespace orvane::interaction
