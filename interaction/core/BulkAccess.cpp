// Bulk read and write of drive parameter items: the items of one drive axis packed
// into the fewest multi-parameter requests its limits allow. A call whose items do
// not all share the first item's channel and axis is refused before anything is
// sent (the server then goes item by item), and a write checks and encodes every
// value before its first request.
#include <algorithm>

#include "BulkPlan.h"
#include "CommLog.h"
#include "InteractionCore.h"
#include "ModelNodes.h"
#include "Telegram.h"
#include "ValueCodec.h"
#include "com/Result.h"
#include "com/SafeArray.h"
#include "com/Strings.h"
#include "com/Time.h"
#include "com/Variant.h"

namespace orvane::interaction {
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

}  // namespace

HRESULT InteractionCore::BulkRecords(const std::vector<com::UniqueVariant>& addresses,
                                     std::vector<RecordCopy>* records) {
    records->clear();
    com::CsLock module(ModuleLock());
    for (const auto& address : addresses) {
        if (address.vt() != VT_BSTR) return E_UNEXPECTED;
        std::wstring name;
        ItemRecord* record = ClassifyAddress(AddressOf(*address), &name) == ItemKind::DriveParameter
                                 ? FindRecord(name)
                                 : nullptr;
        RETURN_HR_IF(E_POINTER, !record);
        RETURN_IF_FAILED(ResolveChannel(*record));
        records->push_back({record->data, AccessPathOf(record->channel.get())});
    }
    // One drive axis: the requests go to the first item's channel and axis.
    const RecordCopy& first = records->front();
    for (const RecordCopy& record : *records) {
        if (record.data.axis != first.data.axis || record.channel != first.channel)
            return E_ACCESSDENIED;
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
    RETURN_IF_FAILED(BulkRecords(addresses, &records));

    std::vector<ParameterAddress> parameters;
    std::vector<VARTYPE> types;
    std::vector<BYTE> lengths;
    for (size_t i = 0; i < records.size(); ++i) {
        const DriveParameterRecord& data = records[i].data;
        parameters.push_back({data.parameter, data.subindex, data.unindexed});
        types.push_back(data.vt);
        lengths.push_back(data.valueLength);
        if (CommLog::On())
            CommLog::Write(com::Format(L"   %d. %ls", static_cast<int>(i + 1),
                                       AddressOf(*addresses[i]).c_str()));
    }

    const DriveParameterRecord& first = records.front().data;
    const com::UniqueVariant channel(records.front().channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    std::vector<BYTE> blocks;
    com::UniqueVariant quality, timestamp;
    size_t next = 0;
    for (size_t group : PlanReadGroups(lengths, first.maxParameterRequests, first.maxBlockLength)) {
        const std::vector<ParameterAddress> part(parameters.begin() + next,
                                                 parameters.begin() + next + group);
        next += group;
        RETURN_IF_FAILED(requests.ReadMulti(*channel, NextReference(), first.axis, kAttributeValue,
                                            part, &blocks, quality.put(), timestamp.put()));
    }
    std::vector<com::UniqueVariant> values;
    if (FAILED(DecodeValues(types, blocks, lengths, &values)) || values.size() != records.size())
        return E_FAIL;
    if (CommLog::On()) {
        CommLog::Write(L"Read results:");
        for (size_t i = 0; i < values.size(); ++i)
            CommLog::Write(com::Format(L"   %d. ", static_cast<int>(i + 1)) +
                           ValueText(*values[i]) + L" (item \"" + AddressOf(*addresses[i]) +
                           L"\")");
    }

    // One quality and time stamp for all: those of the last transfer.
    VARIANT itemQuality;
    VariantInit(&itemQuality);
    V_VT(&itemQuality) = VT_I2;
    V_I2(&itemQuality) = quality.vt() == VT_I2 ? V_I2(quality.get()) : 0;
    VARIANT itemTime;
    VariantInit(&itemTime);
    V_VT(&itemTime) = VT_DATE;
    V_DATE(&itemTime) = timestamp.vt() == VT_DATE ? V_DATE(timestamp.get()) : com::NowUtcDate();
    com::UniqueSafeArray valueArray, qualityArray, timeArray, errorArray;
    RETURN_IF_FAILED(VariantVector(values.size(), &valueArray));
    RETURN_IF_FAILED(VariantVector(values.size(), &qualityArray));
    RETURN_IF_FAILED(VariantVector(values.size(), &timeArray));
    std::vector<HRESULT> errors;
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        errors.push_back(SafeArrayPutElement(valueArray.get(), &i, values[i].get()));
        RETURN_IF_FAILED(SafeArrayPutElement(qualityArray.get(), &i, &itemQuality));
        RETURN_IF_FAILED(SafeArrayPutElement(timeArray.get(), &i, &itemTime));
    }
    RETURN_IF_FAILED(ErrorVector(errors, &errorArray));
    *psaValues = valueArray.release();
    *psaQualities = qualityArray.release();
    *psaTimeStamps = timeArray.release();
    *psaErrors = errorArray.release();
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
    RETURN_IF_FAILED(BulkRecords(addresses, &records));

    // Everything checked and encoded before the first request: a failed call has
    // changed nothing, so the server's item-by-item fallback writes each value once.
    std::vector<ParameterAddress> parameters;
    std::vector<BYTE> dataTypes;
    std::vector<std::vector<BYTE>> blocks;
    for (size_t i = 0; i < records.size(); ++i) {
        const DriveParameterRecord& data = records[i].data;
        parameters.push_back({data.parameter, data.subindex, data.unindexed});
        dataTypes.push_back(data.dataType);
        std::vector<BYTE> bytes;
        RETURN_IF_FAILED(VariantToBytes(data.dataType, *values[i], &bytes));
        std::vector<BYTE> block{data.dataType, 1};
        block.insert(block.end(), bytes.begin(), bytes.end());
        blocks.push_back(std::move(block));
    }
    const DriveParameterRecord& first = records.front().data;
    std::vector<size_t> groups;
    RETURN_IF_FAILED(
        PlanWriteGroups(dataTypes, first.maxParameterRequests, first.maxBlockLength, &groups));
    std::vector<std::vector<BYTE>> groupBlocks;
    size_t next = 0;
    for (size_t group : groups) {
        std::vector<BYTE> joined;
        for (size_t i = next; i < next + group; ++i)
            joined.insert(joined.end(), blocks[i].begin(), blocks[i].end());
        RETURN_HR_IF(E_INVALIDARG, joined.size() >= kMaxTelegramLength);
        groupBlocks.push_back(std::move(joined));
        next += group;
    }

    const com::UniqueVariant channel(records.front().channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    std::vector<HRESULT> errors;
    next = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        const std::vector<ParameterAddress> part(parameters.begin() + next,
                                                 parameters.begin() + next + groups[g]);
        next += groups[g];
        std::vector<HRESULT> results;
        RETURN_IF_FAILED(requests.WriteMulti(*channel, NextReference(), first.axis, kAttributeValue,
                                             part, groupBlocks[g], &results));
        errors.insert(errors.end(), results.begin(), results.end());
    }
    RETURN_HR_IF(E_FAIL, errors.size() != records.size());
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
    return S_OK;
}

}  // namespace orvane::interaction
