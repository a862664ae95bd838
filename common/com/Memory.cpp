#include "com/Memory.h"

namespace com {

HRESULT CoTaskMemString(std::wstring_view text, LPWSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.size() >= std::numeric_limits<size_t>::max() / sizeof(wchar_t)) return E_OUTOFMEMORY;
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, text.data(), text.size() * sizeof(wchar_t));
    copy[text.size()] = L'\0';
    *out = copy;
    return S_OK;
}

}  // namespace com
