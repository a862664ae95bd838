// Bulk read and write of drive parameter items in multi-parameter requests, against
// the simulated drives.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "ItemSupport.h"
#include "com/SafeArray.h"
#include "opcerror.h"

namespace orvane::interaction::test {
namespace {

const std::wstring kBus = L"Orvane_BusSimulator/";

com::UniqueSafeArray Variants(const std::vector<com::UniqueVariant>& values) {
    com::UniqueSafeArray array(
        SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size())));
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i)
        SafeArrayPutElement(array.get(), &i, const_cast<VARIANT*>(values[i].get()));
    return array;
}

std::string Element(SAFEARRAY* array, LONG index) {
    com::UniqueVariant value;
    if (FAILED(SafeArrayGetElement(array, &index, value.get()))) return "<none>";
    return Describe(*value);
}

HRESULT ErrorAt(SAFEARRAY* array, LONG index) {
    LONG error = 0;
    return SUCCEEDED(SafeArrayGetElement(array, &index, &error)) ? error : E_UNEXPECTED;
}

class BulkAccessTest : public ItemFixture {
protected:
    // Items made and bound; their addresses.
    std::vector<com::UniqueVariant> Items(const std::vector<std::wstring>& ids) {
        std::vector<com::UniqueVariant> addresses;
        for (const auto& id : ids) {
            EXPECT_EQ(Hr{S_OK}, Hr{Init(MakeItem(kBus + id, true).get())}) << Narrow(id);
            addresses.push_back(Text(Drive(kBus + id)));
        }
        return addresses;
    }
    HRESULT ReadAll(const std::vector<com::UniqueVariant>& addresses) {
        const auto array = Variants(addresses);
        return core_->ReadMultiple(static_cast<long>(addresses.size()), array.get(), values_.put(),
                                   qualities_.put(), times_.put(), errors_.put());
    }
    HRESULT WriteAll(const std::vector<com::UniqueVariant>& addresses,
                     const std::vector<com::UniqueVariant>& values) {
        const auto names = Variants(addresses);
        const auto data = Variants(values);
        return core_->WriteMultiple(static_cast<long>(addresses.size()), names.get(), data.get(),
                                    errors_.put());
    }
    com::UniqueSafeArray values_, qualities_, times_, errors_;
};

TEST_F(BulkAccessTest, ReadInAddressOrder) {
    MakeCore();
    Check();
    const auto addresses = Items({L"DP_Slave3_/1/pari1000d18", L"DP_Slave3_/1/pari1001d2",
                                  L"DP_Slave3_/1/pari1005s2d3", L"DP_Slave3_/1/pari1006d8"});
    const LONG before = Requests(3);
    ASSERT_EQ(Hr{S_OK}, Hr{ReadAll(addresses)});
    EXPECT_EQ(1, Requests(3) - before) << "one multi-parameter request";
    EXPECT_EQ("VT_UI2 1500", Element(values_.get(), 0));
    EXPECT_EQ("VT_I2 0", Element(values_.get(), 1));
    EXPECT_EQ("VT_I4 30", Element(values_.get(), 2));
    EXPECT_EQ("VT_BSTR 'Pump 1", Element(values_.get(), 3).substr(0, 15));
    for (LONG i = 0; i < 4; ++i) {
        EXPECT_EQ("VT_I2 192", Element(qualities_.get(), i)) << i;
        EXPECT_EQ(Element(times_.get(), 0), Element(times_.get(), i)) << "one time stamp";
        EXPECT_EQ(Hr{S_OK}, Hr{ErrorAt(errors_.get(), i)}) << i;
    }

    // The drive refuses the request for 1012's sake: each item goes alone, and only 1012
    // loses its value.
    const auto failing = Items({L"DP_Slave5_/1/pari1000d18", L"DP_Slave5_/1/pari1012d18"});
    const LONG before5 = Requests(5);
    ASSERT_EQ(Hr{S_FALSE}, Hr{ReadAll(failing)});
    EXPECT_EQ(3, Requests(5) - before5) << "the multi-parameter request and two single ones";
    EXPECT_EQ("VT_UI2 300", Element(values_.get(), 0));
    EXPECT_EQ("VT_I2 192", Element(qualities_.get(), 0));
    EXPECT_EQ(Hr{S_OK}, Hr{ErrorAt(errors_.get(), 0)});
    EXPECT_EQ("VT_EMPTY ", Element(values_.get(), 1));
    EXPECT_EQ("VT_I2 0", Element(qualities_.get(), 1));
    EXPECT_EQ(Hr{DriveError(0x14)}, Hr{ErrorAt(errors_.get(), 1)}) << "as a single read gives";
}

struct DriveItem {
    const wchar_t* id;
    const char* value;  // after Sim/Reset; empty: the drive answers `error`
    HRESULT error;
};

// Items of three drives and four axes, interleaved: each value comes from its own drive
// and lands in the client's position.
const DriveItem kInterleaved[] = {
    {L"DP_Slave3_/1/pari1000d18", "VT_UI2 1500", S_OK},
    {L"DP_Slave4_/2/pari1000d18", "VT_UI2 800", S_OK},
    {L"DP_Slave5_/1/pari1000d18", "VT_UI2 300", S_OK},
    {L"DP_Slave4_/1/pari1000d18", "VT_UI2 1000", S_OK},
    {L"DP_Slave5_/1/pari1012d18", "", DriveError(0x14)},
    {L"DP_Slave5_/2/pari1000d18", "VT_UI2 200", S_OK},
    {L"DP_Slave3_/1/pari1001d2", "VT_I2 0", S_OK},
    {L"DP_Slave4_/1/pari1006d8", "VT_BSTR 'Conveyor", S_OK},
};

TEST_F(BulkAccessTest, DrivesAndAxesInOneCall) {
    MakeCore();
    Check();
    std::vector<std::wstring> ids;
    for (const DriveItem& item : kInterleaved) ids.push_back(item.id);
    const auto addresses = Items(ids);
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.Reset()});
    ASSERT_EQ(Hr{S_FALSE}, Hr{ReadAll(addresses)});
    for (LONG i = 0; i < static_cast<LONG>(std::size(kInterleaved)); ++i) {
        const DriveItem& item = kInterleaved[i];
        const std::string expected = *item.value ? item.value : "VT_EMPTY";
        EXPECT_EQ(expected, Element(values_.get(), i).substr(0, expected.size()))
            << Narrow(item.id);
        EXPECT_EQ(Hr{item.error}, Hr{ErrorAt(errors_.get(), i)}) << Narrow(item.id);
        EXPECT_EQ(SUCCEEDED(item.error) ? "VT_I2 192" : "VT_I2 0", Element(qualities_.get(), i))
            << Narrow(item.id);
    }
    EXPECT_EQ(1, Requests(3)) << "one axis";
    EXPECT_EQ(2, Requests(4)) << "two axes";
    EXPECT_EQ(4, Requests(5)) << "axis 1 refused and read alone (1 + 2), axis 2";

    // A write lands each value on its own drive; a refused value fails alone.
    std::vector<com::UniqueVariant> speeds, values;
    for (size_t i = 0; i < 4; ++i) speeds.push_back(Text(Drive(kBus + kInterleaved[i].id)));
    for (LONG value : {1111, 1222, 2000, 1444}) values.emplace_back(value);
    ASSERT_EQ(Hr{S_FALSE}, Hr{WriteAll(speeds, values)});
    EXPECT_EQ(Hr{DriveError(2)}, Hr{ErrorAt(errors_.get(), 2)}) << "beyond slave 5's maximum";
    const char* const expected[] = {"VT_UI2 1111", "VT_UI2 1222", "VT_UI2 300", "VT_UI2 1444"};
    for (size_t i = 0; i < 4; ++i) {
        std::string value;
        EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(kBus + kInterleaved[i].id), &value)});
        EXPECT_EQ(expected[i], value) << Narrow(kInterleaved[i].id);
    }
}

// Parts to two slow drives are in process at once; one drive's axes, and the serial
// road, never.
TEST_F(BulkAccessTest, DrivesSideBySide) {
    struct Case {
        DWORD serialBusAccess;
        LONG latencyMs;
        LONG maxInProcess;
    };
    for (const Case& c : {Case{0, 2000, 2}, Case{1, 300, 1}}) {
        SCOPED_TRACE(c.serialBusAccess ? "SerialBusAccess 1" : "SerialBusAccess 0");
        // The latencies of the case before go; slave 6 stays on the bus for the check.
        ASSERT_EQ(Hr{S_OK}, Hr{sim_.Reset()});
        ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimFlag(L"Sim/Slave6/Offline", false)});
        SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"SerialBusAccess", c.serialBusAccess);
        SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"MaxPollCountRead", 1000000);
        MakeCore();
        Check();
        const auto addresses = Items({L"DP_Slave7_/1/pari1000d18", L"DP_Slave4_/1/pari1000d18",
                                      L"DP_Slave7_/2/pari1000d18"});
        ASSERT_EQ(Hr{S_OK}, Hr{sim_.Reset()});
        ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimNumber(L"Sim/Slave7/LatencyMs", c.latencyMs)});
        ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimNumber(L"Sim/Slave4/LatencyMs", c.latencyMs)});
        ASSERT_EQ(Hr{S_OK}, Hr{ReadAll(addresses)});
        EXPECT_EQ("VT_UI2 700", Element(values_.get(), 0));
        EXPECT_EQ("VT_UI2 1000", Element(values_.get(), 1));
        EXPECT_EQ("VT_UI2 900", Element(values_.get(), 2));
        EXPECT_EQ(c.maxInProcess, sim_.SimNumber(L"Sim/MaxInProcess"));
        EXPECT_EQ(1, sim_.SimNumber(L"Sim/Slave7/MaxInProcess"));
    }
}

TEST_F(BulkAccessTest, WriteErrorsPerItem) {
    MakeCore();
    Check();
    const auto addresses = Items(
        {L"DP_Slave3_/1/pari1000d18", L"DP_Slave3_/1/pari1007d19", L"DP_Slave3_/1/pari1001d2"});
    std::vector<com::UniqueVariant> values;
    values.emplace_back(LONG{1200});
    values.emplace_back(LONG{5});
    values.emplace_back(LONG{-7});
    ASSERT_EQ(Hr{S_FALSE}, Hr{WriteAll(addresses, values)});
    EXPECT_EQ(Hr{S_OK}, Hr{ErrorAt(errors_.get(), 0)});
    EXPECT_EQ(Hr{DriveError(1)}, Hr{ErrorAt(errors_.get(), 1)}) << "read-only";
    EXPECT_EQ(Hr{S_OK}, Hr{ErrorAt(errors_.get(), 2)});
    ASSERT_EQ(Hr{S_OK}, Hr{ReadAll(addresses)});
    EXPECT_EQ("VT_UI2 1200", Element(values_.get(), 0));
    EXPECT_EQ("VT_I2 -7", Element(values_.get(), 2));

    // A value that does not fit fails the call before anything is sent.
    values[2] = com::UniqueVariant(LONG{70000});
    values[0] = com::UniqueVariant(LONG{900});
    const LONG before = Requests(3);
    EXPECT_EQ(Hr{OPC_E_RANGE}, Hr{WriteAll(addresses, values)});
    EXPECT_EQ(before, Requests(3));
}

TEST_F(BulkAccessTest, BadInput) {
    MakeCore();
    Check();
    const auto addresses = Items({L"DP_Slave3_/1/pari1000d18"});
    const auto array = Variants(addresses);
    com::UniqueSafeArray a, b, c, d;
    EXPECT_EQ(Hr{E_INVALIDARG},
              Hr{core_->ReadMultiple(1, nullptr, a.put(), b.put(), c.put(), d.put())});
    EXPECT_EQ(Hr{E_INVALIDARG},
              Hr{core_->ReadMultiple(1, array.get(), nullptr, b.put(), c.put(), d.put())});
    EXPECT_EQ(Hr{E_INVALIDARG},
              Hr{core_->ReadMultiple(0, array.get(), a.put(), b.put(), c.put(), d.put())});
    EXPECT_EQ(Hr{E_INVALIDARG},
              Hr{core_->ReadMultiple(2, array.get(), a.put(), b.put(), c.put(), d.put())});
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core_->WriteMultiple(1, array.get(), nullptr, d.put())});

    std::vector<com::UniqueVariant> wrong;
    wrong.emplace_back(LONG{1});
    EXPECT_EQ(Hr{E_UNEXPECTED}, Hr{ReadAll(wrong)});
    wrong[0] = Text(L"Axolent://nothing");
    EXPECT_EQ(Hr{E_POINTER}, Hr{ReadAll(wrong)});
    // A drive item beside one that is none: refused as a whole, nothing sent.
    std::vector<com::UniqueVariant> mixed = Items({L"DP_Slave3_/1/pari1000d18"});
    mixed.push_back(Text(L"Axolent://nothing"));
    const LONG before = Requests(3);
    EXPECT_EQ(Hr{E_POINTER}, Hr{ReadAll(mixed)});
    EXPECT_EQ(before, Requests(3));
    EXPECT_FALSE(a.get() || b.get() || c.get() || d.get() || values_.get() || errors_.get());
}

}  // namespace
}  // namespace orvane::interaction::test
