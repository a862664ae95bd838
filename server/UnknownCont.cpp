#include "UnknownCont.h"

#include <utility>

#include "com/Result.h"
#include "opcerror.h"

HRESULT CUnknownCont::Add(const std::string& key, IUnknown* object, DWORD* handle) {
    if (!object) return E_POINTER;
    com::CsLock guard(lock_);
    if (elements_.count(key)) return OPC_E_DUPLICATENAME;
    const DWORD newHandle = handles_.Add(std::make_shared<std::string>(key));
    if (newHandle == 0) return E_OUTOFMEMORY;
    Element element;
    element.handle = newHandle;
    element.object = com::ComPtr<IUnknown>(object);
    elements_.emplace(key, std::move(element));
    if (handle) *handle = newHandle;
    return S_OK;
}

bool CUnknownCont::FindByKey(const std::string& key, Element* found) const {
    com::CsLock guard(lock_);
    auto it = elements_.find(key);
    if (it == elements_.end()) return false;
    if (found) *found = it->second;
    return true;
}

bool CUnknownCont::FindByHandle(DWORD handle, Element* found, std::string* key) const {
    com::CsLock guard(lock_);
    std::shared_ptr<std::string> elementKey;
    if (!handles_.Find(handle, &elementKey)) return false;
    auto it = elements_.find(*elementKey);
    if (it == elements_.end()) return false;
    if (found) *found = it->second;
    if (key) *key = *elementKey;
    return true;
}

bool CUnknownCont::ContainsKey(const std::string& key) const { return FindByKey(key, nullptr); }

bool CUnknownCont::RemoveByHandle(DWORD handle) {
    com::ComPtr<IUnknown> removed;
    {
        com::CsLock guard(lock_);
        std::shared_ptr<std::string> key;
        if (!handles_.Find(handle, &key)) return false;
        auto it = elements_.find(*key);
        if (it != elements_.end()) {
            removed = std::move(it->second.object);
            elements_.erase(it);
        }
        handles_.Remove(handle);
    }
    return true;
}

bool CUnknownCont::RemoveByKey(const std::string& key) {
    com::ComPtr<IUnknown> removed;
    {
        com::CsLock guard(lock_);
        auto it = elements_.find(key);
        if (it == elements_.end()) return false;
        handles_.Remove(it->second.handle);
        removed = std::move(it->second.object);
        elements_.erase(it);
    }
    return true;
}

bool CUnknownCont::Rekey(const std::string& oldKey, const std::string& newKey) {
    com::CsLock guard(lock_);
    auto it = elements_.find(oldKey);
    if (it == elements_.end() || elements_.count(newKey)) return false;
    Element element = std::move(it->second);
    elements_.erase(it);
    std::shared_ptr<std::string> key;
    if (handles_.Find(element.handle, &key)) *key = newKey;  // the handle stays the element's
    elements_.emplace(newKey, std::move(element));
    return true;
}

size_t CUnknownCont::Count() const {
    com::CsLock guard(lock_);
    return elements_.size();
}

std::vector<CUnknownCont::Element> CUnknownCont::Snapshot() const {
    com::CsLock guard(lock_);
    std::vector<Element> result;
    result.reserve(elements_.size());
    for (const auto& entry : elements_) result.push_back(entry.second);
    return result;
}

void CUnknownCont::Clear() {
    std::map<std::string, Element> old;
    {
        com::CsLock guard(lock_);
        old.swap(elements_);
        handles_.Clear();
    }
}

STDMETHODIMP CUnknownCont::GetElement(long lIndex, IUnknown** ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppUnk);
        *ppUnk = nullptr;
        com::CsLock guard(lock_);
        if (lIndex < 0 || static_cast<size_t>(lIndex) >= elements_.size()) return E_FAIL;
        auto it = elements_.begin();
        std::advance(it, lIndex);
        return it->second.object.copy_to(ppUnk);
    });
}

STDMETHODIMP CUnknownCont::GetCount(long* plCount) {
    RETURN_IF_NULL_POINTER(plCount);
    *plCount = static_cast<long>(Count());
    return S_OK;
}

STDMETHODIMP CUnknownCont::GetElementByHandle(unsigned long hHandle, IUnknown** ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppUnk);
        *ppUnk = nullptr;
        Element element;
        if (!FindByHandle(hHandle, &element)) return E_INVALIDARG;
        return element.object.copy_to(ppUnk);
    });
}
