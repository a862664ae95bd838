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
    [[nodiscard]] T* release() noexcept {
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

// A task-memory array of task-memory strings, as names and descriptions are handed to callers.
// Until release(), every string set so far goes with the array, so that a failure half-way
// leaves nothing behind.
class CoTaskMemStrings {
public:
    CoTaskMemStrings() noexcept = default;
    CoTaskMemStrings(const CoTaskMemStrings&) = delete;
    CoTaskMemStrings& operator=(const CoTaskMemStrings&) = delete;
    ~CoTaskMemStrings() { reset(); }

    // count null entries; false when out of memory.
    bool alloc(size_t count) noexcept {
        reset();
        if (!array_.alloc(count)) return false;
        count_ = count;
        return true;
    }
    // Entry i (once per entry) becomes a copy of text; E_OUTOFMEMORY leaves it null.
    HRESULT Set(size_t i, std::wstring_view text) noexcept {
        return CoTaskMemString(text, &array_[i]);
    }
    LPWSTR operator[](size_t i) const noexcept { return array_[i]; }
    [[nodiscard]] LPWSTR* release() noexcept {
        count_ = 0;
        return array_.release();
    }
    void reset() noexcept {
        for (size_t i = 0; i < count_; ++i) ::CoTaskMemFree(array_[i]);
        count_ = 0;
        array_.reset();
    }

private:
    CoTaskMem<LPWSTR> array_;
    size_t count_ = 0;  // entries to free
};

}  // namespace com
