// Groups, items and their events as a late-bound client sees them: everything through
// GetIDsOfNames and Invoke from the main STA, against the bus simulator. Events arrive at a
// recording sink advised on the objects' connection points.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "DispatchClient.h"
#include "HrCheck.h"
#include "Processes.h"
#include "com/Bstr.h"
#include "com/ComInit.h"
#include "com/Object.h"
#include "com/RegKey.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "opc.h"
#include "opcautomation.h"

namespace {

using test_support::DispatchClient;
using Arg = DispatchClient::Arg;

constexpr wchar_t kSimulator[] = L"Orvane.BusSimulator";
constexpr wchar_t kVendorName[] = L"DP/Slave3/DS_Vendorname";
constexpr wchar_t kProfileIdent[] = L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber";
constexpr wchar_t kLatency[] = L"Sim/Slave3/LatencyMs";

// One event as it arrived: its DISPID and its arguments in declaration order, arrays by
// reference resolved to copies.
struct Event {
    DISPID id;
    std::vector<com::UniqueVariant> args;
    std::vector<VARTYPE> types;  // as passed
};

class EventRecorder : public com::Object<IDispatch> {
public:
    std::vector<Event> events;
    std::function<void(const Event&)> onEvent;

    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    // A sink answers the event interface it is advised on, as the ones scripting hosts make.
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (riid != DIID_DIOPCServerEvent && riid != DIID_DIOPCGroupsEvent &&
            riid != DIID_DIOPCGroupEvent)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        Event event{id, {}, {}};
        for (UINT i = params->cArgs; i-- > 0;) {
            com::UniqueVariant copy;
            ::VariantCopyInd(copy.put(), &params->rgvarg[i]);
            event.types.push_back(V_VT(&params->rgvarg[i]));
            event.args.push_back(std::move(copy));
        }
        events.push_back(std::move(event));
        if (onEvent) onEvent(events.back());
        return S_OK;
    }
    size_t Count(DISPID id) const {
        size_t n = 0;
        for (const auto& e : events) n += e.id == id;
        return n;
    }
    const Event* Last(DISPID id) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->id == id) return &*it;
        return nullptr;
    }
};

// Keeps a recorder advised on an object's outgoing interface while it lives.
class Advised {
public:
    Advised(IDispatch* source, REFIID iid, IDispatch* sink) {
        com::ComPtr<IConnectionPointContainer> container;
        EXPECT_HR(S_OK, source->QueryInterface(IID_PPV_ARGS(container.put())));
        if (!container) return;
        EXPECT_HR(S_OK, container->FindConnectionPoint(iid, point_.put()));
        if (point_) {
            EXPECT_HR(S_OK, point_->Advise(sink, &cookie_));
        }
    }
    ~Advised() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
    }

private:
    com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Lets the apartment take calls (callbacks arrive as messages) until `done` or about 10 s.
bool PumpUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 1000; ++round) {
        if (done()) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
}

com::UniqueVariant LongArray(std::initializer_list<LONG> values, LONG lowerBound) {
    SAFEARRAYBOUND bound = {static_cast<ULONG>(values.size()), lowerBound};
    com::UniqueVariant array;
    V_VT(array.get()) = VT_ARRAY | VT_I4;
    V_ARRAY(array.get()) = ::SafeArrayCreate(VT_I4, 1, &bound);
    LONG index = lowerBound;
    for (LONG value : values) {
        ::SafeArrayPutElement(V_ARRAY(array.get()), &index, &value);
        ++index;
    }
    return array;
}

com::UniqueVariant Element(const VARIANT& array, LONG index) {
    com::UniqueVariant element;
    SAFEARRAY* a = (V_VT(&array) & VT_BYREF) ? *V_ARRAYREF(&array) : V_ARRAY(&array);
    VARTYPE vt = VT_EMPTY;
    ::SafeArrayGetVartype(a, &vt);
    if (vt == VT_VARIANT) {
        ::SafeArrayGetElement(a, &index, element.put());
    } else {
        VARIANT* out = element.put();
        ::SafeArrayGetElement(a, &index, &V_I8(out));
        V_VT(out) = vt;
    }
    return element;
}

LONG LowerBound(const VARIANT& array) {
    LONG lower = -1;
    ::SafeArrayGetLBound(V_ARRAY(&array), 1, &lower);
    return lower;
}

class AutoGroupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com_.succeeded());
        CLSID clsid;
        ASSERT_HR(S_OK, ::CLSIDFromProgID(L"vkOPC.OPCAutoServer", &clsid));
        ASSERT_HR(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                           reinterpret_cast<void**>(server_.put())));
        ASSERT_HR(S_OK, server_.GetObject(L"OPCGroups", &groups_));
    }
    void TearDown() override {
        if (server_.get()) server_.Call(L"Disconnect", {});
    }
    void ConnectWithGroup() {
        ASSERT_TRUE(SUCCEEDED(server_.Call(L"Connect", {progId_, Arg::Missing()})));
        ASSERT_HR(S_OK, groups_.CallObject(L"Add", {L"Gruppe 1"}, &group_));
        ASSERT_HR(S_OK, group_.GetObject(L"OPCItems", &items_));
    }
    HRESULT AddItem(const wchar_t* id, LONG clientHandle, DispatchClient* item) {
        return items_.CallObject(L"AddItem", {id, clientHandle}, item);
    }
    LONG Long(const DispatchClient& object, const wchar_t* property) {
        com::UniqueVariant value;
        EXPECT_HR(S_OK, object.Get(property, &value));
        com::UniqueVariant number;
        ::VariantChangeType(number.put(), value.get(), 0, VT_I4);
        return number.vt() == VT_I4 ? V_I4(number.get()) : -1;
    }

    com::ComInitializer com_{COINIT_APARTMENTTHREADED};
    DispatchClient server_, groups_, group_, items_;
    const wchar_t* progId_ = kSimulator;
};

// The simulator keeps its values between clients: Sim/Reset puts them back.
class AutoGroupResetTest : public AutoGroupTest {
protected:
    void TearDown() override {
        DispatchClient reset;
        if (items_.get() && SUCCEEDED(AddItem(L"Sim/Reset", 0, &reset))) {
            com::UniqueVariant yes;
            V_VT(yes.get()) = VT_BOOL;
            V_BOOL(yes.get()) = VARIANT_TRUE;
            reset.Call(L"Write", {Arg(*yes)});
        }
        AutoGroupTest::TearDown();
    }
};

// The group tests that run over DA 2.0 callbacks and over DA 1.0 streams alike.
class AutoGroupFaceTest : public AutoGroupResetTest,
                          public ::testing::WithParamInterface<const wchar_t*> {
protected:
    void SetUp() override {
        progId_ = GetParam();
        AutoGroupResetTest::SetUp();
    }
    bool Da1() const { return std::wstring(progId_) == L"Orvane.BusSimulatorDA1"; }
};

INSTANTIATE_TEST_SUITE_P(Faces, AutoGroupFaceTest,
                         ::testing::Values(L"Orvane.BusSimulator", L"Orvane.BusSimulatorDA1"));

TEST_F(AutoGroupTest, GroupsByPositionNameAndHandle) {
    DispatchClient group;
    EXPECT_HR(E_FAIL, groups_.CallObject(L"Add", {L"ohne Server"}, &group));
    ConnectWithGroup();
    EXPECT_EQ(1, Long(groups_, L"Count"));
    struct Case {
        Arg specifier;
        HRESULT expected;
    };
    com::UniqueVariant noValue;
    V_VT(noValue.get()) = VT_R8;
    EXPECT_HR(E_INVALIDARG, groups_.CallObject(L"Item", {LONG{0}}, &group));
    EXPECT_HR(E_INVALIDARG, groups_.CallObject(L"Item", {2}, &group));
    EXPECT_HR(E_FAIL, groups_.CallObject(L"Item", {L"x"}, &group));
    EXPECT_HR(E_INVALIDARG, groups_.CallObject(L"Item", {Arg(*noValue)}, &group));
    EXPECT_HR(S_OK, groups_.CallObject(L"Item", {1}, &group));
    EXPECT_HR(S_OK, groups_.CallObject(L"Item", {L"Gruppe 1"}, &group));
    const LONG handle = Long(group_, L"ServerHandle");
    EXPECT_NE(0, handle);
    EXPECT_EQ(handle, Long(group_, L"ClientHandle"));
    EXPECT_HR(S_OK, groups_.CallObject(L"GetOPCGroup", {handle}, &group));
    EXPECT_EQ(handle, Long(group, L"ServerHandle"));
    EXPECT_HR(E_FAIL, groups_.CallObject(L"GetOPCGroup", {handle + 1}, &group));
    EXPECT_HR(E_INVALIDARG, groups_.Call(L"Remove", {L"keine"}));
    EXPECT_HR(E_NOTIMPL, groups_.CallObject(L"ConnectPublicGroup", {L"p"}, &group));
    EXPECT_HR(S_OK, groups_.Call(L"Remove", {handle}));
    EXPECT_EQ(0, Long(groups_, L"Count"));
    // A removed group lives on for its holder, without a server and without a parent.
    com::UniqueVariant value;
    EXPECT_HR(E_FAIL, group_.Get(L"UpdateRate", &value));
    EXPECT_HR(E_FAIL, group_.Get(L"Parent", &value));
}

TEST_F(AutoGroupTest, GroupStateGoesToTheServer) {
    ASSERT_HR(S_OK, groups_.Put(L"DefaultGroupUpdateRate", *Arg(250)));
    ConnectWithGroup();
    EXPECT_EQ(250, Long(group_, L"UpdateRate"));
    EXPECT_HR(S_OK, group_.Put(L"UpdateRate", *Arg(500)));
    EXPECT_EQ(500, Long(group_, L"UpdateRate"));
    EXPECT_HR(S_OK, group_.Put(L"Name", *Arg(L"Umbenannt")));
    DispatchClient found;
    EXPECT_HR(S_OK, groups_.CallObject(L"Item", {L"Umbenannt"}, &found));
    com::UniqueVariant value;
    EXPECT_HR(E_NOTIMPL, group_.Get(L"IsPublic", &value));
    EXPECT_HR(S_OK, group_.Get(L"IsSubscribed", &value));
    EXPECT_EQ(VARIANT_FALSE, V_BOOL(value.get()));
}

TEST_P(AutoGroupFaceTest, ItemReadsTheVendorNameWithGoodQuality) {
    // A DA 1.0 server has no shutdown point to advise: Connect says so.
    com::ComPtr<IOPCAutoServer> direct;
    ASSERT_HR(S_OK, server_.get()->QueryInterface(IID_PPV_ARGS(direct.put())));
    EXPECT_HR(Da1() ? S_FALSE : S_OK, direct->Connect(com::UniqueBstr(progId_).get(), VARIANT{}));
    direct.reset();
    ConnectWithGroup();
    DispatchClient item;
    ASSERT_HR(S_OK, AddItem(kVendorName, 77, &item));
    EXPECT_EQ(1, Long(items_, L"Count"));
    EXPECT_EQ(77, Long(item, L"ClientHandle"));
    EXPECT_EQ(VT_BSTR, Long(item, L"CanonicalDataType"));
    com::UniqueVariant value, quality, time;
    ASSERT_HR(S_OK, item.Call(L"Read", {OPC_DS_DEVICE, Arg::Ref(value.get()),
                                        Arg::Ref(quality.get()), Arg::Ref(time.get())}));
    ASSERT_EQ(VT_BSTR, value.vt());
    EXPECT_STREQ(L"Axolent", V_BSTR(value.get()));
    EXPECT_EQ(VT_I2, quality.vt());
    EXPECT_EQ(OPC_QUALITY_GOOD, V_I2(quality.get()));
    EXPECT_EQ(VT_DATE, time.vt());
    EXPECT_EQ(OPC_QUALITY_GOOD, Long(item, L"Quality"));
    com::UniqueVariant current;
    EXPECT_HR(S_OK, item.Get(L"Value", &current));
    EXPECT_STREQ(L"Axolent", V_BSTR(current.get()));
    // Outputs left out are not filled.
    EXPECT_HR(S_OK,
              item.Call(L"Read", {OPC_DS_CACHE, Arg::Missing(), Arg::Missing(), Arg::Missing()}));
    EXPECT_HR(E_NOTIMPL, item.Get(L"EUType", &current));
}

TEST_F(AutoGroupTest, AddItemGivesTheItemsOwnError) {
    ConnectWithGroup();
    DispatchClient item;
    EXPECT_HR(OPC_E_UNKNOWNITEMID, AddItem(L"No/Such/Item", 1, &item));
    EXPECT_EQ(0, Long(items_, L"Count"));
    EXPECT_HR(E_FAIL, items_.CallObject(L"Item", {L"No/Such/Item"}, &item));
    EXPECT_HR(E_INVALIDARG, items_.CallObject(L"Item", {1}, &item));
}

TEST_P(AutoGroupFaceTest, WriteChangesTheValueAndReadFollows) {
    ConnectWithGroup();
    DispatchClient item;
    ASSERT_HR(S_OK, AddItem(kLatency, 5, &item));
    EXPECT_HR(S_OK, item.Call(L"Write", {7}));
    com::UniqueVariant value;
    ASSERT_HR(S_OK, item.Call(L"Read", {OPC_DS_DEVICE, Arg::Ref(value.get()), Arg::Missing(),
                                        Arg::Missing()}));
    // VT_UI4 reaches a script as VT_R8.
    ASSERT_EQ(VT_R8, value.vt());
    EXPECT_EQ(7.0, V_R8(value.get()));
    DispatchClient vendor;
    ASSERT_HR(S_OK, AddItem(kVendorName, 6, &vendor));
    EXPECT_HR(OPC_E_BADRIGHTS, vendor.Call(L"Write", {L"Fremd"}));
    server_.Call(L"Disconnect", {});
    ASSERT_TRUE(SUCCEEDED(server_.Call(L"Connect", {progId_, Arg::Missing()})));
}

TEST_P(AutoGroupFaceTest, ConversionsForScripts) {
    ConnectWithGroup();
    struct Case {
        const wchar_t* item;
        VARTYPE expected;
    };
    for (const Case& c :
         {Case{kProfileIdent, VT_I4}, Case{kLatency, VT_R8}, Case{kVendorName, VT_BSTR}}) {
        DispatchClient item;
        ASSERT_HR(S_OK, AddItem(c.item, 1, &item));
        com::UniqueVariant value;
        EXPECT_HR(S_OK, item.Call(L"Read", {OPC_DS_CACHE, Arg::Ref(value.get()), Arg::Missing(),
                                            Arg::Missing()}));
        EXPECT_EQ(c.expected, value.vt()) << testing::PrintToString(c.item);
    }
}

TEST_F(AutoGroupResetTest, WithoutConversionUI2StaysUI2) {
    com::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, L"Software\\Brennholt\\vkOPCDAAuto"));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteDword(L"DoNotConvertValuesForAutomation", 1));
    DispatchClient unconverted;
    CLSID clsid;
    ::CLSIDFromProgID(L"vkOPC.OPCAutoServer", &clsid);
    const HRESULT created = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                               reinterpret_cast<void**>(unconverted.put()));
    key.WriteDword(L"DoNotConvertValuesForAutomation", 0);
    ASSERT_HR(S_OK, created);
    server_ = unconverted;
    ASSERT_HR(S_OK, server_.GetObject(L"OPCGroups", &groups_));
    ConnectWithGroup();
    DispatchClient item;
    ASSERT_HR(S_OK, AddItem(kProfileIdent, 1, &item));
    com::UniqueVariant value;
    EXPECT_HR(S_OK, item.Get(L"Value", &value));
    EXPECT_HR(S_OK, item.Call(L"Read", {OPC_DS_CACHE, Arg::Ref(value.get()), Arg::Missing(),
                                        Arg::Missing()}));
    EXPECT_EQ(VT_UI2, value.vt());
}

TEST_P(AutoGroupFaceTest, SyncReadTakesHandleArraysFromZeroOrOne) {
    ConnectWithGroup();
    DispatchClient vendor, latency;
    ASSERT_HR(S_OK, AddItem(kVendorName, 1, &vendor));
    ASSERT_HR(S_OK, AddItem(kLatency, 2, &latency));
    const LONG h1 = Long(vendor, L"ServerHandle");
    const LONG h2 = Long(latency, L"ServerHandle");
    struct Case {
        com::UniqueVariant handles;
        HRESULT expected;
        HRESULT secondError;
    };
    Case cases[] = {
        {LongArray({h1, h2}, 1), S_OK, S_OK},
        {LongArray({-1, h1, h2}, 0), S_OK, S_OK},  // element 0 ignored
        // S_FALSE of the call reaches a dispatch client as success; the entry tells.
        {LongArray({h1, h2 + 1000}, 1), S_OK, OPC_E_INVALIDHANDLE},
    };
    for (Case& c : cases) {
        com::UniqueVariant values, errors, qualities, times;
        ASSERT_HR(c.expected,
                  group_.Call(L"SyncRead", {OPC_DS_DEVICE, 2, Arg(*c.handles),
                                            Arg::Ref(values.get()), Arg::Ref(errors.get()),
                                            Arg::Ref(qualities.get()), Arg::Ref(times.get())}));
        ASSERT_EQ(VT_ARRAY | VT_VARIANT, values.vt());
        EXPECT_EQ(1, LowerBound(*values));
        EXPECT_EQ(1, LowerBound(*errors));
        EXPECT_EQ(1, LowerBound(*qualities));
        EXPECT_STREQ(L"Axolent", V_BSTR(Element(*values, 1).get()));
        EXPECT_EQ(c.secondError, V_I4(Element(*errors, 2).get()));
        EXPECT_EQ(OPC_QUALITY_GOOD, V_I2(Element(*qualities, 1).get()));
    }
}

// Handle arrays as a script or an early-bound client passes them; outputs into empty variables.
TEST_F(AutoGroupTest, ArraysInEveryShapeAScriptPasses) {
    ConnectWithGroup();
    DispatchClient vendor;
    ASSERT_HR(S_OK, AddItem(kVendorName, 1, &vendor));
    com::UniqueVariant longs = LongArray({Long(vendor, L"ServerHandle")}, 1);
    com::UniqueVariant variants;
    SAFEARRAYBOUND one = {1, 1};
    V_VT(variants.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(variants.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &one);
    LONG index = 1;
    com::UniqueVariant handle(Long(vendor, L"ServerHandle"));
    ::SafeArrayPutElement(V_ARRAY(variants.get()), &index, handle.get());
    SAFEARRAY* raw = V_ARRAY(longs.get());
    com::UniqueVariant typedRef;
    V_VT(typedRef.get()) = VT_BYREF | VT_ARRAY | VT_I4;
    V_ARRAYREF(typedRef.get()) = &raw;
    auto read = [&](const Arg& handles) {
        com::UniqueVariant values, errors;
        const HRESULT hr =
            group_.Call(L"SyncRead", {OPC_DS_DEVICE, 1, handles, Arg::Ref(values.get()),
                                      Arg::Ref(errors.get()), Arg::Missing(), Arg::Missing()});
        EXPECT_EQ(VT_ARRAY | VT_VARIANT, values.vt());
        EXPECT_EQ(VT_ARRAY | VT_I4, errors.vt());
        return hr;
    };
    EXPECT_HR(S_OK, read(Arg(*longs)));
    EXPECT_HR(S_OK, read(Arg::Ref(longs.get())));
    EXPECT_HR(S_OK, read(Arg::Ref(variants.get())));
    EXPECT_HR(S_OK, read(Arg(*typedRef)));
}

TEST_F(AutoGroupTest, BadArraysChangeNothing) {
    ConnectWithGroup();
    DispatchClient item;
    ASSERT_HR(S_OK, AddItem(kVendorName, 1, &item));
    const LONG h = Long(item, L"ServerHandle");
    SAFEARRAYBOUND bounds[2] = {{1, 1}, {1, 1}};
    com::UniqueVariant twoDimensional;
    V_VT(twoDimensional.get()) = VT_ARRAY | VT_I4;
    V_ARRAY(twoDimensional.get()) = ::SafeArrayCreate(VT_I4, 2, bounds);
    com::UniqueVariant textArray;
    SAFEARRAYBOUND one = {1, 1};
    V_VT(textArray.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(textArray.get()) = ::SafeArrayCreate(VT_BSTR, 1, &one);
    LONG index = 1;
    ::SafeArrayPutElement(V_ARRAY(textArray.get()), &index, com::UniqueBstr(L"keine Zahl").get());
    struct Case {
        const char* what;
        LONG count;
        const VARIANT* handles;
    };
    com::UniqueVariant fromOne = LongArray({h}, 1), fromTwo = LongArray({h, h}, 2);
    const Case cases[] = {
        {"count 0", 0, fromOne.get()},
        {"count above the upper bound", 2, fromOne.get()},
        {"lower bound 2", 1, fromTwo.get()},
        {"two dimensions", 1, twoDimensional.get()},
        {"element that does not convert", 1, textArray.get()},
    };
    for (const Case& c : cases) {
        com::UniqueVariant values, errors, cancelId;
        EXPECT_HR(E_INVALIDARG,
                  group_.Call(L"SyncRead",
                              {OPC_DS_DEVICE, c.count, Arg(*c.handles), Arg::Ref(values.get()),
                               Arg::Ref(errors.get()), Arg::Missing(), Arg::Missing()}))
            << c.what;
        EXPECT_HR(E_INVALIDARG,
                  items_.Call(L"Remove", {c.count, Arg(*c.handles), Arg::Ref(errors.get())}))
            << c.what;
        EXPECT_HR(E_INVALIDARG,
                  group_.Call(L"AsyncRead", {c.count, Arg(*c.handles), Arg::Ref(errors.get()), 1,
                                             Arg::Ref(cancelId.get())}))
            << c.what;
    }
    EXPECT_EQ(1, Long(items_, L"Count"));
}

TEST_F(AutoGroupTest, ItemsCollectionRemovesByHandle) {
    ConnectWithGroup();
    DispatchClient a, b;
    ASSERT_HR(S_OK, AddItem(kVendorName, 1, &a));
    ASSERT_HR(S_OK, AddItem(kLatency, 2, &b));
    const LONG ha = Long(a, L"ServerHandle");
    DispatchClient found;
    EXPECT_HR(S_OK, items_.CallObject(L"GetOPCItem", {ha}, &found));
    EXPECT_HR(S_OK, items_.CallObject(L"Item", {2}, &found));
    EXPECT_EQ(2, Long(found, L"ClientHandle"));
    com::UniqueVariant handles = LongArray({ha, ha + 1000}, 1), errors;
    EXPECT_HR(S_OK, items_.Call(L"Remove", {2, Arg(*handles), Arg::Ref(errors.get())}));
    EXPECT_EQ(S_OK, V_I4(Element(*errors, 1).get()));
    EXPECT_EQ(OPC_E_INVALIDHANDLE, V_I4(Element(*errors, 2).get()));
    EXPECT_EQ(1, Long(items_, L"Count"));
    EXPECT_HR(E_FAIL, items_.CallObject(L"GetOPCItem", {ha}, &found));
    com::UniqueVariant value;
    EXPECT_HR(E_FAIL, a.Get(L"Parent", &value));
}

TEST_P(AutoGroupFaceTest, NoDataChangeBeforeSubscribing) {
    ConnectWithGroup();
    ASSERT_HR(S_OK, group_.Put(L"UpdateRate", *Arg(50)));
    com::ComPtr<EventRecorder> recorder;
    ASSERT_HR(S_OK, com::MakeObject(&recorder));
    Advised advised(group_.get(), DIID_DIOPCGroupEvent, recorder.get());
    DispatchClient item;
    ASSERT_HR(S_OK, AddItem(kVendorName, 42, &item));
    // Outgoing calls let callbacks in; none may come.
    for (int i = 0; i < 20; ++i) {
        Long(server_, L"ServerState");
        ::Sleep(20);
    }
    EXPECT_EQ(0u, recorder->events.size());

    com::UniqueVariant yes;
    V_VT(yes.get()) = VT_BOOL;
    V_BOOL(yes.get()) = VARIANT_TRUE;
    ASSERT_HR(S_OK, group_.Put(L"IsSubscribed", *yes));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Count(1) > 0; }));
    const Event& change = *recorder->Last(1);
    ASSERT_EQ(6u, change.args.size());
    EXPECT_EQ(0, V_I4(change.args[0].get()));  // transaction 0
    EXPECT_EQ(1, V_I4(change.args[1].get()));
    EXPECT_EQ(VT_BYREF | VT_ARRAY | VT_I4, change.types[2]);
    EXPECT_EQ(1, LowerBound(*change.args[2]));
    EXPECT_EQ(42, V_I4(Element(*change.args[2], 1).get()));
    EXPECT_STREQ(L"Axolent", V_BSTR(Element(*change.args[3], 1).get()));
    EXPECT_EQ(OPC_QUALITY_GOOD, V_I4(Element(*change.args[4], 1).get()));
}

com::UniqueVariant True() {
    com::UniqueVariant yes;
    V_VT(yes.get()) = VT_BOOL;
    V_BOOL(yes.get()) = VARIANT_TRUE;
    return yes;
}

constexpr DISPID kDataChange = 1, kReadComplete = 2, kWriteComplete = 3, kCancelComplete = 4;

TEST_P(AutoGroupFaceTest, AsyncReadWriteAndRefreshDeliverArraysFromOne) {
    ConnectWithGroup();
    com::ComPtr<EventRecorder> recorder;
    ASSERT_HR(S_OK, com::MakeObject(&recorder));
    Advised advised(group_.get(), DIID_DIOPCGroupEvent, recorder.get());
    DispatchClient latency;
    ASSERT_HR(S_OK, AddItem(kLatency, 31, &latency));
    com::UniqueVariant handles = LongArray({Long(latency, L"ServerHandle")}, 1);
    com::UniqueVariant errors, cancelId;
    // Without a subscription the server has no callback to complete to.
    EXPECT_TRUE(FAILED(group_.Call(
        L"AsyncRead", {1, Arg(*handles), Arg::Ref(errors.get()), 7, Arg::Ref(cancelId.get())})));
    ASSERT_HR(S_OK, group_.Put(L"IsSubscribed", *True()));

    com::UniqueVariant values;
    V_VT(values.get()) = VT_ARRAY | VT_VARIANT;
    SAFEARRAYBOUND one = {1, 1};
    V_ARRAY(values.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &one);
    LONG index = 1;
    com::UniqueVariant twelve(12);
    ::SafeArrayPutElement(V_ARRAY(values.get()), &index, twelve.get());
    ASSERT_HR(S_OK,
              group_.Call(L"AsyncWrite", {1, Arg(*handles), Arg(*values), Arg::Ref(errors.get()), 8,
                                          Arg::Ref(cancelId.get())}));
    EXPECT_EQ(1, LowerBound(*errors));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Count(kWriteComplete) > 0; }));
    const Event& written = *recorder->Last(kWriteComplete);
    EXPECT_EQ(8, V_I4(written.args[0].get()));
    EXPECT_EQ(VT_BYREF | VT_ARRAY | VT_I4, written.types[2]);
    EXPECT_EQ(31, V_I4(Element(*written.args[2], 1).get()));
    EXPECT_EQ(S_OK, V_I4(Element(*written.args[3], 1).get()));

    ASSERT_HR(S_OK, group_.Call(L"AsyncRead", {1, Arg(*handles), Arg::Ref(errors.get()), 9,
                                               Arg::Ref(cancelId.get())}));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Count(kReadComplete) > 0; }));
    const Event& read = *recorder->Last(kReadComplete);
    ASSERT_EQ(7u, read.args.size());
    EXPECT_EQ(9, V_I4(read.args[0].get()));
    EXPECT_EQ(VT_BYREF | VT_ARRAY | VT_VARIANT, read.types[3]);
    EXPECT_EQ(1, LowerBound(*read.args[3]));
    com::UniqueVariant value = Element(*read.args[3], 1);
    EXPECT_EQ(VT_R8, value.vt()) << "VT_UI4 converted";
    EXPECT_EQ(12.0, V_R8(value.get()));
    EXPECT_EQ(VT_BYREF | VT_ARRAY | VT_DATE, read.types[5]);

    ASSERT_HR(S_OK, group_.Call(L"AsyncRefresh", {OPC_DS_DEVICE, 10, Arg::Ref(cancelId.get())}));
    ASSERT_TRUE(PumpUntil([&] {
        const Event* change = recorder->Last(kDataChange);
        return change && V_I4(change->args[0].get()) == 10;
    }));
    EXPECT_EQ(VT_BYREF | VT_ARRAY | VT_I4, recorder->Last(kDataChange)->types[2]);
}

TEST_P(AutoGroupFaceTest, AsyncCancelWinsWhileTheJobIsHeld) {
    ConnectWithGroup();
    com::ComPtr<EventRecorder> recorder;
    ASSERT_HR(S_OK, com::MakeObject(&recorder));
    Advised advised(group_.get(), DIID_DIOPCGroupEvent, recorder.get());
    DispatchClient delay, latency;
    ASSERT_HR(S_OK, AddItem(L"Sim/AsyncDelayMs", 1, &delay));
    ASSERT_HR(S_OK, AddItem(kLatency, 2, &latency));
    ASSERT_HR(S_OK, delay.Call(L"Write", {2000}));
    ASSERT_HR(S_OK, group_.Put(L"IsSubscribed", *True()));
    com::UniqueVariant handles = LongArray({Long(latency, L"ServerHandle")}, 1);
    com::UniqueVariant errors, cancelId;
    ASSERT_HR(S_OK, group_.Call(L"AsyncRead", {1, Arg(*handles), Arg::Ref(errors.get()), 55,
                                               Arg::Ref(cancelId.get())}));
    ASSERT_EQ(VT_I4, cancelId.vt());
    ASSERT_HR(S_OK, group_.Call(L"AsyncCancel", {V_I4(cancelId.get())}));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Count(kCancelComplete) > 0; }));
    EXPECT_EQ(55, V_I4(recorder->Last(kCancelComplete)->args[0].get()));
    EXPECT_EQ(0u, recorder->Count(kReadComplete));
    ASSERT_HR(S_OK, delay.Call(L"Write", {LONG{0}}));
}

TEST_P(AutoGroupFaceTest, GlobalDataChangeCarriesTheGroupsClientHandle) {
    ConnectWithGroup();
    com::ComPtr<EventRecorder> recorder;
    ASSERT_HR(S_OK, com::MakeObject(&recorder));
    Advised advised(groups_.get(), DIID_DIOPCGroupsEvent, recorder.get());
    ASSERT_HR(S_OK, group_.Put(L"ClientHandle", *Arg(4711)));
    DispatchClient item;
    ASSERT_HR(S_OK, AddItem(kVendorName, 3, &item));
    ASSERT_HR(S_OK, group_.Put(L"UpdateRate", *Arg(50)));
    ASSERT_HR(S_OK, group_.Put(L"IsSubscribed", *True()));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Count(1) > 0; }));
    const Event& change = *recorder->Last(1);
    ASSERT_EQ(7u, change.args.size());
    EXPECT_EQ(4711, V_I4(change.args[1].get()));
    EXPECT_EQ(1, V_I4(change.args[2].get()));
    EXPECT_EQ(3, V_I4(Element(*change.args[3], 1).get()));
}

TEST_F(AutoGroupResetTest, ServerShutDownCarriesTheReason) {
    ConnectWithGroup();
    com::ComPtr<EventRecorder> recorder;
    ASSERT_HR(S_OK, com::MakeObject(&recorder));
    Advised advised(server_.get(), DIID_DIOPCServerEvent, recorder.get());
    DispatchClient request;
    ASSERT_HR(S_OK, AddItem(L"Sim/ShutdownRequest", 1, &request));
    ASSERT_HR(S_OK, request.Call(L"Write", {L"Wartung um 22 Uhr"}));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Count(1) > 0; }));
    EXPECT_STREQ(L"Wartung um 22 Uhr", V_BSTR(recorder->Last(1)->args[0].get()));
}

// A handler that disconnects, or removes its own group, must not pull the ground from under the
// event that called it.
TEST_P(AutoGroupFaceTest, DataChangeHandlerMayDisconnectOrRemoveItsGroup) {
    for (const wchar_t* action : {L"Disconnect", L"Remove"}) {
        ConnectWithGroup();
        com::ComPtr<EventRecorder> recorder;
        ASSERT_HR(S_OK, com::MakeObject(&recorder));
        const LONG handle = Long(group_, L"ServerHandle");
        recorder->onEvent = [&](const Event&) {
            if (std::wstring(action) == L"Disconnect")
                server_.Call(L"Disconnect", {});
            else
                groups_.Call(L"Remove", {handle});
        };
        Advised advised(group_.get(), DIID_DIOPCGroupEvent, recorder.get());
        DispatchClient item;
        ASSERT_HR(S_OK, AddItem(kVendorName, 3, &item));
        ASSERT_HR(S_OK, group_.Put(L"UpdateRate", *Arg(50)));
        ASSERT_HR(S_OK, group_.Put(L"IsSubscribed", *True()));
        ASSERT_TRUE(PumpUntil([&] { return recorder->Count(1) > 0; })) << action;
        EXPECT_EQ(0, Long(groups_, L"Count")) << action;
        group_ = DispatchClient();
        items_ = DispatchClient();
        server_.Call(L"Disconnect", {});
    }
}

TEST_F(AutoGroupTest, BrowserFlatAndHierarchical) {
    com::UniqueVariant browser;
    EXPECT_HR(E_FAIL, server_.Call(L"CreateBrowser", {}, &browser));
    ASSERT_TRUE(SUCCEEDED(server_.Call(L"Connect", {kSimulator, Arg::Missing()})));
    DispatchClient b;
    ASSERT_HR(S_OK, server_.CallObject(L"CreateBrowser", {}, &b));
    EXPECT_EQ(OPC_NS_HIERARCHIAL, Long(b, L"Organization"));
    ASSERT_HR(S_OK, b.Put(L"Filter", *Arg(L"*DS_Vendorname")));
    ASSERT_HR(S_OK, b.Call(L"ShowLeafs", {Arg(*True())}));
    const LONG count = Long(b, L"Count");
    EXPECT_LE(1, count);
    com::UniqueVariant name;
    ASSERT_HR(S_OK, b.Call(L"Item", {1}, &name));
    EXPECT_STREQ(L"DP/Slave3/DS_Vendorname", V_BSTR(name.get()));
    EXPECT_HR(E_INVALIDARG, b.Call(L"Item", {count + 1}, &name));
    EXPECT_HR(E_INVALIDARG, b.Call(L"Item", {LONG{0}}, &name));

    ASSERT_HR(S_OK, b.Put(L"Filter", *Arg(L"")));
    ASSERT_HR(S_OK, b.Call(L"ShowBranches", {}));
    EXPECT_LT(0, Long(b, L"Count"));
    ASSERT_HR(S_OK, b.Call(L"MoveDown", {L"DP"}));
    ASSERT_HR(S_OK, b.Call(L"MoveDown", {L"Slave3"}));
    ASSERT_HR(S_OK, b.Call(L"ShowLeafs", {Arg::Missing()}));
    EXPECT_LT(0, Long(b, L"Count"));
    com::UniqueVariant id;
    ASSERT_HR(S_OK, b.Call(L"GetItemID", {L"DS_Vendorname"}, &id));
    EXPECT_STREQ(L"DP/Slave3/DS_Vendorname", V_BSTR(id.get()));
    ASSERT_HR(S_OK, b.Call(L"MoveToRoot", {}));
    com::UniqueVariant position;
    ASSERT_HR(S_OK, b.Get(L"CurrentPosition", &position));
    EXPECT_STREQ(L"", V_BSTR(position.get()));
}

// Nothing a client still holds of the wrapper's children keeps the OPC server: releasing the
// server object without Disconnect ends the simulator, and the children then fail cleanly.
TEST_F(AutoGroupTest, ChildrenHeldAfterTheServerObjectGoes) {
    if (!test_support::WaitForNoProcess(L"OrvaneBusSim.exe", 10000))
        GTEST_SKIP() << "the simulator is held by another client";
    ConnectWithGroup();
    DispatchClient item, browser;
    ASSERT_HR(S_OK, AddItem(kVendorName, 1, &item));
    ASSERT_HR(S_OK, server_.CallObject(L"CreateBrowser", {}, &browser));
    server_ = DispatchClient();
    groups_ = DispatchClient();
    EXPECT_TRUE(test_support::WaitForNoProcess(L"OrvaneBusSim.exe", 10000))
        << "the simulator still runs after the server object went";
    com::UniqueVariant value;
    EXPECT_HR(E_FAIL, group_.Get(L"Parent", &value));
    EXPECT_HR(E_FAIL, group_.Get(L"UpdateRate", &value));
    EXPECT_HR(E_FAIL, item.Call(L"Read", {OPC_DS_CACHE, Arg::Ref(value.get()), Arg::Missing(),
                                          Arg::Missing()}));
    EXPECT_HR(E_FAIL, browser.Call(L"ShowBranches", {}));
}

// A caller in the multithreaded apartment reaches groups and items through proxies made from the
// registered type library; the objects live in this thread's apartment.
TEST_F(AutoGroupTest, MtaCallerUsesGroupsAndItemsThroughTheMarshaler) {
    HRESULT connected = E_UNEXPECTED, added = E_UNEXPECTED, read = E_UNEXPECTED;
    std::wstring vendor;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, done);
    std::thread caller([&] {
        com::ComInitializer mta(COINIT_MULTITHREADED);
        {
            CLSID clsid;
            ::CLSIDFromProgID(L"vkOPC.OPCAutoServer", &clsid);
            com::ComPtr<IOPCAutoServer> server;
            if (SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_PPV_ARGS(server.put())))) {
                DispatchClient client(server.get());
                connected = client.Call(L"Connect", {kSimulator, Arg::Missing()});
                com::ComPtr<IOPCGroups> groups;
                com::ComPtr<IOPCGroup> group;
                com::ComPtr<OPCItems> items;
                com::ComPtr<OPCItem> item;
                VARIANT name;
                ::VariantInit(&name);
                if (SUCCEEDED(server->get_OPCGroups(groups.put())) &&
                    SUCCEEDED(groups->Add(name, group.put())) &&
                    SUCCEEDED(group->get_OPCItems(items.put())))
                    added = items->AddItem(com::UniqueBstr(kVendorName).get(), 1, item.put());
                if (item) {
                    com::UniqueVariant value, quality, time;
                    read = item->Read(OPC_DS_DEVICE, value.get(), quality.get(), time.get());
                    if (value.vt() == VT_BSTR) vendor = V_BSTR(value.get());
                }
                server->Disconnect();
            }
        }
        ::SetEvent(done);
    });
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    caller.join();
    ::CloseHandle(done);
    EXPECT_TRUE(SUCCEEDED(connected)) << test_support::HrText(connected);
    EXPECT_HR(S_OK, added);
    EXPECT_HR(S_OK, read);
    EXPECT_EQ(L"Axolent", vendor);
}

}  // namespace
