// How the description elements and texts offered as item properties (IDs 5001 to
// 5016) are decoded from a read answer and encoded for a change.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "DriveParameterRecord.h"

namespace orvane::interaction {

struct PropertyCoding {
    VARTYPE vt = VT_EMPTY;    // VT_EMPTY: the item's own VARIANT type
    BYTE readFormat = 0;      // 0: the format of the answer
    bool secondByte = false;  // the low byte of a 16-bit element
    bool writable = false;
    BYTE writeFormat = 0;  // 0 for a writable element: the item's data type
};

// E_INVALIDARG for an ID outside 5001 to 5016.
HRESULT PropertyCodingOf(DWORD propertyId, PropertyCoding* coding);

// The VARIANT type a property of the item `record` is read as.
VARTYPE PropertyVarType(const PropertyCoding& coding, const DriveParameterRecord& record);

// Decodes the value bytes of a read answer of `format`.
HRESULT DecodeProperty(const PropertyCoding& coding, const DriveParameterRecord& record,
                       BYTE format, std::vector<BYTE> values, VARIANT* value);

// The format a change of the property is sent with; OPC_E_BADRIGHTS for a refused one.
HRESULT PropertyWriteFormat(const PropertyCoding& coding, const DriveParameterRecord& record,
                            BYTE* format);

}  // namespace orvane::interaction
