#include "OPCServerImpl.h"

#include "OPCOrvane.h"
#include "ServerStartup.h"
#include "com/Memory.h"
#include "com/Module.h"
#include "com/Result.h"

STDMETHODIMP COPCServerImpl::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                      OPCHANDLE hClientGroup, LONG* pTimeBias,
                                      FLOAT* pPercentDeadband, DWORD dwLCID,
                                      OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                      REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&] {
        return owner()->core().AddGroup(szName, bActive, dwRequestedUpdateRate, hClientGroup,
                                        pTimeBias, pPercentDeadband, dwLCID, phServerGroup,
                                        pRevisedUpdateRate, riid, ppUnk);
    });
}

STDMETHODIMP COPCServerImpl::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    return com::ComBoundary([&] {
        return GetErrorStringFor(com::Module::Get().handle(), messages_.get(), dwError, dwLocale,
                                 ppString);
    });
}

STDMETHODIMP COPCServerImpl::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&] { return owner()->core().GetGroupByName(szName, riid, ppUnk); });
}

STDMETHODIMP COPCServerImpl::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppServerStatus);
        *ppServerStatus = nullptr;
        const ServerStartup& startup = GetServerStartup();
        com::CoTaskMem<OPCSERVERSTATUS> status;
        RETURN_HR_IF(E_OUTOFMEMORY, !status.alloc(1));
        if (!startup.vendor.empty())
            RETURN_IF_FAILED(com::CoTaskMemString(startup.vendor, &status[0].szVendorInfo));
        status[0].ftStartTime = owner()->startTime();
        CoFileTimeNow(&status[0].ftCurrentTime);
        status[0].ftLastUpdateTime = status[0].ftCurrentTime;
        status[0].dwServerState = owner()->state();
        status[0].dwGroupCount = owner()->core().GroupCount();
        status[0].dwBandWidth = 0;
        status[0].wMajorVersion = startup.version.major;
        status[0].wMinorVersion = startup.version.minor;
        status[0].wBuildNumber = startup.version.build;
        status[0].wReserved = 0;
        *ppServerStatus = status.release();
        return S_OK;
    });
}

STDMETHODIMP COPCServerImpl::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    return com::ComBoundary([&] { return owner()->core().RemoveGroup(hServerGroup, bForce); });
}

STDMETHODIMP COPCServerImpl::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                   LPUNKNOWN* ppUnk) {
    return com::ComBoundary(
        [&] { return owner()->core().CreateGroupEnumerator(dwScope, riid, ppUnk); });
}
