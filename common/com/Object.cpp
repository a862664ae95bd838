#include "com/Object.h"

namespace com {

namespace detail {

HRESULT RunFinalConstruct(ObjectRoot* root) noexcept {
    return ComBoundary([&] { return root->FinalConstruct(); });
}

void SetOuter(ObjectRoot* root, IUnknown* outer) noexcept { root->outer_ = outer; }

HRESULT QueryInner(ObjectRoot* root, REFIID riid, void** ppv) noexcept {
    // The creator of an aggregated object gets the inner unknown; everyone else the object.
    return root->outer_ ? root->inner_.QueryInterface(riid, ppv)
                        : root->InternalQueryInterface(riid, ppv);
}

}  // namespace detail

ObjectRoot::~ObjectRoot() {
    if (module_locked_) Module::Get().Unlock();
}

ULONG ObjectRoot::InternalAddRef() noexcept {
    const ULONG refs = ++refs_;
    if (refs == 1 && policy_ == ModuleLockPolicy::kPerObject && !module_locked_) {
        module_locked_ = true;
        Module::Get().Lock();
    } else if (refs == 2 && policy_ == ModuleLockPolicy::kWhileShared) {
        Module::Get().Lock();
    }
    return refs;
}

ULONG ObjectRoot::InternalRelease() noexcept {
    const ULONG refs = --refs_;
    if (refs == 0) {
        // Stabilise: references taken and dropped during FinalRelease must not destroy twice.
        refs_ = 1;
        ComBoundary([&] { FinalRelease(); });
        delete this;
        return 0;
    }
    if (refs == 1 && policy_ == ModuleLockPolicy::kWhileShared) Module::Get().Unlock();
    return refs;
}

HRESULT ObjectRoot::InternalQueryInterface(REFIID riid, void** ppv) noexcept {
    RETURN_IF_NULL_POINTER(ppv);
    *ppv = nullptr;
    if (riid == IID_IUnknown) return QueryIdentity(ppv);
    if (void* found = FindInterface(riid)) {
        static_cast<IUnknown*>(found)->AddRef();
        *ppv = found;
        return S_OK;
    }
    const HRESULT hr = ComBoundary([&] { return QueryInterfaceHook(riid, ppv); });
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

HRESULT ObjectRoot::QueryInterfaceHook(REFIID, void** ppv) {
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT ObjectRoot::QueryIdentity(void** ppv) {
    IUnknown* identity = PrimaryUnknown();
    identity->AddRef();
    *ppv = identity;
    return S_OK;
}

HRESULT ObjectRoot::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    RETURN_IF_NULL_POINTER(ppv);
    if (riid == IID_IUnknown) {
        AddRef();
        *ppv = static_cast<IUnknown*>(this);
        return S_OK;
    }
    return root_->InternalQueryInterface(riid, ppv);
}

}  // namespace com
