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

STDMETHODIMP COrvaneInteraction::Read(VARIANT vAddress, VARIANT* pvValue, VARIANT* pvQuality,
                                      VARIANT* pvTimeStamp) {
    // The namespace check that a first read may run calls back through this object.
    return com::ComBoundary(
        [&] { return core_->ReadItem(vAddress, pvValue, pvQuality, pvTimeStamp, this); });
}

STDMETHODIMP COrvaneInteraction::Write(VARIANT vAddress, VARIANT vValue) {
    return com::ComBoundary([&] { return core_->WriteItem(vAddress, vValue); });
}

STDMETHODIMP COrvaneInteraction::Init(long /*lCookie*/, IUnknown* pParameter,
                                      IUnknown** ppReplacement, VARTYPE* pvtAddressType) {
    return com::ComBoundary(
        [&] { return core_->InitItem(pParameter, ppReplacement, pvtAddressType); });
}

STDMETHODIMP COrvaneInteraction::Terminate(VARIANT vAddress) {
    return com::ComBoundary([&] { return core_->TerminateItem(vAddress); });
}

STDMETHODIMP COrvaneInteraction::ReadMultiple(long lCount, SAFEARRAY* saAddresses,
                                              SAFEARRAY** psaValues, SAFEARRAY** psaQualities,
                                              SAFEARRAY** psaTimeStamps, SAFEARRAY** psaErrors) {
    return com::ComBoundary([&] {
        return core_->ReadMultiple(lCount, saAddresses, psaValues, psaQualities, psaTimeStamps,
                                   psaErrors);
    });
}

STDMETHODIMP COrvaneInteraction::WriteMultiple(long lCount, SAFEARRAY* saAddresses,
                                               SAFEARRAY* saValues, SAFEARRAY** psaErrors) {
    return com::ComBoundary(
        [&] { return core_->WriteMultiple(lCount, saAddresses, saValues, psaErrors); });
}

STDMETHODIMP COrvaneInteraction::ReadProperty(IUnknown* pParameter, BSTR bsName, VARIANT* pvValue) {
    return com::ComBoundary([&] { return core_->ReadItemProperty(pParameter, bsName, pvValue); });
}

STDMETHODIMP COrvaneInteraction::WriteProperty(IUnknown* pParameter, BSTR bsName, VARIANT vValue) {
    return com::ComBoundary([&] { return core_->WriteItemProperty(pParameter, bsName, vValue); });
}

STDMETHODIMP COrvaneInteraction::InitProperty(IUnknown* pParameter, BSTR bsName, VARTYPE* pvt) {
    return com::ComBoundary([&] { return core_->InitItemProperty(pParameter, bsName, pvt); });
}

// A property item holds nothing here.
STDMETHODIMP COrvaneInteraction::TerminateProperty(IUnknown*, BSTR) { return S_OK; }

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
