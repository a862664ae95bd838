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

HRESULT ReadClientVariants(SAFEARRAY* array, LONG count, VARTYPE vt,
                           std::vector<com::UniqueVariant>* values) {
    RETURN_HR_IF(E_INVALIDARG, count < 1 || !array || ::SafeArrayGetDim(array) != 1);
    LONG lower = 0;
    LONG upper = 0;
    VARTYPE elementType = VT_EMPTY;
    RETURN_HR_IF(E_INVALIDARG, FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
                                   FAILED(::SafeArrayGetUBound(array, 1, &upper)) ||
                                   FAILED(::SafeArrayGetVartype(array, &elementType)));
    RETURN_HR_IF(E_INVALIDARG, lower > 1 || upper < count);
    RETURN_HR_IF(E_INVALIDARG, elementType == VT_RECORD || elementType == VT_DISPATCH ||
                                   elementType == VT_UNKNOWN);
    std::vector<com::UniqueVariant> read;
    read.reserve(static_cast<size_t>(count));
    for (LONG index = 1; index <= count; ++index) {
        com::UniqueVariant element;
        if (FAILED(ReadElement(array, elementType, index, &element))) return E_INVALIDARG;
        if (vt == VT_VARIANT) {
            // A script passes values by reference inside its arrays now and then.
            com::UniqueVariant plain;
            if (FAILED(::VariantCopyInd(plain.put(), element.get()))) return E_INVALIDARG;
            read.push_back(std::move(plain));
            continue;
        }
        com::UniqueVariant converted;
        if (FAILED(::VariantChangeType(converted.put(), element.get(), 0, vt))) return E_INVALIDARG;
        read.push_back(std::move(converted));
    }
    *values = std::move(read);
    return S_OK;
}

HRESULT ReadClientLongs(SAFEARRAY* array, LONG count, std::vector<LONG>* values) {
    std::vector<com::UniqueVariant> read;
    RETURN_IF_FAILED(ReadClientVariants(array, count, VT_I4, &read));
    std::vector<LONG> numbers;
    numbers.reserve(read.size());
    for (const auto& value : read) numbers.push_back(V_I4(value.get()));
    *values = std::move(numbers);
    return S_OK;
}

HRESULT ReadClientStrings(SAFEARRAY* array, LONG count, std::vector<std::wstring>* values) {
    std::vector<com::UniqueVariant> read;
    RETURN_IF_FAILED(ReadClientVariants(array, count, VT_BSTR, &read));
    std::vector<std::wstring> texts;
    texts.reserve(read.size());
    for (const auto& value : read)
        texts.emplace_back(V_BSTR(value.get()) ? V_BSTR(value.get()) : L"");
    *values = std::move(texts);
    return S_OK;
}

HRESULT PutOneBasedLongs(const std::vector<LONG>& values, SAFEARRAY** out) {
    com::UniqueSafeArray array;
    RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, static_cast<ULONG>(values.size()), &array));
    for (size_t i = 0; i < values.size(); ++i) {
        LONG index = static_cast<LONG>(i) + 1;
        LONG value = values[i];
        RETURN_IF_FAILED(::SafeArrayPutElement(array.get(), &index, &value));
    }
    *out = array.release();
    return S_OK;
}

}  // namespace vkauto
