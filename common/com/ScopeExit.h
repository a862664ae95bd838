// com/ScopeExit.h - runs a one-off clean-up when the scope ends, unless dismissed.
//
//   com::ScopeExit undo([&] { container.Remove(handle); });
//   RETURN_IF_FAILED(NextStep());
//   undo.dismiss();
#pragma once

#include <utility>

namespace com {

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit() {
        if (active_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    void dismiss() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <class F>
ScopeExit(F) -> ScopeExit<F>;

}  // namespace com
