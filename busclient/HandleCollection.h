#pragma once
// Ordered collection of owned records keyed by 16-bit handles.

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace vkopc {

using Handle16 = uint16_t;

// Handles come from a counter that starts at 0 and hands out counter+1, so
// the first handle is 1. The counter runs on past 0xFFFF by wrapping, skipping
// 0 and every handle still in use: a handle is unique while its record lives.
template <class Record>
class HandleCollection {
public:
    using Map = std::map<Handle16, std::shared_ptr<Record>>;

    // Issues count fresh handles in ascending counter order. Fails (false,
    // nothing issued) when fewer than count handles are free.
    bool IssueHandles(size_t count, std::vector<Handle16>* handles) {
        if (count > kMaxHandles - records_.size()) return false;
        handles->clear();
        handles->reserve(count);
        while (handles->size() < count) {
            ++counter_;
            if (counter_ == 0 || records_.count(counter_) != 0) continue;
            handles->push_back(counter_);
        }
        return true;
    }

    // One fresh handle, or 0 when every handle is in use.
    Handle16 IssueHandle() {
        std::vector<Handle16> one;
        return IssueHandles(1, &one) ? one[0] : 0;
    }

    // Takes ownership; the handle must come from IssueHandle(s) and not be in use.
    Record* Insert(Handle16 handle, std::shared_ptr<Record> record) {
        Record* raw = record.get();
        records_[handle] = std::move(record);
        return raw;
    }

    Record* Find(uint32_t handle) const { return Share(handle).get(); }

    // A reference that keeps the record alive across an outgoing COM call,
    // during which a re-entrant call may remove it from the collection.
    std::shared_ptr<Record> Share(uint32_t handle) const {
        if (handle == 0 || handle > 0xFFFF) return nullptr;
        auto it = records_.find(static_cast<Handle16>(handle));
        return it == records_.end() ? nullptr : it->second;
    }

    // Removes and hands back the record so that the caller decides when it dies.
    std::shared_ptr<Record> Take(uint32_t handle) {
        if (handle == 0 || handle > 0xFFFF) return nullptr;
        auto it = records_.find(static_cast<Handle16>(handle));
        if (it == records_.end()) return nullptr;
        std::shared_ptr<Record> record = std::move(it->second);
        records_.erase(it);
        return record;
    }

    bool Empty() const { return records_.empty(); }
    size_t Size() const { return records_.size(); }
    // Lowest handle in use, 0 when empty.
    Handle16 FirstHandle() const { return records_.empty() ? 0 : records_.begin()->first; }

    typename Map::const_iterator begin() const { return records_.begin(); }
    typename Map::const_iterator end() const { return records_.end(); }

private:
    static constexpr size_t kMaxHandles = 0xFFFF;
    Map records_;
    Handle16 counter_ = 0;
};

}  // namespace vkopc
