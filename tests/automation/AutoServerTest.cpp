// The automation server object as a script sees it: created by ProgID in the main STA and used
// through GetIDsOfNames and Invoke only, against the bus simulator.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "DispatchClient.h"
#include "HrCheck.h"
#include "com/Bstr.h"
#include "com/ClassFactory.h"
#include "com/ComInit.h"
#include "com/Memory.h"
#include "com/Object.h"
#include "com/SafeArray.h"
#include "opc.h"
#include "opcautomation.h"

namespace {

using test_support::DispatchClient;
using Arg = DispatchClient::Arg;

constexpr wchar_t kProgId[] = L"vkOPC.OPCAutoServer";
constexpr wchar_t kSimulator[] = L"Orvane.BusSimulator";
constexpr LONG kDisconnected = 6;

std::vector<std::wstring> StringsOf(const VARIANT& list, LONG* lowerBound) {
    std::vector<std::wstring> names;
    SAFEARRAY* array = V_ARRAY(&list);
    LONG upper = 0;
    ::SafeArrayGetLBound(array, 1, lowerBound);
    ::SafeArrayGetUBound(array, 1, &upper);
    for (LONG i = *lowerBound; i <= upper; ++i) {
        BSTR name = nullptr;
        if (SUCCEEDED(::SafeArrayGetElement(array, &i, &name))) names.emplace_back(name);
        ::SysFreeString(name);
    }
    return names;
}

bool SimulatorRunning() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {sizeof entry};
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
         more = ::Process32NextW(snapshot, &entry))
        found = ::lstrcmpiW(entry.szExeFile, L"OrvaneBusSim.exe") == 0;
    ::CloseHandle(snapshot);
    return found;
}

// The simulator ends about a second after its last client; a bounded poll for that.
bool SimulatorEnds() {
    for (int poll = 0; poll < 100; ++poll) {
        if (!SimulatorRunning()) return true;
        ::Sleep(100);
    }
    return false;
}

bool Contains(const std::vector<std::wstring>& names, const wchar_t* name) {
    for (const auto& n : names)
        if (n == name) return true;
    return false;
}

std::wstring SystemText(DWORD code) {
    wchar_t text[260];
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         LANG_USER_DEFAULT, text, ARRAYSIZE(text), nullptr);
    return std::wstring(text, length);
}

class AutoServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com_.succeeded());
        CLSID clsid;
        ASSERT_HR(S_OK, ::CLSIDFromProgID(kProgId, &clsid));
        ASSERT_HR(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                           reinterpret_cast<void**>(auto_.put())));
    }

    LONG State() {
        com::UniqueVariant state;
        EXPECT_HR(S_OK, auto_.Get(L"ServerState", &state));
        return state.vt() == VT_I4 ? V_I4(state.get()) : -1;
    }
    std::wstring Text(const wchar_t* property) {
        com::UniqueVariant text;
        EXPECT_HR(S_OK, auto_.Get(property, &text));
        return text.vt() == VT_BSTR ? std::wstring(V_BSTR(text.get())) : L"<not a text>";
    }

    com::ComInitializer com_{COINIT_APARTMENTTHREADED};
    DispatchClient auto_;
};

TEST_F(AutoServerTest, MembersHaveThePublishedDispIds) {
    struct Case {
        const wchar_t* name;
        DISPID id;
    };
    static const Case kCases[] = {
        {L"StartTime", 0x60020000},
        {L"CurrentTime", 0x60020001},
        {L"LastUpdateTime", 0x60020002},
        {L"MajorVersion", 0x60020003},
        {L"MinorVersion", 0x60020004},
        {L"BuildNumber", 0x60020005},
        {L"VendorInfo", 0x60020006},
        {L"ServerState", 0x60020007},
        {L"ServerName", 0x60020008},
        {L"ServerNode", 0x60020009},
        {L"ClientName", 0x6002000A},
        {L"LocaleID", 0x6002000C},
        {L"Bandwidth", 0x6002000E},
        {L"OPCGroups", 0},
        {L"PublicGroupNames", 0x60020010},
        {L"GetOPCServers", 0x60020011},
        {L"Connect", 0x60020012},
        {L"Disconnect", 0x60020013},
        {L"CreateBrowser", 0x60020014},
        {L"GetErrorString", 0x60020015},
        {L"QueryAvailableLocaleIDs", 0x60020016},
        {L"QueryAvailableProperties", 0x60020017},
        {L"GetItemProperties", 0x60020018},
        {L"LookupItemIDs", 0x60020019},
    };
    for (const Case& c : kCases) {
        DISPID id = -1;
        EXPECT_HR(S_OK, auto_.DispId(c.name, &id)) << "member " << testing::PrintToString(c.name);
        EXPECT_EQ(c.id, id) << "member " << testing::PrintToString(c.name);
    }
}

// The other interfaces' objects come with the group work; their DISPIDs are checked in the
// registered type library, which dispatch clients and the marshaler read.
TEST_F(AutoServerTest, TypeLibraryHasThePublishedDispIds) {
    struct Case {
        const IID* iid;
        const wchar_t* name;
        DISPID id;
    };
    static const Case kCases[] = {
        {&IID_OPCBrowser, L"Organization", 0x60020000},
        {&IID_OPCBrowser, L"_NewEnum", -4},
        {&IID_OPCBrowser, L"Item", 0x6002000A},
        {&IID_OPCBrowser, L"GetAccessPaths", 0x60020012},
        {&IID_IOPCGroups, L"DefaultGroupTimeBias", 0x60020009},
        {&IID_IOPCGroups, L"Item", 0},
        {&IID_IOPCGroups, L"Add", 0x6002000E},
        {&IID_IOPCGroups, L"RemovePublicGroup", 0x60020013},
        {&IID_IOPCGroup, L"IsSubscribed", 0x60020006},
        {&IID_IOPCGroup, L"UpdateRate", 0x60020011},
        {&IID_IOPCGroup, L"OPCItems", 0},
        {&IID_IOPCGroup, L"AsyncCancel", 0x60020019},
        {&IID_OPCItems, L"Count", 0x60020007},
        {&IID_OPCItems, L"AddItem", 0x6002000B},
        {&IID_OPCItems, L"SetDataTypes", 0x60020011},
        {&IID_OPCItem, L"Value", 0},
        {&IID_OPCItem, L"Quality", 0x6002000C},
        {&IID_OPCItem, L"Write", 0x60020012},
        {&DIID_DIOPCServerEvent, L"ServerShutDown", 1},
        {&DIID_DIOPCGroupsEvent, L"GlobalDataChange", 1},
        {&DIID_DIOPCGroupEvent, L"DataChange", 1},
        {&DIID_DIOPCGroupEvent, L"AsyncReadComplete", 2},
        {&DIID_DIOPCGroupEvent, L"AsyncWriteComplete", 3},
        {&DIID_DIOPCGroupEvent, L"AsyncCancelComplete", 4},
    };
    com::ComPtr<ITypeLib> library;
    ASSERT_HR(S_OK, ::LoadRegTypeLib(LIBID_OPCAutomation, 1, 0, 0, library.put()));
    for (const Case& c : kCases) {
        com::ComPtr<ITypeInfo> info;
        ASSERT_HR(S_OK, library->GetTypeInfoOfGuid(*c.iid, info.put()));
        LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
        MEMBERID id = -1;
        EXPECT_HR(S_OK, info->GetIDsOfNames(names, 1, &id)) << testing::PrintToString(c.name);
        EXPECT_EQ(c.id, id) << "member " << testing::PrintToString(c.name);
    }
}

TEST_F(AutoServerTest, DisconnectedObjectReportsStateSixAndNoStatus) {
    EXPECT_EQ(kDisconnected, State());
    com::UniqueVariant value;
    for (const wchar_t* property : {L"StartTime", L"CurrentTime", L"LastUpdateTime",
                                    L"MajorVersion", L"VendorInfo", L"Bandwidth"})
        EXPECT_HR(E_FAIL, auto_.Get(property, &value)) << testing::PrintToString(property);
    EXPECT_HR(E_FAIL, auto_.Call(L"QueryAvailableLocaleIDs", {}, &value));
    EXPECT_EQ(L"", Text(L"ServerName"));
    EXPECT_EQ(L"", Text(L"ServerNode"));
    EXPECT_HR(S_OK, auto_.Get(L"LocaleID", &value));
    EXPECT_EQ(VT_I4, value.vt());
    EXPECT_EQ(0x400, V_I4(value.get()));
}

TEST_F(AutoServerTest, ClientNameAndLocaleAreStoredWithoutServer) {
    EXPECT_HR(S_OK, auto_.Put(L"ClientName", *Arg(L"Leitstand 3")));
    EXPECT_EQ(L"Leitstand 3", Text(L"ClientName"));
    EXPECT_HR(S_OK, auto_.Put(L"LocaleID", *Arg(0x407)));
    com::UniqueVariant locale;
    EXPECT_HR(S_OK, auto_.Get(L"LocaleID", &locale));
    EXPECT_EQ(0x407, V_I4(locale.get()));
}

TEST_F(AutoServerTest, GetOPCServersListsRegisteredServersFromOne) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(computer);
    ASSERT_TRUE(::GetComputerNameW(computer, &size));
    // nullptr: the node left out.
    for (const wchar_t* node : {static_cast<const wchar_t*>(nullptr), L"", L"LOCALHOST",
                                L"127.0.0.1", static_cast<const wchar_t*>(computer)}) {
        com::UniqueVariant list;
        ASSERT_HR(S_OK, auto_.Call(L"GetOPCServers", {node ? Arg(node) : Arg::Missing()}, &list));
        ASSERT_EQ(VT_ARRAY | VT_BSTR, list.vt());
        EXPECT_EQ(1u, ::SafeArrayGetDim(V_ARRAY(list.get())));
        LONG lower = -1;
        const auto names = StringsOf(*list, &lower);
        EXPECT_EQ(1, lower);
        EXPECT_TRUE(Contains(names, kSimulator));
        EXPECT_TRUE(Contains(names, L"Orvane.BusSimulatorDA1"));
        EXPECT_TRUE(Contains(names, L"Axolent.Orvane"));  // Orvane.exe registered too
    }
}

// A server-list component, registered in this process for one test, answers before the
// registry; it lists one class, and is its own enumerator.
class FakeServerList : public com::Object<IOPCServerList, IEnumGUID> {
public:
    STDMETHODIMP EnumClassesOfCategories(ULONG, CATID*, ULONG, CATID*, IEnumGUID** out) override {
        AddRef();
        *out = this;
        return S_OK;
    }
    STDMETHODIMP GetClassDetails(REFCLSID, LPOLESTR* progId, LPOLESTR* userType) override {
        RETURN_IF_FAILED(com::CoTaskMemString(L"Fremd.Server.1", progId));
        return com::CoTaskMemString(L"Fremder Server", userType);
    }
    STDMETHODIMP CLSIDFromProgID(LPCOLESTR, LPCLSID clsid) override {
        *clsid = CLSID_NULL;
        return S_OK;
    }
    STDMETHODIMP Next(ULONG celt, GUID* rgelt, ULONG* fetched) override {
        const ULONG n = (!done_ && celt > 0) ? 1 : 0;
        if (n) rgelt[0] = CLSID_NULL;
        done_ = true;
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IEnumGUID**) override { return E_NOTIMPL; }

private:
    bool done_ = false;
};

TEST_F(AutoServerTest, GetOPCServersAsksTheServerListComponentFirst) {
    const CLSID kServerList = {
        0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
    com::ComPtr<com::ClassFactory<FakeServerList>> factory;
    ASSERT_HR(S_OK, com::MakeObject(&factory));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, ::CoRegisterClassObject(kServerList, factory.get(), CLSCTX_LOCAL_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie));
    com::UniqueVariant list;
    const HRESULT hr = auto_.Call(L"GetOPCServers", {Arg::Missing()}, &list);
    ::CoRevokeClassObject(cookie);
    ASSERT_HR(S_OK, hr);
    LONG lower = -1;
    EXPECT_EQ(std::vector<std::wstring>{L"Fremd.Server.1"}, StringsOf(*list, &lower));
    EXPECT_EQ(1, lower);
}

TEST_F(AutoServerTest, GetOPCServersOnAnotherNodeFails) {
    com::UniqueVariant list;
    EXPECT_HR(E_FAIL, auto_.Call(L"GetOPCServers", {L"no-such-node-4711"}, &list));
}

TEST_F(AutoServerTest, ConnectReadsStatusAndDisconnectEndsIt) {
    HRESULT hr = auto_.Call(L"Connect", {kSimulator, Arg::Missing()});
    ASSERT_TRUE(SUCCEEDED(hr)) << test_support::HrText(hr);
    EXPECT_EQ(OPC_STATUS_RUNNING, State());
    EXPECT_EQ(kSimulator, Text(L"ServerName"));
    EXPECT_EQ(L"", Text(L"ServerNode"));
    EXPECT_NE(std::wstring::npos, Text(L"VendorInfo").find(L"Orvane Bus Simulator"));
    com::UniqueVariant value;
    EXPECT_HR(S_OK, auto_.Get(L"StartTime", &value));
    EXPECT_EQ(VT_DATE, value.vt());
    EXPECT_GT(V_DATE(value.get()), 40000.0);  // after 2009
    EXPECT_HR(S_OK, auto_.Get(L"MajorVersion", &value));
    EXPECT_EQ(VT_I2, value.vt());
    EXPECT_HR(S_OK, auto_.Call(L"QueryAvailableLocaleIDs", {}, &value));
    ASSERT_EQ(VT_ARRAY | VT_I4, value.vt());
    LONG lower = -1;
    ::SafeArrayGetLBound(V_ARRAY(value.get()), 1, &lower);
    EXPECT_EQ(1, lower);

    EXPECT_HR(S_OK, auto_.Call(L"Disconnect", {}));
    EXPECT_EQ(kDisconnected, State());
    EXPECT_EQ(L"", Text(L"ServerName"));
    EXPECT_HR(E_FAIL, auto_.Get(L"StartTime", &value));
    EXPECT_HR(S_OK, auto_.Call(L"Disconnect", {}));
}

TEST_F(AutoServerTest, LocalhostInCapitalsConnectsLocally) {
    HRESULT hr = auto_.Call(L"Connect", {kSimulator, L"LOCALHOST"});
    ASSERT_TRUE(SUCCEEDED(hr)) << test_support::HrText(hr);
    EXPECT_EQ(OPC_STATUS_RUNNING, State());
    EXPECT_EQ(L"LOCALHOST", Text(L"ServerNode"));
}

TEST_F(AutoServerTest, FailedConnectLeavesItDisconnected) {
    struct Case {
        const wchar_t* progId;
        const wchar_t* node;
    };
    for (const Case& c :
         {Case{L"No.Such.Server", L""}, Case{L"", L""}, Case{kSimulator, L"no-such-node-4711"}}) {
        ASSERT_TRUE(SUCCEEDED(auto_.Call(L"Connect", {kSimulator, Arg::Missing()})));
        EXPECT_HR(E_FAIL, auto_.Call(L"Connect", {c.progId, c.node}))
            << testing::PrintToString(c.progId) << " on " << testing::PrintToString(c.node);
        EXPECT_EQ(kDisconnected, State());
        EXPECT_EQ(L"", Text(L"ServerName"));
    }
}

TEST_F(AutoServerTest, GetErrorStringPrefersTheSystemText) {
    com::UniqueVariant text;
    EXPECT_HR(S_OK, auto_.Call(L"GetErrorString", {5}, &text));
    ASSERT_EQ(VT_BSTR, text.vt());
    EXPECT_EQ(SystemText(5), V_BSTR(text.get()));
    EXPECT_HR(E_FAIL, auto_.Call(L"GetErrorString", {static_cast<LONG>(OPC_E_BADRIGHTS)}, &text));

    ASSERT_TRUE(SUCCEEDED(auto_.Call(L"Connect", {kSimulator, Arg::Missing()})));
    EXPECT_HR(S_OK, auto_.Call(L"GetErrorString", {5}, &text));
    EXPECT_EQ(SystemText(5), V_BSTR(text.get()));
    EXPECT_HR(S_OK, auto_.Call(L"GetErrorString", {static_cast<LONG>(OPC_E_BADRIGHTS)}, &text));
    ASSERT_EQ(VT_BSTR, text.vt());
    EXPECT_STREQ(L"The item's access rights do not allow the operation.", V_BSTR(text.get()));
}

// Nothing the OPC server holds of the wrapper keeps it alive: the client's release disconnects,
// the simulator ends with its last client, and the module can be unloaded.
TEST_F(AutoServerTest, ReleaseWithoutDisconnectLetsTheServerEnd) {
    // Under Wine a server keeps the references of a client that died: then its end says
    // nothing about the wrapper.
    if (!SimulatorEnds()) GTEST_SKIP() << "the simulator is held by another client";
    ASSERT_TRUE(SUCCEEDED(auto_.Call(L"Connect", {kSimulator, Arg::Missing()})));
    ASSERT_TRUE(SimulatorRunning());
    auto_ = DispatchClient();
    EXPECT_TRUE(SimulatorEnds()) << "the simulator still runs 10 s after the wrapper went";
    using CanUnloadNow = HRESULT(WINAPI*)();
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(
        ::GetProcAddress(::GetModuleHandleW(L"vkOPCDAAuto.dll"), "DllCanUnloadNow"));
    ASSERT_NE(nullptr, canUnloadNow);
    EXPECT_HR(S_OK, canUnloadNow());
}

// A caller in the multithreaded apartment gets a proxy to an object in the main STA: IDispatch
// through the standard marshaler, IOPCAutoServer through the registered type library.
TEST_F(AutoServerTest, CallerInTheMtaGoesThroughTheMarshaler) {
    HRESULT created = E_UNEXPECTED, state = E_UNEXPECTED, connected = E_UNEXPECTED,
            vendor = E_UNEXPECTED;
    LONG disconnectedState = -1;
    std::wstring vendorInfo;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, done);
    std::thread caller([&] {
        com::ComInitializer mta(COINIT_MULTITHREADED);
        {
            CLSID clsid;
            ::CLSIDFromProgID(kProgId, &clsid);
            com::ComPtr<IOPCAutoServer> server;
            created = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(server.put()));
            if (SUCCEEDED(created)) {
                state = server->get_ServerState(&disconnectedState);
                DispatchClient client(server.get());
                connected = client.Call(L"Connect", {kSimulator, Arg::Missing()});
                BSTR text = nullptr;
                vendor = server->get_VendorInfo(&text);
                if (text) vendorInfo = text;
                ::SysFreeString(text);
                server->Disconnect();
            }
        }
        ::SetEvent(done);
    });
    // The object lives in this thread's apartment: its calls arrive as messages.
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    caller.join();
    ::CloseHandle(done);
    ASSERT_HR(S_OK, created);
    EXPECT_HR(S_OK, state);
    EXPECT_EQ(kDisconnected, disconnectedState);
    EXPECT_TRUE(SUCCEEDED(connected)) << test_support::HrText(connected);
    EXPECT_HR(S_OK, vendor);
    EXPECT_NE(std::wstring::npos, vendorInfo.find(L"Orvane Bus Simulator"));
}

// Item properties with the simulator; through the vtable, as arrays travel by reference.
TEST_F(AutoServerTest, ItemPropertiesComeBackInArraysFromOne) {
    com::ComPtr<IOPCAutoServer> server;
    ASSERT_HR(S_OK, auto_.get()->QueryInterface(IID_PPV_ARGS(server.put())));
    com::UniqueBstr item(L"DP/Slave3/DS_Vendorname");
    SAFEARRAYBOUND bound = {3, 0};
    com::UniqueSafeArray ids(::SafeArrayCreate(VT_I4, 1, &bound));
    for (LONG i = 0; i < 3; ++i) {
        LONG id = i == 1 ? OPC_PROP_CDT : OPC_PROP_RIGHTS;  // element 0 is ignored
        ::SafeArrayPutElement(ids.get(), &i, &id);
    }
    SAFEARRAY* idSlot = ids.get();
    SAFEARRAY* values = nullptr;
    SAFEARRAY* errors = nullptr;
    EXPECT_HR(E_FAIL, server->GetItemProperties(item.get(), 2, &idSlot, &values, &errors));
    ASSERT_TRUE(SUCCEEDED(server->Connect(com::UniqueBstr(kSimulator).get(), *Arg::Missing())));

    LONG count = 0;
    SAFEARRAY *available = nullptr, *descriptions = nullptr, *types = nullptr;
    ASSERT_HR(S_OK, server->QueryAvailableProperties(item.get(), &count, &available, &descriptions,
                                                     &types));
    com::UniqueSafeArray ownAvailable(available), ownDescriptions(descriptions), ownTypes(types);
    EXPECT_EQ(7, count);
    LONG lower = -1;
    ::SafeArrayGetLBound(available, 1, &lower);
    EXPECT_EQ(1, lower);

    EXPECT_HR(E_INVALIDARG, server->GetItemProperties(item.get(), 3, &idSlot, &values, &errors));
    ASSERT_HR(S_OK, server->GetItemProperties(item.get(), 2, &idSlot, &values, &errors));
    com::UniqueSafeArray ownValues(values), ownErrors(errors);
    ::SafeArrayGetLBound(values, 1, &lower);
    EXPECT_EQ(1, lower);
    for (LONG index = 1; index <= 2; ++index) {
        com::UniqueVariant value, number;
        ASSERT_HR(S_OK, ::SafeArrayGetElement(values, &index, value.put()));
        ASSERT_HR(S_OK, ::VariantChangeType(number.put(), value.get(), 0, VT_I4));
        EXPECT_EQ(index == 1 ? VT_BSTR : OPC_READABLE, V_I4(number.get())) << "entry " << index;
    }
}

// The one test that leaves IDispatch: a null out-pointer cannot be passed through Invoke.
TEST_F(AutoServerTest, NullOutPointersAreInvalidArguments) {
    com::ComPtr<IOPCAutoServer> server;
    ASSERT_HR(S_OK, auto_.get()->QueryInterface(IID_PPV_ARGS(server.put())));
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    EXPECT_HR(E_INVALIDARG, server->get_ServerState(nullptr));
    EXPECT_HR(E_INVALIDARG, server->get_StartTime(nullptr));
    EXPECT_HR(E_INVALIDARG, server->get_VendorInfo(nullptr));
    EXPECT_HR(E_INVALIDARG, server->get_ServerName(nullptr));
    EXPECT_HR(E_INVALIDARG, server->get_ClientName(nullptr));
    EXPECT_HR(E_INVALIDARG, server->get_LocaleID(nullptr));
    EXPECT_HR(E_INVALIDARG, server->GetOPCServers(missing, nullptr));
    EXPECT_HR(E_INVALIDARG, server->GetErrorString(5, nullptr));
    EXPECT_HR(E_INVALIDARG, server->QueryAvailableLocaleIDs(nullptr));
    LONG count = 0;
    EXPECT_HR(E_INVALIDARG,
              server->QueryAvailableProperties(nullptr, &count, nullptr, nullptr, nullptr));
}

}  // namespace
