#include "Slave.h"

#include <algorithm>

namespace bussim {

Slave::Slave(const SlaveConfig& config, uint64_t nowMs)
    : config_(config),
      drive_(config),
      profileIdent_(config.profileIdent),
      latencyMs_(config.latencyMs),
      offline_(config.offline) {
    drive_.Reset(nowMs);
}

void Slave::Reset(uint64_t nowMs) {
    drive_.Reset(nowMs);
    profileIdent_ = config_.profileIdent;
    latencyMs_ = config_.latencyMs;
    offline_ = config_.offline;
    withholdCompletions_ = false;
    pending_.reset();
    counters_ = SlaveCounters{};
}

void Slave::SetProfileIdent(uint16_t value) {
    profileIdent_ = value;
    // Selecting another profile ends the conversation on the channel.
    if (value != kDriveProfileIdent) pending_.reset();
}

void Slave::SetOffline(bool value) {
    offline_ = value;
    // A request sent while the slave was off the bus never reached it.
    if (value && pending_) pending_->readyAtMs.reset();
}

ChannelStatus Slave::WriteChannel(const std::vector<uint8_t>& request, uint64_t nowMs) {
    if (profileIdent_ != kDriveProfileIdent) return ChannelStatus::kProfileNotSelected;
    ++counters_.requests;
    counters_.requestBytes += static_cast<uint32_t>(request.size());
    const uint32_t atOnce = pending_ ? 2 : 1;
    // A new request replaces one whose response was not fetched.
    pending_.reset();
    if (offline_) {
        pending_ = Pending{{}, std::nullopt};
    } else {
        DriveOutcome outcome = drive_.Process(request, nowMs);
        if (outcome.kind != DriveOutcome::Kind::kResponse) return ChannelStatus::kRequestRefused;
        pending_ = Pending{std::move(outcome.response), nowMs + latencyMs_};
    }
    counters_.maxInProcess = std::max(counters_.maxInProcess, atOnce);
    return ChannelStatus::kOk;
}

ChannelStatus Slave::ReadChannel(uint64_t nowMs, std::vector<uint8_t>* response) {
    if (profileIdent_ != kDriveProfileIdent) return ChannelStatus::kProfileNotSelected;
    if (!pending_) return ChannelStatus::kNoRequest;
    if (!pending_->readyAtMs || nowMs < *pending_->readyAtMs) return ChannelStatus::kNotReady;
    *response = std::move(pending_->response);
    pending_.reset();
    ++counters_.responses;
    counters_.responseBytes += static_cast<uint32_t>(response->size());
    return ChannelStatus::kOk;
}

}  // namespace bussim
