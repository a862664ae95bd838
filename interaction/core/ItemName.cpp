#include "ItemName.h"

#include <cwchar>
#include <cwctype>

#include "com/Result.h"

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

ItemKind ClassifyAddress(std::wstring_view address, std::wstring* name) {
    const auto startsWith = [&](const wchar_t* prefix) {
        return address.substr(0, std::wcslen(prefix)) == prefix;
    };
    if (startsWith(kInternalPrefix)) {
        if (name) name->assign(address.substr(std::wcslen(kInternalPrefix)));
        return ItemKind::Internal;
    }
    if (startsWith(kDriveParameterPrefix)) {
        if (name) name->assign(address.substr(std::wcslen(kDriveParameterPrefix)));
        return ItemKind::DriveParameter;
    }
    if (startsWith(kPassThroughPrefix)) return ItemKind::PassThrough;
    return ItemKind::Unknown;
}

bool SplitItemPath(const std::wstring& path, ItemPath* parts) {
    const size_t first = path.find(L'/');
    if (first == 0 || first == std::wstring::npos) return false;
    const size_t second = path.find(L'/', first + 1);
    const size_t last = path.rfind(L'/');
    if (second == std::wstring::npos || second == first + 1 || last + 1 == path.size())
        return false;
    parts->device = path.substr(0, second);
    parts->axis = path.substr(0, last);
    parts->leaf = path.substr(last + 1);
    return true;
}

HRESULT DefaultItemValue(VARTYPE vt, VARIANT* value) {
    RETURN_IF_NULL_POINTER(value);
    VariantInit(value);
    if (vt == VT_BSTR) {
        V_BSTR(value) = SysAllocString(L"");
        RETURN_HR_IF(E_OUTOFMEMORY, !V_BSTR(value));
        V_VT(value) = VT_BSTR;
        return S_OK;
    }
    if (vt == (VT_ARRAY | VT_UI1)) {
        V_ARRAY(value) = SafeArrayCreateVector(VT_UI1, 0, 0);
        RETURN_HR_IF(E_OUTOFMEMORY, !V_ARRAY(value));
        V_VT(value) = vt;
        return S_OK;
    }
    if (vt & VT_ARRAY) return S_OK;
    VARIANT zero;
    VariantInit(&zero);
    V_VT(&zero) = VT_I4;
    V_I4(&zero) = 0;
    // A type that takes no number starts empty.
    if (FAILED(VariantChangeType(value, &zero, 0, vt))) VariantInit(value);
    return S_OK;
}

DWORD AnswerTimeoutFor(DWORD timeoutSeconds, DWORD maxLatency) {
    const unsigned long long hundredfold = timeoutSeconds * 100ull;
    return hundredfold < maxLatency ? maxLatency / 100 + 1 : timeoutSeconds;
}

}  // namespace orvane::interaction
