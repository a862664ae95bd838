#include "OPCItemMgtImpl.h"

#include <memory>

#include "ItemId.h"
#include "OPCGroup.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/Strings.h"

HRESULT PrepareItem(const OPCITEMDEF& definition, VKModelObject* model, NameSpaceGate* gate,
                    double deadband, com::ComPtr<COPCItem>* out, bool* createdNode) {
    *createdNode = false;
    com::ComPtr<COPCItem> item;
    if (FAILED(com::MakeObject(&item))) return E_OUTOFMEMORY;
    if (!definition.szItemID) return OPC_E_INVALIDITEMID;
    const std::wstring id(definition.szItemID);
    RETURN_IF_FAILED(item->Resolve(model, id, gate, createdNode));
    item->SetItemId(id);
    item->SetActive(definition.bActive);
    item->SetClientHandle(definition.hClient);
    item->SetDeadband(deadband);
    if (definition.vtRequestedDataType != VT_EMPTY) {
        const HRESULT hr = item->SetRequestedType(definition.vtRequestedDataType);
        if (FAILED(hr)) {
            DiscardItem(item.get(), model, *createdNode);
            *createdNode = false;
            return hr;
        }
    }
    *out = std::move(item);
    return S_OK;
}

void DiscardItem(COPCItem* item, VKModelObject* model, bool createdNode) {
    item->Unbind();
    if (!createdNode || !model) return;
    const std::wstring id = item->itemId();
    com::UniqueBstr path(SplitItemId(id).path);
    model->DeleteParameter(path.get());
}

namespace {

// Per-handle loop shared by the setters: the error array, OPC_E_INVALIDHANDLE for
// unknown handles and S_FALSE when any entry failed.
template <class Apply>
HRESULT ForEachHandle(COPCGroup* group, DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors,
                      HRESULT allocFailure, Apply apply) {
    com::CoTaskMem<HRESULT> errors;
    if (!errors.alloc(count)) return allocFailure;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        com::ComPtr<COPCItem> item = group->FindItem(handles[i]);
        errors[i] = item ? apply(item.get(), i) : OPC_E_INVALIDHANDLE;
        if (FAILED(errors[i])) result = S_FALSE;
    }
    *ppErrors = errors.release();
    return result;
}

}  // namespace

STDMETHODIMP COPCItemMgtImpl::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                       OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !pItemArray || !ppAddResults || !ppErrors) return E_INVALIDARG;
        *ppAddResults = nullptr;
        *ppErrors = nullptr;
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        if (!results.alloc(dwCount) || !errors.alloc(dwCount)) return E_OUTOFMEMORY;
        const com::ComPtr<VKModelObject> model = group_->model();
        const com::ComPtr<CUnknownCont> items = group_->items();
        if (!items) return E_FAIL;
        const double deadband = group_->percentDeadband();
        HRESULT call = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            com::ComPtr<COPCItem> item;
            bool created = false;
            HRESULT hr = PrepareItem(pItemArray[i], model.get(), &gate_, deadband, &item, &created);
            DWORD handle = 0;
            if (SUCCEEDED(hr)) {
                const std::string key = com::WideToAnsi(com::Format(L"%X", item->cookie()));
                hr = items->Add(key, item->GetControllingUnknown(), &handle);
                if (FAILED(hr)) DiscardItem(item.get(), model.get(), created);
            }
            errors[i] = hr;
            if (FAILED(hr)) {
                call = S_FALSE;
                continue;
            }
            item->SetServerHandle(handle);
            results[i].hServer = handle;
            results[i].vtCanonicalDataType = item->canonicalType();
            results[i].dwAccessRights = item->accessRights();
        }
        *ppAddResults = results.release();
        *ppErrors = errors.release();
        return call;
    });
}

STDMETHODIMP COPCItemMgtImpl::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL,
                                            OPCITEMRESULT** ppValidationResults,
                                            HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !pItemArray || !ppValidationResults || !ppErrors) return E_INVALIDARG;
        *ppValidationResults = nullptr;
        *ppErrors = nullptr;
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        if (!results.alloc(dwCount) || !errors.alloc(dwCount)) return E_OUTOFMEMORY;
        const com::ComPtr<VKModelObject> model = group_->model();
        HRESULT call = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            com::ComPtr<COPCItem> item;
            bool created = false;
            errors[i] = PrepareItem(pItemArray[i], model.get(), &gate_, 0.0, &item, &created);
            if (FAILED(errors[i])) {
                call = S_FALSE;
                continue;
            }
            results[i].vtCanonicalDataType = item->canonicalType();
            results[i].dwAccessRights = item->accessRights();
            // The temporary item leaves nothing behind.
            DiscardItem(item.get(), model.get(), created);
        }
        *ppValidationResults = results.release();
        *ppErrors = errors.release();
        return call;
    });
}

STDMETHODIMP COPCItemMgtImpl::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !phServer || !ppErrors) return E_INVALIDARG;
        *ppErrors = nullptr;
        const com::ComPtr<CUnknownCont> items = group_->items();
        return ForEachHandle(
            group_, dwCount, phServer, ppErrors, E_FAIL, [&](COPCItem* item, DWORD i) -> HRESULT {
                item->Unbind();
                item->SetActive(FALSE);
                return items && items->RemoveByHandle(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
            });
    });
}

STDMETHODIMP COPCItemMgtImpl::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                             HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !phServer || !ppErrors) return E_INVALIDARG;
        *ppErrors = nullptr;
        return ForEachHandle(group_, dwCount, phServer, ppErrors, E_OUTOFMEMORY,
                             [&](COPCItem* item, DWORD) {
                                 item->SetActive(bActive);
                                 return S_OK;
                             });
    });
}

STDMETHODIMP COPCItemMgtImpl::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                               OPCHANDLE* phClient, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !phServer || !phClient || !ppErrors) return E_INVALIDARG;
        *ppErrors = nullptr;
        return ForEachHandle(group_, dwCount, phServer, ppErrors, E_OUTOFMEMORY,
                             [&](COPCItem* item, DWORD i) {
                                 item->SetClientHandle(phClient[i]);
                                 return S_OK;
                             });
    });
}

STDMETHODIMP COPCItemMgtImpl::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                           VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!dwCount || !phServer || !pRequestedDatatypes || !ppErrors) return E_INVALIDARG;
        *ppErrors = nullptr;
        return ForEachHandle(group_, dwCount, phServer, ppErrors, E_OUTOFMEMORY,
                             [&](COPCItem* item, DWORD i) {
                                 return item->SetRequestedType(pRequestedDatatypes[i]);
                             });
    });
}

STDMETHODIMP COPCItemMgtImpl::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppUnk);
        *ppUnk = nullptr;
        const std::vector<com::ComPtr<COPCItem>> items = group_->ItemSnapshot();
        if (items.empty()) return S_FALSE;
        if (riid == IID_IEnumString) {
            std::vector<std::wstring> ids;
            for (const auto& item : items) ids.push_back(item->itemId());
            return com::CreateEnumString(std::move(ids), reinterpret_cast<IEnumString**>(ppUnk));
        }
        if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
        auto entries = std::make_shared<std::vector<CEnumItemAttr::Entry>>();
        for (const auto& item : items) {
            CEnumItemAttr::Entry entry;
            if (FAILED(item->ParameterInit(&entry.accessPath, &entry.rights, &entry.canonical)))
                continue;  // only items bound to a parameter
            entry.itemId = item->itemId();
            entry.active = item->active();
            entry.client = item->clientHandle();
            entry.server = item->serverHandle();
            entry.requested = item->requestedType();
            RETURN_IF_FAILED(item->EuInfo(&entry.euType, entry.euInfo.put()));
            entries->push_back(std::move(entry));
        }
        return com::CreateInstance<CEnumItemAttr>(
            nullptr, IID_IEnumOPCItemAttributes, reinterpret_cast<void**>(ppUnk),
            std::shared_ptr<const std::vector<CEnumItemAttr::Entry>>(entries));
    });
}

STDMETHODIMP CEnumItemAttr::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppItemArray);
        *ppItemArray = nullptr;
        if (celt != 1 && !pceltFetched) return E_POINTER;
        if (pceltFetched) *pceltFetched = 0;
        com::CsLock guard(lock_);
        const ULONG left = static_cast<ULONG>(entries_->size()) - at_;
        const ULONG n = celt < left ? celt : left;
        com::CoTaskMem<OPCITEMATTRIBUTES> out;
        if (!out.alloc(n)) return E_OUTOFMEMORY;
        ULONG done = 0;
        auto release = [&] {
            for (ULONG i = 0; i < done; ++i) {
                CoTaskMemFree(out[i].szAccessPath);
                CoTaskMemFree(out[i].szItemID);
                VariantClear(&out[i].vEUInfo);
            }
        };
        for (; done < n; ++done) {
            const Entry& e = (*entries_)[at_ + done];
            OPCITEMATTRIBUTES& a = out[done];
            VariantInit(&a.vEUInfo);
            HRESULT hr = com::CoTaskMemString(e.accessPath, &a.szAccessPath);
            if (SUCCEEDED(hr)) hr = com::CoTaskMemString(e.itemId, &a.szItemID);
            if (SUCCEEDED(hr)) hr = e.euInfo.copy_to(&a.vEUInfo);
            if (FAILED(hr)) {
                ++done;
                release();
                return hr;
            }
            a.bActive = e.active;
            a.hClient = e.client;
            a.hServer = e.server;
            a.dwAccessRights = e.rights;
            a.vtRequestedDataType = e.requested;
            a.vtCanonicalDataType = e.canonical;
            a.dwEUType = static_cast<OPCEUTYPE>(e.euType);
        }
        at_ += n;
        if (pceltFetched) *pceltFetched = n;
        *ppItemArray = out.release();
        return n == celt ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CEnumItemAttr::Skip(ULONG celt) {
    com::CsLock guard(lock_);
    const ULONG left = static_cast<ULONG>(entries_->size()) - at_;
    if (celt > left) {
        at_ = static_cast<ULONG>(entries_->size());
        return S_FALSE;
    }
    at_ += celt;
    return S_OK;
}

STDMETHODIMP CEnumItemAttr::Reset() {
    com::CsLock guard(lock_);
    at_ = 0;
    return S_OK;
}

STDMETHODIMP CEnumItemAttr::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppEnumItemAttributes);
        *ppEnumItemAttributes = nullptr;
        ULONG at;
        {
            com::CsLock guard(lock_);
            at = at_;
        }
        return com::CreateInstance<CEnumItemAttr>(nullptr, IID_IEnumOPCItemAttributes,
                                                  reinterpret_cast<void**>(ppEnumItemAttributes),
                                                  entries_, at);
    });
}
