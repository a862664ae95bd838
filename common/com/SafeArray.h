// com/SafeArray.h - UniqueSafeArray owner and helpers for 1-D byte arrays (VT_ARRAY|VT_UI1,
// lower bound 0), the form telegrams and blobs travel in.
//
//   com::UniqueSafeArray telegram;
//   RETURN_IF_FAILED(com::CreateByteArray(bytes.data(), bytes.size(), &telegram));
//   std::vector<BYTE> answer;
//   RETURN_IF_FAILED(com::VariantToBytes(vAnswer, &answer));
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <vector>

namespace com {

class UniqueSafeArray {
public:
    UniqueSafeArray() noexcept = default;
    explicit UniqueSafeArray(SAFEARRAY* owned) noexcept : a_(owned) {}
    UniqueSafeArray(UniqueSafeArray&& other) noexcept : a_(other.release()) {}
    UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueSafeArray(const UniqueSafeArray&) = delete;
    UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
    ~UniqueSafeArray() { reset(); }

    SAFEARRAY* get() const noexcept { return a_; }
    SAFEARRAY** put() noexcept {
        reset();
        return &a_;
    }
    [[nodiscard]] SAFEARRAY* release() noexcept {
        SAFEARRAY* a = a_;
        a_ = nullptr;
        return a;
    }
    void reset(SAFEARRAY* owned = nullptr) noexcept {
        if (a_ && a_ != owned) ::SafeArrayDestroy(a_);
        a_ = owned;
    }

private:
    SAFEARRAY* a_ = nullptr;
};

// A new VT_UI1 array [0, size) holding a copy of data.
HRESULT CreateByteArray(const void* data, size_t size, UniqueSafeArray* out) noexcept;
// Copies a 1-D VT_UI1 array (any lower bound); DISP_E_BADVARTYPE / E_INVALIDARG otherwise.
HRESULT ReadByteArray(const SAFEARRAY* array, std::vector<BYTE>* out) noexcept;
// VT_ARRAY|VT_UI1 into an out VARIANT that need not be initialised.
HRESULT BytesToVariant(const void* data, size_t size, VARIANT* out) noexcept;
// Reads VT_ARRAY|VT_UI1 (also by reference); DISP_E_TYPEMISMATCH for anything else.
HRESULT VariantToBytes(const VARIANT& value, std::vector<BYTE>* out) noexcept;

}  // namespace com
