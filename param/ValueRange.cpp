#include "ValueRange.h"

#include <oleauto.h>

#include "VarTypes.h"

namespace vk {

HRESULT NumericValue(const VARIANT& v, VARTYPE vt, double* value) {
    if (!TakesPartInRangeCheck(vt)) return DISP_E_TYPEMISMATCH;
    // The target types are scalars: the converted variant owns nothing.
    VARIANT number;
    VariantInit(&number);
    const HRESULT hr = VariantChangeType(&number, const_cast<VARIANT*>(&v), 0, vt);
    if (FAILED(hr)) return hr;
    switch (vt) {
        case VT_I1: *value = number.cVal; break;
        case VT_I2: *value = number.iVal; break;
        case VT_I4: *value = number.lVal; break;
        case VT_INT: *value = number.intVal; break;
        case VT_UI1: *value = number.bVal; break;
        case VT_UI2: *value = number.uiVal; break;
        case VT_UI4: *value = number.ulVal; break;
        case VT_UINT: *value = number.uintVal; break;
        case VT_R4: *value = number.fltVal; break;
        default: *value = number.dblVal; break;
    }
    return S_OK;
}

bool IsOutOfRange(const VARIANT& value, const VARIANT& min, const VARIANT& max, VARTYPE vt) {
    if (!TakesPartInRangeCheck(vt)) return false;
    double number = 0;
    if (FAILED(NumericValue(value, vt, &number))) return false;
    double bound = 0;
    if (V_VT(&min) != VT_EMPTY && SUCCEEDED(NumericValue(min, vt, &bound)) && number < bound)
        return true;
    if (V_VT(&max) != VT_EMPTY && SUCCEEDED(NumericValue(max, vt, &bound)) && number > bound)
        return true;
    return false;
}

std::wstring VariantText(const VARIANT& v) {
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT copied = VariantCopy(&copy, const_cast<VARIANT*>(&v));
    if (FAILED(copied)) {
        V_VT(&copy) = VT_ERROR;
        V_ERROR(&copy) = copied;
    }
    std::wstring text;
    if (SUCCEEDED(VariantChangeType(&copy, &copy, 0, VT_BSTR)) && V_BSTR(&copy))
        text.assign(V_BSTR(&copy), SysStringLen(V_BSTR(&copy)));
    VariantClear(&copy);
    return text;
}

}  // namespace vk
