// com/ComPtr.h - owning smart pointer for COM interfaces (WIL com_ptr / Chromium ComPtr shape).
//
//   com::ComPtr<IOPCServer> server;
//   RETURN_IF_FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_PPV_ARGS(server.put())));
//   com::ComPtr<IOPCCommon> common;
//   RETURN_IF_FAILED(server.query(&common));
//   if (auto browse = server.try_query<IOPCBrowseServerAddressSpace>()) { ... }
//
// The interface's IID comes from __uuidof, which MinGW provides for every interface declared
// with __CRT_UUID_DECL (system headers and widl-generated headers alike).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace com {

template <class T>
class ComPtr {
public:
    using element_type = T;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes its own reference (like ATL's CComPtr); use attach() to adopt one.
    explicit ComPtr(T* p) noexcept : p_(p) { AddRefIfNotNull(); }
    ComPtr(const ComPtr& other) noexcept : p_(other.p_) { AddRefIfNotNull(); }
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    template <class U>
    ComPtr(const ComPtr<U>& other) noexcept : p_(other.get()) {
        AddRefIfNotNull();
    }
    template <class U>
    ComPtr(ComPtr<U>&& other) noexcept : p_(other.detach()) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases what is held and returns the empty slot for an out-parameter.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    IUnknown** put_unknown() noexcept { return reinterpret_cast<IUnknown**>(put()); }

    // Gives up ownership without releasing.
    [[nodiscard]] T* detach() noexcept {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // Adopts a reference the caller already owns.
    void attach(T* p) noexcept {
        reset();
        p_ = p;
    }
    void reset() noexcept {
        if (T* p = detach()) p->Release();
    }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    // Hands out a new reference: *out = get(), AddRef'd (null stays null).
    HRESULT copy_to(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p_;
        AddRefIfNotNull();
        return S_OK;
    }
    // QueryInterface into a raw out-parameter (E_POINTER when this is empty).
    HRESULT copy_to(REFIID riid, void** out) const noexcept { return query(riid, out); }

    HRESULT query(REFIID riid, void** out) const noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!p_) return E_POINTER;
        return p_->QueryInterface(riid, out);
    }
    template <class U>
    HRESULT query(U** out) const noexcept {
        return query(__uuidof(U), reinterpret_cast<void**>(out));
    }
    template <class U>
    HRESULT query(ComPtr<U>* out) const noexcept {
        if (!out) return E_POINTER;
        return query(__uuidof(U), out->put_void());
    }
    // Empty on any failure.
    template <class U>
    ComPtr<U> try_query() const noexcept {
        ComPtr<U> result;
        query(&result);
        return result;
    }

private:
    void AddRefIfNotNull() const noexcept {
        if (p_) p_->AddRef();
    }

    T* p_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.get() == b.get();
}
template <class T, class U>
bool operator!=(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.get() != b.get();
}
template <class T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.get() == nullptr;
}
template <class T>
bool operator==(std::nullptr_t, const ComPtr<T>& a) noexcept {
    return a.get() == nullptr;
}
template <class T>
bool operator!=(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.get() != nullptr;
}
template <class T>
bool operator!=(std::nullptr_t, const ComPtr<T>& a) noexcept {
    return a.get() != nullptr;
}

// CoCreateInstance into a ComPtr of the wanted interface.
template <class T>
HRESULT CoCreate(REFCLSID clsid, ComPtr<T>* out, DWORD context = CLSCTX_ALL) noexcept {
    if (!out) return E_POINTER;
    return ::CoCreateInstance(clsid, nullptr, context, __uuidof(T), out->put_void());
}

// COM identity: the IUnknown each object answers to QueryInterface(IID_IUnknown).
// Raw pointers of different interfaces (or proxies) must never be compared directly.
inline bool IsSameObject(IUnknown* a, IUnknown* b) noexcept {
    if (a == b) return true;
    if (!a || !b) return false;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, ua.put_void()))) return false;
    if (FAILED(b->QueryInterface(IID_IUnknown, ub.put_void()))) return false;
    return ua == ub;
}

}  // namespace com
