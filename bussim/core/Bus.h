// The simulated bus as a set of named items: per slave its vendor marker, the
// parameter channel and the profile ident number, and the simulator's own
// "Sim/" items for fault injection and observation. Safe for concurrent use.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Slave.h"
#include "Topology.h"

namespace bussim {

enum class ItemType { kBytes, kUInt16, kUInt32, kBool, kString };

struct ItemValue {
    ItemType type = ItemType::kBool;
    std::vector<uint8_t> bytes;
    uint32_t number = 0;  // kUInt16, kUInt32
    bool flag = false;
    std::string text;

    static ItemValue Bytes(std::vector<uint8_t> b) {
        ItemValue v;
        v.type = ItemType::kBytes;
        v.bytes = std::move(b);
        return v;
    }
    static ItemValue UInt16(uint16_t n) {
        ItemValue v;
        v.type = ItemType::kUInt16;
        v.number = n;
        return v;
    }
    static ItemValue UInt32(uint32_t n) {
        ItemValue v;
        v.type = ItemType::kUInt32;
        v.number = n;
        return v;
    }
    static ItemValue Bool(bool b) {
        ItemValue v;
        v.type = ItemType::kBool;
        v.flag = b;
        return v;
    }
    static ItemValue Text(std::string t) {
        ItemValue v;
        v.type = ItemType::kString;
        v.text = std::move(t);
        return v;
    }
};

struct ItemInfo {
    std::string id;
    ItemType type;
    bool readable;
    bool writable;
    std::string description;  // for the item's description property
};

enum class ItemStatus {
    kOk,
    kUnknownItem,
    kNotReadable,
    kNotWritable,
    kBadValue,
    kProfileNotSelected,
    kRequestRefused,
    kNotReady,
    kNoRequest,
};

// Item names of a slave, appended to its prefix (the channel's is configured).
extern const char kVendorNameItem[];
extern const char kProfileIdentItem[];

class Bus {
public:
    using Clock = std::function<uint64_t()>;  // milliseconds, monotonic

    Bus(const Topology& topology, Clock clock);

    // Every item, slaves in configured order, then the Sim/ items.
    std::vector<ItemInfo> Items() const { return infos_; }
    const ItemInfo* FindItem(const std::string& id) const;

    ItemStatus Read(const std::string& id, ItemValue* value);
    ItemStatus Write(const std::string& id, const ItemValue& value);
    // True for an item of a slave whose asynchronous completions are withheld.
    bool WithholdsCompletions(const std::string& id);

    // Everything back to the configured state.
    void Reset();

    // Called with the text of each write of Sim/ShutdownRequest (on the writer's thread).
    void SetShutdownHandler(std::function<void(const std::string&)> handler);
    // How long each asynchronous job is held before it runs (Sim/AsyncDelayMs).
    uint32_t AsyncDelayMs() const { return asyncDelayMs_; }

private:
    enum class Kind {
        kVendorName,
        kChannel,
        kProfileIdent,
        kReset,
        kShutdownRequest,
        kAsyncDelay,
        kLatency,
        kOffline,
        kWithholdCompletions,
        kFaults,
        kRequests,
        kRequestBytes,
        kResponses,
        kResponseBytes,
        kMaxInProcess,
        kLineMaxInProcess,
    };
    struct Entry {
        Kind kind;
        size_t slave;
    };

    void Add(const std::string& id, ItemType type, bool readable, bool writable, Kind kind,
             size_t slave, const std::string& description);

    Clock clock_;
    std::vector<ItemInfo> infos_;          // constant after construction
    std::map<std::string, size_t> index_;  // item ID -> position in infos_/entries_
    std::vector<Entry> entries_;
    std::mutex mutex_;  // guards slaves_
    std::vector<std::unique_ptr<Slave>> slaves_;
    std::string shutdownReason_;                          // the last one sent; guarded by mutex_
    uint32_t lineMaxInProcess_ = 0;                       // guarded by mutex_
    std::function<void(const std::string&)> onShutdown_;  // set before clients come
    std::atomic<uint32_t> asyncDelayMs_{0};
};

// Injected faults as text: "<parameter>[@<axis>]=<error>" separated by ';'.
bool ParseFaults(const std::string& text, FaultMap* faults);
std::string FormatFaults(const FaultMap& faults);

}  // namespace bussim
