#include "PropertyCodec.h"

#include "Telegram.h"
#include "ValueCodec.h"
#include "com/Result.h"
#include "opcerror.h"

namespace orvane::interaction {
namespace {

struct PropertyEntry {
    DWORD propertyId;
    PropertyCoding coding;
};

// vt, read format, second byte, writable, write format.
constexpr PropertyEntry kProperties[] = {
    {5001, {VT_BSTR, 0, false, true, kVisibleString}},
    {5002, {VT_R4, 0, false, true, kFloatingPoint}},
    {5003, {VT_EMPTY, 0, false, true, 0}},
    {5004, {VT_EMPTY, 0, false, true, 0}},
    {5005, {VT_BSTR, 0, false, true, kVisibleString}},
    // Size index and identifier bits are the high bytes of their elements; data
    // type and conversion index the low bytes.
    {5006, {VT_UI1, kFormatByte, false, false, 0}},
    {5007, {VT_I1, kFormatByte, true, false, 0}},
    {5008, {VT_UI1, kFormatByte, true, false, 0}},
    {5009, {VT_UI2, kFormatWord, false, true, kFormatWord}},
    {5010, {VT_UI2, kFormatWord, false, true, kFormatWord}},
    {5011, {VT_UI2, kFormatWord, false, true, kFormatWord}},
    {5012, {VT_UI2, kFormatWord, false, false, 0}},
    {5013, {VT_UI4, kFormatDoubleWord, false, false, 0}},
    {5014, {VT_UI2, kFormatWord, false, false, 0}},
    {5015, {VT_UI1, kFormatByte, false, false, 0}},
    {5016, {VT_ARRAY | VT_UI1, kOctetString, false, false, 0}},
};

}  // namespace

HRESULT PropertyCodingOf(DWORD propertyId, PropertyCoding* coding) {
    RETURN_IF_NULL_POINTER(coding);
    for (const PropertyEntry& entry : kProperties) {
        if (entry.propertyId != propertyId) continue;
        *coding = entry.coding;
        return S_OK;
    }
    return E_INVALIDARG;
}

VARTYPE PropertyVarType(const PropertyCoding& coding, const DriveParameterRecord& record) {
    return coding.vt == VT_EMPTY ? record.vt : coding.vt;
}

HRESULT DecodeProperty(const PropertyCoding& coding, const DriveParameterRecord& record,
                       BYTE format, std::vector<BYTE> values, VARIANT* value) {
    RETURN_IF_NULL_POINTER(value);
    if (coding.secondByte && values.size() == 2) values[0] = values[1];
    const BYTE decodeFormat = coding.readFormat ? coding.readFormat : format;
    return BytesToVariant(decodeFormat, PropertyVarType(coding, record), values.size(),
                          values.data(), value);
}

HRESULT PropertyWriteFormat(const PropertyCoding& coding, const DriveParameterRecord& record,
                            BYTE* format) {
    RETURN_IF_NULL_POINTER(format);
    if (!coding.writable) return OPC_E_BADRIGHTS;
    *format = coding.writeFormat ? coding.writeFormat : record.dataType;
    return S_OK;
}

}  // namespace orvane::interaction
