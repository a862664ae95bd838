// The topology file format and the shipped default topology.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>

#include "Drive.h"
#include "Topology.h"

namespace bussim {
namespace {

TEST(TopologyParser, ReportsTheLineOfAnError) {
    struct Bad {
        const char* text;
        const char* error;
    };
    const Bad kBad[] = {
        {"vendor \"x\"", "line 1: 'vendor' before the first slave"},
        {"slave 3\nslave 3", "line 2: slave address used twice"},
        {"slave 3 A/\nslave 4 A/", "line 2: prefix empty, reserved or used twice"},
        {"slave 3 Sim/", "line 1: prefix empty, reserved or used twice"},
        {"slave 127", "line 1: slave address out of range"},
        {"slave 3\nparam 1 u16 0", "line 2: param before the first axis"},
        {"slave 3\naxis 1\nparam 1 u17 0", "line 3: unknown type 'u17'"},
        {"slave 3\naxis 1\nparam 1 0x41 0", "line 3: unknown type '0x41'"},
        {"slave 3\naxis 1\nparam 1 u8 256", "line 3: value '256' does not fit the type"},
        {"slave 3\naxis 1\nparam 1 u8 [1 2", "line 3: missing ]"},
        {"slave 3\naxis 1\nparam 1 u8 1 colour red", "line 3: unknown option 'colour'"},
        {"slave 3\naxis 1\nparam 1 u8 1\nparam 1 u8 1",
         "line 4: parameter defined twice in the axis"},
        {"slave 3\naxis 1\naxis 1", "line 3: axis defined twice"},
        {"slave 3\naxis 1\ntext 1 \"x\"", "line 3: text before the first param"},
        {"slave 3\naxis 1\nparam 1 string \"abc\" length 2", "line 3: text longer than its length"},
        {"slave 3\naxis 1\nparam 1 string \"abc", "line 3: text without closing quote"},
        {"slave 3\naxis 1\nparam 1 string \"a\" vary 1 100", "line 3: only numbers can vary"},
        {"slave 3\naxis 1\nparam 1 octets 5", "line 3: expected [bytes] as value"},
        {"slave 3\naxis 1\nparam 1 u16 1 name \"seventeen chars!!\"",
         "line 3: name longer than 16 characters"},
        {"slave 3\nlatency fast", "line 2: bad latency 'fast'"},
        {"slave 3\naxis 1\nparam 1 u8 1e400", "line 3: bad value '1e400'"},
        {"slave 3\nlimits 240", "line 2: missing parameter count"},
        {"slave 3\nlatency 5 ms", "line 2: unexpected 'ms'"},
        {"slave 3\nbaud 12000", "line 2: unknown directive 'baud'"},
    };
    std::string longText =
        "slave 3\naxis 1\nparam 1 u8 1\ntext 1 \"" + std::string(256, 'x') + "\"";
    std::string longOctets = "slave 3\naxis 1\nparam 1 octets [";
    for (int i = 0; i < 256; ++i) longOctets += "0 ";
    longOctets += "]";
    const Bad kTooLong[] = {
        {longText.c_str(), "line 4: text longer than 255 characters"},
        {longOctets.c_str(), "line 3: octet string longer than 255 bytes"},
    };
    for (const Bad& bad : kTooLong) {
        Topology topology;
        std::string error;
        EXPECT_FALSE(ParseTopology(bad.text, &topology, &error));
        EXPECT_EQ(error, bad.error);
    }
    for (const Bad& bad : kBad) {
        Topology topology;
        std::string error;
        EXPECT_FALSE(ParseTopology(bad.text, &topology, &error)) << bad.text;
        EXPECT_EQ(error, bad.error) << bad.text;
    }
}

TEST(TopologyParser, ReadsEverything) {
    const char* text = R"(# comment
slave 12 "Line 2/Drive A/"   # prefix in quotes
vendor "Vendor \"Q\""
latency 7
profile-ident 0x3A00
axis 0
param 974 u16 [100 5 0]
axis 2
param 5 f32 -1.25 rw min -2 max 2.5 allowed [-1.25 0] factor 0.01 attr 4 -2 flags 0x01 reserved5 9 reserved9 8 idext 3 pzdref 4 pzdnorm 0x4000 descwrite
text 0 "Null"
text 65535 "Max"
param 6 octets [0 255] fault 22
param 7 52 [1 2 3 4 5 6]
param 8 u16 3 vary 2 500
)";
    Topology topology;
    std::string error;
    ASSERT_TRUE(ParseTopology(text, &topology, &error)) << error;
    ASSERT_EQ(topology.slaves.size(), 1u);
    const SlaveConfig& s = topology.slaves[0];
    EXPECT_EQ(s.address, 12u);
    EXPECT_EQ(s.prefix, "Line 2/Drive A/");
    EXPECT_EQ(s.vendor, "Vendor \"Q\"");
    EXPECT_EQ(s.latencyMs, 7u);
    EXPECT_EQ(s.profileIdent, 0x3A00);
    EXPECT_EQ(s.maxBlockLength, 100) << "block length from 974";
    EXPECT_EQ(s.maxParameters, 5) << "parameter count from 974";
    ASSERT_EQ(s.axes.size(), 2u);
    const ParameterConfig& p = s.axes[1].parameters[0];
    EXPECT_EQ(p.type, 8);
    EXPECT_TRUE(p.writable);
    EXPECT_TRUE(p.descriptionWritable);
    EXPECT_EQ(p.minimum.value_or(0), -2);
    EXPECT_EQ(p.maximum.value_or(0), 2.5);
    EXPECT_EQ(p.allowed, (std::vector<double>{-1.25, 0}));
    EXPECT_FLOAT_EQ(p.description.scalingFactor, 0.01f);
    EXPECT_EQ(p.description.sizeIndex, 4);
    EXPECT_EQ(p.description.conversionIndex, -2);
    EXPECT_EQ(p.description.extraFlags, 1);
    EXPECT_EQ(p.description.reserved5, 9u);
    EXPECT_EQ(p.description.reserved9, 8);
    EXPECT_EQ(p.description.idExtension, 3);
    EXPECT_EQ(p.description.pzdReference, 4);
    EXPECT_EQ(p.description.pzdNormalization, 0x4000);
    EXPECT_EQ(p.texts.at(65535), "Max");
    EXPECT_EQ(p.value, (std::vector<uint8_t>{0xBF, 0xA0, 0, 0}));
    EXPECT_EQ(s.axes[1].parameters[1].fault.value_or(0), 22);
    EXPECT_EQ(s.axes[1].parameters[1].stringLength, 2u);
    EXPECT_EQ(s.axes[1].parameters[2].value.size(), 6u) << "date type 52 as raw bytes";
    EXPECT_EQ(s.axes[1].parameters[3].variation->periodMs, 500u);
}

TEST(TopologyParser, ExplicitLimitsWinOver974) {
    Topology topology;
    std::string error;
    ASSERT_TRUE(ParseTopology("slave 1\nlimits 120 8\naxis 0\nparam 974 u16 [240 39 0]\n",
                              &topology, &error));
    EXPECT_EQ(topology.slaves[0].maxBlockLength, 120);
    EXPECT_EQ(topology.slaves[0].maxParameters, 8);
    ASSERT_TRUE(ParseTopology("slave 1\n", &topology, &error));
    EXPECT_EQ(topology.slaves[0].maxBlockLength, 240) << "no 974, no limits";
    EXPECT_EQ(topology.slaves[0].maxParameters, 39);
}

std::string ReadDefaultTopology() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path, length);
    file = file.substr(0, file.find_last_of(L"\\/") + 1) + L"default.topology";
    std::ifstream in(file.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<uint8_t> Ask(Drive* drive, std::vector<uint8_t> request) {
    return drive->Process(request, 0).response;
}

TEST(DefaultTopology, HasTheDrivesThatExerciseTheClient) {
    Topology topology;
    std::string error;
    std::string text = ReadDefaultTopology();
    ASSERT_FALSE(text.empty()) << "default.topology beside the test program";
    ASSERT_TRUE(ParseTopology(text, &topology, &error)) << error;
    ASSERT_EQ(topology.slaves.size(), 5u);
    EXPECT_EQ(topology.slaves[0].prefix, "DP/Slave3/");
    EXPECT_EQ(topology.slaves[1].prefix, "DP/Slave4/");
    EXPECT_EQ(topology.slaves[2].prefix, "DP/Slave5/");
    EXPECT_EQ(topology.slaves[3].prefix, "DP/Slave6/");
    EXPECT_EQ(topology.slaves[4].prefix, "DP/Slave7/");
    EXPECT_TRUE(topology.slaves[3].offline) << "slave 6 starts off the bus";
    EXPECT_EQ(topology.slaves[4].latencyMs, 200u) << "slave 7 is slow";

    // The identification read of every drive: 964.5, 974 (3), 978.0, 964 (5), 918.
    const std::vector<uint8_t> ident{1,    1,    0, 5, 0x10, 1, 0x03, 0xC4, 0, 5, 0x10, 3,
                                     0x03, 0xCE, 0, 0, 0x10, 1, 0x03, 0xD2, 0, 0, 0x10, 5,
                                     0x03, 0xC4, 0, 0, 0x10, 1, 0x03, 0x96, 0, 0};
    Drive single(topology.slaves[0]);
    EXPECT_EQ(Ask(&single, ident),
              (std::vector<uint8_t>{1, 1, 0, 5, 6, 1,  0, 1, 6, 3, 0,    240,  0, 39, 0, 10, 5, 1,
                                    1, 0, 6, 5, 0, 42, 1, 1, 2, 3, 0x07, 0xE9, 7, 3,  6, 1,  0, 3}))
        << "single-axis drive";

    Drive multi(topology.slaves[1]);
    std::vector<uint8_t> axes;
    for (uint8_t i = 0; i < 6; ++i) {
        std::vector<uint8_t> r = Ask(&multi, {1, 1, 0, 1, 0x10, 1, 0x03, 0xD2, 0, i});
        ASSERT_EQ(r.size(), 8u) << "978." << int(i);
        axes.push_back(r[6]);
    }
    EXPECT_EQ(axes, (std::vector<uint8_t>{1, 0, 2, 3, 0, 0})) << "axis list with a gap";
    EXPECT_EQ(Ask(&multi, {1, 1, 0, 1, 0x10, 1, 0x03, 0xC4, 0, 5}),
              (std::vector<uint8_t>{1, 1, 0, 1, 6, 1, 0, 3}))
        << "three axes";
    for (uint8_t axis : {1, 2, 3})
        EXPECT_EQ(Ask(&multi, {1, 1, axis, 1, 0x10, 1, 0x03, 0xE8, 0, 0})[1], 1)
            << "1000 on axis " << int(axis);

    Drive old(topology.slaves[2]);
    EXPECT_EQ(Ask(&old, ident),
              (std::vector<uint8_t>{1, 0x81, 0, 5,  6, 1, 0, 2, 0x44, 1,    0, 0, 0x44, 1, 0, 0,
                                    6, 5,    0, 42, 2, 1, 1, 0, 0x07, 0xD9, 1, 4, 0x44, 1, 0, 0}))
        << "drive without 918, 974 and 978";
    EXPECT_EQ(Ask(&old, {1, 1, 1, 1, 0x10, 1, 0x03, 0xF4, 0, 0}),
              (std::vector<uint8_t>{1, 0x81, 1, 1, 0x44, 1, 0, 0x14}))
        << "parameter 1012 always answers with an error";

    Drive slow(topology.slaves[4]);
    EXPECT_EQ(
        Ask(&slow, ident),
        (std::vector<uint8_t>{1, 1, 0, 5, 6, 1,  0, 2, 6, 3, 0,    240,  0, 39,   0, 20, 5, 1,
                              1, 0, 6, 5, 0, 42, 4, 1, 2, 0, 0x07, 0xE6, 9, 0x15, 6, 1,  0, 7}))
        << "slow two-axis drive";
    for (uint8_t axis : {1, 2})
        EXPECT_EQ(Ask(&slow, {1, 1, axis, 1, 0x10, 1, 0x03, 0xE8, 0, 0})[1], 1)
            << "1000 on axis " << int(axis);
}

TEST(TopologyParser, OfflineTakesYesOrNo) {
    Topology topology;
    std::string error;
    ASSERT_TRUE(ParseTopology("slave 3\noffline yes\nslave 4\noffline no", &topology, &error))
        << error;
    EXPECT_TRUE(topology.slaves[0].offline);
    EXPECT_FALSE(topology.slaves[1].offline);
    EXPECT_FALSE(ParseTopology("slave 3\n\noffline maybe", &topology, &error));
    EXPECT_EQ(error, "line 3: offline takes yes or no");
}

}  // namespace
}  // namespace bussim
