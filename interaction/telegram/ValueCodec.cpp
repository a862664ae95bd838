#include "ValueCodec.h"

#include <algorithm>
#include <cstring>

#include "com/Result.h"
#include "com/SafeArray.h"
#include "opcerror.h"
#include "Telegram.h"

namespace orvane::interaction {
namespace {

bool IsText(BYTE dataType) { return dataType == kVisibleString || dataType == kOctetString; }

bool IsFloat(BYTE dataType) { return dataType == kFloatingPoint || dataType == kFormatDoubleWord; }

ULONG BigEndian(const BYTE* bytes, size_t count) {
    ULONG value = 0;
    for (size_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

void AppendDoubleWord(std::vector<BYTE>& bytes, ULONG value) {
    AppendWord(bytes, static_cast<WORD>(value >> 16));
    AppendWord(bytes, static_cast<WORD>(value));
}

// One integer value as the drive sent it: its bits, and its value with the sign of
// the drive's data type (the generic formats carry no sign).
struct DriveInteger {
    ULONG bits;
    LONG value;
};

HRESULT TakeInteger(BYTE dataType, size_t length, const BYTE* bytes, DriveInteger* out) {
    size_t width = 0;
    switch (IntegerWidth(dataType)) {
        case ValueWidth::Byte: width = 1; break;
        case ValueWidth::Word: width = 2; break;
        case ValueWidth::DoubleWord: width = 4; break;
        case ValueWidth::None: return E_WRONG_DATATYPE;
    }
    if (length < width) return E_WRONG_DATATYPE;
    out->bits = BigEndian(bytes, width);
    switch (dataType) {
        case kInteger8: out->value = static_cast<signed char>(out->bits); break;
        case kInteger16: out->value = static_cast<SHORT>(out->bits); break;
        default: out->value = static_cast<LONG>(out->bits); break;
    }
    return S_OK;
}

HRESULT TakeSingle(BYTE dataType, size_t length, const BYTE* bytes, FLOAT* out) {
    if (!IsFloat(dataType) || length < 4) return E_WRONG_DATATYPE;
    const ULONG bits = BigEndian(bytes, 4);
    static_assert(sizeof(FLOAT) == sizeof(bits));
    memcpy(out, &bits, sizeof(bits));
    return S_OK;
}

HRESULT MakeByteArray(size_t size, size_t length, const BYTE* bytes, VARIANT* out) {
    std::vector<BYTE> data(size, 0);
    std::copy(bytes, bytes + std::min(size, length), data.begin());
    return com::BytesToVariant(data.data(), data.size(), out);
}

HRESULT MakeText(size_t length, const BYTE* bytes, VARIANT* out) {
    const char* text = reinterpret_cast<const char*>(bytes);
    const int chars =
        length ? MultiByteToWideChar(CP_OEMCP, 0, text, static_cast<int>(length), nullptr, 0) : 0;
    if (length && chars == 0) return com::LastErrorHr();
    BSTR string = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
    if (!string) return E_OUTOFMEMORY;
    if (chars) MultiByteToWideChar(CP_OEMCP, 0, text, static_cast<int>(length), string, chars);
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = string;
    return S_OK;
}

// Wider and decimal targets: a signed target gets the drive's signed value, an
// unsigned one the bits, so that an Integer16 -1 reads as -1 in a VT_I4 item.
HRESULT MakeDecimal(BYTE dataType, VARTYPE target, const DriveInteger& integer, VARIANT* out) {
    VARIANT decimal;
    if (target != VT_UI8 && IsSigned(dataType))
        RETURN_IF_FAILED(VarDecFromI4(integer.value, &V_DECIMAL(&decimal)));
    else
        RETURN_IF_FAILED(VarDecFromUI4(integer.bits, &V_DECIMAL(&decimal)));
    V_VT(&decimal) = VT_DECIMAL;  // after: the DECIMAL overlays the type field
    if (target == VT_DECIMAL) {
        *out = decimal;
        return S_OK;
    }
    return VariantChangeType(out, &decimal, 0, target);
}

}  // namespace

HRESULT BytesToVariant(BYTE dataType, VARTYPE target, size_t length, const BYTE* bytes,
                       VARIANT* out, BYTE fixedLength) {
    if (!out || target == VT_EMPTY || dataType == 0) return E_INVALIDARG;
    if ((!IsText(dataType) && length == 0) || (length && !bytes)) return E_INVALIDARG;

    com::UniqueVariant result;
    VARIANT* v = result.get();
    const bool signedType = IsSigned(dataType);
    DriveInteger integer{};
    FLOAT single = 0;
    switch (target) {
        case VT_I2:
            RETURN_IF_FAILED(TakeInteger(dataType, length, bytes, &integer));
            V_VT(v) = VT_I2;
            V_I2(v) =
                static_cast<SHORT>(signedType ? integer.value : static_cast<LONG>(integer.bits));
            break;
        case VT_UI2:
            RETURN_IF_FAILED(TakeInteger(dataType, length, bytes, &integer));
            V_VT(v) = VT_UI2;
            V_UI2(v) = static_cast<USHORT>(integer.bits);
            break;
        case VT_I4:
        case VT_INT:
            RETURN_IF_FAILED(TakeInteger(dataType, length, bytes, &integer));
            V_VT(v) = target;
            V_I4(v) = signedType ? integer.value : static_cast<LONG>(integer.bits);
            break;
        case VT_UI4:
        case VT_UINT:
            RETURN_IF_FAILED(TakeInteger(dataType, length, bytes, &integer));
            V_VT(v) = target;
            V_UI4(v) = integer.bits;
            break;
        case VT_I1:
        case VT_UI1:
            RETURN_IF_FAILED(TakeInteger(dataType, length, bytes, &integer));
            V_VT(v) = target;
            V_UI1(v) = static_cast<BYTE>(integer.bits);
            break;
        case VT_DECIMAL:
        case VT_I8:
        case VT_UI8:
            RETURN_IF_FAILED(TakeInteger(dataType, length, bytes, &integer));
            RETURN_IF_FAILED(MakeDecimal(dataType, target, integer, v));
            break;
        case VT_R4:
            RETURN_IF_FAILED(TakeSingle(dataType, length, bytes, &single));
            V_VT(v) = VT_R4;
            V_R4(v) = single;
            break;
        case VT_R8:
            RETURN_IF_FAILED(TakeSingle(dataType, length, bytes, &single));
            RETURN_IF_FAILED(VarR8FromR4(single, &V_R8(v)));
            V_VT(v) = VT_R8;
            break;
        case VT_BSTR:
            if (dataType != kVisibleString && dataType != kFormatByte) return E_WRONG_DATATYPE;
            RETURN_IF_FAILED(MakeText(length, bytes, v));
            break;
        case VT_BOOL:
            if (dataType != kBoolean && dataType != kFormatByte) return E_WRONG_DATATYPE;
            // Only the two canonical bytes are a Boolean; anything else is a wrong type.
            if (bytes[0] != 0 && bytes[0] != 0xFF) return E_WRONG_DATATYPE;
            V_VT(v) = VT_BOOL;
            V_BOOL(v) = bytes[0] ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_ARRAY | VT_UI1:
            RETURN_IF_FAILED(MakeByteArray(fixedLength ? fixedLength : length, length, bytes, v));
            break;
        default: return E_WRONG_DATATYPE;
    }
    return result.move_to(out);
}

HRESULT NumberToBytes(BYTE dataType, LONG value, std::vector<BYTE>* bytes) {
    if (!bytes) return E_POINTER;
    if (dataType < kInteger8 || dataType > kFormatDoubleWord) return E_WRONG_DATATYPE;
    LONG low = 0, high = 0;
    switch (dataType) {
        case kInteger8:
            low = -128;
            high = 127;
            break;
        case kInteger16:
            low = -32768;
            high = 32767;
            break;
        default:
            switch (IntegerWidth(dataType)) {
                case ValueWidth::Byte:
                    low = 0;
                    high = 255;
                    break;
                case ValueWidth::Word:
                    low = 0;
                    high = 65535;
                    break;
                case ValueWidth::DoubleWord:
                    low = LONG_MIN;
                    high = LONG_MAX;
                    break;
                case ValueWidth::None: return E_WRONG_DATATYPE;
            }
    }
    if (value < low || value > high) return OPC_E_RANGE;

    std::vector<BYTE> encoded;
    switch (IntegerWidth(dataType)) {
        case ValueWidth::Byte:
            encoded = {static_cast<BYTE>(value), 0};  // one value byte and its pad byte
            break;
        case ValueWidth::Word: AppendWord(encoded, static_cast<WORD>(value)); break;
        default: AppendDoubleWord(encoded, static_cast<ULONG>(value)); break;
    }
    *bytes = std::move(encoded);
    return S_OK;
}

namespace {

HRESULT SingleToBytes(BYTE dataType, FLOAT single, std::vector<BYTE>* bytes) {
    if (!IsFloat(dataType)) return E_WRONG_DATATYPE;
    ULONG bits = 0;
    memcpy(&bits, &single, sizeof(bits));
    bytes->clear();
    AppendDoubleWord(*bytes, bits);
    return S_OK;
}

HRESULT TextToBytes(BYTE dataType, BSTR text, std::vector<BYTE>* bytes) {
    if (dataType != kVisibleString && dataType != kFormatByte) return E_WRONG_DATATYPE;
    bytes->clear();
    const int chars = static_cast<int>(SysStringLen(text));
    if (chars == 0) return S_OK;
    const int size = WideCharToMultiByte(CP_OEMCP, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (size == 0) return com::LastErrorHr();
    // The number of values is one byte: a longer text cannot be sent.
    if (size > 255) return OPC_E_RANGE;
    bytes->resize(size);
    WideCharToMultiByte(CP_OEMCP, 0, text, chars, reinterpret_cast<char*>(bytes->data()), size,
                        nullptr, nullptr);
    return S_OK;
}

HRESULT ArrayToBytes(BYTE dataType, SAFEARRAY* array, BYTE arrayLength, std::vector<BYTE>* bytes) {
    std::vector<BYTE> present;
    if (!array) return E_WRONG_DATATYPE;
    const HRESULT hr = com::ReadByteArray(array, &present);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : E_WRONG_DATATYPE;

    size_t valueBytes = 0, padding = 0;
    if (IsText(dataType)) {
        // No array length known (an octet-string item keeps none): the whole array.
        valueBytes = arrayLength ? arrayLength : present.size();
        if (valueBytes > 255) return OPC_E_RANGE;
    } else if (IntegerWidth(dataType) == ValueWidth::Byte) {
        valueBytes = 1;
        padding = 1;
    } else {
        valueBytes = ValueSize(dataType, present.size());
        if (valueBytes == 0) return E_WRONG_DATATYPE;
    }
    if (present.size() < valueBytes || present.size() < arrayLength) return E_WRONG_DATATYPE;

    present.resize(valueBytes);
    present.resize(valueBytes + padding, 0);
    *bytes = std::move(present);
    return S_OK;
}

// VT_I8, VT_UI8 and VT_DECIMAL values reach the drive as 32-bit numbers: signed for
// negative values, unsigned above the signed range.
HRESULT To32Bits(const VARIANT& value, LONG* out) {
    ULONG unsignedValue = 0;
    HRESULT hr = E_FAIL;
    switch (V_VT(&value)) {
        case VT_DECIMAL: {
            DECIMAL decimal = V_DECIMAL(&value);
            if (SUCCEEDED(VarI4FromDec(&decimal, out))) return S_OK;
            hr = VarUI4FromDec(&decimal, &unsignedValue);
            break;
        }
        case VT_I8:
            if (SUCCEEDED(VarI4FromI8(V_I8(&value), out))) return S_OK;
            hr = VarUI4FromI8(V_I8(&value), &unsignedValue);
            break;
        case VT_UI8: hr = VarUI4FromUI8(V_UI8(&value), &unsignedValue); break;
    }
    if (FAILED(hr)) return OPC_E_RANGE;
    *out = static_cast<LONG>(unsignedValue);
    return S_OK;
}

}  // namespace

HRESULT VariantToBytes(BYTE dataType, const VARIANT& value, std::vector<BYTE>* bytes,
                       BYTE arrayLength) {
    if (!bytes) return E_POINTER;
    if (V_VT(&value) & VT_BYREF) {
        com::UniqueVariant direct;
        RETURN_IF_FAILED(VariantCopyInd(direct.get(), const_cast<VARIANT*>(&value)));
        return VariantToBytes(dataType, *direct, bytes, arrayLength);
    }

    LONG number = 0;
    switch (V_VT(&value)) {
        case VT_I1: return NumberToBytes(dataType, V_I1(&value), bytes);
        case VT_I2: return NumberToBytes(dataType, V_I2(&value), bytes);
        case VT_UI2: return NumberToBytes(dataType, V_UI2(&value), bytes);
        case VT_I4: return NumberToBytes(dataType, V_I4(&value), bytes);
        case VT_INT: return NumberToBytes(dataType, V_INT(&value), bytes);
        case VT_UI4: return NumberToBytes(dataType, static_cast<LONG>(V_UI4(&value)), bytes);
        case VT_UINT: return NumberToBytes(dataType, static_cast<LONG>(V_UINT(&value)), bytes);
        case VT_DECIMAL:
        case VT_I8:
        case VT_UI8:
            RETURN_IF_FAILED(To32Bits(value, &number));
            return NumberToBytes(dataType, number, bytes);
        case VT_UI1:
            if (dataType != kUnsigned8 && dataType != kFormatByte) return E_WRONG_DATATYPE;
            *bytes = {V_UI1(&value), 0};
            return S_OK;
        case VT_R4: return SingleToBytes(dataType, V_R4(&value), bytes);
        case VT_R8: {
            FLOAT single = 0;
            if (!IsFloat(dataType)) return E_WRONG_DATATYPE;
            if (FAILED(VarR4FromR8(V_R8(&value), &single))) return OPC_E_RANGE;
            return SingleToBytes(dataType, single, bytes);
        }
        case VT_BSTR: return TextToBytes(dataType, V_BSTR(&value), bytes);
        case VT_BOOL:
            if (dataType != kBoolean) return E_WRONG_DATATYPE;
            *bytes = {static_cast<BYTE>(V_BOOL(&value) == VARIANT_TRUE ? 0xFF : 0), 0};
            return S_OK;
        case VT_ARRAY | VT_UI1: return ArrayToBytes(dataType, V_ARRAY(&value), arrayLength, bytes);
        default: return E_WRONG_DATATYPE;
    }
}

namespace {

// Walks the value blocks of ReadMulti, one value per item. With `errors`, a 0x44 block or a
// value that does not convert is that item's error and the walk goes on; without, it ends
// the walk with that error.
HRESULT WalkValueBlocks(const std::vector<VARTYPE>& types, const std::vector<BYTE>& blocks,
                        const std::vector<BYTE>& fixedLengths,
                        std::vector<com::UniqueVariant>* values, std::vector<HRESULT>* errors) {
    if (!values) return E_POINTER;
    if (types.size() != fixedLengths.size()) return E_INVALIDARG;

    std::vector<com::UniqueVariant> decoded;
    std::vector<HRESULT> results;
    size_t pos = 0;
    while (pos < blocks.size()) {
        const BYTE format = blocks[pos];
        if (format < 1 || format > kFormatError || blocks.size() - pos < 2) return E_INVALIDARG;
        const size_t count = blocks[pos + 1];
        const BYTE* data = blocks.data() + pos + 2;
        const size_t available = blocks.size() - pos - 2;
        // A block holds `count` values; strings count their bytes.
        size_t length = count;
        if (!IsText(format)) {
            const size_t size = ValueSize(format, available);
            if (size == 0) return E_INVALIDARG;
            length = size * count;
        }
        if (length > available) return E_INVALIDARG;
        const size_t index = decoded.size();
        if (index >= types.size()) return E_UNEXPECTED;

        com::UniqueVariant value;
        HRESULT hr = E_INVALIDARG;  // an error block without its error number
        if (format == kFormatError) {
            if (count) hr = DriveError(data[1]);
        } else {
            hr = BytesToVariant(ResolveFormat(format, types[index]), types[index], length, data,
                                value.get(), fixedLengths[index]);
        }
        if (FAILED(hr)) {
            if (!errors) return hr;
            value.reset();
        }
        decoded.push_back(std::move(value));
        results.push_back(hr);
        pos += 2 + length;
        // A drive may pad an odd-length block to a word boundary. No format is 0, so
        // a 0 where the next block would start can only be that pad byte.
        if (length % 2 && pos < blocks.size() && blocks[pos] == 0) ++pos;
    }
    *values = std::move(decoded);
    if (errors) *errors = std::move(results);
    return S_OK;
}

}  // namespace

HRESULT DecodeValues(const std::vector<VARTYPE>& types, const std::vector<BYTE>& blocks,
                     const std::vector<BYTE>& fixedLengths,
                     std::vector<com::UniqueVariant>* values) {
    return WalkValueBlocks(types, blocks, fixedLengths, values, nullptr);
}

HRESULT DecodeItemValues(const std::vector<VARTYPE>& types, const std::vector<BYTE>& blocks,
                         const std::vector<BYTE>& fixedLengths,
                         std::vector<com::UniqueVariant>* values, std::vector<HRESULT>* errors) {
    if (!errors) return E_POINTER;
    std::vector<com::UniqueVariant> decoded;
    std::vector<HRESULT> results;
    RETURN_IF_FAILED(WalkValueBlocks(types, blocks, fixedLengths, &decoded, &results));
    // Fewer blocks than items: the answer does not say which item a block belongs to.
    RETURN_HR_IF(E_FAIL, decoded.size() != types.size());
    *values = std::move(decoded);
    *errors = std::move(results);
    return S_OK;
}

}  // namespace orvane::interaction
