// One slave on the bus: its drive, the acyclic parameter channel in front of
// it (profile-ident gate, latency, one pending response) and its counters.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Drive.h"
#include "Topology.h"

namespace bussim {

// The profile ident number that selects the drive profile on the channel.
constexpr uint16_t kDriveProfileIdent = 0x3A00;

enum class ChannelStatus {
    kOk,
    kProfileNotSelected,  // MA_ProfileIdentNumber is not 0x3A00
    kRequestRefused,      // the drive does not take the telegram
    kNotReady,            // a request is in progress, no response yet
    kNoRequest,           // nothing was asked, or the response was fetched already
};

struct SlaveCounters {
    uint32_t requests = 0;  // telegrams written to the channel
    uint32_t requestBytes = 0;
    uint32_t responses = 0;  // responses fetched
    uint32_t responseBytes = 0;
    // Most requests in process at once: written, not yet fetched. A request written
    // before the previous response was fetched makes two (the drive drops the first).
    uint32_t maxInProcess = 0;
};

class Slave {
public:
    Slave(const SlaveConfig& config, uint64_t nowMs);

    const SlaveConfig& Config() const { return config_; }
    Drive& GetDrive() { return drive_; }

    void Reset(uint64_t nowMs);

    ChannelStatus WriteChannel(const std::vector<uint8_t>& request, uint64_t nowMs);
    // A response is handed out once; later reads answer kNoRequest.
    ChannelStatus ReadChannel(uint64_t nowMs, std::vector<uint8_t>* response);

    uint16_t ProfileIdent() const { return profileIdent_; }
    void SetProfileIdent(uint16_t value);

    uint32_t LatencyMs() const { return latencyMs_; }
    void SetLatencyMs(uint32_t value) { latencyMs_ = value; }
    bool Offline() const { return offline_; }
    void SetOffline(bool value);
    // Asynchronous reads and writes of the slave's items are carried out, but their
    // completions are never sent.
    bool WithholdsCompletions() const { return withholdCompletions_; }
    void SetWithholdCompletions(bool value) { withholdCompletions_ = value; }

    const SlaveCounters& Counters() const { return counters_; }
    // A request is in process from its write until its response is fetched (or it is
    // replaced or dropped); an offline slave keeps it in process for good.
    bool InProcess() const { return pending_.has_value(); }

private:
    struct Pending {
        std::vector<uint8_t> response;
        std::optional<uint64_t> readyAtMs;  // none: the slave never answers
    };

    SlaveConfig config_;
    Drive drive_;
    uint16_t profileIdent_;
    uint32_t latencyMs_;
    bool offline_ = false;
    bool withholdCompletions_ = false;
    std::optional<Pending> pending_;
    SlaveCounters counters_;
};

}  // namespace bussim
