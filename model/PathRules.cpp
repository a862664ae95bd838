#include "PathRules.h"

namespace model {

bool IsValidNodeName(std::wstring_view name) noexcept {
    return !name.empty() && name.find(kSeparator) == std::wstring_view::npos;
}

bool IsValidParameterName(std::wstring_view name) noexcept { return !name.empty(); }

std::wstring JoinPath(std::wstring_view parent_path, std::wstring_view name) {
    if (parent_path.empty()) return std::wstring(name);
    std::wstring path;
    path.reserve(parent_path.size() + 1 + name.size());
    path.append(parent_path).push_back(kSeparator);
    path.append(name);
    return path;
}

PathSplit SplitFirst(std::wstring_view path) noexcept {
    PathSplit split;
    const size_t at = path.find(kSeparator);
    if (at == std::wstring_view::npos) {
        split.head = path;
        return split;
    }
    split.head = path.substr(0, at);
    split.tail = path.substr(at + 1);
    split.has_tail = true;
    return split;
}

}  // namespace model
