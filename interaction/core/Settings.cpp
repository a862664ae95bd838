#include "Settings.h"

#include <cstring>
#include <string>
#include <vector>

#include "CommLog.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kDefaultLoggingPath[] = L"C:\\Orvane\\Logging";
// "LoggingPath" is read into a buffer of this many bytes; a longer value cannot be read.
constexpr DWORD kLoggingPathBytes = 4000;
// "CommLogging" is read into a buffer of this many bytes; its first four count.
constexpr DWORD kCommLoggingBytes = 10;

// The stored bytes, whatever their registry type, as a little-endian 32-bit number.
// Data longer than `bufferBytes` cannot be read and leaves `value` unchanged.
void QueryRaw(HKEY key, const wchar_t* name, DWORD bufferBytes, DWORD* value) {
    std::vector<BYTE> buffer(bufferBytes, 0);
    DWORD size = bufferBytes;
    if (RegQueryValueExW(key, name, nullptr, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return;
    DWORD number = 0;
    std::memcpy(&number, buffer.data(), sizeof(number));
    *value = number;
}

std::wstring QueryLoggingPath(HKEY key) {
    // One character more than the buffer holds, so that the text always ends.
    std::vector<wchar_t> buffer(kLoggingPathBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = kLoggingPathBytes;
    if (RegQueryValueExW(key, L"LoggingPath", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return kDefaultLoggingPath;
    return std::wstring(buffer.data());
}

}  // namespace

Settings ReadSettings(HKEY root, const wchar_t* subkey) {
    CommLog::SwitchOff();
    Settings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return settings;

    QueryRaw(key, L"MaxPollCountRead", sizeof(DWORD), &settings.maxPollCountRead);
    QueryRaw(key, L"MaxPollCountWrite", sizeof(DWORD), &settings.maxPollCountWrite);
    QueryRaw(key, L"TestAtItemCreate", sizeof(DWORD), &settings.testAtItemCreate);
    QueryRaw(key, L"TimeoutSeconds", sizeof(DWORD), &settings.timeoutSeconds);
    QueryRaw(key, L"TimeoutCheckNamespace", sizeof(DWORD), &settings.timeoutCheckNamespace);
    const std::wstring directory = QueryLoggingPath(key);
    DWORD commLogging = 0;
    QueryRaw(key, L"CommLogging", kCommLoggingBytes, &commLogging);
    RegCloseKey(key);

    CommLog::Configure(commLogging, directory);
    if (CommLog::FileOn()) {
        CreateDirectoryWalk(directory);
        DeleteFileW(CommLog::FilePath().c_str());
    }
    return settings;
}

}  // namespace orvane::interaction
