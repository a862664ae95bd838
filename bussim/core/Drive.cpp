#include "Drive.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DataType.h"

namespace bussim {
namespace {

constexpr uint16_t kNoError = 0xFFFF;
constexpr uint8_t kMaxElements = 117;  // the most values one address may ask for
constexpr unsigned kNameLength = 16;
constexpr unsigned kDescriptionLength = 46;
constexpr uint8_t kIdentifierArray = 0x40;
constexpr uint8_t kIdentifierTexts = 0x04;
constexpr uint8_t kIdentifierReadOnly = 0x02;

void PutWord(std::vector<uint8_t>* out, uint16_t word) {
    out->push_back(static_cast<uint8_t>(word >> 8));
    out->push_back(static_cast<uint8_t>(word));
}

void PutDoubleWord(std::vector<uint8_t>* out, uint32_t value) {
    PutWord(out, static_cast<uint16_t>(value >> 16));
    PutWord(out, static_cast<uint16_t>(value));
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A value block; an odd number of value bytes is followed by a pad byte 0,
// so that a single byte value travels as (value, 0).
std::vector<uint8_t> MakeBlock(uint8_t format, uint8_t count, const std::vector<uint8_t>& values) {
    std::vector<uint8_t> block;
    block.reserve(3 + values.size());
    block.push_back(format);
    block.push_back(count);
    block.insert(block.end(), values.begin(), values.end());
    if (values.size() % 2) block.push_back(0);
    return block;
}

std::vector<uint8_t> ErrorBlock(uint16_t error) {
    std::vector<uint8_t> block{kFormatError, 1};
    PutWord(&block, error);
    return block;
}

double Limit(const ParameterConfig& p, bool upper) {
    const std::optional<double>& configured = upper ? p.maximum : p.minimum;
    double typeLimit = upper ? TypeMaximum(p.type) : TypeMinimum(p.type);
    if (!configured) return typeLimit;
    return upper ? std::min(*configured, typeLimit) : std::max(*configured, typeLimit);
}

// A limit as the 4-byte field of the description block: the value as a
// 32-bit number (two's complement for signed types, IEEE single for floats).
uint32_t LimitField(const ParameterConfig& p, bool upper) {
    if (!IsNumericType(p.type)) return 0;
    double value = Limit(p, upper);
    if (p.type == kFloatingPoint) return FloatBits(static_cast<float>(value));
    if (value < 0) return static_cast<uint32_t>(static_cast<int32_t>(value));
    return static_cast<uint32_t>(value);
}

std::vector<uint8_t> PaddedName(const std::string& name) {
    std::vector<uint8_t> bytes(name.begin(), name.end());
    bytes.resize(kNameLength, ' ');
    return bytes;
}

}  // namespace

Drive::Drive(const SlaveConfig& config) : config_(config), axes_(config.axes) {}

void Drive::Reset(uint64_t nowMs) {
    axes_ = config_.axes;
    faults_.clear();
    startMs_ = nowMs;
}

bool Drive::AxisExists(uint8_t axis) const {
    // Axis 0 addresses the drive unit itself and always exists.
    return axis == 0 || std::any_of(axes_.begin(), axes_.end(),
                                    [&](const AxisConfig& a) { return a.number == axis; });
}

ParameterConfig* Drive::Find(uint8_t axis, uint16_t number) {
    // The global parameters of axis 0 are reachable through every axis.
    for (uint8_t table : {axis, uint8_t{0}}) {
        for (AxisConfig& a : axes_) {
            if (a.number != table) continue;
            for (ParameterConfig& p : a.parameters) {
                if (p.number == number) return &p;
            }
        }
        if (axis == 0) break;
    }
    return nullptr;
}

DriveOutcome Drive::Process(const std::vector<uint8_t>& request, uint64_t nowMs) {
    DriveOutcome outcome;
    if (request.size() < 4 || request.size() > config_.maxBlockLength) {
        outcome.kind = DriveOutcome::Kind::kRefusedLength;
        return outcome;
    }
    const uint8_t reference = request[0];
    const uint8_t requestId = request[1];
    const uint8_t axis = request[2];
    const uint8_t count = request[3];
    if (count == 0 || count > config_.maxParameters) {
        outcome.kind = DriveOutcome::Kind::kRefusedParameterCount;
        return outcome;
    }
    const size_t valuesStart = 4 + 6 * size_t{count};
    if (request.size() < valuesStart) {
        outcome.kind = DriveOutcome::Kind::kRefusedLength;
        return outcome;
    }
    std::vector<Address> addresses(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* a = &request[4 + 6 * i];
        addresses[i] = {a[0], a[1], static_cast<uint16_t>(a[2] << 8 | a[3]),
                        static_cast<uint16_t>(a[4] << 8 | a[5])};
    }

    std::vector<Answer> answers(count);
    auto failAll = [&](size_t from, uint16_t error) {
        for (size_t i = from; i < count; ++i) answers[i] = Answer{true, error, {}};
    };
    if (requestId != kRequestValue && requestId != kRequestChange) {
        failAll(0, kErrAddressNotPermitted);
    } else if (!AxisExists(axis)) {
        failAll(0, kErrAxisDoesNotExist);
    } else if (requestId == kRequestValue) {
        for (size_t i = 0; i < count; ++i) answers[i] = Read(axis, addresses[i], nowMs);
    } else {
        size_t pos = valuesStart;
        for (size_t i = 0; i < count; ++i) {
            if (pos + 2 > request.size()) {
                failAll(i, kErrValueCountInconsistent);
                break;
            }
            ValueBlock block{request[pos], request[pos + 1], nullptr, 0};
            std::optional<unsigned> size = block.format == kFormatError ? 2u
                                           : block.format == kFormatNoData
                                               ? 0u
                                               : ValueSize(block.format);
            if (!size) {
                // Without a known format the following blocks cannot be found.
                failAll(i, kErrIllegalFormat);
                break;
            }
            block.size = *size ? *size * size_t{block.count} : block.count;
            if (pos + 2 + block.size > request.size()) {
                failAll(i, kErrValueCountInconsistent);
                break;
            }
            block.values = &request[pos + 2];
            pos += 2 + block.size + block.size % 2;
            answers[i] = Change(axis, addresses[i], block);
        }
    }

    auto assemble = [&]() {
        bool failed =
            std::any_of(answers.begin(), answers.end(), [](const Answer& a) { return a.failed; });
        std::vector<uint8_t> response{
            reference, static_cast<uint8_t>(requestId | (failed ? kNegativeResponse : 0)), axis,
            count};
        // A single successful change is answered by the header alone; in a
        // multi-parameter change every successful parameter gets a no-data block.
        bool headerOnly = requestId == kRequestChange && count == 1 && !failed;
        bool stripPad = requestId == kRequestValue && count > 1 && !config_.padMultiResponses;
        for (const Answer& a : answers) {
            if (headerOnly) break;
            std::vector<uint8_t> block = a.failed          ? ErrorBlock(a.error)
                                         : a.block.empty() ? std::vector<uint8_t>{kFormatNoData, 0}
                                                           : a.block;
            if (stripPad && !a.failed) {
                size_t valueBytes = block[1] * size_t{ValueSize(block[0]).value_or(0)};
                if (IsStringType(block[0])) valueBytes = block[1];
                if (valueBytes % 2 && block.size() == 2 + valueBytes + 1) block.pop_back();
            }
            response.insert(response.end(), block.begin(), block.end());
        }
        return response;
    };
    outcome.response = assemble();
    if (outcome.response.size() > config_.maxBlockLength) {
        failAll(0, kErrResponseTooLong);
        outcome.response = assemble();
    }
    return outcome;
}

Drive::Answer Drive::CheckAddress(uint8_t axis, const Address& address,
                                  ParameterConfig** parameter) {
    if ((address.attribute != kAttributeValue && address.attribute != kAttributeDescription &&
         address.attribute != kAttributeText) ||
        address.parameter == 0 || address.elements > kMaxElements)
        return Answer{true, kErrAddressNotPermitted, {}};
    for (int key : {int{axis}, kAnyAxis}) {
        auto fault = faults_.find({key, address.parameter});
        if (fault != faults_.end()) return Answer{true, fault->second, {}};
    }
    *parameter = Find(axis, address.parameter);
    if (!*parameter) return Answer{true, kErrUnknownParameter, {}};
    if ((*parameter)->fault) return Answer{true, *(*parameter)->fault, {}};
    // Descriptions and texts are read one element at a time.
    if (address.attribute != kAttributeValue && address.elements > 1)
        return Answer{true, kErrAddressNotPermitted, {}};
    return Answer{};
}

Drive::Answer Drive::Read(uint8_t axis, const Address& address, uint64_t nowMs) {
    ParameterConfig* p = nullptr;
    Answer check = CheckAddress(axis, address, &p);
    if (check.failed) return check;
    if (address.attribute == kAttributeValue) return ReadValue(*p, address, nowMs);
    if (address.attribute == kAttributeDescription) return ReadDescription(*p, address.subindex);
    auto text = p->texts.find(address.subindex);
    if (text == p->texts.end()) return Answer{true, kErrWrongSubindex, {}};
    std::vector<uint8_t> bytes(text->second.begin(), text->second.end());
    return Answer{false, 0, MakeBlock(kVisibleString, static_cast<uint8_t>(bytes.size()), bytes)};
}

std::vector<uint8_t> Drive::CurrentValue(const ParameterConfig& p, uint64_t nowMs) const {
    if (!p.variation) return p.value;
    std::vector<uint8_t> value = p.value;
    unsigned size = *ValueSize(p.type);
    const double kTwoPi = 6.283185307179586;
    double phase = kTwoPi * static_cast<double>((nowMs - startMs_) % p.variation->periodMs) /
                   p.variation->periodMs;
    for (size_t at = 0; at + size <= value.size(); at += size) {
        double moved = DecodeNumber(p.type, &value[at]) + p.variation->amplitude * std::sin(phase);
        moved = std::clamp(moved, Limit(p, false), Limit(p, true));
        EncodeNumber(p.type, moved, &value[at]);
    }
    return value;
}

Drive::Answer Drive::ReadValue(const ParameterConfig& p, const Address& address, uint64_t nowMs) {
    std::vector<uint8_t> value = CurrentValue(p, nowMs);
    if (IsStringType(p.type) || !p.isArray) {
        if (address.subindex != 0 || address.elements > 1) return Answer{true, kErrNotAnArray, {}};
        uint8_t count = IsStringType(p.type) ? static_cast<uint8_t>(value.size()) : 1;
        return Answer{false, 0, MakeBlock(p.type, count, value)};
    }
    unsigned size = *ValueSize(p.type);
    unsigned elements = std::max<unsigned>(1, address.elements);
    if (address.subindex + elements > p.ElementCount()) return Answer{true, kErrWrongSubindex, {}};
    std::vector<uint8_t> part(value.begin() + address.subindex * size,
                              value.begin() + (address.subindex + elements) * size);
    return Answer{false, 0, MakeBlock(p.type, static_cast<uint8_t>(elements), part)};
}

Drive::Answer Drive::ReadDescription(const ParameterConfig& p, uint16_t element) {
    const Description& d = p.description;
    uint8_t flags = d.extraFlags;
    if (p.isArray) flags |= kIdentifierArray;
    if (!p.texts.empty()) flags |= kIdentifierTexts;
    if (!p.writable) flags |= kIdentifierReadOnly;
    uint16_t identifier = static_cast<uint16_t>(flags << 8 | p.type);
    uint16_t elements = IsStringType(p.type) ? static_cast<uint16_t>(p.stringLength)
                        : p.isArray          ? static_cast<uint16_t>(p.ElementCount())
                                             : 0;
    std::vector<uint8_t> bytes;
    auto word = [&](uint16_t value) {
        PutWord(&bytes, value);
        return Answer{false, 0, MakeBlock(kUnsigned16, 1, bytes)};
    };
    auto limit = [&](bool upper) {
        if (!IsNumericType(p.type)) {
            PutDoubleWord(&bytes, 0);
            return Answer{false, 0, MakeBlock(kFormatDoubleWord, 1, bytes)};
        }
        bytes.resize(*ValueSize(p.type));
        EncodeNumber(p.type, Limit(p, upper), bytes.data());
        return Answer{false, 0, MakeBlock(p.type, 1, bytes)};
    };
    switch (element) {
        case 0:
            PutWord(&bytes, identifier);
            PutWord(&bytes, elements);
            PutDoubleWord(&bytes, FloatBits(d.scalingFactor));
            bytes.push_back(d.sizeIndex);
            bytes.push_back(static_cast<uint8_t>(d.conversionIndex));
            PutDoubleWord(&bytes, d.reserved5);
            for (uint8_t c : PaddedName(d.name)) bytes.push_back(c);
            PutDoubleWord(&bytes, LimitField(p, false));
            PutDoubleWord(&bytes, LimitField(p, true));
            PutWord(&bytes, d.reserved9);
            PutWord(&bytes, d.idExtension);
            PutWord(&bytes, d.pzdReference);
            PutWord(&bytes, d.pzdNormalization);
            static_assert(kDescriptionLength == 46, "description block layout");
            return Answer{false, 0,
                          MakeBlock(kOctetString, static_cast<uint8_t>(bytes.size()), bytes)};
        case 1: return word(identifier);
        case 2: return word(elements);
        case 3:
            PutDoubleWord(&bytes, FloatBits(d.scalingFactor));
            return Answer{false, 0, MakeBlock(kFloatingPoint, 1, bytes)};
        case 4:
            bytes = {d.sizeIndex, static_cast<uint8_t>(d.conversionIndex)};
            return Answer{false, 0, MakeBlock(kOctetString, 2, bytes)};
        case 5:
            PutDoubleWord(&bytes, d.reserved5);
            return Answer{false, 0, MakeBlock(kUnsigned32, 1, bytes)};
        case 6:
            bytes = PaddedName(d.name);
            return Answer{false, 0, MakeBlock(kVisibleString, kNameLength, bytes)};
        case 7: return limit(false);
        case 8: return limit(true);
        case 9: return word(d.reserved9);
        case 10: return word(d.idExtension);
        case 11: return word(d.pzdReference);
        case 12: return word(d.pzdNormalization);
        default: return Answer{true, kErrWrongSubindex, {}};
    }
}

Drive::Answer Drive::Change(uint8_t axis, const Address& address, const ValueBlock& block) {
    ParameterConfig* p = nullptr;
    Answer check = CheckAddress(axis, address, &p);
    if (check.failed) return check;
    if (block.format == kFormatError || block.format == kFormatNoData)
        return Answer{true, kErrIllegalFormat, {}};
    if (address.attribute == kAttributeValue) return ChangeValue(p, address, block);
    if (!p->descriptionWritable) return Answer{true, kErrNotChangeable, {}};
    if (address.attribute == kAttributeDescription)
        return ChangeDescription(p, address.subindex, block);
    if (block.format != kVisibleString) return Answer{true, kErrWrongDataType, {}};
    p->texts[address.subindex] = std::string(block.values, block.values + block.size);
    return Answer{};
}

uint16_t Drive::CheckNumber(const ParameterConfig& p, double value) const {
    if (p.type == kBoolean && value != 0 && value != 0xFF) return kErrValueNotPermitted;
    if ((p.minimum && value < *p.minimum) || (p.maximum && value > *p.maximum))
        return kErrOutsideLimits;
    if (!p.allowed.empty() &&
        std::find(p.allowed.begin(), p.allowed.end(), value) == p.allowed.end())
        return kErrValueNotPermitted;
    return kNoError;
}

Drive::Answer Drive::ChangeValue(ParameterConfig* p, const Address& address,
                                 const ValueBlock& block) {
    if (!p->writable) return Answer{true, kErrNotChangeable, {}};
    if (!FormatFits(block.format, p->type)) return Answer{true, kErrWrongDataType, {}};
    if (IsStringType(p->type)) {
        if (address.subindex != 0 || address.elements > 1) return Answer{true, kErrNotAnArray, {}};
        if (block.size > p->stringLength) return Answer{true, kErrValueCountInconsistent, {}};
        p->value.assign(block.values, block.values + block.size);
        return Answer{};
    }
    unsigned elements = 1;
    if (!p->isArray) {
        if (address.subindex != 0 || address.elements > 1) return Answer{true, kErrNotAnArray, {}};
    } else {
        elements = std::max<unsigned>(1, address.elements);
        if (address.subindex + elements > p->ElementCount())
            return Answer{true, kErrWrongSubindex, {}};
    }
    if (block.count != elements) return Answer{true, kErrValueCountInconsistent, {}};
    unsigned size = *ValueSize(p->type);
    if (IsNumericType(p->type)) {
        for (unsigned i = 0; i < elements; ++i) {
            uint16_t error = CheckNumber(*p, DecodeNumber(p->type, block.values + i * size));
            if (error != kNoError) return Answer{true, error, {}};
        }
    }
    std::copy(block.values, block.values + elements * size,
              p->value.begin() + address.subindex * size);
    return Answer{};
}

Drive::Answer Drive::ChangeDescription(ParameterConfig* p, uint16_t element,
                                       const ValueBlock& block) {
    Description& d = p->description;
    auto single = [&](uint8_t type) -> uint16_t {
        if (!FormatFits(block.format, type)) return kErrWrongDataType;
        return block.count == 1 ? kNoError : kErrValueCountInconsistent;
    };
    uint16_t error = kNoError;
    switch (element) {
        case 3:
            if ((error = single(kFloatingPoint)) == kNoError)
                d.scalingFactor = static_cast<float>(DecodeNumber(kFloatingPoint, block.values));
            break;
        case 6:
            if (block.format != kVisibleString)
                error = kErrWrongDataType;
            else if (block.size > kNameLength)
                error = kErrValueCountInconsistent;
            else
                d.name.assign(block.values, block.values + block.size);
            break;
        case 7:
        case 8:
            if (!IsNumericType(p->type))
                error = kErrNotChangeable;
            else if ((error = single(p->type)) == kNoError)
                (element == 7 ? p->minimum : p->maximum) = DecodeNumber(p->type, block.values);
            break;
        case 10:
        case 11:
        case 12:
            if ((error = single(kUnsigned16)) == kNoError) {
                uint16_t word = static_cast<uint16_t>(DecodeNumber(kUnsigned16, block.values));
                (element == 10   ? d.idExtension
                 : element == 11 ? d.pzdReference
                                 : d.pzdNormalization) = word;
            }
            break;
        default: error = element > 12 ? kErrWrongSubindex : kErrNotChangeable;
    }
    if (error != kNoError) return Answer{true, error, {}};
    return Answer{};
}

}  // namespace bussim
