// ClientArrays.h - the arrays an automation client passes and receives. Arrays made here are
// one-dimensional with lower bound 1. A client's array must be one-dimensional with a lower
// bound of at most 1 and an upper bound of at least the count given with it; elements 1 to
// count are used (element 0 of a 0-based array is ignored).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "com/SafeArray.h"

namespace vkauto {

// A new VT_ARRAY of `vt` with `count` elements from 1.
HRESULT CreateOneBasedArray(VARTYPE vt, ULONG count, com::UniqueSafeArray* out);

// Elements 1..count of a client's array as 32-bit numbers, whatever numeric type it holds
// (VARIANT elements included). E_INVALIDARG for count < 1, a missing or misshapen array, or an
// element that does not convert; `values` is then unchanged.
HRESULT ReadClientLongs(SAFEARRAY* array, LONG count, std::vector<LONG>* values);

}  // namespace vkauto
