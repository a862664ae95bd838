// A simulated drive: its parameter tables and the processing of one
// parameter-access request telegram into its response telegram.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "Topology.h"

namespace bussim {

// Error numbers of the drive profile (low byte of the error value).
enum DriveError : uint16_t {
    kErrUnknownParameter = 0x00,
    kErrNotChangeable = 0x01,
    kErrOutsideLimits = 0x02,
    kErrWrongSubindex = 0x03,
    kErrNotAnArray = 0x04,
    kErrWrongDataType = 0x05,
    kErrValueNotPermitted = 0x14,
    kErrResponseTooLong = 0x15,
    kErrAddressNotPermitted = 0x16,
    kErrIllegalFormat = 0x17,
    kErrValueCountInconsistent = 0x18,
    kErrAxisDoesNotExist = 0x19,
};

constexpr uint8_t kRequestValue = 1;
constexpr uint8_t kRequestChange = 2;
constexpr uint8_t kNegativeResponse = 0x80;

constexpr uint8_t kAttributeValue = 0x10;
constexpr uint8_t kAttributeDescription = 0x20;
constexpr uint8_t kAttributeText = 0x30;

// What the drive does with a telegram: answer it, or refuse to take it, as a
// drive does when a request does not fit its limits (the transport write
// then fails and no response ever comes).
struct DriveOutcome {
    enum class Kind { kResponse, kRefusedLength, kRefusedParameterCount };
    Kind kind = Kind::kResponse;
    std::vector<uint8_t> response;
};

// Injected answer errors: (axis, parameter) -> error number. Axis kAnyAxis
// matches every axis.
constexpr int kAnyAxis = -1;
using FaultMap = std::map<std::pair<int, uint16_t>, uint16_t>;

class Drive {
public:
    explicit Drive(const SlaveConfig& config);

    // Back to the configured values; `nowMs` restarts the time of varying values.
    void Reset(uint64_t nowMs);

    DriveOutcome Process(const std::vector<uint8_t>& request, uint64_t nowMs);

    void SetFaults(FaultMap faults) { faults_ = std::move(faults); }
    const FaultMap& Faults() const { return faults_; }

    uint16_t MaxBlockLength() const { return config_.maxBlockLength; }
    uint8_t MaxParameters() const { return config_.maxParameters; }

private:
    struct Address {
        uint8_t attribute;
        uint8_t elements;
        uint16_t parameter;
        uint16_t subindex;
    };
    struct ValueBlock {
        uint8_t format;
        uint8_t count;
        const uint8_t* values;
        size_t size;  // bytes of values
    };
    // One parameter's part of the response: a value block, or empty for a
    // successful change, or an error.
    struct Answer {
        bool failed = false;
        uint16_t error = 0;
        std::vector<uint8_t> block;
    };

    ParameterConfig* Find(uint8_t axis, uint16_t number);
    bool AxisExists(uint8_t axis) const;
    Answer CheckAddress(uint8_t axis, const Address& address, ParameterConfig** parameter);
    Answer Read(uint8_t axis, const Address& address, uint64_t nowMs);
    Answer Change(uint8_t axis, const Address& address, const ValueBlock& block);
    Answer ReadValue(const ParameterConfig& p, const Address& address, uint64_t nowMs);
    Answer ReadDescription(const ParameterConfig& p, uint16_t element);
    Answer ChangeValue(ParameterConfig* p, const Address& address, const ValueBlock& block);
    Answer ChangeDescription(ParameterConfig* p, uint16_t element, const ValueBlock& block);
    uint16_t CheckNumber(const ParameterConfig& p, double value) const;
    std::vector<uint8_t> CurrentValue(const ParameterConfig& p, uint64_t nowMs) const;

    SlaveConfig config_;            // as configured; Reset copies the tables from here
    std::vector<AxisConfig> axes_;  // the running state
    FaultMap faults_;
    uint64_t startMs_ = 0;
};

}  // namespace bussim
