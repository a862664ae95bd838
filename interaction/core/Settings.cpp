#include "Settings.h"

#include <cstring>
#include <string>
#include <vector>

#include "CommLog.h"
#include "com/RegKey.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kDefaultLoggingPath[] = L"C:\\Orvane\\Logging";
// "LoggingPath" is read into a buffer of this many bytes; a longer value cannot be read.
constexpr DWORD kLoggingPathBytes = 4000;
// "CommLogging" is read into a buffer of this many bytes; its first four count.
constexpr DWORD kCommLoggingBytes = 10;

std::wstring QueryLoggingPath(const com::RegKey& key) {
    std::vector<BYTE> data;
    if (key.ReadBytes(L"LoggingPath", kLoggingPathBytes, &data) != ERROR_SUCCESS)
        return kDefaultLoggingPath;
    // Whatever the stored type, the text ends at its first NUL or with the data.
    std::wstring text((data.size() + 1) / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), data.size());
    return std::wstring(text.c_str());
}

}  // namespace

Settings ReadSettings(HKEY root, const wchar_t* subkey) {
    CommLog::SwitchOff();
    Settings settings;
    com::RegKey key;
    if (key.Open(root, subkey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return settings;

    // Each value is read as the first four of at most so many stored bytes, whatever its
    // type; anything longer cannot be read and keeps the default.
    key.ReadRaw32(L"MaxPollCountRead", sizeof(DWORD), &settings.maxPollCountRead);
    key.ReadRaw32(L"MaxPollCountWrite", sizeof(DWORD), &settings.maxPollCountWrite);
    key.ReadRaw32(L"TestAtItemCreate", sizeof(DWORD), &settings.testAtItemCreate);
    key.ReadRaw32(L"TimeoutSeconds", sizeof(DWORD), &settings.timeoutSeconds);
    key.ReadRaw32(L"TimeoutCheckNamespace", sizeof(DWORD), &settings.timeoutCheckNamespace);
    key.ReadRaw32(L"SerialBusAccess", sizeof(DWORD), &settings.serialBusAccess);
    const std::wstring directory = QueryLoggingPath(key);
    DWORD commLogging = 0;
    key.ReadRaw32(L"CommLogging", kCommLoggingBytes, &commLogging);
    key.reset();

    CommLog::Configure(commLogging, directory);
    if (CommLog::FileOn()) {
        CreateDirectoryWalk(directory);
        DeleteFileW(CommLog::FilePath().c_str());
    }
    return settings;
}

}  // namespace orvane::interaction
