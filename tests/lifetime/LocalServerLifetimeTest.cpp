// Every local server of the system ends on its own: started by COM without a client, or started
// several times by clients that came at once, no process of it is left a few seconds after the
// last client has gone. Processes are counted through the toolhelp snapshot; every wait is
// bounded, generously, so that a loaded machine does not fail the test.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "com/ScopeExit.h"
#include "com/Strings.h"
#include "com/Sync.h"
#include "Processes.h"

namespace {

using test_support::ProcessIds;
using test_support::WaitForNoProcess;

constexpr DWORD kEndBoundMs = 30000;      // a server's end, a few seconds when all is well
constexpr DWORD kClientBoundMs = 120000;  // a client process: activation, status, release

struct LocalServer {
    const wchar_t* progId;
    const wchar_t* exe;
    // Processes that the server starts through its objects and that must end with it.
    std::vector<const wchar_t*> started_by_it;
};

const LocalServer kServers[] = {
    {L"Axolent.Orvane", L"Orvane.exe", {L"OrvaneBusSim.exe"}},
    {L"Orvane.BusSimulator", L"OrvaneBusSim.exe", {}},
};

std::string Text(const std::wstring& text) { return com::WideToUtf8(text); }

void PrintTo(const LocalServer& server, std::ostream* os) { *os << Text(server.progId); }

std::string Hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
    return text;
}

// The command line COM uses to start the server.
std::wstring LocalServerCommand(const wchar_t* progId) {
    const std::wstring path = test_support::LocalServer32Of(progId);
    return path.empty() ? L"" : L"\"" + path + L"\" -Embedding";
}

std::wstring BinDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

com::UniqueHandle Start(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return com::UniqueHandle();
    CloseHandle(info.hThread);
    return com::UniqueHandle(info.hProcess);
}

std::vector<const wchar_t*> ProcessesOf(const LocalServer& server) {
    std::vector<const wchar_t*> all{server.exe};
    all.insert(all.end(), server.started_by_it.begin(), server.started_by_it.end());
    return all;
}

void AssertNoneRunning(const LocalServer& server) {
    for (const wchar_t* exe : ProcessesOf(server))
        ASSERT_TRUE(WaitForNoProcess(exe, kEndBoundMs))
            << Text(exe) << " of an earlier test still runs";
}

void ExpectNoneLeft(const LocalServer& server) {
    for (const wchar_t* exe : ProcessesOf(server))
        EXPECT_TRUE(WaitForNoProcess(exe, kEndBoundMs))
            << ProcessIds(exe).size() << " " << Text(exe) << " still run after every client left";
}

std::string ServerName(const LocalServer& server) {
    std::string name;
    for (char c : Text(server.progId))
        if (isalnum(static_cast<unsigned char>(c))) name += c;
    return name;
}

class StartedByCom : public ::testing::TestWithParam<LocalServer> {};

TEST_P(StartedByCom, EndsWithoutAClient) {
    const LocalServer& server = GetParam();
    ASSERT_NO_FATAL_FAILURE(AssertNoneRunning(server));
    const std::wstring command = LocalServerCommand(server.progId);
    ASSERT_FALSE(command.empty()) << Text(server.progId) << " is not registered";
    com::UniqueHandle process = Start(command);
    ASSERT_TRUE(process) << "CreateProcess(" << Text(command) << ") failed: " << GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), kEndBoundMs))
        << Text(server.exe) << " -Embedding did not end without a client";
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(0u, code) << "exit code " << Hex(code);
    ExpectNoneLeft(server);
}

INSTANTIATE_TEST_SUITE_P(LocalServers, StartedByCom, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return ServerName(info.param); });

// Clients that come at once while the server does not run may start several processes of it
// (Wine does); every client must be served, and the processes that served nobody must end too.
struct Crowd {
    int processes;
    int threads;  // clients per process
};

void PrintTo(const Crowd& crowd, std::ostream* os) {
    *os << crowd.processes << " processes x " << crowd.threads << " threads";
}

class ConcurrentFirstClients : public ::testing::TestWithParam<std::tuple<LocalServer, Crowd>> {};

TEST_P(ConcurrentFirstClients, AllAreServedAndNoProcessRemains) {
    const LocalServer& server = std::get<0>(GetParam());
    const Crowd crowd = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(AssertNoneRunning(server));
    const int clients = crowd.processes * crowd.threads;
    const std::wstring suffix =
        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    const std::wstring readyName = L"OrvaneLifetimeReady-" + suffix;
    const std::wstring startName = L"OrvaneLifetimeStart-" + suffix;
    com::UniqueHandle ready(CreateSemaphoreW(nullptr, 0, clients, readyName.c_str()));
    com::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, startName.c_str()));
    ASSERT_TRUE(ready && start) << "CreateSemaphore/CreateEvent failed: " << GetLastError();
    // However the test ends, the clients are let go.
    com::ScopeExit release([&] { SetEvent(start.get()); });

    std::vector<com::UniqueHandle> processes;
    for (int i = 0; i < crowd.processes; ++i) {
        const std::wstring command = L"\"" + BinDirectory() + L"LifetimeClient.exe\" " +
                                     server.progId + L" " + readyName + L" " + startName + L" " +
                                     std::to_wstring(crowd.threads);
        processes.push_back(Start(command));
        ASSERT_TRUE(processes.back()) << "CreateProcess(" << Text(command) << ") failed";
    }
    for (int i = 0; i < clients; ++i)
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), kClientBoundMs))
            << "only " << i << " of " << clients << " clients got ready";
    SetEvent(start.get());

    for (int i = 0; i < crowd.processes; ++i) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(processes[i].get(), kClientBoundMs))
            << "client process " << i << " did not finish";
        DWORD code = 1;
        GetExitCodeProcess(processes[i].get(), &code);
        EXPECT_EQ(0u, code) << "client process " << i
                            << ": creating the server or GetStatus failed with " << Hex(code);
    }
    ExpectNoneLeft(server);
}

INSTANTIATE_TEST_SUITE_P(LocalServers, ConcurrentFirstClients,
                         ::testing::Combine(::testing::ValuesIn(kServers),
                                            ::testing::Values(Crowd{4, 1}, Crowd{1, 4})),
                         [](const auto& info) {
                             const Crowd crowd = std::get<1>(info.param);
                             return ServerName(std::get<0>(info.param)) + "_" +
                                    std::to_string(crowd.processes) + "Processes" +
                                    std::to_string(crowd.threads) + "Threads";
                         });

}  // namespace
