// Items of the interaction core as the server binds them (Init, Read, Write,
// Terminate), out-of-process against the bus simulator from the multithreaded
// apartment. Items are made as the server makes them: inside their axis node, or as
// one parameter of the root named with the whole ID.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ItemSupport.h"
#include "com/Time.h"
#include "opcerror.h"

namespace orvane::interaction::test {
namespace {

using ItemAccessTest = ItemFixture;

TEST_F(ItemAccessTest, ItemsOfOneAddressShareARecord) {
    MakeCore();
    Check();
    const auto item = MakeItem(kSpeed, true);
    ASSERT_TRUE(item);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())}) << "Init of an item in its axis node";
    EXPECT_EQ(Narrow(Drive(kSpeed)), Narrow(AccessPathOf(item.get())));
    ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())}) << "a second item of the address";
    DriveParameterRecord record;
    ASSERT_TRUE(core_->RecordOf(kSpeed, &record));
    EXPECT_EQ(2u, record.useCount);
    EXPECT_EQ(1000, record.parameter);
    EXPECT_TRUE(record.unindexed);
    EXPECT_EQ(VT_UI2, record.vt);
    EXPECT_EQ(6, record.dataType);
    EXPECT_EQ(1, record.axis);
    EXPECT_EQ(39, record.maxParameterRequests);

    std::string value;
    com::UniqueVariant quality, timestamp;
    EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(kSpeed), &value, &quality, &timestamp)});
    EXPECT_EQ("VT_UI2 1500", value);
    EXPECT_EQ("VT_I2 192", Describe(*quality)) << "the channel item's quality";
    EXPECT_EQ(VT_DATE, timestamp.vt());

    EXPECT_EQ(Hr{S_OK}, Hr{Terminate(Drive(kSpeed))});
    EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(kSpeed), &value)}) << "the other item still reads";
    EXPECT_EQ(Hr{S_OK}, Hr{Terminate(Drive(kSpeed))});
    EXPECT_FALSE(core_->RecordOf(kSpeed, &record)) << "the record is gone with its last item";
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{Read(Drive(kSpeed), &value)});
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{Terminate(Drive(kSpeed))}) << "a freed record";
}

TEST_F(ItemAccessTest, InternalAndPassThroughItems) {
    MakeCore();
    Check();
    const std::wstring vendor = std::wstring(kSlave3) + L"1/DS_Vendorname";
    com::ComPtr<VKModelParameter> item;
    ASSERT_EQ(Hr{S_OK}, Hr{FindParameterIn(model_.get(), vendor, &item)});
    ASSERT_TRUE(item) << "made by the identification";
    ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())});
    std::string value;
    com::UniqueVariant quality, timestamp;
    EXPECT_EQ(Hr{S_OK}, Hr{Read(L"internal://" + vendor, &value, &quality, &timestamp)});
    EXPECT_EQ("VT_I4 42", value);
    EXPECT_EQ("VT_I2 192", Describe(*quality));
    ASSERT_EQ(VT_DATE, timestamp.vt());
    EXPECT_LT(std::fabs(V_DATE(timestamp.get()) - com::NowUtcDate()), 1.0 / 24 / 60)
        << "a UTC time stamp";
    EXPECT_EQ(Hr{S_OK},
              Hr{Write(L"internal://Orvane_BusSimulator/nothing", *com::UniqueVariant(5))})
        << "a write to a missing internal item";
    EXPECT_EQ(Hr{S_OK}, Hr{Terminate(L"internal://" + vendor)});
    EXPECT_EQ(0u, core_->internalItemCount());

    const std::wstring passThrough = SimAddress(L"DP/Slave3/DS_Vendorname");
    const auto bus = MakeItem(passThrough, false);
    ASSERT_TRUE(bus);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(bus.get())});
    EXPECT_EQ(Hr{S_OK}, Hr{Read(passThrough, &value)});
    EXPECT_EQ("VT_BSTR 'Axolent'", value);
    EXPECT_EQ(1u, core_->passThroughItemCount());
    EXPECT_EQ(Hr{S_OK}, Hr{Terminate(passThrough)});
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{Terminate(passThrough)}) << "terminated twice";
}

// A client need not browse: items made before the namespace check, in the root.
TEST_F(ItemAccessTest, ItemsBeforeTheCheck) {
    MakeCore();
    const auto speed = MakeItem(kSpeed, false);
    ASSERT_TRUE(speed);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(speed.get())}) << "a drive parameter as a root leaf";
    std::string value;
    EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(kSpeed), &value)});
    EXPECT_EQ("VT_UI2 1500", value);

    const std::wstring vendor = std::wstring(kSlave3) + L"1/DS_Vendorname";
    const auto vendorItem = MakeItem(vendor, false);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(vendorItem.get())});
    EXPECT_EQ(Narrow(L"internal://" + vendor), Narrow(AccessPathOf(vendorItem.get())));
    com::UniqueVariant held;
    ASSERT_EQ(Hr{S_OK}, Hr{vendorItem->GetValue(held.put())});
    EXPECT_EQ("VT_I4 42", Describe(*held)) << "the identified vendor, not 0";

    const std::wstring profile =
        std::wstring(kSlave3) + L"DS_MSAC2_Parameter/MA_ProfileIdentNumber";
    const auto profileItem = MakeItem(profile, false);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(profileItem.get())});
    const std::wstring busAddress =
        SimAddress(L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    EXPECT_EQ(Narrow(busAddress), Narrow(AccessPathOf(profileItem.get())))
        << "the bus server's item of the device";
    EXPECT_EQ(Hr{S_OK}, Hr{Read(busAddress, &value)}) << "runs the namespace check first";
    EXPECT_EQ("VT_UI2 14848", value);
    EXPECT_TRUE(core_->nameSpaceChecked());
    EXPECT_EQ(Hr{S_OK}, Hr{Read(L"internal://" + vendor, &value)});
    EXPECT_EQ("VT_I4 42", value);
}

TEST_F(ItemAccessTest, TestAtItemCreate) {
    const struct {
        DWORD setting;
        const wchar_t* leaf;
        long rights;
        LONG requests;
        const char* initial;
    } cases[] = {
        {0, L"1/pari1000d18", 3, 0, "VT_UI2 0"},
        {1, L"1/pari1000d18", 3, 1, "VT_UI2 1500"},
        {3, L"1/pari1007d19", 1, 2, "VT_UI4 123456"},
        {3, L"1/pari1000d18", 3, 2, "VT_UI2 1500"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("TestAtItemCreate " + std::to_string(c.setting) + ", " + Narrow(c.leaf));
        MakeCore(c.setting);
        Check();
        const auto item = MakeItem(kSlave3 + std::wstring(c.leaf), true);
        ASSERT_TRUE(item);
        const LONG before = Requests(3);
        ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())});
        EXPECT_EQ(c.requests, Requests(3) - before) << "requests at creation";
        com::UniqueBstr path;
        long rights = 0;
        VARTYPE type = VT_EMPTY;
        com::UniqueVariant initial;
        ASSERT_EQ(Hr{S_OK}, Hr{item->GetInit(path.put(), &rights, &type, initial.put())});
        EXPECT_EQ(c.rights, rights);
        EXPECT_EQ(c.initial, Describe(*initial)) << "default value";
    }
}

TEST_F(ItemAccessTest, AxesAndDriveErrors) {
    MakeCore();
    Check();
    const std::wstring bus = L"Orvane_BusSimulator/";
    const struct {
        const wchar_t* id;
        HRESULT read;
        const char* value;
    } reads[] = {
        {L"DP_Slave4_/2/pari1000d18", S_OK, "VT_UI2 800"},
        {L"DP_Slave4_/1/pari1000d18", S_OK, "VT_UI2 1000"},
        {L"DP_Slave5_/1/pari1012d18", DriveError(0x14), nullptr},
    };
    for (const auto& r : reads) {
        const std::wstring id = bus + r.id;
        const auto item = MakeItem(id, true);
        ASSERT_TRUE(item) << Narrow(id);
        ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())}) << Narrow(id);
        std::string value;
        EXPECT_EQ(Hr{r.read}, Hr{Read(Drive(id), &value)}) << Narrow(id);
        if (r.value) {
            EXPECT_EQ(r.value, value) << Narrow(id);
        }
    }

    const std::wstring hours = std::wstring(kSlave3) + L"1/pari1007d19";
    for (const std::wstring& id : {hours, kSpeed})
        ASSERT_EQ(Hr{S_OK}, Hr{Init(MakeItem(id, true).get())});
    EXPECT_EQ(Hr{DriveError(1)}, Hr{Write(Drive(hours), *com::UniqueVariant(1))}) << "read-only";
    EXPECT_EQ(Hr{DriveError(2)}, Hr{Write(Drive(kSpeed), *com::UniqueVariant(5000))})
        << "outside the limits";
    const LONG before = Requests(3);
    EXPECT_EQ(Hr{OPC_E_RANGE}, Hr{Write(Drive(kSpeed), *com::UniqueVariant(70000))});
    EXPECT_EQ(before, Requests(3)) << "a value that does not fit is not sent";
    EXPECT_EQ(Hr{S_OK}, Hr{Write(Drive(kSpeed), *com::UniqueVariant(1200))});
    std::string value;
    EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(kSpeed), &value)});
    EXPECT_EQ("VT_UI2 1200", value);

    // A drive gone off the bus: the read gives up at the poll limit.
    const std::wstring offline = bus + L"DP_Slave6_/1/pari1000d18";
    ASSERT_EQ(Hr{S_OK}, Hr{Init(MakeItem(offline, false).get())});
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimFlag(L"Sim/Slave6/Offline", true)});
    EXPECT_TRUE(FAILED(Read(Drive(offline), &value)));
}

// An offline drive holds the bus for the full answer time-out once, not once per item
// read: within the next second its reads fail at once, without a request.
TEST_F(ItemAccessTest, OfflineDriveIsNotAskedAgainWithinASecond) {
    MakeCore();
    Check();
    const auto item = MakeItem(kSpeed, true);
    ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())});
    ChannelBackoff::Get().Clear();
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimFlag(L"Sim/Slave3/Offline", true)});
    std::string value;
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{Read(Drive(kSpeed), &value)}) << "no answer";
    const LONG requests = Requests(3);
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{Read(Drive(kSpeed), &value)}) << "the same result at once";
    EXPECT_EQ(requests, Requests(3)) << "a request to the offline drive within the second";
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimFlag(L"Sim/Slave3/Offline", false)});
    ChannelBackoff::Get().Clear();
    EXPECT_EQ(Hr{S_OK}, Hr{Read(Drive(kSpeed), &value)}) << "back on the bus";
}

TEST_F(ItemAccessTest, BadInput) {
    MakeCore();
    Check();
    const auto item = MakeItem(kSpeed, true);
    com::ComPtr<IUnknown> replacement;
    VARTYPE addressType = VT_EMPTY;
    EXPECT_EQ(Hr{E_POINTER}, Hr{core_->InitItem(item.get(), nullptr, &addressType)});
    EXPECT_EQ(Hr{E_POINTER}, Hr{core_->InitItem(item.get(), replacement.put(), nullptr)});
    com::ComPtr<IStream> stream;
    ASSERT_EQ(Hr{S_OK}, Hr{CreateStreamOnHGlobal(nullptr, TRUE, stream.put())});
    EXPECT_EQ(Hr{E_NOINTERFACE}, Hr{Init(stream.get())}) << "no VKModelParameter";

    for (const wchar_t* id : {L"Orvane_BusSimulator/DP_Slave3_/1/bogus",
                              L"Orvane_BusSimulator/DP_Slave99_/1/pari1000d18", L"pari1000d18"}) {
        const auto bad = MakeItem(id, false);
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{Init(bad.get())}) << Narrow(id);
        DriveParameterRecord record;
        EXPECT_FALSE(core_->RecordOf(id, &record)) << Narrow(id);
    }
    EXPECT_EQ(0u, core_->internalItemCount());
    ASSERT_EQ(Hr{S_OK}, Hr{Init(item.get())});

    const LONG before = Requests(3);
    com::UniqueVariant value, quality, timestamp;
    for (const auto& address :
         {com::UniqueVariant(7), Text(L""), Text(L"ftp://x"), Text(L"Axolent://nothing")}) {
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core_->ReadItem(*address, value.put(), quality.put(),
                                                       timestamp.put(), ident_.get())})
            << Describe(*address);
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core_->WriteItem(*address, *com::UniqueVariant(1))})
            << Describe(*address);
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core_->TerminateItem(*address)}) << Describe(*address);
    }
    EXPECT_EQ(before, Requests(3)) << "nothing sent";
}

}  // namespace
}  // namespace orvane::interaction::test
