#pragma once
// The IOPCDataCallback of opcda's watch and asynchronous read and write: a line per
// item in read's format, counted, and events for the end of a watch or a transaction.

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "opc.h"

class CDataCallbackSink : public com::Object<IOPCDataCallback> {
public:
    // ids[i] is the item of client handle i + 1 (as ItemGroup adds them); lineLimit 0:
    // no limit.
    CDataCallbackSink(IOPCServer* server, std::vector<std::wstring> ids, size_t lineLimit);

    // Signalled when the line limit is reached or the transaction has completed.
    HANDLE done() const { return done_.get(); }
    // The transaction whose completion signals done().
    void ExpectTransaction(DWORD transactionId) { expected_ = transactionId; }
    // The master error of the expected transaction's completion.
    HRESULT completionResult() const { return completion_; }

    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                              HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                              VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                              HRESULT* pErrors) override;
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                HRESULT* pErrors) override;
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                 DWORD dwCount, OPCHANDLE* pClienthandles,
                                 HRESULT* pErrors) override;
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

private:
    std::wstring IdOf(OPCHANDLE client) const;
    void PrintStates(DWORD count, const OPCHANDLE* clients, const VARIANT* values,
                     const WORD* qualities, const FILETIME* times, const HRESULT* errors);
    void Complete(DWORD transactionId, HRESULT result);

    IOPCServer* const server_;  // outlives the sink's advice
    const std::vector<std::wstring> ids_;
    const size_t lineLimit_;
    com::UniqueHandle done_;
    volatile DWORD expected_ = 0;
    HRESULT completion_ = S_OK;
    com::CriticalSection lock_;  // one callback's lines together; guards lines_
    size_t lines_ = 0;
};

// Advises a sink on a group's IOPCDataCallback connection point for its own lifetime.
class Subscription {
public:
    Subscription() = default;
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    HRESULT Advise(IUnknown* group, IOPCDataCallback* sink);

private:
    com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};
