// The configured bus: slaves, their drives, axes and parameter tables, as
// read from a topology file. Plain data; the running state lives in Drive/Slave.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bussim {

// The description block of a parameter, elements 1 to 12 of attribute 0x20.
// The identifier (1) and the number of elements (2) follow from the
// parameter itself; the rest is configured.
struct Description {
    uint8_t extraFlags = 0;         // identifier bits beyond array/read-only/texts
    float scalingFactor = 1.0f;     // 3
    uint8_t sizeIndex = 0;          // 4, high byte
    int8_t conversionIndex = 0;     // 4, low byte
    uint32_t reserved5 = 0;         // 5
    std::string name;               // 6, 16 characters, blank-padded
    uint16_t reserved9 = 0;         // 9
    uint16_t idExtension = 0;       // 10
    uint16_t pzdReference = 0;      // 11
    uint16_t pzdNormalization = 0;  // 12
};

// A value that moves with time: base + amplitude * sin(2 pi t / period).
struct Variation {
    double amplitude = 0;
    uint32_t periodMs = 1000;
};

struct ParameterConfig {
    uint16_t number = 0;
    uint8_t type = 0;
    bool isArray = false;
    // Big-endian value bytes: elements x value size, or the string's bytes.
    std::vector<uint8_t> value;
    unsigned stringLength = 0;  // maximum length of a string parameter
    bool writable = false;
    std::optional<double> minimum;
    std::optional<double> maximum;
    std::vector<double> allowed;  // empty: every value within the limits
    Description description;
    bool descriptionWritable = false;  // elements 3, 6, 7, 8, 10-12 and texts
    std::map<uint16_t, std::string> texts;
    std::optional<Variation> variation;
    std::optional<uint16_t> fault;  // every access answered with this error

    unsigned ElementCount() const;
};

struct AxisConfig {
    uint8_t number = 0;  // 0: the drive unit's global parameters
    std::vector<ParameterConfig> parameters;
};

struct SlaveConfig {
    unsigned address = 0;
    std::string prefix;                      // item-ID prefix, for example "DP/Slave3/"
    std::string vendor;                      // value of the DS_Vendorname item
    bool marker = true;                      // whether the slave has the DS_Vendorname item at all
    std::string channel = "SlotI0S47D8209";  // item name of the parameter channel
    uint32_t latencyMs = 0;
    bool offline = false;       // off the bus at start and after Sim/Reset
    uint16_t profileIdent = 0;  // MA_ProfileIdentNumber before it is written
    uint16_t maxBlockLength = 240;
    uint8_t maxParameters = 39;
    // Whether an odd number of byte values in a multi-parameter response is
    // followed by a pad byte, as in every other telegram.
    bool padMultiResponses = true;
    std::vector<AxisConfig> axes;
};

struct Topology {
    std::vector<SlaveConfig> slaves;
};

// Parses the text of a topology file. On failure returns false and sets
// `error` to "line N: what is wrong".
bool ParseTopology(const std::string& text, Topology* topology, std::string* error);

}  // namespace bussim
