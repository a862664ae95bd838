#include "com/Bstr.h"

#include <limits>
#include <new>

namespace com {

UniqueBstr::UniqueBstr(std::wstring_view text) {
    if (FAILED(AllocBstr(text, &s_))) throw std::bad_alloc();
}

HRESULT UniqueBstr::copy_to(BSTR* out) const noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!s_) return S_OK;
    return AllocBstr(view(), out);
}

HRESULT AllocBstr(std::wstring_view text, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.size() > std::numeric_limits<UINT>::max() / 2) return E_OUTOFMEMORY;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace com
