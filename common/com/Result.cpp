#include "com/Result.h"

#include "com/Log.h"

namespace com {

namespace detail {

namespace {
bool FailureTraceFromEnvironment() noexcept {
    wchar_t value[8] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"ORVANE_TRACE_FAILURES", value, 8);
    return n > 0 && n < 8 && value[0] != L'0';
}
}  // namespace

std::atomic<bool> g_failure_trace{FailureTraceFromEnvironment()};

void LogBoundaryException(const char* what) noexcept {
    Log::Get().Printf(LogLevel::kError, L"exception stopped at a COM boundary: %hs",
                      what ? what : "");
}

void TraceFailure(HRESULT hr, const char* expression, const char* file, int line) noexcept {
    // The file name alone: the build folder says nothing to the reader of a log.
    for (const char* p = file; *p; ++p) {
        if (*p == '/' || *p == '\\') file = p + 1;
    }
    Log::Get().Printf(LogLevel::kDebug, L"%hs(%d): 0x%08lX from %hs", file, line,
                      static_cast<unsigned long>(hr), expression);
}

}  // namespace detail

HRESULT MapFailure(HRESULT fixed, HRESULT original, const char* what) noexcept {
    Log::Get().Printf(LogLevel::kWarning, L"%hs failed with 0x%08lX, reported as 0x%08lX",
                      what ? what : "", static_cast<unsigned long>(original),
                      static_cast<unsigned long>(fixed));
    return fixed;
}

void SetFailureTrace(bool on) noexcept {
    detail::g_failure_trace.store(on, std::memory_order_relaxed);
}

}  // namespace com
