// Readable failure messages for HRESULTs and byte sequences.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace orvane::interaction::test {

struct Hr {
    HRESULT value;
    bool operator==(const Hr& other) const { return value == other.value; }
};

inline std::ostream& operator<<(std::ostream& os, const Hr& hr) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr.value));
    return os << text;
}

// "0a 01 ff": byte sequences compared as text so that a failure shows both dumps.
inline std::string Hex(const std::vector<BYTE>& bytes) {
    std::string text;
    char group[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(group, sizeof(group), i ? " %02x" : "%02x", bytes[i]);
        text += group;
    }
    return text;
}

}  // namespace orvane::interaction::test

namespace orvane::interaction::test {

inline const char* VtName(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY: return "VT_EMPTY";
        case VT_I1: return "VT_I1";
        case VT_UI1: return "VT_UI1";
        case VT_I2: return "VT_I2";
        case VT_UI2: return "VT_UI2";
        case VT_I4: return "VT_I4";
        case VT_UI4: return "VT_UI4";
        case VT_INT: return "VT_INT";
        case VT_UINT: return "VT_UINT";
        case VT_I8: return "VT_I8";
        case VT_UI8: return "VT_UI8";
        case VT_DECIMAL: return "VT_DECIMAL";
        case VT_R4: return "VT_R4";
        case VT_R8: return "VT_R8";
        case VT_BOOL: return "VT_BOOL";
        case VT_BSTR: return "VT_BSTR";
        case VT_DATE: return "VT_DATE";
        case VT_ARRAY | VT_UI1: return "VT_ARRAY|VT_UI1";
        default: return "VT_?";
    }
}

// "VT_UI2 22136", "VT_BSTR 'abc'", "VT_ARRAY|VT_UI1 61 62": type and value in one text.
inline std::string Describe(const VARIANT& value) {
    std::string text = VtName(V_VT(&value));
    if (V_VT(&value) == (VT_ARRAY | VT_UI1)) {
        SAFEARRAY* array = V_ARRAY(&value);
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(array, 1, &lower);
        SafeArrayGetUBound(array, 1, &upper);
        std::vector<BYTE> bytes;
        for (LONG i = lower; i <= upper; ++i) {
            BYTE b = 0;
            SafeArrayGetElement(array, &i, &b);
            bytes.push_back(b);
        }
        return text + (bytes.empty() ? "" : " " + Hex(bytes)) +
               (lower ? " (lower bound not 0)" : "");
    }
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeTypeEx(&converted, const_cast<VARIANT*>(&value),
                                   MAKELCID(0x0409, SORT_DEFAULT), 0, VT_BSTR)))
        return text + " (no text)";
    std::wstring wide(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
    VariantClear(&converted);
    std::string narrow(wide.begin(), wide.end());
    return V_VT(&value) == VT_BSTR ? text + " '" + narrow + "'" : text + " " + narrow;
}

}  // namespace orvane::interaction::test
