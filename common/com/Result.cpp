#include "com/Result.h"

#include "com/Log.h"

namespace com::detail {

void LogBoundaryException(const char* what) noexcept {
    Log::Get().Printf(LogLevel::kError, L"exception stopped at a COM boundary: %hs",
                      what ? what : "");
}

}  // namespace com::detail
