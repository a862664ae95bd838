#include "ClientArrays.h"

#include <oleauto.h>

#include "com/Result.h"
#include "com/Variant.h"

namespace vkauto {
namespace {

// Element `index` of `array` as a VARIANT of its own type.
HRESULT ReadElement(SAFEARRAY* array, VARTYPE vt, LONG index, com::UniqueVariant* element) {
    VARIANT* out = element->put();
    if (vt == VT_VARIANT) return ::SafeArrayGetElement(array, &index, out);
    // Every scalar element type fits the VARIANT's value union at its start.
    RETURN_IF_FAILED(::SafeArrayGetElement(array, &index, &V_I8(out)));
    V_VT(out) = vt;
    return S_OK;
}

}  // namespace

HRESULT CreateOneBasedArray(VARTYPE vt, ULONG count, com::UniqueSafeArray* out) {
    SAFEARRAYBOUND bound = {count, 1};
    out->reset(::SafeArrayCreate(vt, 1, &bound));
    return out->get() ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReadClientLongs(SAFEARRAY* array, LONG count, std::vector<LONG>* values) {
    RETURN_HR_IF(E_INVALIDARG, count < 1 || !array || ::SafeArrayGetDim(array) != 1);
    LONG lower = 0;
    LONG upper = 0;
    VARTYPE vt = VT_EMPTY;
    RETURN_HR_IF(E_INVALIDARG, FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
                                   FAILED(::SafeArrayGetUBound(array, 1, &upper)) ||
                                   FAILED(::SafeArrayGetVartype(array, &vt)));
    RETURN_HR_IF(E_INVALIDARG, lower > 1 || upper < count);
    RETURN_HR_IF(E_INVALIDARG, vt == VT_RECORD || vt == VT_DISPATCH || vt == VT_UNKNOWN);
    std::vector<LONG> read;
    read.reserve(static_cast<size_t>(count));
    for (LONG index = 1; index <= count; ++index) {
        com::UniqueVariant element;
        com::UniqueVariant number;
        if (FAILED(ReadElement(array, vt, index, &element)) ||
            FAILED(::VariantChangeType(number.put(), element.get(), 0, VT_I4)))
            return E_INVALIDARG;
        read.push_back(V_I4(number.get()));
    }
    *values = std::move(read);
    return S_OK;
}

}  // namespace vkauto
