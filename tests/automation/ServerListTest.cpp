// Which nodes count as this computer, how the node argument is read, and the registry scan.
#include <windows.h>

#include <gtest/gtest.h>

#include "HrCheck.h"
#include "ServerList.h"
#include "com/Bstr.h"
#include "com/Strings.h"

namespace {

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(name);
    ::GetComputerNameW(name, &size);
    return std::wstring(name, size);
}

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(::towlower(c));
    return text;
}

TEST(ServerListTest, LocalNodesAreThisComputerInAnySpelling) {
    const std::wstring name = ComputerName();
    ASSERT_FALSE(name.empty());
    for (const std::wstring& node :
         {std::wstring(), std::wstring(L"localhost"), std::wstring(L"LOCALHOST"),
          std::wstring(L"127.0.0.1"), name, Lower(name), L"\\\\" + name})
        EXPECT_TRUE(vkauto::IsLocalNode(node)) << testing::PrintToString(node);
    for (const wchar_t* node : {L"127.0.0.2", L"otherhost", L"localhost2"})
        EXPECT_FALSE(vkauto::IsLocalNode(node)) << testing::PrintToString(node);
}

TEST(ServerListTest, NodeArgumentIsATextByValueOrByReference) {
    com::UniqueBstr text(L"plant-7");
    BSTR slot = text.get();
    VARIANT inner;
    V_VT(&inner) = VT_BSTR;
    V_BSTR(&inner) = text.get();
    VARIANT byValue = inner, byRef, variantRef, missing, number;
    V_VT(&byRef) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&byRef) = &slot;
    V_VT(&variantRef) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&variantRef) = &inner;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 7;
    EXPECT_EQ(L"plant-7", vkauto::NodeArgument(byValue));
    EXPECT_EQ(L"plant-7", vkauto::NodeArgument(byRef));
    EXPECT_EQ(L"plant-7", vkauto::NodeArgument(variantRef));
    EXPECT_EQ(L"", vkauto::NodeArgument(missing));
    EXPECT_EQ(L"", vkauto::NodeArgument(number));
}

TEST(ServerListTest, AnotherNodesRegistryCannotBeOpenedHere) {
    com::RegKey classes;
    EXPECT_NE(ERROR_SUCCESS, vkauto::OpenClassesRoot(L"no-such-node-4711", &classes));
}

TEST(ServerListTest, RegistryScanFindsServersWithAnOpcKey) {
    com::RegKey classes;
    ASSERT_EQ(ERROR_SUCCESS, vkauto::OpenClassesRoot(L"", &classes));
    std::vector<vkauto::ServerRecord> servers;
    ASSERT_HR(S_OK, vkauto::ScanRegistryForServers(classes.get(), &servers));
    CLSID simulator;
    ASSERT_TRUE(com::StringToGuid(L"6B1F2C40-8D3E-4A51-9C27-3E5A0D4B7F11", &simulator));
    bool found = false;
    for (const auto& server : servers) {
        if (server.progId != L"Orvane.BusSimulator") continue;
        found = true;
        EXPECT_TRUE(IsEqualCLSID(simulator, server.clsid));
        EXPECT_EQ(L"", server.userType);
    }
    EXPECT_TRUE(found);
    // Keys without an "OPC" subkey are no servers, even with a CLSID.
    for (const auto& server : servers) EXPECT_NE(L"vkOPC.OPCAutoServer", server.progId);
}

// The scan another node gets, tried on this computer: the only name Wine connects to.
TEST(ServerListTest, RemoteRegistryScanOfThisComputerFindsBothFaces) {
    com::RegKey classes;
    ASSERT_EQ(ERROR_SUCCESS, vkauto::OpenRemoteClassesRoot(ComputerName(), &classes));
    std::vector<vkauto::ServerRecord> servers;
    ASSERT_HR(S_OK, vkauto::ScanRegistryForServers(classes.get(), &servers));
    CLSID da1;
    ASSERT_TRUE(com::StringToGuid(L"6B1F2C42-8D3E-4A51-9C27-3E5A0D4B7F11", &da1));
    bool found20 = false, found10 = false;
    for (const auto& server : servers) {
        found20 = found20 || server.progId == L"Orvane.BusSimulator";
        if (server.progId == L"Orvane.BusSimulatorDA1") {
            found10 = true;
            EXPECT_TRUE(IsEqualCLSID(da1, server.clsid));
        }
    }
    EXPECT_TRUE(found20 && found10);
}

}  // namespace
