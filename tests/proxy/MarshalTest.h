// Shared by the marshalling tests: the fixture that creates the test server out of
// process, HRESULT messages that decode the server's in-value checks, and owners
// for the out-arrays the OPC methods hand back.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "MarshalCases.h"
#include "com/ComPtr.h"
#include "com/Memory.h"

namespace marshal {

// "0x80004005", or for a server check "0xc004e0f1 (server rejected an in-value,
// MarshalServer.cpp line 241)".
std::string HrText(HRESULT hr);

class OpcMarshalTest : public ::testing::Test {
protected:
    void SetUp() override;

    template <class I>
    com::ComPtr<I> Query() {
        com::ComPtr<I> result;
        const HRESULT hr = server_.query(&result);
        EXPECT_EQ(S_OK, hr) << "QueryInterface for " << typeid(I).name() << " returned "
                            << HrText(hr);
        return result;
    }

    // Adds kGroupName and returns the group's interface I.
    template <class I>
    com::ComPtr<I> AddGroup() {
        LONG bias = kTimeBias;
        FLOAT deadband = kDeadband;
        OPCHANDLE server = 0;
        DWORD revised = 0;
        com::ComPtr<I> group;
        const HRESULT hr =
            server_->AddGroup(kGroupName, TRUE, kRequestedRate, kClientGroup, &bias, &deadband,
                              kLcid, &server, &revised, __uuidof(I), group.put_unknown());
        EXPECT_EQ(S_OK, hr) << "AddGroup returned " << HrText(hr);
        return group;
    }

    com::ComPtr<IOPCServer> server_;
};

// Frees the members of out-structures and the per-element allocations of out-arrays.
void Free(OPCITEMSTATE* states, DWORD count);
void Free(OPCITEMRESULT* results, DWORD count);
void Free(OPCITEMATTRIBUTES* items, DWORD count);
void Free(VARIANT* values, DWORD count);
void Free(LPWSTR* strings, DWORD count);

}  // namespace marshal

#define EXPECT_HR(expected, call)                                                    \
    do {                                                                             \
        const HRESULT hr_expect_ = (call);                                           \
        EXPECT_EQ(static_cast<HRESULT>(expected), hr_expect_)                        \
            << #call << " returned " << marshal::HrText(hr_expect_) << ", expected " \
            << marshal::HrText(expected);                                            \
    } while (0)

#define ASSERT_HR(expected, call)                                                    \
    do {                                                                             \
        const HRESULT hr_assert_ = (call);                                           \
        ASSERT_EQ(static_cast<HRESULT>(expected), hr_assert_)                        \
            << #call << " returned " << marshal::HrText(hr_assert_) << ", expected " \
            << marshal::HrText(expected);                                            \
    } while (0)
