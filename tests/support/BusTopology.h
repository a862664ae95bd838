// A bus of a test's (or benchmark's) own for the simulator, which loads the topology file
// named in the registry when it starts: write the file and name it before the simulator
// starts, forget it after. Header-only, so that a benchmark uses it without linking gtest.
//
//   ASSERT_TRUE(test_support::UseTopology(text, L"orvane_bulk_pass.topology"));
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace test_support {

constexpr wchar_t kSimulatorKey[] = L"Software\\Axolent\\OrvaneBusSim";

// Writes `text` to the file `name` in the temporary folder and makes it the bus of the
// next simulator to start.
inline bool UseTopology(const std::string& text, const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + name;
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    fputs(text.c_str(), file);
    fclose(file);
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSimulatorKey, L"TopologyFile", REG_SZ, path.c_str(),
                           static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

// The next simulator takes the default bus again.
inline void ForgetTopology() {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSimulatorKey, L"TopologyFile");
}

}  // namespace test_support
