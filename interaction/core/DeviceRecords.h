// What the interaction object knows about one discovered device, and the pure rules
// of its identification: which parameters the block read asks for, how its answer
// fills the cache, where a cached value is found and how single answers are checked.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "vkmodel.h"

namespace orvane::interaction {

// Bits of the group flags and of `byParameters`.
constexpr BYTE kIdentGroupAxes = 1;    // 964.5, 974 (3 words), 978.0
constexpr BYTE kIdentGroupDevice = 2;  // 964 (5 words), 918

// Entries of the cache when both groups were read.
enum IdentEntry : size_t {
    kEntryAxisCount = 0,  // 964.5
    kEntryLimits = 1,     // 974
    kEntryFirstAxis = 2,  // 978.0
    kEntryIdent = 3,      // 964.0-4
    kEntryStation = 4,    // 918
    kIdentEntries = 5,
};
constexpr size_t kIdentSlots = 11;

struct DeviceRecord {
    com::ComPtr<VKModelObject> node;
    std::wstring name;
    std::wstring channel;  // the channel's bus-server address, once bound
    bool setUp = false;
    bool noBusAccess = false;
    BYTE groups = 0;
    DWORD cache[kIdentSlots] = {};
    bool answered[kIdentEntries] = {};
    bool errors[kIdentEntries] = {};
};

// One parameter of the identification block read.
struct IdentRequestEntry {
    WORD parameter;
    WORD subindex;
    BYTE elements;
    bool byteValue;  // 978 answers one byte, the others words
};

// The entries for the groups in `byParameters` (other bits ignored), in cache order.
std::vector<IdentRequestEntry> IdentEntries(BYTE byParameters);

// The request of the block read: one request with every entry and its number of
// elements, axis 0, attribute value.
std::vector<BYTE> IdentRequest(BYTE reference, const std::vector<IdentRequestEntry>& entries);

// Walks the answer (whole response, header included) block by block, also when the
// response ID says that a parameter failed: an error block marks only its entry; a
// block of another format or number of values than asked leaves its entry
// unanswered; a block that would run past the end ends the walk. Clears the answered
// and error flags first and sets the group flags to `byParameters`.
void StoreIdentAnswer(const std::vector<BYTE>& response, BYTE byParameters, DeviceRecord* record);

// Where the cache holds an entry (numbered as with both groups read): false when its
// group was not read or the entry was not answered. `error` tells whether the drive
// refused it.
bool CachedEntry(const DeviceRecord& record, IdentEntry entry, size_t* firstSlot, bool* error);

// The check of a single identification read: S_OK when `read` succeeded and the
// answer holds exactly `count` values of two bytes with a word format (0x42, 6), or
// for a byte parameter a byte format (0x41, 5). Missing data E_POINTER, a wrong
// length E_FAIL, a wrong format E_UNEXPECTED; a failed read keeps its result.
HRESULT CheckIdentAnswer(HRESULT read, const std::vector<BYTE>& values, BYTE format, size_t count,
                         bool byteValue);

// Word `index` of checked answer bytes.
inline WORD AnswerWord(const std::vector<BYTE>& values, size_t index) {
    return static_cast<WORD>(values[2 * index] << 8 | values[2 * index + 1]);
}

// "DS_DeviceID": station address (or version) and axis number, "%u_%u".
std::wstring DeviceIdText(DWORD station, DWORD axis);

// The parameter-access limits of an axis (974 words 0, 1, 2).
struct AxisLimits {
    long maxBlockLength = 240;
    long maxParRequests = 40;
    long maxLatency = 0;
};

}  // namespace orvane::interaction
