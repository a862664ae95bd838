// com/Object.h - reference-counted COM objects: one base with the interface list, QueryInterface,
// AddRef/Release, FinalConstruct/FinalRelease, the module lock, aggregation and tear-offs.
//
//   class CThing : public com::Object<com::Chain<IThing2, IThing>, com::SupportErrorInfo<IThing2>> {
//   public:
//       explicit CThing(int n);
//       STDMETHODIMP DoIt() override;          // IThing / IThing2
//   protected:
//       HRESULT FinalConstruct() override;     // optional
//   };
//   com::ComPtr<CThing> thing;
//   RETURN_IF_FAILED(com::MakeObject(&thing, 42));
//
// QueryInterface answers IUnknown and the IIDs of the listed bases. A base answers __uuidof of
// itself, or, when it declares `using ComInterfaces = com::Iids<I, Bases...>`, those IIDs (the
// first is the interface its pointer is; com::Chain<I, Bases...> does that for an interface with
// base interfaces, e.g. Chain<IMyDual, IDispatch>). Any other IID goes to QueryInterfaceHook
// (tear-offs, forwarding to an inner object), then E_NOINTERFACE with *ppv = nullptr.
//
// Aggregation: CreateInstance with an outer unknown makes an object whose IUnknown methods
// delegate to the outer; the caller receives the inner (non-delegating) unknown.
// Tear-off: a small object of its own (TearOff<Owner, I...>) created anew on every query for
// its interface, holding a reference to its owner. A tear-off that must be kept (one per owner,
// created on first query) is a CachedPart: an aggregated object of the owner.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Result.h"
#include "com/Sync.h"

namespace com {

// The IIDs a base of Object answers; the first names the interface its pointer is.
template <class... Interfaces>
struct Iids {};

// A base deriving from interface I that also answers I's base interfaces.
template <class I, class... Bases>
struct Chain : public I {
    using ComInterfaces = Iids<I, Bases...>;
};

namespace detail {
template <class E, class = void>
struct EntryIids {
    using type = Iids<E>;
};
template <class E>
struct EntryIids<E, std::void_t<typename E::ComInterfaces>> {
    using type = typename E::ComInterfaces;
};
template <class L>
struct Primary;
template <class F, class... R>
struct Primary<Iids<F, R...>> {
    using type = F;
};
template <class... I>
bool AnyIidMatches(REFIID riid, Iids<I...>) {
    return ((riid == __uuidof(I)) || ...);
}
template <class E>
using PrimaryOf = typename Primary<typename EntryIids<E>::type>::type;
}  // namespace detail

class ObjectRoot;
namespace detail {
// The creation steps (Object.cpp); used by the creation helpers and factories only.
HRESULT RunFinalConstruct(ObjectRoot* root) noexcept;
void SetOuter(ObjectRoot* root, IUnknown* outer) noexcept;
HRESULT QueryInner(ObjectRoot* root, REFIID riid, void** ppv) noexcept;
}  // namespace detail

// The state and IUnknown logic shared by every object; not used directly.
class ObjectRoot {
public:
    // Objects that must not be aggregated redeclare this as false.
    static constexpr bool kAggregatable = true;

    ObjectRoot(const ObjectRoot&) = delete;
    ObjectRoot& operator=(const ObjectRoot&) = delete;

    // The outer unknown when aggregated, otherwise this object's own IUnknown. Not AddRef'd.
    IUnknown* GetControllingUnknown() noexcept { return outer_ ? outer_ : PrimaryUnknown(); }
    bool is_aggregated() const noexcept { return outer_ != nullptr; }

    // Before the first reference only (factories and singletons use it).
    void SetModuleLockPolicy(ModuleLockPolicy policy) noexcept { policy_ = policy; }

    // The non-delegating IUnknown methods.
    ULONG InternalAddRef() noexcept;
    ULONG InternalRelease() noexcept;
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) noexcept;

protected:
    ObjectRoot() noexcept : inner_(this) {}
    virtual ~ObjectRoot();

    // Runs after construction while the creator holds a reference; a failure destroys the
    // object (FinalRelease runs then too) and is returned by the creation helper.
    virtual HRESULT FinalConstruct() { return S_OK; }
    // Runs when the last reference goes, before the destructor.
    virtual void FinalRelease() {}
    // For IIDs not in the interface list: tear-offs, forwarding. AddRef what you return.
    virtual HRESULT QueryInterfaceHook(REFIID riid, void** ppv);
    // IUnknown as answered by QueryInterface (a tear-off answers its owner's).
    virtual HRESULT QueryIdentity(void** ppv);

    virtual IUnknown* PrimaryUnknown() noexcept = 0;
    virtual void* FindInterface(REFIID riid) noexcept = 0;

    IUnknown* outer_ = nullptr;  // set once, before FinalConstruct

private:
    friend HRESULT detail::RunFinalConstruct(ObjectRoot* root) noexcept;
    friend void detail::SetOuter(ObjectRoot* root, IUnknown* outer) noexcept;
    friend HRESULT detail::QueryInner(ObjectRoot* root, REFIID riid, void** ppv) noexcept;

    // The inner unknown handed to the outer object when aggregated.
    class InnerUnknown : public IUnknown {
    public:
        explicit InnerUnknown(ObjectRoot* root) : root_(root) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return root_->InternalAddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return root_->InternalRelease(); }

    private:
        ObjectRoot* root_;
    };

    std::atomic<ULONG> refs_{0};
    ModuleLockPolicy policy_ = ModuleLockPolicy::kPerObject;
    bool module_locked_ = false;
    InnerUnknown inner_;
};

// The base of every COM class: derives from the listed interfaces (or implementation bases).
template <class... Entries>
class Object : public ObjectRoot, public Entries... {
    static_assert(sizeof...(Entries) > 0, "an object implements at least one interface");

public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return outer_ ? outer_->QueryInterface(riid, ppv) : InternalQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_ ? outer_->AddRef() : InternalAddRef(); }
    STDMETHODIMP_(ULONG) Release() override {
        return outer_ ? outer_->Release() : InternalRelease();
    }

protected:
    Object() = default;

    IUnknown* PrimaryUnknown() noexcept override {
        using First = std::tuple_element_t<0, std::tuple<Entries...>>;
        return static_cast<detail::PrimaryOf<First>*>(static_cast<First*>(this));
    }
    void* FindInterface(REFIID riid) noexcept override {
        void* found = nullptr;
        ((found = found ? found : Match<Entries>(riid)), ...);
        return found;
    }

private:
    template <class E>
    void* Match(REFIID riid) noexcept {
        if (!detail::AnyIidMatches(riid, typename detail::EntryIids<E>::type{})) return nullptr;
        return static_cast<detail::PrimaryOf<E>*>(static_cast<E*>(this));
    }
};

// Creates T(args...) and returns its interface riid. With an outer unknown the object is
// aggregated and riid must be IID_IUnknown (the inner unknown is returned); otherwise
// CLASS_E_NOAGGREGATION, as for a T whose kAggregatable is false.
template <class T, class... Args>
HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv, Args&&... args) {
    RETURN_IF_NULL_POINTER(ppv);
    *ppv = nullptr;
    if (outer && (riid != IID_IUnknown || !T::kAggregatable)) return CLASS_E_NOAGGREGATION;
    T* object = nullptr;
    RETURN_IF_FAILED(ComBoundary([&] { object = new T(std::forward<Args>(args)...); }));
    RETURN_IF_NULL_ALLOC(object);
    ObjectRoot* root = object;
    detail::SetOuter(root, outer);
    root->InternalAddRef();
    HRESULT hr = detail::RunFinalConstruct(root);
    if (SUCCEEDED(hr)) hr = detail::QueryInner(root, riid, ppv);
    root->InternalRelease();
    return hr;
}

// Creates T(args...) (not aggregated) and returns the object itself.
template <class T, class... Args>
HRESULT MakeObject(ComPtr<T>* out, Args&&... args) {
    RETURN_IF_NULL_POINTER(out);
    out->reset();
    T* object = nullptr;
    RETURN_IF_FAILED(ComBoundary([&] { object = new T(std::forward<Args>(args)...); }));
    RETURN_IF_NULL_ALLOC(object);
    ObjectRoot* root = object;
    root->InternalAddRef();
    const HRESULT hr = detail::RunFinalConstruct(root);
    if (FAILED(hr)) {
        root->InternalRelease();
        return hr;
    }
    out->attach(object);
    return S_OK;
}

// A tear-off: its own small object (own reference count and state) made for one query of its
// interface; it keeps its owner alive and answers every other IID (IUnknown included) with
// the owner's answer, so COM identity stays the owner's.
//
//   class COPCItemMgtImpl : public com::TearOff<CGroup, IOPCItemMgt> { ... owner()->... };
//   HRESULT CGroup::QueryInterfaceHook(REFIID riid, void** ppv) override {
//       if (riid == __uuidof(IOPCItemMgt))
//           return com::CreateTearOff<COPCItemMgtImpl>(this, riid, ppv);
//       return E_NOINTERFACE;
//   }
template <class Owner, class... Entries>
class TearOff : public Object<Entries...> {
public:
    static constexpr bool kAggregatable = false;

    explicit TearOff(Owner* owner) : owner_(owner) {
        owner_unknown_ = static_cast<ObjectRoot*>(owner)->GetControllingUnknown();
        owner_unknown_->AddRef();
    }
    ~TearOff() override { owner_unknown_->Release(); }

    Owner* owner() const noexcept { return owner_; }

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        return owner_unknown_->QueryInterface(riid, ppv);
    }
    HRESULT QueryIdentity(void** ppv) override {
        return owner_unknown_->QueryInterface(IID_IUnknown, ppv);
    }

private:
    Owner* owner_;
    IUnknown* owner_unknown_;  // counted
};

template <class T, class Owner>
HRESULT CreateTearOff(Owner* owner, REFIID riid, void** ppv) {
    return CreateInstance<T>(nullptr, riid, ppv, owner);
}

// A cached tear-off: created on the first query, kept until its owner is destroyed. It is
// aggregated into the owner, so its interfaces count on the owner and answer with the owner's
// identity; T is constructed with the owner pointer (valid for the part's whole life).
//
//   com::CachedPart<COPCItemMgtImpl> item_mgt_;     // member of the group
//   HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
//       if (riid == __uuidof(IOPCItemMgt)) return item_mgt_.Query(this, riid, ppv);
//       return E_NOINTERFACE;
//   }
template <class T>
class CachedPart {
public:
    template <class Owner>
    HRESULT Query(Owner* owner, REFIID riid, void** ppv) {
        RETURN_IF_NULL_POINTER(ppv);
        *ppv = nullptr;
        ComPtr<IUnknown> inner;
        {
            CsLock guard(lock_);
            if (!inner_) {
                IUnknown* outer = static_cast<ObjectRoot*>(owner)->GetControllingUnknown();
                RETURN_IF_FAILED(CreateInstance<T>(outer, IID_IUnknown, inner_.put_void(), owner));
            }
            inner = inner_;
        }
        return inner->QueryInterface(riid, ppv);
    }

private:
    CriticalSection lock_;    // guards inner_
    ComPtr<IUnknown> inner_;  // the part's inner unknown
};

}  // namespace com
