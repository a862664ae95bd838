#include "ModelNodes.h"

#include "com/Bstr.h"
#include "com/Result.h"

namespace orvane::interaction {

HRESULT FindOrCreateObject(VKModelObject* parent, const std::wstring& name,
                           com::ComPtr<VKModelObject>* node) {
    RETURN_HR_IF(E_POINTER, !parent || !node);
    const com::UniqueBstr bsName(name);
    com::ComPtr<IUnknown> child;
    if (parent->FindChild(bsName.get(), child.put()) == S_OK && child)
        return SUCCEEDED(child.query(node)) ? S_OK : E_FAIL;
    com::ComPtr<IUnknown> made;
    RETURN_IF_FAILED(parent->CreateObject(bsName.get(), nullptr, made.put()));
    RETURN_HR_IF(E_POINTER, !made);
    const HRESULT hr = made.query(node);
    if (FAILED(hr)) parent->DeleteParameter(bsName.get());
    return hr;
}

HRESULT FindParameterIn(VKModelObject* node, const std::wstring& name,
                        com::ComPtr<VKModelParameter>* parameter) {
    RETURN_HR_IF(E_POINTER, !node || !parameter);
    parameter->reset();
    com::ComPtr<IUnknown> found;
    const HRESULT hr = node->FindParameter(com::UniqueBstr(name).get(), found.put());
    if (hr != S_OK || !found) return FAILED(hr) ? hr : S_FALSE;
    return found.query(parameter);
}

HRESULT FindObjectIn(VKModelObject* root, const std::wstring& path,
                     com::ComPtr<VKModelObject>* node) {
    RETURN_HR_IF(E_POINTER, !root || !node);
    node->reset();
    com::ComPtr<IUnknown> found;
    // The model answers a missing path with a failure.
    if (FAILED(root->FindObject(com::UniqueBstr(path).get(), found.put())) || !found)
        return S_FALSE;
    return found.query(node);
}

HRESULT FindOrCreateParameter(VKModelObject* node, const std::wstring& name,
                              com::ComPtr<VKModelParameter>* parameter) {
    RETURN_IF_FAILED(FindParameterIn(node, name, parameter));
    if (*parameter) return S_OK;
    com::ComPtr<IUnknown> made;
    RETURN_IF_FAILED(node->CreateParameter(com::UniqueBstr(name).get(), nullptr, made.put()));
    RETURN_HR_IF(E_POINTER, !made);
    return made.query(parameter);
}

HRESULT SetUpParameter(VKModelParameter* parameter, const std::wstring& accessPath, long rights,
                       VARTYPE type, const VARIANT& value, bool hidden) {
    RETURN_IF_NULL_POINTER(parameter);
    if (hidden) {
        com::ComPtr<VKModelParameter2> parameter2;
        if (SUCCEEDED(
                parameter->QueryInterface(__uuidof(VKModelParameter2), parameter2.put_void())))
            RETURN_IF_FAILED(parameter2->SetFlags(1));
    }
    RETURN_IF_FAILED(parameter->Init(com::UniqueBstr(accessPath).get(), rights, type, value));
    if (V_VT(&value) == VT_EMPTY) return S_OK;
    return parameter->SetValue(value);
}

std::wstring AccessPathOf(VKModelObject* node) {
    com::UniqueBstr path;
    if (node) node->GetAccessPath(path.put());
    return path.str();
}

std::wstring AccessPathOf(VKModelParameter* parameter) {
    com::UniqueBstr path;
    if (parameter) parameter->GetAccessPath(path.put());
    return path.str();
}

std::wstring PathOf(VKModelParameter* parameter) {
    com::UniqueBstr path;
    if (parameter) parameter->GetPath(path.put());
    return path.str();
}

std::wstring NameOf(VKModelObject* node) {
    com::UniqueBstr name;
    if (node) node->GetName(name.put());
    return name.str();
}

HRESULT ParameterValueIn(VKModelObject* node, const std::wstring& name, VARIANT* value) {
    com::ComPtr<VKModelParameter> parameter;
    RETURN_IF_FAILED(FindParameterIn(node, name, &parameter));
    RETURN_HR_IF(E_FAIL, !parameter);
    return parameter->GetValue(value);
}

}  // namespace orvane::interaction
