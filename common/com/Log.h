// com/Log.h - small thread-safe diagnostic log: timestamped lines to a file (if one is set) and
// to OutputDebugString. Used by every module.
//
//   com::Log::Get().SetFile(L"C:\\temp\\orvane.log");   // or env ORVANE_LOG at first use
//   LOG_ERROR(L"AddGroup: %ls failed with %#lx", name, hr);
//
// Formats are wide printf formats: use %ls for wide strings and %hs for narrow ones.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

#include "com/Sync.h"

namespace com {

enum class LogLevel { kDebug, kInfo, kWarning, kError };

class Log {
public:
    static Log& Get();

    // Appends to path from now on (shared, several processes may write one file); "" turns
    // the file off.
    void SetFile(const std::wstring& path);
    std::wstring file() const;

    // One line: "2026-12-07 11:12:13.456 [pid:tid] ERROR text".
    void Write(LogLevel level, const std::wstring& text) noexcept;
    void Printf(LogLevel level, const wchar_t* format, ...) noexcept;
    void VPrintf(LogLevel level, const wchar_t* format, va_list args) noexcept;

private:
    Log();
    ~Log();

    mutable CriticalSection lock_;  // guards path_, file_
    std::wstring path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace com

#define LOG_DEBUG(...) ::com::Log::Get().Printf(::com::LogLevel::kDebug, __VA_ARGS__)
#define LOG_INFO(...) ::com::Log::Get().Printf(::com::LogLevel::kInfo, __VA_ARGS__)
#define LOG_WARNING(...) ::com::Log::Get().Printf(::com::LogLevel::kWarning, __VA_ARGS__)
#define LOG_ERROR(...) ::com::Log::Get().Printf(::com::LogLevel::kError, __VA_ARGS__)
