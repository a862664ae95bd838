// com/Sync.h - CriticalSection with its one guard type CsLock, and UniqueHandle for kernel handles.
//
//   mutable com::CriticalSection lock_;  // guards items_
//   com::CsLock guard(lock_);
#pragma once

#include <windows.h>

namespace com {

// Recursive, like every Win32 critical section: a COM call that re-enters on the same thread
// does not deadlock on its own lock.
class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&cs_); }
    ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() noexcept { ::EnterCriticalSection(&cs_); }
    void unlock() noexcept { ::LeaveCriticalSection(&cs_); }
    bool try_lock() noexcept { return ::TryEnterCriticalSection(&cs_) != FALSE; }

private:
    CRITICAL_SECTION cs_;
};

class CsLock {
public:
    explicit CsLock(CriticalSection& cs) noexcept : cs_(cs) { cs_.lock(); }
    ~CsLock() { cs_.unlock(); }
    CsLock(const CsLock&) = delete;
    CsLock& operator=(const CsLock&) = delete;

private:
    CriticalSection& cs_;
};

// Owner of a kernel handle; both null and INVALID_HANDLE_VALUE mean "none".
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(HANDLE owned) noexcept : h_(owned) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const noexcept { return h_; }
    bool is_valid() const noexcept { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const noexcept { return is_valid(); }
    HANDLE* put() noexcept {
        reset();
        return &h_;
    }
    [[nodiscard]] HANDLE release() noexcept {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE owned = nullptr) noexcept {
        if (is_valid() && h_ != owned) ::CloseHandle(h_);
        h_ = owned;
    }

private:
    HANDLE h_ = nullptr;
};

}  // namespace com
