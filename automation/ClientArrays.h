// ClientArrays.h - the arrays an automation client passes and receives. Arrays made here are
// one-dimensional with lower bound 1. A client's array must be one-dimensional with a lower
// bound of at most 1 and an upper bound of at least the count given with it; elements 1 to
// count are used (element 0 of a 0-based array is ignored).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "com/SafeArray.h"
#include "com/Variant.h"

namespace vkauto {

// A new VT_ARRAY of `vt` with `count` elements from 1.
HRESULT CreateOneBasedArray(VARTYPE vt, ULONG count, com::UniqueSafeArray* out);

// Elements 1..count of a client's array as 32-bit numbers, whatever numeric type it holds
// (VARIANT elements included). E_INVALIDARG for count < 1, a missing or misshapen array, or an
// element that does not convert; `values` is then unchanged.
HRESULT ReadClientLongs(SAFEARRAY* array, LONG count, std::vector<LONG>* values);
// The same as texts (VT_BSTR).
HRESULT ReadClientStrings(SAFEARRAY* array, LONG count, std::vector<std::wstring>* values);
// The same as VARIANTs converted to `vt`; VT_VARIANT takes each element as it is (a value
// held by reference is copied).
HRESULT ReadClientVariants(SAFEARRAY* array, LONG count, VARTYPE vt,
                           std::vector<com::UniqueVariant>* values);
// A new 1-based VT_I4 array holding `values`, for an out-array.
HRESULT PutOneBasedLongs(const std::vector<LONG>& values, SAFEARRAY** out);

}  // namespace vkauto
