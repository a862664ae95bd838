// Shared by the marshalling tests: the fixture that creates the test server out of
// process, HRESULT messages that decode the server's in-value checks, and owners
// for the out-arrays the OPC methods hand back.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "HrCheck.h"
#include "MarshalCases.h"
#include "com/ComPtr.h"
#include "com/Memory.h"

namespace marshal {

// "0x80004005", or for a server check "0xC004E0F1 (server rejected an in-value,
// MarshalServer.cpp line 241)".
using test_support::HrText;
std::string DescribeMismatch(HRESULT hr);

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
