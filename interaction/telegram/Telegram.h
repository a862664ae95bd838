// Parameter-access telegrams of the Axolent drive profile: field values, result
// codes, value sizes and the byte-array VARIANTs that carry telegrams.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <vector>

namespace orvane::interaction {

// Request IDs.
constexpr BYTE kRequestRead = 1;    // request value, description or text
constexpr BYTE kRequestChange = 2;  // change parameter value
// A response ID of this value or above is a negative response.
constexpr BYTE kNegativeResponse = 0x80;

// Attributes.
constexpr BYTE kAttributeValue = 0x10;
constexpr BYTE kAttributeDescription = 0x20;
constexpr BYTE kAttributeText = 0x30;

// Data-type codes used by name in the code; the rest appear only in the tables.
constexpr BYTE kBoolean = 1;
constexpr BYTE kInteger8 = 2;
constexpr BYTE kInteger16 = 3;
constexpr BYTE kInteger32 = 4;
constexpr BYTE kUnsigned8 = 5;
constexpr BYTE kUnsigned16 = 6;
constexpr BYTE kUnsigned32 = 7;
constexpr BYTE kFloatingPoint = 8;
constexpr BYTE kVisibleString = 9;
constexpr BYTE kOctetString = 10;
constexpr BYTE kTimeDifference = 13;
// Generic formats that a drive may answer instead of a data type, and the two
// formats of a change response.
constexpr BYTE kFormatNoData = 0x40;
constexpr BYTE kFormatByte = 0x41;
constexpr BYTE kFormatWord = 0x42;
constexpr BYTE kFormatDoubleWord = 0x43;
constexpr BYTE kFormatError = 0x44;

// Sizes.
constexpr size_t kHeaderLength = 4;
constexpr size_t kAddressLength = 6;
constexpr size_t kMaxParametersPerRequest = 39;
constexpr size_t kMaxTelegramLength = 240;

// A drive's error answer becomes 0xE0000000 plus the low byte of its error number.
constexpr HRESULT DriveError(BYTE errorNumber) {
    return static_cast<HRESULT>(0xE0000000u | errorNumber);
}
// The value and the data type do not fit together, or the value bytes are too
// short: reported like the drive's own "wrong data type" answer (error 5).
constexpr HRESULT E_WRONG_DATATYPE = DriveError(5);

// Value widths of the data-type codes (the value itself, without a pad byte).
enum class ValueWidth { None, Byte, Word, DoubleWord };
// 1: Boolean, Integer8, Unsigned8, 0x41; 2: Integer16, Unsigned16, 33, 35-38,
// 40, 41, 43, 0x42; 4: Integer32, Unsigned32, 12, 34, 39, 42, 44, 52-54, 0x43.
// Floating point (8) is not among them: it is never taken as an integer.
ValueWidth IntegerWidth(BYTE dataType);
bool IsSigned(BYTE dataType);

// The number of value bytes one value of `dataType` takes in a response, or 0 for a
// code without a fixed size (strings, unknown codes). 1-byte codes give 1.
size_t ValueSize(BYTE dataType, size_t bytesPresent);

// Resolves the generic formats 0x41, 0x42 and 0x43 with the item's VARIANT type;
// every other combination keeps the format.
BYTE ResolveFormat(BYTE format, VARTYPE vt);

// Telegram VARIANTs: VT_ARRAY|VT_UI1, one dimension, lower bound 0.
HRESULT MakeTelegram(const std::vector<BYTE>& bytes, VARIANT* telegram);
// E_INVALIDARG unless `telegram` is a one-dimensional byte array.
HRESULT TelegramBytes(const VARIANT& telegram, std::vector<BYTE>* bytes);

// Trace text of a telegram: the head, then every byte as "%02x,".
std::wstring HexDump(const wchar_t* head, const std::vector<BYTE>& bytes);

inline void AppendWord(std::vector<BYTE>& bytes, WORD value) {
    bytes.push_back(static_cast<BYTE>(value >> 8));
    bytes.push_back(static_cast<BYTE>(value));
}

}  // namespace orvane::interaction
