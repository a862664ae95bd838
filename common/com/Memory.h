// com/Memory.h - CoTaskMem<T>: owner of a task-memory array that is handed to a caller on
// success and freed on every error path; CoTaskMemString for out-strings.
//
//   com::CoTaskMem<HRESULT> errors;
//   RETURN_HR_IF(E_OUTOFMEMORY, !errors.alloc(dwCount));
//   ...
//   *ppErrors = errors.release();
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

namespace com {

template <class T>
class CoTaskMem {
    static_assert(std::is_trivially_destructible_v<T>, "task memory holds plain data only");

public:
    CoTaskMem() noexcept = default;
    explicit CoTaskMem(T* owned) noexcept : p_(owned) {}
    CoTaskMem(CoTaskMem&& other) noexcept : p_(other.release()) {}
    CoTaskMem& operator=(CoTaskMem&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;
    ~CoTaskMem() { reset(); }

    // Zero-filled room for count elements (at least one byte, so that count 0 still yields
    // a valid pointer); false when out of memory.
    bool alloc(size_t count) noexcept {
        reset();
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) return false;
        const size_t bytes = count ? count * sizeof(T) : 1;
        p_ = static_cast<T*>(::CoTaskMemAlloc(bytes));
        if (!p_) return false;
        std::memset(static_cast<void*>(p_), 0, bytes);
        return true;
    }

    T* get() const noexcept { return p_; }
    T& operator[](size_t i) const noexcept { return p_[i]; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** put() noexcept {
        reset();
        return &p_;
    }
    T* release() noexcept {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T* owned = nullptr) noexcept {
        if (p_ && p_ != owned) ::CoTaskMemFree(p_);
        p_ = owned;
    }

private:
    T* p_ = nullptr;
};

// A zero-terminated copy in task memory: E_POINTER / E_OUTOFMEMORY / S_OK.
HRESULT CoTaskMemString(std::wstring_view text, LPWSTR* out) noexcept;

}  // namespace com
