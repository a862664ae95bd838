// SettingsStore: the server settings below a root key that stands for HKEY_LOCAL_MACHINE
// (tests hand it a scratch key). Key and value names come from the program's string table.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "BusServerRecords.h"

namespace ovconfig {

struct RegistryNames {
    std::wstring software;       // "Software"
    std::wstring settings;       // "Axolent\Orvane", below software
    std::wstring busServers;     // "Axolent\Orvane\BusServers", below software
    std::wstring busServerInfo;  // "Axolent\Orvane\BusServerInfo", below software
    std::wstring progIdValue;    // "BusServerProgID1"
    std::wstring clsid;
    std::wstring devSpecific;
    std::wstring parSpecific;
    std::wstring version;
    std::wstring testAtItemCreate;
    std::wstring hideAdvancedControls;
    std::wstring serialBusAccess;
    std::wstring ownProgId;  // "Axolent.Orvane"

    static RegistryNames Load();
};

struct StoredSettings {
    std::wstring version;  // empty when missing, longer than 256 bytes or not text
    DWORD testAtItemCreate = 0;
    DWORD serialBusAccess = 0;     // missing: 0
    std::wstring busServerProgId;  // the chosen bus server
    BusServerRecords records;      // every subkey of "BusServerInfo"
};

struct SaveRequest {
    std::wstring busServerProgId;  // the selected list entry, else the one read at start
    BusServerRecords records;
    std::optional<DWORD> testAtItemCreate;  // nothing: the stored value stays
    std::optional<DWORD> serialBusAccess;   // nothing: the stored value stays
};

class SettingsStore {
public:
    explicit SettingsStore(HKEY root = HKEY_LOCAL_MACHINE);

    // Keys that cannot be opened leave the defaults.
    StoredSettings Read() const;
    DWORD ReadHideAdvancedControls() const;

    // OK's writes. Returns the string ids of the messages to show, in order; no failure stops
    // the steps after it. A ProgID without a class keeps "BusServers" as it is.
    std::vector<UINT> Save(const SaveRequest& request) const;

private:
    HKEY root_;
    RegistryNames names_;
};

}  // namespace ovconfig
