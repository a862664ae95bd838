#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/HandleRegistry.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "vkopc.h"

// Keyed container of COM objects: the groups of a server, the items of a group.
// Keys are ANSI byte strings, unique and ordered by their bytes; every element
// also has a 32-bit handle for clients (never a pointer value).
class CUnknownCont : public com::Object<com::Dual<IUnknownCont, 2>> {
public:
    struct Element {
        DWORD handle = 0;
        com::ComPtr<IUnknown> object;
    };

    // S_OK and the handle; OPC_E_DUPLICATENAME if the key exists, E_OUTOFMEMORY when
    // no handle is left, E_POINTER without an object.
    HRESULT Add(const std::string& key, IUnknown* object, DWORD* handle);
    bool FindByKey(const std::string& key, Element* found) const;
    bool FindByHandle(DWORD handle, Element* found, std::string* key = nullptr) const;
    bool ContainsKey(const std::string& key) const;
    // The removed object is released after the container's lock is left.
    bool RemoveByHandle(DWORD handle);
    bool RemoveByKey(const std::string& key);
    // Moves an element to another key, keeping its handle; false if the new key exists.
    bool Rekey(const std::string& oldKey, const std::string& newKey);
    size_t Count() const;
    // The elements in key order, for iterating without the lock.
    std::vector<Element> Snapshot() const;
    // Drops every element (released outside the lock).
    void Clear();
    // How many elements may get a handle at once (tests of a full container).
    void LimitHandles(size_t count) { handles_.SetCapacity(count); }

    // IUnknownCont
    STDMETHODIMP GetElement(long lIndex, IUnknown** ppUnk) override;
    STDMETHODIMP GetCount(long* plCount) override;
    STDMETHODIMP GetElementByHandle(unsigned long hHandle, IUnknown** ppUnk) override;

private:
    mutable com::CriticalSection lock_;  // guards elements_ and handles_
    std::map<std::string, Element> elements_;
    // handle -> key; shared so that a rename moves the key without a new handle
    com::HandleRegistry<std::shared_ptr<std::string>> handles_;
};
