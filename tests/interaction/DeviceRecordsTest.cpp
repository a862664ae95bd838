// The identification block read and its cache, the answer checks, the device ID
// text and the wait of the namespace check: no bus, no COM objects.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "DeviceRecords.h"
#include "NameSpaceCheck.h"
#include "TestSupport.h"
#include "com/Sync.h"

namespace orvane::interaction::test {
namespace {

using Bytes = std::vector<BYTE>;

TEST(IdentBlockRead, RequestCarriesTheElementCounts) {
    EXPECT_EQ(
        "07 01 00 05 10 01 03 c4 00 05 10 03 03 ce 00 00 10 01 03 d2 00 00 "
        "10 05 03 c4 00 00 10 01 03 96 00 00",
        Hex(IdentRequest(7, IdentEntries(3))));
    EXPECT_EQ("01 01 00 02 10 05 03 c4 00 00 10 01 03 96 00 00",
              Hex(IdentRequest(1, IdentEntries(kIdentGroupDevice | 0xF0))))
        << "group 2 alone; other bits ignored";
    EXPECT_TRUE(IdentEntries(0).empty());
}

// A whole answer of a drive with both groups: 964.5 = 2, 974 = 240 39 20, 978 = 1
// (with its pad byte), 964 = 42 0x0401 0x0200 2022 0x0915, 918 = 7.
const Bytes kBoth{1, 1, 0, 5, 6, 1,  0, 2, 6, 3, 0,    240,  0, 39,   0, 20, 5, 1,
                  1, 0, 6, 5, 0, 42, 4, 1, 2, 0, 0x07, 0xE6, 9, 0x15, 6, 1,  0, 7};

TEST(IdentBlockRead, AnswerFillsTheCache) {
    DeviceRecord record;
    StoreIdentAnswer(kBoth, 3, &record);
    EXPECT_EQ(3, record.groups);
    const DWORD expected[kIdentSlots] = {2, 240, 39, 20, 1, 42, 0x0401, 0x0200, 2022, 0x0915, 7};
    for (size_t slot = 0; slot < kIdentSlots; ++slot)
        EXPECT_EQ(expected[slot], record.cache[slot]) << "slot " << slot;
    for (size_t entry = 0; entry < kIdentEntries; ++entry) {
        EXPECT_TRUE(record.answered[entry]) << "entry " << entry;
        EXPECT_FALSE(record.errors[entry]) << "entry " << entry;
    }
}

TEST(IdentBlockRead, AnswerCases) {
    struct Case {
        const char* what;
        BYTE groups;
        Bytes answer;
        bool answered[kIdentEntries];
        bool errors[kIdentEntries];
    } cases[] = {
        {"negative response: only the error entries marked",
         3,
         {1, 0x81, 0, 5,  6, 1, 0, 2, 0x44, 1,    0, 0, 0x44, 1, 0, 0,
          6, 5,    0, 42, 2, 1, 1, 0, 0x07, 0xD9, 1, 4, 0x44, 1, 0, 0},
         {true, true, true, true, true},
         {false, true, true, false, true}},
        {"978 without its pad byte",
         1,
         {1, 1, 0, 3, 6, 1, 0, 2, 6, 3, 0, 240, 0, 39, 0, 20, 5, 1, 1},
         {true, true, true},
         {}},
        {"answer cut short: the walk ends there",
         3,
         {1, 1, 0, 5, 6, 1, 0, 2, 6, 3, 0, 240, 0},
         {true, false, false, false, false},
         {}},
        {"wrong number of values or format: entry unanswered, walk goes on",
         1,
         {1, 1, 0, 3, 6, 2, 0, 2, 0, 3, 7, 3, 0, 0, 0, 240, 0, 0, 0, 39, 0, 0, 0, 20, 5, 1, 1, 0},
         {false, false, true},
         {}},
        {"a format without a size ends the walk", 3, {1, 1, 0, 5, 0x40, 0, 6, 1, 0, 2}, {}, {}},
        {"no answer at all", 3, {}, {}, {}},
    };
    for (const Case& c : cases) {
        DeviceRecord record;
        record.answered[4] = record.errors[4] = true;  // from an earlier read
        StoreIdentAnswer(c.answer, c.groups, &record);
        EXPECT_EQ(c.groups, record.groups) << c.what;
        for (size_t entry = 0; entry < kIdentEntries; ++entry) {
            EXPECT_EQ(c.answered[entry], record.answered[entry]) << c.what << ", entry " << entry;
            EXPECT_EQ(c.errors[entry], record.errors[entry]) << c.what << ", entry " << entry;
        }
    }
}

TEST(IdentBlockRead, GroupTwoAloneStartsAtEntryZero) {
    DeviceRecord record;
    StoreIdentAnswer({1, 1, 0, 2, 6, 5, 0, 42, 1, 1, 2, 3, 0x07, 0xE9, 7, 3, 6, 1, 0, 3}, 2,
                     &record);
    size_t slot = 99;
    bool error = true;
    ASSERT_TRUE(CachedEntry(record, kEntryIdent, &slot, &error));
    EXPECT_EQ(0u, slot);
    EXPECT_FALSE(error);
    ASSERT_TRUE(CachedEntry(record, kEntryStation, &slot, &error));
    EXPECT_EQ(5u, slot);
    EXPECT_EQ(3u, record.cache[slot]);
    EXPECT_FALSE(CachedEntry(record, kEntryAxisCount, &slot, &error)) << "group 1 not read";

    StoreIdentAnswer(kBoth, 3, &record);
    ASSERT_TRUE(CachedEntry(record, kEntryStation, &slot, &error));
    EXPECT_EQ(10u, slot) << "after group 1";
    ASSERT_TRUE(CachedEntry(record, kEntryFirstAxis, &slot, &error));
    EXPECT_EQ(1u, record.cache[slot]) << "978's byte itself";
}

TEST(IdentAnswerCheck, LengthFormatAndData) {
    struct Case {
        HRESULT read;
        Bytes values;
        BYTE format;
        size_t count;
        bool byteValue;
        HRESULT expected;
    } cases[] = {
        {S_OK, Bytes(10), 0x42, 5, false, S_OK},
        {S_OK, Bytes(10), 6, 5, false, S_OK},
        {S_OK, Bytes(8), 6, 5, false, E_FAIL},
        {S_OK, Bytes(12), 6, 5, false, E_FAIL},
        {S_OK, Bytes(10), 7, 5, false, E_UNEXPECTED},
        {S_OK, Bytes(2), 5, 1, true, S_OK},
        {S_OK, Bytes(2), 0x41, 1, true, S_OK},
        {S_OK, Bytes(2), 6, 1, true, E_UNEXPECTED},
        {S_OK, Bytes(2), 5, 1, false, E_UNEXPECTED},
        {S_OK, {}, 6, 1, false, E_POINTER},
        {static_cast<HRESULT>(0xE0000000), Bytes(2), 6, 1, false, static_cast<HRESULT>(0xE0000000)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hr{c.expected},
                  Hr{CheckIdentAnswer(c.read, c.values, c.format, c.count, c.byteValue)})
            << c.values.size() << " bytes, format " << int(c.format);
}

TEST(IdentDeviceId, StationAndAxis) {
    EXPECT_EQ(L"3_1", DeviceIdText(3, 1));
    EXPECT_EQ(L"256_2", DeviceIdText(0x0100, 2));
    EXPECT_EQ(L"65535_255", DeviceIdText(65535, 255));
}

TEST(NameSpaceCheckWait, TimeLimitSaturates) {
    EXPECT_EQ(90000u, NameSpaceCheckTimeout(30000, 3));
    EXPECT_EQ(0u, NameSpaceCheckTimeout(30000, 0));
    EXPECT_EQ(INFINITE - 1, NameSpaceCheckTimeout(0x80000000u, 2)) << "no wrap";
    EXPECT_EQ(INFINITE - 1, NameSpaceCheckTimeout(INFINITE, 1)) << "never endless";
}

}  // namespace
}  // namespace orvane::interaction::test
