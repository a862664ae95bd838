// Browsing and item properties of Axolent.Orvane out-of-process, over the bus
// simulator's default topology.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/Memory.h"

namespace {

const std::wstring kBus = L"Orvane_BusSimulator";
const std::wstring kVendorName = kBus + L"/DP_Slave3_/1/DS_Vendorname";

std::vector<std::wstring> Drain(IEnumString* strings) {
    std::vector<std::wstring> out;
    if (!strings) return out;
    LPOLESTR text = nullptr;
    ULONG fetched = 0;
    while (strings->Next(1, &text, &fetched) == S_OK && fetched == 1) {
        out.emplace_back(text);
        CoTaskMemFree(text);
    }
    return out;
}

std::vector<std::wstring> List(IOPCBrowseServerAddressSpace* browser, OPCBROWSETYPE type,
                               const wchar_t* filter = L"") {
    com::ComPtr<IEnumString> strings;
    const HRESULT hr = browser->BrowseOPCItemIDs(type, filter, VT_EMPTY, 0, strings.put());
    EXPECT_HR(S_OK, hr) << "BrowseOPCItemIDs(" << type << ")";
    return Drain(strings.get());
}

bool Contains(const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

class Browse : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CreateServer(&server_)) << "Axolent.Orvane";
        ASSERT_HR(S_OK, server_.query(&browser_)) << "IOPCBrowseServerAddressSpace";
    }
    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCBrowseServerAddressSpace> browser_;
};

TEST_F(Browse, TreeOfBusServerDevicesAndAxes) {
    OPCNAMESPACETYPE type = OPC_NS_FLAT;
    EXPECT_HR(S_OK, browser_->QueryOrganization(&type));
    EXPECT_EQ(OPC_NS_HIERARCHIAL, type);
    EXPECT_TRUE(Contains(List(browser_.get(), OPC_BRANCH), kBus));

    const struct {
        const wchar_t* device;
        std::vector<std::wstring> axes;
    } devices[] = {{L"DP_Slave4_", {L"1", L"2", L"3"}}, {L"DP_Slave5_", {L"1", L"2"}}};
    for (const auto& d : devices) {
        const std::wstring path = kBus + L"/" + d.device;
        ASSERT_HR(S_OK, browser_->ChangeBrowsePosition(OPC_BROWSE_TO, path.c_str()))
            << Narrow(path);
        std::vector<std::wstring> axes = List(browser_.get(), OPC_BRANCH, L"X*");
        std::sort(axes.begin(), axes.end());
        EXPECT_EQ(d.axes, axes) << "axes of " << Narrow(path) << " (a branch filter is ignored)";
    }

    ASSERT_HR(S_OK, browser_->ChangeBrowsePosition(OPC_BROWSE_TO, L""));
    for (const std::wstring& id : List(browser_.get(), OPC_FLAT)) {
        const std::wstring last = id.substr(id.rfind(L'/') + 1);
        EXPECT_NE(0u, last.rfind(L"__", 0)) << "hidden parameter listed: " << Narrow(id);
    }
    EXPECT_TRUE(Contains(List(browser_.get(), OPC_FLAT), kVendorName));

    ASSERT_HR(S_OK,
              browser_->ChangeBrowsePosition(OPC_BROWSE_TO, (kBus + L"/DP_Slave3_/1").c_str()));
    EXPECT_FALSE(Contains(List(browser_.get(), OPC_LEAF, L"DS_V*"), L"DS_Vendorname"))
        << "the filter is matched against the whole path";
    EXPECT_TRUE(Contains(List(browser_.get(), OPC_LEAF, L"*DS_V*"), L"DS_Vendorname"));
}

TEST_F(Browse, BrowsersAreIndependentAndStopAtTheRoot) {
    EXPECT_HR(E_FAIL, browser_->ChangeBrowsePosition(OPC_BROWSE_UP, L"")) << "up from the root";
    EXPECT_HR(E_INVALIDARG,
              browser_->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(4), L""));
    EXPECT_HR(E_FAIL, browser_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"")) << "no such child";
    EXPECT_HR(E_FAIL, browser_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Nope"));

    com::ComPtr<IOPCServer> second;
    ASSERT_HR(S_OK, CreateServer(&second));
    com::ComPtr<IOPCBrowseServerAddressSpace> other;
    ASSERT_HR(S_OK, second.query(&other));
    ASSERT_HR(S_OK, browser_->ChangeBrowsePosition(OPC_BROWSE_DOWN, kBus.c_str()));
    ASSERT_HR(S_OK, browser_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"DP_Slave4_"));
    EXPECT_TRUE(Contains(List(other.get(), OPC_BRANCH), kBus)) << "the other is still at the root";
    EXPECT_TRUE(Contains(List(browser_.get(), OPC_BRANCH), L"3"));
    ASSERT_HR(S_OK, browser_->ChangeBrowsePosition(OPC_BROWSE_UP, L""));
    EXPECT_TRUE(Contains(List(browser_.get(), OPC_BRANCH), L"DP_Slave4_"));
}

TEST_F(Browse, ItemIdsAndAccessPaths) {
    ASSERT_HR(S_OK,
              browser_->ChangeBrowsePosition(OPC_BROWSE_TO, (kBus + L"/DP_Slave3_/1").c_str()));
    LPWSTR id = nullptr;
    ASSERT_HR(S_OK, browser_->GetItemID(const_cast<LPWSTR>(L"DS_Vendorname"), &id));
    EXPECT_EQ(kVendorName, std::wstring(id));
    CoTaskMemFree(id);
    id = nullptr;
    ASSERT_HR(S_OK, browser_->GetItemID(const_cast<LPWSTR>(L""), &id));
    EXPECT_EQ(L"", std::wstring(id));
    CoTaskMemFree(id);
    id = nullptr;
    EXPECT_HR(OPC_E_UNKNOWNITEMID, browser_->GetItemID(const_cast<LPWSTR>(L"Nope"), &id));
    EXPECT_EQ(nullptr, id);

    com::ComPtr<IEnumString> paths;
    ASSERT_HR(S_OK, browser_->BrowseAccessPaths(kVendorName.c_str(), paths.put()));
    EXPECT_EQ(1u, Drain(paths.get()).size()) << "a parameter has one access path";
    paths.reset();
    ASSERT_HR(S_OK, browser_->BrowseAccessPaths(kBus.c_str(), paths.put()));
    EXPECT_TRUE(Drain(paths.get()).empty()) << "a branch has none";
    paths.reset();
    EXPECT_HR(S_FALSE, browser_->BrowseAccessPaths(L"Nope", paths.put()));
    EXPECT_FALSE(paths);
    EXPECT_HR(E_INVALIDARG, browser_->BrowseAccessPaths(L"", paths.put()));
}

TEST_F(Browse, PropertiesOfAnIdentificationItem) {
    com::ComPtr<IOPCItemProperties> properties;
    ASSERT_HR(S_OK, server_.query(&properties));
    // Browsing builds the namespace.
    List(browser_.get(), OPC_BRANCH);
    LPWSTR id = const_cast<LPWSTR>(kVendorName.c_str());

    DWORD count = 0;
    com::CoTaskMem<DWORD> ids;
    LPWSTR* descriptions = nullptr;
    com::CoTaskMem<VARTYPE> types;
    ASSERT_HR(S_OK, properties->QueryAvailableProperties(id, &count, ids.put(), &descriptions,
                                                         types.put()));
    EXPECT_GE(count, 6u) << "at least the OPC properties 1 to 6";
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(descriptions);

    DWORD wanted[] = {1, 5};
    VARIANT* data = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(S_OK, properties->GetItemProperties(id, 2, wanted, &data, &errors));
    EXPECT_EQ(VT_I2, V_VT(&data[0])) << "canonical type as VT_I2";
    VariantClear(&data[0]);
    VariantClear(&data[1]);
    CoTaskMemFree(data);
    CoTaskMemFree(errors);

    LPWSTR* newIds = nullptr;
    ASSERT_HR(S_OK, properties->LookupItemIDs(id, 1, wanted, &newIds, &errors));
    const std::wstring property(newIds[0]);
    EXPECT_EQ(0u, property.find(kVendorName + L"[")) << Narrow(property);
    EXPECT_EQ(L']', property.back());
    CoTaskMemFree(newIds[0]);
    CoTaskMemFree(newIds);
    CoTaskMemFree(errors);

    EXPECT_HR(OPC_E_INVALIDITEMID,
              properties->GetItemProperties(const_cast<LPWSTR>(L""), 2, wanted, &data, &errors));
    EXPECT_HR(OPC_E_UNKNOWNITEMID,
              properties->LookupItemIDs(const_cast<LPWSTR>(L"Nope"), 1, wanted, &newIds, &errors));
    EXPECT_HR(E_INVALIDARG, properties->LookupItemIDs(id, 0, wanted, &newIds, &errors));
}

TEST_F(Browse, AnItemAddedBeforeTheFirstBrowseIsALeafOfItsAxis) {
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    com::ComPtr<IOPCItemMgt> mgt;
    ASSERT_HR(S_OK, server_->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &hGroup, &rate,
                                      IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt.put())));
    const std::wstring id = kBus + L"/DP_Slave3_/1/pari1000d18";
    OPCITEMDEF def = {};
    def.szItemID = const_cast<LPWSTR>(id.c_str());
    def.szAccessPath = const_cast<LPWSTR>(L"");
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_OK, mgt->AddItems(1, &def, results.put(), errors.put()));

    ASSERT_HR(S_OK, browser_->ChangeBrowsePosition(OPC_BROWSE_TO, kBus.c_str()));
    EXPECT_TRUE(List(browser_.get(), OPC_LEAF).empty()) << "no leaf beside the devices";
    ASSERT_HR(S_OK,
              browser_->ChangeBrowsePosition(OPC_BROWSE_TO, (kBus + L"/DP_Slave3_/1").c_str()));
    EXPECT_TRUE(Contains(List(browser_.get(), OPC_LEAF), L"pari1000d18"));
    mgt.reset();
    EXPECT_HR(S_OK, server_->RemoveGroup(hGroup, TRUE));
}

TEST_F(Browse, AnItemOfAMissingDeviceIsRefusedAndLeavesNothing) {
    List(browser_.get(), OPC_BRANCH);  // the namespace check: discovery is done
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    com::ComPtr<IOPCItemMgt> mgt;
    ASSERT_HR(S_OK, server_->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &hGroup, &rate,
                                      IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt.put())));
    const std::wstring id = kBus + L"/DP_Slave9_/1/pari1000d18";
    OPCITEMDEF def = {};
    def.szItemID = const_cast<LPWSTR>(id.c_str());
    def.szAccessPath = const_cast<LPWSTR>(L"");
    for (bool validate : {false, true}) {
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = validate
                               ? mgt->ValidateItems(1, &def, FALSE, results.put(), errors.put())
                               : mgt->AddItems(1, &def, results.put(), errors.put());
        EXPECT_HR(S_FALSE, hr) << (validate ? "ValidateItems" : "AddItems");
        ASSERT_TRUE(errors);
        EXPECT_HR(OPC_E_UNKNOWNITEMID, errors[0]);
        com::ComPtr<IEnumString> paths;
        EXPECT_HR(S_FALSE, browser_->BrowseAccessPaths(id.c_str(), paths.put()))
            << "no node is left behind";
    }
    mgt.reset();
    EXPECT_HR(S_OK, server_->RemoveGroup(hGroup, TRUE));
}

}  // namespace
