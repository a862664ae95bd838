// VARTYPE facts of a parameter node: names for messages, valid data types,
// types that take part in range checks.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace vk {

// "VT_UI1 | VT_ARRAY" for VT_ARRAY|VT_UI1: the base name, then the
// VT_VECTOR, VT_ARRAY and VT_BYREF markers in this order.
std::string VarTypeName(VARTYPE vt);

// The type with VT_ARRAY and VT_BYREF removed (VT_VECTOR stays).
inline VARTYPE BaseType(VARTYPE vt) { return vt & ~(VT_ARRAY | VT_BYREF); }

// A parameter may hold the automation base types up to VT_UINT (without
// the unused 15, 20, 21) and VT_RECORD; no 64-bit integers, no vectors.
bool IsValidDataType(VARTYPE vt);

// Integer and floating-point types whose values are compared with Min and Max.
bool TakesPartInRangeCheck(VARTYPE vt);

}  // namespace vk
