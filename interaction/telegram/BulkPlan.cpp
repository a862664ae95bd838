#include "BulkPlan.h"

#include "Telegram.h"

namespace orvane::interaction {

std::vector<size_t> PlanReadGroups(const std::vector<BYTE>& valueLengths, size_t maxRequests,
                                   size_t maxBlockLength) {
    size_t total = 0;
    for (BYTE length : valueLengths) total += length;
    if (valueLengths.size() <= maxRequests && total <= maxBlockLength) return {valueLengths.size()};
    std::vector<size_t> groups;
    size_t members = 0, length = 0;
    for (BYTE item : valueLengths) {
        if (members && (length + item >= maxBlockLength || members >= maxRequests)) {
            groups.push_back(members);
            members = 0;
            length = 0;
        }
        ++members;
        length += item;
    }
    if (members) groups.push_back(members);
    return groups;
}

size_t BulkValueSize(BYTE dataType) {
    // Time difference may or may not carry its day count, an error block is no value.
    if (dataType == kTimeDifference || dataType == kFormatError) return 0;
    return ValueSize(dataType, 0);
}

HRESULT PlanWriteGroups(const std::vector<BYTE>& dataTypes, size_t maxRequests,
                        size_t maxBlockLength, std::vector<size_t>* groups) {
    if (!groups) return E_POINTER;
    std::vector<size_t> blocks;
    size_t total = 0;
    for (BYTE dataType : dataTypes) {
        const size_t size = BulkValueSize(dataType);
        if (size == 0) return E_POINTER;
        blocks.push_back(2 + size);
        total += 2 + size;
    }
    const size_t count = dataTypes.size();
    if (total + kHeaderLength + kAddressLength * count <= maxBlockLength && count <= maxRequests) {
        *groups = {count};
        return S_OK;
    }
    std::vector<size_t> planned;
    size_t members = 0, length = 0;
    for (size_t block : blocks) {
        if (members && (length + block >= maxBlockLength || members >= maxRequests)) {
            planned.push_back(members);
            members = 0;
            length = 0;
        }
        ++members;
        length += block;
    }
    if (members) planned.push_back(members);
    *groups = std::move(planned);
    return S_OK;
}

}  // namespace orvane::interaction
