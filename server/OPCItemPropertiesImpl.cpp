#include "OPCItemPropertiesImpl.h"

#include "OPCItemMgtImpl.h"
#include "OPCOrvane.h"
#include "com/Bstr.h"
#include "com/Memory.h"
#include "com/Result.h"

namespace {
constexpr HRESULT kPropertyFromDevice = static_cast<HRESULT>(0xC0120001);
}  // namespace

// Finds the parameter of an item ID; an ID the model does not hold yet is resolved
// as ValidateItems does and removed again when the lookup goes.
class COPCItemPropertiesImpl::Lookup {
public:
    Lookup(VKModelObject* root, NameSpaceGate* gate) : root_(root), gate_(gate) {}
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;
    ~Lookup() {
        if (temporary_) DiscardItem(temporary_.get(), root_, created_);
    }

    // S_OK with the parameter, or OPC_E_UNKNOWNITEMID. A branch gives S_FALSE and
    // the node in `node`.
    HRESULT Find(LPCWSTR itemId, com::ComPtr<VKModelParameter>* parameter,
                 com::ComPtr<IUnknown>* node) {
        if (!root_) return E_FAIL;
        com::UniqueBstr id(itemId);
        com::ComPtr<IUnknown> found;
        if (root_->FindParameter(id.get(), found.put()) == S_OK && found)
            return found.query(parameter);
        if (node && SUCCEEDED(root_->FindObject(id.get(), node->put())) && *node) return S_FALSE;
        OPCITEMDEF definition = {};
        definition.szItemID = const_cast<LPWSTR>(itemId);
        if (FAILED(PrepareItem(definition, root_, gate_, 0.0, &temporary_, &created_)))
            return OPC_E_UNKNOWNITEMID;
        *parameter = temporary_->parameter();
        return *parameter ? S_OK : OPC_E_UNKNOWNITEMID;
    }

    // The interaction component bound to the parameter, for values the drive supplies.
    HRESULT PropertyAccess(VKModelParameter* parameter, com::ComPtr<IvkPropertyAccess>* out) {
        if (!temporary_) {
            RETURN_IF_FAILED(com::MakeObject(&temporary_));
            RETURN_IF_FAILED(temporary_->Bind(parameter));
        }
        const com::ComPtr<IUnknown> component = temporary_->component();
        if (!component) return E_POINTER;
        return component.query(out);
    }

private:
    VKModelObject* const root_;
    NameSpaceGate* const gate_;
    com::ComPtr<COPCItem> temporary_;
    bool created_ = false;
};

COPCItemPropertiesImpl::COPCItemPropertiesImpl(OPCOrvane* owner)
    : TearOff(owner), root_(owner->model()) {}

STDMETHODIMP COPCItemPropertiesImpl::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                              DWORD** ppPropertyIDs,
                                                              LPWSTR** ppDescriptions,
                                                              VARTYPE** ppvtDataTypes) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szItemID || !pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes)
            return E_INVALIDARG;
        *pdwCount = 0;
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        if (!*szItemID) return OPC_E_INVALIDITEMID;
        Lookup lookup(root_.get(), &gate_);
        com::ComPtr<VKModelParameter> parameter;
        com::ComPtr<IUnknown> node;
        const HRESULT hr = lookup.Find(szItemID, &parameter, &node);
        RETURN_IF_FAILED(hr);
        com::ComPtr<VKItemProperties> properties;
        if (hr == S_OK) {
            if (FAILED(parameter.query(&properties))) return E_UNEXPECTED;
        } else if (FAILED(node.query(&properties))) {
            return S_OK;  // a branch without properties
        }
        return properties->QueryAvailableProperties(pdwCount, ppPropertyIDs, ppDescriptions,
                                                    ppvtDataTypes);
    });
}

STDMETHODIMP COPCItemPropertiesImpl::GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                       DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                       HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szItemID || !dwCount || !pdwPropertyIDs || !ppvData || !ppErrors) return E_INVALIDARG;
        *ppvData = nullptr;
        *ppErrors = nullptr;
        if (!*szItemID) return OPC_E_INVALIDITEMID;
        Lookup lookup(root_.get(), &gate_);
        com::ComPtr<VKModelParameter> parameter;
        if (lookup.Find(szItemID, &parameter, nullptr) != S_OK) return OPC_E_UNKNOWNITEMID;
        com::ComPtr<VKItemProperties> properties;
        if (FAILED(parameter.query(&properties))) return E_UNEXPECTED;
        VARIANT* data = nullptr;
        HRESULT* errors = nullptr;
        HRESULT call = properties->GetItemProperties(dwCount, pdwPropertyIDs, &data, &errors);
        RETURN_IF_FAILED(call);
        if (!data || !errors) {
            CoTaskMemFree(data);
            CoTaskMemFree(errors);
            return E_UNEXPECTED;
        }
        com::ComPtr<IvkPropertyAccess> access;
        HRESULT accessResult = S_OK;
        bool accessTried = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            if (errors[i] != kPropertyFromDevice) continue;
            if (!accessTried) {
                accessTried = true;
                accessResult = lookup.PropertyAccess(parameter.get(), &access);
            }
            if (FAILED(accessResult)) {
                call = S_FALSE;
                continue;  // the entry keeps its error
            }
            LPWSTR* names = nullptr;
            HRESULT* nameErrors = nullptr;
            HRESULT hr = properties->GetPropertyNames(1, &pdwPropertyIDs[i], &names, &nameErrors);
            if (SUCCEEDED(hr) && names && nameErrors && SUCCEEDED(nameErrors[0]) && names[0]) {
                com::UniqueBstr name(names[0]);
                VariantClear(&data[i]);
                hr = access->ReadProperty(parameter.get(), name.get(), &data[i]);
            } else if (SUCCEEDED(hr)) {
                hr = nameErrors ? nameErrors[0] : E_UNEXPECTED;
            }
            if (names) CoTaskMemFree(names[0]);
            CoTaskMemFree(names);
            CoTaskMemFree(nameErrors);
            errors[i] = hr;
            if (FAILED(hr)) call = S_FALSE;
        }
        *ppvData = data;
        *ppErrors = errors;
        return call;
    });
}

STDMETHODIMP COPCItemPropertiesImpl::LookupItemIDs(LPWSTR szItemID, DWORD dwCount,
                                                   DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                                   HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szItemID || !dwCount || !pdwPropertyIDs || !ppszNewItemIDs || !ppErrors)
            return E_INVALIDARG;
        *ppszNewItemIDs = nullptr;
        *ppErrors = nullptr;
        if (!*szItemID) return OPC_E_INVALIDITEMID;
        Lookup lookup(root_.get(), &gate_);
        com::ComPtr<VKModelParameter> parameter;
        if (lookup.Find(szItemID, &parameter, nullptr) != S_OK) return OPC_E_UNKNOWNITEMID;
        com::ComPtr<VKItemProperties> properties;
        if (FAILED(parameter.query(&properties))) return E_UNEXPECTED;
        LPWSTR* names = nullptr;
        HRESULT* errors = nullptr;
        RETURN_IF_FAILED(properties->GetPropertyNames(dwCount, pdwPropertyIDs, &names, &errors));
        if (!names || !errors) {
            CoTaskMemFree(names);
            CoTaskMemFree(errors);
            return E_UNEXPECTED;
        }
        const std::wstring base(szItemID);
        HRESULT call = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            LPWSTR name = names[i];
            names[i] = nullptr;
            if (name && SUCCEEDED(errors[i])) {
                const HRESULT hr = com::CoTaskMemString(base + L"[" + name + L"]", &names[i]);
                if (FAILED(hr)) errors[i] = hr;
            } else if (SUCCEEDED(errors[i])) {
                errors[i] = E_FAIL;
            }
            CoTaskMemFree(name);
            if (FAILED(errors[i]) || !names[i]) call = S_FALSE;
        }
        *ppszNewItemIDs = names;
        *ppErrors = errors;
        return call;
    });
}
