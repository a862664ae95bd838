#include "DeviceRecords.h"

#include "Telegram.h"
#include "com/Strings.h"

namespace orvane::interaction {
namespace {

// Cache slot of each entry's first value when both groups were read.
constexpr size_t kFirstSlot[kIdentEntries] = {0, 1, 4, 5, 10};

bool IsWordFormat(BYTE format) { return format == kFormatWord || format == kUnsigned16; }
bool IsByteFormat(BYTE format) { return format == kFormatByte || format == kUnsigned8; }

}  // namespace

std::vector<IdentRequestEntry> IdentEntries(BYTE byParameters) {
    std::vector<IdentRequestEntry> entries;
    if (byParameters & kIdentGroupAxes) {
        entries.push_back({964, 5, 1, false});
        entries.push_back({974, 0, 3, false});
        entries.push_back({978, 0, 1, true});
    }
    if (byParameters & kIdentGroupDevice) {
        entries.push_back({964, 0, 5, false});
        entries.push_back({918, 0, 1, false});
    }
    return entries;
}

std::vector<BYTE> IdentRequest(BYTE reference, const std::vector<IdentRequestEntry>& entries) {
    std::vector<BYTE> request{reference, kRequestRead, 0, static_cast<BYTE>(entries.size())};
    for (const IdentRequestEntry& entry : entries) {
        request.push_back(kAttributeValue);
        request.push_back(entry.elements);
        AppendWord(request, entry.parameter);
        AppendWord(request, entry.subindex);
    }
    return request;
}

void StoreIdentAnswer(const std::vector<BYTE>& response, BYTE byParameters, DeviceRecord* record) {
    byParameters &= kIdentGroupAxes | kIdentGroupDevice;
    for (size_t i = 0; i < kIdentEntries; ++i) record->answered[i] = record->errors[i] = false;
    record->groups = byParameters;

    const std::vector<IdentRequestEntry> entries = IdentEntries(byParameters);
    size_t pos = kHeaderLength;
    size_t slot = 0;
    for (size_t i = 0; i < entries.size() && response.size() >= pos + 2; ++i) {
        const IdentRequestEntry& entry = entries[i];
        const BYTE format = response[pos];
        const size_t count = response[pos + 1];
        const size_t size = ValueSize(format, response.size() - pos - 2);
        if (size == 0) return;  // no way to find the next block
        const size_t length = size * count;
        if (response.size() - pos - 2 < length) return;
        const BYTE* data = response.data() + pos + 2;
        pos += 2 + length;
        // An odd number of byte values travels with a pad byte.
        if (length % 2 && pos < response.size() && response[pos] == 0) ++pos;

        const size_t at = i;  // the entry's index in this answer's cache layout
        if (format == kFormatError) {
            record->answered[at] = record->errors[at] = true;
        } else if (count == entry.elements &&
                   (entry.byteValue ? IsByteFormat(format) : IsWordFormat(format))) {
            record->answered[at] = true;
            for (size_t v = 0; v < count; ++v)
                record->cache[slot + v] =
                    entry.byteValue ? data[v]
                                    : static_cast<DWORD>(data[2 * v] << 8 | data[2 * v + 1]);
        }
        slot += entry.elements;
    }
}

bool CachedEntry(const DeviceRecord& record, IdentEntry entry, size_t* firstSlot, bool* error) {
    const bool axes = record.groups & kIdentGroupAxes;
    size_t index = entry;
    size_t slot = kFirstSlot[entry];
    if (entry < kEntryIdent) {
        if (!axes) return false;
    } else {
        if (!(record.groups & kIdentGroupDevice)) return false;
        // Read alone, group 2 starts at entry 0 and slot 0.
        if (!axes) {
            index -= kEntryIdent;
            slot -= kFirstSlot[kEntryIdent];
        }
    }
    if (!record.answered[index]) return false;
    *firstSlot = slot;
    *error = record.errors[index];
    return true;
}

HRESULT CheckIdentAnswer(HRESULT read, const std::vector<BYTE>& values, BYTE format, size_t count,
                         bool byteValue) {
    if (FAILED(read)) return read;
    if (values.empty()) return E_POINTER;
    if (values.size() != 2 * count) return E_FAIL;
    return (byteValue ? IsByteFormat(format) : IsWordFormat(format)) ? S_OK : E_UNEXPECTED;
}

std::wstring DeviceIdText(DWORD station, DWORD axis) {
    return com::Format(L"%u_%u", static_cast<unsigned>(station), static_cast<unsigned>(axis));
}

}  // namespace orvane::interaction
