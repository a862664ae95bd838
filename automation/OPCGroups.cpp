#include "OPCGroups.h"

#include "Events.h"
#include "OPCAutoServer.h"
#include "OPCGroup.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Variant.h"

namespace vkauto {
namespace {
constexpr DISPID kDispidGlobalDataChange = 1;
}  // namespace

COPCGroups::COPCGroups(COPCAutoServer* server, bool convertValues)
    : server_(server), convertValues_(convertValues) {
    events_ = &AddConnectionPoint(__uuidof(DIOPCGroupsEvent));
}

void COPCGroups::Detach() {
    RemoveAll();
    server_ = nullptr;
    events_->DisconnectAll();
}

IOPCServer* COPCGroups::Server() const { return server_ ? server_->Server() : nullptr; }

void COPCGroups::FireGlobalDataChange(EventArgs& args) {
    args.Fire<DIOPCGroupsEvent>(*events_, kDispidGlobalDataChange);
}

STDMETHODIMP COPCGroups::get_Parent(IOPCAutoServer** ppParent) {
    RETURN_HR_IF(E_INVALIDARG, !ppParent);
    *ppParent = nullptr;
    RETURN_HR_IF(E_FAIL, !server_);
    return server_->QueryInterface(IID_PPV_ARGS(ppParent));
}

STDMETHODIMP COPCGroups::get_DefaultGroupIsActive(VARIANT_BOOL* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = defaultActive_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCGroups::put_DefaultGroupIsActive(VARIANT_BOOL value) {
    defaultActive_ = value != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COPCGroups::get_DefaultGroupUpdateRate(LONG* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = defaultUpdateRate_;
    return S_OK;
}

STDMETHODIMP COPCGroups::put_DefaultGroupUpdateRate(LONG value) {
    RETURN_HR_IF(E_INVALIDARG, value < 0);
    defaultUpdateRate_ = value;
    return S_OK;
}

STDMETHODIMP COPCGroups::get_DefaultGroupDeadband(float* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = defaultDeadband_;
    return S_OK;
}

STDMETHODIMP COPCGroups::put_DefaultGroupDeadband(float value) {
    defaultDeadband_ = value;
    return S_OK;
}

STDMETHODIMP COPCGroups::get_DefaultGroupLocaleID(LONG* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = defaultLocaleId_;
    return S_OK;
}

STDMETHODIMP COPCGroups::put_DefaultGroupLocaleID(LONG value) {
    defaultLocaleId_ = value;
    return S_OK;
}

STDMETHODIMP COPCGroups::get_DefaultGroupTimeBias(LONG* value) {
    RETURN_HR_IF(E_INVALIDARG, !value);
    *value = defaultTimeBias_;
    return S_OK;
}

STDMETHODIMP COPCGroups::put_DefaultGroupTimeBias(LONG value) {
    defaultTimeBias_ = value;
    return S_OK;
}

STDMETHODIMP COPCGroups::get_Count(LONG* Count) {
    RETURN_HR_IF(E_INVALIDARG, !Count);
    *Count = static_cast<LONG>(groups_.size());
    return S_OK;
}

STDMETHODIMP COPCGroups::get__NewEnum(IUnknown** ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppUnk);
        *ppUnk = nullptr;
        std::vector<com::UniqueVariant> entries;
        for (const auto& group : groups_) {
            com::UniqueVariant entry;
            V_VT(entry.get()) = VT_DISPATCH;
            RETURN_IF_FAILED(group->QueryInterface(IID_PPV_ARGS(&V_DISPATCH(entry.get()))));
            entries.push_back(std::move(entry));
        }
        com::ComPtr<IEnumVARIANT> enumerator;
        RETURN_IF_FAILED(com::CreateEnumVariant(std::move(entries), enumerator.put()));
        *ppUnk = enumerator.detach();
        return S_OK;
    });
}

HRESULT COPCGroups::Find(const VARIANT& specifier, bool byHandle,
                         com::ComPtr<COPCGroupImpl>* group) const {
    com::UniqueVariant value;
    RETURN_HR_IF(E_INVALIDARG,
                 FAILED(::VariantCopyInd(value.put(), const_cast<VARIANT*>(&specifier))));
    if (value.vt() == VT_BSTR) {
        const std::wstring_view wanted(com::BstrView(V_BSTR(value.get())));
        for (const auto& g : groups_) {
            if (g->name() == wanted) {
                *group = g;
                return S_OK;
            }
        }
        return E_FAIL;
    }
    if (byHandle) {
        RETURN_HR_IF(E_INVALIDARG, value.vt() != VT_I4 && value.vt() != VT_I2);
        const DWORD handle =
            static_cast<DWORD>(value.vt() == VT_I4 ? V_I4(value.get()) : V_I2(value.get()));
        for (const auto& g : groups_) {
            if (g->serverHandle() == handle) {
                *group = g;
                return S_OK;
            }
        }
        return E_FAIL;
    }
    RETURN_HR_IF(E_INVALIDARG, value.vt() != VT_I2 && value.vt() != VT_I4);
    const LONG position = value.vt() == VT_I2 ? V_I2(value.get()) : V_I4(value.get());
    RETURN_HR_IF(E_INVALIDARG, position < 1 || position > static_cast<LONG>(groups_.size()));
    *group = groups_[position - 1];
    return S_OK;
}

STDMETHODIMP COPCGroups::Item(VARIANT ItemSpecifier, IOPCGroup** ppGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppGroup);
        *ppGroup = nullptr;
        com::ComPtr<COPCGroupImpl> group;
        RETURN_IF_FAILED(Find(ItemSpecifier, false, &group));
        return group->QueryInterface(IID_PPV_ARGS(ppGroup));
    });
}

STDMETHODIMP COPCGroups::GetOPCGroup(VARIANT ItemSpecifier, IOPCGroup** ppGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppGroup);
        *ppGroup = nullptr;
        com::ComPtr<COPCGroupImpl> group;
        RETURN_IF_FAILED(Find(ItemSpecifier, true, &group));
        return group->QueryInterface(IID_PPV_ARGS(ppGroup));
    });
}

STDMETHODIMP COPCGroups::Add(VARIANT Name, IOPCGroup** ppGroup) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppGroup);
        *ppGroup = nullptr;
        IOPCServer* server = Server();
        RETURN_HR_IF(E_FAIL, !server);
        COPCGroupImpl::Settings settings{L"",
                                         defaultActive_,
                                         defaultUpdateRate_,
                                         defaultTimeBias_,
                                         defaultDeadband_,
                                         defaultLocaleId_};
        com::UniqueVariant name;
        if (SUCCEEDED(::VariantCopyInd(name.put(), &Name)) && name.vt() == VT_BSTR)
            settings.name = std::wstring(com::BstrView(V_BSTR(name.get())));
        const DWORD handle = handles_.Add(true);
        RETURN_HR_IF(E_OUTOFMEMORY, handle == 0);
        com::ComPtr<COPCGroupImpl> group;
        HRESULT hr = com::MakeObject(&group, this, handle, convertValues_);
        if (SUCCEEDED(hr)) hr = group->Create(server, settings);
        if (FAILED(hr)) {
            if (group) group->Detach();
            handles_.Remove(handle);
            return hr;
        }
        groups_.push_back(group);
        return group->QueryInterface(IID_PPV_ARGS(ppGroup));
    });
}

HRESULT COPCGroups::RemoveGroup(const com::ComPtr<COPCGroupImpl>& group) {
    for (auto it = groups_.begin(); it != groups_.end(); ++it) {
        if (*it == group) {
            groups_.erase(it);
            break;
        }
    }
    handles_.Remove(group->serverHandle());
    const HRESULT hr = group->RemoveFromServer(Server());
    group->Detach();
    return hr;
}

STDMETHODIMP COPCGroups::Remove(VARIANT ItemSpecifier) {
    return com::ComBoundary([&]() -> HRESULT {
        com::ComPtr<COPCGroupImpl> group;
        RETURN_HR_IF(E_INVALIDARG, FAILED(Find(ItemSpecifier, true, &group)));
        return RemoveGroup(group);
    });
}

STDMETHODIMP COPCGroups::RemoveAll() {
    return com::ComBoundary([&]() -> HRESULT {
        // A copy: removing a group may run client code that changes the list.
        auto groups = groups_;
        for (const auto& group : groups) RemoveGroup(group);
        return S_OK;
    });
}

STDMETHODIMP COPCGroups::ConnectPublicGroup(BSTR, IOPCGroup** ppGroup) {
    RETURN_HR_IF(E_INVALIDARG, !ppGroup);
    *ppGroup = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COPCGroups::RemovePublicGroup(VARIANT) { return E_NOTIMPL; }

}  // namespace vkauto
