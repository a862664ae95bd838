// Naming rules of a parameter node.
#pragma once

#include <cwchar>

namespace vk {

// Whether name holds any of the parent's separator characters; an empty
// separator list forbids nothing.
inline bool ContainsSeparator(const wchar_t* name, const wchar_t* separators) {
    return name && separators && *separators && std::wcspbrk(name, separators) != nullptr;
}

}  // namespace vk
