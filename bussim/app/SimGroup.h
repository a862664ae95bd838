// An OPC group of the simulator: its items, synchronous and asynchronous
// access to them, and how its client hears of results: the IOPCDataCallback
// connection point (DA 2.0) or IDataObject streams (DA 1.0).
#pragma once

#include <windows.h>

#include <opc.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ConnectionPoint.h"
#include "com/HandleRegistry.h"
#include "com/Object.h"
#include "com/Resources.h"
#include "StreamSinks.h"
#include "Updates.h"

namespace bussim {

class GroupTable;

struct GroupState {
    std::wstring name;
    BOOL active = FALSE;
    DWORD updateRate = 1000;
    OPCHANDLE hClientGroup = 0;
    LONG timeBias = 0;
    FLOAT percentDeadband = 0;
    DWORD lcid = 0;
};

// The interfaces a server object and its groups show: DA 2.0 with callbacks, or DA 1.0 with
// IOPCAsyncIO and IDataObject streams instead (no browsing, properties or shutdown point).
enum class Face { kDa20, kDa10 };

class CSimGroup : public com::Object<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2,
                                     IOPCAsyncIO, IDataObject, com::ConnectionPointContainer> {
    using Base = com::Object<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2, IOPCAsyncIO,
                             IDataObject, com::ConnectionPointContainer>;

public:
    CSimGroup(std::shared_ptr<GroupTable> table, GroupState state, Face face);

    void SetServerHandle(OPCHANDLE handle) { hServerGroup_ = handle; }
    // The update thread asks, about every 10 ms: when the update rate has come
    // round, the changed values of the active items, ready to send.
    UpdateThread::Send PrepareUpdate(uint64_t nowMs);
    std::wstring Name();
    void SetNameInternal(const std::wstring& name);

    // IOPCItemMgt
    STDMETHODIMP AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          HRESULT** ppErrors) override;
    STDMETHODIMP ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                               OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    STDMETHODIMP RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    STDMETHODIMP SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                HRESULT** ppErrors) override;
    STDMETHODIMP SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                  HRESULT** ppErrors) override;
    STDMETHODIMP SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                              HRESULT** ppErrors) override;
    STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCGroupStateMgt
    STDMETHODIMP GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                          OPCHANDLE* phServerGroup) override;
    STDMETHODIMP SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                          LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                          OPCHANDLE* phClientGroup) override;
    STDMETHODIMP SetName(LPCWSTR szName) override;
    STDMETHODIMP CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCSyncIO
    STDMETHODIMP Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                      OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       HRESULT** ppErrors) override;

    // IOPCAsyncIO2
    STDMETHODIMP Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                      HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) override;
    STDMETHODIMP Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                          DWORD* pdwCancelID) override;
    STDMETHODIMP Cancel2(DWORD dwCancelID) override;
    STDMETHODIMP SetEnable(BOOL bEnable) override;
    STDMETHODIMP GetEnable(BOOL* pbEnable) override;

    // IOPCAsyncIO (DA 1.0): results go to the stream connection named.
    STDMETHODIMP Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                      OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       DWORD* pTransactionID, HRESULT** ppErrors) override;
    STDMETHODIMP Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                         DWORD* pTransactionID) override;
    STDMETHODIMP Cancel(DWORD dwTransactionID) override;

    // IDataObject: only the stream advises.
    STDMETHODIMP GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    STDMETHODIMP GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    STDMETHODIMP QueryGetData(FORMATETC* pformatetc) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
    STDMETHODIMP SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
    STDMETHODIMP EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
    STDMETHODIMP DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                         DWORD* pdwConnection) override;
    STDMETHODIMP DUnadvise(DWORD dwConnection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    void* FindInterface(REFIID riid) noexcept override;

private:
    struct Item {
        std::string itemId;  // as the bus names it
        OPCHANDLE hClient = 0;
        BOOL active = FALSE;
        VARTYPE requested = VT_EMPTY;
        VARTYPE canonical = VT_EMPTY;
        DWORD rights = 0;
        // The last value read from the device or written, for cache reads.
        com::UniqueVariant value;
        WORD quality = OPC_QUALITY_BAD;
        FILETIME timeStamp{};
        // What the last data change told the client; `sent` false: tell it anew.
        bool sent = false;
        com::UniqueVariant sentValue;
        WORD sentQuality = OPC_QUALITY_BAD;
    };
    using ItemPtr = std::shared_ptr<Item>;

    // One item's outcome of a read.
    struct ReadResult {
        OPCHANDLE hClient = 0;
        HRESULT error = S_OK;
        com::UniqueVariant value;
        WORD quality = OPC_QUALITY_BAD;
        FILETIME timeStamp{};
    };

    HRESULT CheckItemDef(const OPCITEMDEF& def, OPCITEMRESULT* result, ItemPtr* item);
    HRESULT ValidateOrAdd(DWORD dwCount, OPCITEMDEF* pItemArray, bool add,
                          OPCITEMRESULT** ppResults, HRESULT** ppErrors);
    bool FindItem(OPCHANDLE hServer, ItemPtr* item) const { return items_.Find(hServer, item); }
    void ReadDevice(const ItemPtr& item, ReadResult* result);
    void ReadCache(const ItemPtr& item, ReadResult* result);
    void ReadCached(const ItemPtr& item, bool active, ReadResult* result);
    HRESULT WriteDevice(const ItemPtr& item, const VARIANT& value);
    std::vector<com::ComPtr<IOPCDataCallback>> Callbacks() const;
    // Who hears of a result: the callbacks (DA 2.0) or the stream sinks of the format, all of
    // them or the one of `connection` (DA 1.0).
    struct Targets;
    Targets TargetsOf(StreamFormat format, DWORD connection) const;
    // True when a slave of one of the items withholds its completions.
    bool Withheld(const std::vector<ItemPtr>& items) const;
    // The per-item errors of an asynchronous call and the items to do (with copies of their
    // values for a write).
    HRESULT CheckAsyncItems(DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* values,
                            HRESULT** ppErrors, std::vector<ItemPtr>* valid,
                            std::vector<com::UniqueVariant>* copies);
    // Items for a refresh: the active readable ones of an active group.
    HRESULT RefreshItems(std::vector<ItemPtr>* active) const;
    void CompleteRead(DWORD transactionId, DWORD connection, OPCDATASOURCE source,
                      std::vector<ItemPtr> items, bool dataChange);
    void CompleteWrite(DWORD transactionId, DWORD connection, std::vector<ItemPtr> items,
                       std::vector<com::UniqueVariant>* values);
    void SendCancel(DWORD transactionId);
    OPCHANDLE ClientGroup() const;

    const std::shared_ptr<GroupTable> table_;
    const Face face_;
    OPCHANDLE hServerGroup_ = 0;
    com::ConnectionPoint* dataCallback_ = nullptr;  // DA 2.0 only
    StreamSinks streams_;                           // DA 1.0 only
    com::HandleRegistry<ItemPtr> items_;
    mutable com::CriticalSection lock_;  // guards state_, enabled_ and the fields of every Item
    GroupState state_;
    BOOL enabled_ = TRUE;
    uint64_t nextUpdateMs_ = 0;
    std::shared_ptr<UpdateSlot> slot_;
};

// The groups of one server object, shared by the server and its groups (a
// group that clones itself adds to it). Closed when the server object goes.
class GroupTable {
public:
    // OPC_E_DUPLICATENAME, E_FAIL when closed; a handle otherwise.
    HRESULT Add(const com::ComPtr<CSimGroup>& group, const std::wstring& name, OPCHANDLE* handle);
    bool FindByName(const std::wstring& name, com::ComPtr<CSimGroup>* group);
    bool Remove(OPCHANDLE handle, com::ComPtr<CSimGroup>* group);
    HRESULT Rename(CSimGroup* group, const std::wstring& name);
    std::wstring UniqueName();
    std::vector<com::ComPtr<CSimGroup>> All();
    size_t Count();
    void Close();

private:
    com::CriticalSection lock_;  // guards groups_, closed_, nextName_; taken before a group's lock
    com::HandleRegistry<com::ComPtr<CSimGroup>> groups_;
    bool closed_ = false;
    unsigned nextName_ = 1;
};

}  // namespace bussim
