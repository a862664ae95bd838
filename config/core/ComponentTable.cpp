#include "ComponentTable.h"

#include "ComponentVersion.h"
#include "com/RegKey.h"

namespace ovconfig {
namespace {

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Expand(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) return text;
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), &expanded[0], needed);
    if (written == 0 || written > needed) return text;
    expanded.resize(written - 1);
    return expanded;
}

std::wstring LongPath(const std::wstring& path) {
    const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetLongPathNameW(path.c_str(), &full[0], needed);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return full;
}

// The server file of a class, read through the class's registry keys (not CLSIDFromProgID,
// which under Wine ignores a redirected HKEY_CLASSES_ROOT).
bool ServerFile(const std::wstring& progId, std::wstring* path) {
    com::RegKey progIdKey;
    std::wstring clsid;
    if (progIdKey.Open(HKEY_CLASSES_ROOT, progId + L"\\CLSID") != ERROR_SUCCESS ||
        progIdKey.ReadText(nullptr, &clsid) != ERROR_SUCCESS || clsid.empty())
        return false;
    for (const wchar_t* server : {L"InprocServer32", L"LocalServer32", L"LocalServer"}) {
        com::RegKey key;
        std::wstring command;
        DWORD type = 0;
        if (key.Open(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\" + server) != ERROR_SUCCESS ||
            key.ReadText(nullptr, &command, &type) != ERROR_SUCCESS)
            continue;
        if (type == REG_EXPAND_SZ) command = Expand(command);
        *path = ProgramPath(command);
        if (!path->empty()) return true;
    }
    return false;
}

}  // namespace

const std::vector<std::wstring>& ComponentProgIds() {
    static const std::vector<std::wstring> progIds = {
        L"Axolent.Orvane",       L"Orvane.OrvaneInteraction",  L"OV_Param.OV_Parameter",
        L"VkyOPC.vkInteraction", L"VkObjectModel.ModelObject", L"VkOPCInteraction.OPCInteraction"};
    return progIds;
}

std::wstring ProgramPath(const std::wstring& command) {
    const size_t start = command.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return {};
    if (command[start] == L'"') {
        const size_t end = command.find(L'"', start + 1);
        return command.substr(start + 1, end == std::wstring::npos ? end : end - start - 1);
    }
    std::wstring text = command.substr(start);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.pop_back();
    if (IsFile(text)) return text;
    // "C:\Program Files\x.exe -Embedding": the longest part before a blank that is a file.
    for (size_t blank = text.rfind(L' '); blank != std::wstring::npos && blank > 0;
         blank = text.rfind(L' ', blank - 1)) {
        if (IsFile(text.substr(0, blank))) return text.substr(0, blank);
    }
    return text.substr(0, text.find(L' '));
}

std::vector<ComponentRow> ReadComponentRows() {
    std::vector<ComponentRow> rows;
    for (const std::wstring& progId : ComponentProgIds()) {
        std::wstring path;
        ComponentVersion version;
        if (!ServerFile(progId, &path) || !ReadComponentVersion(path, &version)) continue;
        rows.push_back({version.internalName, version.version, LongPath(path)});
    }
    return rows;
}

}  // namespace ovconfig
