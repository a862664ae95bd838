#include "NamedItems.h"

#include <utility>

namespace model {

size_t NamedItems::Find(std::wstring_view name) const noexcept {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].name == name) return i;
    }
    return npos;
}

size_t NamedItems::FindItem(IUnknown* identity) const noexcept {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].item.get() == identity) return i;
    }
    return npos;
}

void NamedItems::Add(std::wstring name, com::ComPtr<IUnknown> item, CModelNode* node) {
    entries_.push_back(Entry{std::move(name), std::move(item), node});
}

NamedItems::Entry NamedItems::RemoveAt(size_t index) {
    Entry entry = std::move(entries_.at(index));
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    return entry;
}

std::vector<NamedItems::Entry> NamedItems::TakeAll() noexcept {
    std::vector<Entry> all;
    all.swap(entries_);
    return all;
}

std::vector<com::ComPtr<IUnknown>> NamedItems::Items() const {
    std::vector<com::ComPtr<IUnknown>> items;
    items.reserve(entries_.size());
    for (const Entry& entry : entries_) items.push_back(entry.item);
    return items;
}

}  // namespace model
