// OPCItem.h - COPCItemImpl, one item of a group: what the OPC server reported when it was added,
// the last value, quality and time stamp seen, and its own read and write.
#pragma once

#include <windows.h>

#include <string>

#include "com/ComPtr.h"
#include "ScriptDispatch.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "opc.h"
#include "opcautomation.h"

namespace vkauto {

class COPCGroupImpl;

class COPCItemImpl : public com::Object<ScriptDual<OPCItem>, com::SupportErrorInfo<OPCItem>> {
public:
    COPCItemImpl(COPCGroupImpl* group, std::wstring itemId, std::wstring accessPath,
                 LONG clientHandle, bool active, VARTYPE requestedType);

    // What AddItems reported; `handle` is the ServerHandle the wrapper gives out.
    void Added(DWORD handle, const OPCITEMRESULT& result);
    void Update(const VARIANT& value, WORD quality, const FILETIME& time);
    void Detach() { group_ = nullptr; }

    DWORD handle() const { return handle_; }
    OPCHANDLE serverItem() const { return serverItem_; }
    LONG clientHandle() const { return clientHandle_; }
    void set_clientHandle(LONG handle) { clientHandle_ = handle; }
    void set_active(bool active) { active_ = active; }
    void set_requestedType(VARTYPE type) { requestedType_ = type; }
    const std::wstring& itemId() const { return itemId_; }

    STDMETHODIMP get_Parent(IOPCGroup** Parent) override;
    STDMETHODIMP get_ClientHandle(LONG* ClientHandle) override;
    STDMETHODIMP put_ClientHandle(LONG ClientHandle) override;
    STDMETHODIMP get_ServerHandle(LONG* ServerHandle) override;
    STDMETHODIMP get_AccessPath(BSTR* AccessPath) override;
    STDMETHODIMP get_AccessRights(LONG* AccessRights) override;
    STDMETHODIMP get_ItemID(BSTR* ItemID) override;
    STDMETHODIMP get_IsActive(VARIANT_BOOL* IsActive) override;
    STDMETHODIMP put_IsActive(VARIANT_BOOL IsActive) override;
    STDMETHODIMP get_RequestedDataType(SHORT* RequestedDataType) override;
    STDMETHODIMP put_RequestedDataType(SHORT RequestedDataType) override;
    STDMETHODIMP get_Value(VARIANT* CurrentValue) override;
    STDMETHODIMP get_Quality(LONG* Quality) override;
    STDMETHODIMP get_TimeStamp(DATE* TimeStamp) override;
    STDMETHODIMP get_CanonicalDataType(SHORT* CanonicalDataType) override;
    STDMETHODIMP get_EUType(SHORT* EUType) override;
    STDMETHODIMP get_EUInfo(VARIANT* EUInfo) override;
    STDMETHODIMP Read(SHORT Source, VARIANT* Value, VARIANT* Quality, VARIANT* TimeStamp) override;
    STDMETHODIMP Write(VARIANT Value) override;

private:
    // One call of the group's item management for this item alone.
    template <class Call>
    HRESULT ChangeOnServer(Call call);

    COPCGroupImpl* group_;  // not counted; cleared when the item leaves its group
    const std::wstring itemId_;
    const std::wstring accessPath_;
    LONG clientHandle_;
    bool active_;
    VARTYPE requestedType_;
    DWORD handle_ = 0;
    OPCHANDLE serverItem_ = 0;
    VARTYPE canonicalType_ = VT_EMPTY;
    DWORD accessRights_ = 0;
    com::UniqueVariant value_;
    WORD quality_ = OPC_QUALITY_BAD;
    FILETIME timeStamp_ = {};
};

// Local DATE of a UTC time stamp, as every time handed to a client.
DATE LocalDate(const FILETIME& utc);

}  // namespace vkauto
