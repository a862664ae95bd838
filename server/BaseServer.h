#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "UnknownCont.h"
#include "com/ComPtr.h"
#include "com/Sync.h"
#include "opc.h"
#include "vkmodel.h"

class COPCGroup;

// The part of a server object that its groups need: the group container and
// what new groups inherit. Shared between the server object and its groups, so
// that a group can clone itself without holding the server object (a group
// holding the server would keep both alive after the client let go of them).
// The server object closes it when it goes; then the container is emptied and
// operations that need the server fail with E_FAIL.
class CBaseServer : public std::enable_shared_from_this<CBaseServer> {
public:
    static constexpr LONG kAsyncModeDa20 = 2;

    // groupTimers false: the groups' threads run without a timer, and whoever holds a
    // group drives its services by hand (in-process tests).
    CBaseServer(com::ComPtr<CUnknownCont> groups, com::ComPtr<VKModelObject> model, DWORD tick,
                bool groupTimers = true);
    CBaseServer(const CBaseServer&) = delete;
    CBaseServer& operator=(const CBaseServer&) = delete;

    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                     OPCHANDLE hClientGroup, const LONG* pTimeBias, const FLOAT* pPercentDeadband,
                     DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                     LPUNKNOWN* ppUnk);
    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk);
    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce);
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk);
    DWORD GroupCount() const;

    // IOPCGroupStateMgt::SetName of a group: checks the new name against the
    // container, moves the group to its new key (if it has one already) and
    // stores the name in the group, all under the container's key lock.
    HRESULT RenameGroup(COPCGroup* group, LPCWSTR newName);

    // Releases the groups; later calls that need the server fail with E_FAIL.
    void Close();

    DWORD tick() const { return tick_; }
    bool groupTimers() const { return groupTimers_; }

private:
    HRESULT NameForNewGroup(LPCWSTR szName, std::wstring* name) const;
    bool closed() const;

    // Serialises the operations that check and change the container's keys
    // (add, rename, remove), and guards closed_.
    mutable com::CriticalSection lock_;
    bool closed_ = false;
    const com::ComPtr<CUnknownCont> groups_;
    const com::ComPtr<VKModelObject> model_;  // may be empty: server without model
    const DWORD tick_;
    const bool groupTimers_;
    const LONG asyncMode_ = kAsyncModeDa20;
};
