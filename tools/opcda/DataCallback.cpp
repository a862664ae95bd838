#include "DataCallback.h"

#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "com/Result.h"

CDataCallbackSink::CDataCallbackSink(IOPCServer* server, std::vector<std::wstring> ids,
                                     size_t lineLimit)
    : server_(server),
      ids_(std::move(ids)),
      lineLimit_(lineLimit),
      done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::wstring CDataCallbackSink::IdOf(OPCHANDLE client) const {
    if (client >= 1 && client <= ids_.size()) return ids_[client - 1];
    return L"#" + std::to_wstring(client);
}

void CDataCallbackSink::PrintStates(DWORD count, const OPCHANDLE* clients, const VARIANT* values,
                                    const WORD* qualities, const FILETIME* times,
                                    const HRESULT* errors) {
    com::CsLock guard(lock_);
    for (DWORD i = 0; i < count; ++i) {
        if (lineLimit_ && lines_ >= lineLimit_) break;
        PrintItemState(server_, IdOf(clients[i]), L"", errors[i], values[i], qualities[i],
                       times[i]);
        ++lines_;
    }
    fflush(stdout);
    if (lineLimit_ && lines_ >= lineLimit_) SetEvent(done_.get());
}

void CDataCallbackSink::Complete(DWORD transactionId, HRESULT result) {
    if (expected_ == 0 || transactionId != expected_) return;
    completion_ = result;
    SetEvent(done_.get());
}

STDMETHODIMP CDataCallbackSink::OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT,
                                             HRESULT hrMastererror, DWORD dwCount,
                                             OPCHANDLE* phClientItems, VARIANT* pvValues,
                                             WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) {
    PrintStates(dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    if (dwTransid) Complete(dwTransid, hrMastererror);
    return S_OK;
}

STDMETHODIMP CDataCallbackSink::OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT,
                                               HRESULT hrMastererror, DWORD dwCount,
                                               OPCHANDLE* phClientItems, VARIANT* pvValues,
                                               WORD* pwQualities, FILETIME* pftTimeStamps,
                                               HRESULT* pErrors) {
    PrintStates(dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    Complete(dwTransid, hrMastererror);
    return S_OK;
}

STDMETHODIMP CDataCallbackSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT hrMastererr,
                                                DWORD dwCount, OPCHANDLE* pClienthandles,
                                                HRESULT* pErrors) {
    {
        com::CsLock guard(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            const std::wstring id = IdOf(pClienthandles[i]);
            if (FAILED(pErrors[i]))
                wprintf(L"%ls: error %ls\n", id.c_str(), ErrorText(server_, pErrors[i]).c_str());
            else
                wprintf(L"%ls: written\n", id.c_str());
        }
        fflush(stdout);
    }
    Complete(dwTransid, hrMastererr);
    return S_OK;
}

STDMETHODIMP CDataCallbackSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE) {
    {
        com::CsLock guard(lock_);
        wprintf(L"transaction %lu cancelled\n", dwTransid);
        fflush(stdout);
    }
    Complete(dwTransid, E_ABORT);
    return S_OK;
}

Subscription::~Subscription() {
    if (point_ && cookie_) point_->Unadvise(cookie_);
}

HRESULT Subscription::Advise(IUnknown* group, IOPCDataCallback* sink) {
    com::ComPtr<IConnectionPointContainer> container;
    RETURN_IF_FAILED(group->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
    RETURN_IF_FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, point_.put()));
    return point_->Advise(sink, &cookie_);
}
