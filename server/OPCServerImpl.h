#pragma once

#include "ErrorText.h"
#include "com/Object.h"
#include "opc.h"

class OPCOrvane;

// IOPCServer of a server object: a tear-off, one per query.
class COPCServerImpl : public com::TearOff<OPCOrvane, IOPCServer> {
public:
    using TearOff::TearOff;

    STDMETHODIMP AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                          OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                          DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                          REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    STDMETHODIMP GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    STDMETHODIMP RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                       LPUNKNOWN* ppUnk) override;

private:
    OpcMessageFile messages_;  // loaded once per tear-off
};
