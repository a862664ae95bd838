#include "OrvaneInteraction.h"

#include "com/ClassFactory.h"
#include "com/Result.h"

namespace orvane::interaction {

namespace {
// One interaction object per process while it lives: every server object and every
// item binding reaches the same model, bus connection and connection count.
const bool kRegistered = com::AddClassObject<com::SharedWhileAliveClassFactory<COrvaneInteraction>>(
    CLSID_OrvaneInteraction);
}  // namespace

COrvaneInteraction::COrvaneInteraction() : core_(std::make_unique<InteractionCore>()) {}

STDMETHODIMP COrvaneInteraction::GetModel(IUnknown** ppUnkModelRoot) {
    return com::ComBoundary([&] { return core_->GetModel(ppUnkModelRoot); });
}

STDMETHODIMP COrvaneInteraction::ReleaseConnections() {
    return com::ComBoundary([&] { return core_->ReleaseConnections(); });
}

// TODO(items), TODO(identification): item and bulk access, descriptions and identification;
// E_NOTIMPL until then.
STDMETHODIMP COrvaneInteraction::Read(VARIANT, VARIANT*, VARIANT*, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP COrvaneInteraction::Write(VARIANT, VARIANT) { return E_NOTIMPL; }
STDMETHODIMP COrvaneInteraction::Init(long, IUnknown*, IUnknown**, VARTYPE*) { return E_NOTIMPL; }
STDMETHODIMP COrvaneInteraction::Terminate(VARIANT) { return E_NOTIMPL; }

STDMETHODIMP COrvaneInteraction::ReadMultiple(long, SAFEARRAY*, SAFEARRAY**, SAFEARRAY**,
                                              SAFEARRAY**, SAFEARRAY**) {
    return E_NOTIMPL;
}
STDMETHODIMP COrvaneInteraction::WriteMultiple(long, SAFEARRAY*, SAFEARRAY*, SAFEARRAY**) {
    return E_NOTIMPL;
}

STDMETHODIMP COrvaneInteraction::ReadProperty(IUnknown*, BSTR, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP COrvaneInteraction::WriteProperty(IUnknown*, BSTR, VARIANT) { return E_NOTIMPL; }
STDMETHODIMP COrvaneInteraction::InitProperty(IUnknown*, BSTR, VARTYPE*) { return E_NOTIMPL; }
STDMETHODIMP COrvaneInteraction::TerminateProperty(IUnknown*, BSTR) { return E_NOTIMPL; }

STDMETHODIMP COrvaneInteraction::CheckNameSpace(long* plChecked) {
    // The identification workers call back through this object's IOPCOVI_AsyncIdent.
    return com::ComBoundary([&] { return core_->CheckNameSpace(plChecked, this); });
}

// A NULL BSTR names no device.
STDMETHODIMP COrvaneInteraction::AsyncReadDeviceIdentification(BSTR bsDevName,
                                                               unsigned char byParameters) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!bsDevName) return E_FAIL;
        return core_->AsyncReadDeviceIdentification(bsDevName, byParameters);
    });
}

STDMETHODIMP COrvaneInteraction::AsyncSetupDeviceCommunication(BSTR /*strServerProgID*/,
                                                               BSTR bsDevName,
                                                               long bReadIdentification) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!bsDevName) return S_OK;
        return core_->AsyncSetupDeviceCommunication(bsDevName, bReadIdentification != 0);
    });
}

STDMETHODIMP COrvaneInteraction::AsyncIdentifyDevice(BSTR bsDevName) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!bsDevName) return E_FAIL;
        return core_->AsyncIdentifyDevice(bsDevName);
    });
}

STDMETHODIMP COrvaneInteraction::AsyncReadComplete(long lTransactionID, long lError, VARIANT vData,
                                                   VARIANT vQuality, VARIANT vTimeStamp) {
    return com::ComBoundary([&] {
        AsyncCompletions::Get().ReadComplete(lTransactionID, lError, vData, vQuality, vTimeStamp);
    });
}

STDMETHODIMP COrvaneInteraction::AsyncWriteComplete(long lTransactionID, long lError) {
    return com::ComBoundary([&] { AsyncCompletions::Get().WriteComplete(lTransactionID, lError); });
}

}  // namespace orvane::interaction
