#include "SettingsStore.h"

#include <objbase.h>

#include "Texts.h"
#include "com/RegKey.h"
#include "com/Strings.h"
#include "resource.h"

namespace ovconfig {
namespace {

// The registry names are the same in every language of the string table.
std::wstring Name(UINT id) { return LoadText(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)); }

// The string table's "%s" and "%d" placeholders, filled in without printf: the texts are
// data, and printf's idea of "%s" in a wide format differs between C runtimes.
std::wstring FormatName(UINT id, const wchar_t* placeholder, const std::wstring& argument) {
    std::wstring text = Name(id);
    const size_t at = text.find(placeholder);
    if (at != std::wstring::npos) text.replace(at, 2, argument);
    return text;
}

// Data of "Version" beyond this is not shown.
constexpr DWORD kVersionMaxBytes = 256;

// "{...}" of the ProgID's class, or nothing when it has none.
std::optional<std::wstring> ClassOf(const std::wstring& progId) {
    CLSID clsid;
    if (progId.empty() || FAILED(CLSIDFromProgID(progId.c_str(), &clsid))) return std::nullopt;
    return com::GuidToString(clsid, true);
}

// A value the request leaves out keeps what is stored.
bool WriteIfGiven(const com::RegKey& key, const std::wstring& name,
                  const std::optional<DWORD>& value) {
    return !value || key.WriteDword(name.c_str(), *value) == ERROR_SUCCESS;
}

}  // namespace

RegistryNames RegistryNames::Load() {
    const std::wstring product = Name(IDS_PROJNAME);
    RegistryNames names;
    names.software = Name(IDS_SOFTWARE);
    names.settings = FormatName(IDS_PRODUCT_KEY_FORMAT, L"%s", product);
    names.busServers = FormatName(IDS_BUSSERVERS_PATH, L"%s", product);
    names.busServerInfo = FormatName(IDS_BUSSERVERINFO_PATH, L"%s", product);
    names.progIdValue = FormatName(IDS_BUSSERVERPROGID, L"%d", L"1");
    names.clsid = Name(IDS_CLSID);
    names.devSpecific = Name(IDS_DEVSPECIFIC);
    names.parSpecific = Name(IDS_PARSPECIFIC);
    names.version = Name(IDS_VERSION);
    names.testAtItemCreate = Name(IDS_TESTATITEMCREATE);
    names.hideAdvancedControls = Name(IDS_HIDEADVANCEDCONTROLS);
    names.serialBusAccess = Name(IDS_SERIALBUSACCESS);
    names.ownProgId = Name(IDS_OWN_PROGID);
    return names;
}

SettingsStore::SettingsStore(HKEY root) : root_(root), names_(RegistryNames::Load()) {}

StoredSettings SettingsStore::Read() const {
    StoredSettings stored;
    com::RegKey software;
    if (software.Open(root_, names_.software) != ERROR_SUCCESS) return stored;
    com::RegKey settings;
    if (settings.Open(software.get(), names_.settings) == ERROR_SUCCESS) {
        settings.ReadText(names_.version.c_str(), &stored.version, nullptr, kVersionMaxBytes);
        settings.ReadRaw32(names_.testAtItemCreate.c_str(), sizeof(DWORD),
                           &stored.testAtItemCreate);
        settings.ReadRaw32(names_.serialBusAccess.c_str(), sizeof(DWORD), &stored.serialBusAccess);
    }
    com::RegKey info;
    if (info.Open(software.get(), names_.busServerInfo) == ERROR_SUCCESS) {
        for (const std::wstring& progId : info.SubkeyNames()) {
            com::RegKey server;
            std::wstring dev, par;
            if (server.Open(info.get(), progId) == ERROR_SUCCESS) {
                server.ReadText(names_.devSpecific.c_str(), &dev);
                server.ReadText(names_.parSpecific.c_str(), &par);
            }
            stored.records.Store(progId, dev, par);
        }
    }
    com::RegKey servers;
    if (servers.Open(software.get(), names_.busServers) == ERROR_SUCCESS)
        servers.ReadText(names_.progIdValue.c_str(), &stored.busServerProgId);
    return stored;
}

DWORD SettingsStore::ReadHideAdvancedControls() const {
    com::RegKey settings;
    DWORD mask = 0;
    if (settings.Open(root_, names_.software + L"\\" + names_.settings) == ERROR_SUCCESS)
        settings.ReadRaw32(names_.hideAdvancedControls.c_str(), sizeof(DWORD), &mask);
    return mask;
}

std::vector<UINT> SettingsStore::Save(const SaveRequest& request) const {
    std::vector<UINT> messages;
    com::RegKey software;
    if (software.Open(root_, names_.software, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
        messages.push_back(IDS_ERROR_OPEN_FOR_WRITING);
        return messages;
    }
    // Resolved before anything is deleted: a server that is gone must not take the
    // configured choice with it.
    const std::optional<std::wstring> clsid = ClassOf(request.busServerProgId);

    com::RegKey servers, info;
    bool created = true;
    if (clsid) {
        RegDeleteTreeW(software.get(), names_.busServers.c_str());
        created = servers.Create(software.get(), names_.busServers) == ERROR_SUCCESS;
    }
    if (created) {
        RegDeleteTreeW(software.get(), names_.busServerInfo.c_str());
        created = info.Create(software.get(), names_.busServerInfo) == ERROR_SUCCESS;
    }
    if (!created) {
        messages.push_back(IDS_ERROR_CREATE_KEY);
    } else {
        bool saved = false;
        if (clsid) {
            com::RegKey server;
            saved = servers.WriteString(names_.progIdValue.c_str(), request.busServerProgId) ==
                        ERROR_SUCCESS &&
                    server.Create(info.get(), request.busServerProgId) == ERROR_SUCCESS &&
                    server.WriteString(names_.clsid.c_str(), *clsid) == ERROR_SUCCESS;
        }
        if (!saved) messages.push_back(IDS_ERROR_SAVING);

        bool failed = false;
        for (const BusServerRecord& record : request.records.all()) {
            if (record.devSpecific.empty() && record.parSpecific.empty()) continue;
            com::RegKey server;
            if (server.Create(info.get(), record.progId) != ERROR_SUCCESS) {
                failed = true;
                continue;
            }
            if (!record.devSpecific.empty() &&
                server.WriteString(names_.devSpecific.c_str(), record.devSpecific) != ERROR_SUCCESS)
                failed = true;
            if (!record.parSpecific.empty() &&
                server.WriteString(names_.parSpecific.c_str(), record.parSpecific) != ERROR_SUCCESS)
                failed = true;
        }
        if (failed) messages.push_back(IDS_ERROR_SAVING);
    }

    // One message for the settings key, however many of its values fail.
    com::RegKey settings;
    bool written =
        settings.Open(software.get(), names_.settings, KEY_READ | KEY_WRITE) == ERROR_SUCCESS;
    if (written) {
        const bool test = WriteIfGiven(settings, names_.testAtItemCreate, request.testAtItemCreate);
        const bool serial = WriteIfGiven(settings, names_.serialBusAccess, request.serialBusAccess);
        written = test && serial;
    }
    if (!written) messages.push_back(IDS_ERROR_OPEN_FOR_WRITING);
    return messages;
}

}  // namespace ovconfig
