#include "ValueRules.h"

#include <cmath>
#include <cstring>

#include "opc.h"

namespace {

bool IsUnsigned(VARTYPE vt) noexcept {
    return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
}

bool IsNegative(const VARIANT& value) noexcept {
    if (IsUnsigned(V_VT(&value))) return false;
    VARIANT number;
    VariantInit(&number);
    const bool negative =
        SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R8)) &&
        V_R8(&number) < 0;
    VariantClear(&number);
    return negative;
}

bool AsDouble(const VARIANT& value, double* out) noexcept {
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_R8))) return false;
    *out = V_R8(&number);
    return true;
}

}  // namespace

HRESULT ConvertValue(const VARIANT& in, VARTYPE vt, VARIANT* out) noexcept {
    VariantInit(out);
    if (IsUnsigned(vt) && IsNegative(in)) return OPC_E_RANGE;
    const HRESULT hr = VariantChangeType(out, const_cast<VARIANT*>(&in), 0, vt);
    if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
    if (FAILED(hr)) return hr;
    if (V_VT(out) != vt) {
        VariantClear(out);
        return OPC_E_BADTYPE;
    }
    return S_OK;
}

bool ValuesDiffer(const VARIANT& cached, const VARIANT& fresh, double analogBand) noexcept {
    const VARTYPE vt = V_VT(&fresh);
    if (V_VT(&cached) != vt) return true;
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL: return false;
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4: {
            double a = 0, b = 0;
            if (!AsDouble(cached, &a) || !AsDouble(fresh, &b)) return true;
            if (a == b) return false;
            return analogBand < 0 || std::fabs(a - b) > analogBand;
        }
        case VT_BOOL: return V_BOOL(&cached) != V_BOOL(&fresh);
        case VT_ERROR: return V_ERROR(&cached) != V_ERROR(&fresh);
        case VT_DISPATCH:
        case VT_UNKNOWN: return V_UNKNOWN(&cached) != V_UNKNOWN(&fresh);
        case VT_CY: return V_CY(&cached).int64 != V_CY(&fresh).int64;
        case VT_DATE: return V_DATE(&cached) != V_DATE(&fresh);
        case VT_BSTR: {
            const UINT n = SysStringByteLen(V_BSTR(&cached));
            return n != SysStringByteLen(V_BSTR(&fresh)) ||
                   (n && std::memcmp(V_BSTR(&cached), V_BSTR(&fresh), n) != 0);
        }
        case VT_ARRAY | VT_UI1: {
            SAFEARRAY* a = V_ARRAY(&cached);
            SAFEARRAY* b = V_ARRAY(&fresh);
            if (!a || !b || SafeArrayGetDim(a) != 1 || SafeArrayGetDim(b) != 1) return true;
            const ULONG n = a->rgsabound[0].cElements;
            if (n != b->rgsabound[0].cElements) return true;
            return n && std::memcmp(a->pvData, b->pvData, n) != 0;
        }
        default: return true;
    }
}
