#include "ValueConversion.h"

#include <oleauto.h>

#include "com/RegKey.h"
#include "com/Result.h"
#include "com/SafeArray.h"
#include "com/Variant.h"

namespace vkauto {
namespace {

// The type a script can hold for `vt`, or VT_EMPTY when `vt` stays as it is.
VARTYPE WiderType(VARTYPE vt) {
    switch (vt) {
        case VT_I1: return VT_I2;
        case VT_UI2: return VT_I4;
        case VT_UI4: return VT_R8;
        default: return VT_EMPTY;
    }
}

template <class From, class To>
void CopyElements(const void* from, void* to, ULONG count) {
    const From* source = static_cast<const From*>(from);
    To* target = static_cast<To*>(to);
    for (ULONG i = 0; i < count; ++i) target[i] = static_cast<To>(source[i]);
}

HRESULT WidenArray(SAFEARRAY* source, VARTYPE from, VARTYPE to, VARIANT* out) {
    LONG lower = 0;
    LONG upper = -1;
    RETURN_IF_FAILED(::SafeArrayGetLBound(source, 1, &lower));
    RETURN_IF_FAILED(::SafeArrayGetUBound(source, 1, &upper));
    const ULONG count = upper >= lower ? static_cast<ULONG>(upper - lower + 1) : 0;
    SAFEARRAYBOUND bound = {count, 0};
    com::UniqueSafeArray target(::SafeArrayCreate(to, 1, &bound));
    RETURN_IF_NULL_ALLOC(target.get());
    if (count > 0) {
        void* sourceData = nullptr;
        void* targetData = nullptr;
        RETURN_IF_FAILED(::SafeArrayAccessData(source, &sourceData));
        const HRESULT hr = ::SafeArrayAccessData(target.get(), &targetData);
        if (SUCCEEDED(hr)) {
            switch (from) {  // sign-extended, zero-extended, to floating point
                case VT_I1: CopyElements<signed char, SHORT>(sourceData, targetData, count); break;
                case VT_UI2: CopyElements<USHORT, LONG>(sourceData, targetData, count); break;
                case VT_UI4: CopyElements<ULONG, DOUBLE>(sourceData, targetData, count); break;
            }
            ::SafeArrayUnaccessData(target.get());
        }
        ::SafeArrayUnaccessData(source);
        RETURN_IF_FAILED(hr);
    }
    V_VT(out) = VT_ARRAY | to;
    V_ARRAY(out) = target.release();
    return S_OK;
}

}  // namespace

HRESULT ConvertForAutomation(const VARIANT& value, bool convert, VARIANT* out) noexcept {
    RETURN_HR_IF(E_INVALIDARG, !out);
    ::VariantInit(out);
    const VARTYPE vt = V_VT(&value);
    if (convert && (vt & VT_ARRAY) && !(vt & VT_BYREF)) {
        const VARTYPE element = vt & VT_TYPEMASK;
        const VARTYPE wider = WiderType(element);
        if (wider != VT_EMPTY && V_ARRAY(&value) && ::SafeArrayGetDim(V_ARRAY(&value)) == 1)
            return WidenArray(V_ARRAY(&value), element, wider, out);
    }
    if (convert && WiderType(vt) != VT_EMPTY) {
        return ::VariantChangeType(out, const_cast<VARIANT*>(&value), 0, WiderType(vt));
    }
    return ::VariantCopy(out, const_cast<VARIANT*>(&value));
}

bool ConversionSwitchedOn() {
    com::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, L"Software\\Brennholt\\vkOPCDAAuto") != ERROR_SUCCESS)
        return true;
    DWORD doNotConvert = 0;
    key.ReadDword(L"DoNotConvertValuesForAutomation", &doNotConvert);
    return doNotConvert != 1;
}

}  // namespace vkauto
