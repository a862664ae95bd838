// The interaction object (class OrvaneInteraction): what the OPC server binds its
// items to. Its work is InteractionCore's; this class is the COM face.
#pragma once

#include <windows.h>

#include <memory>

#include "InteractionCore.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "ov_interaction.h"
#include "ovi_custom.h"

namespace orvane::interaction {

// IvkInteraction and IvkInteraction2 share one method table; so do
// IvkPropertyAccess and IvkPropertyAccess2.
struct Interaction2Entry : com::Dual<IvkInteraction2> {
    using ComInterfaces = com::Iids<IvkInteraction2, IvkInteraction>;
};
struct PropertyAccess2Entry : com::Dual<IvkPropertyAccess2> {
    using ComInterfaces = com::Iids<IvkPropertyAccess2, IvkPropertyAccess>;
};

// IDispatch is IOrvaneInteraction's (the first entry).
class COrvaneInteraction
    : public com::Object<com::Dual<IOrvaneInteraction>, Interaction2Entry,
                         com::Dual<IvkBulkInteraction>, PropertyAccess2Entry, IOPCOVI_NameSpace,
                         IOPCOVI_AsyncIdent, com::Dual<IvkAsyncCallback>> {
public:
    COrvaneInteraction();

    // IOrvaneInteraction
    STDMETHODIMP GetModel(IUnknown** ppUnkModelRoot) override;
    STDMETHODIMP ReleaseConnections() override;

    // IvkInteraction2
    STDMETHODIMP Read(VARIANT vAddress, VARIANT* pvValue, VARIANT* pvQuality,
                      VARIANT* pvTimeStamp) override;
    STDMETHODIMP Write(VARIANT vAddress, VARIANT vValue) override;
    STDMETHODIMP Init(long lCookie, IUnknown* pParameter, IUnknown** ppReplacement,
                      VARTYPE* pvtAddressType) override;
    STDMETHODIMP Terminate(VARIANT vAddress) override;

    // IvkBulkInteraction
    STDMETHODIMP ReadMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY** psaValues,
                              SAFEARRAY** psaQualities, SAFEARRAY** psaTimeStamps,
                              SAFEARRAY** psaErrors) override;
    STDMETHODIMP WriteMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY* saValues,
                               SAFEARRAY** psaErrors) override;

    // IvkPropertyAccess2
    STDMETHODIMP ReadProperty(IUnknown* pParameter, BSTR bsName, VARIANT* pvValue) override;
    STDMETHODIMP WriteProperty(IUnknown* pParameter, BSTR bsName, VARIANT vValue) override;
    STDMETHODIMP InitProperty(IUnknown* pParameter, BSTR bsName, VARTYPE* pvt) override;
    STDMETHODIMP TerminateProperty(IUnknown* pParameter, BSTR bsName) override;

    // IOPCOVI_NameSpace
    STDMETHODIMP CheckNameSpace(long* plChecked) override;

    // IOPCOVI_AsyncIdent
    STDMETHODIMP AsyncReadDeviceIdentification(BSTR bsDevName, unsigned char byParameters) override;
    STDMETHODIMP AsyncSetupDeviceCommunication(BSTR strServerProgID, BSTR bsDevName,
                                               long bReadIdentification) override;
    STDMETHODIMP AsyncIdentifyDevice(BSTR bsDevName) override;

    // IvkAsyncCallback
    STDMETHODIMP AsyncReadComplete(long lTransactionID, long lError, VARIANT vData,
                                   VARIANT vQuality, VARIANT vTimeStamp) override;
    STDMETHODIMP AsyncWriteComplete(long lTransactionID, long lError) override;

private:
    std::unique_ptr<InteractionCore> core_;
};

}  // namespace orvane::interaction
