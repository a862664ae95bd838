// Bulk read and write of drive parameter items in multi-parameter requests, against
// the simulated drives.
#include <windows.h>

#include <gtest/gtest.h>

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

    const auto failing = Items({L"DP_Slave5_/1/pari1000d18", L"DP_Slave5_/1/pari1012d18"});
    EXPECT_EQ(Hr{DriveError(0x14)}, Hr{ReadAll(failing)});
    EXPECT_FALSE(values_.get()) << "no arrays on failure";
}

TEST_F(BulkAccessTest, OtherDrivesAndAxesAreRefused) {
    MakeCore();
    Check();
    const auto drives = Items({L"DP_Slave3_/1/pari1000d18", L"DP_Slave4_/1/pari1000d18"});
    const auto axes = Items({L"DP_Slave4_/1/pari1000d18", L"DP_Slave4_/2/pari1000d18"});
    const LONG before3 = Requests(3), before4 = Requests(4);
    EXPECT_EQ(Hr{E_ACCESSDENIED}, Hr{ReadAll(drives)});
    EXPECT_EQ(Hr{E_ACCESSDENIED}, Hr{ReadAll(axes)});
    std::vector<com::UniqueVariant> values;
    values.emplace_back(LONG{5});
    values.emplace_back(LONG{6});
    EXPECT_EQ(Hr{E_ACCESSDENIED}, Hr{WriteAll(drives, values)});
    EXPECT_EQ(Hr{E_ACCESSDENIED}, Hr{WriteAll(axes, values)});
    EXPECT_EQ(before3, Requests(3)) << "nothing sent";
    EXPECT_EQ(before4, Requests(4)) << "nothing sent";
    EXPECT_FALSE(errors_.get());
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
    ASSERT_EQ(Hr{S_OK}, Hr{WriteAll(addresses, values)});
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
    EXPECT_FALSE(a.get() || b.get() || c.get() || d.get() || values_.get() || errors_.get());
}

}  // namespace
}  // namespace orvane::interaction::test
