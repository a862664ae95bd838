// A client process killed while it holds groups must not take the server down.
// Wine keeps the dead client's references, so the server process stays; the
// CTest wrapper restarts the wineserver after this program.
#include <gtest/gtest.h>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/ComPtr.h"
#include "com/Sync.h"

namespace {

constexpr DWORD kWaitMs = 60000;

TEST(KilledClient, ServerKeepsServingTheOtherClients) {
    ASSERT_TRUE(WaitForNoServerProcess(kWaitMs)) << "an earlier server process did not end";
    com::ComPtr<IOPCServer> mine;
    ASSERT_HR(S_OK, CreateServer(&mine));
    const std::vector<DWORD> servers = ServerProcesses();
    ASSERT_EQ(1u, servers.size()) << "one Orvane.exe should run";

    const std::wstring eventName =
        L"OrvaneTestHolderReady" + std::to_wstring(GetCurrentProcessId());
    com::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(ready) << "CreateEvent";
    std::wstring commandLine = L"\"" + BinDirectory() + L"ServerClientHolder.exe\" " + eventName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info))
        << "CreateProcess(ServerClientHolder.exe)";
    com::UniqueHandle holder(info.hProcess);
    CloseHandle(info.hThread);
    HANDLE waits[] = {ready.get(), holder.get()};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kWaitMs);
    if (woke != WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(holder.get(), &code);
        TerminateProcess(holder.get(), 1);
        FAIL() << "the holder did not get its groups (wait result " << woke << ", exit code "
               << code << ")";
    }

    ASSERT_TRUE(TerminateProcess(holder.get(), 9)) << "TerminateProcess(holder)";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder.get(), kWaitMs));

    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(S_OK, mine->GetStatus(&status)) << "GetStatus after the other client died";
    EXPECT_EQ(0u, status->dwGroupCount)
        << "the dead client's groups belong to its own server object";
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    com::ComPtr<IUnknown> group;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    EXPECT_HR(S_OK, mine->AddGroup(L"AfterKill", TRUE, 500, 1, nullptr, nullptr, 0, &handle,
                                   &revised, IID_IUnknown, group.put()))
        << "AddGroup after the other client died";
    com::ComPtr<IOPCServer> another;
    EXPECT_HR(S_OK, CreateServer(&another)) << "a new client after the other one died";
    EXPECT_EQ(servers, ServerProcesses()) << "the same server process serves on";
}

// Runs after the test above: the server of its dead client may still run.
TEST(KilledClient, ADeadSubscriberIsDroppedAndItsDriveNoLongerPolled) {
    com::ComPtr<IOPCServer> sim, mine;
    ASSERT_HR(S_OK, CreateSimulator(&sim));
    const std::wstring eventName =
        L"OrvaneTestSubscriberReady" + std::to_wstring(GetCurrentProcessId());
    com::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(ready) << "CreateEvent";
    std::wstring commandLine =
        L"\"" + BinDirectory() + L"ServerClientHolder.exe\" " + eventName + L" subscribe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    com::UniqueHandle holder(info.hProcess);
    CloseHandle(info.hThread);
    HANDLE waits[] = {ready.get(), holder.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, kWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(holder.get(), 1);
        FAIL() << "the holder got no data change";
    }
    ASSERT_TRUE(TerminateProcess(holder.get(), 9));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder.get(), kWaitMs));

    // The server drops the dead sink at its next callback and stops polling for it.
    SimItem requests(sim.get(), L"Sim/Slave3/Requests");
    LONG before = requests.Number(), after = -2;
    for (int round = 0; round < 30 && before != after; ++round) {
        Sleep(2000);
        before = after == -2 ? before : after;
        after = requests.Number();
    }
    EXPECT_EQ(before, after) << "Sim/Slave3/Requests still grows";
    ASSERT_HR(S_OK, CreateServer(&mine));
    SimItem setpoint(mine.get(), L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18");
    EXPECT_LE(0, setpoint.Number()) << "another client still reads the drive";
}

}  // namespace
