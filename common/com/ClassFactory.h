// com/ClassFactory.h - generic class factories and the class-table entry.
//
//   // in the module's .cpp (DLL or EXE):
//   static const bool kRegistered = com::AddClassObject<com::ClassFactory<CThing>>(CLSID_Thing);
//
// ClassFactory<T>: a new T per CreateInstance; aggregation as T allows (kAggregatable), a
//   non-IUnknown IID with an outer unknown gives CLASS_E_NOAGGREGATION.
// SingletonClassFactory<T>: one T for the module, made on first use, handed to every caller;
//   aggregation refused with CLASS_E_NOAGGREGATION. The instance counts in the module's lock
//   count only while callers hold it. It is handed out directly, so it suits objects whose
//   callers share its apartment (the multithreaded one); an apartment-threaded singleton that
//   callers in several apartments reach needs a factory that marshals it.
// SharedWhileAliveClassFactory<T>: while a T made by it lives, every CreateInstance hands out
//   that object; after its last reference has gone the next one makes a new T. For free-threaded
//   objects whose callers must share one state (one per process), not one per creation.
// LockServer(TRUE/FALSE) adds/removes a lock in the module's lock count.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Result.h"
#include "com/Sync.h"

namespace com {

// LockServer shared by every factory: an unbalanced LockServer(FALSE) never drives the module's
// count below the locks actually taken.
HRESULT ModuleLockServer(BOOL lock) noexcept;

template <class T>
class ClassFactory : public Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return ComBoundary([&] { return com::CreateInstance<T>(outer, riid, ppv); });
    }
    STDMETHODIMP LockServer(BOOL lock) override { return ModuleLockServer(lock); }
};

template <class T>
class SingletonClassFactory : public Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(ppv);
            *ppv = nullptr;
            RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
            ComPtr<IUnknown> instance;
            RETURN_IF_FAILED(Instance(&instance));
            return instance->QueryInterface(riid, ppv);
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override { return ModuleLockServer(lock); }

protected:
    void FinalRelease() override {
        CsLock guard(lock_);
        instance_.reset();
    }

private:
    HRESULT Instance(ComPtr<IUnknown>* out) {
        CsLock guard(lock_);
        if (!instance_) {
            ComPtr<T> made;
            RETURN_IF_FAILED(MakeSharedObject(&made));
            RETURN_IF_FAILED(made.query(&instance_));
        }
        *out = instance_;
        return S_OK;
    }
    static HRESULT MakeSharedObject(ComPtr<T>* out) {
        T* object = new T();
        object->SetModuleLockPolicy(ModuleLockPolicy::kWhileShared);
        ComPtr<T> hold(object);
        // FinalConstruct through the common path; the policy is set before any reference.
        RETURN_IF_FAILED(detail::RunFinalConstruct(object));
        *out = std::move(hold);
        return S_OK;
    }

    CriticalSection lock_;  // guards instance_
    ComPtr<IUnknown> instance_;
};

template <class T>
class SharedWhileAliveClassFactory : public Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(ppv);
            *ppv = nullptr;
            RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
            // Under the lock that the object's last Release takes too, so that an object
            // whose count has reached 0 is never handed out again.
            CsLock guard(Lock());
            if (Live()) return Live()->QueryInterface(riid, ppv);
            ComPtr<Shared> made;
            RETURN_IF_FAILED(MakeObject(&made));
            Live() = made.get();
            return made->QueryInterface(riid, ppv);
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override { return ModuleLockServer(lock); }

private:
    class Shared final : public T {
    public:
        STDMETHODIMP_(ULONG) Release() override {
            CsLock guard(Lock());
            return T::Release();
        }

    protected:
        void FinalRelease() override {
            {
                CsLock guard(Lock());
                if (Live() == this) Live() = nullptr;
            }
            T::FinalRelease();
        }
    };

    static CriticalSection& Lock() {
        static CriticalSection lock;
        return lock;
    }
    static Shared*& Live() {  // not counted; guarded by Lock()
        static Shared* live = nullptr;
        return live;
    }
};

// Makes a factory with the given module-lock policy (Module's class table calls it).
template <class Factory>
HRESULT CreateClassFactory(ModuleLockPolicy policy, IClassFactory** out) noexcept {
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(out);
        *out = nullptr;
        Factory* factory = new Factory();
        factory->SetModuleLockPolicy(policy);
        ComPtr<Factory> hold(factory);
        RETURN_IF_FAILED(detail::RunFinalConstruct(factory));
        *out = hold.detach();
        return S_OK;
    });
}

// Adds clsid with Factory to this binary's class table; returns true so that it can
// initialise a static.
template <class Factory>
bool AddClassObject(REFCLSID clsid) {
    return Module::Get().AddClass(clsid, &CreateClassFactory<Factory>);
}

}  // namespace com
