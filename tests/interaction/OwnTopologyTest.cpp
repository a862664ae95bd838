// Identification on buses of the test's own: the axis walks of parameter 978 and 70
// slaves found by their channel pattern. The simulator is started with the test's
// topology, so this program runs with a wineserver of its own (see
// with_fresh_wineserver.sh): no simulator of another test may answer instead.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "IdentSupport.h"
#include "com/SafeArray.h"

namespace orvane::interaction::test {
namespace {

constexpr wchar_t kScratchKey[] = L"Software\\OrvaneTest\\OwnTopology";

TEST(IdentificationWalks, AxisListsAndLimits) {
    OwnTopology topology(R"(
slave 11
axis 0
param 964 u16 [42 1 2 3 4 2] name "ident"
param 978 u8 [1 0 2] name "axes"
slave 12
axis 0
param 964 u16 [42 1 2 3 4 3]
param 978 u8 [1 0 0 4]
slave 13
axis 0
param 964 u16 [42 1 2 3 4 3]
param 974 u16 [128 8 5]
slave 14
axis 0
param 964 u16 [42 1 2 3 4 1]
param 978 u8 [1]
param 918 u16 14
slave 15
axis 0
param 964 u32 [42 1 2 3 4]
)");
    ASSERT_TRUE(topology.ready()) << "a simulator of an earlier test still runs";
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    SetRegString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers", L"BusServerProgID",
                 kSimProgId);
    {
        auto core = std::make_shared<InteractionCore>(HKEY_CURRENT_USER, kScratchKey);
        com::ComPtr<CoreIdent> ident;
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&ident, core)});
        com::ComPtr<IUnknown> root;
        ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
        long checked = 0;
        ASSERT_EQ(Hr{S_OK}, Hr{core->CheckNameSpace(&checked, ident.get())});
        Tree tree;
        WalkTree(core->busServerNode().get(), "", &tree);
        EXPECT_EQ("1 2", AxesOf(tree, "DP_Slave11_/")) << "978 = 1 0 2 with two axes";
        EXPECT_EQ("1", AxesOf(tree, "DP_Slave12_/")) << "two zeros end the walk";
        EXPECT_EQ("1 2 3", AxesOf(tree, "DP_Slave13_/")) << "no 978, three axes";
        EXPECT_EQ("VT_I4 128", ValueAt(tree, "DP_Slave13_/3/__P974_Max_Block_Length"));
        EXPECT_EQ("VT_I4 8", ValueAt(tree, "DP_Slave13_/3/__P974_Max_Par_Requests"));
        EXPECT_EQ("VT_I4 5", ValueAt(tree, "DP_Slave13_/3/__P974_Max_Latency"));
        EXPECT_EQ("1", AxesOf(tree, "DP_Slave14_/")) << "964.5 = 1";
        EXPECT_EQ("VT_BSTR '14_1'", ValueAt(tree, "DP_Slave14_/1/DS_DeviceID"));

        const auto wrong = core->FindDevice(L"DP_Slave15_");
        ASSERT_TRUE(wrong);
        // The check lost the channel at the first identification; bound again, the
        // drive still answers 964 with 20 bytes instead of 10.
        EXPECT_EQ(Hr{S_OK}, Hr{core->SetupDeviceCommunication(wrong, false)});
        EXPECT_EQ(Hr{E_FAIL}, Hr{core->IdentifyDevice(wrong)}) << "964 of the wrong length";
        tree.clear();
        WalkTree(core->busServerNode().get(), "", &tree);
        EXPECT_EQ("<missing>", ValueAt(tree, "DP_Slave15_/__SlotI0S47D8209"))
            << "its channel is gone";
        EXPECT_EQ("<missing>", ValueAt(tree, "DP_Slave15_/1/DS_Vendorname"));
        core->ReleaseConnections();
    }
    // The next test starts its own simulator.
    EXPECT_TRUE(AwaitNoSim(20)) << "the simulator with the test's topology ends";
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
}

TEST(IdentificationMany, SeventySlavesFoundByTheirChannelPattern) {
    std::string text;
    for (int slave = 1; slave <= 70; ++slave) {
        text += "slave " + std::to_string(slave) + " Line/Node" + std::to_string(slave) +
                "/\nmarker no\nchannel ParamChannel\naxis 0\nparam 964 u16 [7 " +
                std::to_string(slave) + " 1 2 3 1]\nparam 918 u16 " + std::to_string(slave) + "\n";
    }
    OwnTopology topology(text);
    ASSERT_TRUE(topology.ready()) << "a simulator of an earlier test still runs";
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    SetRegString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers", L"BusServerProgID",
                 kSimProgId);
    const std::wstring info = std::wstring(kScratchKey) + L"\\BusServerInfo\\" + kSimProgId;
    SetRegString(HKEY_CURRENT_USER, info, L"DevSpecific", L"Line/Node%d/");
    SetRegString(HKEY_CURRENT_USER, info, L"ParSpecific", L"ParamChannel");
    {
        auto core = std::make_shared<InteractionCore>(HKEY_CURRENT_USER, kScratchKey);
        com::ComPtr<CoreIdent> ident;
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&ident, core)});
        com::ComPtr<IUnknown> root;
        ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
        long checked = 0;
        ASSERT_EQ(Hr{S_OK}, Hr{core->CheckNameSpace(&checked, ident.get())});
        EXPECT_EQ(70u, core->deviceCount());
        Tree tree;
        WalkTree(core->busServerNode().get(), "", &tree);
        int identified = 0;
        for (int slave = 1; slave <= 70; ++slave) {
            const std::string node = "Line_Node" + std::to_string(slave) + "_/";
            const bool found = ValueAt(tree, node + "1/DS_DeviceID") ==
                               "VT_BSTR '" + std::to_string(slave) + "_1'";
            identified += found;
            // What the slave's subtree holds tells which step lost it.
            for (const auto& [path, entry] : tree) {
                if (!found && path.rfind(node, 0) == 0) ADD_FAILURE() << path << " " << entry.value;
            }
        }
        EXPECT_EQ(70, identified) << "every slave identified, more than one wait can take";
        EXPECT_EQ("VT_I4 70", ValueAt(tree, "Line_Node70_/1/DS_Devicename"));
        core->ReleaseConnections();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
}

// Slave 16: a slow drive of 40 parameters per request with 51 words.
std::string SlowDrive() {
    std::string text =
        "slave 16\naxis 0\nparam 964 u16 [42 1 2 3 4 1]\nparam 978 u8 [1]\n"
        "param 974 u16 [240 40 1500]\naxis 1\nparam 1000 u16 7 rw\n";
    for (int parameter = 2000; parameter < 2050; ++parameter)
        text += "param " + std::to_string(parameter) + " u16 " + std::to_string(parameter) + "\n";
    return text;
}

// A slow drive raises the answer timeout when its first item is made.
TEST(ItemsOnOwnBus, LatencyRaisesTheAnswerTimeout) {
    OwnTopology topology(SlowDrive());
    ASSERT_TRUE(topology.ready()) << "a simulator of an earlier test still runs";
    const std::wstring id = L"Orvane_BusSimulator/DP_Slave16_/1/pari1000d18";
    for (const DWORD timeout : {300u, 10u}) {
        SCOPED_TRACE("TimeoutSeconds " + std::to_string(timeout));
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        SetRegString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers",
                     L"BusServerProgID", kSimProgId);
        SetRegNumber(HKEY_CURRENT_USER, kScratchKey, L"TimeoutSeconds", timeout);
        auto core = std::make_shared<InteractionCore>(HKEY_CURRENT_USER, kScratchKey);
        com::ComPtr<IUnknown> root;
        ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
        com::ComPtr<VKModelObject> model;
        ASSERT_EQ(Hr{S_OK}, Hr{root.query(&model)});
        com::ComPtr<IUnknown> made;
        ASSERT_EQ(Hr{S_OK},
                  Hr{model->CreateParameter(com::UniqueBstr(id).get(), nullptr, made.put())});
        com::ComPtr<IUnknown> replacement;
        VARTYPE addressType = VT_EMPTY;
        ASSERT_EQ(Hr{S_OK}, Hr{core->InitItem(made.get(), replacement.put(), &addressType)});
        EXPECT_EQ(timeout == 300 ? 300u : 16u, core->answerTimeout()) << "latency 1500";

        com::UniqueVariant value, quality, timestamp;
        ASSERT_EQ(Hr{S_OK}, Hr{core->ReadItem(*Text(L"Axolent://" + id), value.put(), quality.put(),
                                              timestamp.put(), nullptr)});
        EXPECT_EQ("VT_UI2 7", Describe(*value));
        core->ReleaseConnections();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
}

// 50 items of a drive that takes 40 parameters per request: groups of 40 and 10,
// and the group of 40 in requests of 39 and 1.
TEST(ItemsOnOwnBus, BulkReadInGroups) {
    OwnTopology topology(SlowDrive());
    ASSERT_TRUE(topology.ready()) << "a simulator of an earlier test still runs";
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    SetRegString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers", L"BusServerProgID",
                 kSimProgId);
    SimConnection sim;
    ASSERT_EQ(Hr{S_OK}, Hr{sim.Open(16)});
    auto core = std::make_shared<InteractionCore>(HKEY_CURRENT_USER, kScratchKey);
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    com::ComPtr<VKModelObject> model;
    ASSERT_EQ(Hr{S_OK}, Hr{root.query(&model)});
    com::UniqueSafeArray addresses(SafeArrayCreateVector(VT_VARIANT, 0, 50));
    for (LONG i = 0; i < 50; ++i) {
        const std::wstring id =
            L"Orvane_BusSimulator/DP_Slave16_/1/pari" + std::to_wstring(2000 + i) + L"d18";
        com::ComPtr<IUnknown> made, replacement;
        VARTYPE addressType = VT_EMPTY;
        ASSERT_EQ(Hr{S_OK},
                  Hr{model->CreateParameter(com::UniqueBstr(id).get(), nullptr, made.put())});
        ASSERT_EQ(Hr{S_OK}, Hr{core->InitItem(made.get(), replacement.put(), &addressType)});
        SafeArrayPutElement(addresses.get(), &i, Text(L"Axolent://" + id).get());
    }
    const LONG before = sim.SimNumber(L"Sim/Slave16/Requests");
    com::UniqueSafeArray values, qualities, times, errors;
    ASSERT_EQ(Hr{S_OK}, Hr{core->ReadMultiple(50, addresses.get(), values.put(), qualities.put(),
                                              times.put(), errors.put())});
    EXPECT_EQ(3, sim.SimNumber(L"Sim/Slave16/Requests") - before) << "39 + 1 + 10 parameters";
    for (LONG i = 0; i < 50; ++i) {
        com::UniqueVariant value;
        ASSERT_EQ(Hr{S_OK}, Hr{SafeArrayGetElement(values.get(), &i, value.get())});
        EXPECT_EQ("VT_UI2 " + std::to_string(2000 + i), Describe(*value)) << "address order";
    }
    core->ReleaseConnections();
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
}

}  // namespace
}  // namespace orvane::interaction::test
