// The bus-server transfers: synchronous polling against the simulator through
// the real connection object, the blocking asynchronous calls against the simulator
// and against a scripted connection for completions that the simulator cannot
// misdeliver, and the message-pumping waits.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "NotImplemented.h"
#include "BusTransfer.h"
#include "CommLog.h"
#include "MessageWait.h"
#include "ParameterChannel.h"
#include "SimSupport.h"
#include "TestSupport.h"
#include "Telegram.h"
#include "ValueCodec.h"
#include "com/ComInit.h"
#include "com/Object.h"

namespace orvane::interaction::test {
namespace {

// Passes every call on to the real connection and counts the bus-server calls.
class CountingInteraction
    : public com::Object<test_support::NotImplementedDispatch<IvkInteraction2>> {
public:
    explicit CountingInteraction(IvkInteraction2* inner) : inner_(inner) {}

    int reads = 0;
    int writes = 0;
    HRESULT lastWrite = S_OK;

    STDMETHODIMP Read(VARIANT vAddress, VARIANT* pvValue, VARIANT* pvQuality,
                      VARIANT* pvTimeStamp) override {
        ++reads;
        return inner_->Read(vAddress, pvValue, pvQuality, pvTimeStamp);
    }
    STDMETHODIMP Write(VARIANT vAddress, VARIANT vValue) override {
        ++writes;
        return lastWrite = inner_->Write(vAddress, vValue);
    }
    STDMETHODIMP Init(long, IUnknown*, IUnknown**, VARTYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Terminate(VARIANT) override { return E_NOTIMPL; }

private:
    com::ComPtr<IvkInteraction2> inner_;
};

// A connection whose completions are scripted: none, twice, or with an error.
class ScriptedAsync
    : public com::Object<test_support::NotImplementedDispatch<IvkAsyncInteraction>> {
public:
    enum class Mode { Never, Twice, Error };
    Mode mode = Mode::Never;
    std::vector<long> transactionIds;

    STDMETHODIMP AsyncRead(IUnknown* pCallback, VARIANT, long lTransactionID,
                           long* plCancelID) override {
        transactionIds.push_back(lTransactionID);
        *plCancelID = 7;
        com::ComPtr<IvkAsyncCallback> callback;
        pCallback->QueryInterface(__uuidof(IvkAsyncCallback), callback.put_void());
        VARIANT quality;
        VariantInit(&quality);
        V_VT(&quality) = VT_I2;
        V_I2(&quality) = 0xC0;
        VARIANT none;
        VariantInit(&none);
        switch (mode) {
            case Mode::Never: break;
            case Mode::Twice:
                // A write completion and an unknown ID first: neither may take the read.
                callback->AsyncWriteComplete(lTransactionID, 0);
                callback->AsyncReadComplete(lTransactionID + 1, 0, *com::UniqueVariant(LONG(99)),
                                            quality, none);
                callback->AsyncReadComplete(lTransactionID, 0, *com::UniqueVariant(LONG(1)),
                                            quality, none);
                callback->AsyncReadComplete(lTransactionID, E_ACCESSDENIED,
                                            *com::UniqueVariant(LONG(2)), quality, none);
                break;
            case Mode::Error:
                callback->AsyncReadComplete(lTransactionID, E_ACCESSDENIED, none, quality, none);
                break;
        }
        return S_OK;
    }
    STDMETHODIMP AsyncWrite(IUnknown* pCallback, VARIANT, VARIANT, long lTransactionID,
                            long* plCancelID) override {
        transactionIds.push_back(lTransactionID);
        *plCancelID = 8;
        if (mode != Mode::Never) {
            com::ComPtr<IvkAsyncCallback> callback;
            pCallback->QueryInterface(__uuidof(IvkAsyncCallback), callback.put_void());
            callback->AsyncWriteComplete(lTransactionID, mode == Mode::Error ? E_ACCESSDENIED : 0);
        }
        return S_OK;
    }
};

// Read request for parameter 964, subindex 0 of axis 0.
com::UniqueVariant Read964Request() {
    com::UniqueVariant telegram;
    MakeTelegram({0x05, kRequestRead, 0x00, 0x01, kAttributeValue, 0x01, 0x03, 0xC4, 0x00, 0x00},
                 telegram.put());
    return telegram;
}

class SimTransferTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim_ = new SimConnection;
        opened_ = sim_->Open(3);
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(Hr{S_OK}, Hr{opened_})
            << "connection to the simulator's slave 3 (is OrvaneBusSim registered?)";
        // Whatever an earlier test changed on the shared simulator goes.
        ASSERT_EQ(Hr{S_OK}, Hr{sim_->Reset()}) << "Sim/Reset";
        ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetNumber(sim_->latency, 2)}) << "Write LatencyMs 2";
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&counting_, sim_->interaction.get())});
        ChannelBackoff::Get().Clear();
        transfer_.SetConnection(com::ComPtr<IvkInteraction2>(counting_.get()), sim_->async);
        transfer_.SetCompletionTimeout(20000);
    }

    HRESULT Communicate(VARIANT* telegram, ULONG maxPolls, ULONG timeoutSeconds) {
        com::UniqueVariant quality, timestamp;
        return transfer_.CommunicateWithAxolentServer(*Text(sim_->channel), telegram, quality.put(),
                                                      timestamp.put(), maxPolls, timeoutSeconds);
    }

    static SimConnection* sim_;
    static HRESULT opened_;
    com::ComPtr<CountingInteraction> counting_;
    BusTransfer transfer_;
};
SimConnection* SimTransferTest::sim_ = nullptr;
HRESULT SimTransferTest::opened_ = E_FAIL;

TEST_F(SimTransferTest, SynchronousReadOfParameter964) {
    com::UniqueVariant telegram = Read964Request();
    com::UniqueVariant quality, timestamp;
    ASSERT_EQ(Hr{S_OK},
              Hr{transfer_.CommunicateWithAxolentServer(*Text(sim_->channel), telegram.get(),
                                                        quality.put(), timestamp.put(), 300, 300)});
    std::vector<BYTE> response;
    ASSERT_EQ(Hr{S_OK}, Hr{TelegramBytes(*telegram, &response)}) << Describe(*telegram);
    EXPECT_EQ("05 01 00 01 06 01 00 2a", Hex(response)) << "value 42 of parameter 964";
    EXPECT_EQ(VT_I2, quality.vt()) << "quality of the last read";
    EXPECT_EQ(VT_DATE, timestamp.vt()) << "time stamp of the last read";
    EXPECT_EQ(1, counting_->writes);
    EXPECT_GE(counting_->reads, 1);
}

TEST_F(SimTransferTest, PollLimitCountsRepetitions) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetNumber(sim_->latency, 600000)})
        << "a slave that takes ten minutes";
    com::UniqueVariant telegram = Read964Request();
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{Communicate(telegram.get(), 0, 300)}) << "max polls 0";
    EXPECT_EQ(1, counting_->reads) << "max polls 0: exactly one bus-server read";
    EXPECT_EQ(VT_EMPTY, telegram.vt()) << "the request is cleared after the write";

    counting_->reads = 0;
    telegram = Read964Request();
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{Communicate(telegram.get(), 3, 300)}) << "max polls 3";
    EXPECT_EQ(4, counting_->reads) << "max polls 3: the first read and three repetitions";
}

TEST_F(SimTransferTest, MaxPollCountReadZeroGivesOneReadPerRequest) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetNumber(sim_->latency, 600000)});
    Settings settings;
    settings.maxPollCountRead = 0;
    TelegramTransfer sync(transfer_, settings, false);
    ParameterChannel channel(sync, nullptr);
    std::vector<BYTE> values;
    BYTE format = 0;
    EXPECT_EQ(Hr{RPC_E_TIMEOUT},
              Hr{channel.ReadSingle(*Text(sim_->channel), 1, 0, kAttributeValue, 1, 964, 0, &values,
                                    &format, nullptr, nullptr)})
        << "ReadSingle with MaxPollCountRead 0";
    EXPECT_EQ(1, counting_->writes);
    EXPECT_EQ(1, counting_->reads) << "exactly one bus-server read";
}

TEST_F(SimTransferTest, DeadlineOfZeroSecondsEndsAfterTheFirstRead) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetNumber(sim_->latency, 600000)});
    com::UniqueVariant telegram = Read964Request();
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{Communicate(telegram.get(), 100000, 0)}) << "timeout 0 s";
    EXPECT_EQ(1, counting_->reads) << "the deadline is the current second";
}

TEST_F(SimTransferTest, FailingBusWriteIsReturnedWithoutAnyRead) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetNumber(sim_->profile, 0)}) << "deselect the drive profile";
    com::UniqueVariant telegram = Read964Request();
    const HRESULT hr = Communicate(telegram.get(), 300, 300);
    EXPECT_TRUE(FAILED(counting_->lastWrite)) << "the simulator must refuse the channel write";
    EXPECT_EQ(Hr{counting_->lastWrite}, Hr{hr}) << "the write's own HRESULT";
    EXPECT_EQ(0, counting_->reads) << "no read after a failed write";
}

TEST_F(SimTransferTest, MissingArgumentsAndConnection) {
    com::UniqueVariant quality, timestamp;
    EXPECT_EQ(Hr{E_POINTER},
              Hr{transfer_.CommunicateWithAxolentServer(*Text(sim_->channel), nullptr,
                                                        quality.put(), timestamp.put(), 1, 1)})
        << "NULL telegram";
    BusTransfer unconnected;
    com::UniqueVariant telegram = Read964Request();
    EXPECT_EQ(Hr{E_POINTER},
              Hr{unconnected.CommunicateWithAxolentServer(*Text(sim_->channel), telegram.get(),
                                                          quality.put(), timestamp.put(), 1, 1)})
        << "no connection";
    EXPECT_EQ(Hr{E_POINTER}, Hr{unconnected.BlockingAsyncWrite(*Text(sim_->channel), *telegram)})
        << "no async connection";
    EXPECT_EQ(0, counting_->writes);
}

TEST_F(SimTransferTest, AsynchronousTransferThroughTheParameterChannel) {
    Settings settings;
    TelegramTransfer async(transfer_, settings, true);
    ParameterChannel channel(async, nullptr);
    std::vector<BYTE> values;
    BYTE format = 0;
    com::UniqueVariant quality, timestamp;
    ASSERT_EQ(Hr{S_OK}, Hr{channel.ReadSingle(*Text(sim_->channel), 9, 0, kAttributeValue, 1, 964,
                                              2, &values, &format, quality.put(), timestamp.put())})
        << "ReadSingle 964.2 over the asynchronous transfer";
    EXPECT_EQ(kUnsigned16, format);
    EXPECT_EQ("02 03", Hex(values)) << "964 subindex 2 (0x0203)";
    EXPECT_EQ(0, counting_->writes)
        << "the asynchronous transfer must not use the synchronous calls";
}

TEST_F(SimTransferTest, AsynchronousReadOfAnOfflineSlaveFailsWithBadQuality) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetFlag(sim_->offline, true)});
    com::UniqueVariant telegram = Read964Request();
    com::UniqueVariant quality, timestamp;
    const HRESULT hr = transfer_.AsyncCommunicateWithAxolentServer(
        *Text(sim_->channel), telegram.get(), quality.put(), timestamp.put(), 2, 300);
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{hr}) << "an offline slave never answers";
    EXPECT_EQ(VT_I2, quality.vt());
    EXPECT_NE(0xC0, V_I2(quality.get()) & 0xC0) << "the quality of the last poll is not good";
}

// A bus server whose completion never comes: the wait gives up with bad quality.
TEST_F(SimTransferTest, WithheldCompletionTimesOut) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetFlag(sim_->withhold, true)})
        << "Sim/Slave3/WithholdCompletions";
    transfer_.SetCompletionTimeout(200);
    com::UniqueVariant value, quality, timestamp;
    EXPECT_EQ(Hr{E_FAIL}, Hr{transfer_.BlockingAsyncRead(*Text(sim_->channel), value.put(),
                                                         quality.put(), timestamp.put())})
        << "read without completion";
    EXPECT_EQ(VT_I2, quality.vt());
    EXPECT_EQ(0, V_I2(quality.get())) << "quality bad";
    com::UniqueVariant telegram = Read964Request();
    EXPECT_EQ(Hr{E_FAIL},
              Hr{transfer_.AsyncCommunicateWithAxolentServer(
                  *Text(sim_->channel), telegram.get(), quality.put(), timestamp.put(), 2, 300)})
        << "exchange whose write is never completed";
    EXPECT_EQ(0u, AsyncCompletions::Get().PendingCount());
}

// Every kind of parameter request over the synchronous transfer to the simulated
// drive of slave 3, axis 1, and back decoded.
TEST_F(SimTransferTest, ParameterRequestsReachTheDrive) {
    Settings settings;
    TelegramTransfer sync(transfer_, settings, false);
    ParameterChannel channel(sync, nullptr);
    const com::UniqueVariant address = Text(sim_->channel);
    BYTE reference = 1;
    auto readU16 = [&](WORD parameter, std::string* hex) {
        std::vector<BYTE> values;
        BYTE format = 0;
        const HRESULT hr = channel.ReadSingle(*address, reference++, 1, kAttributeValue, 1,
                                              parameter, 0, &values, &format, nullptr, nullptr);
        *hex = Hex(values);
        return hr;
    };

    std::vector<BYTE> bytes;
    ASSERT_EQ(Hr{S_OK}, Hr{VariantToBytes(kUnsigned16, *com::UniqueVariant(LONG(1234)), &bytes)});
    EXPECT_EQ(Hr{S_OK}, Hr{channel.WriteSingle(*address, reference++, 1, kAttributeValue, 1, 1000,
                                               0, bytes, kUnsigned16)})
        << "WriteSingle 1000 = 1234";
    std::string hex;
    EXPECT_EQ(Hr{S_OK}, Hr{readU16(1000, &hex)}) << "ReadSingle 1000";
    EXPECT_EQ("04 d2", hex) << "1234 read back";

    // 40 parameters: two requests (39 + 1), one value block each.
    std::vector<ParameterAddress> parameters(40, ParameterAddress{1000, 0, false});
    std::vector<BYTE> blocks;
    ASSERT_EQ(Hr{S_OK}, Hr{channel.ReadMulti(*address, reference++, 1, kAttributeValue, parameters,
                                             &blocks, nullptr, nullptr)})
        << "ReadMulti of 40";
    std::vector<com::UniqueVariant> decoded;
    ASSERT_EQ(Hr{S_OK}, Hr{DecodeValues(std::vector<VARTYPE>(40, VT_UI2), blocks,
                                        std::vector<BYTE>(40, 0), &decoded)});
    ASSERT_EQ(40u, decoded.size());
    EXPECT_EQ("VT_UI2 1234", Describe(*decoded[39])) << "the 40th value";

    // Two changes in one request: Unsigned16 1000 = 777, Integer16 1001 = -42.
    const std::vector<BYTE> changes = {kUnsigned16, 1, 0x03, 0x09, kInteger16, 1, 0xFF, 0xD6};
    std::vector<HRESULT> results;
    ASSERT_EQ(Hr{S_OK}, Hr{channel.WriteMulti(
                            *address, reference++, 1, kAttributeValue,
                            {ParameterAddress{1000, 0, false}, ParameterAddress{1001, 0, false}},
                            changes, &results)})
        << "WriteMulti";
    ASSERT_EQ(2u, results.size());
    EXPECT_EQ(Hr{S_OK}, Hr{results[0]}) << "1000";
    EXPECT_EQ(Hr{S_OK}, Hr{results[1]}) << "1001";
    EXPECT_EQ(Hr{S_OK}, Hr{readU16(1000, &hex)});
    EXPECT_EQ("03 09", hex) << "777 read back";
    EXPECT_EQ(Hr{S_OK}, Hr{readU16(1001, &hex)});
    EXPECT_EQ("ff d6", hex) << "-42 read back";

    const HRESULT unknown = readU16(9999, &hex);
    EXPECT_EQ(0xE0000000u, static_cast<ULONG>(unknown) & 0xFFFFFF00u)
        << "an unknown parameter is the drive's error answer, got " << Hr{unknown};
}

// The trace of one synchronous and one asynchronous read in the communication log.
TEST_F(SimTransferTest, TransfersWriteTheirTraceLines) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring directory = std::wstring(temp) + L"ov_transfer_trace";
    CreateDirectoryW(directory.c_str(), nullptr);
    CommLog::Configure(1, directory);
    DeleteFileW(CommLog::FilePath().c_str());

    Settings settings;
    CommLogTrace trace;
    TelegramTransfer sync(transfer_, settings, false);
    TelegramTransfer async(transfer_, settings, true);
    std::vector<BYTE> values;
    BYTE format = 0;
    EXPECT_EQ(Hr{S_OK}, Hr{ParameterChannel(sync, &trace)
                               .ReadSingle(*Text(sim_->channel), 5, 0, kAttributeValue, 1, 964, 0,
                                           &values, &format, nullptr, nullptr)});
    EXPECT_EQ(Hr{S_OK}, Hr{ParameterChannel(async, &trace)
                               .ReadSingle(*Text(sim_->channel), 6, 0, kAttributeValue, 1, 964, 0,
                                           &values, &format, nullptr, nullptr)});
    CommLog::SwitchOff();

    std::string text;
    HANDLE file = CreateFileW(CommLog::FilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "no log file";
    char buffer[65536];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(file);
    DeleteFileW(CommLog::FilePath().c_str());
    RemoveDirectoryW(directory.c_str());
    text.assign(buffer, read);

    const std::string channel(sim_->channel.begin(), sim_->channel.end());
    const char* expected[] = {
        ":   communicate (read single) \r\n",
        ":   --> BusServer: 05,01,00,01,10,01,03,c4,00,00, \r\n",
        ":     InteractionObj->Write \r\n",
        ":     InteractionObj->Read \r\n",
        ":   <-- BusServer: 05,01,00,01,06,01,00,2a, \r\n",
        ":     --> BusServer: 06,01,00,01,10,01,03,c4,00,00, \r\n",
        "        send AsyncWrite(",
        "        AsyncWriteComplete(",
        "        event was signaled (",
        "        send AsyncRead(",
        "        AsyncReadComplete(",
        ":     <-- BusServer: 06,01,00,01,06,01,00,2a, \r\n",
    };
    size_t from = 0;
    for (const char* line : expected) {
        const size_t at = text.find(line, from);
        EXPECT_NE(std::string::npos, at)
            << "log line containing '" << line << "' (in order) missing from:\n"
            << text;
        if (at != std::string::npos) from = at;
    }
    EXPECT_NE(std::string::npos, text.find("      call BlockingAsyncWrite (" + channel + ") \r\n"))
        << text;
    EXPECT_NE(std::string::npos,
              text.find("      BlockingAsyncRead returns (" + channel + ") \r\n"))
        << text;
}

class ScriptedTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&async_)});
        transfer_.SetConnection(nullptr, com::ComPtr<IvkAsyncInteraction>(async_.get()));
        transfer_.SetCompletionTimeout(100);
    }
    HRESULT Read(VARIANT* value, VARIANT* quality) {
        com::UniqueVariant timestamp;
        return transfer_.BlockingAsyncRead(*Text(L"opc://X/Y"), value, quality, timestamp.put());
    }

    com::ComPtr<ScriptedAsync> async_;
    BusTransfer transfer_;
};

TEST_F(ScriptedTransferTest, ReadWithoutCompletionFailsWithQualityBad) {
    com::UniqueVariant value, quality;
    EXPECT_EQ(Hr{E_FAIL}, Hr{Read(value.put(), quality.put())}) << "no completion within 100 ms";
    EXPECT_EQ(VT_I2, quality.vt()) << "quality after a timeout";
    EXPECT_EQ(0, V_I2(quality.get())) << "quality bad";
    // A completion that comes after the wait gave up finds no record: the request
    // that waited for it is gone with the call.
    EXPECT_EQ(0u, AsyncCompletions::Get().PendingCount())
        << "the timed-out request is still listed";
    com::ComPtr<IUnknown> callback;
    ASSERT_EQ(Hr{S_OK}, Hr{AsyncCompletions::Get().Callback(&callback)});
    com::ComPtr<IvkAsyncCallback> late;
    ASSERT_EQ(Hr{S_OK}, Hr{callback.query(&late)});
    VARIANT none;
    VariantInit(&none);
    EXPECT_EQ(Hr{S_OK},
              Hr{late->AsyncReadComplete(async_->transactionIds.back(), 0, none, none, none)});
    EXPECT_EQ(0u, AsyncCompletions::Get().PendingCount());
}

// The callback is made once per process and kept by the bus-server connection: it
// must work after the apartment that first asked for it has ended.
TEST(CompletionCallback, OutlivesTheApartmentThatAskedFirst) {
    com::ComInitializer com{COINIT_MULTITHREADED};
    IStream* stream = nullptr;
    std::thread shortLived([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        com::ComPtr<IUnknown> callback;
        if (SUCCEEDED(AsyncCompletions::Get().Callback(&callback)))
            CoMarshalInterThreadInterfaceInStream(__uuidof(IvkAsyncCallback), callback.get(),
                                                  &stream);
        callback.reset();
        CoUninitialize();
    });
    shortLived.join();
    ASSERT_TRUE(stream);
    com::ComPtr<IvkAsyncCallback> callback;
    ASSERT_EQ(Hr{S_OK}, Hr{CoGetInterfaceAndReleaseStream(stream, __uuidof(IvkAsyncCallback),
                                                          callback.put_void())});

    PendingRequest request;
    request.transactionId = 0x4711;
    request.event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    AsyncCompletions::Get().Add(&request);
    const HRESULT hr = callback->AsyncWriteComplete(0x4711, 0);
    AsyncCompletions::Get().Remove(&request);
    EXPECT_EQ(Hr{S_OK}, Hr{hr}) << "completion after the first apartment ended";
    EXPECT_TRUE(request.completed);
}

TEST_F(ScriptedTransferTest, OnlyTheFirstMatchingCompletionCounts) {
    async_->mode = ScriptedAsync::Mode::Twice;
    com::UniqueVariant value, quality;
    EXPECT_EQ(Hr{S_OK}, Hr{Read(value.put(), quality.put())})
        << "the first read completion had error 0";
    EXPECT_EQ("VT_I4 1", Describe(*value)) << "the value of the first read completion";
    EXPECT_EQ(0xC0, V_I2(quality.get()));
}

TEST_F(ScriptedTransferTest, CompletionErrorIsTheResult) {
    async_->mode = ScriptedAsync::Mode::Error;
    com::UniqueVariant value, quality;
    EXPECT_EQ(Hr{E_ACCESSDENIED}, Hr{Read(value.put(), quality.put())}) << "read";
    EXPECT_EQ(Hr{E_ACCESSDENIED},
              Hr{transfer_.BlockingAsyncWrite(*Text(L"opc://X/Y"), *Text(L"v"))})
        << "write";
    EXPECT_EQ(Hr{E_POINTER}, Hr{transfer_.BlockingAsyncRead(*Text(L"opc://X/Y"), nullptr,
                                                            quality.put(), value.put())})
        << "NULL value";
}

TEST_F(ScriptedTransferTest, TransactionIdsSkipAllOnes) {
    async_->mode = ScriptedAsync::Mode::Error;
    AsyncCompletions::Get().SetTransactionCounter(0xFFFFFFFD);
    for (int i = 0; i < 3; ++i) transfer_.BlockingAsyncWrite(*Text(L"opc://X/Y"), *Text(L"v"));
    ASSERT_EQ(3u, async_->transactionIds.size());
    EXPECT_EQ(0xFFFFFFFDu, static_cast<DWORD>(async_->transactionIds[0]));
    EXPECT_EQ(0xFFFFFFFEu, static_cast<DWORD>(async_->transactionIds[1]));
    EXPECT_EQ(0u, static_cast<DWORD>(async_->transactionIds[2])) << "0xFFFFFFFF is never issued";
}

// A channel in back-off is not written at all: the offline drive's requests stop
// counting in the simulator.
TEST_F(SimTransferTest, RequestsToATimedOutChannelFailAtOnceForASecond) {
    ASSERT_EQ(Hr{S_OK}, Hr{sim_->SetFlag(sim_->offline, true)});
    auto exchange = [&] {
        com::UniqueVariant telegram = Read964Request(), quality, timestamp;
        return transfer_.Exchange(*Text(sim_->channel), telegram.get(), quality.put(),
                                  timestamp.put(), 2, 300, false);
    };
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{exchange()}) << "an offline drive does not answer";
    const LONG requests = sim_->SimNumber(L"Sim/Slave3/Requests");
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{exchange()}) << "within the back-off";
    EXPECT_EQ(requests, sim_->SimNumber(L"Sim/Slave3/Requests")) << "the second request was sent";
    EXPECT_EQ(1, counting_->writes);
}

TEST(ChannelBackoff, OneProbeAfterASecond) {
    static ULONGLONG now = 5000;
    ChannelBackoff backoff([] { return now; });
    EXPECT_EQ(Hr{S_OK}, Hr{backoff.Admit(L"A")});
    backoff.Finished(L"A", RPC_E_TIMEOUT);
    now += ChannelBackoff::kBackoffMs - 1;
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{backoff.Admit(L"A")}) << "within the second";
    EXPECT_EQ(Hr{S_OK}, Hr{backoff.Admit(L"B")}) << "another channel";
    now += 1;
    EXPECT_EQ(Hr{S_OK}, Hr{backoff.Admit(L"A")}) << "the probe";
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{backoff.Admit(L"A")}) << "while the probe runs";
    backoff.Finished(L"A", RPC_E_TIMEOUT);
    EXPECT_EQ(Hr{RPC_E_TIMEOUT}, Hr{backoff.Admit(L"A")}) << "a failed probe starts a new second";
    now += ChannelBackoff::kBackoffMs;
    EXPECT_EQ(Hr{S_OK}, Hr{backoff.Admit(L"A")});
    backoff.Finished(L"A", E_ACCESSDENIED);
    EXPECT_EQ(Hr{S_OK}, Hr{backoff.Admit(L"A")}) << "any other result ends the back-off";
}

// A bus server whose channel refuses requests until the profile ident item holds the
// drive profile, as a restarted one does; answers every request with `response`.
class ProfileChannel : public com::Object<test_support::NotImplementedDispatch<IvkInteraction2>> {
public:
    std::vector<std::wstring> writes;
    bool profileSelected = false;
    HRESULT profileResult = S_OK;

    STDMETHODIMP Read(VARIANT, VARIANT* pvValue, VARIANT* pvQuality, VARIANT*) override {
        V_VT(pvQuality) = VT_I2;
        V_I2(pvQuality) = 0xC0;
        return MakeTelegram({0x05, 0x01, 0x00, 0x01, 0x06, 0x01, 0x00, 0x2A}, pvValue);
    }
    STDMETHODIMP Write(VARIANT vAddress, VARIANT vValue) override {
        const std::wstring address = V_BSTR(&vAddress);
        writes.push_back(address);
        if (address == L"opc://X/P") {
            profileSelected = SUCCEEDED(profileResult) && V_VT(&vValue) == VT_I4 &&
                              V_I4(&vValue) == kAxolentProfileIdent;
            return profileResult;
        }
        return profileSelected ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_READY);
    }
    STDMETHODIMP Init(long, IUnknown*, IUnknown**, VARTYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Terminate(VARIANT) override { return E_NOTIMPL; }
};

TEST(ProfileReselection, RefusedChannelWriteSelectsTheProfileAndRetriesOnce) {
    struct Case {
        const char* name;
        bool knownProfileItem;
        HRESULT profileResult;
        HRESULT result;
        std::vector<std::wstring> writes;
    } cases[] = {
        {"profile item known", true, S_OK, S_OK, {L"opc://X/C", L"opc://X/P", L"opc://X/C"}},
        {"profile item unknown", false, S_OK, HRESULT_FROM_WIN32(ERROR_NOT_READY), {L"opc://X/C"}},
        {"profile write refused",
         true,
         E_ACCESSDENIED,
         HRESULT_FROM_WIN32(ERROR_NOT_READY),
         {L"opc://X/C", L"opc://X/P"}},
    };
    ChannelBackoff::Get().Clear();
    for (const Case& c : cases) {
        com::ComPtr<ProfileChannel> bus;
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&bus)});
        bus->profileResult = c.profileResult;
        BusTransfer transfer;
        transfer.SetConnection(com::ComPtr<IvkInteraction2>(bus.get()), nullptr);
        if (c.knownProfileItem) transfer.SetProfileItem(L"opc://X/C", L"opc://X/P");
        com::UniqueVariant telegram = Read964Request(), quality, timestamp;
        EXPECT_EQ(Hr{c.result},
                  Hr{transfer.Exchange(*Text(L"opc://X/C"), telegram.get(), quality.put(),
                                       timestamp.put(), 3, 300, false)})
            << c.name;
        EXPECT_EQ(c.writes, bus->writes) << c.name;
    }
}

TEST(MessageWait, WaitsDispatchAndTimeOut) {
    com::UniqueHandle events[3];
    for (auto& event : events) event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE handles[3] = {events[0].get(), events[1].get(), events[2].get()};

    EXPECT_FALSE(WaitWithMessages(handles[0], 20)) << "nothing signalled";
    // A posted message is dispatched, then the wait goes on to its timeout.
    PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
    EXPECT_FALSE(WaitWithMessages(handles[0], 20)) << "a message alone does not end the wait";

    std::thread signaller([&] {
        for (HANDLE h : handles) SetEvent(h);
    });
    signaller.join();
    EXPECT_TRUE(WaitWithMessages(handles[1], 1000)) << "signalled";
    EXPECT_TRUE(WaitAllWithMessages(3, handles, 1000)) << "all three signalled";
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(handles[0], 0))
        << "taken signals are reset";

    SetEvent(handles[0]);
    SetEvent(handles[2]);
    EXPECT_FALSE(WaitAllWithMessages(3, handles, 20)) << "one of three never signalled";
    EXPECT_TRUE(WaitAllWithMessages(0, nullptr, 0)) << "nothing to wait for";
}

// A line may have 126 slaves, more than one wait takes at once.
TEST(MessageWait, WaitsForMoreHandlesThanOneWaitTakes) {
    struct Case {
        DWORD count;
        bool lastSignalled;
        bool expected;
    };
    const Case cases[] = {
        {63, true, true}, {64, true, true}, {126, true, true}, {126, false, false}};
    for (const Case& c : cases) {
        std::vector<com::UniqueHandle> events(c.count);
        std::vector<HANDLE> handles;
        for (auto& event : events) {
            event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            handles.push_back(event.get());
        }
        // Signalled from the end, while the wait runs.
        std::thread signaller([&] {
            for (DWORD i = c.count; i-- > 0;)
                if (i + 1 < c.count || c.lastSignalled) SetEvent(handles[i]);
        });
        EXPECT_EQ(c.expected,
                  WaitAllWithMessages(c.count, handles.data(), c.expected ? 30000 : 200))
            << c.count << " handles, last " << (c.lastSignalled ? "signalled" : "never signalled");
        signaller.join();
    }
}

}  // namespace
}  // namespace orvane::interaction::test
