#include "OPCBrowseImpl.h"

#include "NamePattern.h"
#include "OPCOrvane.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Memory.h"
#include "com/Result.h"

namespace {

constexpr unsigned short kHiddenFromBrowsing = 0x0001;
constexpr int kMaxDepth = 32;  // far below any real tree; ends a cycle of foreign nodes

HRESULT ItemsOf(VKModelCollection* collection, std::vector<com::ComPtr<IUnknown>>* out) {
    long count = 0;
    RETURN_IF_FAILED(collection->GetCount(&count));
    for (long i = 0; i < count; ++i) {
        com::ComPtr<IUnknown> item;
        RETURN_IF_FAILED(collection->GetItem(i, item.put()));
        if (item) out->push_back(std::move(item));
    }
    return S_OK;
}

HRESULT Objects(VKModelObject* node, std::vector<com::ComPtr<IUnknown>>* out) {
    com::ComPtr<VKModelCollection> collection;
    if (FAILED(node->GetObjects(collection.put())) || !collection) return E_FAIL;
    return SUCCEEDED(ItemsOf(collection.get(), out)) ? S_OK : E_FAIL;
}

HRESULT Parameters(VKModelObject* node, std::vector<com::ComPtr<IUnknown>>* out) {
    com::ComPtr<VKModelCollection> collection;
    if (FAILED(node->GetParameters(collection.put())) || !collection) return E_FAIL;
    return SUCCEEDED(ItemsOf(collection.get(), out)) ? S_OK : E_FAIL;
}

}  // namespace

COPCBrowseServerAddressSpaceImpl::COPCBrowseServerAddressSpaceImpl(OPCOrvane* owner)
    : TearOff(owner), root_(owner->model()), position_(owner->model()) {}

void COPCBrowseServerAddressSpaceImpl::CheckNameSpace() {
    if (checked_) return;
    long checked = 0;
    owner()->CheckNameSpace(&checked);  // a failed check still lets the caller browse
    checked_ = checked;
}

com::ComPtr<VKModelObject> COPCBrowseServerAddressSpaceImpl::position() const {
    com::CsLock guard(lock_);
    return position_;
}

STDMETHODIMP COPCBrowseServerAddressSpaceImpl::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    return com::ComBoundary([&]() -> HRESULT {
        CheckNameSpace();
        if (!pNameSpaceType) return E_INVALIDARG;
        *pNameSpaceType = OPC_NS_HIERARCHIAL;
        return S_OK;
    });
}

STDMETHODIMP COPCBrowseServerAddressSpaceImpl::ChangeBrowsePosition(
    OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szString) return E_INVALIDARG;
        if (dwBrowseDirection != OPC_BROWSE_UP && dwBrowseDirection != OPC_BROWSE_DOWN &&
            dwBrowseDirection != OPC_BROWSE_TO)
            return E_INVALIDARG;
        CheckNameSpace();
        if (!root_) return E_FAIL;
        const com::ComPtr<VKModelObject> here = position();
        com::ComPtr<IUnknown> next;
        if (dwBrowseDirection == OPC_BROWSE_UP) {
            if (FAILED(here->GetParent(next.put())) || !next) return E_FAIL;
        } else if (dwBrowseDirection == OPC_BROWSE_TO && !*szString) {
            next = root_;
        } else {
            VKModelObject* from = dwBrowseDirection == OPC_BROWSE_DOWN ? here.get() : root_.get();
            com::UniqueBstr path(szString);
            RETURN_IF_FAILED(from->FindObject(path.get(), next.put()));
            if (!next) return E_FAIL;
        }
        com::ComPtr<VKModelObject> node;
        RETURN_IF_FAILED(next.query(&node));
        com::CsLock guard(lock_);
        position_ = std::move(node);
        return S_OK;
    });
}

HRESULT COPCBrowseServerAddressSpaceImpl::ListLeaves(VKModelObject* node, VKModelObject* base,
                                                     const LeafFilter& filter, bool flat, int depth,
                                                     std::vector<std::wstring>* out) {
    if (depth > kMaxDepth) return S_OK;
    std::vector<com::ComPtr<IUnknown>> parameters;
    RETURN_IF_FAILED(Parameters(node, &parameters));
    for (const com::ComPtr<IUnknown>& unknown : parameters) {
        com::ComPtr<VKModelParameter> parameter;
        if (FAILED(unknown.query(&parameter))) continue;
        unsigned short flags = 0;
        if (auto second = unknown.try_query<VKModelParameter2>();
            second && SUCCEEDED(second->GetFlags(&flags)) && (flags & kHiddenFromBrowsing))
            continue;
        com::UniqueBstr accessPath, path, name;
        long rights = 0;
        VARTYPE vt = VT_EMPTY;
        com::UniqueVariant initial;
        if (FAILED(parameter->GetInit(accessPath.put(), &rights, &vt, initial.put()))) continue;
        if (filter.vt != VT_EMPTY && filter.vt != vt) continue;
        if (filter.rights && !(filter.rights & static_cast<DWORD>(rights))) continue;
        if (FAILED(parameter->GetPath(path.put())) ||
            !MatchNamePattern(path.view(), filter.pattern))
            continue;
        const HRESULT named =
            flat ? parameter->GetRelativePath(base, name.put()) : parameter->GetName(name.put());
        if (SUCCEEDED(named)) out->push_back(name.str());
    }
    if (!flat) return S_OK;
    std::vector<com::ComPtr<IUnknown>> children;
    RETURN_IF_FAILED(Objects(node, &children));
    for (const com::ComPtr<IUnknown>& unknown : children) {
        com::ComPtr<VKModelObject> child;
        if (SUCCEEDED(unknown.query(&child)))
            RETURN_IF_FAILED(ListLeaves(child.get(), base, filter, true, depth + 1, out));
    }
    return S_OK;
}

STDMETHODIMP COPCBrowseServerAddressSpaceImpl::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                                                LPCWSTR szFilterCriteria,
                                                                VARTYPE vtDataTypeFilter,
                                                                DWORD dwAccessRightsFilter,
                                                                LPENUMSTRING* ppIEnumString) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppIEnumString);
        *ppIEnumString = nullptr;
        CheckNameSpace();
        const com::ComPtr<VKModelObject> here = position();
        std::vector<std::wstring> names;
        if (!here) return com::CreateEnumString(std::move(names), ppIEnumString);
        if (dwBrowseFilterType == OPC_BRANCH) {
            std::vector<com::ComPtr<IUnknown>> children;
            RETURN_IF_FAILED(Objects(here.get(), &children));
            for (const com::ComPtr<IUnknown>& unknown : children) {
                com::ComPtr<VKModelObject> child;
                com::UniqueBstr name;
                if (SUCCEEDED(unknown.query(&child)) && SUCCEEDED(child->GetName(name.put())))
                    names.push_back(name.str());
            }
        } else if (dwBrowseFilterType == OPC_LEAF || dwBrowseFilterType == OPC_FLAT) {
            const LeafFilter filter{szFilterCriteria ? szFilterCriteria : L"", vtDataTypeFilter,
                                    dwAccessRightsFilter};
            if (FAILED(ListLeaves(here.get(), here.get(), filter, dwBrowseFilterType == OPC_FLAT, 0,
                                  &names)))
                return E_FAIL;
        }
        return com::CreateEnumString(std::move(names), ppIEnumString);
    });
}

STDMETHODIMP COPCBrowseServerAddressSpaceImpl::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szItemDataID || !szItemID) return E_INVALIDARG;
        *szItemID = nullptr;
        if (!*szItemDataID) return com::CoTaskMemString(L"", szItemID);
        const com::ComPtr<VKModelObject> here = position();
        if (!here) return E_FAIL;
        com::UniqueBstr name(szItemDataID);
        com::UniqueBstr path;
        com::ComPtr<IUnknown> found;
        HRESULT hr = here->FindParameter(name.get(), found.put());
        if (hr == S_OK && found) {
            com::ComPtr<VKModelParameter> parameter;
            hr = found.query(&parameter);
            if (SUCCEEDED(hr)) hr = parameter->GetPath(path.put());
        } else {
            hr = here->FindObject(name.get(), found.put());
            if (SUCCEEDED(hr) && !found) hr = E_FAIL;
            if (SUCCEEDED(hr)) {
                com::ComPtr<VKModelObject> node;
                hr = FAILED(found.query(&node)) ? E_UNEXPECTED : node->GetPath(path.put());
            }
        }
        if (hr == E_FAIL) return OPC_E_UNKNOWNITEMID;
        RETURN_IF_FAILED(hr);
        return com::CoTaskMemString(path.view(), szItemID);
    });
}

STDMETHODIMP COPCBrowseServerAddressSpaceImpl::BrowseAccessPaths(LPCWSTR szItemID,
                                                                 LPENUMSTRING* ppIEnumString) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szItemID || !*szItemID || !ppIEnumString) return E_INVALIDARG;
        *ppIEnumString = nullptr;
        if (!root_) return E_FAIL;
        com::UniqueBstr id(szItemID);
        com::ComPtr<IUnknown> found;
        std::vector<std::wstring> paths;
        if (root_->FindParameter(id.get(), found.put()) == S_OK && found) {
            com::ComPtr<VKModelParameter> parameter;
            RETURN_IF_FAILED(found.query(&parameter));
            com::UniqueBstr path;
            RETURN_IF_FAILED(parameter->GetAccessPath(path.put()));
            paths.push_back(path.str());
            return com::CreateEnumString(std::move(paths), ppIEnumString);
        }
        const HRESULT hr = root_->FindObject(id.get(), found.put());
        if (hr == E_FAIL) return S_FALSE;
        RETURN_IF_FAILED(hr);
        return com::CreateEnumString(std::move(paths), ppIEnumString);
    });
}
