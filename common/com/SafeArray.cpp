#include "com/SafeArray.h"

#include <cstring>
#include <limits>

#include "com/Result.h"

namespace com {

HRESULT CreateByteArray(const void* data, size_t size, UniqueSafeArray* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    out->reset();
    RETURN_HR_IF(E_POINTER, size && !data);
    RETURN_HR_IF(E_OUTOFMEMORY, size > std::numeric_limits<ULONG>::max());
    UniqueSafeArray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size)));
    RETURN_IF_NULL_ALLOC(array.get());
    if (size) {
        void* target = nullptr;
        RETURN_IF_FAILED(::SafeArrayAccessData(array.get(), &target));
        std::memcpy(target, data, size);
        ::SafeArrayUnaccessData(array.get());
    }
    *out = std::move(array);
    return S_OK;
}

HRESULT ReadByteArray(const SAFEARRAY* array, std::vector<BYTE>* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    RETURN_IF_NULL_POINTER(array);
    SAFEARRAY* sa = const_cast<SAFEARRAY*>(array);
    RETURN_HR_IF(E_INVALIDARG, ::SafeArrayGetDim(sa) != 1);
    VARTYPE vt = VT_EMPTY;
    RETURN_IF_FAILED(::SafeArrayGetVartype(sa, &vt));
    RETURN_HR_IF(DISP_E_BADVARTYPE, vt != VT_UI1 && vt != VT_I1);
    LONG lower = 0, upper = -1;
    RETURN_IF_FAILED(::SafeArrayGetLBound(sa, 1, &lower));
    RETURN_IF_FAILED(::SafeArrayGetUBound(sa, 1, &upper));
    const LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
    return ComBoundary([&]() -> HRESULT {
        std::vector<BYTE> bytes(count > 0 ? static_cast<size_t>(count) : 0);
        if (!bytes.empty()) {
            void* source = nullptr;
            RETURN_IF_FAILED(::SafeArrayAccessData(sa, &source));
            std::memcpy(bytes.data(), source, bytes.size());
            ::SafeArrayUnaccessData(sa);
        }
        out->swap(bytes);
        return S_OK;
    });
}

HRESULT BytesToVariant(const void* data, size_t size, VARIANT* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    ::VariantInit(out);
    UniqueSafeArray array;
    RETURN_IF_FAILED(CreateByteArray(data, size, &array));
    V_VT(out) = VT_ARRAY | VT_UI1;
    V_ARRAY(out) = array.release();
    return S_OK;
}

HRESULT VariantToBytes(const VARIANT& value, std::vector<BYTE>* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    if (V_VT(&value) == (VT_ARRAY | VT_UI1)) return ReadByteArray(V_ARRAY(&value), out);
    if (V_VT(&value) == (VT_BYREF | VT_ARRAY | VT_UI1) && V_ARRAYREF(&value))
        return ReadByteArray(*V_ARRAYREF(&value), out);
    return DISP_E_TYPEMISMATCH;
}

}  // namespace com
