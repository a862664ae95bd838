// Names of drive parameter items: the last element of an item's path says which
// parameter it reads, at which subindex and as which VARIANT type,
// "pari" P ["s" S] "d" D ["l" L] ["x" X] (letters in any case), e.g. pari964s0d18.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace orvane::interaction {

struct ParameterItemName {
    WORD parameter = 0;
    WORD subindex = 0;       // 0 when the name has no "s" part
    bool unindexed = false;  // no "s" part, or options beginning with "ni"
    VARTYPE vt = VT_EMPTY;   // the "d" part
    ULONG length = 1;        // the "l" part; parsed, not used for items
    std::wstring options;    // the "x" part
};

// E_INVALIDARG for a name that does not follow the syntax (shorter than 7
// characters, a missing or non-decimal number, numbers out of range, text left over).
HRESULT ParseParameterItemName(const std::wstring& name, ParameterItemName* parsed);

// The data type an item of VARIANT type `vt` is written with when no read test tells
// it; E_INVALIDARG for a type without one.
HRESULT DataTypeForVarType(VARTYPE vt, BYTE* dataType);

}  // namespace orvane::interaction
