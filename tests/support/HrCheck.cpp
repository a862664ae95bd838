#include "HrCheck.h"

#include <cstdio>

namespace test_support {

namespace {
HrDescriber g_describer = nullptr;
}  // namespace

void SetHrDescriber(HrDescriber describer) { g_describer = describer; }

std::string HrText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    const std::string more = g_describer ? g_describer(hr) : std::string();
    return more.empty() ? std::string(text) : std::string(text) + " (" + more + ")";
}

::testing::AssertionResult HrEquals(const char*, const char* call_text, HRESULT expected,
                                    HRESULT actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    // The macro wraps the call in parentheses; the message shows it as written.
    std::string call(call_text);
    if (call.size() >= 2 && call.front() == '(' && call.back() == ')')
        call = call.substr(1, call.size() - 2);
    return ::testing::AssertionFailure()
           << call << " returned " << HrText(actual) << ", expected " << HrText(expected);
}

}  // namespace test_support
