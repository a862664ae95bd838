#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "GroupThread.h"
#include "OPCItem.h"
#include "OPCItemMgtImpl.h"
#include "OPCSyncIOImpl.h"
#include "UnknownCont.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Implementation.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "opc.h"
#include "vkmodel.h"
#include "vkopc.h"

class CBaseServer;
class COPCGroupStateMgtImpl;

// A group of a server object: its state (IOPCGroupStateMgt), its items (IOPCItemMgt,
// IOPCSyncIO) and, through the services object its thread makes, IOPCAsyncIO2 and the
// data-callback connection point.
class COPCGroup : public com::Object<com::Dual<IOPCGroup, 2>> {
public:
    static constexpr DWORD kDefaultUpdateRate = 1000;
    static constexpr DWORD kDefaultTick = 500;
    // The longest a release or removal waits for the group's thread.
    static constexpr DWORD kStopWaitMs = 1000;
    // Private: lets the server tell its own groups from anything a client hands in.
    static constexpr IID kImplementationIid = {
        0x02210F29, 0xD73D, 0x4CB8, {0xA5, 0xAC, 0x76, 0x55, 0xB1, 0xBD, 0x2B, 0xEF}};

    // Set once, right after creation, by the server.
    void SetOwner(std::shared_ptr<CBaseServer> owner);
    void SetModel(com::ComPtr<VKModelObject> model);
    void SetServerHandle(DWORD handle);
    void SetActiveInternal(BOOL active);
    // The group's thread and its asynchronous services. StartThread does nothing when
    // the thread runs; StopThread asks it to end, releases the services and waits up
    // to waitMs (true when the thread has ended).
    HRESULT StartThread();
    bool StopThread(DWORD waitMs);
    com::ComPtr<IAsyncServices> services() const;

    std::wstring name() const;
    com::ComPtr<VKModelObject> model() const;
    com::ComPtr<CUnknownCont> items() const;
    double percentDeadband() const;
    BOOL activeState() const;
    // The item of a server handle; empty when unknown.
    com::ComPtr<COPCItem> FindItem(OPCHANDLE handle) const;
    // The items in container order, held, for iterating without the container's lock.
    std::vector<com::ComPtr<COPCItem>> ItemSnapshot() const;
    // Only under the server's key lock (CBaseServer::RenameGroup).
    void StoreName(const std::wstring& name);

    // IOPCGroupStateMgt, also used by the server while it creates the group.
    HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                     FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                     OPCHANDLE* phServerGroup);
    HRESULT SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                     const BOOL* pActive, const LONG* pTimeBias, const FLOAT* pPercentDeadband,
                     const DWORD* pLCID, const OPCHANDLE* phClientGroup);
    HRESULT SetName(LPCWSTR szName);
    HRESULT CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk);

    // IOPCGroup
    STDMETHODIMP GetItems(IUnknown** ppItems) override;
    STDMETHODIMP GetClientHandle(unsigned long* phClientGroup) override;
    STDMETHODIMP GetServerHandle(unsigned long* phServerGroup) override;
    STDMETHODIMP GetActive(long* pbActive) override;
    STDMETHODIMP GetAsyncMode(long* plAsyncMode) override;
    STDMETHODIMP SetAsyncMode(long lAsyncMode) override;

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override;

private:
    std::shared_ptr<CBaseServer> owner() const;
    HRESULT CopyItemsTo(IUnknown* clone);
    void TellServices(BOOL active);

    com::CriticalSection threadLock_;  // guards thread_; taken before lock_
    CGroupThread thread_;

    mutable com::CriticalSection lock_;  // guards every field below
    std::wstring name_;
    com::ComPtr<VKModelObject> model_;
    DWORD lcid_ = 0;
    FLOAT percentDeadband_ = 0.0f;
    LONG timeBias_ = 0;
    DWORD updateRate_ = kDefaultUpdateRate;
    DWORD tick_ = kDefaultTick;
    bool timer_ = true;  // the thread ticks (tests drive the services themselves)
    OPCHANDLE clientHandle_ = 0;
    OPCHANDLE serverHandle_ = 0;
    BOOL active_ = FALSE;
    LONG asyncMode_ = 0;
    std::shared_ptr<CBaseServer> owner_;
    com::ComPtr<CUnknownCont> items_;
    com::ComPtr<IUnknown> services_;  // made by the thread; released when it is stopped
    com::CachedPart<COPCGroupStateMgtImpl> stateMgt_;  // IOPCGroupStateMgt
    com::CachedPart<COPCItemMgtImpl> itemMgt_;         // IOPCItemMgt
    com::CachedPart<COPCSyncIOImpl> syncIO_;           // IOPCSyncIO
};

// IOPCGroupStateMgt of a group: an aggregated part, so the client's references
// count on the group.
class COPCGroupStateMgtImpl : public com::Object<IOPCGroupStateMgt> {
public:
    explicit COPCGroupStateMgtImpl(COPCGroup* group) : group_(group) {}

    STDMETHODIMP GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                          OPCHANDLE* phServerGroup) override;
    STDMETHODIMP SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                          LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                          OPCHANDLE* phClientGroup) override;
    STDMETHODIMP SetName(LPCWSTR szName) override;
    STDMETHODIMP CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

private:
    COPCGroup* const group_;  // the outer object; it owns this part
};
