// The tuning values of an interaction object, read from the registry once per
// construction. Reading them also sets up the process-wide communication log.
#pragma once

#include <windows.h>

namespace orvane::interaction {

// HKEY_LOCAL_MACHINE key of every setting of the module (and of the bus-server choice).
constexpr wchar_t kSettingsKey[] = L"Software\\Axolent\\Orvane";

struct Settings {
    DWORD maxPollCountRead = 300;         // repeated reads after a read or multi-parameter change
    DWORD maxPollCountWrite = 10000;      // repeated reads after a single-parameter change
    DWORD testAtItemCreate = 0;           // bit 0: read test, bit 1: write the value back
    DWORD timeoutSeconds = 300;           // how long a transfer polls for the answer
    DWORD timeoutCheckNamespace = 30000;  // completion timeout of an asynchronous request, ms
    DWORD serialBusAccess = 0;  // not 0: one synchronous exchange at a time on the whole line
};

// Reads the values under root\subkey; anything missing or unreadable keeps its
// default. Resets the log switches first and then sets them and the log directory
// from "CommLogging" and "LoggingPath"; with file logging on, creates the directory
// and deletes the previous log file. Never fails.
Settings ReadSettings(HKEY root = HKEY_LOCAL_MACHINE, const wchar_t* subkey = kSettingsKey);

}  // namespace orvane::interaction
