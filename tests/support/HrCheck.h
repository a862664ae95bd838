// EXPECT_HR / ASSERT_HR: an HRESULT check that names the call and shows both results in hex.
//
//   EXPECT_HR(S_OK, server->AddGroup(...)) << "group " << name;
//   // AddGroup failure: "server->AddGroup(...) returned 0x80070057, expected 0x00000000"
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace test_support {

// "0x8007000E", plus what the describer set for the program adds (a test server's own codes).
std::string HrText(HRESULT hr);
// Returns "" for codes it does not know.
using HrDescriber = std::string (*)(HRESULT hr);
void SetHrDescriber(HrDescriber describer);

// For EXPECT_HR: a failure message with the call text and both results.
::testing::AssertionResult HrEquals(const char* expected_text, const char* call_text,
                                    HRESULT expected, HRESULT actual);

}  // namespace test_support

#define EXPECT_HR(expected, call) \
    EXPECT_PRED_FORMAT2(::test_support::HrEquals, static_cast<HRESULT>(expected), (call))
#define ASSERT_HR(expected, call) \
    ASSERT_PRED_FORMAT2(::test_support::HrEquals, static_cast<HRESULT>(expected), (call))
