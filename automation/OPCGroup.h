// OPCGroup.h - COPCGroupImpl, one OPC group seen through the automation object model: its state,
// synchronous and asynchronous I/O, and the events its server's callbacks turn into.
//
// The group holds its server-side interfaces; the OPC server holds only a small callback object
// that points back weakly (cleared when the group unsubscribes), so no reference cycle crosses
// the process boundary. A DA 1.0 server's group (no connection points) delivers through
// IDataObject streams and takes asynchronous calls through IOPCAsyncIO.
#pragma once

#include <windows.h>

#include <string>

#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"
#include "ScriptDispatch.h"
#include "StreamSubscription.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "opc.h"
#include "opcautomation.h"

namespace vkauto {

class COPCGroups;
class COPCItems;
class CDataCallback;

class COPCGroupImpl : public com::Object<ScriptDual<IOPCGroup>, com::ConnectionPointContainer,
                                         com::SupportErrorInfo<IOPCGroup>> {
public:
    struct Settings {
        std::wstring name;
        bool active;
        LONG updateRate;
        LONG timeBias;
        float deadband;
        LONG localeId;
    };

    COPCGroupImpl(COPCGroups* groups, DWORD serverHandle, bool convertValues);

    // Creates the server's group (AddGroup) and takes its actual state.
    HRESULT Create(IOPCServer* server, const Settings& settings);
    // Unsubscribes, releases the server-side interfaces and removes the server's group; the
    // group keeps living for a client that still holds it, but without a server.
    HRESULT RemoveFromServer(IOPCServer* server);
    void Detach();

    DWORD serverHandle() const { return serverHandle_; }
    const std::wstring& name() const { return name_; }
    bool convertValues() const { return convertValues_; }
    // Server-side interfaces, obtained on first use; nullptr without a server group.
    IOPCItemMgt* ItemMgt();
    IOPCSyncIO* SyncIO();

    // IOPCGroup.
    STDMETHODIMP get_Parent(IOPCAutoServer** ppParent) override;
    STDMETHODIMP get_Name(BSTR* Name) override;
    STDMETHODIMP put_Name(BSTR Name) override;
    STDMETHODIMP get_IsPublic(VARIANT_BOOL* IsPublic) override;
    STDMETHODIMP get_IsActive(VARIANT_BOOL* IsActive) override;
    STDMETHODIMP put_IsActive(VARIANT_BOOL IsActive) override;
    STDMETHODIMP get_IsSubscribed(VARIANT_BOOL* IsSubscribed) override;
    STDMETHODIMP put_IsSubscribed(VARIANT_BOOL IsSubscribed) override;
    STDMETHODIMP get_ClientHandle(LONG* ClientHandle) override;
    STDMETHODIMP put_ClientHandle(LONG ClientHandle) override;
    STDMETHODIMP get_ServerHandle(LONG* ServerHandle) override;
    STDMETHODIMP get_LocaleID(LONG* LocaleID) override;
    STDMETHODIMP put_LocaleID(LONG LocaleID) override;
    STDMETHODIMP get_TimeBias(LONG* TimeBias) override;
    STDMETHODIMP put_TimeBias(LONG TimeBias) override;
    STDMETHODIMP get_DeadBand(FLOAT* DeadBand) override;
    STDMETHODIMP put_DeadBand(FLOAT DeadBand) override;
    STDMETHODIMP get_UpdateRate(LONG* UpdateRate) override;
    STDMETHODIMP put_UpdateRate(LONG UpdateRate) override;
    STDMETHODIMP get_OPCItems(OPCItems** ppItems) override;
    STDMETHODIMP SyncRead(SHORT Source, LONG NumItems, SAFEARRAY** ServerHandles,
                          SAFEARRAY** Values, SAFEARRAY** Errors, VARIANT* Qualities,
                          VARIANT* TimeStamps) override;
    STDMETHODIMP SyncWrite(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Values,
                           SAFEARRAY** Errors) override;
    STDMETHODIMP AsyncRead(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Errors,
                           LONG TransactionID, LONG* CancelID) override;
    STDMETHODIMP AsyncWrite(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Values,
                            SAFEARRAY** Errors, LONG TransactionID, LONG* CancelID) override;
    STDMETHODIMP AsyncRefresh(SHORT Source, LONG TransactionID, LONG* CancelID) override;
    STDMETHODIMP AsyncCancel(LONG CancelID) override;

    // From the server's callbacks (DA 2.0): the entries name wrapper items by ServerHandle.
    struct ItemData {
        DWORD count;
        const OPCHANDLE* items;
        const VARIANT* values;
        const WORD* qualities;
        const FILETIME* times;
        const HRESULT* errors;
    };
    void OnDataChange(DWORD transactionId, const ItemData& data);
    void OnReadComplete(DWORD transactionId, const ItemData& data);
    void OnWriteComplete(DWORD transactionId, DWORD count, const OPCHANDLE* items,
                         const HRESULT* errors);
    void OnCancelComplete(DWORD transactionId);
    // From the DA 1.0 stream sink.
    void OnStream(CLIPFORMAT format, const BYTE* block, size_t size);

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;

private:
    IOPCAsyncIO2* AsyncIO2();
    IOPCAsyncIO* AsyncIO();
    // After a DA 1.0 call the server took as `serverId`.
    void Started(HRESULT hr, DWORD serverId, StreamSubscription::Kind kind, LONG clientId);
    HRESULT Subscribe();
    void Unsubscribe();
    // Takes the state the server reports (GetState).
    HRESULT ReadState();
    // One SetState with the one value given.
    HRESULT SetState(DWORD* rate, BOOL* active, LONG* timeBias, FLOAT* deadband, DWORD* locale);
    // Builds the four 1-based arrays of the items in `data` that live, updating them.
    struct Arrays;
    HRESULT CollectItems(const ItemData& data, bool withErrors, Arrays* out);

    COPCGroups* groups_;  // not counted; cleared by Detach
    const DWORD serverHandle_;
    const bool convertValues_;
    std::wstring name_;
    bool active_ = true;
    bool subscribed_ = false;
    LONG clientHandle_;
    LONG updateRate_ = 0;
    LONG timeBias_ = 0;
    float deadband_ = 0.0f;
    LONG localeId_ = 0;
    OPCHANDLE serverGroup_ = 0;  // the OPC server's handle, never shown
    com::ComPtr<IOPCGroupStateMgt> state_;
    com::ComPtr<IOPCItemMgt> itemMgt_;
    com::ComPtr<IOPCSyncIO> syncIO_;
    com::ComPtr<IOPCAsyncIO2> asyncIO2_;
    com::ComPtr<IOPCAsyncIO> asyncIO_;
    StreamSubscription streams_;
    com::ComPtr<CDataCallback> callback_;
    DWORD callbackCookie_ = 0;
    com::ComPtr<COPCItems> items_;
    com::ConnectionPoint* events_ = nullptr;
};

}  // namespace vkauto
