#include "OPCCommonImpl.h"

#include "com/Memory.h"
#include "com/Module.h"
#include "com/Result.h"

LCID COPCCommonImpl::locale() const {
    com::CsLock guard(lock_);
    return locale_;
}

STDMETHODIMP COPCCommonImpl::SetLocaleID(LCID dwLcid) {
    if (dwLcid != LOCALE_SYSTEM_DEFAULT && !IsValidLocale(dwLcid, LCID_SUPPORTED))
        return E_INVALIDARG;
    com::CsLock guard(lock_);
    locale_ = dwLcid;
    return S_OK;
}

STDMETHODIMP COPCCommonImpl::GetLocaleID(LCID* pdwLcid) {
    RETURN_HR_IF(E_INVALIDARG, !pdwLcid);
    *pdwLcid = locale();
    return S_OK;
}

STDMETHODIMP COPCCommonImpl::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    RETURN_HR_IF(E_INVALIDARG, !pdwCount || !pdwLcid);
    *pdwCount = 0;
    *pdwLcid = nullptr;
    com::CoTaskMem<LCID> locales;
    RETURN_HR_IF(E_OUTOFMEMORY, !locales.alloc(1));
    locales[0] = locale();
    *pdwLcid = locales.release();
    *pdwCount = 1;
    return S_OK;
}

STDMETHODIMP COPCCommonImpl::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    return com::ComBoundary([&] {
        return GetErrorStringFor(com::Module::Get().handle(), messages_.get(), dwError, locale(),
                                 ppString);
    });
}

STDMETHODIMP COPCCommonImpl::SetClientName(LPCWSTR szName) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !szName);
        com::CsLock guard(lock_);
        clientName_ = szName;
        return S_OK;
    });
}
