#include "BusServerRecords.h"

namespace ovconfig {

const BusServerRecord* BusServerRecords::Find(const std::wstring& progId) const {
    for (const BusServerRecord& record : records_)
        if (record.progId == progId) return &record;
    return nullptr;
}

void BusServerRecords::Store(const std::wstring& progId, const std::wstring& devSpecific,
                             const std::wstring& parSpecific) {
    for (BusServerRecord& record : records_) {
        if (record.progId != progId) continue;
        record.devSpecific = devSpecific;
        record.parSpecific = parSpecific;
        return;
    }
    records_.push_back({progId, devSpecific, parSpecific});
}

}  // namespace ovconfig
