// The per-bus-server texts the dialog edits, in the order they were first seen, keyed by
// the exact ProgID (case matters: it is compared as the interaction module compares it).
#pragma once

#include <string>
#include <vector>

namespace ovconfig {

struct BusServerRecord {
    std::wstring progId;
    std::wstring devSpecific;
    std::wstring parSpecific;
};

class BusServerRecords {
public:
    const BusServerRecord* Find(const std::wstring& progId) const;
    // Replaces the texts of progId's record, adding the record when there is none.
    void Store(const std::wstring& progId, const std::wstring& devSpecific,
               const std::wstring& parSpecific);
    const std::vector<BusServerRecord>& all() const { return records_; }

private:
    std::vector<BusServerRecord> records_;
};

}  // namespace ovconfig
