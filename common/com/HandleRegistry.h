// com/HandleRegistry.h - thread-safe map of 32-bit handles given to clients -> objects.
//
//   com::HandleRegistry<com::ComPtr<IUnknown>> groups;
//   DWORD hServerGroup = groups.Add(group);        // 0 only when out of handles
//   com::ComPtr<IUnknown> found;
//   if (!groups.Find(hServerGroup, &found)) return OPC_E_INVALIDHANDLE;
//
// Handles are never pointer values (x64 pointers do not fit and a client's number must never
// be dereferenced). The counter runs on, skipping 0 and values still in use, so a handle is
// unique while its object lives and is not reused soon after it is removed.
#pragma once

#include <windows.h>

#include <unordered_map>
#include <utility>
#include <vector>

#include "com/Sync.h"

namespace com {

template <class T>
class HandleRegistry {
public:
    explicit HandleRegistry(DWORD first = 1) noexcept : next_(first) {}
    HandleRegistry(const HandleRegistry&) = delete;
    HandleRegistry& operator=(const HandleRegistry&) = delete;

    // A new handle for value; 0 when every handle is in use. Throws std::bad_alloc.
    DWORD Add(T value) {
        CsLock guard(lock_);
        if (map_.size() >= capacity_) return 0;
        DWORD handle = next_++;
        while (handle == 0 || map_.count(handle)) handle = next_++;
        map_.emplace(handle, std::move(value));
        return handle;
    }
    // Copies the value out; false for an unknown handle (out unchanged).
    bool Find(DWORD handle, T* out) const {
        CsLock guard(lock_);
        auto it = map_.find(handle);
        if (it == map_.end()) return false;
        if (out) *out = it->second;
        return true;
    }
    bool Contains(DWORD handle) const { return Find(handle, nullptr); }
    // Removes the entry; its value is moved to out (if given) so that the caller can release it
    // outside the registry's lock. False for an unknown handle.
    bool Remove(DWORD handle, T* out = nullptr) {
        T removed;
        {
            CsLock guard(lock_);
            auto it = map_.find(handle);
            if (it == map_.end()) return false;
            removed = std::move(it->second);
            map_.erase(it);
        }
        if (out) *out = std::move(removed);
        return true;
    }
    // Where the counter continues (tests of the wrap-around).
    void SetNextHandle(DWORD next) {
        CsLock guard(lock_);
        next_ = next;
    }
    // How many handles may be in use at once (tests of a full registry).
    void SetCapacity(size_t capacity) {
        CsLock guard(lock_);
        capacity_ = capacity < kMaxHandles ? capacity : kMaxHandles;
    }
    size_t Size() const {
        CsLock guard(lock_);
        return map_.size();
    }
    // Copy of all entries, for iterating without holding the lock.
    std::vector<std::pair<DWORD, T>> Snapshot() const {
        CsLock guard(lock_);
        return std::vector<std::pair<DWORD, T>>(map_.begin(), map_.end());
    }
    // Empties the registry; the values are released after the lock is left.
    void Clear() {
        std::unordered_map<DWORD, T> old;
        {
            CsLock guard(lock_);
            old.swap(map_);
        }
    }

private:
    static constexpr size_t kMaxHandles = 0xFFFFFFFEu;

    mutable CriticalSection lock_;  // guards map_ and next_
    std::unordered_map<DWORD, T> map_;
    DWORD next_;
    size_t capacity_ = kMaxHandles;
};

}  // namespace com
