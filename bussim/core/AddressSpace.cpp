#include "AddressSpace.h"

#include <algorithm>
#include <cctype>

namespace bussim {
namespace {

// Matches one [set] at pattern[p] against c; sets `end` past the ']'.
bool MatchSet(const std::string& pattern, size_t p, char c, size_t* end) {
    size_t i = p + 1;
    bool negate = i < pattern.size() && pattern[i] == '!';
    if (negate) ++i;
    bool found = false;
    bool first = true;
    while (i < pattern.size() && (pattern[i] != ']' || first)) {
        first = false;
        char low = pattern[i];
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = pattern[i + 2];
            i += 2;
        }
        if (c >= low && c <= high) found = true;
        ++i;
    }
    *end = i < pattern.size() ? i + 1 : i;
    return found != negate;
}

bool Match(const std::string& text, size_t t, const std::string& pattern, size_t p) {
    while (p < pattern.size()) {
        char pc = pattern[p];
        if (pc == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;
            if (p == pattern.size()) return true;
            for (size_t k = t; k <= text.size(); ++k) {
                if (Match(text, k, pattern, p)) return true;
            }
            return false;
        }
        if (t >= text.size()) return false;
        char c = text[t];
        if (pc == '?') {
            ++p;
        } else if (pc == '#') {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
            ++p;
        } else if (pc == '[') {
            size_t end;
            if (!MatchSet(pattern, p, c, &end)) return false;
            p = end;
        } else {
            if (pc != c) return false;
            ++p;
        }
        ++t;
    }
    return t == text.size();
}

}  // namespace

bool MatchesFilter(const std::string& text, const std::string& filter) {
    return filter.empty() || Match(text, 0, filter, 0);
}

AddressSpace::AddressSpace(const std::vector<ItemInfo>& items) {
    for (const ItemInfo& item : items) {
        Position path = Split(item.id);
        Node* node = &root_;
        for (size_t i = 0; i + 1 < path.size(); ++i) {
            std::unique_ptr<Node>& child = node->branches[path[i]];
            if (!child) child = std::make_unique<Node>();
            node = child.get();
        }
        node->leaves[path.back()] = item;
        items_[item.id] = item;
    }
}

AddressSpace::Position AddressSpace::Split(const std::string& path) {
    Position parts;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string AddressSpace::Join(const Position& position) {
    std::string path;
    for (const std::string& part : position) path += (path.empty() ? "" : "/") + part;
    return path;
}

const AddressSpace::Node* AddressSpace::FindBranch(const Position& position) const {
    const Node* node = &root_;
    for (const std::string& name : position) {
        auto it = node->branches.find(name);
        if (it == node->branches.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

std::vector<std::string> AddressSpace::Branches(const Position& position,
                                                const std::string& filter) const {
    std::vector<std::string> names;
    if (const Node* node = FindBranch(position)) {
        for (const auto& [name, child] : node->branches) {
            if (MatchesFilter(name, filter)) names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> AddressSpace::Leaves(const Position& position, const std::string& filter,
                                              const ItemFilter& accept) const {
    std::vector<std::string> names;
    if (const Node* node = FindBranch(position)) {
        for (const auto& [name, item] : node->leaves) {
            if (MatchesFilter(name, filter) && (!accept || accept(item))) names.push_back(name);
        }
    }
    return names;
}

void AddressSpace::CollectFlat(const Node& node, const std::string& filter,
                               const ItemFilter& accept, std::vector<std::string>* out) const {
    for (const auto& [name, item] : node.leaves) {
        if (MatchesFilter(item.id, filter) && (!accept || accept(item))) out->push_back(item.id);
    }
    for (const auto& [name, child] : node.branches) CollectFlat(*child, filter, accept, out);
}

std::vector<std::string> AddressSpace::Flat(const Position& position, const std::string& filter,
                                            const ItemFilter& accept) const {
    std::vector<std::string> ids;
    if (const Node* node = FindBranch(position)) CollectFlat(*node, filter, accept, &ids);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::optional<std::string> AddressSpace::ItemId(const Position& position,
                                                const std::string& name) const {
    Position full = position;
    for (const std::string& part : Split(name)) full.push_back(part);
    std::string id = Join(full);
    if (items_.count(id) || (!full.empty() && IsBranch(full)) ||
        (name.empty() && IsBranch(position)))
        return id;
    // A full item ID (as a flat browse returns it) stands for itself.
    if (items_.count(name)) return name;
    return std::nullopt;
}

}  // namespace bussim
