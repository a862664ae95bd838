#include "com/Variant.h"

#include "com/Bstr.h"
#include "com/Result.h"

namespace com {

UniqueVariant::UniqueVariant(const VARIANT& source) {
    ::VariantInit(&v_);
    THROW_IF_FAILED(copy_from(source));
}

UniqueVariant::UniqueVariant(std::wstring_view text) {
    ::VariantInit(&v_);
    THROW_IF_FAILED(AllocBstr(text, &V_BSTR(&v_)));
    V_VT(&v_) = VT_BSTR;
}

UniqueVariant::UniqueVariant(LONG value) noexcept {
    ::VariantInit(&v_);
    V_VT(&v_) = VT_I4;
    V_I4(&v_) = value;
}

UniqueVariant& UniqueVariant::operator=(UniqueVariant&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

HRESULT UniqueVariant::copy_from(const VARIANT& source) noexcept {
    if (&source == &v_) return S_OK;
    VARIANT copy;
    ::VariantInit(&copy);
    RETURN_IF_FAILED(::VariantCopy(&copy, const_cast<VARIANT*>(&source)));
    reset(copy);
    return S_OK;
}

HRESULT UniqueVariant::copy_to(VARIANT* out) const noexcept {
    RETURN_IF_NULL_POINTER(out);
    ::VariantInit(out);
    return ::VariantCopy(out, const_cast<VARIANT*>(&v_));
}

HRESULT UniqueVariant::move_to(VARIANT* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    *out = release();
    return S_OK;
}

}  // namespace com
