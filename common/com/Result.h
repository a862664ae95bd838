// com/Result.h - straight-line HRESULT handling and the boundary every COM method body runs in.
//
//   STDMETHODIMP CThing::Do(IFoo* pFoo, LONG* plOut) {
//       return com::ComBoundary([&] {
//           RETURN_IF_NULL_POINTER(plOut);
//           RETURN_IF_FAILED(pFoo->Step());
//           return S_OK;
//       });
//   }
//
// No exception may cross an interface: ComBoundary turns std::bad_alloc into E_OUTOFMEMORY,
// a com::HResultError into its HRESULT and anything else into E_FAIL (logged).
//
// With the failure trace on (com::SetFailureTrace, or ORVANE_TRACE_FAILURES=1 in the
// environment) every failure passed on by RETURN_IF_FAILED, RETURN_IF_WIN32_ERROR and
// THROW_IF_FAILED is logged at debug level with its expression, file and line. Off, it costs
// one relaxed load on the failure path only.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <new>
#include <type_traits>

#define COM_TRACE_FAILURE_(hr, expr)                                        \
    do {                                                                    \
        if (::com::detail::g_failure_trace.load(std::memory_order_relaxed)) \
            ::com::detail::TraceFailure((hr), expr, __FILE__, __LINE__);    \
    } while (0)

#define RETURN_IF_FAILED(expr)                     \
    do {                                           \
        const HRESULT hr_return_ = (expr);         \
        if (FAILED(hr_return_)) {                  \
            COM_TRACE_FAILURE_(hr_return_, #expr); \
            return hr_return_;                     \
        }                                          \
    } while (0)

// A Win32 or registry status (LSTATUS, DWORD error code); ERROR_SUCCESS goes on.
#define RETURN_IF_WIN32_ERROR(expr)                                    \
    do {                                                               \
        const LONG status_return_ = static_cast<LONG>(expr);           \
        if (status_return_ != ERROR_SUCCESS) {                         \
            const HRESULT hr_return_ = ::com::Win32Hr(status_return_); \
            COM_TRACE_FAILURE_(hr_return_, #expr);                     \
            return hr_return_;                                         \
        }                                                              \
    } while (0)

#define RETURN_HR_IF(hr, cond) \
    do {                       \
        if (cond) return (hr); \
    } while (0)

#define RETURN_HR_IF_NULL(hr, p) RETURN_HR_IF(hr, (p) == nullptr)
#define RETURN_IF_NULL_POINTER(p) RETURN_HR_IF(E_POINTER, (p) == nullptr)
#define RETURN_IF_NULL_ALLOC(p) RETURN_HR_IF(E_OUTOFMEMORY, (p) == nullptr)
#define RETURN_LAST_ERROR_IF(cond)           \
    do {                                     \
        if (cond) return com::LastErrorHr(); \
    } while (0)

// Inside a boundary only: throws com::HResultError on failure.
#define THROW_IF_FAILED(expr)                     \
    do {                                          \
        const HRESULT hr_throw_ = (expr);         \
        if (FAILED(hr_throw_)) {                  \
            COM_TRACE_FAILURE_(hr_throw_, #expr); \
            throw com::HResultError(hr_throw_);   \
        }                                         \
    } while (0)

namespace com {

// An HRESULT carried as an exception inside code that runs within ComBoundary.
class HResultError : public std::exception {
public:
    explicit HResultError(HRESULT hr) noexcept : hr_(hr) {}
    HRESULT hr() const noexcept { return hr_; }
    const char* what() const noexcept override { return "HRESULT failure"; }

private:
    HRESULT hr_;
};

// A Win32 or registry status as an HRESULT: ERROR_SUCCESS is S_OK.
constexpr HRESULT Win32Hr(LONG status) noexcept {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// GetLastError() as an HRESULT; never a success code (E_FAIL when no error was set).
inline HRESULT LastErrorHr() {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Where an interface reports any failure of a step as one fixed result (E_FAIL, E_POINTER),
// the original HRESULT goes to the log first, so that the cause leaves a trace:
//   if (FAILED(hr)) return com::MapFailure(E_FAIL, hr, "Init: connecting the bus server");
HRESULT MapFailure(HRESULT fixed, HRESULT original, const char* what) noexcept;

// Switches the failure trace of the RETURN_IF_FAILED family (see above) for this module.
void SetFailureTrace(bool on) noexcept;

namespace detail {
// Writes an escaped exception to the log (defined in Result.cpp).
void LogBoundaryException(const char* what) noexcept;
extern std::atomic<bool> g_failure_trace;
void TraceFailure(HRESULT hr, const char* expression, const char* file, int line) noexcept;
}  // namespace detail

// Runs a method body; the body returns an HRESULT (or nothing, which means S_OK).
template <class F>
HRESULT ComBoundary(F&& body) noexcept {
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return S_OK;
        } else {
            return body();
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const HResultError& e) {
        return e.hr();
    } catch (const std::exception& e) {
        detail::LogBoundaryException(e.what());
        return E_FAIL;
    } catch (...) {
        detail::LogBoundaryException("unknown exception");
        return E_FAIL;
    }
}

}  // namespace com
