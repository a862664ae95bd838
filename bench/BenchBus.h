// What the benchmarks that run on a bus of their own share: the simulator loads the
// topology file named in the registry at its start, so a bench writes its file, waits
// until no simulator and no Orvane of an earlier bus runs, and removes the name after.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BusTopology.h"

namespace bench {

inline bool Running(const wchar_t* exe) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {sizeof(entry)};
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry))
        running = _wcsicmp(entry.szExeFile, exe) == 0;
    CloseHandle(snapshot);
    return running;
}

// Both processes end about a second after their last object; a new bus needs a new
// simulator, and the server must not keep the old one's connection.
inline bool AwaitIdle() {
    for (int i = 0; i < 300; ++i) {
        if (!Running(L"OrvaneBusSim.exe") && !Running(L"Orvane.exe")) return true;
        Sleep(100);
    }
    return false;
}

// The bench's bus: see tests/support/BusTopology.h.
using test_support::ForgetTopology;
using test_support::UseTopology;

inline double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * now.QuadPart / frequency.QuadPart;
}

}  // namespace bench
