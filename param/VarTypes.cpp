#include "VarTypes.h"

#include <iterator>

namespace vk {
namespace {

// Indexed by the base type; 15, 20 and 21 have no name of their own.
constexpr const char* kBaseNames[] = {
    "VT_EMPTY",   "VT_NULL", "VT_I2",       "VT_I4",    "VT_R4",   "VT_R8",      "VT_CY",
    "VT_DATE",    "VT_BSTR", "VT_DISPATCH", "VT_ERROR", "VT_BOOL", "VT_VARIANT", "VT_UNKNOWN",
    "VT_DECIMAL", "",        "VT_I1",       "VT_UI1",   "VT_UI2",  "VT_UI4",     "",
    "",           "VT_INT",  "VT_UINT",
};

}  // namespace

std::string VarTypeName(VARTYPE vt) {
    const VARTYPE base = vt & VT_TYPEMASK;
    std::string name;
    if (base < std::size(kBaseNames))
        name = kBaseNames[base];
    else if (base == VT_RECORD)
        name = "VT_RECORD";
    else
        name = "VT_" + std::to_string(base);
    if (vt & VT_VECTOR) name += " | VT_VECTOR";
    if (vt & VT_ARRAY) name += " | VT_ARRAY";
    if (vt & VT_BYREF) name += " | BYREF";
    return name;
}

bool IsValidDataType(VARTYPE vt) {
    const VARTYPE base = BaseType(vt);
    return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UI4) || base == VT_INT ||
           base == VT_UINT || base == VT_RECORD;
}

bool TakesPartInRangeCheck(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_INT:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UINT:
        case VT_R4:
        case VT_R8: return true;
        default: return false;
    }
}

}  // namespace vk
