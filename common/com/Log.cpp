#include "com/Log.h"

#include <cstdlib>

#include "com/Strings.h"

namespace com {

namespace {
const wchar_t* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::kDebug: return L"DEBUG";
        case LogLevel::kInfo: return L"INFO";
        case LogLevel::kWarning: return L"WARNING";
        case LogLevel::kError: return L"ERROR";
    }
    return L"?";
}
}  // namespace

Log& Log::Get() {
    // Never destroyed: modules log until the very end of the process.
    static Log* log = new Log();
    return *log;
}

Log::Log() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"ORVANE_LOG", path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) SetFile(path);
}

Log::~Log() { SetFile(std::wstring()); }

void Log::SetFile(const std::wstring& path) {
    CsLock guard(lock_);
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    path_ = path;
    if (path.empty()) return;
    // Append-only and shared, so that every process of the system may write the same file.
    file_ = ::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring Log::file() const {
    CsLock guard(lock_);
    return path_;
}

void Log::Write(LogLevel level, const std::wstring& text) noexcept {
    try {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        const std::wstring line =
            Format(L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] %ls ", now.wYear, now.wMonth,
                   now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                   ::GetCurrentProcessId(), ::GetCurrentThreadId(), LevelName(level)) +
            text + L"\r\n";
        ::OutputDebugStringW(line.c_str());
        const std::string utf8 = WideToUtf8(line);
        CsLock guard(lock_);
        if (file_ != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            ::WriteFile(file_, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
        }
    } catch (...) {
        // Logging never fails its caller.
    }
}

void Log::VPrintf(LogLevel level, const wchar_t* format, va_list args) noexcept {
    try {
        Write(level, VFormat(format, args));
    } catch (...) {
    }
}

void Log::Printf(LogLevel level, const wchar_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    VPrintf(level, format, args);
    va_end(args);
}

}  // namespace com
