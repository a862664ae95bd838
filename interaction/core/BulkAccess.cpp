// Bulk read and write of drive parameter items. A call is split by drive channel and
// axis; each axis's items go in the fewest multi-parameter requests its limits allow,
// and the drives are served side by side (one after the other on the serial road),
// results in the client's order. A multi-parameter request that fails as a whole, or
// whose answer cannot be walked, costs nobody else their value: its items go alone.
// A call with an item that is no drive parameter is refused before anything is sent
// (the server then goes item by item), and a write checks and encodes every value
// before its first request.
#include <algorithm>

#include "BulkPlan.h"
#include "CommLog.h"
#include "InteractionCore.h"
#include "ModelNodes.h"
#include "SideBySide.h"
#include "Telegram.h"
#include "ValueCodec.h"
#include "com/Result.h"
#include "com/SafeArray.h"
#include "com/Strings.h"
#include "com/Time.h"
#include "com/Variant.h"

namespace orvane::interaction {

// The items of one axis, as positions in the call, and their multi-parameter requests.
struct BulkPart {
    BYTE axis = 0;
    std::vector<size_t> items;
    std::vector<std::vector<size_t>> groups;  // one ReadMulti or WriteMulti each
};

// The parts of one drive channel: one thread works them, one after the other (they
// would take the channel's turn in any case).
struct BulkLane {
    std::wstring channel;
    std::vector<BulkPart> parts;
};

// What a bulk read found for one item.
struct ItemRead {
    HRESULT error = E_FAIL;
    com::UniqueVariant value;
    SHORT quality = 0;   // bad unless read
    DATE timestamp = 0;  // 0: none, now is taken

    void Took(const VARIANT& itemQuality, const VARIANT& itemTime) {
        quality = SUCCEEDED(error) && V_VT(&itemQuality) == VT_I2 ? V_I2(&itemQuality) : 0;
        timestamp = V_VT(&itemTime) == VT_DATE ? V_DATE(&itemTime) : 0;
    }
};

namespace {

void Trace(const std::wstring& text) {
    if (CommLog::On()) CommLog::Write(text);
}

// The `count` elements of a 1-D VARIANT array.
HRESULT CopyVariants(SAFEARRAY* array, long count, std::vector<com::UniqueVariant>* out) {
    VARTYPE type = VT_EMPTY;
    RETURN_HR_IF(E_INVALIDARG, !array || SafeArrayGetDim(array) != 1 ||
                                   FAILED(SafeArrayGetVartype(array, &type)) || type != VT_VARIANT);
    LONG lower = 0, upper = -1;
    RETURN_IF_FAILED(SafeArrayGetLBound(array, 1, &lower));
    RETURN_IF_FAILED(SafeArrayGetUBound(array, 1, &upper));
    RETURN_HR_IF(E_INVALIDARG, static_cast<LONGLONG>(upper) - lower + 1 != count);
    out->clear();
    for (LONG i = lower; i <= upper; ++i) {
        com::UniqueVariant element;
        RETURN_IF_FAILED(SafeArrayGetElement(array, &i, element.get()));
        out->push_back(std::move(element));
    }
    return S_OK;
}

HRESULT VariantVector(size_t count, com::UniqueSafeArray* array) {
    array->reset(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
    return array->get() ? S_OK : E_OUTOFMEMORY;
}

HRESULT ErrorVector(const std::vector<HRESULT>& errors, com::UniqueSafeArray* array) {
    array->reset(SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(errors.size())));
    RETURN_HR_IF(E_OUTOFMEMORY, !array->get());
    for (LONG i = 0; i < static_cast<LONG>(errors.size()); ++i) {
        LONG error = errors[i];
        RETURN_IF_FAILED(SafeArrayPutElement(array->get(), &i, &error));
    }
    return S_OK;
}

std::wstring AddressOf(const VARIANT& address) {
    return V_VT(&address) == VT_BSTR && V_BSTR(&address)
               ? std::wstring(V_BSTR(&address), SysStringLen(V_BSTR(&address)))
               : std::wstring();
}

// The bound items by drive channel and, within a channel, by axis; lanes, parts and
// items in the order the call names them.
std::vector<BulkLane> SplitByDrive(const std::vector<RecordCopy>& records,
                                   const std::vector<HRESULT>& bound) {
    std::vector<BulkLane> lanes;
    for (size_t i = 0; i < records.size(); ++i) {
        if (FAILED(bound[i])) continue;
        const RecordCopy& record = records[i];
        auto lane = std::find_if(lanes.begin(), lanes.end(), [&](const BulkLane& candidate) {
            return candidate.channel == record.channel;
        });
        if (lane == lanes.end()) lane = lanes.insert(lanes.end(), BulkLane{record.channel, {}});
        auto part = std::find_if(lane->parts.begin(), lane->parts.end(),
                                 [&](const BulkPart& p) { return p.axis == record.data.axis; });
        if (part == lane->parts.end())
            part = lane->parts.insert(lane->parts.end(), BulkPart{record.data.axis, {}, {}});
        part->items.push_back(i);
    }
    return lanes;
}

// A part's items cut into groups of the planned sizes.
std::vector<std::vector<size_t>> Slice(const std::vector<size_t>& items,
                                       const std::vector<size_t>& sizes) {
    std::vector<std::vector<size_t>> groups;
    auto next = items.begin();
    for (size_t size : sizes) {
        groups.emplace_back(next, next + size);
        next += size;
    }
    return groups;
}

ParameterAddress ParameterOf(const DriveParameterRecord& data) {
    return {data.parameter, data.subindex, data.unindexed};
}

// The items of a lane that failed as a whole (no thread, an exception) get its result.
template <class Apply>
void FailLanes(const std::vector<BulkLane>& lanes, const std::vector<HRESULT>& results,
               Apply apply) {
    for (size_t l = 0; l < lanes.size(); ++l) {
        if (SUCCEEDED(results[l])) continue;
        for (const BulkPart& part : lanes[l].parts) {
            for (size_t i : part.items) apply(i, results[l]);
        }
    }
}

}  // namespace

HRESULT InteractionCore::BulkRecords(const std::vector<com::UniqueVariant>& addresses,
                                     std::vector<RecordCopy>* records,
                                     std::vector<HRESULT>* bound) {
    records->clear();
    bound->clear();
    com::CsLock module(ModuleLock());
    for (const auto& address : addresses) {
        if (address.vt() != VT_BSTR) return E_UNEXPECTED;
        std::wstring name;
        ItemRecord* record = ClassifyAddress(AddressOf(*address), &name) == ItemKind::DriveParameter
                                 ? FindRecord(name)
                                 : nullptr;
        RETURN_HR_IF(E_POINTER, !record);
        // An item of a drive whose axis is still unknown fails as a single access would;
        // the others go on.
        bound->push_back(ResolveChannel(*record));
        records->push_back(
            {record->data, record->channel ? AccessPathOf(record->channel.get()) : std::wstring()});
    }
    return S_OK;
}

HRESULT InteractionCore::ReadLane(const BulkLane& lane, const std::vector<RecordCopy>& records,
                                  std::vector<ItemRead>* reads) {
    const com::UniqueVariant channel(lane.channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    for (const BulkPart& part : lane.parts) {
        for (const std::vector<size_t>& group : part.groups) {
            std::vector<ParameterAddress> parameters;
            std::vector<VARTYPE> types;
            std::vector<BYTE> lengths;
            for (size_t i : group) {
                parameters.push_back(ParameterOf(records[i].data));
                types.push_back(records[i].data.vt);
                lengths.push_back(records[i].data.valueLength);
            }
            std::vector<BYTE> blocks;
            com::UniqueVariant quality, timestamp;
            std::vector<com::UniqueVariant> values;
            std::vector<HRESULT> errors;
            HRESULT hr = requests.ReadMulti(*channel, NextReference(), part.axis, kAttributeValue,
                                            parameters, &blocks, quality.put(), timestamp.put());
            // A 0x44 block inside a positive answer is its parameter's error; a negative
            // answer or one that cannot be walked says nothing sure of the others.
            if (SUCCEEDED(hr)) hr = DecodeItemValues(types, blocks, lengths, &values, &errors);
            if (FAILED(hr)) {
                Trace(com::Format(L"  multi-parameter read failed (0x%08X): %d items alone",
                                  static_cast<unsigned>(hr), static_cast<int>(group.size())));
                for (size_t i : group) {
                    ItemRead& read = (*reads)[i];
                    com::UniqueVariant itemQuality, itemTime;
                    read.error =
                        ReadRecord(records[i], read.value.put(), itemQuality.put(), itemTime.put());
                    read.Took(*itemQuality, *itemTime);
                }
                continue;
            }
            for (size_t k = 0; k < group.size(); ++k) {
                ItemRead& read = (*reads)[group[k]];
                read.error = errors[k];
                read.value = std::move(values[k]);
                read.Took(*quality, *timestamp);
            }
        }
    }
    return S_OK;
}

HRESULT InteractionCore::ReadMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY** psaValues,
                                      SAFEARRAY** psaQualities, SAFEARRAY** psaTimeStamps,
                                      SAFEARRAY** psaErrors) {
    RETURN_HR_IF(E_INVALIDARG,
                 !saAddresses || !psaValues || !psaQualities || !psaTimeStamps || !psaErrors);
    *psaValues = *psaQualities = *psaTimeStamps = *psaErrors = nullptr;
    Trace(L"BulkRead items:");
    RETURN_HR_IF(E_INVALIDARG, lCount <= 0);
    std::vector<com::UniqueVariant> addresses;
    RETURN_IF_FAILED(CopyVariants(saAddresses, lCount, &addresses));
    std::vector<RecordCopy> records;
    std::vector<HRESULT> bound;
    RETURN_IF_FAILED(BulkRecords(addresses, &records, &bound));
    if (CommLog::On()) {
        for (size_t i = 0; i < addresses.size(); ++i)
            CommLog::Write(com::Format(L"   %d. %ls", static_cast<int>(i + 1),
                                       AddressOf(*addresses[i]).c_str()));
    }

    std::vector<BulkLane> lanes = SplitByDrive(records, bound);
    for (BulkLane& lane : lanes) {
        for (BulkPart& part : lane.parts) {
            // The limits of the part's axis, as identification found them.
            const DriveParameterRecord& first = records[part.items.front()].data;
            std::vector<BYTE> lengths;
            for (size_t i : part.items) lengths.push_back(records[i].data.valueLength);
            part.groups = Slice(part.items, PlanReadGroups(lengths, first.maxParameterRequests,
                                                           first.maxBlockLength));
        }
    }
    std::vector<ItemRead> reads(records.size());
    for (size_t i = 0; i < records.size(); ++i) reads[i].error = bound[i];
    const std::vector<HRESULT> laneResults =
        RunSideBySide(lanes.size(), settings_.serialBusAccess != 0,
                      [&](size_t l) { return ReadLane(lanes[l], records, &reads); });
    FailLanes(lanes, laneResults, [&](size_t i, HRESULT hr) {
        reads[i].error = hr;
        reads[i].value.reset();
        reads[i].quality = 0;
    });

    if (CommLog::On()) {
        CommLog::Write(L"Read results:");
        for (size_t i = 0; i < reads.size(); ++i) {
            const std::wstring result =
                SUCCEEDED(reads[i].error)
                    ? ValueText(*reads[i].value)
                    : com::Format(L"error 0x%08X", static_cast<unsigned>(reads[i].error));
            CommLog::Write(com::Format(L"   %d. ", static_cast<int>(i + 1)) + result +
                           L" (item \"" + AddressOf(*addresses[i]) + L"\")");
        }
    }

    com::UniqueSafeArray valueArray, qualityArray, timeArray, errorArray;
    RETURN_IF_FAILED(VariantVector(reads.size(), &valueArray));
    RETURN_IF_FAILED(VariantVector(reads.size(), &qualityArray));
    RETURN_IF_FAILED(VariantVector(reads.size(), &timeArray));
    std::vector<HRESULT> errors;
    const DATE now = com::NowUtcDate();
    bool allGood = true;
    for (LONG i = 0; i < static_cast<LONG>(reads.size()); ++i) {
        ItemRead& read = reads[i];
        if (SUCCEEDED(read.error))
            read.error = SafeArrayPutElement(valueArray.get(), &i, read.value.get());
        if (FAILED(read.error)) read.quality = 0;
        allGood = allGood && SUCCEEDED(read.error);
        errors.push_back(read.error);
        VARIANT itemQuality;
        VariantInit(&itemQuality);
        V_VT(&itemQuality) = VT_I2;
        V_I2(&itemQuality) = read.quality;
        VARIANT itemTime;
        VariantInit(&itemTime);
        V_VT(&itemTime) = VT_DATE;
        V_DATE(&itemTime) = read.timestamp != 0 ? read.timestamp : now;
        RETURN_IF_FAILED(SafeArrayPutElement(qualityArray.get(), &i, &itemQuality));
        RETURN_IF_FAILED(SafeArrayPutElement(timeArray.get(), &i, &itemTime));
    }
    RETURN_IF_FAILED(ErrorVector(errors, &errorArray));
    *psaValues = valueArray.release();
    *psaQualities = qualityArray.release();
    *psaTimeStamps = timeArray.release();
    *psaErrors = errorArray.release();
    return allGood ? S_OK : S_FALSE;
}

HRESULT InteractionCore::WriteLane(const BulkLane& lane, const std::vector<RecordCopy>& records,
                                   const std::vector<std::vector<BYTE>>& bytes,
                                   std::vector<HRESULT>* errors) {
    const com::UniqueVariant channel(lane.channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    for (const BulkPart& part : lane.parts) {
        for (const std::vector<size_t>& group : part.groups) {
            std::vector<ParameterAddress> parameters;
            std::vector<BYTE> blocks;
            for (size_t i : group) {
                parameters.push_back(ParameterOf(records[i].data));
                blocks.push_back(records[i].data.dataType);
                blocks.push_back(1);
                blocks.insert(blocks.end(), bytes[i].begin(), bytes[i].end());
            }
            std::vector<HRESULT> results;
            HRESULT hr = requests.WriteMulti(*channel, NextReference(), part.axis, kAttributeValue,
                                             parameters, blocks, &results);
            if (SUCCEEDED(hr) && results.size() != group.size()) hr = E_FAIL;
            if (FAILED(hr)) {
                // Writing a value again does no harm where the failed request did land.
                Trace(com::Format(L"  multi-parameter change failed (0x%08X): %d items alone",
                                  static_cast<unsigned>(hr), static_cast<int>(group.size())));
                for (size_t i : group) (*errors)[i] = WriteRecord(records[i], bytes[i]);
                continue;
            }
            for (size_t k = 0; k < group.size(); ++k) (*errors)[group[k]] = results[k];
        }
    }
    return S_OK;
}

HRESULT InteractionCore::WriteMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY* saValues,
                                       SAFEARRAY** psaErrors) {
    RETURN_HR_IF(E_INVALIDARG, !saAddresses || !saValues || !psaErrors);
    *psaErrors = nullptr;
    RETURN_HR_IF(E_INVALIDARG, lCount <= 0);
    std::vector<com::UniqueVariant> addresses, values;
    RETURN_IF_FAILED(CopyVariants(saAddresses, lCount, &addresses));
    RETURN_IF_FAILED(CopyVariants(saValues, lCount, &values));
    if (CommLog::On()) {
        CommLog::Write(L"BulkWrite items:");
        for (size_t i = 0; i < addresses.size(); ++i)
            CommLog::Write(com::Format(L"   %d. %ls, value=", static_cast<int>(i + 1),
                                       AddressOf(*addresses[i]).c_str()) +
                           ValueText(*values[i]));
    }
    std::vector<RecordCopy> records;
    std::vector<HRESULT> bound;
    RETURN_IF_FAILED(BulkRecords(addresses, &records, &bound));

    // Everything checked, encoded and planned before the first request: a refused call
    // has changed nothing, so the server's item-by-item fallback writes each value once.
    std::vector<std::vector<BYTE>> bytes(records.size());
    for (size_t i = 0; i < records.size(); ++i)
        RETURN_IF_FAILED(VariantToBytes(records[i].data.dataType, *values[i], &bytes[i]));
    std::vector<BulkLane> lanes = SplitByDrive(records, bound);
    for (BulkLane& lane : lanes) {
        for (BulkPart& part : lane.parts) {
            const DriveParameterRecord& first = records[part.items.front()].data;
            std::vector<BYTE> dataTypes;
            for (size_t i : part.items) dataTypes.push_back(records[i].data.dataType);
            std::vector<size_t> sizes;
            RETURN_IF_FAILED(PlanWriteGroups(dataTypes, first.maxParameterRequests,
                                             first.maxBlockLength, &sizes));
            part.groups = Slice(part.items, sizes);
            for (const std::vector<size_t>& group : part.groups) {
                size_t length = 0;
                for (size_t i : group) length += 2 + bytes[i].size();
                RETURN_HR_IF(E_INVALIDARG, length >= kMaxTelegramLength);
            }
        }
    }

    std::vector<HRESULT> errors(bound);
    const std::vector<HRESULT> laneResults =
        RunSideBySide(lanes.size(), settings_.serialBusAccess != 0,
                      [&](size_t l) { return WriteLane(lanes[l], records, bytes, &errors); });
    FailLanes(lanes, laneResults, [&](size_t i, HRESULT hr) { errors[i] = hr; });
    if (CommLog::On()) {
        CommLog::Write(L"Write results:");
        for (size_t i = 0; i < errors.size(); ++i)
            CommLog::Write(com::Format(L"   %d. 0x%08X (item \"%ls\")", static_cast<int>(i + 1),
                                       static_cast<unsigned>(errors[i]),
                                       AddressOf(*addresses[i]).c_str()));
    }
    com::UniqueSafeArray errorArray;
    RETURN_IF_FAILED(ErrorVector(errors, &errorArray));
    *psaErrors = errorArray.release();
    return std::all_of(errors.begin(), errors.end(), [](HRESULT hr) { return SUCCEEDED(hr); })
               ? S_OK
               : S_FALSE;
}

}  // namespace orvane::interaction
