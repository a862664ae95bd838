#include "DataType.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace bussim {
namespace {

enum class Kind { kUnsigned, kSigned, kFloat, kRaw, kString, kUnknown };

struct TypeInfo {
    Kind kind;
    unsigned size;
};

TypeInfo Info(uint8_t code) {
    switch (code) {
        case kBoolean:
        case kUnsigned8:
        case kFormatByte: return {Kind::kUnsigned, 1};
        case kInteger8: return {Kind::kSigned, 1};
        case kUnsigned16:
        case 35:
        case 36:
        case 37:
        case 38:
        case 40:
        case kFormatWord: return {Kind::kUnsigned, 2};
        // N2, E2 and X2 are signed fixed-point numbers.
        case kInteger16:
        case 33:
        case 41:
        case 43: return {Kind::kSigned, 2};
        case kUnsigned32:
        case 39:
        case 54:
        case kFormatDoubleWord: return {Kind::kUnsigned, 4};
        // N4, C4 and X4 are signed fixed-point numbers.
        case kInteger32:
        case 34:
        case 42:
        case 44: return {Kind::kSigned, 4};
        case kFloatingPoint: return {Kind::kFloat, 4};
        case kVisibleString:
        case kOctetString: return {Kind::kString, 0};
        // Time of day, time difference and the dates: kept as raw bytes.
        case 12:
        case 13:
        case 52:
        case 53: return {Kind::kRaw, 6};
        case 50: return {Kind::kRaw, 7};
        default: return {Kind::kUnknown, 0};
    }
}

}  // namespace

std::optional<unsigned> ValueSize(uint8_t code) {
    TypeInfo info = Info(code);
    if (info.kind == Kind::kUnknown) return std::nullopt;
    return info.size;
}

bool IsStringType(uint8_t code) { return Info(code).kind == Kind::kString; }

bool IsNumericType(uint8_t type) {
    Kind kind = Info(type).kind;
    return kind == Kind::kUnsigned || kind == Kind::kSigned || kind == Kind::kFloat;
}

bool FormatFits(uint8_t format, uint8_t type) {
    if (format == type) return true;
    TypeInfo info = Info(type);
    if (info.kind == Kind::kString || info.kind == Kind::kUnknown) return false;
    switch (format) {
        case kFormatByte: return info.size == 1;
        case kFormatWord: return info.size == 2;
        case kFormatDoubleWord: return info.size == 4;
        default: return false;
    }
}

double DecodeNumber(uint8_t type, const uint8_t* bytes) {
    TypeInfo info = Info(type);
    uint32_t raw = 0;
    for (unsigned i = 0; i < info.size && i < 4; ++i) raw = (raw << 8) | bytes[i];
    switch (info.kind) {
        case Kind::kSigned:
            if (info.size == 1) return static_cast<int8_t>(raw);
            if (info.size == 2) return static_cast<int16_t>(raw);
            return static_cast<int32_t>(raw);
        case Kind::kFloat: {
            float f;
            std::memcpy(&f, &raw, sizeof f);
            return f;
        }
        case Kind::kUnsigned: return raw;
        default: return 0;
    }
}

double TypeMinimum(uint8_t type) {
    TypeInfo info = Info(type);
    if (info.kind == Kind::kFloat) return -FLT_MAX;
    if (info.kind != Kind::kSigned) return 0;
    return -std::ldexp(1.0, 8 * info.size - 1);
}

double TypeMaximum(uint8_t type) {
    TypeInfo info = Info(type);
    if (info.kind == Kind::kFloat) return FLT_MAX;
    if (info.kind == Kind::kSigned) return std::ldexp(1.0, 8 * info.size - 1) - 1;
    if (info.kind == Kind::kUnsigned) return std::ldexp(1.0, 8 * info.size) - 1;
    return 0;
}

bool EncodeNumber(uint8_t type, double value, uint8_t* bytes) {
    TypeInfo info = Info(type);
    if (!IsNumericType(type) || std::isnan(value)) return false;
    uint32_t raw;
    if (info.kind == Kind::kFloat) {
        if (value < -FLT_MAX || value > FLT_MAX) return false;
        float f = static_cast<float>(value);
        std::memcpy(&raw, &f, sizeof raw);
    } else {
        double rounded = std::round(value);
        if (rounded < TypeMinimum(type) || rounded > TypeMaximum(type)) return false;
        raw = static_cast<uint32_t>(static_cast<int64_t>(rounded));
    }
    for (unsigned i = 0; i < info.size; ++i)
        bytes[i] = static_cast<uint8_t>(raw >> (8 * (info.size - 1 - i)));
    return true;
}

}  // namespace bussim
