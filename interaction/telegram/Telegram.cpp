#include "Telegram.h"

#include <cstdio>

#include "com/Result.h"
#include "com/SafeArray.h"

namespace orvane::interaction {

ValueWidth IntegerWidth(BYTE dataType) {
    switch (dataType) {
        case 1:
        case 2:
        case 5:
        case kFormatByte: return ValueWidth::Byte;
        case 3:
        case 6:
        case 33:
        case 35:
        case 36:
        case 37:
        case 38:
        case 40:
        case 41:
        case 43:
        case kFormatWord: return ValueWidth::Word;
        case 4:
        case 7:
        case 12:
        case 34:
        case 39:
        case 42:
        case 44:
        case 52:
        case 53:
        case 54:
        case kFormatDoubleWord: return ValueWidth::DoubleWord;
        default: return ValueWidth::None;
    }
}

bool IsSigned(BYTE dataType) {
    return dataType == kInteger8 || dataType == kInteger16 || dataType == kInteger32;
}

size_t ValueSize(BYTE dataType, size_t bytesPresent) {
    switch (dataType) {
        case kFloatingPoint: return 4;
        case 12:
        case 52:
        case 53: return 6;
        case kTimeDifference:  // with or without the day count
            return bytesPresent < 6 ? 4 : 6;
        case 50: return 7;
        case kFormatError: return 2;
    }
    switch (IntegerWidth(dataType)) {
        case ValueWidth::Byte: return 1;
        case ValueWidth::Word: return 2;
        case ValueWidth::DoubleWord: return 4;
        default: return 0;
    }
}

BYTE ResolveFormat(BYTE format, VARTYPE vt) {
    switch (format) {
        case kFormatByte:
            if (vt == VT_I1) return kInteger8;
            if (vt == VT_UI1) return kUnsigned8;
            break;
        case kFormatWord:
            if (vt == VT_I2) return kInteger16;
            if (vt == VT_UI2) return kUnsigned16;
            break;
        case kFormatDoubleWord:
            if (vt == VT_I4) return kInteger32;
            if (vt == VT_R4 || vt == VT_R8) return kFloatingPoint;
            if (vt == VT_UI4) return kUnsigned32;
            break;
    }
    return format;
}

HRESULT MakeTelegram(const std::vector<BYTE>& bytes, VARIANT* telegram) {
    if (!telegram) return E_POINTER;
    return com::BytesToVariant(bytes.data(), bytes.size(), telegram);
}

HRESULT TelegramBytes(const VARIANT& telegram, std::vector<BYTE>* bytes) {
    if (!bytes) return E_POINTER;
    const HRESULT hr = com::VariantToBytes(telegram, bytes);
    return FAILED(hr) && hr != E_OUTOFMEMORY ? E_INVALIDARG : hr;
}

std::wstring HexDump(const wchar_t* head, const std::vector<BYTE>& bytes) {
    std::wstring text(head);
    text.reserve(text.size() + 3 * bytes.size());
    wchar_t group[4];
    for (BYTE b : bytes) {
        swprintf(group, 4, L"%02x,", b);
        text += group;
    }
    return text;
}

}  // namespace orvane::interaction
