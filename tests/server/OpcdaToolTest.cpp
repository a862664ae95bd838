// The console client as a script would use it: its output and exit codes.
#include <gtest/gtest.h>

#include "ServerTestSupport.h"

namespace {

TEST(Opcda, StatusPrintsTheServerStatus) {
    const ToolRun run = RunOpcda(L"status --progid Axolent.Orvane");
    EXPECT_EQ(0u, run.exitCode) << "opcda status exit code; output:\n" << run.output;
    for (const char* expected :
         {"State:        running", "Vendor:       Axolent", "Groups:       0",
          "Version:", "Start time:", "Current time:", "Last update:"}) {
        EXPECT_NE(std::string::npos, run.output.find(expected))
            << "\"" << expected << "\" missing in:\n"
            << run.output;
    }
}

TEST(Opcda, ServersListsOrvaneByCategory) {
    const ToolRun run = RunOpcda(L"servers");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos,
              run.output.find("{CA99FEF3-FB7A-11D4-A85E-0060087AB05A}  Axolent.Orvane"))
        << run.output;
}

TEST(Opcda, FailuresHaveMessagesAndExitCodes) {
    ToolRun run = RunOpcda(L"status --progid No.Such.Server");
    EXPECT_EQ(2u, run.exitCode) << "unknown ProgID: " << run.output;
    EXPECT_NE(std::string::npos, run.output.find("No.Such.Server")) << run.output;
    run = RunOpcda(L"frobnicate");
    EXPECT_EQ(1u, run.exitCode) << "unknown command: " << run.output;
    EXPECT_NE(std::string::npos, run.output.find("usage:")) << run.output;
    run = RunOpcda(L"status --progid");
    EXPECT_EQ(1u, run.exitCode) << "option without value: " << run.output;
}

TEST(Opcda, NamespaceRunsTheServersCheck) {
    const ToolRun run = RunOpcda(L"namespace");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(0u, run.output.find("checked 1 ")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find(" ms")) << run.output;

    const ToolRun other = RunOpcda(L"namespace --progid Orvane.BusSimulator");
    EXPECT_EQ(3u, other.exitCode) << "a server without the check: " << other.output;
    EXPECT_NE(std::string::npos, other.output.find("has no namespace check")) << other.output;
}

TEST(Opcda, ModelPrintsTheIdentifiedTree) {
    const ToolRun run = RunOpcda(L"model");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    for (const char* expected :
         {"Orvane_BusSimulator/DP_Slave7_/2/DS_DeviceID = \"7_2\"  VT_BSTR",
          "Orvane_BusSimulator/DP_Slave3_/1/DS_DeviceID = \"3_1\"  VT_BSTR",
          "Orvane_BusSimulator/DP_Slave5_/2/DS_DeviceID = \"256_2\"  VT_BSTR",
          "Orvane_BusSimulator/DP_Slave3_/1/DS_Vendorname = 42  VT_I4"}) {
        EXPECT_NE(std::string::npos, run.output.find(expected))
            << "\"" << expected << "\" missing in:\n"
            << run.output;
    }
    EXPECT_EQ(std::string::npos, run.output.find("__axis")) << "hidden without --hidden";
    const ToolRun hidden = RunOpcda(L"model --hidden");
    EXPECT_NE(std::string::npos,
              hidden.output.find("Orvane_BusSimulator/DP_Slave4_/3/__axis = 3  VT_UI1"))
        << hidden.output;
}

// The item options against the bus simulator, an OPC server whose items need no drive.
bool Has(const ToolRun& run, const char* text) {
    return run.output.find(text) != std::string::npos;
}

TEST(Opcda, ReadSourcesAndRequestedType) {
    const std::wstring sim = L" --progid Orvane.BusSimulator";
    ToolRun run = RunOpcda(L"read Sim/Slave3/Requests --source both" + sim);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(0u, run.output.find("Sim/Slave3/Requests = ")) << "the device line first:\n"
                                                             << run.output;
    EXPECT_TRUE(Has(run, "\nSim/Slave3/Requests (cache) = ")) << run.output;
    EXPECT_TRUE(Has(run, "VT_UI4")) << run.output;

    run = RunOpcda(L"read Sim/Slave3/Requests --source cache --type r8" + sim);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "Sim/Slave3/Requests = ")) << run.output;
    EXPECT_TRUE(Has(run, "VT_R8  quality 0x00C0")) << "an active group's cache:\n" << run.output;
    EXPECT_FALSE(Has(run, "(cache)")) << run.output;

    run = RunOpcda(L"read Sim/Slave3/Requests --source disk" + sim);
    EXPECT_EQ(1u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "unknown source")) << run.output;
    run = RunOpcda(L"read Sim/Slave3/Requests --type word" + sim);
    EXPECT_EQ(1u, run.exitCode) << run.output;
}

TEST(Opcda, WriteWithReadback) {
    const ToolRun run =
        RunOpcda(L"write Sim/Slave3/LatencyMs=0 --readback --progid Orvane.BusSimulator");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "Sim/Slave3/LatencyMs: written 0")) << run.output;
    EXPECT_TRUE(Has(run, "Sim/Slave3/LatencyMs = 0  VT_UI4  quality 0x00C0")) << run.output;
}

TEST(Opcda, ValidatePrintsTypeAndRights) {
    ToolRun run = RunOpcda(
        L"validate Sim/Slave3/LatencyMs Sim/Slave3/Requests No/Such/Item --progid "
        L"Orvane.BusSimulator");
    EXPECT_EQ(3u, run.exitCode) << "one item fails: " << run.output;
    EXPECT_TRUE(Has(run, "Sim/Slave3/LatencyMs: VT_UI4 read/write")) << run.output;
    EXPECT_TRUE(Has(run, "Sim/Slave3/Requests: VT_UI4 read\r")) << run.output;
    EXPECT_TRUE(Has(run, "No/Such/Item: error ")) << run.output;

    run = RunOpcda(L"validate Sim/Slave3/Requests --type ui1[] --progid Orvane.BusSimulator");
    EXPECT_EQ(3u, run.exitCode) << "a type the item cannot give: " << run.output;
    EXPECT_TRUE(Has(run, "Sim/Slave3/Requests: error ")) << run.output;
}

TEST(Opcda, WatchPrintsTheMovingSpeed) {
    const ToolRun run =
        RunOpcda(L"watch Orvane_BusSimulator/DP_Slave3_/1/pari20d2 --rate 200 --count 5");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(0u, run.output.find("update rate 200 ms")) << run.output;
    size_t lines = 0;
    for (size_t at = run.output.find("\nOrvane_BusSimulator/DP_Slave3_/1/pari20d2 = ");
         at != std::string::npos;
         at = run.output.find("\nOrvane_BusSimulator/DP_Slave3_/1/pari20d2 = ", at + 1))
        ++lines;
    EXPECT_EQ(5u, lines) << run.output;
    EXPECT_TRUE(Has(run, "VT_I2  quality 0x00C0")) << run.output;

    const ToolRun bad = RunOpcda(L"watch X --rate fast");
    EXPECT_EQ(1u, bad.exitCode) << bad.output;
}

TEST(Opcda, AsyncReadAndWrite) {
    const std::wstring item = L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18";
    ToolRun run = RunOpcda(L"write " + item + L"=1300 --async");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "pari1000d18: written")) << run.output;
    run = RunOpcda(L"read " + item + L" --async");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(Has(run, "pari1000d18 = 1300  VT_UI2  quality 0x00C0")) << run.output;
    run = RunOpcda(L"write " + item + L"=1500 --async");
    EXPECT_EQ(0u, run.exitCode) << run.output;
}

}  // namespace
