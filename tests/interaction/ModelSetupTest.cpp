// Model set-up and device discovery of the interaction object's core, with its
// settings under a scratch key: against the bus simulator (registered a second
// time under the ProgID "Vendor.BusServer.1"), and against a scripted browse
// interface where the simulator's address space cannot show a case.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ErrorBoxes.h"
#include "InteractionCore.h"
#include "SimSupport.h"
#include "TestSupport.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Object.h"
#include "resource.h"

namespace orvane::interaction::test {
namespace {

constexpr wchar_t kScratchKey[] = L"Software\\OrvaneTest\\InteractionSetup";
constexpr wchar_t kVendorProgId[] = L"Vendor.BusServer.1";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring AccessPath(VKModelObject* node) {
    com::UniqueBstr path;
    node->GetAccessPath(path.put());
    return path.str();
}

// Answers the marker browse with `markers` and every other browse with `channels`;
// records the filters.
class ScriptedBrowse : public com::Object<IOPCBrowseServerAddressSpace> {
public:
    std::vector<std::wstring> markers, channels, filters;

    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
        *pNameSpaceType = OPC_NS_FLAT;
        return S_OK;
    }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) override { return E_FAIL; }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR szFilterCriteria, VARTYPE, DWORD,
                                  LPENUMSTRING* ppIEnumString) override {
        filters.emplace_back(szFilterCriteria);
        const auto& names = filters.back() == L"*DS_Vendorname" ? markers : channels;
        return com::CreateEnumString(names, ppIEnumString);
    }
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        return com::CoTaskMemString(szItemDataID, szItemID);
    }
    STDMETHODIMP BrowseAccessPaths(LPCWSTR, LPENUMSTRING*) override { return E_NOTIMPL; }
};

class ModelSetupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The simulator under a second ProgID, as another vendor's bus server would be.
        CLSID sim;
        if (SUCCEEDED(CLSIDFromProgID(kSimProgId, &sim))) {
            wchar_t text[40];
            StringFromGUID2(sim, text, 40);
            SetString(HKEY_CLASSES_ROOT, std::wstring(kVendorProgId) + L"\\CLSID", nullptr, text);
        }
    }
    static void TearDownTestSuite() { RegDeleteTreeW(HKEY_CLASSES_ROOT, kVendorProgId); }

    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        SetString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers", L"Other",
                  L"Not.This.One");
        SetString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers",
                  L"BUSSERVERPROGID_1", kVendorProgId);
        ResetLastErrorBox();
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey); }

    std::unique_ptr<InteractionCore> MakeCore() {
        return std::make_unique<InteractionCore>(HKEY_CURRENT_USER, kScratchKey);
    }
};

TEST_F(ModelSetupTest, NamespaceRootOfTheBusServer) {
    auto core = MakeCore();
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())})
        << "GetModel; last error box " << LastErrorBox();
    ASSERT_TRUE(root) << "GetModel gave no root";
    EXPECT_EQ(Narrow(kVendorProgId), Narrow(core->busServerProgId()))
        << "the value whose name begins with busserverprogid";

    com::ComPtr<VKModelObject> model;
    ASSERT_EQ(Hr{S_OK}, Hr{root.query(&model)});
    com::ComPtr<IUnknown> found;
    ASSERT_EQ(Hr{S_OK},
              Hr{model->FindObject(com::UniqueBstr(L"Vendor_BusServer_1").get(), found.put())})
        << "FindObject(Vendor_BusServer_1)";
    com::ComPtr<VKModelObject> node;
    ASSERT_EQ(Hr{S_OK}, Hr{found.query(&node)});
    EXPECT_EQ("opc://Vendor.BusServer.1/", Narrow(AccessPath(node.get())));

    com::ComPtr<IUnknown> rootParameter;
    ASSERT_EQ(Hr{S_OK},
              Hr{node->FindParameter(com::UniqueBstr(L"__root").get(), rootParameter.put())})
        << "FindParameter(__root)";
    com::ComPtr<VKModelParameter> parameter;
    ASSERT_EQ(Hr{S_OK}, Hr{rootParameter.query(&parameter)});
    com::UniqueBstr path;
    long rights = 0;
    VARTYPE vt = VT_EMPTY;
    com::UniqueVariant value;
    ASSERT_EQ(Hr{S_OK}, Hr{parameter->GetInit(path.put(), &rights, &vt, value.put())});
    EXPECT_EQ("Vendor_BusServer_1/__root", Narrow(path.str()));
    EXPECT_EQ(1, rights) << "readable";
    EXPECT_EQ(VT_UI1, vt);
    unsigned short flags = 0;
    EXPECT_EQ(Hr{S_OK}, Hr{parameter->GetFlags(&flags)});
    EXPECT_EQ(1, flags) << "__root is hidden";
    EXPECT_EQ(0u, LastErrorBox()) << "no error box on success";
}

TEST_F(ModelSetupTest, ConnectionCount) {
    auto core = MakeCore();
    com::ComPtr<IUnknown> first, second;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(first.put())}) << "first GetModel";
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(second.put())}) << "second GetModel";
    EXPECT_TRUE(com::IsSameObject(first.get(), second.get())) << "one model";
    EXPECT_EQ(2u, core->connectionCount());
    std::vector<std::wstring> created;
    ASSERT_EQ(Hr{S_OK}, Hr{core->InitModel(&created)}) << "InitModel";
    const size_t devices = core->deviceCount();
    ASSERT_GT(devices, 0u);

    EXPECT_EQ(Hr{S_OK}, Hr{core->ReleaseConnections()});
    EXPECT_EQ(1u, core->connectionCount());
    EXPECT_EQ(devices, core->deviceCount()) << "one connection left: the lists stay";
    EXPECT_EQ(Hr{S_OK}, Hr{core->ReleaseConnections()});
    EXPECT_EQ(0u, core->connectionCount());
    EXPECT_EQ(0u, core->deviceCount()) << "the last release tears the lists down";
    EXPECT_EQ(Hr{S_OK}, Hr{core->ReleaseConnections()}) << "a third release does nothing";
    EXPECT_EQ(0u, core->connectionCount());

    com::ComPtr<IUnknown> again;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(again.put())}) << "GetModel after the last release";
    EXPECT_TRUE(com::IsSameObject(first.get(), again.get())) << "the model lives on";
    EXPECT_EQ(1u, core->connectionCount());
    EXPECT_EQ(Hr{S_OK}, Hr{core->InitModel(&created)}) << "discovery still browses";
    EXPECT_EQ(devices, core->deviceCount());

    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core->GetModel(nullptr)});
}

TEST_F(ModelSetupTest, MarkerBrowseFindsTheSimulatedSlaves) {
    auto core = MakeCore();
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    std::vector<std::wstring> created;
    ASSERT_EQ(Hr{S_OK}, Hr{core->InitModel(&created)})
        << "InitModel; last error box " << LastErrorBox();
    std::string names;
    for (const auto& name : created) names += Narrow(name) + " ";
    EXPECT_EQ("DP_Slave3_ DP_Slave4_ DP_Slave5_ DP_Slave6_ DP_Slave7_ ", names)
        << "device nodes of the default topology";
    EXPECT_EQ(5u, core->deviceCount());
    EXPECT_TRUE(core->modelInitialized());

    com::ComPtr<IUnknown> found;
    ASSERT_EQ(Hr{S_OK}, Hr{core->busServerNode()->FindObject(com::UniqueBstr(L"DP_Slave5_").get(),
                                                             found.put())});
    com::ComPtr<VKModelObject> device;
    ASSERT_EQ(Hr{S_OK}, Hr{found.query(&device)});
    EXPECT_EQ("opc://Vendor.BusServer.1/DP/Slave5/", Narrow(AccessPath(device.get())));
}

TEST_F(ModelSetupTest, CheckNameSpaceDiscoversOnce) {
    auto core = MakeCore();
    long checked = 0;
    EXPECT_EQ(Hr{E_POINTER}, Hr{core->CheckNameSpace(&checked)}) << "before GetModel: no model";
    EXPECT_EQ(static_cast<UINT>(IDS_NO_OBJECT_MODEL), LastErrorBox());
    EXPECT_EQ(Hr{E_POINTER}, Hr{core->CheckNameSpace(nullptr)});
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    ASSERT_EQ(Hr{S_OK}, Hr{core->CheckNameSpace(&checked)}) << "first check";
    EXPECT_EQ(1, checked);
    EXPECT_EQ(5u, core->deviceCount());
    checked = 0;
    EXPECT_EQ(Hr{S_OK}, Hr{core->CheckNameSpace(&checked)}) << "second check";
    EXPECT_EQ(1, checked);
    EXPECT_EQ(5u, core->deviceCount()) << "no second discovery";

    // After the last release the next client's check discovers them again.
    EXPECT_EQ(Hr{S_OK}, Hr{core->ReleaseConnections()});
    EXPECT_EQ(0u, core->deviceCount());
    root.reset();
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    ASSERT_EQ(Hr{S_OK}, Hr{core->CheckNameSpace(&checked)}) << "check of the next client";
    EXPECT_EQ(5u, core->deviceCount()) << "devices discovered again";
}

TEST_F(ModelSetupTest, ScriptedMarkersAndShortIds) {
    auto core = MakeCore();
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    com::ComPtr<ScriptedBrowse> browse;
    ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&browse)});
    browse->markers = {L"DS_Vendorname", L"A/DS_Vendorname", L"B.x[1]:DS_Vendorname"};
    std::vector<std::wstring> created;
    ASSERT_EQ(Hr{S_OK}, Hr{core->DiscoverDevices(browse.get(), &created)});
    ASSERT_EQ(2u, created.size()) << "the 13-character ID is skipped";
    EXPECT_EQ("A_", Narrow(created[0]));
    EXPECT_EQ("B_x_1__", Narrow(created[1]));
    EXPECT_EQ(1u, browse->filters.size()) << "markers found: no pattern browse";
}

TEST_F(ModelSetupTest, PatternBrowseWithoutParSpecific) {
    SetString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServerInfo\\" + kVendorProgId,
              L"DevSpecific", L"Slave%d/");
    auto core = MakeCore();
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    com::ComPtr<ScriptedBrowse> browse;
    ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&browse)});
    browse->channels = {L"Slave12/SlotI0S47D8209", L"Slavex/SlotI0S47D8209",
                        L"Other/SlotI0S47D8209"};
    std::vector<std::wstring> created;
    ASSERT_EQ(Hr{S_OK}, Hr{core->DiscoverDevices(browse.get(), &created)});
    ASSERT_EQ(2u, browse->filters.size());
    EXPECT_EQ("Slave*/*SlotI0S47D8209", Narrow(browse->filters[1])) << "pattern filter";
    ASSERT_EQ(1u, created.size()) << "only Slave12 matches Slave%d/";
    EXPECT_EQ("Slave12_", Narrow(created[0]));
    com::ComPtr<IUnknown> found;
    ASSERT_EQ(Hr{S_OK}, Hr{core->busServerNode()->FindObject(com::UniqueBstr(L"Slave12_").get(),
                                                             found.put())});
    com::ComPtr<VKModelObject> device;
    ASSERT_EQ(Hr{S_OK}, Hr{found.query(&device)});
    EXPECT_EQ("opc://Vendor.BusServer.1/Slave12/", Narrow(AccessPath(device.get())));
}

TEST_F(ModelSetupTest, PatternBrowseNeedsDevSpecific) {
    auto core = MakeCore();
    com::ComPtr<IUnknown> root;
    ASSERT_EQ(Hr{S_OK}, Hr{core->GetModel(root.put())});
    com::ComPtr<ScriptedBrowse> browse;
    ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&browse)});
    std::vector<std::wstring> created;
    EXPECT_EQ(Hr{E_FAIL}, Hr{core->DiscoverDevices(browse.get(), &created)})
        << "no BusServerInfo for the ProgID";
    EXPECT_FALSE(core->modelInitialized());
}

TEST_F(ModelSetupTest, SetUpFailuresShowTheirBoxes) {
    {
        SetString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers",
                  L"BUSSERVERPROGID_1", L"No.Such.Server.1");
        auto core = MakeCore();
        com::ComPtr<IUnknown> root;
        EXPECT_EQ(Hr{E_FAIL}, Hr{core->GetModel(root.put())}) << "unregistered bus server";
        EXPECT_EQ(static_cast<UINT>(IDS_CLSIDFROMPROGID), LastErrorBox());
        EXPECT_FALSE(root);
        EXPECT_EQ(0u, core->connectionCount());
        EXPECT_EQ(Hr{E_FAIL}, Hr{core->GetModel(root.put())})
            << "a second try sets up afresh and fails the same way";
    }
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kScratchKey) + L"\\BusServers").c_str());
        auto core = MakeCore();
        com::ComPtr<IUnknown> root;
        EXPECT_EQ(Hr{E_FAIL}, Hr{core->GetModel(root.put())}) << "no BusServers key";
        EXPECT_EQ(static_cast<UINT>(IDS_NO_SERVER_ENTRY), LastErrorBox());
    }
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        auto core = MakeCore();
        com::ComPtr<IUnknown> root;
        EXPECT_EQ(Hr{E_FAIL}, Hr{core->GetModel(root.put())}) << "no settings key";
        EXPECT_EQ(static_cast<UINT>(IDS_REGISTRY), LastErrorBox());
    }
}

// Whether another thread could take the object's lock while a box was reported.
InteractionCore* g_boxCore = nullptr;
std::thread g_otherCaller;
bool g_lockFreeAtBox = false;

com::UniqueHandle g_otherDone;

void TryLockFromAnotherThread(UINT) {
    g_otherDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE done = g_otherDone.get();
    g_otherCaller = std::thread([done] {
        g_boxCore->connectionCount();  // takes the object's lock
        SetEvent(done);
    });
    // A box waits for the user for as long as it takes; this wait gives up instead
    // (the other caller then gets the lock when GetModel leaves it).
    g_lockFreeAtBox = WaitForSingleObject(done, 10000) == WAIT_OBJECT_0;
}

TEST_F(ModelSetupTest, ErrorBoxesWaitUntilTheLockIsLeft) {
    SetString(HKEY_CURRENT_USER, std::wstring(kScratchKey) + L"\\BusServers", L"BUSSERVERPROGID_1",
              L"No.Such.Server.1");
    auto core = MakeCore();
    g_boxCore = core.get();
    g_lockFreeAtBox = false;
    SetErrorBoxObserver(TryLockFromAnotherThread);
    com::ComPtr<IUnknown> root;
    EXPECT_EQ(Hr{E_FAIL}, Hr{core->GetModel(root.put())});
    SetErrorBoxObserver(nullptr);
    if (g_otherCaller.joinable()) g_otherCaller.join();
    EXPECT_EQ(static_cast<UINT>(IDS_CLSIDFROMPROGID), LastErrorBox());
    EXPECT_TRUE(g_lockFreeAtBox) << "the box came while GetModel held the lock";
}

TEST(ErrorBoxTexts, StringTable) {
    EXPECT_EQ("Orvane Error", Narrow(ErrorBoxText(IDS_ERROR_CAPTION)));
    EXPECT_EQ("OV_Interaction", Narrow(ErrorBoxText(IDS_PROJNAME)));
    EXPECT_EQ("Registry error (RegOpenKey)\n(configuration incomplete?)",
              Narrow(ErrorBoxText(IDS_REGISTRY)));
    EXPECT_EQ("m_spVkAsyncInteraction == NULL", Narrow(ErrorBoxText(IDS_NO_ASYNC)));
    EXPECT_EQ(
        "CLSIDFromProgID failed\n(probable cause: OPC server not registered)\n\n(ProgID: "
        "No.Such.1)\n"
        "(hRes: 0x800401F3)",
        Narrow(ErrorBoxText(IDS_CLSIDFROMPROGID, L"No.Such.1", CO_E_CLASSSTRING)));
    EXPECT_EQ("CoCreate() (OPC server) failed.\n\n(ProgID: A.B)\n(hRes: 0x80040154)",
              Narrow(ErrorBoxText(IDS_COCREATE_OPCSERVER, L"A.B", REGDB_E_CLASSNOTREG)));
    for (UINT id = IDS_PROJNAME; id <= IDS_NO_ASYNC; ++id)
        EXPECT_FALSE(ErrorBoxText(id).empty()) << "string " << id;
}

}  // namespace
}  // namespace orvane::interaction::test
