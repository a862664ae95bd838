#pragma once
// The bus-server connection object: one per process (see SingletonFactory.cpp),
// an OPC DA 2.0 client towards the bus servers that it connects.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Dispatch.h"
#include "ItemAddress.h"
#include "opc.h"
#include "Records.h"
#include "vkmodel.h"
#include "vkopcinteraction.h"

namespace vkopc {

class CDataCallbackSink;

// IvkInteraction has the same method table as IvkInteraction2: one
// implementation answers both.
struct VkInteractionDual : public com::Dual<IvkInteraction2> {
    using ComInterfaces = com::Iids<IvkInteraction2, IvkInteraction>;
};

// What an address lookup found; the references keep the records alive while
// the caller talks to the bus server.
struct ItemLookup {
    std::shared_ptr<CSvrInfo> server;
    std::shared_ptr<CGrpInfo> group;
    CItemInfo* item = nullptr;  // owned by group
};

class COPCInteraction : public com::Object<com::Dual<IOPCInteraction>, VkInteractionDual,
                                           com::Dual<IvkAsyncInteraction>, IOPCDataCallback>,
                        public COPCClientObject {
public:
    static constexpr bool kAggregatable = false;

    COPCInteraction();
    ~COPCInteraction() override;

    // Creation and the final release are serialised with the class factory,
    // which must never hand out an object whose last reference is going.
    STDMETHODIMP_(ULONG) Release() override;

    // IOPCInteraction
    STDMETHODIMP OPCSyncioWrite(unsigned long hGroup, int numItems, unsigned long* phItems,
                                VARIANT* pValues) override;
    STDMETHODIMP OPCSyncioRead(unsigned long hGroup, int numItems, unsigned long* phItems,
                               VARIANT* pValues) override;
    STDMETHODIMP OPCServerRemovegroup(unsigned long hGroup) override;
    STDMETHODIMP OPCItemmgtRemoveitems(unsigned long hGroup, unsigned long* phItems,
                                       int ItemNumber) override;
    STDMETHODIMP OPCItemmgtAdditems(unsigned long hGroup, int nNumOfItems, BSTR* szItemNames,
                                    unsigned long* phItems) override;
    STDMETHODIMP OPCServerAddgroup(BSTR nameParam, unsigned long* phGroup) override;
    STDMETHODIMP ConnectToServer(BSTR szServerProgId, BSTR szHostName) override;
    STDMETHODIMP GetServerInterface(IUnknown** ppUnk) override;

    // IvkInteraction2
    STDMETHODIMP Read(VARIANT vAddress, VARIANT* pvValue, VARIANT* pvQuality,
                      VARIANT* pvTimeStamp) override;
    STDMETHODIMP Write(VARIANT vAddress, VARIANT vValue) override;
    STDMETHODIMP Init(long lCookie, IUnknown* pParameter, IUnknown** ppReplacement,
                      VARTYPE* pvtAddressType) override;
    STDMETHODIMP Terminate(VARIANT vAddress) override;

    // IvkAsyncInteraction
    STDMETHODIMP AsyncRead(IUnknown* pCallback, VARIANT Adresss, long lTransactionID,
                           long* plCancelID) override;
    STDMETHODIMP AsyncWrite(IUnknown* pCallback, VARIANT Adresss, VARIANT vValue,
                            long lTransactionID, long* plCancelID) override;

    // IOPCDataCallback
    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                              HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                              VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                              HRESULT* pErrors) override;
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                HRESULT* pErrors) override;
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                 DWORD dwCount, OPCHANDLE* pClienthandles,
                                 HRESULT* pErrors) override;
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    // IOPCBrowseServerAddressSpace is the current server's own.
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override;

private:
    // OPC client steps shared by the handle-based and the address-based methods.
    HRESULT Connect(const std::wstring& progId, const std::wstring& hostName,
                    std::shared_ptr<CSvrInfo>* out);
    // Creates the bus-server object of the record's CLSID and host and takes its interfaces.
    HRESULT CreateServer(CSvrInfo& server);
    HRESULT AddGroup(const std::shared_ptr<CSvrInfo>& server, const std::wstring& name,
                     Handle16* hGroup);
    // Adds the group to the bus server under the record's name and client handle.
    HRESULT CreateGroup(CSvrInfo& server, CGrpInfo& group);
    HRESULT AddItems(const std::shared_ptr<CGrpInfo>& group, const std::vector<std::wstring>& ids,
                     VARTYPE requestedType, std::vector<Handle16>* handles);
    // Adds items under the given client handles: a record under a handle is updated,
    // a missing one made. `added` gets the handle of each added item, 0 for a failed one;
    // `callResult` the result of the AddItems call itself.
    HRESULT AddItemsAs(const std::shared_ptr<CGrpInfo>& group, const std::vector<std::wstring>& ids,
                       const std::vector<VARTYPE>& types,
                       const std::vector<Handle16>& clientHandles, std::vector<Handle16>* added,
                       HRESULT* callResult = nullptr);
    HRESULT RemoveItems(const std::shared_ptr<CGrpInfo>& group, const unsigned long* phItems,
                        size_t count);
    HRESULT SyncRead(const std::shared_ptr<CGrpInfo>& group, const unsigned long* phItems,
                     size_t count, VARIANT* pValues);
    HRESULT SyncWrite(const std::shared_ptr<CGrpInfo>& group, const unsigned long* phItems,
                      size_t count, const VARIANT* pValues);
    // Removes the group (and its items) from its server and the records.
    HRESULT DropGroup(const std::shared_ptr<CSvrInfo>& server, Handle16 hGroup, BOOL force);
    void DropServer(Handle16 hServer);
    void Teardown();

    // A bus server that a call found gone keeps its records, and its groups and items
    // their handles; the next call that needs it connects again, at most once a
    // second, and puts its groups and items back into the same handle slots.
    // Checked() abandons the server when hr is a disconnection and passes hr on.
    HRESULT Checked(const std::shared_ptr<CSvrInfo>& server, HRESULT hr);
    HRESULT Reconnect(const std::shared_ptr<CSvrInfo>& server);
    HRESULT Restore(CSvrInfo& server);
    // The current server, reconnected when lost; E_FAIL when there is none.
    HRESULT UsableCurrent(std::shared_ptr<CSvrInfo>* server);

    // `reconnect` false finds a lost server as it is (Terminate only tidies records up).
    HRESULT LookupAddress(const VARIANT& address, HRESULT noServerResult, ItemLookup* found,
                          bool reconnect = true);
    std::shared_ptr<CSvrInfo> FindServerByProgId(const std::wstring& progId) const;
    std::shared_ptr<CSvrInfo> CurrentServer() const;
    std::shared_ptr<CGrpInfo> CurrentGroup(unsigned long hGroup) const;
    HRESULT RefreshServerUnknown(const CSvrInfo& server);
    HRESULT StoreCallback(IUnknown* pCallback);
    // The group's IOPCAsyncIO2, its data callback advised to sink_ on first use.
    HRESULT PrepareGroupAsync(CGrpInfo& group, com::ComPtr<IOPCAsyncIO2>* asyncIO);
    HRESULT StartAsync(IUnknown* pCallback, const VARIANT& address, const VARIANT* value,
                       long lTransactionID, long* plCancelID);

    com::ComPtr<IUnknown> serverUnknown_;  // IUnknown of the current server's IOPCServer
    Handle16 automaticGroup_ = 0;          // client handle of the group Init created
    com::ComPtr<IvkAsyncCallback> callback_;
    com::ComPtr<VKModelParameter> parameter_;  // the one Init saw last
    // Advised to the bus servers' groups instead of this object, so that the
    // servers' references do not keep this object alive.
    com::ComPtr<CDataCallbackSink> sink_;
};

}  // namespace vkopc
