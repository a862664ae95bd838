#pragma once
// The IOPCDataCallback that the bus servers' groups are advised with. It
// forwards to the connection object without holding it: were the object
// itself advised, the servers' references would keep it alive for ever.

#include <windows.h>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "opc.h"

namespace vkopc {

class CDataCallbackSink : public com::Object<IOPCDataCallback> {
public:
    static constexpr bool kAggregatable = false;

    // owner is not counted; it calls Detach() before it goes.
    explicit CDataCallbackSink(IOPCDataCallback* owner) : owner_(owner) {}
    void Detach() { owner_ = nullptr; }

    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                              HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                              VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                              HRESULT* pErrors) override {
        com::ComPtr<IOPCDataCallback> owner(owner_);
        if (!owner) return S_OK;
        return owner->OnDataChange(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                                   phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                HRESULT* pErrors) override {
        com::ComPtr<IOPCDataCallback> owner(owner_);
        if (!owner) return S_OK;
        return owner->OnReadComplete(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                                     phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                 DWORD dwCount, OPCHANDLE* pClienthandles,
                                 HRESULT* pErrors) override {
        com::ComPtr<IOPCDataCallback> owner(owner_);
        if (!owner) return S_OK;
        return owner->OnWriteComplete(dwTransid, hGroup, hrMastererr, dwCount, pClienthandles,
                                      pErrors);
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        com::ComPtr<IOPCDataCallback> owner(owner_);
        if (!owner) return S_OK;
        return owner->OnCancelComplete(dwTransid, hGroup);
    }

private:
    IOPCDataCallback* owner_;  // not counted, same apartment
};

}  // namespace vkopc
