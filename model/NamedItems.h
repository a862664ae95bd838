// An ordered list of named COM objects: the parameters or the child objects of
// one node, in creation order (the order collections and browsing show).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <string_view>
#include <vector>

#include "com/ComPtr.h"

namespace model {

class CModelNode;

class NamedItems {
public:
    struct Entry {
        std::wstring name;
        com::ComPtr<IUnknown> item;  // the object's identity (IUnknown), counted
        CModelNode* node = nullptr;  // set when the item is a node of this module
    };
    static constexpr size_t npos = static_cast<size_t>(-1);

    size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    const Entry& at(size_t index) const { return entries_.at(index); }

    // Exact, case-sensitive comparison.
    size_t Find(std::wstring_view name) const noexcept;
    // By COM identity; identity must be the object's IUnknown.
    size_t FindItem(IUnknown* identity) const noexcept;

    void Add(std::wstring name, com::ComPtr<IUnknown> item, CModelNode* node = nullptr);
    // Hands the removed entry to the caller (its reference goes with it).
    Entry RemoveAt(size_t index);
    void Rename(size_t index, std::wstring name) { entries_.at(index).name = std::move(name); }
    // Empties the list, handing the entries to the caller.
    std::vector<Entry> TakeAll() noexcept;

    std::vector<com::ComPtr<IUnknown>> Items() const;

private:
    std::vector<Entry> entries_;
};

}  // namespace model
