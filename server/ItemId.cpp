#include "ItemId.h"

ItemIdParts SplitItemId(std::wstring_view itemId) noexcept {
    ItemIdParts parts;
    parts.path = itemId;
    if (itemId.empty() || itemId.back() != L']') return parts;
    const size_t open = itemId.rfind(L'[');
    if (open == std::wstring_view::npos) return parts;
    const size_t close = itemId.find(L']', open + 1);  // found: the last character at least
    parts.path = itemId.substr(0, open);
    parts.property = itemId.substr(open + 1, close - open - 1);
    parts.isProperty = true;
    return parts;
}
