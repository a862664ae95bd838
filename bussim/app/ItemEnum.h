// IEnumOPCItemAttributes over a snapshot of a group's items.
#pragma once

#include <windows.h>

#include <opc.h>

#include <string>
#include <vector>

namespace bussim {

struct ItemAttributes {
    std::wstring itemId;
    BOOL active = FALSE;
    OPCHANDLE hClient = 0;
    OPCHANDLE hServer = 0;
    DWORD rights = 0;
    VARTYPE requested = VT_EMPTY;
    VARTYPE canonical = VT_EMPTY;
};

HRESULT CreateItemAttributesEnum(std::vector<ItemAttributes> items, IEnumOPCItemAttributes** out);

}  // namespace bussim
