// Conversions between the value bytes of telegrams and VARIANTs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "com/Variant.h"

namespace orvane::interaction {

// Decodes the value bytes of one value of `dataType` (a resolved format) into a
// VARIANT of type `target`. `length` counts the bytes present; `fixedLength` is the
// array length of VT_ARRAY|VT_UI1 items (0: as many as present). Narrower targets
// take the low bytes. Results: E_INVALIDARG for a missing output, VT_EMPTY target,
// data type 0 or (except for strings) no bytes; E_WRONG_DATATYPE for a target that
// does not take the data type, too few bytes, or a Boolean byte other than 0/0xFF.
HRESULT BytesToVariant(BYTE dataType, VARTYPE target, size_t length, const BYTE* bytes,
                       VARIANT* out, BYTE fixedLength = 0);

// Encodes `value` as the value bytes of a change request for a parameter of
// `dataType` (1-byte values are followed by their pad byte 0). `arrayLength` is the
// number of bytes taken from a VT_ARRAY|VT_UI1 value of a string type (0: all).
// Results: OPC_E_RANGE when the value does not fit, E_WRONG_DATATYPE when the
// VARIANT type does not fit the data type.
HRESULT VariantToBytes(BYTE dataType, const VARIANT& value, std::vector<BYTE>* bytes,
                       BYTE arrayLength = 0);

// Encodes an integer for an integer data type: OPC_E_RANGE outside the type's range,
// E_WRONG_DATATYPE for a data type that takes no integer.
HRESULT NumberToBytes(BYTE dataType, LONG value, std::vector<BYTE>* bytes);

// Decodes the value blocks that ReadMulti collected, one value per item, with the
// items' VARIANT types and fixed array lengths (parallel lists). `values` receives
// one VARIANT per block, and is left untouched on failure.
HRESULT DecodeValues(const std::vector<VARTYPE>& types, const std::vector<BYTE>& blocks,
                     const std::vector<BYTE>& fixedLengths,
                     std::vector<com::UniqueVariant>* values);

// The same with a result per item: a 0x44 block gives its item the drive's error and a
// value that does not convert its conversion error (each with a VT_EMPTY value), and the
// others keep their values. Fails only for an answer that cannot be walked or whose
// blocks do not match the items in number (E_FAIL); outputs untouched then.
HRESULT DecodeItemValues(const std::vector<VARTYPE>& types, const std::vector<BYTE>& blocks,
                         const std::vector<BYTE>& fixedLengths,
                         std::vector<com::UniqueVariant>* values, std::vector<HRESULT>* errors);

}  // namespace orvane::interaction
