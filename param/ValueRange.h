// Range checks of a parameter's value against its Min and Max. The checks
// are advisory: callers report a failed check but store the value anyway.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace vk {

// Converts v to vt with VariantChangeType and reads its numeric value; every
// range-checked type fits a double exactly. Fails for types outside the check.
HRESULT NumericValue(const VARIANT& v, VARTYPE vt, double* value);

// Whether value lies outside [min, max], all read as numbers of type vt.
// Only range-checked types are checked. A bound that is unset (VT_EMPTY) or
// not convertible sets no limit on its side; both unset means no check.
bool IsOutOfRange(const VARIANT& value, const VARIANT& min, const VARIANT& max, VARTYPE vt);

// The text of a value for a message: a copy converted to VT_BSTR by the
// standard conversion; a value that cannot be copied reads as VT_ERROR,
// one that cannot be converted as "".
std::wstring VariantText(const VARIANT& v);

}  // namespace vk
