#include "OPCItems.h"

#include "ClientArrays.h"
#include "OPCGroup.h"
#include "OPCItem.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Memory.h"
#include "com/ScopeExit.h"

namespace vkauto {

HRESULT ResolvedItems::Merge(const HRESULT* serverErrors) {
    for (size_t k = 0; k < positions.size(); ++k)
        errors[positions[k]] = serverErrors ? serverErrors[k] : S_OK;
    return Result();
}

HRESULT ResolvedItems::Result() const {
    for (HRESULT e : errors)
        if (e != S_OK) return S_FALSE;
    return S_OK;
}

COPCItems::COPCItems(COPCGroupImpl* group) : group_(group) {}

STDMETHODIMP COPCItems::get_Parent(IOPCGroup** ppParent) {
    RETURN_HR_IF(E_INVALIDARG, !ppParent);
    *ppParent = nullptr;
    RETURN_HR_IF(E_FAIL, !group_);
    return group_->QueryInterface(IID_PPV_ARGS(ppParent));
}

STDMETHODIMP COPCItems::get_DefaultRequestedDataType(SHORT* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = static_cast<SHORT>(defaultType_);
    return S_OK;
}

STDMETHODIMP COPCItems::put_DefaultRequestedDataType(SHORT value) {
    defaultType_ = static_cast<VARTYPE>(value);
    return S_OK;
}

STDMETHODIMP COPCItems::get_DefaultAccessPath(BSTR* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    return com::AllocBstr(defaultAccessPath_, value);
}

STDMETHODIMP COPCItems::put_DefaultAccessPath(BSTR value) {
    return com::ComBoundary([&] { defaultAccessPath_ = std::wstring(com::BstrView(value)); });
}

STDMETHODIMP COPCItems::get_DefaultIsActive(VARIANT_BOOL* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = defaultActive_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCItems::put_DefaultIsActive(VARIANT_BOOL value) {
    defaultActive_ = value != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCItems::get_Count(LONG* Count) {
    RETURN_HR_IF(E_INVALIDARG, !Count);
    *Count = static_cast<LONG>(items_.size());
    return S_OK;
}

STDMETHODIMP COPCItems::get__NewEnum(IUnknown** ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppUnk);
        *ppUnk = nullptr;
        std::vector<com::UniqueVariant> entries;
        for (const auto& item : items_) {
            com::UniqueVariant entry;
            V_VT(entry.get()) = VT_DISPATCH;
            RETURN_IF_FAILED(item->QueryInterface(IID_PPV_ARGS(&V_DISPATCH(entry.get()))));
            entries.push_back(std::move(entry));
        }
        com::ComPtr<IEnumVARIANT> enumerator;
        RETURN_IF_FAILED(com::CreateEnumVariant(std::move(entries), enumerator.put()));
        *ppUnk = enumerator.detach();
        return S_OK;
    });
}

STDMETHODIMP COPCItems::Item(VARIANT ItemSpecifier, OPCItem** ppItem) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppItem);
        *ppItem = nullptr;
        com::UniqueVariant specifier;
        RETURN_IF_FAILED(::VariantCopyInd(specifier.put(), &ItemSpecifier));
        if (specifier.vt() == VT_BSTR) {
            const std::wstring_view wanted(com::BstrView(V_BSTR(specifier.get())));
            for (const auto& item : items_)
                if (item->itemId() == wanted) return item->QueryInterface(IID_PPV_ARGS(ppItem));
            return E_FAIL;
        }
        RETURN_HR_IF(E_INVALIDARG, specifier.vt() != VT_I2 && specifier.vt() != VT_I4);
        const LONG position =
            specifier.vt() == VT_I2 ? V_I2(specifier.get()) : V_I4(specifier.get());
        RETURN_HR_IF(E_INVALIDARG, position < 1 || position > static_cast<LONG>(items_.size()));
        return items_[position - 1]->QueryInterface(IID_PPV_ARGS(ppItem));
    });
}

STDMETHODIMP COPCItems::GetOPCItem(LONG ServerHandle, OPCItem** ppItem) {
    RETURN_HR_IF(E_INVALIDARG, !ppItem);
    *ppItem = nullptr;
    auto item = Find(static_cast<DWORD>(ServerHandle));
    RETURN_HR_IF(E_FAIL, !item);
    return item->QueryInterface(IID_PPV_ARGS(ppItem));
}

com::ComPtr<COPCItemImpl> COPCItems::Find(DWORD serverHandle) const {
    com::ComPtr<COPCItemImpl> item;
    handles_.Find(serverHandle, &item);
    return item;
}

HRESULT COPCItems::Resolve(const std::vector<LONG>& serverHandles, ResolvedItems* out) const {
    ResolvedItems resolved;
    resolved.errors.assign(serverHandles.size(), OPC_E_INVALIDHANDLE);
    for (size_t i = 0; i < serverHandles.size(); ++i) {
        auto item = Find(static_cast<DWORD>(serverHandles[i]));
        if (!item) continue;
        resolved.positions.push_back(i);
        resolved.serverHandles.push_back(item->serverItem());
        resolved.items.push_back(std::move(item));
    }
    *out = std::move(resolved);
    return S_OK;
}

HRESULT COPCItems::AddToServer(const std::vector<Request>& requests,
                               std::vector<com::ComPtr<COPCItemImpl>>* made,
                               std::vector<HRESULT>* errors) {
    RETURN_HR_IF(E_FAIL, !group_);
    IOPCItemMgt* itemMgt = group_->ItemMgt();
    RETURN_HR_IF(E_FAIL, !itemMgt);
    std::vector<com::ComPtr<COPCItemImpl>> items;
    std::vector<OPCITEMDEF> definitions(requests.size());
    // Handles taken for this call go again unless the item is kept.
    com::ScopeExit freeHandles([&] {
        for (const auto& item : items)
            if (item && item->handle()) handles_.Remove(item->handle());
    });
    for (size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        com::ComPtr<COPCItemImpl> item;
        RETURN_IF_FAILED(com::MakeObject(&item, group_, r.itemId, r.accessPath, r.clientHandle,
                                         defaultActive_, r.requestedType));
        const DWORD handle = handles_.Add(item);
        RETURN_HR_IF(E_OUTOFMEMORY, handle == 0);
        OPCITEMRESULT none = {};
        item->Added(handle, none);
        OPCITEMDEF& d = definitions[i];
        d.szAccessPath = const_cast<LPWSTR>(r.accessPath.c_str());
        d.szItemID = const_cast<LPWSTR>(r.itemId.c_str());
        d.bActive = defaultActive_ ? TRUE : FALSE;
        d.hClient = handle;
        d.vtRequestedDataType = r.requestedType;
        items.push_back(std::move(item));
    }
    OPCITEMRESULT* rawResults = nullptr;
    HRESULT* rawErrors = nullptr;
    const HRESULT hr = itemMgt->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                         &rawResults, &rawErrors);
    com::CoTaskMem<OPCITEMRESULT> results(rawResults);
    com::CoTaskMem<HRESULT> serverErrors(rawErrors);
    com::ScopeExit freeBlobs([&] {
        for (size_t i = 0; rawResults && i < requests.size(); ++i)
            ::CoTaskMemFree(rawResults[i].pBlob);
    });
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(E_FAIL, !rawResults || !rawErrors);
    made->assign(requests.size(), nullptr);
    errors->assign(requests.size(), S_OK);
    for (size_t i = 0; i < requests.size(); ++i) {
        (*errors)[i] = serverErrors[i];
        if (FAILED(serverErrors[i])) continue;
        items[i]->Added(items[i]->handle(), results[i]);
        items_.push_back(items[i]);
        (*made)[i] = std::move(items[i]);
    }
    return hr;
}

STDMETHODIMP COPCItems::AddItem(BSTR ItemID, LONG ClientHandle, OPCItem** ppItem) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppItem);
        *ppItem = nullptr;
        std::vector<Request> requests{
            {std::wstring(com::BstrView(ItemID)), defaultAccessPath_, defaultType_, ClientHandle}};
        std::vector<com::ComPtr<COPCItemImpl>> made;
        std::vector<HRESULT> errors;
        RETURN_IF_FAILED(AddToServer(requests, &made, &errors));
        // The item's own failure, not success without an item.
        if (FAILED(errors[0])) return errors[0];
        return made[0]->QueryInterface(IID_PPV_ARGS(ppItem));
    });
}

HRESULT COPCItems::ReadOptions(LONG count, const VARIANT& types, const VARIANT& paths,
                               std::vector<Request>* requests) const {
    for (auto& r : *requests) {
        r.requestedType = defaultType_;
        r.accessPath = defaultAccessPath_;
    }
    const VARIANT* t = V_VT(&types) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&types) : &types;
    const VARIANT* p = V_VT(&paths) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&paths) : &paths;
    auto arrayOf = [](const VARIANT* v, VARTYPE vt) -> SAFEARRAY* {
        if (V_VT(v) == (VT_ARRAY | vt)) return V_ARRAY(v);
        if (V_VT(v) == (VT_BYREF | VT_ARRAY | vt)) return *V_ARRAYREF(v);
        return nullptr;
    };
    if (SAFEARRAY* array = arrayOf(t, VT_I2)) {
        std::vector<LONG> values;
        RETURN_IF_FAILED(ReadClientLongs(array, count, &values));
        for (LONG i = 0; i < count; ++i)
            (*requests)[i].requestedType = static_cast<VARTYPE>(values[i]);
    }
    if (SAFEARRAY* array = arrayOf(p, VT_BSTR)) {
        std::vector<std::wstring> values;
        RETURN_IF_FAILED(ReadClientStrings(array, count, &values));
        for (LONG i = 0; i < count; ++i) (*requests)[i].accessPath = std::move(values[i]);
    }
    return S_OK;
}

STDMETHODIMP COPCItems::AddItems(LONG NumItems, SAFEARRAY** ItemIDs, SAFEARRAY** ClientHandles,
                                 SAFEARRAY** ServerHandles, SAFEARRAY** Errors,
                                 VARIANT RequestedDataTypes, VARIANT AccessPaths) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ItemIDs || !ClientHandles || !ServerHandles || !Errors);
        std::vector<std::wstring> ids;
        std::vector<LONG> clientHandles;
        RETURN_IF_FAILED(ReadClientStrings(*ItemIDs, NumItems, &ids));
        RETURN_IF_FAILED(ReadClientLongs(*ClientHandles, NumItems, &clientHandles));
        std::vector<Request> requests(ids.size());
        RETURN_IF_FAILED(ReadOptions(NumItems, RequestedDataTypes, AccessPaths, &requests));
        for (size_t i = 0; i < ids.size(); ++i) {
            requests[i].itemId = std::move(ids[i]);
            requests[i].clientHandle = clientHandles[i];
        }
        std::vector<com::ComPtr<COPCItemImpl>> made;
        std::vector<HRESULT> errors;
        const HRESULT hr = AddToServer(requests, &made, &errors);
        RETURN_IF_FAILED(hr);
        std::vector<LONG> handles(made.size(), 0);
        for (size_t i = 0; i < made.size(); ++i)
            if (made[i]) handles[i] = static_cast<LONG>(made[i]->handle());
        com::UniqueSafeArray handleArray;
        RETURN_IF_FAILED(PutOneBasedLongs(handles, handleArray.put()));
        RETURN_IF_FAILED(PutOneBasedLongs(std::vector<LONG>(errors.begin(), errors.end()), Errors));
        *ServerHandles = handleArray.release();
        return hr;
    });
}

void COPCItems::Forget(const com::ComPtr<COPCItemImpl>& item) {
    handles_.Remove(item->handle());
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (*it == item) {
            items_.erase(it);
            break;
        }
    }
    item->Detach();
}

STDMETHODIMP COPCItems::Remove(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Errors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ServerHandles || !Errors);
        std::vector<LONG> handles;
        RETURN_IF_FAILED(ReadClientLongs(*ServerHandles, NumItems, &handles));
        RETURN_HR_IF(E_FAIL, !group_);
        IOPCItemMgt* itemMgt = group_->ItemMgt();
        RETURN_HR_IF(E_FAIL, !itemMgt);
        ResolvedItems resolved;
        RETURN_IF_FAILED(Resolve(handles, &resolved));
        if (!resolved.serverHandles.empty()) {
            HRESULT* rawErrors = nullptr;
            RETURN_IF_FAILED(itemMgt->RemoveItems(static_cast<DWORD>(resolved.serverHandles.size()),
                                                  resolved.serverHandles.data(), &rawErrors));
            com::CoTaskMem<HRESULT> serverErrors(rawErrors);
            resolved.Merge(rawErrors);
            for (size_t k = 0; k < resolved.items.size(); ++k)
                if (SUCCEEDED(resolved.errors[resolved.positions[k]])) Forget(resolved.items[k]);
        }
        RETURN_IF_FAILED(PutOneBasedLongs(
            std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
        return resolved.Result();
    });
}

STDMETHODIMP COPCItems::Validate(LONG NumItems, SAFEARRAY** ItemIDs, SAFEARRAY** Errors,
                                 VARIANT RequestedDataTypes, VARIANT AccessPaths) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ItemIDs || !Errors);
        std::vector<std::wstring> ids;
        RETURN_IF_FAILED(ReadClientStrings(*ItemIDs, NumItems, &ids));
        std::vector<Request> requests(ids.size());
        RETURN_IF_FAILED(ReadOptions(NumItems, RequestedDataTypes, AccessPaths, &requests));
        RETURN_HR_IF(E_FAIL, !group_);
        IOPCItemMgt* itemMgt = group_->ItemMgt();
        RETURN_HR_IF(E_FAIL, !itemMgt);
        std::vector<OPCITEMDEF> definitions(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) {
            requests[i].itemId = std::move(ids[i]);
            definitions[i].szItemID = const_cast<LPWSTR>(requests[i].itemId.c_str());
            definitions[i].szAccessPath = const_cast<LPWSTR>(requests[i].accessPath.c_str());
            definitions[i].bActive = defaultActive_ ? TRUE : FALSE;
            definitions[i].vtRequestedDataType = requests[i].requestedType;
        }
        OPCITEMRESULT* rawResults = nullptr;
        HRESULT* rawErrors = nullptr;
        const HRESULT hr =
            itemMgt->ValidateItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                   FALSE, &rawResults, &rawErrors);
        com::CoTaskMem<OPCITEMRESULT> results(rawResults);
        com::CoTaskMem<HRESULT> serverErrors(rawErrors);
        com::ScopeExit freeBlobs([&] {
            for (size_t i = 0; rawResults && i < definitions.size(); ++i)
                ::CoTaskMemFree(rawResults[i].pBlob);
        });
        RETURN_IF_FAILED(hr);
        RETURN_HR_IF(E_FAIL, !rawErrors);
        RETURN_IF_FAILED(
            PutOneBasedLongs(std::vector<LONG>(rawErrors, rawErrors + definitions.size()), Errors));
        return hr;
    });
}

namespace {
// One per-item call of IOPCItemMgt over the client's handles; unknown handles are not passed.
template <class Call>
HRESULT PerItem(const COPCItems& items, IOPCItemMgt* itemMgt, const std::vector<LONG>& handles,
                SAFEARRAY** Errors, Call call) {
    RETURN_HR_IF(E_FAIL, !itemMgt);
    ResolvedItems resolved;
    RETURN_IF_FAILED(items.Resolve(handles, &resolved));
    if (!resolved.serverHandles.empty()) {
        HRESULT* rawErrors = nullptr;
        RETURN_IF_FAILED(call(resolved, &rawErrors));
        com::CoTaskMem<HRESULT> serverErrors(rawErrors);
        resolved.Merge(rawErrors);
    }
    RETURN_IF_FAILED(PutOneBasedLongs(
        std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
    return resolved.Result();
}
}  // namespace

STDMETHODIMP COPCItems::SetActive(LONG NumItems, SAFEARRAY** ServerHandles,
                                  VARIANT_BOOL ActiveState, SAFEARRAY** Errors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ServerHandles || !Errors);
        std::vector<LONG> handles;
        RETURN_IF_FAILED(ReadClientLongs(*ServerHandles, NumItems, &handles));
        RETURN_HR_IF(E_FAIL, !group_);
        const BOOL active = ActiveState ? TRUE : FALSE;
        return PerItem(
            *this, group_->ItemMgt(), handles, Errors, [&](ResolvedItems& r, HRESULT** errors) {
                const HRESULT hr =
                    group_->ItemMgt()->SetActiveState(static_cast<DWORD>(r.serverHandles.size()),
                                                      r.serverHandles.data(), active, errors);
                for (size_t k = 0; SUCCEEDED(hr) && *errors && k < r.items.size(); ++k)
                    if (SUCCEEDED((*errors)[k])) r.items[k]->set_active(active);
                return hr;
            });
    });
}

STDMETHODIMP COPCItems::SetClientHandles(LONG NumItems, SAFEARRAY** ServerHandles,
                                         SAFEARRAY** ClientHandles, SAFEARRAY** Errors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ServerHandles || !ClientHandles || !Errors);
        std::vector<LONG> handles, clientHandles;
        RETURN_IF_FAILED(ReadClientLongs(*ServerHandles, NumItems, &handles));
        RETURN_IF_FAILED(ReadClientLongs(*ClientHandles, NumItems, &clientHandles));
        ResolvedItems resolved;
        RETURN_IF_FAILED(Resolve(handles, &resolved));
        // The OPC server keeps knowing the items by the wrapper's handles: nothing to tell it.
        for (size_t k = 0; k < resolved.items.size(); ++k) {
            resolved.items[k]->set_clientHandle(clientHandles[resolved.positions[k]]);
            resolved.errors[resolved.positions[k]] = S_OK;
        }
        RETURN_IF_FAILED(PutOneBasedLongs(
            std::vector<LONG>(resolved.errors.begin(), resolved.errors.end()), Errors));
        return resolved.Result();
    });
}

STDMETHODIMP COPCItems::SetDataTypes(LONG NumItems, SAFEARRAY** ServerHandles,
                                     SAFEARRAY** RequestedDataTypes, SAFEARRAY** Errors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ServerHandles || !RequestedDataTypes || !Errors);
        std::vector<LONG> handles, types;
        RETURN_IF_FAILED(ReadClientLongs(*ServerHandles, NumItems, &handles));
        RETURN_IF_FAILED(ReadClientLongs(*RequestedDataTypes, NumItems, &types));
        RETURN_HR_IF(E_FAIL, !group_);
        return PerItem(
            *this, group_->ItemMgt(), handles, Errors, [&](ResolvedItems& r, HRESULT** errors) {
                std::vector<VARTYPE> wanted;
                for (size_t position : r.positions)
                    wanted.push_back(static_cast<VARTYPE>(types[position]));
                const HRESULT hr =
                    group_->ItemMgt()->SetDatatypes(static_cast<DWORD>(r.serverHandles.size()),
                                                    r.serverHandles.data(), wanted.data(), errors);
                for (size_t k = 0; SUCCEEDED(hr) && *errors && k < r.items.size(); ++k)
                    if (SUCCEEDED((*errors)[k])) r.items[k]->set_requestedType(wanted[k]);
                return hr;
            });
    });
}

void COPCItems::RemoveAllFromServer() {
    if (group_ && !items_.empty()) {
        if (IOPCItemMgt* itemMgt = group_->ItemMgt()) {
            std::vector<OPCHANDLE> serverHandles;
            for (const auto& item : items_) serverHandles.push_back(item->serverItem());
            HRESULT* rawErrors = nullptr;
            itemMgt->RemoveItems(static_cast<DWORD>(serverHandles.size()), serverHandles.data(),
                                 &rawErrors);
            ::CoTaskMemFree(rawErrors);
        }
    }
    for (const auto& item : items_) item->Detach();
    items_.clear();
    handles_.Clear();
}

void COPCItems::Detach() {
    for (const auto& item : items_) item->Detach();
    group_ = nullptr;
}

}  // namespace vkauto
