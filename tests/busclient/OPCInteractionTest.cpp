// vkOPCInteraction in a client process, against the simulated bus server.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>

#include "com/Bstr.h"
#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "opc.h"
#include "TestObjects.h"
#include "vkopcinteraction.h"

using com::ComPtr;
using com::UniqueBstr;
using com::UniqueVariant;
using vkopc_test::FakeParameter;
using vkopc_test::RecordingCallback;

namespace {

constexpr wchar_t kSimProgId[] = L"Orvane.BusSimulator";
constexpr wchar_t kVendorItem[] = L"DP/Slave3/DS_Vendorname";
constexpr wchar_t kOtherVendorItem[] = L"DP/Slave4/DS_Vendorname";
constexpr wchar_t kProfileItem[] = L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber";
constexpr wchar_t kChannelItem[] = L"DP/Slave3/SlotI0S47D8209";

class ComEnvironment : public testing::Environment {
public:
    void SetUp() override {
        // A single-threaded apartment: the object lives in it and completions
        // arrive while the test pumps messages.
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override { CoUninitialize(); }
};
testing::Environment* const kComEnvironment = testing::AddGlobalTestEnvironment(new ComEnvironment);

std::wstring Address(const std::wstring& itemId) {
    return L"opc://" + std::wstring(kSimProgId) + L"/" + itemId;
}

UniqueVariant Text(const std::wstring& text) { return UniqueVariant(std::wstring_view(text)); }

// Dispatches messages until done() or the bound runs out; wakes on messages
// and on the callback's event (completions on RPC threads in the MTA).
template <class Done>
bool PumpUntil(HANDLE event, Done done, DWORD limitMs = 20000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limitMs) return false;
        MsgWaitForMultipleObjects(1, &event, FALSE, limitMs - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

class OPCInteractionTest : public testing::Test {
protected:
    static bool HaveSimulator() {
        CLSID clsid;
        return SUCCEEDED(CLSIDFromProgID(kSimProgId, &clsid));
    }

    // The simulator is shared by every test: each starts from its configured bus,
    // whatever an earlier one selected on the channel or left pending there.
    void SetUp() override {
        if (!HaveSimulator()) return;
        ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
        ASSERT_TRUE(interaction);
        const std::wstring reset = L"Sim/Reset";
        ASSERT_EQ(S_OK, InitItem(interaction.get(), reset, VT_BOOL));
        UniqueVariant on;
        V_VT(on.get()) = VT_BOOL;
        V_BOOL(on.get()) = VARIANT_TRUE;
        EXPECT_EQ(S_OK, interaction->Write(*Text(Address(reset)).get(), *on.get())) << "Sim/Reset";
        EXPECT_EQ(S_OK, interaction->Terminate(*Text(Address(reset)).get()));
    }

    template <class I>
    ComPtr<I> Create() {
        ComPtr<I> object;
        HRESULT hr = com::CoCreate(CLSID_OPCInteraction, &object, CLSCTX_INPROC_SERVER);
        EXPECT_EQ(S_OK, hr) << "CoCreateInstance(OPCInteraction) returned " << std::hex << hr;
        return object;
    }

    // Init through a parameter that names itemId in the simulator.
    HRESULT InitItem(IvkInteraction2* interaction, const std::wstring& itemId,
                     VARTYPE type = VT_BSTR, ComPtr<FakeParameter>* made = nullptr) {
        ComPtr<FakeParameter> parameter;
        HRESULT hr = com::MakeObject(&parameter, Address(itemId), type);
        if (FAILED(hr)) return hr;
        ComPtr<IUnknown> replacement;
        VARTYPE addressType = VT_EMPTY;
        hr = interaction->Init(0, static_cast<VKModelParameter*>(parameter.get()),
                               replacement.put(), &addressType);
        EXPECT_EQ(nullptr, replacement.get())
            << "Init(" << testing::PrintToString(itemId) << ") gave a replacement node";
        EXPECT_EQ(VT_BSTR, addressType) << "Init address type";
        if (made) *made = parameter;
        return hr;
    }
};

// The simulator is part of the tree and registered with everything else.
#define REQUIRE_SIMULATOR()                                                          \
    do {                                                                             \
        if (!HaveSimulator())                                                        \
            FAIL() << "CLSIDFromProgID(Orvane.BusSimulator) failed: not registered"; \
    } while (0)

// ---------------------------------------------------------------------------
// The object and its factory

std::wstring RegistryText(const std::wstring& key, const wchar_t* value) {
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return L"<missing>";
    return text;
}

TEST_F(OPCInteractionTest, Registration) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"VkOPCInteraction.OPCInteraction", &clsid);
    EXPECT_EQ(S_OK, hr) << "CLSIDFromProgID(VkOPCInteraction.OPCInteraction) returned " << std::hex
                        << hr;
    EXPECT_TRUE(IsEqualCLSID(CLSID_OPCInteraction, clsid)) << "CLSID of the ProgID";
    LPOLESTR progId = nullptr;
    hr = ProgIDFromCLSID(CLSID_OPCInteraction, &progId);
    ASSERT_EQ(S_OK, hr) << "ProgIDFromCLSID returned " << std::hex << hr;
    EXPECT_STREQ(L"VkOPCInteraction.OPCInteraction.1", progId);
    CoTaskMemFree(progId);

    const std::wstring clsidKey = L"CLSID\\{CEC30311-4E5D-11d4-A7C2-0060087AB05A}";
    EXPECT_EQ(L"OPCInteraction Class", RegistryText(clsidKey, nullptr));
    EXPECT_EQ(L"Apartment", RegistryText(clsidKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(L"VkOPCInteraction.OPCInteraction",
              RegistryText(clsidKey + L"\\VersionIndependentProgID", nullptr));
    EXPECT_EQ(L"VkOPCInteraction.OPCInteraction.1",
              RegistryText(L"VkOPCInteraction.OPCInteraction\\CurVer", nullptr));
    HKEY key = nullptr;
    EXPECT_EQ(
        ERROR_SUCCESS,
        RegOpenKeyExW(HKEY_CLASSES_ROOT, (clsidKey + L"\\Programmable").c_str(), 0, KEY_READ, &key))
        << "Programmable key";
    if (key) RegCloseKey(key);

    ComPtr<ITypeLib> library;
    hr = LoadRegTypeLib(LIBID_VKYOPCINTERACTIONLib, 1, 0, 1031, library.put());
    EXPECT_EQ(S_OK, hr) << "LoadRegTypeLib(VKYOPCINTERACTIONLib 1.0, 1031) returned " << std::hex
                        << hr;
}

TEST_F(OPCInteractionTest, SameObjectForEveryCreationInTheProcess) {
    ComPtr<IOPCInteraction> first = Create<IOPCInteraction>();
    ComPtr<IvkInteraction2> second = Create<IvkInteraction2>();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(com::IsSameObject(first.get(), second.get()))
        << "two creations gave different objects";

    ComPtr<IvkInteraction> legacy;
    HRESULT hr = first.query(&legacy);
    EXPECT_EQ(S_OK, hr) << "QueryInterface(IvkInteraction) returned " << std::hex << hr;
    ComPtr<IDispatch> dispatch;
    hr = first.query(&dispatch);
    ASSERT_EQ(S_OK, hr) << "QueryInterface(IDispatch) returned " << std::hex << hr;
    // IDispatch is IOPCInteraction's, through the embedded type library.
    LPOLESTR name = const_cast<LPOLESTR>(L"ConnectToServer");
    DISPID id = 0;
    hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    EXPECT_EQ(S_OK, hr) << "GetIDsOfNames(ConnectToServer) returned " << std::hex << hr;
    EXPECT_EQ(9, id) << "DISPID of ConnectToServer";
    // Without a current server there is no address space to pass on.
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    hr = first.query(&browse);
    EXPECT_EQ(E_NOINTERFACE, hr) << "QueryInterface(IOPCBrowseServerAddressSpace) without server";

    ComPtr<IClassFactory> factory;
    hr = CoGetClassObject(CLSID_OPCInteraction, CLSCTX_INPROC_SERVER, nullptr,
                          __uuidof(IClassFactory), factory.put_void());
    ASSERT_EQ(S_OK, hr) << "CoGetClassObject returned " << std::hex << hr;
    ComPtr<IUnknown> aggregated;
    hr = factory->CreateInstance(first.get(), IID_IUnknown, aggregated.put_void());
    EXPECT_EQ(CLASS_E_NOAGGREGATION, hr)
        << "CreateInstance with an outer unknown returned " << std::hex << hr;
    EXPECT_EQ(nullptr, aggregated.get());
}

TEST_F(OPCInteractionTest, DataAddedThroughOneReferenceIsSeenThroughTheOther) {
    REQUIRE_SIMULATOR();
    ComPtr<IOPCInteraction> first = Create<IOPCInteraction>();
    ComPtr<IOPCInteraction> second = Create<IOPCInteraction>();
    ASSERT_TRUE(first && second);
    HRESULT hr =
        first->ConnectToServer(UniqueBstr(kSimProgId).get(), UniqueBstr(L"LocalServer").get());
    ASSERT_EQ(S_OK, hr) << "ConnectToServer(\"LocalServer\") returned " << std::hex << hr;
    unsigned long hGroup = 0;
    hr = first->OPCServerAddgroup(UniqueBstr(L"Test").get(), &hGroup);
    ASSERT_EQ(S_OK, hr) << "OPCServerAddgroup returned " << std::hex << hr;
    EXPECT_EQ(1u, hGroup) << "first group handle";

    // The group of the first reference takes items through the second.
    UniqueBstr name(kVendorItem);
    BSTR names[] = {name.get()};
    unsigned long hItem = 0;
    hr = second->OPCItemmgtAdditems(hGroup, 1, names, &hItem);
    EXPECT_EQ(S_OK, hr) << "OPCItemmgtAdditems through the second reference returned " << std::hex
                        << hr;
    EXPECT_EQ(1u, hItem) << "first item handle";

    ComPtr<IUnknown> server;
    hr = second->GetServerInterface(server.put());
    EXPECT_EQ(S_OK, hr) << "GetServerInterface through the second reference returned " << std::hex
                        << hr;
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    hr = second.query(&browse);
    EXPECT_EQ(E_NOINTERFACE, hr) << "IOPCBrowseServerAddressSpace before any address lookup";
}

TEST_F(OPCInteractionTest, LastReleaseTearsDownAndNextCreationStartsAfresh) {
    REQUIRE_SIMULATOR();
    {
        ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
        ASSERT_EQ(S_OK, InitItem(interaction.get(), kVendorItem));
        ComPtr<IvkAsyncInteraction> async;
        ASSERT_EQ(S_OK, interaction.query(&async));
        ComPtr<RecordingCallback> callback;
        ASSERT_EQ(S_OK, com::MakeObject(&callback));
        long cancelId = 0;
        // An advised group must not keep the object alive.
        HRESULT hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(callback.get()),
                                      *Text(Address(kVendorItem)).get(), 7, &cancelId);
        ASSERT_EQ(S_OK, hr) << "AsyncRead returned " << std::hex << hr;
        ASSERT_TRUE(PumpUntil(callback->event(), [&] { return callback->Count() > 0; }))
            << "no completion for AsyncRead";
    }
    // Nothing of the module is held any more.
    HMODULE module = GetModuleHandleW(L"vkOPCInteraction.dll");
    ASSERT_NE(nullptr, module) << "vkOPCInteraction.dll not loaded";
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnloadNow);
    HRESULT hr = canUnloadNow();
    EXPECT_EQ(S_OK, hr) << "DllCanUnloadNow after the last release returned " << std::hex << hr;

    ComPtr<IOPCInteraction> fresh = Create<IOPCInteraction>();
    hr = canUnloadNow();
    EXPECT_EQ(S_FALSE, hr) << "DllCanUnloadNow while an object lives returned " << std::hex << hr;
    ComPtr<IUnknown> server;
    hr = fresh->GetServerInterface(server.put());
    EXPECT_EQ(E_FAIL, hr) << "GetServerInterface of a new object returned " << std::hex << hr;
}

TEST_F(OPCInteractionTest, CallersInTheMultithreadedApartmentGoThroughProxies) {
    // As the drive-interaction module does: created from the MTA, the object
    // lives in a host apartment and every interface crosses through its proxy.
    std::thread([this] {
        com::ComInitializer init(COINIT_MULTITHREADED);
        ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
        ASSERT_TRUE(interaction);
        UniqueVariant value, quality, timeStamp;
        UniqueVariant number(LONG{5});
        HRESULT hr = interaction->Read(*number.get(), value.put(), quality.put(), timeStamp.put());
        EXPECT_EQ(E_INVALIDARG, hr)
            << "Read with a VT_I4 address through the proxy returned " << std::hex << hr;
        hr = interaction->Write(*Text(L"opc://No.Such.Server/A").get(), *Text(L"x").get());
        EXPECT_EQ(E_FAIL, hr) << "Write to an unconnected server through the proxy returned "
                              << std::hex << hr;
        ComPtr<IvkAsyncInteraction> async;
        hr = interaction.query(&async);
        ASSERT_EQ(S_OK, hr) << "QueryInterface(IvkAsyncInteraction) through the proxy returned "
                            << std::hex << hr;
        ComPtr<RecordingCallback> callback;
        ASSERT_EQ(S_OK, com::MakeObject(&callback));
        long cancelId = 0;
        hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(callback.get()),
                              *Text(L"opc://No.Such.Server/A").get(), 1, &cancelId);
        EXPECT_EQ(E_FAIL, hr) << "AsyncRead through the proxy returned " << std::hex << hr;
        ComPtr<IOPCInteraction> handles;
        ASSERT_EQ(S_OK, interaction.query(&handles));
        hr = handles->ConnectToServer(UniqueBstr(L"No.Such.Server").get(),
                                      UniqueBstr(L"localserver").get());
        EXPECT_EQ(E_FAIL, hr) << "ConnectToServer(unknown ProgID) through the proxy returned "
                              << std::hex << hr;

        // Creation in yet another apartment while the object lives elsewhere
        // gets a clear error instead of a pointer it must not use.
        std::thread([this] {
            com::ComInitializer sta(COINIT_APARTMENTTHREADED);
            ComPtr<IUnknown> other;
            HRESULT created = com::CoCreate(CLSID_OPCInteraction, &other, CLSCTX_INPROC_SERVER);
            EXPECT_EQ(RPC_E_WRONG_THREAD, created)
                << "CoCreateInstance from a second apartment returned " << std::hex << created;
        }).join();
    }).join();
}

TEST_F(OPCInteractionTest, AsyncCompletionsReachACallerInTheMultithreadedApartment) {
    REQUIRE_SIMULATOR();
    // The parameter node crosses to the object's apartment through the
    // object model's registered type library.
    std::wstring key = L"Interface\\{AB96C8C0-6780-11D3-BD5F-00105A3185C3}";
    HKEY found = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &found) != ERROR_SUCCESS)
        GTEST_SKIP() << "VKModelParameter is not registered (VkObjectModel.dll)";
    RegCloseKey(found);

    std::thread([this] {
        com::ComInitializer init(COINIT_MULTITHREADED);
        ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
        ASSERT_TRUE(interaction);
        ComPtr<FakeParameter> parameter;
        HRESULT hr = InitItem(interaction.get(), kVendorItem, VT_BSTR, &parameter);
        ASSERT_EQ(S_OK, hr) << "Init through the proxy returned " << std::hex << hr;
        EXPECT_TRUE(parameter->initCalled) << "Init did not reach the parameter";
        ComPtr<IvkAsyncInteraction> async;
        ASSERT_EQ(S_OK, interaction.query(&async));
        ComPtr<RecordingCallback> callback;
        ASSERT_EQ(S_OK, com::MakeObject(&callback));
        UniqueVariant address = Text(Address(kVendorItem));
        long cancelId = 0;
        hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(callback.get()), *address.get(), 301,
                              &cancelId);
        ASSERT_EQ(S_OK, hr) << "AsyncRead through the proxy returned " << std::hex << hr;
        // Completions arrive on RPC threads; this thread need not pump.
        ASSERT_TRUE(PumpUntil(callback->event(), [&] { return callback->Count() >= 1; }))
            << "no completion";
        EXPECT_EQ(301, callback->completions[0].transactionId);
        EXPECT_EQ(VT_BSTR, callback->completions[0].data.vt());
        EXPECT_EQ(S_OK, interaction->Terminate(*address.get()));
    }).join();
}

// ---------------------------------------------------------------------------
// Item addresses

TEST_F(OPCInteractionTest, AddressesThatAreRefused) {
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ASSERT_TRUE(interaction);
    UniqueVariant value, quality, timeStamp;
    UniqueVariant number(LONG{5});
    HRESULT hr = interaction->Read(*number.get(), value.put(), quality.put(), timeStamp.put());
    EXPECT_EQ(E_INVALIDARG, hr) << "Read with a VT_I4 address returned " << std::hex << hr;
    hr = interaction->Write(*Text(L"opc://Orvane.BusSimulator").get(), *Text(L"x").get());
    EXPECT_EQ(E_INVALIDARG, hr) << "Write without \"/\" behind the ProgID returned " << std::hex
                                << hr;
    hr = interaction->Read(*Text(L"Axolent://Orvane.BusSimulator/A").get(), value.put(),
                           quality.put(), timeStamp.put());
    EXPECT_EQ(E_INVALIDARG, hr) << "Read with another prefix returned " << std::hex << hr;
    // A well-formed address of a server that is not connected.
    hr = interaction->Read(*Text(L"opc://No.Such.Server/A").get(), value.put(), quality.put(),
                           timeStamp.put());
    EXPECT_EQ(E_FAIL, hr) << "Read of an unconnected server returned " << std::hex << hr;
    hr = interaction->Terminate(*Text(L"opc://No.Such.Server/A").get());
    EXPECT_EQ(E_INVALIDARG, hr) << "Terminate of an unconnected server returned " << std::hex << hr;
    ComPtr<FakeParameter> parameter;
    ASSERT_EQ(S_OK, com::MakeObject(&parameter, std::wstring(L"opc://No.Such.Server/A"), VT_BSTR));
    ComPtr<IUnknown> replacement;
    VARTYPE addressType = VT_EMPTY;
    hr = interaction->Init(0, static_cast<VKModelParameter*>(parameter.get()), replacement.put(),
                           &addressType);
    EXPECT_EQ(E_FAIL, hr) << "Init of an unknown ProgID returned " << std::hex << hr;
    EXPECT_FALSE(parameter->initCalled) << "Init reported a failed item to the parameter";
}

TEST_F(OPCInteractionTest, PrefixCaseAndBackslashesAcceptedItemIdCaseIsNot) {
    REQUIRE_SIMULATOR();
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ComPtr<FakeParameter> parameter;
    HRESULT hr = InitItem(interaction.get(), kVendorItem, VT_BSTR, &parameter);
    ASSERT_EQ(S_OK, hr) << "Init returned " << std::hex << hr;
    EXPECT_TRUE(parameter->initCalled) << "Init did not report the item to the parameter";
    EXPECT_EQ(Address(kVendorItem), parameter->initAddress) << "address reported to the parameter";

    const std::wstring accepted[] = {
        Address(kVendorItem),
        L"OPC://ORVANE.BUSSIMULATOR/" + std::wstring(kVendorItem),
        L"opc:\\\\Orvane.BusSimulator\\DP\\Slave3\\DS_Vendorname",
    };
    for (const std::wstring& address : accepted) {
        UniqueVariant value, quality, timeStamp;
        hr = interaction->Read(*Text(address).get(), value.put(), quality.put(), timeStamp.put());
        EXPECT_EQ(S_OK, hr) << "Read(" << testing::PrintToString(address) << ") returned "
                            << std::hex << hr;
        if (hr == S_OK) {
            EXPECT_EQ(VT_BSTR, value.vt()) << "value type";
            EXPECT_EQ(VT_I2, quality.vt()) << "quality type";
            EXPECT_EQ(0xC0, V_I2(quality.get()) & 0xC0) << "quality";
            EXPECT_EQ(VT_DATE, timeStamp.vt()) << "time stamp type";
            EXPECT_GT(V_DATE(timeStamp.get()), 36526.0) << "time stamp before 2000";
        }
    }
    UniqueVariant value, quality, timeStamp;
    hr = interaction->Read(*Text(Address(L"dp/slave3/ds_vendorname")).get(), value.put(),
                           quality.put(), timeStamp.put());
    EXPECT_EQ(E_INVALIDARG, hr) << "Read of an item ID in other letter case returned " << std::hex
                                << hr;
    hr = interaction->Read(*Text(Address(kOtherVendorItem)).get(), value.put(), quality.put(),
                           timeStamp.put());
    EXPECT_EQ(E_INVALIDARG, hr) << "Read of an item that was never added returned " << std::hex
                                << hr;

    // Once an address has been looked up, the server's address space is reachable.
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    hr = interaction.query(&browse);
    EXPECT_EQ(S_OK, hr) << "QueryInterface(IOPCBrowseServerAddressSpace) returned " << std::hex
                        << hr;
    EXPECT_EQ(S_OK, interaction->Terminate(*Text(Address(kVendorItem)).get()));
}

// ---------------------------------------------------------------------------
// Handle-based calls

TEST_F(OPCInteractionTest, EmptyNamesTakeNoHandleSlot) {
    REQUIRE_SIMULATOR();
    ComPtr<IOPCInteraction> interaction = Create<IOPCInteraction>();
    HRESULT hr = interaction->ConnectToServer(UniqueBstr(kSimProgId).get(),
                                              UniqueBstr(L"localserver").get());
    ASSERT_EQ(S_OK, hr) << "ConnectToServer returned " << std::hex << hr;
    unsigned long hGroup = 0;
    hr = interaction->OPCServerAddgroup(UniqueBstr(L"").get(), &hGroup);
    EXPECT_EQ(E_FAIL, hr) << "OPCServerAddgroup(\"\") returned " << std::hex << hr;
    ASSERT_EQ(S_OK, interaction->OPCServerAddgroup(UniqueBstr(L"Handles").get(), &hGroup));

    UniqueBstr empty(L""), a(kVendorItem), b(kOtherVendorItem);
    BSTR names[] = {empty.get(), a.get(), b.get()};
    unsigned long handles[3] = {0xAAAA, 0xAAAA, 0xAAAA};
    hr = interaction->OPCItemmgtAdditems(hGroup, 3, names, handles);
    EXPECT_EQ(S_OK, hr) << "OPCItemmgtAdditems(\"\", A, B) returned " << std::hex << hr;
    EXPECT_EQ(1u, handles[0]) << "slot 0";
    EXPECT_EQ(2u, handles[1]) << "slot 1";
    EXPECT_EQ(0u, handles[2]) << "slot 2";

    // Items are added as VT_BSTR; a synchronous device read brings both.
    VARIANT values[2];
    VariantInit(&values[0]);
    VariantInit(&values[1]);
    hr = interaction->OPCSyncioRead(hGroup, 2, handles, values);
    EXPECT_EQ(S_OK, hr) << "OPCSyncioRead returned " << std::hex << hr;
    EXPECT_EQ(VT_BSTR, V_VT(&values[0])) << "type of the first value";
    EXPECT_EQ(VT_BSTR, V_VT(&values[1])) << "type of the second value";
    VariantClear(&values[0]);
    VariantClear(&values[1]);

    // An unknown handle fails the call before anything is removed.
    unsigned long mixed[] = {handles[0], 77};
    hr = interaction->OPCItemmgtRemoveitems(hGroup, mixed, 2);
    EXPECT_EQ(E_FAIL, hr) << "OPCItemmgtRemoveitems with an unknown handle returned " << std::hex
                          << hr;
    hr = interaction->OPCItemmgtRemoveitems(hGroup, handles, 2);
    EXPECT_EQ(S_OK, hr) << "OPCItemmgtRemoveitems returned " << std::hex << hr;
    hr = interaction->OPCItemmgtRemoveitems(hGroup, handles, 1);
    EXPECT_EQ(E_FAIL, hr) << "OPCItemmgtRemoveitems of a removed item returned " << std::hex << hr;
    hr = interaction->OPCServerRemovegroup(hGroup);
    EXPECT_EQ(S_OK, hr) << "OPCServerRemovegroup returned " << std::hex << hr;
    hr = interaction->OPCServerRemovegroup(hGroup);
    EXPECT_EQ(E_FAIL, hr) << "second OPCServerRemovegroup returned " << std::hex << hr;
}

// ---------------------------------------------------------------------------
// Init and Terminate

TEST_F(OPCInteractionTest, LastTerminateDropsGroupAndConnectionNextInitReconnects) {
    REQUIRE_SIMULATOR();
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ComPtr<IOPCInteraction> handles;
    ASSERT_EQ(S_OK, interaction.query(&handles));
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kVendorItem));
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kProfileItem, VT_UI2));
    ComPtr<IUnknown> firstServer;
    ASSERT_EQ(S_OK, handles->GetServerInterface(firstServer.put()));

    HRESULT hr = interaction->Terminate(*Text(Address(kVendorItem)).get());
    EXPECT_EQ(S_OK, hr) << "Terminate of the first item returned " << std::hex << hr;
    ComPtr<IUnknown> server;
    EXPECT_EQ(S_OK, handles->GetServerInterface(server.put())) << "connection gone with items left";
    hr = interaction->Terminate(*Text(Address(kVendorItem)).get());
    EXPECT_EQ(E_INVALIDARG, hr) << "second Terminate of the same item returned " << std::hex << hr;

    hr = interaction->Terminate(*Text(Address(kProfileItem)).get());
    EXPECT_EQ(S_OK, hr) << "Terminate of the last item returned " << std::hex << hr;
    hr = handles->GetServerInterface(server.put());
    EXPECT_EQ(E_FAIL, hr) << "GetServerInterface after the last Terminate returned " << std::hex
                          << hr;
    UniqueVariant value, quality, timeStamp;
    hr = interaction->Read(*Text(Address(kProfileItem)).get(), value.put(), quality.put(),
                           timeStamp.put());
    EXPECT_EQ(E_FAIL, hr) << "Read after the last Terminate returned " << std::hex << hr;

    // A new connection: the old server object is still held here, so a new
    // one is a different object.
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kProfileItem, VT_UI2));
    ComPtr<IUnknown> secondServer;
    ASSERT_EQ(S_OK, handles->GetServerInterface(secondServer.put()));
    EXPECT_FALSE(com::IsSameObject(firstServer.get(), secondServer.get()))
        << "Init after the last Terminate reused the old connection";
    hr = interaction->Read(*Text(Address(kProfileItem)).get(), value.put(), quality.put(),
                           timeStamp.put());
    EXPECT_EQ(S_OK, hr) << "Read through the new connection returned " << std::hex << hr;
    EXPECT_EQ(VT_UI2, value.vt()) << "requested type of the re-added item";
    EXPECT_EQ(S_OK, interaction->Terminate(*Text(Address(kProfileItem)).get()));
}

TEST_F(OPCInteractionTest, InitOfAnUnknownItemLeavesNothingBehind) {
    REQUIRE_SIMULATOR();
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ComPtr<IOPCInteraction> handles;
    ASSERT_EQ(S_OK, interaction.query(&handles));
    ComPtr<FakeParameter> parameter;
    HRESULT hr = InitItem(interaction.get(), L"DP/Slave99/NoSuchItem", VT_BSTR, &parameter);
    EXPECT_EQ(E_FAIL, hr) << "Init of an unknown item returned " << std::hex << hr;
    EXPECT_FALSE(parameter->initCalled);
    ComPtr<IUnknown> server;
    hr = handles->GetServerInterface(server.put());
    EXPECT_EQ(E_FAIL, hr) << "connection left open after a failed Init: " << std::hex << hr;
}

// ---------------------------------------------------------------------------
// Synchronous and asynchronous access

TEST_F(OPCInteractionTest, ParameterRequestThroughTheChannel) {
    // The road of every drive access: write the request telegram, poll the
    // channel with device reads until the response is there.
    REQUIRE_SIMULATOR();
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kProfileItem, VT_UI2));
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kChannelItem, VT_ARRAY | VT_UI1));
    UniqueVariant ident;
    V_VT(ident.get()) = VT_UI2;
    V_UI2(ident.get()) = 0x3A00;
    ASSERT_EQ(S_OK, interaction->Write(*Text(Address(kProfileItem)).get(), *ident.get()));

    // Reference 7, read value, axis 1, one parameter: 1000 subindex 0.
    const BYTE request[] = {7, 1, 1, 1, 0x10, 1, 0x03, 0xE8, 0, 0};
    UniqueVariant telegram;
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, sizeof(request));
    ASSERT_NE(nullptr, bytes);
    memcpy(bytes->pvData, request, sizeof(request));
    V_VT(telegram.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(telegram.get()) = bytes;
    UniqueVariant channel = Text(Address(kChannelItem));
    HRESULT hr = interaction->Write(*channel.get(), *telegram.get());
    ASSERT_EQ(S_OK, hr) << "Write of the request telegram returned " << std::hex << hr;

    UniqueVariant value, quality, timeStamp;
    int polls = 0;
    for (; polls < 5000; ++polls) {
        hr = interaction->Read(*channel.get(), value.put(), quality.put(), timeStamp.put());
        if (hr == S_OK) break;
        ASSERT_TRUE(FAILED(hr)) << "Read of a pending channel returned " << std::hex << hr;
    }
    ASSERT_EQ(S_OK, hr) << "no response after " << polls << " reads";
    ASSERT_EQ(VT_ARRAY | VT_UI1, value.vt()) << "response type";
    SAFEARRAY* response = V_ARRAY(value.get());
    ASSERT_EQ(1u, SafeArrayGetDim(response));
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(response, 1, &lower);
    SafeArrayGetUBound(response, 1, &upper);
    EXPECT_EQ(0, lower) << "lower bound of the response";
    ASSERT_EQ(7, upper) << "response length - 1";
    const BYTE* data = static_cast<const BYTE*>(response->pvData);
    const BYTE expected[] = {7, 1, 1, 1, 6, 1, 0x05, 0xDC};  // Unsigned16 1500
    for (int i = 0; i <= upper; ++i) EXPECT_EQ(expected[i], data[i]) << "response byte " << i;

    // The response is handed out once.
    hr = interaction->Read(*channel.get(), value.put(), quality.put(), timeStamp.put());
    EXPECT_TRUE(FAILED(hr)) << "second Read of the channel returned " << std::hex << hr;
    EXPECT_EQ(S_OK, interaction->Terminate(*channel.get()));
    EXPECT_EQ(S_OK, interaction->Terminate(*Text(Address(kProfileItem)).get()));
}

TEST_F(OPCInteractionTest, FirstCallbackServesAllRequestsAndGroupIsAdvisedOnce) {
    REQUIRE_SIMULATOR();
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ComPtr<IvkAsyncInteraction> async;
    ASSERT_EQ(S_OK, interaction.query(&async));
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kVendorItem));
    ComPtr<RecordingCallback> first, second;
    ASSERT_EQ(S_OK, com::MakeObject(&first));
    ASSERT_EQ(S_OK, com::MakeObject(&second));
    UniqueVariant address = Text(Address(kVendorItem));

    long cancelId = 0;
    HRESULT hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(first.get()), *address.get(), 101,
                                  &cancelId);
    ASSERT_EQ(S_OK, hr) << "first AsyncRead returned " << std::hex << hr;
    hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(second.get()), *address.get(), 102,
                          &cancelId);
    ASSERT_EQ(S_OK, hr) << "second AsyncRead returned " << std::hex << hr;
    ASSERT_TRUE(PumpUntil(first->event(), [&] { return first->Count() >= 2; }))
        << "completions at the first callback: " << first->completions.size();
    // A third request: its completion comes after any duplicate of the first two.
    hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(second.get()), *address.get(), 103,
                          &cancelId);
    ASSERT_EQ(S_OK, hr) << "third AsyncRead returned " << std::hex << hr;
    ASSERT_TRUE(PumpUntil(first->event(), [&] {
        for (const auto& c : first->completions)
            if (c.transactionId == 103) return true;
        return false;
    })) << "no completion for transaction 103";

    EXPECT_TRUE(second->completions.empty()) << "the second callback got completions";
    std::map<long, int> seen;
    for (const auto& c : first->completions) {
        ++seen[c.transactionId];
        EXPECT_TRUE(c.isRead);
        EXPECT_EQ(0, c.error) << "error of transaction " << c.transactionId;
        EXPECT_EQ(VT_BSTR, c.data.vt()) << "value of transaction " << c.transactionId;
        EXPECT_EQ(VT_I2, c.qualityType);
        EXPECT_EQ(VT_DATE, c.timeStampType);
    }
    for (long id : {101L, 102L, 103L})
        EXPECT_EQ(1, seen[id]) << "completions of transaction " << id;
    EXPECT_EQ(3u, first->completions.size()) << "completions in all";
    EXPECT_EQ(S_OK, interaction->Terminate(*address.get()));
}

TEST_F(OPCInteractionTest, AsyncWriteRefusedForTheItemFailsButGivesTheCancelId) {
    REQUIRE_SIMULATOR();
    ComPtr<IvkInteraction2> interaction = Create<IvkInteraction2>();
    ComPtr<IvkAsyncInteraction> async;
    ASSERT_EQ(S_OK, interaction.query(&async));
    ASSERT_EQ(S_OK, InitItem(interaction.get(), kVendorItem));
    ComPtr<RecordingCallback> callback;
    ASSERT_EQ(S_OK, com::MakeObject(&callback));
    UniqueVariant address = Text(Address(kVendorItem));

    // The vendor name is read-only: the bus server answers S_FALSE with an item error.
    long cancelId = 0x5A5A5A5A;
    HRESULT hr = async->AsyncWrite(static_cast<IvkAsyncCallback*>(callback.get()), *address.get(),
                                   *Text(L"Someone").get(), 201, &cancelId);
    EXPECT_EQ(E_FAIL, hr) << "AsyncWrite to a read-only item returned " << std::hex << hr;
    EXPECT_NE(0x5A5A5A5A, cancelId) << "cancel ID not written";

    // A request that was accepted still completes at the callback.
    hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(callback.get()), *address.get(), 202,
                          &cancelId);
    ASSERT_EQ(S_OK, hr) << "AsyncRead returned " << std::hex << hr;
    ASSERT_TRUE(PumpUntil(callback->event(), [&] { return callback->Count() > 0; }));
    EXPECT_EQ(202, callback->completions[0].transactionId) << "the refused write completed";
    EXPECT_EQ(S_OK, interaction->Terminate(*address.get()));
}

TEST_F(OPCInteractionTest, CompletionsThatAreNotPassedOn) {
    ComPtr<IvkAsyncInteraction> async = Create<IvkAsyncInteraction>();
    ComPtr<IOPCDataCallback> sink;
    ASSERT_EQ(S_OK, async.query(&sink));
    WORD quality = 0xC0;
    FILETIME time{};
    UniqueVariant value = Text(L"x");
    OPCHANDLE items[2] = {1, 2};
    VARIANT values[2] = {*value.get(), *value.get()};
    WORD qualities[2] = {quality, quality};
    FILETIME times[2] = {time, time};
    HRESULT errors[2] = {S_OK, S_OK};

    // No callback stored yet.
    HRESULT hr = sink->OnReadComplete(1, 1, S_OK, S_OK, 1, items, values, qualities, times, errors);
    EXPECT_EQ(E_POINTER, hr) << "OnReadComplete without a callback returned " << std::hex << hr;

    // A request with a bad address still stores the first callback.
    ComPtr<RecordingCallback> first, second;
    ASSERT_EQ(S_OK, com::MakeObject(&first));
    ASSERT_EQ(S_OK, com::MakeObject(&second));
    long cancelId = 0;
    hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(first.get()),
                          *Text(L"opc://No.Such.Server/A").get(), 1, &cancelId);
    EXPECT_EQ(E_FAIL, hr) << "AsyncRead of an unconnected server returned " << std::hex << hr;
    hr = async->AsyncRead(static_cast<IvkAsyncCallback*>(second.get()),
                          *Text(L"opc://No.Such.Server/A").get(), 2, &cancelId);
    EXPECT_EQ(E_FAIL, hr);

    hr = sink->OnReadComplete(5, 1, S_OK, S_OK, 2, items, values, qualities, times, errors);
    EXPECT_EQ(E_INVALIDARG, hr) << "OnReadComplete with two items returned " << std::hex << hr;
    hr = sink->OnWriteComplete(6, 1, S_OK, 2, items, errors);
    EXPECT_EQ(E_INVALIDARG, hr) << "OnWriteComplete with two items returned " << std::hex << hr;
    EXPECT_TRUE(first->completions.empty()) << "a two-item completion reached the callback";

    hr = sink->OnReadComplete(7, 1, S_OK, E_FAIL, 1, items, values, qualities, times, errors);
    EXPECT_EQ(S_OK, hr) << "OnReadComplete with one item returned " << std::hex << hr;
    hr = sink->OnWriteComplete(8, 1, S_OK, 1, items, errors);
    EXPECT_EQ(S_OK, hr) << "OnWriteComplete with one item returned " << std::hex << hr;
    ASSERT_EQ(2u, first->completions.size()) << "completions at the first callback";
    EXPECT_TRUE(second->completions.empty()) << "completions at the second callback";
    EXPECT_EQ(7, first->completions[0].transactionId);
    EXPECT_EQ(static_cast<long>(E_FAIL), first->completions[0].error) << "master error passed on";
    EXPECT_EQ(VT_BSTR, first->completions[0].data.vt());
    EXPECT_FALSE(first->completions[1].isRead);
    EXPECT_EQ(8, first->completions[1].transactionId);
}

}  // namespace
