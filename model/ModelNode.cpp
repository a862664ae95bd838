#include "ModelNode.h"

#include <utility>

#include "ModelCollection.h"
#include "PathRules.h"
#include "com/Bstr.h"
#include "com/Memory.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "opcerror.h"

namespace model {
namespace {

// Class-id text: empty = fallback, "{...}" = CLSID, anything else a ProgID.
HRESULT ResolveClass(BSTR text, REFCLSID fallback, CLSID* out) {
    const std::wstring_view view = com::BstrView(text);
    if (view.empty()) {
        *out = fallback;
        return S_OK;
    }
    const std::wstring copy(view);
    if (copy.front() == L'{') return ::CLSIDFromString(copy.c_str(), out);
    return ::CLSIDFromProgID(copy.c_str(), out);
}

HRESULT Identity(IUnknown* unknown, com::ComPtr<IUnknown>* out) {
    return unknown->QueryInterface(IID_IUnknown, out->put_void());
}

// Tells a parameter that `parent` lets go of it; false when its class cannot be told.
bool DetachParameter(IUnknown* parameter, IUnknown* parent) noexcept {
    com::ComPtr<IVkModelParentLink> link;
    if (FAILED(parameter->QueryInterface(IID_IVkModelParentLink, link.put_void()))) return false;
    link->ParentGone(parent);
    return true;
}

}  // namespace

HRESULT CModelNode::Create(std::wstring_view name, com::ComPtr<CModelNode>* out) {
    RETURN_IF_FAILED(com::MakeObject(out));
    return com::ComBoundary([&] { (*out)->name_.assign(name); });
}

CModelNode* CModelNode::FromUnknown(IUnknown* unknown) noexcept {
    return com::ImplementationOf<CModelNode>(unknown);
}

HRESULT CModelNode::QueryInterfaceHook(REFIID riid, void** ppv) {
    if (com::AnswerImplementation(this, riid, ppv)) return S_OK;
    return E_NOINTERFACE;
}

void CModelNode::FinalRelease() {
    // Child nodes and parameters that someone still holds lose their parent.
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (CModelNode* child = objects_.at(i).node) child->parent_ = nullptr;
    }
    for (size_t i = 0; i < parameters_.size(); ++i)
        DetachParameter(parameters_.at(i).item.get(), identity());
}

bool CModelNode::OnlyKnownParts() noexcept {
    for (size_t i = 0; i < parameters_.size(); ++i) {
        com::ComPtr<IVkModelParentLink> link;
        if (FAILED(parameters_.at(i).item.query(&link))) return false;
    }
    for (size_t i = 0; i < objects_.size(); ++i) {
        CModelNode* child = objects_.at(i).node;
        if (!child || !child->OnlyKnownParts()) return false;
    }
    return true;
}

bool CModelNode::NameTaken(std::wstring_view name) const noexcept {
    return parameters_.Find(name) != NamedItems::npos || objects_.Find(name) != NamedItems::npos;
}

CModelNode* CModelNode::TopNode() noexcept {
    CModelNode* node = this;
    while (CModelNode* parent = FromUnknown(node->parent_)) node = parent;
    return node;
}

void CModelNode::Retire(NamedItems::Entry entry) {
    if (!entry.node) {
        TopNode()->retired_.push_back(std::move(entry.item));
        return;
    }
    entry.node->parent_ = nullptr;
    // Its parameters learn of their parent's end from the node itself, so it may go
    // as soon as nobody holds it; only parts that keep this tree without a
    // reference and cannot be told stay with the top node.
    if (!entry.node->OnlyKnownParts()) TopNode()->retired_.push_back(std::move(entry.item));
}

HRESULT CModelNode::PathOf(std::wstring* out) {
    if (!parent_) {
        out->clear();
        return S_OK;
    }
    std::wstring parent_path;
    if (CModelNode* parent = FromUnknown(parent_)) {
        RETURN_IF_FAILED(parent->PathOf(&parent_path));
    } else {
        com::ComPtr<VKModelObject> foreign;
        RETURN_IF_FAILED(parent_->QueryInterface(IID_VKModelObject, foreign.put_void()));
        com::UniqueBstr text;
        RETURN_IF_FAILED(foreign->GetPath(text.put()));
        parent_path = text.str();
    }
    *out = JoinPath(parent_path, name_);
    return S_OK;
}

HRESULT CModelNode::RelativePathOf(IUnknown* ancestor, std::wstring* out) {
    if (ancestor == identity()) {
        out->clear();
        return S_OK;
    }
    // Not below the ancestor at all.
    RETURN_HR_IF(E_INVALIDARG, !parent_);
    if (parent_ == ancestor) {
        *out = name_;
        return S_OK;
    }
    std::wstring parent_path;
    if (CModelNode* parent = FromUnknown(parent_)) {
        RETURN_IF_FAILED(parent->RelativePathOf(ancestor, &parent_path));
    } else {
        com::ComPtr<VKModelObject> foreign;
        RETURN_IF_FAILED(parent_->QueryInterface(IID_VKModelObject, foreign.put_void()));
        com::UniqueBstr text;
        RETURN_IF_FAILED(foreign->GetRelativePath(ancestor, text.put()));
        parent_path = text.str();
    }
    *out = JoinPath(parent_path, name_);
    return S_OK;
}

HRESULT CModelNode::ReKeyParameter(std::wstring_view old_name, std::wstring_view new_name) {
    const size_t index = parameters_.Find(old_name);
    RETURN_HR_IF(E_INVALIDARG, index == NamedItems::npos || !IsValidParameterName(new_name));
    if (old_name == new_name) return S_OK;
    RETURN_HR_IF(kNameExists, NameTaken(new_name));
    parameters_.Rename(index, std::wstring(new_name));
    dirty_ = true;
    return S_OK;
}

// --- VKModelObject -------------------------------------------------------

STDMETHODIMP CModelNode::GetName(BSTR* pbsName) { return com::AllocBstr(name_, pbsName); }

STDMETHODIMP CModelNode::SetName(BSTR bsName) {
    return com::ComBoundary([&]() -> HRESULT {
        const std::wstring_view name = com::BstrView(bsName);
        // A root's name is not part of any path: the server keeps any text there.
        if (!parent_) {
            name_.assign(name);
            dirty_ = true;
            return S_OK;
        }
        RETURN_HR_IF(E_INVALIDARG, !IsValidNodeName(name));
        if (name == name_) return S_OK;
        if (CModelNode* parent = FromUnknown(parent_)) {
            RETURN_HR_IF(kNameExists, parent->NameTaken(name));
            const size_t index = parent->objects_.FindItem(identity());
            if (index != NamedItems::npos) parent->objects_.Rename(index, std::wstring(name));
            parent->dirty_ = true;
        }
        name_.assign(name);
        return S_OK;
    });
}

STDMETHODIMP CModelNode::GetAccessPath(BSTR* pbsAccessPath) {
    return com::AllocBstr(access_path_, pbsAccessPath);
}

STDMETHODIMP CModelNode::SetAccessPath(BSTR bsAccessPath) {
    return com::ComBoundary([&] {
        access_path_.assign(com::BstrView(bsAccessPath));
        dirty_ = true;
    });
}

STDMETHODIMP CModelNode::GetParent(IUnknown** ppParent) {
    RETURN_IF_NULL_POINTER(ppParent);
    *ppParent = nullptr;
    RETURN_HR_IF(E_FAIL, !parent_);
    return parent_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppParent));
}

// Hangs a parentless node under another node (used for nodes of other classes
// that CreateObject makes). The parent is kept without a reference, like a
// parameter's; moving a node that already has a parent is not supported.
STDMETHODIMP CModelNode::SetParent(IUnknown* pParent) {
    RETURN_IF_NULL_POINTER(pParent);
    com::ComPtr<VKModelObject> node;
    RETURN_HR_IF(E_INVALIDARG, FAILED(pParent->QueryInterface(IID_VKModelObject, node.put_void())));
    com::ComPtr<IUnknown> parent;
    RETURN_IF_FAILED(Identity(pParent, &parent));
    if (parent_) return parent_ == parent.get() ? S_OK : E_UNEXPECTED;
    // No cycles: the new parent must not be this node or lie below it.
    for (CModelNode* up = FromUnknown(parent.get()); up; up = FromUnknown(up->parent_)) {
        RETURN_HR_IF(E_INVALIDARG, up == this);
    }
    parent_ = parent.get();
    return S_OK;
}

// With a reference: an out-pointer belongs to the caller, and a marshaller
// releases what it has carried.
STDMETHODIMP CModelNode::GetIdentity(IUnknown** ppIdentity) {
    RETURN_IF_NULL_POINTER(ppIdentity);
    *ppIdentity = identity();
    (*ppIdentity)->AddRef();
    return S_OK;
}

STDMETHODIMP CModelNode::GetClassID(BSTR* pbsClassID) {
    return com::ComBoundary(
        [&] { return com::AllocBstr(com::GuidToString(CLSID_ModelObject, true), pbsClassID); });
}

STDMETHODIMP CModelNode::GetSeparators(BSTR* pbsSeparators) {
    return com::AllocBstr(kSeparators, pbsSeparators);
}

STDMETHODIMP CModelNode::FindChild(BSTR bsName, IUnknown** ppChild) {
    RETURN_IF_NULL_POINTER(ppChild);
    *ppChild = nullptr;
    const std::wstring_view name = com::BstrView(bsName);
    for (NamedItems* list : {&parameters_, &objects_}) {
        const size_t index = list->Find(name);
        if (index != NamedItems::npos) return list->at(index).item.copy_to(ppChild);
    }
    return S_FALSE;
}

STDMETHODIMP CModelNode::GetParameters(VKModelCollection** ppParameters) {
    return CreateModelCollection(this, ListKind::kParameters, ppParameters);
}

STDMETHODIMP CModelNode::GetObjects(VKModelCollection** ppObjects) {
    return CreateModelCollection(this, ListKind::kObjects, ppObjects);
}

STDMETHODIMP CModelNode::CreateParameter(BSTR bsName, BSTR bsClassID, IUnknown** ppParameter) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppParameter);
        *ppParameter = nullptr;
        const std::wstring_view name = com::BstrView(bsName);
        // A "/"-path lands in the child object it leads to; what is left names the
        // parameter and may hold separators itself.
        com::ComPtr<VKModelObject> below;
        std::wstring_view rest;
        RETURN_IF_FAILED(ChildForPath(name, &below, &rest));
        if (below) {
            com::UniqueBstr text(rest);
            return below->CreateParameter(text.get(), bsClassID, ppParameter);
        }
        RETURN_HR_IF(E_INVALIDARG, !IsValidParameterName(name));
        RETURN_HR_IF(kNameExists, NameTaken(name));
        CLSID clsid;
        RETURN_IF_FAILED(ResolveClass(bsClassID, CLSID_vkObjectParameter, &clsid));

        // In-process only: the parameter must live in this apartment, because
        // it keeps this node as a plain pointer.
        com::ComPtr<IUnknown> unknown;
        RETURN_IF_FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                            unknown.put_void()));
        com::ComPtr<VKModelParameter> parameter;
        RETURN_IF_FAILED(unknown->QueryInterface(IID_VKModelParameter, parameter.put_void()));
        // Name first: without a parent the parameter has no list to re-key.
        com::UniqueBstr text(name);
        RETURN_IF_FAILED(parameter->SetName(text.get()));
        RETURN_IF_FAILED(parameter->SetParent(identity()));
        parameters_.Add(std::wstring(name), unknown);
        dirty_ = true;
        return unknown.copy_to(ppParameter);
    });
}

STDMETHODIMP CModelNode::DeleteParameter(BSTR bsName) {
    return com::ComBoundary([&]() -> HRESULT {
        const std::wstring_view name = com::BstrView(bsName);
        size_t index = parameters_.Find(name);
        if (index != NamedItems::npos) {
            NamedItems::Entry removed = parameters_.RemoveAt(index);
            DetachParameter(removed.item.get(), identity());
            dirty_ = true;
            return S_OK;
        }
        com::ComPtr<VKModelObject> below;
        std::wstring_view rest;
        RETURN_IF_FAILED(ChildForPath(name, &below, &rest));
        if (below) {
            com::UniqueBstr text(rest);
            return below->DeleteParameter(text.get());
        }
        index = objects_.Find(name);
        RETURN_HR_IF(E_INVALIDARG, index == NamedItems::npos);
        Retire(objects_.RemoveAt(index));
        dirty_ = true;
        return S_OK;
    });
}

HRESULT CModelNode::ChildForPath(std::wstring_view path, com::ComPtr<VKModelObject>* child,
                                 std::wstring_view* rest) {
    const PathSplit split = SplitFirst(path);
    if (!split.has_tail) return S_OK;
    const size_t index = objects_.Find(split.head);
    if (index == NamedItems::npos) return S_OK;
    RETURN_IF_FAILED(objects_.at(index).item->QueryInterface(IID_VKModelObject, child->put_void()));
    *rest = split.tail;
    return S_OK;
}

HRESULT CModelNode::FindParameterPath(std::wstring_view path, com::ComPtr<IUnknown>* out) {
    if (path.empty()) return S_OK;
    // The whole rest first: parameter names may hold separators.
    const size_t index = parameters_.Find(path);
    if (index != NamedItems::npos) {
        *out = parameters_.at(index).item;
        return S_OK;
    }
    const PathSplit split = SplitFirst(path);
    if (!split.has_tail) return S_OK;
    const size_t child = objects_.Find(split.head);
    if (child == NamedItems::npos) return S_OK;
    const NamedItems::Entry& entry = objects_.at(child);
    if (entry.node) return entry.node->FindParameterPath(split.tail, out);
    com::ComPtr<VKModelObject> foreign;
    RETURN_IF_FAILED(entry.item->QueryInterface(IID_VKModelObject, foreign.put_void()));
    com::UniqueBstr tail(split.tail);
    com::ComPtr<IUnknown> found;
    const HRESULT hr = foreign->FindParameter(tail.get(), found.put());
    if (SUCCEEDED(hr)) *out = std::move(found);
    return SUCCEEDED(hr) ? S_OK : hr;
}

STDMETHODIMP CModelNode::FindParameter(BSTR bsPath, IUnknown** ppParameter) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppParameter);
        *ppParameter = nullptr;
        com::ComPtr<IUnknown> found;
        RETURN_IF_FAILED(FindParameterPath(com::BstrView(bsPath), &found));
        if (!found) return S_FALSE;
        *ppParameter = found.detach();
        return S_OK;
    });
}

HRESULT CModelNode::AddChildNode(std::wstring_view name, com::ComPtr<IUnknown>* out) {
    com::ComPtr<CModelNode> child;
    RETURN_IF_FAILED(Create(name, &child));
    child->parent_ = identity();
    objects_.Add(std::wstring(name), com::ComPtr<IUnknown>(child->identity()), child.get());
    *out = com::ComPtr<IUnknown>(child->identity());
    return S_OK;
}

HRESULT CModelNode::AddForeignChild(std::wstring_view name, REFCLSID clsid,
                                    com::ComPtr<IUnknown>* out) {
    com::ComPtr<IUnknown> unknown;
    RETURN_IF_FAILED(
        ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.put_void()));
    com::ComPtr<VKModelObject> node;
    RETURN_IF_FAILED(unknown->QueryInterface(IID_VKModelObject, node.put_void()));
    com::UniqueBstr text(name);
    RETURN_IF_FAILED(node->SetName(text.get()));
    RETURN_IF_FAILED(node->SetParent(identity()));
    objects_.Add(std::wstring(name), unknown, FromUnknown(unknown.get()));
    *out = std::move(unknown);
    return S_OK;
}

STDMETHODIMP CModelNode::CreateObject(BSTR bsName, BSTR bsClassID, IUnknown** ppObject) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppObject);
        *ppObject = nullptr;
        const std::wstring_view name = com::BstrView(bsName);
        RETURN_HR_IF(E_INVALIDARG, !IsValidNodeName(name));
        RETURN_HR_IF(kNameExists, NameTaken(name));
        CLSID clsid;
        RETURN_IF_FAILED(ResolveClass(bsClassID, CLSID_ModelObject, &clsid));
        com::ComPtr<IUnknown> child;
        if (::IsEqualCLSID(clsid, CLSID_ModelObject)) {
            RETURN_IF_FAILED(AddChildNode(name, &child));
        } else {
            RETURN_IF_FAILED(AddForeignChild(name, clsid, &child));
        }
        dirty_ = true;
        *ppObject = child.detach();
        return S_OK;
    });
}

HRESULT CModelNode::FindObjectPath(std::wstring_view path, com::ComPtr<IUnknown>* out) {
    const PathSplit split = SplitFirst(path);
    const size_t index = objects_.Find(split.head);
    RETURN_HR_IF(E_FAIL, split.head.empty() || index == NamedItems::npos);
    const NamedItems::Entry& entry = objects_.at(index);
    if (!split.has_tail) {
        *out = entry.item;
        return S_OK;
    }
    if (entry.node) return entry.node->FindObjectPath(split.tail, out);
    com::ComPtr<VKModelObject> foreign;
    RETURN_IF_FAILED(entry.item->QueryInterface(IID_VKModelObject, foreign.put_void()));
    com::UniqueBstr tail(split.tail);
    return foreign->FindObject(tail.get(), out->put());
}

STDMETHODIMP CModelNode::FindObject(BSTR bsPath, IUnknown** ppObject) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppObject);
        *ppObject = nullptr;
        com::ComPtr<IUnknown> found;
        RETURN_IF_FAILED(FindObjectPath(com::BstrView(bsPath), &found));
        RETURN_HR_IF(E_FAIL, !found);
        *ppObject = found.detach();
        return S_OK;
    });
}

STDMETHODIMP CModelNode::GetPath(BSTR* pbsPath) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(pbsPath);
        *pbsPath = nullptr;
        std::wstring path;
        RETURN_IF_FAILED(PathOf(&path));
        return com::AllocBstr(path, pbsPath);
    });
}

STDMETHODIMP CModelNode::GetRelativePath(IUnknown* pAncestor, BSTR* pbsPath) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(pbsPath);
        *pbsPath = nullptr;
        RETURN_HR_IF(E_INVALIDARG, !pAncestor);
        com::ComPtr<VKModelObject> node;
        RETURN_HR_IF(E_INVALIDARG,
                     FAILED(pAncestor->QueryInterface(IID_VKModelObject, node.put_void())));
        com::ComPtr<IUnknown> ancestor;
        RETURN_IF_FAILED(Identity(pAncestor, &ancestor));
        std::wstring path;
        RETURN_IF_FAILED(RelativePathOf(ancestor.get(), &path));
        return com::AllocBstr(path, pbsPath);
    });
}

STDMETHODIMP CModelNode::Clear() {
    return com::ComBoundary([&] {
        for (NamedItems::Entry& entry : parameters_.TakeAll())
            DetachParameter(entry.item.get(), identity());
        for (NamedItems::Entry& entry : objects_.TakeAll()) Retire(std::move(entry));
        dirty_ = true;
    });
}

void CModelNode::TakeContent(Content content) {
    for (NamedItems::Entry& entry : parameters_.TakeAll())
        DetachParameter(entry.item.get(), identity());
    for (NamedItems::Entry& entry : objects_.TakeAll()) Retire(std::move(entry));
    parameters_ = std::move(content.parameters);
    objects_ = std::move(content.objects);
    access_path_ = std::move(content.access_path);
}

// --- VKItemProperties ----------------------------------------------------

STDMETHODIMP CModelNode::QueryAvailableProperties(DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                  LPWSTR** ppDescriptions,
                                                  VARTYPE** ppvtDataTypes) {
    RETURN_HR_IF(E_INVALIDARG, !pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes);
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    return S_OK;
}

STDMETHODIMP CModelNode::GetItemProperties(DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                           HRESULT** ppErrors) {
    RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !pdwPropertyIDs || !ppvData || !ppErrors);
    *ppvData = nullptr;
    *ppErrors = nullptr;
    com::CoTaskMem<VARIANT> values;  // zero-filled: VT_EMPTY
    com::CoTaskMem<HRESULT> errors;
    RETURN_HR_IF(E_OUTOFMEMORY, !values.alloc(dwCount) || !errors.alloc(dwCount));
    for (DWORD i = 0; i < dwCount; ++i) errors[i] = OPC_E_INVALID_PID;
    *ppvData = values.release();
    *ppErrors = errors.release();
    return S_OK;
}

STDMETHODIMP CModelNode::GetPropertyNames(DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppNames,
                                          HRESULT** ppErrors) {
    RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !pdwPropertyIDs || !ppNames || !ppErrors);
    *ppNames = nullptr;
    *ppErrors = nullptr;
    com::CoTaskMem<LPWSTR> names;  // zero-filled: no names
    com::CoTaskMem<HRESULT> errors;
    RETURN_HR_IF(E_OUTOFMEMORY, !names.alloc(dwCount) || !errors.alloc(dwCount));
    for (DWORD i = 0; i < dwCount; ++i) errors[i] = OPC_E_INVALID_PID;
    *ppNames = names.release();
    *ppErrors = errors.release();
    return S_OK;
}

STDMETHODIMP CModelNode::GetPropertyByName(LPCWSTR szName, VARIANT* pvValue) {
    RETURN_HR_IF(E_INVALIDARG, !szName || !pvValue);
    ::VariantInit(pvValue);
    return E_INVALIDARG;
}

STDMETHODIMP CModelNode::SetPropertyByName(LPCWSTR szName, VARIANT) {
    RETURN_HR_IF(E_INVALIDARG, !szName);
    return E_INVALIDARG;
}

}  // namespace model
