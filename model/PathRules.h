// Names and "/"-paths of the object model; no COM here.
#pragma once

#include <string>
#include <string_view>

namespace model {

inline constexpr wchar_t kSeparator = L'/';
inline constexpr const wchar_t* kSeparators = L"/";

// A node name is a non-empty path element. Parameter names may hold separators
// ("DS_MSAC2_Parameter/MA_ProfileIdentNumber" mirrors a bus-server item ID), so
// that lookups try a parameter's whole remaining path before descending.
bool IsValidNodeName(std::wstring_view name) noexcept;
bool IsValidParameterName(std::wstring_view name) noexcept;

// parent + "/" + name, or name alone below an empty path (the root's).
std::wstring JoinPath(std::wstring_view parent_path, std::wstring_view name);

// "head/tail" at the first separator; has_tail is false when there is none.
struct PathSplit {
    std::wstring_view head;
    std::wstring_view tail;
    bool has_tail = false;
};
PathSplit SplitFirst(std::wstring_view path) noexcept;

}  // namespace model
