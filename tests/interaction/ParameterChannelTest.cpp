// Parameter requests against a scripted drive: what goes out, what comes back.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "opcerror.h"
#include "ParameterChannel.h"
#include "RequestReference.h"
#include "Telegram.h"
#include "TestSupport.h"

namespace orvane::interaction::test {
namespace {

// Records every request and answers from a script, or from a responder when the
// script is empty. Quality and time stamp are those a bus server would report.
class ScriptedDrive : public ITelegramTransfer {
public:
    struct Answer {
        HRESULT hr;
        std::vector<BYTE> response;
    };
    using Responder = std::function<Answer(const std::vector<BYTE>& request)>;

    HRESULT Communicate(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                        VARIANT* timestamp, PollLimit limit) override {
        VariantInit(quality);
        VariantInit(timestamp);
        addresses.push_back(V_VT(&address) == VT_BSTR ? std::wstring(V_BSTR(&address)) : L"?");
        std::vector<BYTE> request;
        EXPECT_EQ(Hr{S_OK}, Hr{TelegramBytes(*telegram, &request)})
            << "request telegram is no byte array";
        requests.push_back(request);
        limits.push_back(limit);
        Answer answer{E_FAIL, {}};
        if (!script.empty()) {
            answer = script.front();
            script.pop_front();
        } else if (responder) {
            answer = responder(request);
        }
        VariantClear(telegram);
        if (FAILED(answer.hr)) return answer.hr;
        V_VT(quality) = VT_I2;
        V_I2(quality) = 0xC0;
        V_VT(timestamp) = VT_DATE;
        V_DATE(timestamp) = 45000.5;
        return rawAnswer ? VariantCopy(telegram, rawAnswer)
                         : MakeTelegram(answer.response, telegram);
    }
    bool IsAsynchronous() const override { return asynchronous; }

    std::deque<Answer> script;
    Responder responder;
    VARIANT* rawAnswer = nullptr;  // answer with this VARIANT instead
    bool asynchronous = false;
    std::vector<std::vector<BYTE>> requests;
    std::vector<PollLimit> limits;
    std::vector<std::wstring> addresses;
};

class RecordingLog : public ITraceLog {
public:
    bool Enabled() const override { return enabled; }
    void Write(const std::wstring& line) override { lines.push_back(line); }
    bool enabled = true;
    std::vector<std::wstring> lines;
};

class ParameterChannelTest : public ::testing::Test {
protected:
    ParameterChannelTest() {
        VariantInit(&address);
        V_VT(&address) = VT_BSTR;
        V_BSTR(&address) = SysAllocString(L"opc://Vendor.BusServer.1/Slave3/SlotI0S47D8209");
    }
    ~ParameterChannelTest() override { VariantClear(&address); }

    // A positive read response with one value block per entry.
    static std::vector<BYTE> ReadResponse(BYTE reference,
                                          const std::vector<std::vector<BYTE>>& blocks) {
        std::vector<BYTE> response{reference, kRequestRead, 0, static_cast<BYTE>(blocks.size())};
        for (const auto& block : blocks)
            response.insert(response.end(), block.begin(), block.end());
        return response;
    }

    VARIANT address;
    ScriptedDrive drive;
    RecordingLog log;
    ParameterChannel channel{drive, &log};
};

// The address fields of parameters [first, first + count) in a multi-parameter request.
void ExpectAddresses(const std::string& call, const std::vector<BYTE>& request,
                     const std::vector<ParameterAddress>& parameters, size_t first, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const ParameterAddress& p = parameters[first + i];
        const auto field = request.begin() + kHeaderLength + kAddressLength * i;
        const std::vector<BYTE> wanted{kAttributeValue,     static_cast<BYTE>(p.unindexed ? 0 : 1),
                                       HIBYTE(p.parameter), LOBYTE(p.parameter),
                                       HIBYTE(p.subindex),  LOBYTE(p.subindex)};
        EXPECT_EQ(Hex(wanted), Hex({field, field + kAddressLength}))
            << call << ": address of parameter " << first + i;
    }
}

std::vector<ParameterAddress> Parameters(size_t count) {
    std::vector<ParameterAddress> parameters;
    for (size_t i = 0; i < count; ++i)
        parameters.push_back({static_cast<WORD>(1000 + i), static_cast<WORD>(i % 3), i % 2 == 1});
    return parameters;
}

// ---- ReadSingle

TEST_F(ParameterChannelTest, ReadSingleSendsTenBytesAndReturnsTheValues) {
    drive.script.push_back({S_OK, {0x05, 0x01, 0x00, 0x01, 0x42, 0x01, 0x12, 0x34}});
    std::vector<BYTE> values{0xEE};
    BYTE format = 0;
    VARIANT quality, timestamp;
    const HRESULT hr = channel.ReadSingle(address, 5, 2, kAttributeValue, 1, 964, 0x0102, &values,
                                          &format, &quality, &timestamp);
    ASSERT_EQ(Hr{S_OK}, Hr{hr}) << "ReadSingle";
    ASSERT_EQ(1u, drive.requests.size()) << "ReadSingle: requests sent";
    EXPECT_EQ("05 01 02 01 10 01 03 c4 01 02", Hex(drive.requests[0])) << "ReadSingle: request";
    EXPECT_EQ(PollLimit::Read, drive.limits[0]) << "ReadSingle: poll limit";
    EXPECT_EQ(L"opc://Vendor.BusServer.1/Slave3/SlotI0S47D8209", drive.addresses[0])
        << "ReadSingle: address";
    EXPECT_EQ(0x42, format) << "ReadSingle: format";
    EXPECT_EQ("12 34", Hex(values)) << "ReadSingle: values";
    EXPECT_EQ(VT_I2, V_VT(&quality)) << "ReadSingle: quality type";
    EXPECT_EQ(0xC0, V_I2(&quality)) << "ReadSingle: quality";
    EXPECT_EQ(VT_DATE, V_VT(&timestamp)) << "ReadSingle: time stamp type";
}

TEST_F(ParameterChannelTest, ReadSingleChecksTheResponse) {
    struct Case {
        const char* name;
        ScriptedDrive::Answer answer;
        HRESULT hr;
    };
    const Case cases[] = {
        {"error 0x0014", {S_OK, {1, 0x81, 0, 1, 0x44, 1, 0x00, 0x14}}, DriveError(0x14)},
        {"error 0x0114 (low byte counts)",
         {S_OK, {1, 0x81, 0, 1, 0x44, 1, 0x01, 0x14}},
         DriveError(0x14)},
        {"error block in a positive response",
         {S_OK, {1, 0x01, 0, 1, 0x44, 1, 0x00, 0x03}},
         DriveError(0x03)},
        {"negative without error number", {S_OK, {1, 0x81, 0, 1, 0x44, 1, 0x00}}, E_FAIL},
        {"shorter than 6 bytes", {S_OK, {1, 0x01, 0, 1, 0x06}}, E_FAIL},
        {"transfer timeout", {RPC_E_TIMEOUT, {}}, RPC_E_TIMEOUT},
    };
    for (const Case& c : cases) {
        drive.script = {c.answer};
        std::vector<BYTE> values{0xEE};
        BYTE format = 0x99;
        const HRESULT hr = channel.ReadSingle(address, 1, 0, kAttributeValue, 1, 964, 0, &values,
                                              &format, nullptr, nullptr);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "ReadSingle, " << c.name;
        EXPECT_EQ("ee", Hex(values)) << "ReadSingle, " << c.name << ": values touched on failure";
        EXPECT_EQ(0x99, format) << "ReadSingle, " << c.name << ": format touched on failure";
    }
}

TEST_F(ParameterChannelTest, ReadSingleRefusesAnAnswerThatIsNoByteArray) {
    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"not a telegram");
    drive.rawAnswer = &text;
    drive.script.push_back({S_OK, {}});
    std::vector<BYTE> values;
    BYTE format = 0;
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{channel.ReadSingle(address, 1, 0, kAttributeValue, 1, 964, 0,
                                                      &values, &format, nullptr, nullptr)})
        << "ReadSingle, answer VT_BSTR";
    drive.rawAnswer = nullptr;
    VariantClear(&text);

    EXPECT_EQ(Hr{E_POINTER}, Hr{channel.ReadSingle(address, 1, 0, kAttributeValue, 1, 964, 0,
                                                   nullptr, &format, nullptr, nullptr)})
        << "ReadSingle without values output";
    EXPECT_EQ(Hr{E_POINTER}, Hr{channel.ReadSingle(address, 1, 0, kAttributeValue, 1, 964, 0,
                                                   &values, nullptr, nullptr, nullptr)})
        << "ReadSingle without format output";
    EXPECT_EQ(1u, drive.requests.size()) << "ReadSingle: requests sent";
}

// ---- ReadMulti

TEST_F(ParameterChannelTest, ReadMultiSplitsAt39Parameters) {
    struct Case {
        size_t parameters;
        std::vector<size_t> split;
    };
    const Case cases[] = {{1, {1}},       {39, {39}},        {40, {39, 1}},
                          {78, {39, 39}}, {79, {39, 39, 1}}, {0, {}}};
    for (const Case& c : cases) {
        drive.requests.clear();
        drive.limits.clear();
        // Every parameter answers one word: its parameter number.
        drive.responder = [](const std::vector<BYTE>& request) {
            std::vector<BYTE> response{request[0], kRequestRead, request[2], request[3]};
            for (size_t i = 0; i < request[3]; ++i) {
                const size_t address = kHeaderLength + kAddressLength * i;
                response.insert(response.end(),
                                {0x06, 1, request[address + 2], request[address + 3]});
            }
            return ScriptedDrive::Answer{S_OK, response};
        };
        const auto parameters = Parameters(c.parameters);
        std::vector<BYTE> result{0xAA};  // earlier content is kept
        const HRESULT hr = channel.ReadMulti(address, 7, 3, kAttributeValue, parameters, &result,
                                             nullptr, nullptr);
        const std::string call = "ReadMulti of " + std::to_string(c.parameters);
        ASSERT_EQ(Hr{S_OK}, Hr{hr}) << call;
        ASSERT_EQ(c.split.size(), drive.requests.size()) << call << ": requests sent";
        size_t next = 0;
        std::vector<BYTE> expected{0xAA};
        for (size_t r = 0; r < c.split.size(); ++r) {
            const auto& request = drive.requests[r];
            ASSERT_EQ(kHeaderLength + kAddressLength * c.split[r], request.size())
                << call << ", request " << r;
            EXPECT_EQ("07 01 03", Hex({request.begin(), request.begin() + 3}))
                << call << ", request " << r;
            EXPECT_EQ(c.split[r], request[3]) << call << ", request " << r << ": count";
            EXPECT_EQ(PollLimit::Read, drive.limits[r])
                << call << ", request " << r << ": poll limit";
            ExpectAddresses(call, request, parameters, next, c.split[r]);
            for (size_t i = 0; i < c.split[r]; ++i, ++next)
                expected.insert(expected.end(), {0x06, 1, HIBYTE(parameters[next].parameter),
                                                 LOBYTE(parameters[next].parameter)});
        }
        EXPECT_EQ(Hex(expected), Hex(result)) << call << ": collected value blocks";
    }
}

TEST_F(ParameterChannelTest, ReadMultiReturnsNothingWhenARequestFails) {
    struct Case {
        const char* name;
        ScriptedDrive::Answer second;
        HRESULT hr;
    };
    const std::vector<BYTE> good =
        ReadResponse(1, std::vector<std::vector<BYTE>>(39, {0x06, 1, 0, 1}));
    const Case cases[] = {
        {"negative response", {S_OK, {1, 0x81, 0, 1, 0x44, 1, 0x00, 0x14}}, DriveError(0x14)},
        {"error as first block", {S_OK, {1, 0x01, 0, 1, 0x44, 1, 0x00, 0x05}}, DriveError(0x05)},
        {"negative without error number", {S_OK, {1, 0x81, 0, 1, 0x44, 1, 0x00}}, E_FAIL},
        {"error after a word value",
         {S_OK, {1, 0x81, 0, 2, 0x06, 1, 0x12, 0x34, 0x44, 1, 0x00, 0x14}},
         DriveError(0x14)},
        {"error after a padded byte value",
         {S_OK, {1, 0x81, 0, 2, 0x05, 1, 0x07, 0x00, 0x44, 1, 0x00, 0x03}},
         DriveError(0x03)},
        {"error after a text",
         {S_OK, {1, 0x81, 0, 2, 0x09, 3, 'a', 'b', 'c', 0x44, 1, 0, 0x19}},
         DriveError(0x19)},
        {"shorter than 7 bytes", {S_OK, {1, 0x01, 0, 1, 0x40, 0}}, E_FAIL},
        {"transfer failure", {RPC_E_TIMEOUT, {}}, RPC_E_TIMEOUT},
    };
    for (const Case& c : cases) {
        drive.script = {{S_OK, good}, c.second};
        std::vector<BYTE> result{0xAA};
        VARIANT quality;
        const HRESULT hr = channel.ReadMulti(address, 1, 0, kAttributeValue, Parameters(40),
                                             &result, &quality, nullptr);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "ReadMulti, " << c.name;
        EXPECT_EQ("aa", Hex(result)) << "ReadMulti, " << c.name << ": result changed";
        VariantClear(&quality);
    }
}

// ---- WriteSingle

TEST_F(ParameterChannelTest, WriteSingleBuildsTheChangeRequest) {
    struct Case {
        const char* name;
        BYTE format;
        std::vector<BYTE> values;
        const char* request;
    };
    const Case cases[] = {
        {"Unsigned8 7", kUnsigned8, {0x07, 0x00}, "09 02 01 01 10 01 01 2c 00 00 05 01 07 00"},
        {"three-byte string",
         kVisibleString,
         {'a', 'b', 'c'},
         "09 02 01 01 10 01 01 2c 00 00 09 03 61 62 63 00"},
        {"empty string", kVisibleString, {}, "09 02 01 01 10 01 01 2c 00 00 09 00"},
        {"octet string", kOctetString, {1, 2}, "09 02 01 01 10 01 01 2c 00 00 0a 02 01 02"},
        {"Unsigned32",
         kUnsigned32,
         {1, 2, 3, 4},
         "09 02 01 01 10 01 01 2c 00 00 07 01 01 02 03 04"},
    };
    for (const Case& c : cases) {
        drive.requests.clear();
        drive.limits.clear();
        drive.script = {{S_OK, {9, kRequestChange, 1, 1}}};
        const HRESULT hr =
            channel.WriteSingle(address, 9, 1, kAttributeValue, 1, 300, 0, c.values, c.format);
        EXPECT_EQ(Hr{S_OK}, Hr{hr}) << "WriteSingle, " << c.name;
        ASSERT_EQ(1u, drive.requests.size()) << "WriteSingle, " << c.name << ": requests sent";
        EXPECT_EQ(c.request, Hex(drive.requests[0])) << "WriteSingle, " << c.name << ": request";
        EXPECT_EQ(PollLimit::Write, drive.limits[0]) << "WriteSingle, " << c.name << ": poll limit";
    }
}

TEST_F(ParameterChannelTest, WriteSingleResults) {
    struct Case {
        const char* name;
        ScriptedDrive::Answer answer;
        HRESULT hr;
    };
    const Case cases[] = {
        {"positive", {S_OK, {1, 0x02, 0, 1}}, S_OK},
        {"error 0x14", {S_OK, {1, 0x82, 0, 1, 0x44, 1, 0x00, 0x14}}, DriveError(0x14)},
        {"error 0 (no such parameter)",
         {S_OK, {1, 0x82, 0, 1, 0x44, 1, 0x00, 0x00}},
         OPC_E_INVALIDITEMID},
        {"error 22", {S_OK, {1, 0x82, 0, 1, 0x44, 1, 0x00, 22}}, OPC_E_INVALIDITEMID},
        {"negative without error number", {S_OK, {1, 0x82, 0, 1, 0x44, 1, 0x00}}, E_FAIL},
        {"shorter than 4 bytes", {S_OK, {1, 0x02, 0}}, E_FAIL},
        {"transfer failure", {E_ACCESSDENIED, {}}, E_ACCESSDENIED},
    };
    for (const Case& c : cases) {
        drive.script = {c.answer};
        const HRESULT hr =
            channel.WriteSingle(address, 1, 0, kAttributeValue, 1, 300, 0, {7, 0}, kUnsigned8);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "WriteSingle, " << c.name;
    }
}

TEST_F(ParameterChannelTest, WriteSingleRefusesMissingValues) {
    EXPECT_EQ(Hr{E_POINTER},
              Hr{channel.WriteSingle(address, 1, 0, kAttributeValue, 1, 300, 0, {7, 0}, 0)})
        << "WriteSingle with format 0";
    EXPECT_EQ(Hr{E_POINTER},
              Hr{channel.WriteSingle(address, 1, 0, kAttributeValue, 1, 300, 0, {}, kUnsigned8)})
        << "WriteSingle of Unsigned8 without value bytes";
    EXPECT_EQ(Hr{E_INVALIDARG},
              Hr{channel.WriteSingle(address, 1, 0, kAttributeValue, 1, 300, 0,
                                     std::vector<BYTE>(256, 'x'), kVisibleString)})
        << "WriteSingle of 256 text bytes";
    EXPECT_TRUE(drive.requests.empty())
        << "WriteSingle sent " << drive.requests.size() << " requests";
}

// ---- WriteMulti

std::vector<BYTE> Blocks(size_t count, const std::vector<BYTE>& block) {
    std::vector<BYTE> blocks;
    for (size_t i = 0; i < count; ++i) blocks.insert(blocks.end(), block.begin(), block.end());
    return blocks;
}

TEST_F(ParameterChannelTest, WriteMultiSegmentsAt240Bytes) {
    struct Case {
        const char* name;
        size_t count;
        std::vector<BYTE> block;
        std::vector<size_t> lengths;  // request lengths
    };
    const Case cases[] = {
        {"two Unsigned8", 2, {kUnsigned8, 1, 7, 0}, {24}},
        {"19 double words", 19, {kUnsigned32, 1, 1, 2, 3, 4}, {232}},
        {"20 double words", 20, {kUnsigned32, 1, 1, 2, 3, 4}, {232, 16}},
        {"23 words", 23, {kUnsigned16, 1, 1, 2}, {234}},
        {"24 words", 24, {kUnsigned16, 1, 1, 2}, {234, 14}},
        {"one date (odd, padded)", 1, {50, 1, 1, 2, 3, 4, 5, 6, 7}, {20}},
        {"15 dates, each with its pad byte", 15, {50, 1, 1, 2, 3, 4, 5, 6, 7}, {228, 20}},
        {"none", 0, {}, {}},
    };
    for (const Case& c : cases) {
        drive.requests.clear();
        drive.limits.clear();
        drive.responder = [](const std::vector<BYTE>& request) {
            return ScriptedDrive::Answer{S_OK,
                                         {request[0], kRequestChange, request[2], request[3]}};
        };
        const auto parameters = Parameters(c.count);
        const auto blocks = Blocks(c.count, c.block);
        std::vector<HRESULT> results{E_FAIL};
        const HRESULT hr =
            channel.WriteMulti(address, 4, 2, kAttributeValue, parameters, blocks, &results);
        const std::string call = std::string("WriteMulti, ") + c.name;
        ASSERT_EQ(Hr{S_OK}, Hr{hr}) << call;
        ASSERT_EQ(c.lengths.size(), drive.requests.size()) << call << ": requests sent";
        size_t next = 0;
        for (size_t r = 0; r < c.lengths.size(); ++r) {
            const auto& request = drive.requests[r];
            EXPECT_EQ(c.lengths[r], request.size()) << call << ", request " << r << ": length";
            const size_t k = request[3];
            EXPECT_EQ("04 02 02", Hex({request.begin(), request.begin() + 3}))
                << call << ", request " << r;
            EXPECT_EQ(PollLimit::Read, drive.limits[r])
                << call << ", request " << r << ": poll limit";
            ExpectAddresses(call, request, parameters, next, k);
            next += k;
            const auto values = request.begin() + kHeaderLength + kAddressLength * k;
            std::vector<BYTE> padded = c.block;
            if (padded.size() % 2) padded.push_back(0);
            const std::vector<BYTE> expected = Blocks(k, padded);
            EXPECT_EQ(Hex(expected), Hex({values, values + expected.size()}))
                << call << ", request " << r << ": blocks";
        }
        EXPECT_EQ(c.count, next) << call << ": parameters sent";
        EXPECT_EQ(std::vector<HRESULT>(c.count, S_OK), results) << call << ": results";
    }
}

// The drive finds each block after the pad byte of an odd one before it.
TEST_F(ParameterChannelTest, WriteMultiPadsAnOddFirstBlock) {
    std::vector<BYTE> blocks = {50, 1, 1, 2, 3, 4, 5, 6, 7};
    blocks.insert(blocks.end(), {kUnsigned16, 1, 0, 20});
    drive.script = {{S_OK, {5, kRequestChange, 1, 2}}};
    std::vector<HRESULT> results;
    ASSERT_EQ(Hr{S_OK}, Hr{channel.WriteMulti(address, 5, 1, kAttributeValue, Parameters(2), blocks,
                                              &results)});
    ASSERT_EQ(1u, drive.requests.size());
    const auto& request = drive.requests[0];
    ASSERT_EQ(30u, request.size());
    EXPECT_EQ("32 01 01 02 03 04 05 06 07 00 06 01 00 14",
              Hex({request.begin() + kHeaderLength + 2 * kAddressLength, request.end()}));
}

TEST_F(ParameterChannelTest, WriteMultiTakesPerParameterResults) {
    const auto parameters = Parameters(3);
    const auto blocks = Blocks(3, {kUnsigned16, 1, 0, 5});
    drive.script = {{S_OK, {1, 0x82, 0, 3, 0x40, 0, 0x44, 1, 0x00, 0x14, 0x40, 0}}};
    std::vector<HRESULT> results;
    ASSERT_EQ(Hr{S_OK},
              Hr{channel.WriteMulti(address, 1, 0, kAttributeValue, parameters, blocks, &results)})
        << "WriteMulti with one refused parameter";
    ASSERT_EQ(3u, results.size()) << "WriteMulti: results";
    EXPECT_EQ(Hr{S_OK}, Hr{results[0]}) << "WriteMulti: result 0";
    EXPECT_EQ(Hr{DriveError(0x14)}, Hr{results[1]}) << "WriteMulti: result 1";
    EXPECT_EQ(Hr{S_OK}, Hr{results[2]}) << "WriteMulti: result 2";
}

TEST_F(ParameterChannelTest, WriteMultiFailsOnUnexpectedAnswers) {
    struct Case {
        const char* name;
        ScriptedDrive::Answer answer;
        HRESULT hr;
    };
    const Case cases[] = {
        {"unknown block", {S_OK, {1, 0x82, 0, 2, 0x40, 0, 0x06, 1, 0, 1}}, E_UNEXPECTED},
        {"fewer blocks than parameters", {S_OK, {1, 0x82, 0, 2, 0x40, 0}}, E_UNEXPECTED},
        {"negative header only", {S_OK, {1, 0x82, 0, 2}}, E_UNEXPECTED},
        {"error block cut short", {S_OK, {1, 0x82, 0, 2, 0x40, 0, 0x44, 1, 0x00}}, E_UNEXPECTED},
        {"shorter than 4 bytes", {S_OK, {1, 0x02}}, E_FAIL},
        {"transfer failure", {RPC_E_TIMEOUT, {}}, RPC_E_TIMEOUT},
    };
    for (const Case& c : cases) {
        drive.script = {c.answer};
        std::vector<HRESULT> results{E_ABORT};
        const HRESULT hr = channel.WriteMulti(address, 1, 0, kAttributeValue, Parameters(2),
                                              Blocks(2, {kUnsigned16, 1, 0, 5}), &results);
        EXPECT_EQ(Hr{c.hr}, Hr{hr}) << "WriteMulti, " << c.name;
        EXPECT_EQ(std::vector<HRESULT>{E_ABORT}, results)
            << "WriteMulti, " << c.name << ": results changed";
    }
}

TEST_F(ParameterChannelTest, WriteMultiRefusesBlocksItCannotSegment) {
    struct Case {
        const char* name;
        size_t count;
        std::vector<BYTE> blocks;
    };
    const Case cases[] = {
        {"visible string", 1, {kVisibleString, 3, 'a', 'b', 'c', 0}},
        {"format 0", 1, {0, 1, 0, 0}},
        {"time difference (13)", 1, {kTimeDifference, 1, 1, 2, 3, 4}},
        {"format above 67", 1, {0x44, 1, 0, 0}},
        {"good block after a bad one", 2, {kUnsigned16, 1, 0, 5, kVisibleString, 1, 'a', 0}},
        {"blocks missing", 2, {kUnsigned16, 1, 0, 5}},
        {"block cut short", 1, {kUnsigned32, 1, 0, 5}},
        {"bytes left over", 1, {kUnsigned16, 1, 0, 5, 0}},
    };
    for (const Case& c : cases) {
        std::vector<HRESULT> results{E_ABORT};
        const HRESULT hr = channel.WriteMulti(address, 1, 0, kAttributeValue, Parameters(c.count),
                                              c.blocks, &results);
        EXPECT_EQ(Hr{E_INVALIDARG}, Hr{hr}) << "WriteMulti, " << c.name;
        EXPECT_EQ(std::vector<HRESULT>{E_ABORT}, results)
            << "WriteMulti, " << c.name << ": results changed";
    }
    EXPECT_TRUE(drive.requests.empty())
        << "WriteMulti sent " << drive.requests.size() << " requests";
    EXPECT_EQ(Hr{E_POINTER}, Hr{channel.WriteMulti(address, 1, 0, kAttributeValue, Parameters(1),
                                                   {kUnsigned16, 1, 0, 5}, nullptr)})
        << "WriteMulti without results";
}

TEST_F(ParameterChannelTest, WriteMultiSendsNothingWhenALaterSegmentIsBad) {
    // 20 good double words (two segments) followed by a string: refused before sending.
    std::vector<BYTE> blocks = Blocks(20, {kUnsigned32, 1, 1, 2, 3, 4});
    blocks.insert(blocks.end(), {kVisibleString, 1, 'a', 0});
    std::vector<HRESULT> results;
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{channel.WriteMulti(address, 1, 0, kAttributeValue,
                                                      Parameters(21), blocks, &results)})
        << "WriteMulti with a string at the end";
    EXPECT_TRUE(drive.requests.empty())
        << "WriteMulti sent " << drive.requests.size() << " requests";
}

// ---- Trace and request reference

TEST_F(ParameterChannelTest, TracesTelegramsWhileLogging) {
    drive.script = {{S_OK, {1, 0x01, 0, 1, 0x06, 1, 0x12, 0x34}}};
    std::vector<BYTE> values;
    BYTE format = 0;
    ASSERT_EQ(Hr{S_OK}, Hr{channel.ReadSingle(address, 1, 0, kAttributeValue, 1, 964, 0, &values,
                                              &format, nullptr, nullptr)})
        << "ReadSingle";
    const std::vector<std::wstring> expected{
        L"  communicate (read single)",
        L"  --> BusServer: 01,01,00,01,10,01,03,c4,00,00,",
        L"  <-- BusServer: 01,01,00,01,06,01,12,34,",
    };
    EXPECT_EQ(expected, log.lines) << "trace of a synchronous ReadSingle";

    log.lines.clear();
    drive.asynchronous = true;
    drive.script = {{S_OK, {1, 0x02, 0, 1}}};
    ASSERT_EQ(Hr{S_OK}, Hr{channel.WriteSingle(address, 1, 0, kAttributeValue, 1, 964, 0, {7, 0},
                                               kUnsigned8)})
        << "WriteSingle";
    const std::vector<std::wstring> expectedAsync{
        L"  communicate (write single)",
        L"    --> BusServer: 01,02,00,01,10,01,03,c4,00,00,05,01,07,00,",
        L"    <-- BusServer: 01,02,00,01,",
    };
    EXPECT_EQ(expectedAsync, log.lines) << "trace of an asynchronous WriteSingle";

    log.lines.clear();
    log.enabled = false;
    drive.script = {{S_OK, {1, 0x02, 0, 1}}};
    channel.WriteSingle(address, 1, 0, kAttributeValue, 1, 964, 0, {7, 0}, kUnsigned8);
    EXPECT_TRUE(log.lines.empty())
        << "trace written while logging is off: " << log.lines.size() << " lines";
}

TEST(RequestReference, RunsFrom1To254) {
    RequestReference reference;
    EXPECT_EQ(1, reference.Current()) << "first request reference";
    std::vector<int> seen;
    for (int i = 0; i < 2 * 254; ++i) {
        seen.push_back(reference.Current());
        reference.Advance();
    }
    for (int i = 0; i < 2 * 254; ++i)
        ASSERT_EQ(i % 254 + 1, seen[i]) << "request reference after " << i << " advances";
}

}  // namespace
}  // namespace orvane::interaction::test
