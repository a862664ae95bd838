#include "ValueText.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <vector>

#include "com/Strings.h"
#include "com/Time.h"
#include "com/Variant.h"

namespace {

struct TypeEntry {
    const wchar_t* name;
    const wchar_t* vtName;
    VARTYPE type;
};

const TypeEntry kTypes[] = {
    {L"bool", L"VT_BOOL", VT_BOOL}, {L"i1", L"VT_I1", VT_I1},
    {L"ui1", L"VT_UI1", VT_UI1},    {L"i2", L"VT_I2", VT_I2},
    {L"ui2", L"VT_UI2", VT_UI2},    {L"i4", L"VT_I4", VT_I4},
    {L"ui4", L"VT_UI4", VT_UI4},    {L"i8", L"VT_I8", VT_I8},
    {L"ui8", L"VT_UI8", VT_UI8},    {L"r4", L"VT_R4", VT_R4},
    {L"r8", L"VT_R8", VT_R8},       {L"date", L"VT_DATE", VT_DATE},
    {L"bstr", L"VT_BSTR", VT_BSTR}, {L"string", L"VT_BSTR", VT_BSTR},
    {L"int", L"VT_INT", VT_INT},    {L"uint", L"VT_UINT", VT_UINT},
    {L"cy", L"VT_CY", VT_CY},       {L"empty", L"VT_EMPTY", VT_EMPTY},
};

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return L"";
    const size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

bool IsInteger(VARTYPE type) {
    switch (type) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT: return true;
        default: return false;
    }
}

// Integers in decimal or hex, checked against the type's range.
HRESULT ParseInteger(const std::wstring& text, VARTYPE type, VARIANT* out) {
    if (text.empty()) return E_INVALIDARG;
    const bool negative = text[0] == L'-';
    // Decimal unless "0x": base 0 would read "010" as octal 8 and refuse "08".
    const size_t digits = (negative || text[0] == L'+') ? 1 : 0;
    const bool hex = text.size() > digits + 1 && text[digits] == L'0' &&
                     (text[digits + 1] == L'x' || text[digits + 1] == L'X');
    const int base = hex ? 16 : 10;
    wchar_t* end = nullptr;
    errno = 0;
    long long signedValue = 0;
    unsigned long long unsignedValue = 0;
    if (negative)
        signedValue = wcstoll(text.c_str(), &end, base);
    else
        unsignedValue = wcstoull(text.c_str(), &end, base);
    if (errno != 0 || !end || *end != L'\0') return E_INVALIDARG;
    auto fits = [&](long long min, unsigned long long max) {
        return negative ? signedValue >= min : unsignedValue <= max;
    };
    V_VT(out) = type;
    switch (type) {
        case VT_I1:
            if (!fits(-128, 127)) return E_INVALIDARG;
            V_I1(out) = static_cast<CHAR>(negative ? signedValue : unsignedValue);
            return S_OK;
        case VT_UI1:
            if (negative || !fits(0, 0xFF)) return E_INVALIDARG;
            V_UI1(out) = static_cast<BYTE>(unsignedValue);
            return S_OK;
        case VT_I2:
            if (!fits(-32768, 32767)) return E_INVALIDARG;
            V_I2(out) = static_cast<SHORT>(negative ? signedValue : unsignedValue);
            return S_OK;
        case VT_UI2:
            if (negative || !fits(0, 0xFFFF)) return E_INVALIDARG;
            V_UI2(out) = static_cast<USHORT>(unsignedValue);
            return S_OK;
        case VT_I4:
        case VT_INT:
            if (!fits(std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()))
                return E_INVALIDARG;
            V_I4(out) = static_cast<LONG>(negative ? signedValue : unsignedValue);
            return S_OK;
        case VT_UI4:
        case VT_UINT:
            if (negative || !fits(0, 0xFFFFFFFFu)) return E_INVALIDARG;
            V_UI4(out) = static_cast<ULONG>(unsignedValue);
            return S_OK;
        case VT_I8:
            if (!fits(std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max()))
                return E_INVALIDARG;
            V_I8(out) = negative ? signedValue : static_cast<LONGLONG>(unsignedValue);
            return S_OK;
        case VT_UI8:
            if (negative) return E_INVALIDARG;
            V_UI8(out) = unsignedValue;
            return S_OK;
        default: return E_INVALIDARG;
    }
}

HRESULT ParseScalar(const std::wstring& rawText, VARTYPE type, VARIANT* out) {
    VariantInit(out);
    if (type == VT_BSTR) {
        V_VT(out) = VT_BSTR;
        V_BSTR(out) = SysAllocStringLen(rawText.data(), static_cast<UINT>(rawText.size()));
        return V_BSTR(out) ? S_OK : E_OUTOFMEMORY;
    }
    const std::wstring text = Trim(rawText);
    if (IsInteger(type)) return ParseInteger(text, type, out);
    if (type == VT_BOOL) {
        V_VT(out) = VT_BOOL;
        if (com::EqualsNoCase(text, L"true") || text == L"1")
            V_BOOL(out) = VARIANT_TRUE;
        else if (com::EqualsNoCase(text, L"false") || text == L"0")
            V_BOOL(out) = VARIANT_FALSE;
        else
            return E_INVALIDARG;
        return S_OK;
    }
    if (type == VT_R4 || type == VT_R8) {
        wchar_t* end = nullptr;
        errno = 0;
        const double number = wcstod(text.c_str(), &end);
        if (text.empty() || errno != 0 || !end || *end != L'\0') return E_INVALIDARG;
        // A finite number beyond float's range would turn into infinity.
        if (type == VT_R4 && std::isfinite(number) &&
            std::fabs(number) > std::numeric_limits<float>::max())
            return E_INVALIDARG;
        V_VT(out) = type;
        if (type == VT_R4)
            V_R4(out) = static_cast<float>(number);
        else
            V_R8(out) = number;
        return S_OK;
    }
    // Dates, currency: the invariant locale's text forms.
    com::UniqueVariant source{std::wstring_view(text)};
    return VariantChangeTypeEx(out, source.get(), LOCALE_INVARIANT, 0, type);
}

std::vector<std::wstring> SplitList(std::wstring text) {
    text = Trim(text);
    if (text.size() >= 2 && text.front() == L'[' && text.back() == L']')
        text = text.substr(1, text.size() - 2);
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : text) {
        if (c == L',' || c == L' ' || c == L'\t') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

std::wstring FormatScalar(const VARIANT& value) {
    switch (V_VT(&value)) {
        case VT_EMPTY: return L"(empty)";
        case VT_NULL: return L"(null)";
        case VT_BOOL: return V_BOOL(&value) ? L"true" : L"false";
        case VT_I1: return std::to_wstring(V_I1(&value));
        case VT_UI1: return std::to_wstring(V_UI1(&value));
        case VT_I2: return std::to_wstring(V_I2(&value));
        case VT_UI2: return std::to_wstring(V_UI2(&value));
        case VT_I4: return std::to_wstring(V_I4(&value));
        case VT_UI4: return std::to_wstring(V_UI4(&value));
        case VT_INT: return std::to_wstring(V_INT(&value));
        case VT_UINT: return std::to_wstring(V_UINT(&value));
        case VT_I8: return std::to_wstring(V_I8(&value));
        case VT_UI8: return std::to_wstring(V_UI8(&value));
        case VT_R4: return com::Format(L"%g", static_cast<double>(V_R4(&value)));
        case VT_R8: return com::Format(L"%.15g", V_R8(&value));
        case VT_BSTR: {
            const BSTR text = V_BSTR(&value);
            return L"\"" + std::wstring(text ? text : L"", text ? SysStringLen(text) : 0) + L"\"";
        }
        case VT_ERROR: return com::HrToString(V_ERROR(&value));
        case VT_DATE: {
            FILETIME time;
            if (!com::DateToFileTime(V_DATE(&value), &time))
                return com::Format(L"%.10g", V_DATE(&value));
            std::wstring text = FormatFileTime(time);
            return text.substr(0, text.size() - 4);  // a DATE carries no time zone
        }
        default: {
            com::UniqueVariant text;
            if (SUCCEEDED(VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(&value),
                                              LOCALE_INVARIANT, 0, VT_BSTR)))
                return FormatScalar(*text.get());
            return L"(" + VarTypeName(V_VT(&value)) + L")";
        }
    }
}

}  // namespace

std::wstring VarTypeName(VARTYPE type) {
    std::wstring prefix = (type & VT_ARRAY) ? L"VT_ARRAY|" : L"";
    const VARTYPE base = type & VT_TYPEMASK;
    for (const TypeEntry& entry : kTypes) {
        if (entry.type == base) return prefix + entry.vtName;
    }
    return prefix + com::Format(L"VT_%u", base);
}

bool ParseTypeName(const std::wstring& rawName, VARTYPE* type) {
    std::wstring name = Trim(rawName);
    VARTYPE arrayFlag = 0;
    if (name.size() > 2 && name.compare(name.size() - 2, 2, L"[]") == 0) {
        arrayFlag = VT_ARRAY;
        name.resize(name.size() - 2);
    }
    for (const TypeEntry& entry : kTypes) {
        if (com::EqualsNoCase(name, entry.name) || com::EqualsNoCase(name, entry.vtName)) {
            if (entry.type == VT_EMPTY && arrayFlag) return false;
            *type = entry.type | arrayFlag;
            return true;
        }
    }
    return false;
}

std::wstring FormatValue(const VARIANT& value) {
    if (!(V_VT(&value) & VT_ARRAY)) return FormatScalar(value);
    SAFEARRAY* array = (V_VT(&value) & VT_BYREF) ? *V_ARRAYREF(&value) : V_ARRAY(&value);
    if (!array || SafeArrayGetDim(array) != 1) return L"(" + VarTypeName(V_VT(&value)) + L")";
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    std::wstring text = L"[";
    for (LONG i = lower; i <= upper; ++i) {
        com::UniqueVariant element;
        const VARTYPE elementType = V_VT(&value) & VT_TYPEMASK;
        if (elementType == VT_VARIANT) {
            SafeArrayGetElement(array, &i, element.get());
        } else {
            V_VT(element.get()) = elementType;
            // Every scalar VARIANT member starts at the same place.
            SafeArrayGetElement(array, &i, &element.get()->bVal);
        }
        if (i != lower) text += L", ";
        text += FormatScalar(*element.get());
    }
    return text + L"]";
}

HRESULT ParseValue(const std::wstring& text, VARTYPE type, VARIANT* value, std::wstring* message) {
    VariantInit(value);
    if (!(type & VT_ARRAY)) {
        const HRESULT hr = ParseScalar(text, type, value);
        if (SUCCEEDED(hr)) return S_OK;
        VariantInit(value);  // a failed parse may have set the type already
        *message = L"\"" + text + L"\" is not a value of type " + VarTypeName(type);
        return E_INVALIDARG;
    }
    const VARTYPE elementType = type & VT_TYPEMASK;
    const std::vector<std::wstring> parts = SplitList(text);
    SAFEARRAY* array = SafeArrayCreateVector(elementType, 0, static_cast<ULONG>(parts.size()));
    if (!array) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(parts.size()); ++i) {
        com::UniqueVariant element;
        HRESULT hr = ParseScalar(parts[i], elementType, element.get());
        if (SUCCEEDED(hr)) {
            void* data = elementType == VT_BSTR ? static_cast<void*>(V_BSTR(element.get()))
                                                : static_cast<void*>(&element.get()->bVal);
            hr = SafeArrayPutElement(array, &i, data);
        }
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            *message = L"element " + std::to_wstring(i) + L" \"" + parts[i] +
                       L"\" is not a value of type " + VarTypeName(elementType);
            return E_INVALIDARG;
        }
    }
    V_VT(value) = type;
    V_ARRAY(value) = array;
    return S_OK;
}

std::wstring FormatQuality(WORD quality) {
    const wchar_t* text = L"bad";
    if ((quality & 0xC0) == 0xC0)
        text = L"good";
    else if ((quality & 0xC0) == 0x40)
        text = L"uncertain";
    return com::Format(L"0x%04X %ls", quality, text);
}

std::wstring FormatFileTime(const FILETIME& time) {
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc)) return L"(invalid time)";
    return com::Format(L"%04u-%02u-%02u %02u:%02u:%02u.%03u UTC", utc.wYear, utc.wMonth, utc.wDay,
                       utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
}
