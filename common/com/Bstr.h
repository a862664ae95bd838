// com/Bstr.h - UniqueBstr: owner of one BSTR (Chromium ScopedBSTR / WIL unique_bstr shape).
//
//   com::UniqueBstr name;
//   RETURN_IF_FAILED(item->get_Name(name.put()));
//   return com::AllocBstr(L"text", pbstrOut);
//   if (com::BstrView(bsName).empty()) return E_INVALIDARG;
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace com {

class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    // Copies the text; throws std::bad_alloc when out of memory.
    explicit UniqueBstr(std::wstring_view text);
    UniqueBstr(UniqueBstr&& other) noexcept : s_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { reset(); }

    BSTR get() const noexcept { return s_; }
    // Frees the string and returns the slot for an out-parameter.
    BSTR* put() noexcept {
        reset();
        return &s_;
    }
    // Hands the string to the caller, who frees it.
    [[nodiscard]] BSTR release() noexcept {
        BSTR s = s_;
        s_ = nullptr;
        return s;
    }
    // Adopts an owned BSTR.
    void reset(BSTR owned = nullptr) noexcept {
        if (s_ != owned) ::SysFreeString(s_);
        s_ = owned;
    }

    UINT length() const noexcept { return ::SysStringLen(s_); }
    bool empty() const noexcept { return length() == 0; }
    // A null BSTR reads as "".
    std::wstring_view view() const noexcept { return std::wstring_view(s_ ? s_ : L"", length()); }
    std::wstring str() const { return std::wstring(view()); }

    // A new BSTR with the same text for an out-parameter (null stays null).
    HRESULT copy_to(BSTR* out) const noexcept;

private:
    BSTR s_ = nullptr;
};

// A BSTR read in place, not owned (an [in] argument): a null BSTR reads as "".
inline std::wstring_view BstrView(BSTR text) noexcept {
    return std::wstring_view(text ? text : L"", text ? ::SysStringLen(text) : 0);
}

// SysAllocStringLen into an out-parameter: E_POINTER / E_OUTOFMEMORY / S_OK.
HRESULT AllocBstr(std::wstring_view text, BSTR* out) noexcept;

}  // namespace com
