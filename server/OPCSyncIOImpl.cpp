#include "OPCSyncIOImpl.h"

#include "BulkDeviceRead.h"
#include "OPCGroup.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/SafeArray.h"
#include "com/Time.h"
#include "com/Variant.h"

namespace {

FILETIME ToFileTime(DATE date) {
    FILETIME time = {};
    com::DateToFileTime(date, &time);
    return time;
}

}  // namespace

HRESULT COPCSyncIOImpl::BulkItems(DWORD count, const OPCHANDLE* handles,
                                  std::vector<com::ComPtr<COPCItem>>* items,
                                  com::ComPtr<IvkBulkInteraction>* bulk) {
    com::ComPtr<IUnknown> component;
    for (DWORD i = 0; i < count; ++i) {
        com::ComPtr<COPCItem> item = group_->FindItem(handles[i]);
        if (!item || item->isProperty()) return E_FAIL;
        com::ComPtr<IUnknown> own = item->component();
        if (!own) return E_FAIL;
        if (i == 0)
            component = own;
        else if (!com::IsSameObject(component.get(), own.get()))
            return E_FAIL;  // one bulk call reaches one component
        items->push_back(std::move(item));
    }
    return component.query(bulk);
}

HRESULT COPCSyncIOImpl::BulkRead(DWORD count, const OPCHANDLE* handles, OPCITEMSTATE** ppItemValues,
                                 HRESULT** ppErrors) {
    std::vector<com::ComPtr<COPCItem>> items;
    com::ComPtr<IvkBulkInteraction> bulk;
    RETURN_IF_FAILED(BulkItems(count, handles, &items, &bulk));

    com::CoTaskMem<OPCITEMSTATE> states;
    com::CoTaskMem<HRESULT> errors;
    if (!states.alloc(count) || !errors.alloc(count)) return E_OUTOFMEMORY;
    std::vector<DWORD> sent;  // indexes of the items that go to the device
    std::vector<com::ComPtr<COPCItem>> readable;
    for (DWORD i = 0; i < count; ++i) {
        states[i].hClient = items[i]->clientHandle();
        VariantInit(&states[i].vDataValue);
        if (!(items[i]->accessRights() & OPC_READABLE)) {
            errors[i] = OPC_E_BADRIGHTS;
            continue;
        }
        readable.push_back(items[i]);
        sent.push_back(i);
    }
    if (!sent.empty()) {
        BulkDeviceRead read;
        RETURN_IF_FAILED(read.Read(bulk.get(), readable));
        for (size_t j = 0; j < sent.size(); ++j) {
            const DWORD i = sent[j];
            WORD q = 0;
            DATE stamp = 0;
            HRESULT hr = read.Apply(*items[i], j, &states[i].vDataValue, &q, &stamp);
            if (SUCCEEDED(hr)) {
                const HRESULT converted = items[i]->ToRequestedType(&states[i].vDataValue);
                if (FAILED(converted)) hr = converted;
            }
            errors[i] = hr;
            if (FAILED(hr)) {
                VariantClear(&states[i].vDataValue);
                continue;
            }
            states[i].wQuality = q;
            states[i].ftTimeStamp = ToFileTime(stamp);
        }
    }
    HRESULT call = S_OK;
    for (DWORD i = 0; i < count; ++i)
        if (FAILED(errors[i])) call = S_FALSE;
    *ppItemValues = states.release();
    *ppErrors = errors.release();
    return call;
}

STDMETHODIMP COPCSyncIOImpl::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                  OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !phServer || !ppItemValues || !ppErrors) return E_INVALIDARG;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
        if (dwSource == OPC_DS_DEVICE && dwCount > 1) {
            const HRESULT hr = BulkRead(dwCount, phServer, ppItemValues, ppErrors);
            if (SUCCEEDED(hr)) return hr;
        }
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        if (!states.alloc(dwCount) || !errors.alloc(dwCount)) return E_OUTOFMEMORY;
        const bool groupActive = group_->activeState();
        HRESULT call = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            OPCITEMSTATE& state = states[i];
            VariantInit(&state.vDataValue);
            com::ComPtr<COPCItem> item = group_->FindItem(phServer[i]);
            if (!item) {
                errors[i] = OPC_E_INVALIDHANDLE;
                call = S_FALSE;
                continue;
            }
            state.hClient = item->clientHandle();
            WORD quality = 0;
            DATE stamp = 0;
            errors[i] = item->Read(dwSource, &state.vDataValue, &quality, &stamp);
            if (FAILED(errors[i])) {
                VariantClear(&state.vDataValue);
                call = S_FALSE;
                continue;
            }
            state.wQuality =
                dwSource == OPC_DS_CACHE && !groupActive ? COPCItem::kQualityOutOfService : quality;
            state.ftTimeStamp = ToFileTime(stamp);
        }
        *ppItemValues = states.release();
        *ppErrors = errors.release();
        return call;
    });
}

HRESULT COPCSyncIOImpl::BulkWrite(DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                                  HRESULT** ppErrors) {
    std::vector<com::ComPtr<COPCItem>> items;
    com::ComPtr<IvkBulkInteraction> bulk;
    RETURN_IF_FAILED(BulkItems(count, handles, &items, &bulk));

    com::CoTaskMem<HRESULT> errors;
    if (!errors.alloc(count)) return E_OUTOFMEMORY;
    std::vector<DWORD> sent;
    std::vector<com::UniqueVariant> addresses, converted;
    for (DWORD i = 0; i < count; ++i) {
        // A value that does not fit is refused here; it never reaches the drive.
        com::UniqueVariant value;
        errors[i] = items[i]->ConvertForWrite(values[i], value.put());
        if (FAILED(errors[i])) continue;
        com::UniqueVariant address;
        RETURN_IF_FAILED(items[i]->Address(address.put()));
        addresses.push_back(std::move(address));
        converted.push_back(std::move(value));
        sent.push_back(i);
    }
    if (!sent.empty()) {
        com::UniqueSafeArray request, payload, results;
        RETURN_IF_FAILED(BulkVariantArray(addresses, &request));
        RETURN_IF_FAILED(BulkVariantArray(converted, &payload));
        const LONG k = static_cast<LONG>(sent.size());
        RETURN_IF_FAILED(bulk->WriteMultiple(k, request.get(), payload.get(), results.put()));
        if (!IsBulkResultArray(results.get(), VT_ERROR, k)) return E_UNEXPECTED;
        const LONG* result = static_cast<LONG*>(results.get()->pvData);
        for (LONG j = 0; j < k; ++j) {
            errors[sent[j]] = result[j];
            if (SUCCEEDED(result[j])) items[sent[j]]->SetChanged();
        }
    }
    HRESULT call = S_OK;
    for (DWORD i = 0; i < count; ++i)
        if (FAILED(errors[i])) call = S_FALSE;
    *ppErrors = errors.release();
    return call;
}

STDMETHODIMP COPCSyncIOImpl::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                   HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !phServer || !pItemValues || !ppErrors) return E_INVALIDARG;
        *ppErrors = nullptr;
        if (dwCount > 1) {
            const HRESULT hr = BulkWrite(dwCount, phServer, pItemValues, ppErrors);
            if (SUCCEEDED(hr)) return hr;
        }
        com::CoTaskMem<HRESULT> errors;
        if (!errors.alloc(dwCount)) return E_OUTOFMEMORY;
        HRESULT call = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            com::ComPtr<COPCItem> item = group_->FindItem(phServer[i]);
            errors[i] = item ? item->Write(pItemValues[i]) : OPC_E_INVALIDHANDLE;
            if (errors[i] != S_OK) call = S_FALSE;
        }
        *ppErrors = errors.release();
        return call;
    });
}
