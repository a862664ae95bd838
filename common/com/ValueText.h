#pragma once
// Values, types, qualities and times as opcda prints and reads them.

#include <windows.h>
#include <oleauto.h>

#include <string>

// "VT_UI2", "VT_ARRAY|VT_UI1".
std::wstring VarTypeName(VARTYPE type);
// "bool", "i1", "ui1", "i2", "ui2", "i4", "ui4", "i8", "ui8", "r4", "r8", "date", "bstr"
// (also "string"), with "[]" behind for a one-dimensional array: "ui1[]". False if unknown.
bool ParseTypeName(const std::wstring& name, VARTYPE* type);

// "1500", "\"Pump 1\"", "[7, 1, 1, 1]".
std::wstring FormatValue(const VARIANT& value);
// Reads text as a value of type (see ParseTypeName); arrays are written as
// "[1, 2, 3]", "1,2,3" or "1 2 3"; integers also in hex ("0x3A00"). Returns
// E_INVALIDARG with message for text that does not fit the type.
HRESULT ParseValue(const std::wstring& text, VARTYPE type, VARIANT* value, std::wstring* message);

// "0x00C0 good", "0x0000 bad".
std::wstring FormatQuality(WORD quality);
// "2026-12-07 11:40:00.123 UTC".
std::wstring FormatFileTime(const FILETIME& time);
