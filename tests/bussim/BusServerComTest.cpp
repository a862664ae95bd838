// OrvaneBusSim out of process, as a client sees it: registration, browsing,
// the parameter channel with its profile-ident gate, latency, offline slaves
// and fault injection through the Sim/ items, asynchronous completions, and
// several clients at once.
#include <gtest/gtest.h>

#include <windows.h>
#include <comcat.h>
#include <ocidl.h>

#include <opc.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BusSimulator.h"
#include "HrCheck.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Resources.h"

namespace {

using Bytes = std::vector<BYTE>;

CLSID CLSID_BusSim() {
    CLSID clsid = CLSID_NULL;
    CLSIDFromProgID(L"Orvane.BusSimulator", &clsid);
    return clsid;
}

constexpr HRESULT kNotReady = E_PENDING;
constexpr HRESULT kNoResponse = HRESULT_FROM_WIN32(ERROR_NO_DATA);
constexpr HRESULT kChannelClosed = HRESULT_FROM_WIN32(ERROR_NOT_READY);
constexpr HRESULT kRefused = HRESULT_FROM_WIN32(ERROR_BAD_LENGTH);

// Read of parameter 918 (node address) of the drive unit, reference `ref`.
Bytes ReadNodeAddress(BYTE ref) { return {ref, 1, 0, 1, 0x10, 0, 0x03, 0x96, 0, 0}; }

std::string Hex(const Bytes& bytes) {
    std::string text;
    for (BYTE b : bytes) {
        char part[4];
        snprintf(part, sizeof part, "%02x ", b);
        text += part;
    }
    return text;
}

// Collects the completions of one group; called on RPC threads.
class CallbackSink : public com::Object<IOPCDataCallback> {
public:
    struct Completion {
        enum Kind { kRead, kWrite, kCancel, kDataChange } kind;
        DWORD transactionId;
        OPCHANDLE hGroup;
        HRESULT masterError;
        DWORD count;
        std::vector<OPCHANDLE> clients;
        std::vector<HRESULT> errors;
        Bytes bytes;       // value of the first item when it is a byte array
        LONG number = -1;  // value of the first item when it is a number
    };

    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT hrMastererror,
                              DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD*,
                              FILETIME*, HRESULT* pErrors) override {
        Add(Completion::kDataChange, dwTransid, hGroup, hrMastererror, dwCount, phClientItems,
            pvValues, pErrors);
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT hrMastererror,
                                DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD*,
                                FILETIME*, HRESULT* pErrors) override {
        Add(Completion::kRead, dwTransid, hGroup, hrMastererror, dwCount, phClientItems, pvValues,
            pErrors);
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                 DWORD dwCount, OPCHANDLE* pClienthandles,
                                 HRESULT* pErrors) override {
        Add(Completion::kWrite, dwTransid, hGroup, hrMastererr, dwCount, pClienthandles, nullptr,
            pErrors);
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        Add(Completion::kCancel, dwTransid, hGroup, S_OK, 0, nullptr, nullptr, nullptr);
        return S_OK;
    }

    // Waits (bounded) for the next completion.
    bool Next(Completion* out) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(20),
                               [this] { return !completions_.empty(); }))
            return false;
        *out = completions_.front();
        completions_.erase(completions_.begin());
        return true;
    }

private:
    void Add(Completion::Kind kind, DWORD id, OPCHANDLE hGroup, HRESULT master, DWORD count,
             OPCHANDLE* clients, VARIANT* values, HRESULT* errors) {
        Completion c{kind, id, hGroup, master, count, {}, {}, {}};
        for (DWORD i = 0; i < count; ++i) {
            c.clients.push_back(clients[i]);
            c.errors.push_back(errors[i]);
        }
        if (values && count > 0 && V_VT(&values[0]) == (VT_ARRAY | VT_UI1))
            com::VariantToBytes(values[0], &c.bytes);
        com::UniqueVariant number;
        if (values && count > 0 && SUCCEEDED(VariantChangeType(number.get(), &values[0], 0, VT_I4)))
            c.number = V_I4(number.get());
        std::lock_guard<std::mutex> lock(mutex_);
        completions_.push_back(c);
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Completion> completions_;
};

// One client of the simulator: a server object and one group.
class SimClient {
public:
    HRESULT Connect(const wchar_t* progId = L"Orvane.BusSimulator") {
        CLSID clsid;
        RETURN_IF_FAILED(CLSIDFromProgID(progId, &clsid));
        RETURN_IF_FAILED(
            CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(server.put())));
        DWORD revised = 0;
        FLOAT deadband = 10.0f;
        LONG bias = 0;
        RETURN_IF_FAILED(server->AddGroup(L"OPCItemAutomaticGroup", FALSE, 1000, 77, &bias,
                                          &deadband, 0x400, &hGroup, &revised, IID_IOPCItemMgt,
                                          reinterpret_cast<IUnknown**>(itemMgt.put())));
        RETURN_IF_FAILED(itemMgt.query(&syncIO));
        return itemMgt.query(&asyncIO);
    }

    // Adds one item; returns its server handle (0 on failure, with the item error).
    OPCHANDLE Add(const wchar_t* id, VARTYPE requested = VT_EMPTY, HRESULT* error = nullptr,
                  OPCITEMRESULT* info = nullptr) {
        OPCITEMDEF def{};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id);
        def.bActive = TRUE;
        def.hClient = ++nextClient_;
        def.vtRequestedDataType = requested;
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        HRESULT hr = itemMgt->AddItems(1, &def, results.put(), errors.put());
        if (error) *error = FAILED(hr) ? hr : errors[0];
        if (FAILED(hr) || FAILED(errors[0])) return 0;
        if (info) *info = results[0];
        return results[0].hServer;
    }

    HRESULT Write(OPCHANDLE h, const VARIANT& value) {
        com::CoTaskMem<HRESULT> errors;
        HRESULT hr = syncIO->Write(1, &h, const_cast<VARIANT*>(&value), errors.put());
        return FAILED(hr) ? hr : errors[0];
    }
    HRESULT WriteBytes(OPCHANDLE h, const Bytes& bytes) {
        com::UniqueVariant value;
        com::BytesToVariant(bytes.data(), bytes.size(), value.get());
        return Write(h, *value);
    }
    HRESULT WriteNumber(OPCHANDLE h, LONG number) { return Write(h, *com::UniqueVariant(number)); }
    HRESULT WriteText(OPCHANDLE h, const wchar_t* text) {
        return Write(h, *com::UniqueVariant(text));
    }

    HRESULT Read(OPCHANDLE h, com::UniqueVariant* value, OPCDATASOURCE source = OPC_DS_DEVICE,
                 WORD* quality = nullptr) {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        HRESULT hr = syncIO->Read(source, 1, &h, states.put(), errors.put());
        if (FAILED(hr)) return hr;
        value->reset(states[0].vDataValue);
        if (quality) *quality = states[0].wQuality;
        return errors[0];
    }
    LONG ReadNumber(OPCHANDLE h) {
        com::UniqueVariant value;
        if (FAILED(Read(h, &value)) ||
            FAILED(VariantChangeType(value.get(), value.get(), 0, VT_I4)))
            return -1;
        return V_I4(value.get());
    }

    // Polls the channel as a client does: device reads until the response is
    // there, at most `polls` times.
    HRESULT Poll(OPCHANDLE channel, Bytes* response, int polls = 5000) {
        HRESULT hr = E_FAIL;
        for (int i = 0; i < polls; ++i) {
            com::UniqueVariant value;
            hr = Read(channel, &value);
            if (SUCCEEDED(hr)) {
                if (value.vt() != (VT_ARRAY | VT_UI1)) return DISP_E_TYPEMISMATCH;
                SAFEARRAY* array = V_ARRAY(value.get());
                LONG lower = -1;
                SafeArrayGetLBound(array, 1, &lower);
                if (SafeArrayGetDim(array) != 1 || lower != 0) return E_UNEXPECTED;
                return com::VariantToBytes(*value, response);
            }
            if (hr != kNotReady) return hr;
            Sleep(1);
        }
        return hr;
    }

    // Opens the channel of a slave and returns its handle.
    OPCHANDLE OpenChannel(const std::wstring& prefix) {
        OPCHANDLE profile = Add((prefix + L"DS_MSAC2_Parameter/MA_ProfileIdentNumber").c_str());
        if (!profile || FAILED(WriteNumber(profile, 0x3A00))) return 0;
        return Add((prefix + L"SlotI0S47D8209").c_str());
    }

    com::ComPtr<IOPCServer> server;
    com::ComPtr<IOPCItemMgt> itemMgt;
    com::ComPtr<IOPCSyncIO> syncIO;
    com::ComPtr<IOPCAsyncIO2> asyncIO;
    OPCHANDLE hGroup = 0;

private:
    OPCHANDLE nextClient_ = 100;
};

class BusSimTest : public test_support::BusSimulatorTest {
protected:
    void SetUp() override {
        test_support::BusSimulatorTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_HR(S_OK, client_.Connect()) << "connecting to Orvane.BusSimulator";
    }

    SimClient client_;
};

std::vector<std::wstring> Drain(IEnumString* names) {
    std::vector<std::wstring> all;
    LPOLESTR name = nullptr;
    ULONG fetched = 0;
    while (names && names->Next(1, &name, &fetched) == S_OK) {
        all.push_back(name);
        CoTaskMemFree(name);
    }
    return all;
}

// ------------------------------------------------------------ registration

TEST(BusSimRegistration, ProgIdsAndCategories) {
    com::ComInitializer com(COINIT_MULTITHREADED);
    CLSID plain, versioned;
    ASSERT_EQ(CLSIDFromProgID(L"Orvane.BusSimulator", &plain), S_OK)
        << "CLSIDFromProgID(Orvane.BusSimulator)";
    ASSERT_EQ(CLSIDFromProgID(L"Orvane.BusSimulator.1", &versioned), S_OK)
        << "CLSIDFromProgID(...1)";
    EXPECT_TRUE(IsEqualCLSID(plain, versioned)) << "both ProgIDs name one class";
    // Clients that list servers by category show this ProgID and compare it with their
    // configured bus server.
    LPOLESTR listed = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(plain, &listed), S_OK);
    EXPECT_STREQ(listed, L"Orvane.BusSimulator") << "ProgID under the class key";
    CoTaskMemFree(listed);

    // The class and the three categories it implements, as clients enumerate them.
    std::wstring classKey = L"CLSID\\{6B1F2C40-8D3E-4A51-9C27-3E5A0D4B7F11}";
    for (const wchar_t* catid :
         {L"{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}", L"{276BC1C1-0BC1-11D4-A78F-525405F5B2CF}",
          L"{3CF19FF3-907B-11D4-B4A7-0050DA3F121C}"}) {
        std::wstring key = classKey + L"\\Implemented Categories\\" + catid;
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened),
                  ERROR_SUCCESS)
            << "implemented category " << std::string(catid, catid + wcslen(catid));
        if (opened) RegCloseKey(opened);
    }
    wchar_t description[64] = L"";
    DWORD size = sizeof description;
    EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT,
                           L"Component Categories\\{3CF19FF3-907B-11D4-B4A7-0050DA3F121C}", L"409",
                           RRF_RT_REG_SZ, nullptr, description, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(description, L"Busserver PROFIBUS-DP");
    const CLSID kExpected = {
        0x6B1F2C40, 0x8D3E, 0x4A51, {0x9C, 0x27, 0x3E, 0x5A, 0x0D, 0x4B, 0x7F, 0x11}};
    EXPECT_TRUE(IsEqualCLSID(plain, kExpected)) << "CLSID of Orvane.BusSimulator";
    com::ComPtr<IOPCServer> server;
    ASSERT_EQ(CoCreateInstance(versioned, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(server.put())),
              S_OK);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK) << "GetStatus";
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING) << "the default topology loads";
    EXPECT_EQ(std::wstring(status->szVendorInfo).find(L"Axolent"), 0u) << "vendor info";
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

// The process ends after its last object: a later client meets a server that
// started anew.
TEST(BusSimLifetime, ProcessEndsAfterItsLastObject) {
    com::ComInitializer com(COINIT_MULTITHREADED);
    auto startTime = [](ULONGLONG* start) {
        com::ComPtr<IOPCServer> server;
        HRESULT hr = CoCreateInstance(CLSID_BusSim(), nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_PPV_ARGS(server.put()));
        if (FAILED(hr)) return hr;
        OPCSERVERSTATUS* status = nullptr;
        hr = server->GetStatus(&status);
        if (FAILED(hr)) return hr;
        *start =
            ULONGLONG(status->ftStartTime.dwHighDateTime) << 32 | status->ftStartTime.dwLowDateTime;
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
        return S_OK;
    };
    ULONGLONG first = 0;
    ASSERT_EQ(startTime(&first), S_OK) << "first server";
    ULONGLONG later = first;
    // Bounded poll: the process goes about two seconds after the last release;
    // every look starts a quiet second anew, so look seldom.
    for (int i = 0; i < 5 && later == first; ++i) {
        Sleep(2500);
        ASSERT_EQ(startTime(&later), S_OK) << "server " << i;
    }
    EXPECT_NE(later, first) << "a new server process within 12.5 s";
}

// ---------------------------------------------------------------- browsing

TEST_F(BusSimTest, FlatBrowseFindsEverySlaveByItsMarker) {
    com::ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(client_.server.query(&browse), S_OK);
    com::ComPtr<IEnumString> names;
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"*DS_Vendorname", VT_EMPTY, 0, names.put()),
              S_OK);
    std::vector<std::wstring> found = Drain(names.get());
    EXPECT_EQ(found,
              (std::vector<std::wstring>{L"DP/Slave3/DS_Vendorname", L"DP/Slave4/DS_Vendorname",
                                         L"DP/Slave5/DS_Vendorname", L"DP/Slave6/DS_Vendorname",
                                         L"DP/Slave7/DS_Vendorname"}));
    for (const std::wstring& name : found) {
        LPWSTR id = nullptr;
        ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(name.c_str()), &id), S_OK) << "GetItemID";
        EXPECT_EQ(std::wstring(id), name) << "a flat name is its item ID";
        CoTaskMemFree(id);
    }
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_ARRAY | VT_UI1, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()),
              (std::vector<std::wstring>{L"DP/Slave3/SlotI0S47D8209", L"DP/Slave4/SlotI0S47D8209",
                                         L"DP/Slave5/SlotI0S47D8209", L"DP/Slave6/SlotI0S47D8209",
                                         L"DP/Slave7/SlotI0S47D8209"}))
        << "data-type filter VT_ARRAY|VT_UI1";
    ASSERT_EQ(
        browse->BrowseOPCItemIDs(OPC_FLAT, L"Sim/Slave3/*", VT_EMPTY, OPC_WRITEABLE, names.put()),
        S_OK);
    EXPECT_EQ(Drain(names.get()),
              (std::vector<std::wstring>{L"Sim/Slave3/Faults", L"Sim/Slave3/LatencyMs",
                                         L"Sim/Slave3/Offline", L"Sim/Slave3/WithholdCompletions"}))
        << "access-rights filter OPC_WRITEABLE";
    EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"*dS_Vendorname", VT_EMPTY, 0, names.put()),
              S_FALSE)
        << "filters are case-sensitive; nothing found gives S_FALSE";
    EXPECT_EQ(Drain(names.get()).size(), 0u);
    EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0x10, names.put()), E_INVALIDARG)
        << "unknown access-rights bits";
}

TEST_F(BusSimTest, HierarchicalBrowse) {
    com::ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(client_.server.query(&browse), S_OK);
    OPCNAMESPACETYPE type;
    ASSERT_EQ(browse->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
    com::ComPtr<IEnumString> names;
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()), (std::vector<std::wstring>{L"DP", L"Sim"})) << "root branches";
    EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""), E_FAIL) << "up from the root";
    EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Nowhere"), E_INVALIDARG)
        << "down to nothing";
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"DP"), S_OK);
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"Slave[45]", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()), (std::vector<std::wstring>{L"Slave4", L"Slave5"}))
        << "filter with a set";
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"Slave#", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()).size(), 5u) << "filter with a digit";
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Slave3"), S_OK);
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()), (std::vector<std::wstring>{L"DS_Vendorname", L"SlotI0S47D8209"}));
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"DS_MSAC2_Parameter"), S_OK);
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"MA_*", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()), (std::vector<std::wstring>{L"MA_ProfileIdentNumber"}));
    LPWSTR id = nullptr;
    ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(L"MA_ProfileIdentNumber"), &id), S_OK);
    EXPECT_STREQ(id, L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    CoTaskMemFree(id);
    EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(L"Missing"), &id), E_INVALIDARG)
        << "GetItemID of nothing";
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""), S_OK);
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"Sim"), S_OK);
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"", VT_BOOL, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()), (std::vector<std::wstring>{L"Reset"}));
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, L""), S_OK) << "to the root";
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, L"", VT_EMPTY, 0, names.put()), S_FALSE)
        << "no leaves at root";
    EXPECT_EQ(browse->BrowseAccessPaths(L"DP/Slave3/DS_Vendorname", names.put()), E_NOTIMPL);
}

// ------------------------------------------------------------ item management

TEST_F(BusSimTest, AddItemsReportsTypesRightsAndErrors) {
    HRESULT error;
    OPCITEMRESULT info{};
    ASSERT_NE(client_.Add(L"DP/Slave3/SlotI0S47D8209", VT_EMPTY, &error, &info), 0u)
        << std::hex << error;
    EXPECT_EQ(info.vtCanonicalDataType, VT_ARRAY | VT_UI1) << "channel type";
    EXPECT_EQ(info.dwAccessRights, DWORD(OPC_READABLE | OPC_WRITEABLE)) << "channel rights";
    ASSERT_NE(
        client_.Add(L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber", VT_EMPTY, &error, &info),
        0u);
    EXPECT_EQ(info.vtCanonicalDataType, VT_UI2) << "profile ident type";
    ASSERT_NE(client_.Add(L"DP/Slave3/DS_Vendorname", VT_BSTR, &error, &info), 0u);
    EXPECT_EQ(info.dwAccessRights, DWORD(OPC_READABLE)) << "marker rights";
    EXPECT_NE(client_.Add(L"Sim/Slave3/LatencyMs", VT_BSTR, &error), 0u)
        << "a number delivered as text";

    struct Bad {
        const wchar_t* id;
        VARTYPE requested;
        HRESULT expected;
    };
    const Bad kBad[] = {
        {L"DP/Slave9/SlotI0S47D8209", VT_EMPTY, OPC_E_UNKNOWNITEMID},
        {L"dp/slave3/SlotI0S47D8209", VT_EMPTY, OPC_E_UNKNOWNITEMID},
        {L"", VT_EMPTY, OPC_E_INVALIDITEMID},
        {L"DP/Slave3/SlotI0S47D8209", VT_R8, OPC_E_BADTYPE},
        {L"DP/Slave3/DS_Vendorname", VT_ARRAY | VT_I4, OPC_E_BADTYPE},
    };
    for (const Bad& bad : kBad) {
        EXPECT_EQ(client_.Add(bad.id, bad.requested, &error), 0u);
        EXPECT_EQ(error, bad.expected)
            << "AddItems(" << std::string(bad.id, bad.id + wcslen(bad.id)) << ")";
    }
    OPCITEMDEF def{};
    def.szAccessPath = const_cast<LPWSTR>(L"Path");
    def.szItemID = const_cast<LPWSTR>(L"Sim/Reset");
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    EXPECT_EQ(client_.itemMgt->AddItems(1, &def, results.put(), errors.put()), S_FALSE)
        << "AddItems with a path";
    EXPECT_EQ(errors[0], OPC_E_UNKNOWNPATH);
}

TEST_F(BusSimTest, ReadWriteErrorsPerItem) {
    OPCHANDLE vendor = client_.Add(L"DP/Slave3/DS_Vendorname");
    ASSERT_NE(vendor, 0u);
    com::UniqueVariant value;
    ASSERT_EQ(client_.Read(vendor, &value), S_OK);
    ASSERT_EQ(value.vt(), VT_BSTR);
    EXPECT_STREQ(V_BSTR(value.get()), L"Axolent");
    EXPECT_EQ(client_.WriteText(vendor, L"x"), OPC_E_BADRIGHTS) << "Write of a read-only item";
    EXPECT_EQ(client_.Read(0xDEAD, &value), OPC_E_INVALIDHANDLE) << "Read with an unknown handle";
    OPCHANDLE latency = client_.Add(L"Sim/Slave3/LatencyMs");
    EXPECT_EQ(client_.WriteText(latency, L"fast"), OPC_E_BADTYPE) << "text into a number";
    EXPECT_EQ(client_.WriteNumber(latency, -1), OPC_E_RANGE) << "negative latency";
    OPCHANDLE faults = client_.Add(L"Sim/Slave3/Faults");
    EXPECT_EQ(client_.WriteText(faults, L"nonsense"), E_INVALIDARG) << "malformed fault list";

    // Cache reads of an inactive group report the item out of service.
    WORD quality = 0;
    EXPECT_EQ(client_.Read(vendor, &value, OPC_DS_CACHE, &quality), S_OK);
    EXPECT_EQ(quality, OPC_QUALITY_OUT_OF_SERVICE) << "cache read in an inactive group";
}

TEST_F(BusSimTest, ItemProperties) {
    com::ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(client_.server.query(&properties), S_OK);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(properties->QueryAvailableProperties(const_cast<LPWSTR>(L"Sim/Slave3/LatencyMs"),
                                                   &count, &ids, &descriptions, &types),
              S_OK);
    ASSERT_EQ(count, 7u) << "properties 1-6 and the description";
    EXPECT_EQ(ids[1], DWORD(OPC_PROPERTY_VALUE));
    EXPECT_EQ(types[1], VT_UI4) << "type of the value property";
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);

    DWORD wanted[] = {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_VALUE, OPC_PROPERTY_ACCESS_RIGHTS, 9999};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"Sim/Slave3/LatencyMs"), 4, wanted,
                                            &values, &errors),
              S_FALSE);
    EXPECT_EQ(V_I2(&values[0]), VT_UI4) << "canonical type";
    EXPECT_EQ(V_UI4(&values[1]), 2u) << "value";
    EXPECT_EQ(V_I4(&values[2]), OPC_READABLE | OPC_WRITEABLE) << "access rights";
    EXPECT_EQ(errors[3], OPC_E_INVALID_PID) << "unknown property";
    for (int i = 0; i < 4; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);

    DWORD value[] = {OPC_PROPERTY_VALUE};
    ASSERT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"DP/Slave3/SlotI0S47D8209"), 1,
                                            value, &values, &errors),
              S_FALSE);
    EXPECT_EQ(errors[0], kNoResponse) << "the channel's value is not taken by a property read";
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    EXPECT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(L"Sim/Nothing"), 1, value, &values,
                                            &errors),
              OPC_E_UNKNOWNITEMID);
}

TEST_F(BusSimTest, GroupsByName) {
    OPCHANDLE hGroup;
    DWORD revised;
    com::ComPtr<IUnknown> group;
    EXPECT_EQ(client_.server->AddGroup(L"OPCItemAutomaticGroup", FALSE, 1000, 1, nullptr, nullptr,
                                       0x400, &hGroup, &revised, IID_IUnknown, group.put()),
              OPC_E_DUPLICATENAME)
        << "AddGroup with a name in use";
    EXPECT_EQ(client_.server->AddGroup(L"Fast", FALSE, 1, 1, nullptr, nullptr, 0x400, &hGroup,
                                       &revised, IID_IUnknown, group.put()),
              OPC_S_UNSUPPORTEDRATE)
        << "AddGroup with 1 ms";
    EXPECT_EQ(revised, 10u) << "revised rate";
    com::ComPtr<IUnknown> found;
    ASSERT_EQ(client_.server->GetGroupByName(L"Fast", IID_IUnknown, found.put()), S_OK);
    EXPECT_EQ(found.get(), group.get()) << "GetGroupByName returns the same object";
    found.reset();
    EXPECT_EQ(client_.server->RemoveGroup(hGroup, FALSE), OPC_S_INUSE) << "RemoveGroup while held";
    EXPECT_EQ(client_.server->GetGroupByName(L"Fast", IID_IUnknown, found.put()), E_INVALIDARG)
        << "removed";
    EXPECT_EQ(client_.server->RemoveGroup(hGroup, TRUE), E_FAIL) << "RemoveGroup twice";
}

// ------------------------------------------------------------------ channel

TEST_F(BusSimTest, ChannelOpensOnlyWithTheDriveProfile) {
    OPCHANDLE channel = client_.Add(L"DP/Slave3/SlotI0S47D8209");
    OPCHANDLE profile = client_.Add(L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber");
    ASSERT_TRUE(channel && profile);
    EXPECT_EQ(client_.ReadNumber(profile), 0) << "profile ident before selection";
    EXPECT_EQ(client_.WriteBytes(channel, ReadNodeAddress(1)), kChannelClosed)
        << "request before the profile";
    com::UniqueVariant value;
    EXPECT_EQ(client_.Read(channel, &value), kChannelClosed) << "read before the profile";
    ASSERT_EQ(client_.WriteNumber(profile, 0x3A00), S_OK) << "profile ident as VT_I4 0x3A00";
    EXPECT_EQ(client_.ReadNumber(profile), 0x3A00);

    EXPECT_EQ(client_.Read(channel, &value), kNoResponse) << "read before any request";
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(7)), S_OK);
    Bytes response;
    ASSERT_EQ(client_.Poll(channel, &response), S_OK) << "polling the response";
    EXPECT_EQ(Hex(response), Hex({7, 1, 0, 1, 6, 1, 0, 3}));
    EXPECT_EQ(client_.Read(channel, &value), kNoResponse) << "the response is handed out once";

    Bytes tooMany{1, 1, 0, 40};
    for (int i = 0; i < 40; ++i) tooMany.insert(tooMany.end(), {0x10, 0, 0x03, 0x96, 0, 0});
    EXPECT_EQ(client_.WriteBytes(channel, tooMany), kRefused)
        << "40 parameters to a drive that takes 39";

    EXPECT_EQ(client_.WriteBytes(channel, {}), kRefused) << "an empty request";
    com::UniqueVariant numbers;
    V_VT(numbers.get()) = VT_ARRAY | VT_I4;
    V_ARRAY(numbers.get()) = SafeArrayCreateVector(VT_I4, 0, 2);
    EXPECT_EQ(client_.Write(channel, *numbers), OPC_E_BADTYPE) << "an array of VT_I4";
    EXPECT_EQ(client_.WriteNumber(channel, 5), OPC_E_BADTYPE) << "a number";

    OPCHANDLE other = client_.Add(L"DP/Slave4/SlotI0S47D8209");
    EXPECT_EQ(client_.WriteBytes(other, ReadNodeAddress(1)), kChannelClosed)
        << "the gate is per slave";
}

TEST_F(BusSimTest, LatencyAndCountersThroughSimItems) {
    OPCHANDLE channel = client_.OpenChannel(L"DP/Slave4/");
    OPCHANDLE latency = client_.Add(L"Sim/Slave4/LatencyMs");
    OPCHANDLE requests = client_.Add(L"Sim/Slave4/Requests");
    OPCHANDLE requestBytes = client_.Add(L"Sim/Slave4/RequestBytes");
    OPCHANDLE responseBytes = client_.Add(L"Sim/Slave4/ResponseBytes");
    ASSERT_TRUE(channel && latency && requests && requestBytes && responseBytes);
    EXPECT_EQ(client_.ReadNumber(latency), 10) << "configured latency of slave 4";

    // A response a minute away is not there on the next read.
    ASSERT_EQ(client_.WriteNumber(latency, 60000), S_OK);
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(1)), S_OK);
    com::UniqueVariant value;
    EXPECT_EQ(client_.Read(channel, &value), kNotReady) << "read while the drive works";
    EXPECT_EQ(value.vt(), VT_EMPTY) << "no value with the error";

    ASSERT_EQ(client_.WriteNumber(latency, 0), S_OK);
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(2)), S_OK);
    Bytes response;
    ASSERT_EQ(client_.Poll(channel, &response), S_OK);
    EXPECT_EQ(Hex(response), Hex({2, 1, 0, 1, 6, 1, 0, 4})) << "the newer request is answered";
    EXPECT_EQ(client_.ReadNumber(requests), 2);
    EXPECT_EQ(client_.ReadNumber(requestBytes), 20);
    EXPECT_EQ(client_.ReadNumber(responseBytes), 8);
}

TEST_F(BusSimTest, OfflineSlaveNeverAnswers) {
    OPCHANDLE channel = client_.OpenChannel(L"DP/Slave3/");
    OPCHANDLE offline = client_.Add(L"Sim/Slave3/Offline");
    ASSERT_TRUE(channel && offline);
    ASSERT_EQ(client_.WriteNumber(offline, 1), S_OK) << "Sim/Slave3/Offline = TRUE";
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(1)), S_OK) << "the request is taken";
    Bytes response;
    EXPECT_EQ(client_.Poll(channel, &response, 200), kNotReady) << "200 polls without an answer";
    ASSERT_EQ(client_.WriteNumber(offline, 0), S_OK);
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(2)), S_OK);
    ASSERT_EQ(client_.Poll(channel, &response), S_OK) << "online again";
    EXPECT_EQ(response[0], 2);
}

TEST_F(BusSimTest, InjectedFaultAndReset) {
    OPCHANDLE channel = client_.OpenChannel(L"DP/Slave3/");
    OPCHANDLE faults = client_.Add(L"Sim/Slave3/Faults");
    ASSERT_TRUE(channel && faults);
    ASSERT_EQ(client_.WriteText(faults, L"918=0x16"), S_OK);
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(3)), S_OK);
    Bytes response;
    ASSERT_EQ(client_.Poll(channel, &response), S_OK);
    EXPECT_EQ(Hex(response), Hex({3, 0x81, 0, 1, 0x44, 1, 0, 0x16}))
        << "918 answers the injected error";

    OPCHANDLE reset = client_.Add(L"Sim/Reset");
    ASSERT_EQ(client_.WriteNumber(reset, 1), S_OK);
    com::UniqueVariant value;
    ASSERT_EQ(client_.Read(faults, &value), S_OK);
    EXPECT_STREQ(V_BSTR(value.get()), L"") << "faults after Sim/Reset";
    EXPECT_EQ(client_.WriteBytes(channel, ReadNodeAddress(4)), kChannelClosed)
        << "profile ident reset too";
}

// ------------------------------------------------------------ asynchronous

TEST_F(BusSimTest, AsyncCompletionsCarryTheResultInTheMasterError) {
    OPCHANDLE channel = client_.OpenChannel(L"DP/Slave7/");
    OPCHANDLE latency = client_.Add(L"Sim/Slave7/LatencyMs");
    ASSERT_TRUE(channel && latency);
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    EXPECT_EQ(client_.asyncIO->Read(1, &channel, 1, &cancelId, errors.put()),
              CONNECT_E_NOCONNECTION)
        << "AsyncIO2::Read without a callback";

    com::ComPtr<CallbackSink> sink;
    ASSERT_EQ(com::MakeObject(&sink), S_OK);
    com::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(client_.itemMgt.query(&container), S_OK);
    com::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.put()), S_OK);
    DWORD cookie = 0, second = 0;
    ASSERT_EQ(point->Advise(static_cast<IOPCDataCallback*>(sink.get()), &cookie), S_OK) << "Advise";
    EXPECT_EQ(point->Advise(static_cast<IOPCDataCallback*>(sink.get()), &second),
              CONNECT_E_ADVISELIMIT)
        << "a second Advise";

    // Not ready: the completion fails with the channel's error.
    ASSERT_EQ(client_.WriteNumber(latency, 60000), S_OK);
    ASSERT_EQ(client_.WriteBytes(channel, ReadNodeAddress(1)), S_OK);
    ASSERT_EQ(client_.asyncIO->Read(1, &channel, 41, &cancelId, errors.put()), S_OK)
        << "AsyncIO2::Read";
    EXPECT_NE(cancelId, 0u) << "cancel ID";
    CallbackSink::Completion c;
    ASSERT_TRUE(sink->Next(&c)) << "OnReadComplete";
    EXPECT_EQ(c.kind, CallbackSink::Completion::kRead);
    EXPECT_EQ(c.transactionId, 41u);
    EXPECT_EQ(c.hGroup, 77u) << "client group handle";
    EXPECT_EQ(c.count, 1u) << "one item";
    EXPECT_EQ(c.masterError, kNotReady) << "master error of a read that is not ready";
    EXPECT_EQ(c.errors[0], kNotReady);

    // Write and read the channel asynchronously, as the identification does.
    ASSERT_EQ(client_.WriteNumber(latency, 0), S_OK);
    com::UniqueVariant request;
    Bytes telegram = ReadNodeAddress(9);
    com::BytesToVariant(telegram.data(), telegram.size(), request.get());
    ASSERT_EQ(client_.asyncIO->Write(1, &channel, request.get(), 42, &cancelId, errors.put()),
              S_OK);
    ASSERT_TRUE(sink->Next(&c)) << "OnWriteComplete";
    EXPECT_EQ(c.kind, CallbackSink::Completion::kWrite);
    EXPECT_EQ(c.transactionId, 42u);
    EXPECT_EQ(c.masterError, S_OK);
    Bytes response;
    for (int poll = 0; poll < 5000 && response.empty(); ++poll) {
        ASSERT_EQ(client_.asyncIO->Read(1, &channel, 43, &cancelId, errors.put()), S_OK);
        ASSERT_TRUE(sink->Next(&c)) << "OnReadComplete while polling";
        if (c.masterError == S_OK)
            response = c.bytes;
        else
            ASSERT_EQ(c.masterError, kNotReady) << "polling error";
    }
    EXPECT_EQ(Hex(response), Hex({9, 1, 0, 1, 6, 1, 0, 7})) << "node address of slave 7";

    // Several items: a per-item error makes the master error S_FALSE.
    OPCHANDLE both[] = {latency, 0xBAD};
    ASSERT_EQ(client_.asyncIO->Read(2, both, 44, &cancelId, errors.put()), S_FALSE)
        << "one bad handle";
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    ASSERT_TRUE(sink->Next(&c));
    EXPECT_EQ(c.count, 1u) << "only the valid item completes";
    EXPECT_EQ(c.masterError, S_OK);
    EXPECT_EQ(client_.asyncIO->Cancel2(0xFFFFFF), E_FAIL) << "Cancel2 of an unknown ID";
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

TEST_F(BusSimTest, ActiveGroupReportsChangedValues) {
    OPCHANDLE hGroup;
    DWORD revised;
    com::ComPtr<IOPCItemMgt> itemMgt;
    ASSERT_EQ(
        client_.server->AddGroup(L"Watch", TRUE, 20, 5, nullptr, nullptr, 0x409, &hGroup, &revised,
                                 IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(itemMgt.put())),
        S_OK);
    com::ComPtr<CallbackSink> sink;
    ASSERT_EQ(com::MakeObject(&sink), S_OK);
    com::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(itemMgt.query(&container), S_OK);
    com::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IOPCDataCallback*>(sink.get()), &cookie), S_OK);

    OPCITEMDEF def{};
    def.szAccessPath = const_cast<LPWSTR>(L"");
    def.szItemID = const_cast<LPWSTR>(L"Sim/Slave3/LatencyMs");
    def.bActive = TRUE;
    def.hClient = 99;
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    ASSERT_EQ(itemMgt->AddItems(1, &def, results.put(), errors.put()), S_OK);

    CallbackSink::Completion c;
    ASSERT_TRUE(sink->Next(&c)) << "first OnDataChange";
    EXPECT_EQ(c.kind, CallbackSink::Completion::kDataChange);
    EXPECT_EQ(c.transactionId, 0u) << "subscription updates carry transaction 0";
    EXPECT_EQ(c.hGroup, 5u);
    ASSERT_EQ(c.count, 1u);
    EXPECT_EQ(c.clients[0], 99u);
    EXPECT_EQ(c.number, 2) << "configured latency of slave 3";

    OPCHANDLE latency = client_.Add(L"Sim/Slave3/LatencyMs");
    ASSERT_EQ(client_.WriteNumber(latency, 77), S_OK);
    ASSERT_TRUE(sink->Next(&c)) << "OnDataChange after the change";
    EXPECT_EQ(c.kind, CallbackSink::Completion::kDataChange);
    EXPECT_EQ(c.clients[0], 99u);
    EXPECT_EQ(c.number, 77) << "the new value";
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// ------------------------------------------------------------ concurrency

TEST_F(BusSimTest, SeveralClientsAtOnce) {
    // Each client works on its own slave; every request must get its own answer.
    const wchar_t* prefixes[] = {L"DP/Slave3/", L"DP/Slave4/", L"DP/Slave7/"};
    const BYTE addresses[] = {3, 4, 7};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    std::vector<std::string> messages(3);
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            com::ComInitializer com(COINIT_MULTITHREADED);
            SimClient client;
            OPCHANDLE channel = 0;
            if (FAILED(client.Connect()) || !(channel = client.OpenChannel(prefixes[t]))) {
                ++failures;
                messages[t] = "connect";
                return;
            }
            for (BYTE ref = 1; ref <= 30; ++ref) {
                Bytes response;
                if (FAILED(client.WriteBytes(channel, ReadNodeAddress(ref))) ||
                    FAILED(client.Poll(channel, &response)) ||
                    response != Bytes{ref, 1, 0, 1, 6, 1, 0, addresses[t]}) {
                    ++failures;
                    messages[t] = "request " + std::to_string(ref) + ": " + Hex(response);
                    return;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0) << messages[0] << " | " << messages[1] << " | " << messages[2];
}

}  // namespace

namespace {
class ShutdownSink : public com::Object<IOPCShutdown> {
public:
    STDMETHODIMP ShutdownRequest(LPCWSTR szReason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reasons_.emplace_back(szReason ? szReason : L"(null)");
        return S_OK;
    }
    std::vector<std::wstring> Reasons() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reasons_;
    }

private:
    std::mutex mutex_;
    std::vector<std::wstring> reasons_;
};
}  // namespace

TEST_F(BusSimTest, ShutdownRequestReachesEveryAdvisedClient) {
    SimClient other;
    ASSERT_HR(S_OK, other.Connect());
    com::ComPtr<ShutdownSink> sinks[2];
    com::ComPtr<IConnectionPoint> points[2];
    DWORD cookies[2] = {};
    IOPCServer* servers[2] = {client_.server.get(), other.server.get()};
    for (int i = 0; i < 2; ++i) {
        ASSERT_HR(S_OK, com::MakeObject(&sinks[i]));
        com::ComPtr<IConnectionPointContainer> container;
        ASSERT_HR(S_OK, servers[i]->QueryInterface(IID_PPV_ARGS(container.put())));
        ASSERT_HR(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, points[i].put()));
        ASSERT_HR(S_OK, points[i]->Advise(sinks[i].get(), &cookies[i]));
    }
    OPCHANDLE request = client_.Add(L"Sim/ShutdownRequest");
    ASSERT_NE(request, 0u);
    com::UniqueVariant reason(std::wstring_view(L"Wartung"));
    // The request is sent before the write returns.
    ASSERT_HR(S_OK, client_.Write(request, *reason));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sinks[i]->Reasons(), std::vector<std::wstring>{L"Wartung"}) << "client " << i;
        EXPECT_HR(S_OK, points[i]->Unadvise(cookies[i]));
    }
}

TEST_F(BusSimTest, AsyncDelayLetsACancelWin) {
    com::ComPtr<CallbackSink> sink;
    ASSERT_HR(S_OK, com::MakeObject(&sink));
    com::ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(S_OK, client_.itemMgt.query(&container));
    com::ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, point.put()));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, point->Advise(static_cast<IOPCDataCallback*>(sink.get()), &cookie));
    OPCHANDLE delay = client_.Add(L"Sim/AsyncDelayMs");
    OPCHANDLE latency = client_.Add(L"Sim/Slave3/LatencyMs");
    ASSERT_HR(S_OK, client_.WriteNumber(delay, 2000));
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_OK, client_.asyncIO->Read(1, &latency, 51, &cancelId, errors.put()));
    EXPECT_HR(S_OK, client_.asyncIO->Cancel2(cancelId));
    CallbackSink::Completion c;
    ASSERT_TRUE(sink->Next(&c));
    EXPECT_EQ(c.kind, CallbackSink::Completion::kCancel) << "no read completion";
    EXPECT_EQ(c.transactionId, 51u);
    ASSERT_HR(S_OK, client_.WriteNumber(delay, 0));
    EXPECT_HR(S_OK, point->Unadvise(cookie));
}
