// The registered local server of a ProgID and the running processes of one program file, for
// tests and benchmarks that watch a local server start and end. Header-only, so that a benchmark uses it without linking gtest.
//
//   ASSERT_TRUE(test_support::WaitForNoProcess(L"Orvane.exe", 10000));
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "com/RegKey.h"
#include "com/Sync.h"
#include "com/Strings.h"

namespace test_support {

// The LocalServer32 command registered for the ProgID's class; empty when there is none.
inline std::wstring LocalServer32Of(const std::wstring& progId) {
    std::wstring clsid, command;
    com::RegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, progId + L"\\CLSID") != ERROR_SUCCESS ||
        key.ReadString(nullptr, &clsid) != ERROR_SUCCESS || clsid.empty() ||
        key.Open(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\LocalServer32") != ERROR_SUCCESS ||
        key.ReadString(nullptr, &command) != ERROR_SUCCESS)
        return L"";
    return command;
}

// The ids of the processes whose program file is exe (a file name without folder).
inline std::vector<DWORD> ProcessIds(const std::wstring& exe) {
    std::vector<DWORD> ids;
    com::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    const size_t tilde = exe.find(L'~');
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        // The 8.3 name of a registration matches the process only by its start.
        if (com::EqualsNoCase(entry.szExeFile, exe.c_str()) ||
            (tilde != std::wstring::npos && _wcsnicmp(entry.szExeFile, exe.c_str(), tilde) == 0))
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

// Waits on the processes themselves until none of that name is left; false when some still
// run after timeoutMs.
inline bool WaitForNoProcess(const std::wstring& exe, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const std::vector<DWORD> ids = ProcessIds(exe);
        if (ids.empty()) return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        com::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, ids.front()));
        if (process)
            ::WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - now));
        else
            ::Sleep(50);
    }
}

// Ends every process of that name with TerminateProcess and waits for each; false when one
// could not be opened, ended or waited for, or none ran.
inline bool KillProcesses(const std::wstring& exe, DWORD timeoutMs) {
    const std::vector<DWORD> ids = ProcessIds(exe);
    for (const DWORD id : ids) {
        com::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process || !::TerminateProcess(process.get(), 9) ||
            ::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0)
            return false;
    }
    return !ids.empty();
}

// Kills the bus simulator the way a crash would. Windows forgets the class registrations of
// a process that dies; Wine's rpcss keeps them, and every later activation of the class
// fails until rpcss is gone as well (combase starts a new one at its next call).
inline bool KillBusSimulator(DWORD timeoutMs) {
    return KillProcesses(L"OrvaneBusSim.exe", timeoutMs) && KillProcesses(L"rpcss.exe", timeoutMs);
}

}  // namespace test_support
