#pragma once
// Bus-server item addresses: "opc://" + bus-server ProgID + "/" + item ID.

#include <windows.h>

#include <string>
#include <string_view>

namespace vkopc {

struct ItemAddress {
    std::wstring progId;
    std::wstring itemId;  // everything behind the first "/" after the ProgID
};

// Splits an item address. Backslashes count as slashes (addresses typed on
// Windows often use them), the "opc://" prefix is compared without regard to
// case, the item ID with regard to it. A missing prefix, a missing "/" behind
// the ProgID or an empty ProgID or item ID give E_INVALIDARG.
HRESULT SplitItemAddress(std::wstring_view address, ItemAddress* result);

}  // namespace vkopc
