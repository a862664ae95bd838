// ValueConversion.h - the one conversion every value handed to an automation client passes:
// types scripting languages cannot hold become the nearest ones they can.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace vkauto {

// Copies `value` into `out` (which need not be initialised). When `convert` is on: VT_I1
// becomes VT_I2, VT_UI2 VT_I4, VT_UI4 VT_R8, and a 1-D array of those a new array of the
// wider type with the same count and lower bound 0. Anything else, VT_UI1 included, is copied
// unchanged. On failure `out` is VT_EMPTY.
HRESULT ConvertForAutomation(const VARIANT& value, bool convert, VARIANT* out) noexcept;

// The module-wide switch: off when HKLM "Software\Brennholt\vkOPCDAAuto" has the DWORD
// "DoNotConvertValuesForAutomation" equal to 1.
bool ConversionSwitchedOn();

}  // namespace vkauto
