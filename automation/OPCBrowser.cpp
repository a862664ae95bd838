#include "OPCBrowser.h"

#include "ClientArrays.h"
#include "OPCAutoServer.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Memory.h"
#include "com/Variant.h"

namespace vkauto {
namespace {

constexpr ULONG kNamesPerCall = 100;

// Every name of an enumerator, 100 at a time.
HRESULT ReadAll(IEnumString* names, std::vector<std::wstring>* out) {
    for (;;) {
        LPOLESTR batch[kNamesPerCall] = {};
        ULONG fetched = 0;
        const HRESULT hr = names->Next(kNamesPerCall, batch, &fetched);
        if (FAILED(hr)) return hr;
        for (ULONG i = 0; i < fetched && i < kNamesPerCall; ++i) {
            com::CoTaskMem<wchar_t> name(batch[i]);
            out->emplace_back(batch[i] ? batch[i] : L"");
        }
        if (hr != S_OK || fetched < kNamesPerCall) return S_OK;
    }
}

}  // namespace

COPCBrowserImpl::COPCBrowserImpl(COPCAutoServer* server, IOPCBrowseServerAddressSpace* browse)
    : server_(server), browse_(browse) {}

void COPCBrowserImpl::FinalRelease() {
    if (server_) server_->ForgetBrowser(this);
}

void COPCBrowserImpl::Detach() {
    server_ = nullptr;
    browse_.reset();
}

STDMETHODIMP COPCBrowserImpl::get_Organization(LONG* Organization) {
    RETURN_HR_IF(E_INVALIDARG, !Organization);
    OPCNAMESPACETYPE type = OPC_NS_FLAT;
    RETURN_HR_IF(E_FAIL, !browse_);
    RETURN_IF_FAILED(browse_->QueryOrganization(&type));
    *Organization = static_cast<LONG>(type);
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::get_Filter(BSTR* Filter) {
    RETURN_HR_IF(E_INVALIDARG, !Filter);
    return com::AllocBstr(filter_, Filter);
}

STDMETHODIMP COPCBrowserImpl::put_Filter(BSTR Filter) {
    return com::ComBoundary([&] { filter_ = std::wstring(com::BstrView(Filter)); });
}

STDMETHODIMP COPCBrowserImpl::get_DataType(SHORT* DataType) {
    RETURN_HR_IF(E_INVALIDARG, !DataType);
    *DataType = static_cast<SHORT>(dataType_);
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::put_DataType(SHORT DataType) {
    dataType_ = static_cast<VARTYPE>(DataType);
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::get_AccessRights(LONG* AccessRights) {
    RETURN_HR_IF(E_INVALIDARG, !AccessRights);
    *AccessRights = static_cast<LONG>(accessRights_);
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::put_AccessRights(LONG AccessRights) {
    accessRights_ = static_cast<DWORD>(AccessRights);
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::get_CurrentPosition(BSTR* CurrentPosition) {
    RETURN_HR_IF(E_INVALIDARG, !CurrentPosition);
    *CurrentPosition = nullptr;
    // The position is the item ID of the empty name at the current branch.
    LPWSTR position = nullptr;
    RETURN_HR_IF(E_FAIL, !browse_);
    RETURN_IF_FAILED(browse_->GetItemID(const_cast<LPWSTR>(L""), &position));
    com::CoTaskMem<wchar_t> owned(position);
    return com::AllocBstr(position ? position : L"", CurrentPosition);
}

STDMETHODIMP COPCBrowserImpl::get_Count(LONG* Count) {
    RETURN_HR_IF(E_INVALIDARG, !Count);
    *Count = static_cast<LONG>(names_.size());
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::get__NewEnum(IUnknown** ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppUnk);
        *ppUnk = nullptr;
        std::vector<com::UniqueVariant> entries;
        for (const auto& name : names_) entries.emplace_back(std::wstring_view(name));
        com::ComPtr<IEnumVARIANT> enumerator;
        RETURN_IF_FAILED(com::CreateEnumVariant(std::move(entries), enumerator.put()));
        *ppUnk = enumerator.detach();
        return S_OK;
    });
}

STDMETHODIMP COPCBrowserImpl::Item(VARIANT ItemSpecifier, BSTR* Item) {
    RETURN_HR_IF(E_INVALIDARG, !Item);
    *Item = nullptr;
    com::UniqueVariant index;
    RETURN_HR_IF(E_INVALIDARG, FAILED(::VariantChangeType(index.put(), &ItemSpecifier, 0, VT_I4)));
    const LONG position = V_I4(index.get());
    RETURN_HR_IF(E_INVALIDARG, position < 1 || position > static_cast<LONG>(names_.size()));
    return com::AllocBstr(names_[position - 1], Item);
}

HRESULT COPCBrowserImpl::Fill(OPCBROWSETYPE type) {
    return com::ComBoundary([&]() -> HRESULT {
        names_.clear();
        RETURN_HR_IF(E_FAIL, !browse_);
        com::ComPtr<IEnumString> names;
        const HRESULT hr =
            browse_->BrowseOPCItemIDs(type, filter_.c_str(), dataType_, accessRights_, names.put());
        RETURN_IF_FAILED(hr);
        // S_FALSE: nothing matched (an enumerator may still come, or not).
        if (!names) return S_OK;
        std::vector<std::wstring> found;
        RETURN_IF_FAILED(ReadAll(names.get(), &found));
        names_ = std::move(found);
        return S_OK;
    });
}

STDMETHODIMP COPCBrowserImpl::ShowBranches() { return Fill(OPC_BRANCH); }

STDMETHODIMP COPCBrowserImpl::ShowLeafs(VARIANT Flat) {
    const VARIANT* flat = V_VT(&Flat) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&Flat) : &Flat;
    const bool isFlat = V_VT(flat) == VT_BOOL && V_BOOL(flat) != VARIANT_FALSE;
    return Fill(isFlat ? OPC_FLAT : OPC_LEAF);
}

STDMETHODIMP COPCBrowserImpl::MoveUp() {
    RETURN_HR_IF(E_FAIL, !browse_);
    return browse_->ChangeBrowsePosition(OPC_BROWSE_UP, L"");
}

STDMETHODIMP COPCBrowserImpl::MoveToRoot() {
    RETURN_HR_IF(E_FAIL, !browse_);
    // Up until the server refuses: at the root, or a server that cannot go further.
    for (int depth = 0; depth < 256; ++depth)
        if (FAILED(browse_->ChangeBrowsePosition(OPC_BROWSE_UP, L""))) break;
    return S_OK;
}

STDMETHODIMP COPCBrowserImpl::MoveDown(BSTR Branch) {
    return com::ComBoundary([&] {
        const std::wstring branch(com::BstrView(Branch));
        RETURN_HR_IF(E_FAIL, !browse_);
        return browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, branch.c_str());
    });
}

STDMETHODIMP COPCBrowserImpl::MoveTo(SAFEARRAY** Branches) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !Branches || !*Branches);
        LONG lower = 0, upper = -1;
        RETURN_HR_IF(E_INVALIDARG, ::SafeArrayGetDim(*Branches) != 1);
        ::SafeArrayGetLBound(*Branches, 1, &lower);
        ::SafeArrayGetUBound(*Branches, 1, &upper);
        std::vector<std::wstring> path;
        if (upper >= lower) RETURN_IF_FAILED(ReadClientStrings(*Branches, upper, &path));
        // A 0-based array's element 0 is part of the path too.
        if (lower == 0) {
            com::UniqueVariant first;
            LONG index = 0;
            VARTYPE vt = VT_EMPTY;
            ::SafeArrayGetVartype(*Branches, &vt);
            BSTR text = nullptr;
            if (vt == VT_BSTR && SUCCEEDED(::SafeArrayGetElement(*Branches, &index, &text))) {
                path.insert(path.begin(), text ? text : L"");
                ::SysFreeString(text);
            } else if (vt == VT_VARIANT &&
                       SUCCEEDED(::SafeArrayGetElement(*Branches, &index, first.put())) &&
                       SUCCEEDED(::VariantChangeType(first.get(), first.get(), 0, VT_BSTR))) {
                path.insert(path.begin(), V_BSTR(first.get()) ? V_BSTR(first.get()) : L"");
            }
        }
        RETURN_IF_FAILED(MoveToRoot());
        for (const auto& branch : path)
            RETURN_IF_FAILED(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, branch.c_str()));
        return S_OK;
    });
}

STDMETHODIMP COPCBrowserImpl::GetItemID(BSTR Leaf, BSTR* ItemID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ItemID);
        *ItemID = nullptr;
        std::wstring leaf(com::BstrView(Leaf));
        LPWSTR id = nullptr;
        RETURN_HR_IF(E_FAIL, !browse_);
        RETURN_IF_FAILED(browse_->GetItemID(leaf.data(), &id));
        com::CoTaskMem<wchar_t> owned(id);
        return com::AllocBstr(id ? id : L"", ItemID);
    });
}

STDMETHODIMP COPCBrowserImpl::GetAccessPaths(BSTR ItemID, VARIANT* AccessPaths) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !AccessPaths);
        const std::wstring id(com::BstrView(ItemID));
        com::ComPtr<IEnumString> paths;
        RETURN_HR_IF(E_FAIL, !browse_);
        const HRESULT hr = browse_->BrowseAccessPaths(id.c_str(), paths.put());
        RETURN_IF_FAILED(hr);
        std::vector<std::wstring> found;
        if (paths) RETURN_IF_FAILED(ReadAll(paths.get(), &found));
        com::UniqueSafeArray array;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_VARIANT, static_cast<ULONG>(found.size()), &array));
        for (size_t i = 0; i < found.size(); ++i) {
            LONG index = static_cast<LONG>(i) + 1;
            com::UniqueVariant text{std::wstring_view(found[i])};
            RETURN_IF_FAILED(::SafeArrayPutElement(array.get(), &index, text.get()));
        }
        ::VariantInit(AccessPaths);
        V_VT(AccessPaths) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(AccessPaths) = array.release();
        return hr;
    });
}

}  // namespace vkauto
