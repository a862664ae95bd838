// Asynchronous one-item reads and writes, and their completions.
#include "com/Disconnection.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/Variant.h"
#include "DataCallbackSink.h"
#include "OPCInteraction.h"
#include "com/Time.h"

namespace vkopc {

HRESULT COPCInteraction::StoreCallback(IUnknown* pCallback) {
    // The callback given first serves every request until teardown.
    if (callback_) return S_OK;
    if (!pCallback ||
        FAILED(pCallback->QueryInterface(__uuidof(IvkAsyncCallback), callback_.put_void())) ||
        !callback_) {
        callback_.reset();
        return E_POINTER;
    }
    return S_OK;
}

HRESULT COPCInteraction::PrepareGroupAsync(CGrpInfo& group, com::ComPtr<IOPCAsyncIO2>* asyncIO) {
    if (!sink_) return E_POINTER;
    com::ComPtr<IUnknown> sink;
    const HRESULT queried = sink_.query(&sink);
    if (FAILED(queried)) return com::MapFailure(E_POINTER, queried, "querying the data sink");
    const HRESULT prepared = group.PrepareAsync(sink.get(), asyncIO);
    // A disconnection is passed on as it is: the caller abandons the server for it.
    if (FAILED(prepared) && !com::IsDisconnection(prepared))
        return com::MapFailure(E_FAIL, prepared, "preparing the group");
    RETURN_IF_FAILED(prepared);
    return S_OK;
}

HRESULT COPCInteraction::StartAsync(IUnknown* pCallback, const VARIANT& address,
                                    const VARIANT* value, long lTransactionID, long* plCancelID) {
    RETURN_IF_NULL_POINTER(plCancelID);
    if (V_VT(&address) != VT_BSTR) return E_INVALIDARG;
    RETURN_IF_FAILED(StoreCallback(pCallback));
    ItemLookup found;
    RETURN_IF_FAILED(LookupAddress(address, E_FAIL, &found));
    // Taken now: the item record may go during the outgoing calls below.
    OPCHANDLE hServerItem = found.item->hServer;
    com::ComPtr<IOPCAsyncIO2> asyncIO;
    RETURN_IF_FAILED(Checked(found.server, PrepareGroupAsync(*found.group, &asyncIO)));

    const DWORD transactionId = static_cast<DWORD>(lTransactionID);
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    HRESULT hr;
    if (value) {
        VARIANT copy = *value;  // [in]: the proxy does not change it
        hr = asyncIO->Write(1, &hServerItem, &copy, transactionId, &cancelId, errors.put());
    } else {
        hr = asyncIO->Read(1, &hServerItem, transactionId, &cancelId, errors.put());
    }
    *plCancelID = static_cast<long>(cancelId);
    Checked(found.server, hr);
    if (FAILED(hr)) return com::MapFailure(E_FAIL, hr, value ? "AsyncWrite" : "AsyncRead");
    // With S_FALSE the item was refused and no completion will come: the
    // caller must not wait for one.
    if (hr != S_OK && (!errors || errors[0] != S_OK))
        return com::MapFailure(E_FAIL, errors ? errors[0] : hr, value ? "AsyncWrite" : "AsyncRead");
    return S_OK;
}

STDMETHODIMP COPCInteraction::AsyncRead(IUnknown* pCallback, VARIANT Adresss, long lTransactionID,
                                        long* plCancelID) {
    return com::ComBoundary(
        [&] { return StartAsync(pCallback, Adresss, nullptr, lTransactionID, plCancelID); });
}

STDMETHODIMP COPCInteraction::AsyncWrite(IUnknown* pCallback, VARIANT Adresss, VARIANT vValue,
                                         long lTransactionID, long* plCancelID) {
    return com::ComBoundary(
        [&] { return StartAsync(pCallback, Adresss, &vValue, lTransactionID, plCancelID); });
}

STDMETHODIMP COPCInteraction::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) {
    // The groups are inactive: data changes are not asked for.
    return S_OK;
}

STDMETHODIMP COPCInteraction::OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT,
                                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE*,
                                             VARIANT* pvValues, WORD* pwQualities,
                                             FILETIME* pftTimeStamps, HRESULT*) {
    return com::ComBoundary([&]() -> HRESULT {
        com::ComPtr<IvkAsyncCallback> callback = callback_;
        if (!callback) return E_POINTER;
        // Every request names one item; anything else is not ours to pass on.
        if (dwCount != 1) return E_INVALIDARG;
        RETURN_HR_IF(E_POINTER, !pvValues || !pwQualities || !pftTimeStamps);
        com::UniqueVariant value;
        RETURN_IF_FAILED(value.copy_from(pvValues[0]));
        VARIANT quality;
        VariantInit(&quality);
        V_VT(&quality) = VT_I2;
        V_I2(&quality) = static_cast<SHORT>(pwQualities[0]);
        VARIANT timeStamp;
        VariantInit(&timeStamp);
        V_VT(&timeStamp) = VT_DATE;
        V_DATE(&timeStamp) = com::FileTimeToDate(pftTimeStamps[0]);
        const HRESULT hr = callback->AsyncReadComplete(static_cast<long>(dwTransid), hrMastererror,
                                                       *value.get(), quality, timeStamp);
        return FAILED(hr) ? hr : S_OK;
    });
}

STDMETHODIMP COPCInteraction::OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT hrMastererr,
                                              DWORD dwCount, OPCHANDLE*, HRESULT*) {
    return com::ComBoundary([&]() -> HRESULT {
        com::ComPtr<IvkAsyncCallback> callback = callback_;
        if (!callback) return E_POINTER;
        if (dwCount != 1) return E_INVALIDARG;
        const HRESULT hr = callback->AsyncWriteComplete(static_cast<long>(dwTransid), hrMastererr);
        return FAILED(hr) ? hr : S_OK;
    });
}

STDMETHODIMP COPCInteraction::OnCancelComplete(DWORD, OPCHANDLE) { return S_OK; }

}  // namespace vkopc
