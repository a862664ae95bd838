#pragma once

#include <string>

#include "ErrorText.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "opc.h"

class OPCOrvane;

// IOPCCommon of a server object: a tear-off, so every query starts with the
// system default locale and no client name.
class COPCCommonImpl : public com::TearOff<OPCOrvane, IOPCCommon> {
public:
    using TearOff::TearOff;

    STDMETHODIMP SetLocaleID(LCID dwLcid) override;
    STDMETHODIMP GetLocaleID(LCID* pdwLcid) override;
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    STDMETHODIMP GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    STDMETHODIMP SetClientName(LPCWSTR szName) override;

private:
    LCID locale() const;

    mutable com::CriticalSection lock_;  // guards locale_ and clientName_
    LCID locale_ = LOCALE_SYSTEM_DEFAULT;
    std::wstring clientName_;  // kept only
    OpcMessageFile messages_;
};
