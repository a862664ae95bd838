// How the items of one bulk read or write are split into multi-parameter requests
// within a drive's limits. Each group goes out as one ReadMulti or WriteMulti,
// which split further at 39 parameters and 240 bytes.
#pragma once

#include <windows.h>

#include <vector>

namespace orvane::interaction {

// The sizes of the read groups, in item order, for items of these value lengths.
std::vector<size_t> PlanReadGroups(const std::vector<BYTE>& valueLengths, size_t maxRequests,
                                   size_t maxBlockLength);

// The bytes one value of `dataType` takes in a change, for estimating its length;
// 0 for a type that cannot be written in bulk.
size_t BulkValueSize(BYTE dataType);

// The sizes of the write groups for items of these data types; E_POINTER for a
// data type that cannot be written in bulk.
HRESULT PlanWriteGroups(const std::vector<BYTE>& dataTypes, size_t maxRequests,
                        size_t maxBlockLength, std::vector<size_t>* groups);

}  // namespace orvane::interaction
