#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "OPCItem.h"
#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "opc.h"
#include "vkopc.h"

class COPCGroup;

// The asynchronous services of a group (OPC DA 2.0): IOPCAsyncIO2 (tear-offs), the
// IOPCDataCallback connection point, and what the group's thread and its activation
// drive through IAsyncServices: device passes, data changes and the request queues.
//
// Callbacks of the group go out one batch at a time (delivery lock), so that a client
// never gets an older value after a newer one. The list lock guards the queues and is
// never held during a call out of the server.
class CAsyncServices2 : public com::Object<IAsyncServices, com::ConnectionPointContainer> {
public:
    static constexpr IID kImplementationIid = {
        0x7D4E2B61, 0x95C3, 0x4F0A, {0x8B, 0x17, 0x3C, 0x60, 0xE2, 0x9A, 0x51, 0xD4}};
    // Pending refreshes beyond which requests are refused (CONNECT_E_ADVISELIMIT).
    static constexpr size_t kMaxRefreshes = 10;
    // Pending requests of all kinds beyond which requests are refused, so that a
    // flood of requests cannot grow the queues without bound.
    static constexpr size_t kMaxPending = 1000;
    // How long an activation waits for a callback of the group in progress before
    // it leaves its report to the group's thread.
    static constexpr DWORD kActivationDeliveryWaitMs = 1000;

    explicit CAsyncServices2(IUnknown* group);

    // Ends the services: no further callbacks or requests, the sinks are released.
    void Shutdown();

    // IAsyncServices
    STDMETHODIMP SetActive(BOOL bActive) override;
    STDMETHODIMP OnTimer(BOOL bUpdate) override;

    // IOPCAsyncIO2, through COPCAsyncIO2Impl.
    HRESULT Read(DWORD dwCount, const OPCHANDLE* phServer, DWORD dwTransactionID,
                 DWORD* pdwCancelID, HRESULT** ppErrors);
    HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* pItemValues,
                  DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors);
    HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID);
    HRESULT Cancel2(DWORD dwCancelID);
    HRESULT SetEnable(BOOL bEnable);
    HRESULT GetEnable(BOOL* pbEnable);

    size_t SinkCount() const { return dataCallback_->size(); }
    size_t PendingCount() const;

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override;

private:
    enum class Kind { kRead, kRefresh, kWrite };
    struct Request {
        Kind kind = Kind::kRead;
        DWORD transactionId = 0;
        DWORD cancelId = 0;
        DWORD source = OPC_DS_DEVICE;
        bool ready = false;  // its items were read by a device pass since it came
        std::vector<OPCHANDLE> handles;
        std::vector<com::UniqueVariant> values;  // writes
    };
    class Delivery;

    HRESULT Queue(Request request, DWORD* pdwCancelID);
    DWORD NextCancelIdLocked();
    std::deque<Request>& QueueOf(Kind kind);
    // The requests of one queue that are ready, taken out of it.
    std::vector<Request> TakeReady(Kind kind);

    HRESULT DevicePass();
    void DataChange(bool all);
    void ProcessWrites();
    void ProcessReadsOrRefreshes(Kind kind);
    void ReportCancellations();

    std::vector<std::pair<DWORD, com::ComPtr<IOPCDataCallback>>> Connections();
    // Calls every connected sink; a sink that turns out disconnected is unadvised.
    void CallSinks(const std::function<HRESULT(IOPCDataCallback*)>& call);
    OPCHANDLE ClientGroupHandle() const;
    COPCGroup* group() const;

    com::ComPtr<IUnknown> groupUnknown_;  // the group's identity; held until the end
    com::ComPtr<IOPCGroup> group_;
    com::ConnectionPoint* dataCallback_ = nullptr;  // part of this object
    com::UniqueHandle delivery_;                    // mutex: one batch of callbacks at a time

    mutable com::CriticalSection listLock_;  // guards the fields below
    bool closed_ = false;
    BOOL active_ = FALSE;
    BOOL enable_ = TRUE;
    bool activationReportDue_ = false;  // an activation left its report to the thread
    bool lostSinks_ = false;            // the last sink went because it was disconnected
    DWORD transactionCounter_ = 0;
    std::deque<Request> reads_, refreshes_, writes_;
    std::vector<Request> cancelled_;  // cancelled, OnCancelComplete not yet sent
};

// IOPCAsyncIO2 of a group's services: a tear-off per query.
class COPCAsyncIO2Impl : public com::TearOff<CAsyncServices2, IOPCAsyncIO2> {
public:
    using TearOff::TearOff;

    STDMETHODIMP Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                      HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) override;
    STDMETHODIMP Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                          DWORD* pdwCancelID) override;
    STDMETHODIMP Cancel2(DWORD dwCancelID) override;
    STDMETHODIMP SetEnable(BOOL bEnable) override;
    STDMETHODIMP GetEnable(BOOL* pbEnable) override;
};

// Whether a failed callback means that the sink's process or apartment is gone.
bool IsDisconnection(HRESULT hr);
