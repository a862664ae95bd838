#include "ItemAddress.h"

#include <algorithm>

#include "com/Strings.h"

namespace vkopc {
namespace {
constexpr std::wstring_view kPrefix = L"opc://";
}

HRESULT SplitItemAddress(std::wstring_view address, ItemAddress* result) {
    if (!result) return E_POINTER;
    std::wstring text(address);
    std::replace(text.begin(), text.end(), L'\\', L'/');
    if (text.size() < kPrefix.size() ||
        !com::EqualsNoCase(std::wstring_view(text).substr(0, kPrefix.size()), kPrefix))
        return E_INVALIDARG;
    const size_t slash = text.find(L'/', kPrefix.size());
    if (slash == std::wstring::npos || slash == kPrefix.size() || slash + 1 == text.size())
        return E_INVALIDARG;
    result->progId = text.substr(kPrefix.size(), slash - kPrefix.size());
    result->itemId = text.substr(slash + 1);
    return S_OK;
}

}  // namespace vkopc
