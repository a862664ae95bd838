#include "OPCItem.h"

#include "com/Bstr.h"
#include "com/Memory.h"
#include "com/Time.h"
#include "OPCGroup.h"
#include "ValueConversion.h"

namespace vkauto {

DATE LocalDate(const FILETIME& utc) {
    FILETIME local;
    if (!::FileTimeToLocalFileTime(&utc, &local)) local = utc;
    return com::FileTimeToDate(local);
}

COPCItemImpl::COPCItemImpl(COPCGroupImpl* group, std::wstring itemId, std::wstring accessPath,
                           LONG clientHandle, bool active, VARTYPE requestedType)
    : group_(group),
      itemId_(std::move(itemId)),
      accessPath_(std::move(accessPath)),
      clientHandle_(clientHandle),
      active_(active),
      requestedType_(requestedType) {}

void COPCItemImpl::Added(DWORD handle, const OPCITEMRESULT& result) {
    handle_ = handle;
    serverItem_ = result.hServer;
    canonicalType_ = result.vtCanonicalDataType;
    accessRights_ = result.dwAccessRights;
}

void COPCItemImpl::Update(const VARIANT& value, WORD quality, const FILETIME& time) {
    if (FAILED(value_.copy_from(value))) {
        value_.reset();
        V_VT(value_.get()) = VT_ERROR;
        V_ERROR(value_.get()) = E_OUTOFMEMORY;
    }
    quality_ = quality;
    timeStamp_ = time;
}

STDMETHODIMP COPCItemImpl::get_Parent(IOPCGroup** Parent) {
    RETURN_HR_IF(E_INVALIDARG, !Parent);
    *Parent = nullptr;
    RETURN_HR_IF(E_FAIL, !group_);
    return group_->QueryInterface(IID_PPV_ARGS(Parent));
}

STDMETHODIMP COPCItemImpl::get_ClientHandle(LONG* ClientHandle) {
    RETURN_HR_IF(E_INVALIDARG, !ClientHandle);
    *ClientHandle = clientHandle_;
    return S_OK;
}

template <class Call>
HRESULT COPCItemImpl::ChangeOnServer(Call call) {
    RETURN_HR_IF(E_FAIL, !group_);
    IOPCItemMgt* itemMgt = group_->ItemMgt();
    RETURN_HR_IF(E_FAIL, !itemMgt);
    HRESULT* rawErrors = nullptr;
    const HRESULT hr = call(itemMgt, &rawErrors);
    com::CoTaskMem<HRESULT> errors(rawErrors);
    if (hr == S_FALSE && rawErrors) return errors[0];
    return hr;
}

STDMETHODIMP COPCItemImpl::put_ClientHandle(LONG ClientHandle) {
    // The OPC server knows the item by the wrapper's handle; only the wrapper's copy changes.
    clientHandle_ = ClientHandle;
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_ServerHandle(LONG* ServerHandle) {
    RETURN_HR_IF(E_INVALIDARG, !ServerHandle);
    *ServerHandle = static_cast<LONG>(handle_);
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_AccessPath(BSTR* AccessPath) {
    RETURN_HR_IF(E_INVALIDARG, !AccessPath);
    return com::AllocBstr(accessPath_, AccessPath);
}

STDMETHODIMP COPCItemImpl::get_AccessRights(LONG* AccessRights) {
    RETURN_HR_IF(E_INVALIDARG, !AccessRights);
    *AccessRights = static_cast<LONG>(accessRights_);
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_ItemID(BSTR* ItemID) {
    RETURN_HR_IF(E_INVALIDARG, !ItemID);
    return com::AllocBstr(itemId_, ItemID);
}

STDMETHODIMP COPCItemImpl::get_IsActive(VARIANT_BOOL* IsActive) {
    RETURN_HR_IF(E_INVALIDARG, !IsActive);
    *IsActive = active_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCItemImpl::put_IsActive(VARIANT_BOOL IsActive) {
    const BOOL active = IsActive ? TRUE : FALSE;
    OPCHANDLE item = serverItem_;
    RETURN_IF_FAILED(ChangeOnServer([&](IOPCItemMgt* mgt, HRESULT** errors) {
        return mgt->SetActiveState(1, &item, active, errors);
    }));
    active_ = active != FALSE;
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_RequestedDataType(SHORT* RequestedDataType) {
    RETURN_HR_IF(E_INVALIDARG, !RequestedDataType);
    *RequestedDataType = static_cast<SHORT>(requestedType_);
    return S_OK;
}

STDMETHODIMP COPCItemImpl::put_RequestedDataType(SHORT RequestedDataType) {
    VARTYPE type = static_cast<VARTYPE>(RequestedDataType);
    OPCHANDLE item = serverItem_;
    RETURN_IF_FAILED(ChangeOnServer([&](IOPCItemMgt* mgt, HRESULT** errors) {
        return mgt->SetDatatypes(1, &item, &type, errors);
    }));
    requestedType_ = type;
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_Value(VARIANT* CurrentValue) {
    RETURN_HR_IF(E_INVALIDARG, !CurrentValue);
    return ConvertForAutomation(*value_, !group_ || group_->convertValues(), CurrentValue);
}

STDMETHODIMP COPCItemImpl::get_Quality(LONG* Quality) {
    RETURN_HR_IF(E_INVALIDARG, !Quality);
    *Quality = quality_;
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_TimeStamp(DATE* TimeStamp) {
    RETURN_HR_IF(E_INVALIDARG, !TimeStamp);
    *TimeStamp = LocalDate(timeStamp_);
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_CanonicalDataType(SHORT* CanonicalDataType) {
    RETURN_HR_IF(E_INVALIDARG, !CanonicalDataType);
    *CanonicalDataType = static_cast<SHORT>(canonicalType_);
    return S_OK;
}

STDMETHODIMP COPCItemImpl::get_EUType(SHORT* EUType) {
    RETURN_HR_IF(E_INVALIDARG, !EUType);
    return E_NOTIMPL;
}

STDMETHODIMP COPCItemImpl::get_EUInfo(VARIANT* EUInfo) {
    RETURN_HR_IF(E_INVALIDARG, !EUInfo);
    return E_NOTIMPL;
}

namespace {
// An optional out-argument the caller supplied: not missing, and by reference when a late-bound
// caller passes it so.
VARIANT* Supplied(VARIANT* out) {
    if (!out) return nullptr;
    if (V_VT(out) == VT_ERROR && V_ERROR(out) == DISP_E_PARAMNOTFOUND) return nullptr;
    if (V_VT(out) == (VT_BYREF | VT_VARIANT)) return V_VARIANTREF(out);
    return out;
}
}  // namespace

STDMETHODIMP COPCItemImpl::Read(SHORT Source, VARIANT* Value, VARIANT* Quality,
                                VARIANT* TimeStamp) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_FAIL, !group_);
        IOPCSyncIO* io = group_->SyncIO();
        RETURN_HR_IF(E_FAIL, !io);
        OPCHANDLE item = serverItem_;
        OPCITEMSTATE* rawStates = nullptr;
        HRESULT* rawErrors = nullptr;
        HRESULT hr = io->Read(static_cast<OPCDATASOURCE>(Source), 1, &item, &rawStates, &rawErrors);
        RETURN_IF_FAILED(hr);
        com::CoTaskMem<HRESULT> errors(rawErrors);
        com::CoTaskMem<OPCITEMSTATE> states(rawStates);
        RETURN_HR_IF(E_FAIL, !rawStates || !rawErrors);
        com::UniqueVariant read;
        read.reset(rawStates[0].vDataValue);
        if (FAILED(errors[0])) return errors[0];
        Update(*read, rawStates[0].wQuality, rawStates[0].ftTimeStamp);
        if (VARIANT* out = Supplied(Value)) {
            VARIANT converted;
            RETURN_IF_FAILED(ConvertForAutomation(*read, group_->convertValues(), &converted));
            ::VariantClear(out);
            *out = converted;
        }
        if (VARIANT* out = Supplied(Quality)) {
            ::VariantClear(out);
            V_VT(out) = VT_I2;
            V_I2(out) = static_cast<SHORT>(rawStates[0].wQuality);
        }
        if (VARIANT* out = Supplied(TimeStamp)) {
            ::VariantClear(out);
            V_VT(out) = VT_DATE;
            V_DATE(out) = LocalDate(rawStates[0].ftTimeStamp);
        }
        return errors[0];
    });
}

STDMETHODIMP COPCItemImpl::Write(VARIANT Value) {
    return com::ComBoundary([&]() -> HRESULT {
        com::UniqueVariant value;
        const HRESULT copied = ::VariantCopyInd(value.put(), &Value);
        if (FAILED(copied)) {
            value_.reset();
            V_VT(value_.get()) = VT_ERROR;
            V_ERROR(value_.get()) = copied;
        } else {
            value_.copy_from(*value);
        }
        RETURN_HR_IF(E_FAIL, !group_);
        IOPCSyncIO* io = group_->SyncIO();
        RETURN_HR_IF(E_FAIL, !io);
        RETURN_IF_FAILED(copied);
        OPCHANDLE item = serverItem_;
        HRESULT* rawErrors = nullptr;
        const HRESULT hr = io->Write(1, &item, value.get(), &rawErrors);
        com::CoTaskMem<HRESULT> errors(rawErrors);
        if (hr == S_FALSE && rawErrors) return errors[0];
        return hr;
    });
}

}  // namespace vkauto
