#include "item_address.h"

#include <algorithm>

namespace vkopc {
namespace {
constexpr std::wstring_view kPrefix = L"opc://";
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    // Ordinal comparison: ProgIDs are ASCII, and the locale must not matter.
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

HRESULT SplitItemAddress(std::wstring_view address, ItemAddress* result) {
    if (!result)
        return E_POINTER;
    std::wstring text(address);
    std::replace(text.begin(), text.end(), L'\\', L'/');
    if (text.size() < kPrefix.size() ||
        !EqualsIgnoringCase(std::wstring_view(text).substr(0, kPrefix.size()), kPrefix))
        return E_INVALIDARG;
    const size_t slash = text.find(L'/', kPrefix.size());
    if (slash == std::wstring::npos || slash == kPrefix.size() || slash + 1 == text.size())
        return E_INVALIDARG;
    result->progId = text.substr(kPrefix.size(), slash - kPrefix.size());
    result->itemId = text.substr(slash + 1);
    return S_OK;
}

std::wstring MakeItemAddress(std::wstring_view progId, std::wstring_view itemId) {
    std::wstring address(kPrefix);
    address.append(progId).append(L"/").append(itemId);
    return address;
}

}  // namespace vkopc
