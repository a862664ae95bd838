// The description elements and texts of a drive parameter that are offered as item
// properties, and the request that reads each.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>

#include "DriveParameterRecord.h"

namespace orvane::interaction {

struct DescriptionRequest {
    BYTE attribute = 0;  // 0x20 description element, 0x30 text
    WORD subindex = 0;   // the element, or for a text the index of the text
    BYTE elements = 0;
    DWORD propertyId = 0;
};

// Supplies the parameter's current value; asked only for the text of an unindexed item.
using CurrentValueSource = std::function<HRESULT(VARIANT* value)>;

// Looks a property name up (without regard to case). The text of an indexed item
// has the item's subindex as its index; that of an unindexed item is selected by the
// parameter's current value (TextIndex). E_INVALIDARG for an unknown name.
HRESULT LookupDescription(const wchar_t* name, const DriveParameterRecord& record,
                          const CurrentValueSource& currentValue, DescriptionRequest* request);

// The text index that a parameter value of `dataType` selects: Boolean 1 for TRUE;
// Unsigned8 and 0x41 the low byte; Unsigned16, Unsigned32, 0x42 and 0x43 the low
// 16 bits; 0 for every other type.
HRESULT TextIndex(BYTE dataType, const VARIANT& value, WORD* index);

}  // namespace orvane::interaction
