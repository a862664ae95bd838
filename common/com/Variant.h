// com/Variant.h - UniqueVariant: owner of one VARIANT (Chromium ScopedVariant shape).
//
//   com::UniqueVariant value;
//   RETURN_IF_FAILED(param->get_Value(value.put()));
//   RETURN_IF_FAILED(value.copy_to(pvOut));
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string_view>

namespace com {

class UniqueVariant {
public:
    UniqueVariant() noexcept { ::VariantInit(&v_); }
    // Deep copies; throw com::HResultError (std::bad_alloc when out of memory) on failure.
    explicit UniqueVariant(const VARIANT& source);
    explicit UniqueVariant(std::wstring_view text);  // VT_BSTR
    explicit UniqueVariant(LONG value) noexcept;     // VT_I4
    UniqueVariant(UniqueVariant&& other) noexcept : v_(other.release()) {}
    UniqueVariant& operator=(UniqueVariant&& other) noexcept;
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { reset(); }

    const VARIANT* get() const noexcept { return &v_; }
    VARIANT* get() noexcept { return &v_; }
    const VARIANT& operator*() const noexcept { return v_; }
    VARTYPE vt() const noexcept { return V_VT(&v_); }
    // Clears and returns the slot for an out-parameter.
    VARIANT* put() noexcept {
        reset();
        return &v_;
    }
    // Moves the value out to the caller, who clears it; this becomes VT_EMPTY.
    [[nodiscard]] VARIANT release() noexcept {
        VARIANT v = v_;
        ::VariantInit(&v_);
        return v;
    }
    void reset() noexcept { ::VariantClear(&v_); }
    // Adopts an owned VARIANT (its contents are not copied).
    void reset(const VARIANT& owned) noexcept {
        reset();
        v_ = owned;
    }

    HRESULT copy_from(const VARIANT& source) noexcept;
    // Deep copy into an out-parameter that need not be initialised.
    HRESULT copy_to(VARIANT* out) const noexcept;
    // Hands the value to an out-parameter that need not be initialised.
    HRESULT move_to(VARIANT* out) noexcept;

private:
    VARIANT v_;
};

}  // namespace com
