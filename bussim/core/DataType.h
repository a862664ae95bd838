// Data types of the drive profile: value sizes, number coding, generic formats.
#pragma once

#include <cstdint>
#include <optional>

namespace bussim {

// Data-type codes that carry a number (the codes of the drive profile).
constexpr uint8_t kBoolean = 1;
constexpr uint8_t kInteger8 = 2;
constexpr uint8_t kInteger16 = 3;
constexpr uint8_t kInteger32 = 4;
constexpr uint8_t kUnsigned8 = 5;
constexpr uint8_t kUnsigned16 = 6;
constexpr uint8_t kUnsigned32 = 7;
constexpr uint8_t kFloatingPoint = 8;
constexpr uint8_t kVisibleString = 9;
constexpr uint8_t kOctetString = 10;

// Format bytes of value blocks that are not data types.
constexpr uint8_t kFormatNoData = 0x40;
constexpr uint8_t kFormatByte = 0x41;
constexpr uint8_t kFormatWord = 0x42;
constexpr uint8_t kFormatDoubleWord = 0x43;
constexpr uint8_t kFormatError = 0x44;

// Size in bytes of one value of a data type or generic format; 0 for the two
// string types (their number of values is their length); nullopt for codes
// the drive does not know.
std::optional<unsigned> ValueSize(uint8_t code);

bool IsStringType(uint8_t code);

// A format byte of a change request fits a parameter when it names the
// parameter's own type or the generic format of the same size.
bool FormatFits(uint8_t format, uint8_t type);

// Types whose values are numbers (everything but strings and the 6/7-byte
// time and date types, which the simulator keeps as raw bytes).
bool IsNumericType(uint8_t type);

// Big-endian value bytes <-> number. Encode fails for values outside the
// type's range (integers are rounded first).
double DecodeNumber(uint8_t type, const uint8_t* bytes);
bool EncodeNumber(uint8_t type, double value, uint8_t* bytes);

// The range of a numeric type.
double TypeMinimum(uint8_t type);
double TypeMaximum(uint8_t type);

}  // namespace bussim
