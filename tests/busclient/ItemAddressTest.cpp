#include "ItemAddress.h"

#include <gtest/gtest.h>

namespace vkopc {
namespace {

struct SplitCase {
    const wchar_t* address;
    HRESULT hr;
    const wchar_t* progId;
    const wchar_t* itemId;
};

TEST(SplitItemAddress, AcceptsAndRefusesAddresses) {
    const SplitCase cases[] = {
        {L"opc://Orvane.BusSimulator/DP/Slave3/SlotI0S47D8209", S_OK, L"Orvane.BusSimulator",
         L"DP/Slave3/SlotI0S47D8209"},
        // The prefix is compared without regard to case.
        {L"OPC://Orvane.BusSimulator/A", S_OK, L"Orvane.BusSimulator", L"A"},
        {L"oPc://P/A", S_OK, L"P", L"A"},
        // Every backslash becomes a slash before the prefix is tested.
        {L"opc:\\\\Orvane.BusSimulator\\DP\\Slave3\\DS_Vendorname", S_OK, L"Orvane.BusSimulator",
         L"DP/Slave3/DS_Vendorname"},
        {L"opc://P/DS_MSAC2_Parameter/MA_ProfileIdentNumber", S_OK, L"P",
         L"DS_MSAC2_Parameter/MA_ProfileIdentNumber"},
        // The item ID keeps its case.
        {L"opc://P/Dp/sLave", S_OK, L"P", L"Dp/sLave"},
        {L"opc://Orvane.BusSimulator", E_INVALIDARG, nullptr, nullptr},
        {L"opc://Orvane.BusSimulator/", E_INVALIDARG, nullptr, nullptr},
        {L"opc:///Item", E_INVALIDARG, nullptr, nullptr},
        {L"opc://", E_INVALIDARG, nullptr, nullptr},
        {L"opc:/P/A", E_INVALIDARG, nullptr, nullptr},
        {L"Axolent://P/A", E_INVALIDARG, nullptr, nullptr},
        {L"", E_INVALIDARG, nullptr, nullptr},
        {L" opc://P/A", E_INVALIDARG, nullptr, nullptr},
    };
    for (const SplitCase& c : cases) {
        ItemAddress result;
        HRESULT hr = SplitItemAddress(c.address, &result);
        EXPECT_EQ(c.hr, hr) << "SplitItemAddress(\""
                            << testing::PrintToString(std::wstring(c.address)) << "\") returned "
                            << std::hex << hr << ", expected " << c.hr;
        if (hr == S_OK && c.hr == S_OK) {
            EXPECT_EQ(std::wstring(c.progId), result.progId)
                << "ProgID of " << testing::PrintToString(std::wstring(c.address));
            EXPECT_EQ(std::wstring(c.itemId), result.itemId)
                << "item ID of " << testing::PrintToString(std::wstring(c.address));
        }
    }
}

}  // namespace
}  // namespace vkopc
