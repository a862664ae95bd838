// The simulator's DA 1.0 face out of process: its registration, the interfaces it shows and
// hides, the IDataObject advise rules, and the data streams (data changes, read and write
// completions) that ole32 carries to the client's IAdviseSink in an HGLOBAL.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <opc.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "BusSimulator.h"
#include "DataStream.h"
#include "HrCheck.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/RegKey.h"
#include "com/Resources.h"
#include "opccats.h"

namespace {

constexpr wchar_t kClsidText[] = L"{6B1F2C42-8D3E-4A51-9C27-3E5A0D4B7F11}";

CLIPFORMAT Format(const wchar_t* name) {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name));
}

FORMATETC Etc(CLIPFORMAT format, DWORD tymed = TYMED_HGLOBAL) {
    return FORMATETC{format, nullptr, DVASPECT_CONTENT, -1, tymed};
}

// Keeps the blocks that reach it; called on RPC threads.
class StreamSink : public com::Object<IAdviseSink> {
public:
    struct Block {
        CLIPFORMAT format;
        std::vector<BYTE> bytes;
    };

    STDMETHODIMP_(void) OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium || medium->tymed != TYMED_HGLOBAL) return;
        Block block{format->cfFormat, {}};
        const SIZE_T size = GlobalSize(medium->hGlobal);
        if (const BYTE* data = static_cast<const BYTE*>(GlobalLock(medium->hGlobal))) {
            block.bytes.assign(data, data + size);
            GlobalUnlock(medium->hGlobal);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back(std::move(block));
        arrived_.notify_all();
    }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override {}
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}

    // Waits (bounded) for the next block.
    bool Next(Block* out) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(20), [this] { return !blocks_.empty(); }))
            return false;
        *out = std::move(blocks_.front());
        blocks_.erase(blocks_.begin());
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Block> blocks_;
};

class Da1FaceTest : public test_support::BusSimulatorTest {
protected:
    void SetUp() override {
        test_support::BusSimulatorTest::SetUp();
        if (HasFatalFailure()) return;
        CLSID clsid;
        ASSERT_HR(S_OK, CLSIDFromProgID(L"Orvane.BusSimulatorDA1", &clsid));
        ASSERT_HR(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                                         IID_PPV_ARGS(server_.put())));
        DWORD revised = 0;
        ASSERT_HR(S_OK, server_->AddGroup(L"da1", FALSE, 20, 31, nullptr, nullptr, 0x409, &hGroup_,
                                          &revised, IID_IOPCItemMgt,
                                          reinterpret_cast<IUnknown**>(itemMgt_.put())));
        ASSERT_HR(S_OK, itemMgt_.query(&asyncIO_));
        ASSERT_HR(S_OK, itemMgt_.query(&data_));
        ASSERT_HR(S_OK, com::MakeObject(&sink_));
    }

    OPCHANDLE Add(const wchar_t* id, OPCHANDLE client, VARTYPE requested = VT_EMPTY) {
        OPCITEMDEF def{};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id);
        def.bActive = TRUE;
        def.hClient = client;
        def.vtRequestedDataType = requested;
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        if (itemMgt_->AddItems(1, &def, results.put(), errors.put()) != S_OK) return 0;
        return results[0].hServer;
    }

    DWORD Advise(const wchar_t* format) {
        FORMATETC etc = Etc(Format(format));
        DWORD connection = 0;
        EXPECT_HR(S_OK, data_->DAdvise(&etc, ADVF_PRIMEFIRST, sink_.get(), &connection));
        return connection;
    }

    opc::DataStream NextData() {
        StreamSink::Block block;
        opc::DataStream stream;
        EXPECT_TRUE(sink_->Next(&block)) << "a data block";
        EXPECT_EQ(block.format, Format(opc::kDataTimeFormat));
        EXPECT_HR(S_OK, opc::ReadDataStream(block.bytes.data(), block.bytes.size(), &stream));
        return stream;
    }

    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCItemMgt> itemMgt_;
    com::ComPtr<IOPCAsyncIO> asyncIO_;
    com::ComPtr<IDataObject> data_;
    com::ComPtr<StreamSink> sink_;
    OPCHANDLE hGroup_ = 0;
};

TEST(Da1FaceRegistration, ProgIdsCategoryAndOpcKeys) {
    for (const wchar_t* progId : {L"Orvane.BusSimulatorDA1", L"Orvane.BusSimulatorDA1.1"}) {
        CLSID clsid;
        wchar_t text[40] = {};
        EXPECT_HR(S_OK, CLSIDFromProgID(progId, &clsid));
        StringFromGUID2(clsid, text, 40);
        EXPECT_STREQ(text, kClsidText) << progId;
        com::RegKey opc;
        EXPECT_EQ(opc.Open(HKEY_CLASSES_ROOT, std::wstring(progId) + L"\\OPC"), ERROR_SUCCESS);
    }
    com::RegKey categories;
    ASSERT_EQ(categories.Open(HKEY_CLASSES_ROOT,
                              std::wstring(L"CLSID\\") + kClsidText + L"\\Implemented Categories"),
              ERROR_SUCCESS);
    wchar_t name[64], da10[40];
    std::vector<std::wstring> found;
    for (DWORD i = 0; RegEnumKeyW(categories.get(), i, name, 64) == ERROR_SUCCESS; ++i)
        found.push_back(name);
    StringFromGUID2(CATID_OPCDAServer10, da10, 40);
    EXPECT_EQ(found, std::vector<std::wstring>{da10}) << "OPC DA 1.0 only";
}

TEST_F(Da1FaceTest, ShowsTheDa10InterfacesOnly) {
    struct Case {
        IUnknown* object;
        IID iid;
        bool shown;
        const char* what;
    } cases[] = {
        {server_.get(), IID_IOPCServer, true, "server IOPCServer"},
        {server_.get(), IID_IConnectionPointContainer, true, "server container"},
        {server_.get(), IID_IOPCBrowseServerAddressSpace, false, "server browsing"},
        {server_.get(), IID_IOPCItemProperties, false, "server properties"},
        {server_.get(), IID_IOPCCommon, false, "server IOPCCommon"},
        {itemMgt_.get(), IID_IOPCGroupStateMgt, true, "group state"},
        {itemMgt_.get(), IID_IOPCSyncIO, true, "group sync I/O"},
        {itemMgt_.get(), IID_IOPCAsyncIO, true, "group IOPCAsyncIO"},
        {itemMgt_.get(), IID_IDataObject, true, "group IDataObject"},
        {itemMgt_.get(), IID_IOPCAsyncIO2, false, "group IOPCAsyncIO2"},
        {itemMgt_.get(), IID_IConnectionPointContainer, false, "group container"},
    };
    for (const Case& c : cases) {
        com::ComPtr<IUnknown> found;
        EXPECT_HR(c.shown ? S_OK : E_NOINTERFACE, c.object->QueryInterface(c.iid, found.put_void()))
            << c.what;
    }
    com::ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(S_OK, server_.query(&container));
    com::ComPtr<IConnectionPoint> point;
    EXPECT_HR(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IOPCShutdown, point.put()))
        << "no shutdown point";
}

TEST_F(Da1FaceTest, AdviseTakesTheTwoFormatsInAnHglobalOnly) {
    struct Case {
        FORMATETC etc;
        HRESULT expected;
    } cases[] = {
        {Etc(Format(opc::kDataTimeFormat)), S_OK},
        {Etc(Format(opc::kWriteCompleteFormat)), S_OK},
        {Etc(Format(L"OPCSTMFORMATDATA")), DV_E_FORMATETC},
        {Etc(CF_TEXT), DV_E_FORMATETC},
        {Etc(Format(opc::kDataTimeFormat), TYMED_ISTREAM), DV_E_TYMED},
    };
    for (Case& c : cases) {
        DWORD connection = 0;
        EXPECT_HR(c.expected, data_->DAdvise(&c.etc, 0, sink_.get(), &connection))
            << "format " << c.etc.cfFormat << " medium " << c.etc.tymed;
        EXPECT_HR(c.expected, data_->QueryGetData(&c.etc));
        if (connection) {
            EXPECT_HR(S_OK, data_->DUnadvise(connection));
        }
    }
    EXPECT_HR(OLE_E_NOCONNECTION, data_->DUnadvise(0xBAD));
}

TEST_F(Da1FaceTest, AsyncCallsNeedAConnectionOfTheirFormat) {
    OPCHANDLE item = Add(L"Sim/Slave3/LatencyMs", 1);
    ASSERT_NE(item, 0u);
    const DWORD data = Advise(opc::kDataTimeFormat);
    const DWORD write = Advise(opc::kWriteCompleteFormat);
    DWORD transaction = 0;
    com::CoTaskMem<HRESULT> errors;
    com::UniqueVariant value(LONG(3));
    EXPECT_HR(CONNECT_E_NOCONNECTION,
              asyncIO_->Read(0xBAD, OPC_DS_DEVICE, 1, &item, &transaction, errors.put()));
    EXPECT_HR(CONNECT_E_NOCONNECTION,
              asyncIO_->Read(write, OPC_DS_DEVICE, 1, &item, &transaction, errors.put()));
    EXPECT_HR(CONNECT_E_NOCONNECTION,
              asyncIO_->Write(data, 1, &item, value.get(), &transaction, errors.put()));
    EXPECT_HR(CONNECT_E_NOCONNECTION, asyncIO_->Refresh(write, OPC_DS_CACHE, &transaction));
    EXPECT_HR(E_FAIL, asyncIO_->Cancel(0xFFFFFF));
}

// A read completion and a write completion as the client's sink sees them.
TEST_F(Da1FaceTest, CompletionsArriveAsStreams) {
    OPCHANDLE vendor = Add(L"DP/Slave3/DS_Vendorname", 11);
    OPCHANDLE latency = Add(L"Sim/Slave3/LatencyMs", 12);
    ASSERT_TRUE(vendor && latency);
    const DWORD data = Advise(opc::kDataTimeFormat);
    const DWORD write = Advise(opc::kWriteCompleteFormat);
    OPCHANDLE both[] = {vendor, 0xBAD, latency};
    DWORD transaction = 0;
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_FALSE, asyncIO_->Read(data, OPC_DS_DEVICE, 3, both, &transaction, errors.put()));
    EXPECT_HR(OPC_E_INVALIDHANDLE, errors[1]);
    opc::DataStream read = NextData();
    EXPECT_EQ(read.transactionId, transaction);
    EXPECT_NE(transaction, 0u);
    EXPECT_EQ(read.group, 31u) << "the client's group handle";
    ASSERT_EQ(read.items.size(), 2u);
    EXPECT_EQ(read.items[0].client, 11u);
    EXPECT_EQ(read.items[0].quality, OPC_QUALITY_GOOD);
    ASSERT_EQ(read.items[0].value.vt(), VT_BSTR);
    EXPECT_STREQ(V_BSTR(read.items[0].value.get()), L"Axolent");
    EXPECT_EQ(read.items[1].value.vt(), VT_UI4);

    com::UniqueVariant value(LONG(7));
    ASSERT_HR(S_OK, asyncIO_->Write(write, 1, &latency, value.get(), &transaction, errors.put()));
    StreamSink::Block block;
    ASSERT_TRUE(sink_->Next(&block)) << "the write completion";
    EXPECT_EQ(block.format, Format(opc::kWriteCompleteFormat));
    opc::WriteCompleteStream written;
    ASSERT_HR(S_OK, opc::ReadWriteCompleteStream(block.bytes.data(), block.bytes.size(), &written));
    EXPECT_EQ(written.transactionId, transaction);
    ASSERT_EQ(written.items.size(), 1u);
    EXPECT_EQ(written.items[0].client, 12u);
    EXPECT_HR(S_OK, written.items[0].error);
}

// Every kind of item the simulator has goes out in a data change of transaction 0; a cancelled
// read sends nothing, a refresh carries its transaction.
TEST_F(Da1FaceTest, DataChangesCancelAndRefresh) {
    struct Case {
        const wchar_t* id;
        VARTYPE vt;
    } cases[] = {
        {L"DP/Slave3/DS_Vendorname", VT_BSTR},
        {L"DP/Slave3/SlotI0S47D8209", VT_ARRAY | VT_UI1},
        {L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber", VT_UI2},
        {L"Sim/Slave3/LatencyMs", VT_UI4},
        {L"Sim/Slave3/Offline", VT_BOOL},
        {L"Sim/Slave3/Faults", VT_BSTR},
    };
    std::vector<OPCHANDLE> handles;
    for (OPCHANDLE i = 0; i < std::size(cases); ++i) {
        handles.push_back(Add(cases[i].id, 100 + i));
        ASSERT_NE(handles.back(), 0u) << i;
    }
    const DWORD data = Advise(opc::kDataTimeFormat);
    com::ComPtr<IOPCGroupStateMgt> state;
    ASSERT_HR(S_OK, itemMgt_.query(&state));
    DWORD revised;
    BOOL active = TRUE;
    ASSERT_HR(S_OK,
              state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr));
    opc::DataStream change = NextData();
    EXPECT_EQ(change.transactionId, 0u);
    ASSERT_EQ(change.items.size(), std::size(cases));
    for (const opc::StreamItem& item : change.items) {
        ASSERT_GE(item.client, 100u);
        ASSERT_LT(item.client, 100u + std::size(cases));
        const Case& c = cases[item.client - 100];
        // The channel's cache is empty until a response is fetched.
        if (c.vt & VT_ARRAY) continue;
        EXPECT_EQ(item.value.vt(), c.vt) << "item " << item.client;
    }
    active = FALSE;
    ASSERT_HR(S_OK,
              state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr));

    OPCHANDLE delay = Add(L"Sim/AsyncDelayMs", 9);
    com::UniqueVariant ms(LONG(2000));
    com::ComPtr<IOPCSyncIO> sync;
    ASSERT_HR(S_OK, itemMgt_.query(&sync));
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_OK, sync->Write(1, &delay, ms.get(), errors.put()));
    DWORD cancelled = 0, refreshed = 0;
    ASSERT_HR(S_OK, asyncIO_->Read(data, OPC_DS_DEVICE, 1, &handles[0], &cancelled, errors.put()));
    EXPECT_HR(S_OK, asyncIO_->Cancel(cancelled));
    ms = com::UniqueVariant(LONG(0));
    ASSERT_HR(S_OK, sync->Write(1, &delay, ms.get(), errors.put()));
    active = TRUE;
    ASSERT_HR(S_OK,
              state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr));
    // Activation sends every value once; the refresh then comes with its transaction.
    NextData();
    ASSERT_HR(S_OK, asyncIO_->Refresh(data, OPC_DS_CACHE, &refreshed));
    opc::DataStream refresh = NextData();
    EXPECT_EQ(refresh.transactionId, refreshed) << "not the cancelled read " << cancelled;
    EXPECT_EQ(refresh.items.size(), std::size(cases) + 1);
}

}  // namespace
