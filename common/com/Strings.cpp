#include "com/Strings.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <vector>

namespace com {

namespace {

std::string Narrow(std::wstring_view text, UINT code_page) {
    if (text.empty()) return std::string();
    const int length =
        static_cast<int>(std::min<size_t>(text.size(), std::numeric_limits<int>::max()));
    const int size =
        ::WideCharToMultiByte(code_page, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(code_page, 0, text.data(), length, &result[0], size, nullptr,
                              nullptr);
    return result;
}

std::wstring Widen(std::string_view text, UINT code_page) {
    if (text.empty()) return std::wstring();
    const int length =
        static_cast<int>(std::min<size_t>(text.size(), std::numeric_limits<int>::max()));
    const int size = ::MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
    std::wstring result(size > 0 ? size : 0, L'\0');
    if (size > 0) ::MultiByteToWideChar(code_page, 0, text.data(), length, &result[0], size);
    return result;
}

}  // namespace

std::string WideToAnsi(std::wstring_view text, UINT code_page) { return Narrow(text, code_page); }
std::wstring AnsiToWide(std::string_view text, UINT code_page) { return Widen(text, code_page); }
std::string WideToUtf8(std::wstring_view text) { return Narrow(text, CP_UTF8); }
std::wstring Utf8ToWide(std::string_view text) { return Widen(text, CP_UTF8); }

std::wstring GuidToString(REFGUID g, bool braces) {
    wchar_t text[40];
    std::swprintf(text, 40, L"%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return braces ? L"{" + std::wstring(text) + L"}" : std::wstring(text);
}

bool StringToGuid(std::wstring_view text, GUID* out) {
    if (!out) return false;
    if (text.size() == 38 && text.front() == L'{' && text.back() == L'}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    std::wstring braced = L"{" + std::wstring(text) + L"}";
    // CLSIDFromString also accepts ProgIDs; only the GUID form is wanted here.
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != L'-' : !iswxdigit(text[i])) return false;
    }
    return SUCCEEDED(::CLSIDFromString(braced.c_str(), out));
}

std::wstring VFormat(const wchar_t* format, va_list args) {
    if (!format) return std::wstring();
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= (1u << 20)) return std::wstring(format);  // malformed format
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring result = VFormat(format, args);
    va_end(args);
    return result;
}

std::wstring HrToString(HRESULT hr) { return Format(L"0x%08lX", static_cast<unsigned long>(hr)); }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace com
