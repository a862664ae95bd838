// Telegram exchanges with a drive through the bus-server connection object: the
// synchronous transfer that polls the channel item in its channel's turn, and the
// asynchronous one built on blocking single reads and writes whose completions
// arrive through IvkAsyncCallback.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "ParameterChannel.h"
#include "Settings.h"
#include "com/ComPtr.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "vkopcinteraction.h"

namespace orvane::interaction {

// The lock of the item lists and drive parameter records of every interaction object
// in the process. Held only while they are looked at or changed, never across a
// transfer or another call to the bus server: a slow drive holds nobody else up.
com::CriticalSection& ModuleLock();

// Whose turn it is on the bus. A drive's parameter channel has one request in process,
// so synchronous exchanges with one channel take turns; exchanges with different channels
// run side by side. The serial road (for a bus server that cannot take parallel calls)
// gives the whole line one turn. Process-wide: every interaction object reaches the same
// drives. The turn is held for a whole exchange, bus-server calls included.
class ChannelTurns {
public:
    static ChannelTurns& Get();
    com::CriticalSection& Of(const std::wstring& channel, bool serial);

private:
    com::CriticalSection lock_;  // guards channels_
    com::CriticalSection line_;
    // Never shrinks: a turn in use must stay; a line has a few dozen slaves.
    std::map<std::wstring, std::unique_ptr<com::CriticalSection>> channels_;
};

// The profile ident number that selects the Axolent drive profile on a slave's channel.
constexpr LONG kAxolentProfileIdent = 0x3A00;

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

// Channels whose drive did not answer. An unanswered request costs the full poll
// limit, holding its channel's turn (the whole line's on the serial road); a pass over
// the items of an offline drive would block that channel for that long per item. For a second
// after a request to a channel timed out, every request to it fails at once with the
// same result; then one request probes the channel again. Process-wide: every
// interaction object of the process reaches the same drives.
class ChannelBackoff {
public:
    static constexpr ULONGLONG kBackoffMs = 1000;
    using Clock = ULONGLONG (*)();

    static ChannelBackoff& Get();
    explicit ChannelBackoff(Clock clock = &::GetTickCount64) : clock_(clock) {}

    // S_OK: the request may go (after a back-off, as the one probe); otherwise the
    // result to fail with at once. Every admitted request reports to Finished().
    HRESULT Admit(const std::wstring& channel);
    void Finished(const std::wstring& channel, HRESULT result);
    void Clear();  // tests

private:
    struct State {
        ULONGLONG since = 0;  // tick count of the time-out
        HRESULT result = S_OK;
        bool probing = false;
    };

    Clock clock_;
    com::CriticalSection lock_;  // guards channels_
    std::map<std::wstring, State> channels_;
};

class BusTransfer {
public:
    void SetConnection(com::ComPtr<IvkInteraction2> interaction,
                       com::ComPtr<IvkAsyncInteraction> async);
    void SetCompletionTimeout(DWORD milliseconds) { completionTimeout_ = milliseconds; }
    // True: the serial road, one synchronous exchange at a time on the whole line.
    void SetSerialAccess(bool serial) { serial_ = serial; }

    // `telegram` holds the request on entry and the response on return; `quality` and
    // `timestamp` receive what the last bus-server read returned.
    HRESULT CommunicateWithAxolentServer(const VARIANT& address, VARIANT* telegram,
                                         VARIANT* quality, VARIANT* timestamp, ULONG maxPolls,
                                         ULONG timeoutSeconds);
    HRESULT AsyncCommunicateWithAxolentServer(const VARIANT& address, VARIANT* telegram,
                                              VARIANT* quality, VARIANT* timestamp, ULONG maxPolls,
                                              ULONG timeoutSeconds);

    // A transfer as parameter requests make it: a channel in back-off fails at once
    // (ChannelBackoff), and when the bus server refuses the channel write of a synchronous
    // exchange, the slave's profile ident item is written with the drive profile and the
    // request is tried once more (a restarted bus server has every slave's profile unselected).
    HRESULT Exchange(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                     VARIANT* timestamp, ULONG maxPolls, ULONG timeoutSeconds, bool asynchronous);
    // The profile ident item of the slave behind `channel` (bus-server addresses).
    void SetProfileItem(const std::wstring& channel, const std::wstring& profileItem);

    HRESULT BlockingAsyncWrite(const VARIANT& address, const VARIANT& value);
    HRESULT BlockingAsyncRead(const VARIANT& address, VARIANT* value, VARIANT* quality,
                              VARIANT* timestamp);

private:
    // `writeFailed` tells a failure of the channel write from one of the polls.
    HRESULT Communicate(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                        VARIANT* timestamp, ULONG maxPolls, ULONG timeoutSeconds,
                        bool* writeFailed);
    HRESULT ExchangeOnce(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                         VARIANT* timestamp, ULONG maxPolls, ULONG timeoutSeconds,
                         bool asynchronous, bool* writeFailed);
    // Writes the drive profile to the channel's profile ident item; false when the
    // channel has none or the write fails.
    bool SelectDriveProfile(const std::wstring& channel);
    HRESULT StartAndWait(IvkAsyncInteraction* async, PendingRequest& request,
                         const VARIANT& address, const VARIANT* value);
    com::ComPtr<IvkInteraction2> Interaction() const;
    com::ComPtr<IvkAsyncInteraction> Async() const;

    // Set while transfers of other threads may run: each transfer works on its own
    // reference, taken under this lock (never held during a call).
    mutable com::CriticalSection pointerLock_;  // guards the two pointers and profileItems_
    com::ComPtr<IvkInteraction2> interaction_;  // the "InteractionObj"
    com::ComPtr<IvkAsyncInteraction> async_;
    std::map<std::wstring, std::wstring> profileItems_;  // channel -> profile ident item
    DWORD completionTimeout_ = 30000;
    bool serial_ = false;  // set before the first transfer
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
