// CModelNode's IPersistStorage. A node's storage holds "__ObjectList" and
// "__ParamList" (name lists), "__AccessPath" (string) and "__HiddenList" (the
// parameters with the hidden flag, which parameters do not store themselves),
// then one sub-storage per child node and one per parameter, in list order.
#include <algorithm>
#include <set>

#include "ModelNode.h"
#include "PathRules.h"
#include "StorageNames.h"
#include "com/Bstr.h"
#include "com/Log.h"
#include "com/RegKey.h"
#include "com/Result.h"
#include "com/Strings.h"

namespace model {
namespace {

namespace storage = vk::storage;

constexpr wchar_t kAccessPathStream[] = L"__AccessPath";
constexpr wchar_t kHiddenList[] = L"__HiddenList";
constexpr USHORT kHiddenFlag = 0x0001;

// Parameter classes a file may name: besides the generic class, those registered
// in this category. Anything else would let a file load any registered DLL.
constexpr GUID kParameterCategory = {
    0xAA3DF0E0, 0x806C, 0x11D3, {0xBD, 0x83, 0x00, 0x10, 0x5A, 0x31, 0x85, 0xC3}};

// Read from "Implemented Categories" directly: Wine does not implement
// ICatInformation::IsClassOfCategories.
bool IsAcceptedParameterClass(REFCLSID clsid) {
    if (IsEqualCLSID(clsid, CLSID_vkObjectParameter)) return true;
    com::RegKey key;
    return key.Open(HKEY_CLASSES_ROOT,
                    L"CLSID\\" + com::GuidToString(clsid, true) + L"\\Implemented Categories\\" +
                        com::GuidToString(kParameterCategory, true)) == ERROR_SUCCESS;
}

HRESULT ReadList(IStorage* storage, const wchar_t* name, std::vector<std::wstring>* out) {
    storage::Bytes bytes;
    RETURN_IF_FAILED(storage::ReadStreamBytes(storage, name, &bytes));
    storage::ByteReader reader(bytes);
    return storage::ReadNameList(&reader, out);
}

HRESULT WriteList(IStorage* storage, const wchar_t* name, const std::vector<std::wstring>& names) {
    storage::Bytes bytes;
    storage::AppendNameList(&bytes, names);
    return storage::WriteStreamBytes(storage, name, bytes);
}

HRESULT StorageClass(IStorage* storage, CLSID* out) {
    STATSTG stat = {};
    RETURN_IF_FAILED(storage->Stat(&stat, STATFLAG_NONAME));
    *out = stat.clsid;
    return S_OK;
}

// The class of `name`'s sub-storage, which is closed again before the parameter opens it.
HRESULT ParameterClass(IStorage* storage, const std::wstring& name, CLSID* out) {
    std::wstring storage_name;
    RETURN_IF_FAILED(storage::OpeningStorageName(storage, name, false, &storage_name));
    com::ComPtr<IStorage> sub;
    RETURN_IF_FAILED(storage::OpenSubStorage(storage, storage_name, sub.put()));
    return StorageClass(sub.get(), out);
}

std::vector<std::wstring> Names(const NamedItems& items) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < items.size(); ++i) names.push_back(items.at(i).name);
    return names;
}

bool IsHidden(IUnknown* parameter) {
    com::ComPtr<VKModelParameter2> parameter2;
    USHORT flags = 0;
    return SUCCEEDED(parameter->QueryInterface(IID_VKModelParameter2, parameter2.put_void())) &&
           SUCCEEDED(parameter2->GetFlags(&flags)) && (flags & kHiddenFlag);
}

// Storage names of the children as a fresh storage gives them in list order. Compound
// files compare names without regard to case: two that differ only so would be
// written into one storage.
HRESULT ChildStorageNames(IStorage* storage, const std::vector<std::wstring>& children,
                          std::vector<std::wstring>* out) {
    std::vector<std::wstring> elements;
    RETURN_IF_FAILED(storage::ElementNames(storage, &elements));
    std::vector<std::wstring> names;
    for (const std::wstring& child : children) {
        const std::wstring name = storage::StorageName(child, storage::CreatingNumber(elements));
        for (size_t i = 0; i < names.size(); ++i) {
            if (com::EqualsNoCase(names[i], name)) {
                LOG_ERROR(L"model: \"%ls\" and \"%ls\" would share the storage \"%ls\"",
                          children[i].c_str(), child.c_str(), name.c_str());
                return STG_E_FILEALREADYEXISTS;
            }
        }
        names.push_back(name);
        elements.push_back(name);
    }
    out->swap(names);
    return S_OK;
}

HRESULT CreateSubStorage(IStorage* storage, const std::wstring& name, REFCLSID clsid,
                         com::ComPtr<IStorage>* out) {
    RETURN_IF_FAILED(storage->CreateStorage(
        name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, out->put()));
    return (*out)->SetClass(clsid);
}

}  // namespace

STDMETHODIMP CModelNode::GetClassID(CLSID* pClassID) {
    RETURN_IF_NULL_POINTER(pClassID);
    *pClassID = CLSID_ModelObject;
    return S_OK;
}

STDMETHODIMP CModelNode::IsDirty() { return AnyDirty() ? S_OK : S_FALSE; }

bool CModelNode::AnyDirty() noexcept {
    if (dirty_) return true;
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (CModelNode* child = objects_.at(i).node; child && child->AnyDirty()) return true;
    }
    for (size_t i = 0; i < parameters_.size(); ++i) {
        com::ComPtr<IPersistStorage> persist;
        if (SUCCEEDED(parameters_.at(i).item.query(&persist)) && persist->IsDirty() == S_OK)
            return true;
    }
    return false;
}

void CModelNode::MarkClean() noexcept {
    dirty_ = false;
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (CModelNode* child = objects_.at(i).node) child->MarkClean();
    }
}

STDMETHODIMP CModelNode::InitNew(IStorage* pStg) {
    RETURN_IF_NULL_POINTER(pStg);
    storage_ = com::ComPtr<IStorage>(pStg);
    dirty_ = true;
    return S_OK;
}

STDMETHODIMP CModelNode::Load(IStorage* pStg) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(pStg);
        Content content;
        const HRESULT hr = LoadContent(pStg, identity(), &content);
        if (FAILED(hr)) {
            LOG_ERROR(L"model: loading failed with %#lx; the tree stays as it was", hr);
            return hr;
        }
        TakeContent(std::move(content));
        storage_ = com::ComPtr<IStorage>(pStg);
        MarkClean();
        return S_OK;
    });
}

STDMETHODIMP CModelNode::Save(IStorage* pStgSave, BOOL fSameAsLoad) {
    return com::ComBoundary([&]() -> HRESULT {
        IStorage* target = fSameAsLoad ? storage_.get() : pStgSave;
        RETURN_HR_IF(fSameAsLoad ? E_UNEXPECTED : E_POINTER, !target);
        const bool was_dirty = AnyDirty();
        const HRESULT hr = SaveInto(target);
        if (FAILED(hr)) {
            // What was not stored is still to be saved.
            dirty_ = dirty_ || was_dirty;
            return hr;
        }
        MarkClean();
        return S_OK;
    });
}

STDMETHODIMP CModelNode::SaveCompleted(IStorage* pStgNew) {
    if (pStgNew) storage_ = com::ComPtr<IStorage>(pStgNew);
    return S_OK;
}

// Reaches every node and parameter below, so that no storage of the file stays open.
STDMETHODIMP CModelNode::HandsOffStorage() {
    storage_.reset();
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (CModelNode* child = objects_.at(i).node) child->HandsOffStorage();
    }
    for (size_t i = 0; i < parameters_.size(); ++i) {
        com::ComPtr<IPersistStorage> persist;
        if (SUCCEEDED(parameters_.at(i).item.query(&persist))) persist->HandsOffStorage();
    }
    return S_OK;
}

HRESULT CModelNode::SaveInto(IStorage* storage) {
    const std::vector<std::wstring> objects = Names(objects_);
    const std::vector<std::wstring> parameters = Names(parameters_);
    std::vector<std::wstring> children = objects;
    children.insert(children.end(), parameters.begin(), parameters.end());
    std::vector<std::wstring> storage_names;
    RETURN_IF_FAILED(ChildStorageNames(storage, children, &storage_names));

    std::vector<std::wstring> hidden;
    for (size_t i = 0; i < parameters_.size(); ++i) {
        if (IsHidden(parameters_.at(i).item.get())) hidden.push_back(parameters_.at(i).name);
    }
    RETURN_IF_FAILED(WriteList(storage, storage::kObjectList, objects));
    RETURN_IF_FAILED(WriteList(storage, storage::kParamList, parameters));
    storage::Bytes access_path;
    storage::AppendString(&access_path, access_path_);
    RETURN_IF_FAILED(storage::WriteStreamBytes(storage, kAccessPathStream, access_path));
    RETURN_IF_FAILED(WriteList(storage, kHiddenList, hidden));

    for (size_t i = 0; i < objects_.size(); ++i) {
        CModelNode* child = objects_.at(i).node;
        // Nodes of other classes could not be read back: this model loads its own only.
        RETURN_HR_IF(STG_E_CANTSAVE, !child);
        com::ComPtr<IStorage> sub;
        RETURN_IF_FAILED(CreateSubStorage(storage, storage_names[i], CLSID_ModelObject, &sub));
        RETURN_IF_FAILED(child->SaveInto(sub.get()));
    }
    for (size_t i = 0; i < parameters_.size(); ++i) {
        com::ComPtr<IPersistStorage> persist;
        RETURN_HR_IF(STG_E_CANTSAVE, FAILED(parameters_.at(i).item.query(&persist)));
        const HRESULT hr = persist->Save(storage, FALSE);
        if (FAILED(hr)) {
            LOG_ERROR(L"model: saving parameter \"%ls\" failed with %#lx",
                      parameters_.at(i).name.c_str(), hr);
            return hr;
        }
        persist->SaveCompleted(nullptr);
    }
    return S_OK;
}

HRESULT CModelNode::LoadContent(IStorage* storage, IUnknown* owner, Content* content) {
    std::vector<std::wstring> objects, parameters, hidden;
    RETURN_IF_FAILED(ReadList(storage, storage::kObjectList, &objects));
    RETURN_IF_FAILED(ReadList(storage, storage::kParamList, &parameters));
    RETURN_IF_FAILED(ReadList(storage, kHiddenList, &hidden));
    storage::Bytes access_path;
    RETURN_IF_FAILED(storage::ReadStreamBytes(storage, kAccessPathStream, &access_path));
    storage::ByteReader reader(access_path);
    RETURN_IF_FAILED(storage::ReadString(&reader, &content->access_path));

    std::set<std::wstring> seen;
    for (const std::wstring& name : objects) {
        RETURN_HR_IF(STG_E_DOCFILECORRUPT, !IsValidNodeName(name) || !seen.insert(name).second);
    }
    for (const std::wstring& name : parameters) {
        RETURN_HR_IF(STG_E_DOCFILECORRUPT,
                     !IsValidParameterName(name) || !seen.insert(name).second);
    }

    for (const std::wstring& name : objects) {
        std::wstring storage_name;
        RETURN_IF_FAILED(storage::OpeningStorageName(storage, name, true, &storage_name));
        com::ComPtr<IStorage> sub;
        RETURN_IF_FAILED(storage::OpenSubStorage(storage, storage_name, sub.put()));
        CLSID clsid = GUID_NULL;
        RETURN_IF_FAILED(StorageClass(sub.get(), &clsid));
        if (!IsEqualCLSID(clsid, CLSID_ModelObject)) {
            LOG_ERROR(L"model: node \"%ls\" of class %ls refused", name.c_str(),
                      com::GuidToString(clsid, true).c_str());
            return REGDB_E_CLASSNOTREG;
        }
        com::ComPtr<CModelNode> child;
        RETURN_IF_FAILED(Create(name, &child));
        child->parent_ = owner;
        Content below;
        RETURN_IF_FAILED(LoadContent(sub.get(), child->identity(), &below));
        child->TakeContent(std::move(below));
        content->objects.Add(name, com::ComPtr<IUnknown>(child->identity()), child.get());
    }
    return LoadParameters(storage, owner, parameters, hidden, &content->parameters);
}

HRESULT CModelNode::LoadParameters(IStorage* storage, IUnknown* owner,
                                   const std::vector<std::wstring>& names,
                                   const std::vector<std::wstring>& hidden, NamedItems* out) {
    for (const std::wstring& name : names) {
        CLSID clsid = GUID_NULL;
        RETURN_IF_FAILED(ParameterClass(storage, name, &clsid));
        if (!IsAcceptedParameterClass(clsid)) {
            LOG_ERROR(L"model: parameter \"%ls\" of class %ls refused", name.c_str(),
                      com::GuidToString(clsid, true).c_str());
            return REGDB_E_CLASSNOTREG;
        }
        com::ComPtr<IUnknown> unknown;
        RETURN_IF_FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                            unknown.put_void()));
        com::ComPtr<VKModelParameter> parameter;
        com::ComPtr<IPersistStorage> persist;
        RETURN_IF_FAILED(unknown.query(&parameter));
        RETURN_IF_FAILED(unknown.query(&persist));
        // Name and parent before Load: Load finds its storage by the name and
        // leaves the object clean.
        RETURN_IF_FAILED(parameter->SetName(com::UniqueBstr(name).get()));
        if (std::find(hidden.begin(), hidden.end(), name) != hidden.end()) {
            com::ComPtr<VKModelParameter2> parameter2;
            RETURN_IF_FAILED(unknown.query(&parameter2));
            RETURN_IF_FAILED(parameter2->SetFlags(kHiddenFlag));
        }
        RETURN_IF_FAILED(parameter->SetParent(owner));
        const HRESULT hr = persist->Load(storage);
        if (FAILED(hr)) {
            LOG_ERROR(L"model: loading parameter \"%ls\" failed with %#lx", name.c_str(), hr);
            return hr;
        }
        com::UniqueBstr stored;
        RETURN_IF_FAILED(parameter->GetName(stored.put()));
        RETURN_HR_IF(STG_E_DOCFILECORRUPT, stored.view() != name);
        out->Add(name, std::move(unknown));
    }
    return S_OK;
}

}  // namespace model
