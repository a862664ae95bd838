// Device identification, multi-axis devices and the namespace check of the
// interaction core, out-of-process against the bus simulator from the
// multithreaded apartment, with one apartment-threaded worker per device.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "IdentSupport.h"
#include "ModelNodes.h"
#include "com/Bstr.h"

namespace orvane::interaction::test {
namespace {

constexpr wchar_t kScratchKey[] = L"Software\\OrvaneTest\\Identification";
constexpr char kBus[] = "Orvane_BusSimulator/";

class IdentificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        ChannelBackoff::Get().Clear();
        SetRegString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers",
                     L"BusServerProgID", kSimProgId);
        // An offline drive's reads give up after a second or two instead of 300.
        SetRegNumber(HKEY_CURRENT_USER, kScratchKey, L"TimeoutSeconds", 2);
        SetRegNumber(HKEY_CURRENT_USER, kScratchKey, L"TimeoutCheckNamespace", 20000);
    }
    void TearDown() override {
        if (core_) core_->ReleaseConnections();
        ident_.reset();
        core_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    }

    // A core with its model set up; the simulator reset when `reset`.
    void MakeCore(bool reset = true) {
        if (reset) {
            // A simulator left by the previous test may be ending just now: its
            // successor is started by the second attempt.
            HRESULT hr = sim_.Open(3);
            for (int attempt = 0; FAILED(hr) && attempt < 20 && SimRunning(); ++attempt) Sleep(100);
            if (FAILED(hr)) hr = sim_.Open(3);
            ASSERT_EQ(Hr{S_OK}, Hr{hr}) << "simulator connection";
        }
        core_ = std::make_shared<InteractionCore>(HKEY_CURRENT_USER, kScratchKey);
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&ident_, core_)});
        ASSERT_EQ(Hr{S_OK}, Hr{core_->GetModel(root_.put())}) << "GetModel";
    }
    HRESULT Check(long* checked) { return core_->CheckNameSpace(checked, ident_.get()); }
    Tree BusTree() {
        Tree tree;
        WalkTree(core_->busServerNode().get(), kBus, &tree);
        return tree;
    }
    std::shared_ptr<DeviceRecord> Device(const wchar_t* name) {
        if (!core_->modelInitialized()) {
            std::vector<std::wstring> created;
            EXPECT_EQ(Hr{S_OK}, Hr{core_->InitModel(&created)});
        }
        return core_->FindDevice(name);
    }
    LONG Requests(int slave) {
        return sim_.SimNumber(L"Sim/Slave" + std::to_wstring(slave) + L"/Requests");
    }

    SimConnection sim_;
    std::shared_ptr<InteractionCore> core_;
    com::ComPtr<CoreIdent> ident_;
    com::ComPtr<IUnknown> root_;
};

TEST_F(IdentificationTest, DefaultTree) {
    MakeCore();
    long checked = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{Check(&checked)}) << "CheckNameSpace";
    EXPECT_EQ(1, checked);
    const Tree tree = BusTree();
    const std::string s3 = std::string(kBus) + "DP_Slave3_/";
    EXPECT_EQ("1", AxesOf(tree, s3)) << "slave 3: one axis";
    EXPECT_EQ("VT_I4 240", ValueAt(tree, s3 + "1/__P974_Max_Block_Length"));
    EXPECT_EQ("VT_I4 39", ValueAt(tree, s3 + "1/__P974_Max_Par_Requests"));
    EXPECT_EQ("VT_I4 10", ValueAt(tree, s3 + "1/__P974_Max_Latency"));
    EXPECT_EQ("VT_UI1 1", ValueAt(tree, s3 + "1/__axis"));
    EXPECT_EQ("VT_I4 42", ValueAt(tree, s3 + "1/DS_Vendorname"));
    EXPECT_EQ("VT_I4 257", ValueAt(tree, s3 + "1/DS_Devicename"));
    EXPECT_EQ("VT_BSTR '3_1'", ValueAt(tree, s3 + "1/DS_DeviceID"));
    EXPECT_NE("<missing>", ValueAt(tree, s3 + "DS_MSAC2_Parameter/MA_ProfileIdentNumber"));
    EXPECT_NE("<missing>", ValueAt(tree, s3 + "__SlotI0S47D8209"));

    EXPECT_EQ("1 2 3", AxesOf(tree, std::string(kBus) + "DP_Slave4_/"))
        << "slave 4: the gap in 978 skipped";

    const std::string s5 = std::string(kBus) + "DP_Slave5_/";
    EXPECT_EQ("1 2", AxesOf(tree, s5)) << "slave 5: no 978, two axes";
    EXPECT_EQ("VT_I4 240", ValueAt(tree, s5 + "2/__P974_Max_Block_Length")) << "no 974";
    EXPECT_EQ("VT_I4 40", ValueAt(tree, s5 + "2/__P974_Max_Par_Requests"));
    EXPECT_EQ("VT_I4 0", ValueAt(tree, s5 + "2/__P974_Max_Latency"));
    EXPECT_EQ("VT_BSTR '256_1'", ValueAt(tree, s5 + "1/DS_DeviceID")) << "no 918: the version";
    EXPECT_EQ("VT_BSTR '256_2'", ValueAt(tree, s5 + "2/DS_DeviceID"));

    const std::string s6 = std::string(kBus) + "DP_Slave6_/";
    EXPECT_TRUE(tree.count(s6)) << "the offline slave keeps its node";
    for (const auto& [path, entry] : tree) {
        if (path.compare(0, s6.size(), s6) == 0) {
            EXPECT_EQ(std::string::npos, path.find("DS_Vendorname")) << path;
        }
    }

    const std::string s7 = std::string(kBus) + "DP_Slave7_/";
    EXPECT_EQ("1 2", AxesOf(tree, s7));
    EXPECT_EQ("VT_BSTR '7_1'", ValueAt(tree, s7 + "1/DS_DeviceID"));
    EXPECT_EQ("VT_BSTR '7_2'", ValueAt(tree, s7 + "2/DS_DeviceID"));
    EXPECT_EQ("VT_I4 20", ValueAt(tree, s7 + "2/__P974_Max_Latency"));

    for (const auto& [path, entry] : tree) {
        if (path.back() == '/') continue;
        const size_t name = path.find_last_of('/') + 1;
        if (path.compare(name, 2, "__") == 0) {
            EXPECT_TRUE(entry.hidden) << path << " is hidden";
        } else if (path.compare(name, 3, "DS_") == 0) {
            EXPECT_FALSE(entry.hidden) << path << " is visible";
        }
    }
}

TEST_F(IdentificationTest, SecondCheckSendsNothing) {
    MakeCore();
    long checked = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{Check(&checked)});
    std::vector<LONG> before;
    for (int slave : {3, 4, 5, 7}) before.push_back(Requests(slave));
    EXPECT_GT(before[0], 0) << "the first check asked slave 3";
    checked = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{Check(&checked)}) << "second CheckNameSpace";
    EXPECT_EQ(1, checked);
    std::vector<LONG> after;
    for (int slave : {3, 4, 5, 7}) after.push_back(Requests(slave));
    EXPECT_EQ(before, after) << "no channel request for the second check";
    EXPECT_EQ(Hr{E_POINTER}, Hr{Check(nullptr)});
}

TEST_F(IdentificationTest, CachedIdentificationSendsNothing) {
    MakeCore();
    const auto device = Device(L"DP_Slave3_");
    ASSERT_TRUE(device);
    ASSERT_EQ(Hr{S_OK}, Hr{core_->SetupDeviceCommunication(device, true)}) << "set-up";
    EXPECT_EQ(kIdentGroupAxes | kIdentGroupDevice, core_->Snapshot(*device).groups);
    const LONG asked = Requests(3);
    EXPECT_EQ(Hr{S_OK}, Hr{core_->AsyncIdentifyDevice(L"DP_Slave3_")});
    EXPECT_EQ(asked, Requests(3)) << "group 2 cached: AsyncIdentifyDevice sends nothing";
    for (BYTE nothing : {0x00, 0x04, 0xFC}) {
        EXPECT_EQ(Hr{S_OK}, Hr{core_->AsyncReadDeviceIdentification(L"DP_Slave3_", nothing)});
        EXPECT_EQ(asked, Requests(3)) << "byParameters " << int(nothing) << " sends nothing";
    }
    EXPECT_EQ(Hr{S_OK}, Hr{core_->AsyncReadDeviceIdentification(L"DP_Slave3_", 0xFE)})
        << "other bits ignored: group 2 read";
    EXPECT_EQ(asked + 1, Requests(3)) << "one request for group 2";
    EXPECT_EQ(kIdentGroupDevice, core_->Snapshot(*device).groups);
    const Tree tree = BusTree();
    EXPECT_EQ("VT_BSTR '3_1'", ValueAt(tree, std::string(kBus) + "DP_Slave3_/1/DS_DeviceID"));
}

TEST_F(IdentificationTest, ErrorForOneEntryMarksOnlyIt) {
    MakeCore();
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimText(L"Sim/Slave3/Faults", L"918=0x16")});
    const auto device = Device(L"DP_Slave3_");
    ASSERT_TRUE(device);
    ASSERT_EQ(Hr{S_OK}, Hr{core_->SetupDeviceCommunication(device, true)});
    const DeviceRecord record = core_->Snapshot(*device);
    for (size_t entry = 0; entry < kIdentEntries; ++entry) {
        EXPECT_TRUE(record.answered[entry]) << "entry " << entry;
        EXPECT_EQ(entry == kEntryStation, record.errors[entry]) << "entry " << entry;
    }
    EXPECT_EQ(42u, record.cache[5]) << "964 of the same answer";
    EXPECT_EQ(Hr{S_OK}, Hr{core_->IdentifyDevice(device)});
    EXPECT_EQ("VT_BSTR '515_1'", ValueAt(BusTree(), std::string(kBus) + "DP_Slave3_/1/DS_DeviceID"))
        << "918 refused: the version (0x0203) first";
}

TEST_F(IdentificationTest, InternalDeviceIsNeverAsked) {
    MakeCore();
    com::ComPtr<VKModelObject> node;
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateObject(core_->busServerNode().get(), L"Local_", &node)});
    ASSERT_EQ(Hr{S_OK}, Hr{node->SetAccessPath(com::UniqueBstr(L"intern").get())});
    const auto device = Device(L"Local_");
    ASSERT_TRUE(device) << "a record for every child of the bus-server node";
    EXPECT_EQ(Hr{E_FAIL}, Hr{core_->SetupDeviceCommunication(device, true)});
    EXPECT_TRUE(core_->Snapshot(*device).noBusAccess);
    EXPECT_EQ(Hr{E_FAIL}, Hr{core_->AsyncSetupDeviceCommunication(L"Local_", true)});
    EXPECT_EQ(Hr{E_FAIL}, Hr{core_->AsyncReadDeviceIdentification(L"Local_", 3)});
    EXPECT_EQ(Hr{E_FAIL}, Hr{core_->AsyncIdentifyDevice(L"Local_")});
    EXPECT_EQ(Hr{S_OK}, Hr{core_->AsyncSetupDeviceCommunication(L"Nobody_", true)})
        << "unknown device: nothing to do";
    EXPECT_EQ(Hr{E_FAIL}, Hr{core_->AsyncReadDeviceIdentification(L"Nobody_", 3)});
    EXPECT_EQ(Hr{E_FAIL}, Hr{core_->AsyncIdentifyDevice(L"Nobody_")});
}

TEST_F(IdentificationTest, ExistingNodesAndParametersAreReused) {
    MakeCore();
    std::vector<std::wstring> created;
    ASSERT_EQ(Hr{S_OK}, Hr{core_->InitModel(&created)});
    com::ComPtr<VKModelObject> device, axis;
    ASSERT_EQ(Hr{S_OK},
              Hr{FindOrCreateObject(core_->busServerNode().get(), L"DP_Slave3_", &device)});
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateObject(device.get(), L"1", &axis)});
    com::ComPtr<VKModelParameter> early;
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(axis.get(), L"DS_Vendorname", &early)})
        << "an item created before the check";
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(device.get(), L"__SlotI0S47D8209", &early)});
    long checked = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{Check(&checked)});
    const Tree tree = BusTree();
    const std::string s3 = std::string(kBus) + "DP_Slave3_/";
    EXPECT_EQ("1", AxesOf(tree, s3));
    EXPECT_EQ("VT_I4 42", ValueAt(tree, s3 + "1/DS_Vendorname")) << "the early item got its value";
    EXPECT_EQ("VT_BSTR '3_1'", ValueAt(tree, s3 + "1/DS_DeviceID"));
}

TEST_F(IdentificationTest, AddItemPDInfoSetsTheDeviceUpBeforeTheCheck) {
    MakeCore();
    std::vector<std::wstring> created;
    ASSERT_EQ(Hr{S_OK}, Hr{core_->InitModel(&created)});
    com::ComPtr<VKModelObject> device, axis;
    ASSERT_EQ(Hr{S_OK},
              Hr{FindOrCreateObject(core_->busServerNode().get(), L"DP_Slave4_", &device)});
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateObject(device.get(), L"2", &axis)});
    com::ComPtr<VKModelParameter> item;
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(axis.get(), L"pari1000", &item)});

    ItemBinding binding;
    ASSERT_EQ(Hr{S_OK},
              Hr{core_->AddItemPDInfo(L"Orvane_BusSimulator/DP_Slave4_/2/pari1000", &binding)});
    ASSERT_TRUE(binding.channel) << "the device was set up for the item";
    EXPECT_EQ("opc://Orvane.BusSimulator/DP/Slave4/SlotI0S47D8209",
              Narrow(AccessPathOf(binding.channel.get())));
    EXPECT_EQ(2, binding.axis);
    EXPECT_EQ(240, binding.limits.maxBlockLength);
    EXPECT_EQ(39, binding.limits.maxParRequests);
    EXPECT_EQ(20, binding.limits.maxLatency);

    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core_->AddItemPDInfo(L"Orvane_BusSimulator/Nothing", &binding)});
    EXPECT_EQ(Hr{E_POINTER}, Hr{core_->AddItemPDInfo(L"x", nullptr)});
}

TEST_F(IdentificationTest, AddItemPDInfoAfterTheCheckLeavesUnidentifiedItemsUnbound) {
    MakeCore();
    long checked = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{Check(&checked)});
    ItemBinding binding;
    ASSERT_EQ(Hr{S_OK},
              Hr{core_->AddItemPDInfo(L"Orvane_BusSimulator/DP_Slave7_/2/DS_DeviceID", &binding)});
    ASSERT_TRUE(binding.channel);
    EXPECT_EQ(2, binding.axis);
    EXPECT_EQ(20, binding.limits.maxLatency);

    com::ComPtr<VKModelObject> device;
    ASSERT_EQ(Hr{S_OK},
              Hr{FindOrCreateObject(core_->busServerNode().get(), L"DP_Slave6_", &device)});
    com::ComPtr<VKModelParameter> item;
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(device.get(), L"pari1000", &item)});
    ItemBinding none;
    EXPECT_EQ(Hr{S_OK},
              Hr{core_->AddItemPDInfo(L"Orvane_BusSimulator/DP_Slave6_/pari1000", &none)});
    EXPECT_FALSE(none.channel) << "after the check nothing is set up any more";
}

TEST_F(IdentificationTest, TimedOutCheckFinishesLater) {
    // 2 s per device (also the completion time-out of each request): 10 s in all.
    SetRegNumber(HKEY_CURRENT_USER, kScratchKey, L"TimeoutCheckNamespace", 2000);
    SetRegNumber(HKEY_CURRENT_USER, kScratchKey, L"MaxPollCountRead", 100000);
    SetRegNumber(HKEY_CURRENT_USER, kScratchKey, L"TimeoutSeconds", 60);
    MakeCore();
    // Every drive on the bus, so that no worker still polls an absent one at the end.
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimFlag(L"Sim/Slave6/Offline", false)});
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimNumber(L"Sim/Slave7/LatencyMs", 15000)});
    long checked = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{Check(&checked)}) << "a time-out is no error";
    EXPECT_EQ(1, checked);
    const std::string id = std::string(kBus) + "DP_Slave7_/2/DS_DeviceID";
    EXPECT_EQ("<missing>", ValueAt(BusTree(), id)) << "the slow drive is not done yet";
    // Its request in flight still takes its time; the next ones are quick again.
    ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimNumber(L"Sim/Slave7/LatencyMs", 200)});
    std::string value;
    const DWORD start = GetTickCount();
    while ((value = ValueAt(BusTree(), id)) == "<missing>" && GetTickCount() - start < 120000)
        Sleep(500);
    EXPECT_EQ("VT_BSTR '7_2'", value) << "identified after the check";
}

}  // namespace
}  // namespace orvane::interaction::test
