#include "Bus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bussim {

const char kVendorNameItem[] = "DS_Vendorname";
const char kProfileIdentItem[] = "DS_MSAC2_Parameter/MA_ProfileIdentNumber";

namespace {

ItemStatus FromChannel(ChannelStatus status) {
    switch (status) {
        case ChannelStatus::kOk: return ItemStatus::kOk;
        case ChannelStatus::kProfileNotSelected: return ItemStatus::kProfileNotSelected;
        case ChannelStatus::kRequestRefused: return ItemStatus::kRequestRefused;
        case ChannelStatus::kNotReady: return ItemStatus::kNotReady;
        case ChannelStatus::kNoRequest: return ItemStatus::kNoRequest;
    }
    return ItemStatus::kBadValue;
}

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    *value = std::strtoul(text.c_str(), &end, 0);
    return *end == '\0' && *value <= max;
}

}  // namespace

Bus::Bus(const Topology& topology, Clock clock) : clock_(std::move(clock)) {
    uint64_t now = clock_();
    for (size_t i = 0; i < topology.slaves.size(); ++i) {
        const SlaveConfig& config = topology.slaves[i];
        slaves_.push_back(std::make_unique<Slave>(config, now));
        const std::string slave = "slave " + std::to_string(config.address);
        if (config.marker)
            Add(config.prefix + kVendorNameItem, ItemType::kString, true, false, Kind::kVendorName,
                i, "Vendor of " + slave);
        Add(config.prefix + config.channel, ItemType::kBytes, true, true, Kind::kChannel, i,
            "Parameter channel of " + slave);
        Add(config.prefix + kProfileIdentItem, ItemType::kUInt16, true, true, Kind::kProfileIdent,
            i, "Profile ident number of the channel of " + slave);
    }
    Add("Sim/Reset", ItemType::kBool, true, true, Kind::kReset, 0,
        "TRUE restores the configured bus");
    Add("Sim/ShutdownRequest", ItemType::kString, true, true, Kind::kShutdownRequest, 0,
        "A text written here goes to every client as a shutdown request");
    Add("Sim/AsyncDelayMs", ItemType::kUInt32, true, true, Kind::kAsyncDelay, 0,
        "Time each asynchronous job is held before it runs, in ms");
    Add("Sim/MaxInProcess", ItemType::kUInt32, true, false, Kind::kLineMaxInProcess, 0,
        "Most requests in process on the bus at once");
    for (size_t i = 0; i < topology.slaves.size(); ++i) {
        const std::string slave = " of slave " + std::to_string(topology.slaves[i].address);
        std::string base = "Sim/Slave" + std::to_string(topology.slaves[i].address) + "/";
        Add(base + "LatencyMs", ItemType::kUInt32, true, true, Kind::kLatency, i,
            "Response latency in ms" + slave);
        Add(base + "Offline", ItemType::kBool, true, true, Kind::kOffline, i,
            "TRUE: requests are never answered");
        Add(base + "WithholdCompletions", ItemType::kBool, true, true, Kind::kWithholdCompletions,
            i, "TRUE: asynchronous reads and writes are never completed");
        Add(base + "Faults", ItemType::kString, true, true, Kind::kFaults, i,
            "Injected errors: <parameter>[@<axis>]=<error>;...");
        Add(base + "Requests", ItemType::kUInt32, true, false, Kind::kRequests, i,
            "Requests" + slave);
        Add(base + "RequestBytes", ItemType::kUInt32, true, false, Kind::kRequestBytes, i,
            "Request bytes" + slave);
        Add(base + "Responses", ItemType::kUInt32, true, false, Kind::kResponses, i,
            "Responses fetched" + slave);
        Add(base + "ResponseBytes", ItemType::kUInt32, true, false, Kind::kResponseBytes, i,
            "Response bytes" + slave);
        Add(base + "MaxInProcess", ItemType::kUInt32, true, false, Kind::kMaxInProcess, i,
            "Most requests in process at once" + slave);
    }
}

void Bus::Add(const std::string& id, ItemType type, bool readable, bool writable, Kind kind,
              size_t slave, const std::string& description) {
    index_[id] = infos_.size();
    infos_.push_back(ItemInfo{id, type, readable, writable, description});
    entries_.push_back(Entry{kind, slave});
}

const ItemInfo* Bus::FindItem(const std::string& id) const {
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : &infos_[it->second];
}

ItemStatus Bus::Read(const std::string& id, ItemValue* value) {
    auto it = index_.find(id);
    if (it == index_.end()) return ItemStatus::kUnknownItem;
    const Entry& entry = entries_[it->second];
    if (entry.kind == Kind::kReset) {
        *value = ItemValue::Bool(false);
        return ItemStatus::kOk;
    }
    if (entry.kind == Kind::kAsyncDelay) {
        *value = ItemValue::UInt32(asyncDelayMs_);
        return ItemStatus::kOk;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry.kind == Kind::kShutdownRequest) {
        *value = ItemValue::Text(shutdownReason_);
        return ItemStatus::kOk;
    }
    if (entry.kind == Kind::kLineMaxInProcess) {
        *value = ItemValue::UInt32(lineMaxInProcess_);
        return ItemStatus::kOk;
    }
    Slave& slave = *slaves_[entry.slave];
    const SlaveCounters& counters = slave.Counters();
    switch (entry.kind) {
        case Kind::kVendorName: *value = ItemValue::Text(slave.Config().vendor); break;
        case Kind::kChannel: {
            std::vector<uint8_t> response;
            ChannelStatus status = slave.ReadChannel(clock_(), &response);
            if (status != ChannelStatus::kOk) return FromChannel(status);
            *value = ItemValue::Bytes(std::move(response));
            break;
        }
        case Kind::kProfileIdent: *value = ItemValue::UInt16(slave.ProfileIdent()); break;
        case Kind::kReset:
        case Kind::kShutdownRequest:
        case Kind::kAsyncDelay:
        case Kind::kLineMaxInProcess: break;
        case Kind::kLatency: *value = ItemValue::UInt32(slave.LatencyMs()); break;
        case Kind::kOffline: *value = ItemValue::Bool(slave.Offline()); break;
        case Kind::kWithholdCompletions:
            *value = ItemValue::Bool(slave.WithholdsCompletions());
            break;
        case Kind::kFaults:
            *value = ItemValue::Text(FormatFaults(slave.GetDrive().Faults()));
            break;
        case Kind::kRequests: *value = ItemValue::UInt32(counters.requests); break;
        case Kind::kRequestBytes: *value = ItemValue::UInt32(counters.requestBytes); break;
        case Kind::kResponses: *value = ItemValue::UInt32(counters.responses); break;
        case Kind::kResponseBytes: *value = ItemValue::UInt32(counters.responseBytes); break;
        case Kind::kMaxInProcess: *value = ItemValue::UInt32(counters.maxInProcess); break;
    }
    return ItemStatus::kOk;
}

ItemStatus Bus::Write(const std::string& id, const ItemValue& value) {
    auto it = index_.find(id);
    if (it == index_.end()) return ItemStatus::kUnknownItem;
    const ItemInfo& info = infos_[it->second];
    const Entry& entry = entries_[it->second];
    if (!info.writable) return ItemStatus::kNotWritable;
    if (value.type != info.type) return ItemStatus::kBadValue;
    if (entry.kind == Kind::kReset) {
        if (value.flag) Reset();
        return ItemStatus::kOk;
    }
    if (entry.kind == Kind::kAsyncDelay) {
        asyncDelayMs_ = value.number;
        return ItemStatus::kOk;
    }
    if (entry.kind == Kind::kShutdownRequest) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            shutdownReason_ = value.text;
        }
        // Outside the lock: the clients' handlers may call back into the bus.
        if (onShutdown_) onShutdown_(value.text);
        return ItemStatus::kOk;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Slave& slave = *slaves_[entry.slave];
    switch (entry.kind) {
        case Kind::kChannel: {
            const ChannelStatus status = slave.WriteChannel(value.bytes, clock_());
            uint32_t inProcess = 0;
            for (const auto& each : slaves_) inProcess += each->InProcess() ? 1 : 0;
            lineMaxInProcess_ = std::max(lineMaxInProcess_, inProcess);
            return FromChannel(status);
        }
        case Kind::kProfileIdent: slave.SetProfileIdent(static_cast<uint16_t>(value.number)); break;
        case Kind::kLatency: slave.SetLatencyMs(value.number); break;
        case Kind::kOffline: slave.SetOffline(value.flag); break;
        case Kind::kWithholdCompletions: slave.SetWithholdCompletions(value.flag); break;
        case Kind::kFaults: {
            FaultMap faults;
            if (!ParseFaults(value.text, &faults)) return ItemStatus::kBadValue;
            slave.GetDrive().SetFaults(std::move(faults));
            break;
        }
        default: return ItemStatus::kNotWritable;
    }
    return ItemStatus::kOk;
}

bool Bus::WithholdsCompletions(const std::string& id) {
    auto it = index_.find(id);
    if (it == index_.end()) return false;
    const Entry& entry = entries_[it->second];
    // Only the slave's own items; the Sim/ items always complete.
    if (entry.kind != Kind::kVendorName && entry.kind != Kind::kChannel &&
        entry.kind != Kind::kProfileIdent)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return slaves_[entry.slave]->WithholdsCompletions();
}

void Bus::SetShutdownHandler(std::function<void(const std::string&)> handler) {
    onShutdown_ = std::move(handler);
}

void Bus::Reset() {
    asyncDelayMs_ = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    shutdownReason_.clear();
    lineMaxInProcess_ = 0;
    uint64_t now = clock_();
    for (auto& slave : slaves_) slave->Reset(now);
}

bool ParseFaults(const std::string& text, FaultMap* faults) {
    FaultMap result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string entry = text.substr(start, end - start);
        start = end + 1;
        while (!entry.empty() && entry.back() == ' ') entry.pop_back();
        while (!entry.empty() && entry.front() == ' ') entry.erase(0, 1);
        if (entry.empty()) continue;
        size_t equals = entry.find('=');
        if (equals == std::string::npos) return false;
        std::string target = entry.substr(0, equals);
        size_t at = target.find('@');
        unsigned long parameter, axis = 0, error;
        if (!ParseUnsigned(target.substr(0, at), 65535, &parameter) || parameter == 0 ||
            (at != std::string::npos && !ParseUnsigned(target.substr(at + 1), 255, &axis)) ||
            !ParseUnsigned(entry.substr(equals + 1), 65535, &error))
            return false;
        int key = at == std::string::npos ? kAnyAxis : static_cast<int>(axis);
        result[{key, static_cast<uint16_t>(parameter)}] = static_cast<uint16_t>(error);
    }
    *faults = std::move(result);
    return true;
}

std::string FormatFaults(const FaultMap& faults) {
    std::string text;
    for (const auto& [key, error] : faults) {
        char entry[40];
        if (key.first == kAnyAxis)
            std::snprintf(entry, sizeof entry, "%u=0x%02X", key.second, error);
        else
            std::snprintf(entry, sizeof entry, "%u@%d=0x%02X", key.second, key.first, error);
        if (!text.empty()) text += ';';
        text += entry;
    }
    return text;
}

}  // namespace bussim
