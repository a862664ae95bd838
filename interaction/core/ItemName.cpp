#include "ItemName.h"

#include <cwctype>

namespace orvane::interaction {
namespace {

class Scanner {
public:
    explicit Scanner(const std::wstring& text) : text_(text) {}

    bool AtEnd() const { return pos_ == text_.size(); }
    // Takes `letter` (either case) when it comes next.
    bool Take(wchar_t letter) {
        if (AtEnd() || std::towlower(text_[pos_]) != letter) return false;
        ++pos_;
        return true;
    }
    // Decimal digits, at least one, up to `max`.
    bool Number(unsigned long max, unsigned long* value) {
        const size_t start = pos_;
        // Wide enough that a number just past `max` cannot wrap before the check.
        unsigned long long number = 0;
        while (!AtEnd() && std::iswdigit(text_[pos_])) {
            number = number * 10 + static_cast<unsigned>(text_[pos_] - L'0');
            if (number > max) return false;
            ++pos_;
        }
        *value = static_cast<unsigned long>(number);
        return pos_ > start;
    }
    std::wstring Rest() {
        std::wstring rest = text_.substr(pos_);
        pos_ = text_.size();
        return rest;
    }

private:
    const std::wstring& text_;
    size_t pos_ = 0;
};

}  // namespace

HRESULT ParseParameterItemName(const std::wstring& name, ParameterItemName* parsed) {
    if (!parsed) return E_POINTER;
    if (name.size() < 7) return E_INVALIDARG;
    Scanner scan(name);
    ParameterItemName result;
    unsigned long number = 0;
    if (!scan.Take(L'p') || !scan.Take(L'a') || !scan.Take(L'r') || !scan.Take(L'i') ||
        !scan.Number(0xFFFF, &number))
        return E_INVALIDARG;
    result.parameter = static_cast<WORD>(number);
    if (scan.Take(L's')) {
        if (!scan.Number(0xFFFF, &number)) return E_INVALIDARG;
        result.subindex = static_cast<WORD>(number);
    } else {
        result.unindexed = true;
    }
    if (!scan.Take(L'd') || !scan.Number(0xFFFF, &number)) return E_INVALIDARG;
    result.vt = static_cast<VARTYPE>(number);
    if (scan.Take(L'l') && !scan.Number(0xFFFFFFFFul, &result.length)) return E_INVALIDARG;
    if (scan.Take(L'x')) {
        result.options = scan.Rest();
        if (result.options.size() >= 2 && std::towlower(result.options[0]) == L'n' &&
            std::towlower(result.options[1]) == L'i')
            result.unindexed = true;
    }
    if (!scan.AtEnd()) return E_INVALIDARG;
    *parsed = std::move(result);
    return S_OK;
}

HRESULT DataTypeForVarType(VARTYPE vt, BYTE* dataType) {
    if (!dataType) return E_POINTER;
    switch (vt) {
        case VT_BOOL: *dataType = 1; break;
        case VT_I1: *dataType = 2; break;
        case VT_I2: *dataType = 3; break;
        case VT_I4: *dataType = 4; break;
        case VT_UI1: *dataType = 5; break;
        case VT_UI2: *dataType = 6; break;
        case VT_UI4: *dataType = 7; break;
        case VT_R4:
        case VT_R8: *dataType = 8; break;
        case VT_BSTR: *dataType = 9; break;
        case VT_ARRAY | VT_UI1: *dataType = 10; break;
        case VT_CY: *dataType = 42; break;
        case VT_DATE: *dataType = 50; break;
        default: return E_INVALIDARG;
    }
    return S_OK;
}

}  // namespace orvane::interaction
