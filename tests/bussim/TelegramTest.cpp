// Telegram-level behaviour of a simulated drive: every request kind, every
// error number, the limits of the drive.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Drive.h"
#include "Topology.h"

namespace bussim {
namespace {

using Bytes = std::vector<uint8_t>;

const char kTestTopology[] = R"(
slave 7 T/
limits 60 4
axis 0
param 964 u16 [1 2 3 4 5 2]
axis 1
param 10 u16 100 rw min 10 max 200 name "Word"
param 11 u8 7 rw allowed [1 7 9]
param 12 i32 [1 2 3] rw
param 13 string "abc" rw length 8
param 14 bool true rw
param 15 f32 1.5 rw descwrite min 0 max 10 factor 0.5 attr 2 -3
text 3 "Drei"
param 16 u16 5 fault 0x14
param 17 u16 9
param 18 i8 -2 rw
axis 2
param 10 u16 222 rw
)";

std::string Hex(const Bytes& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, "%02x ", b);
        text += part;
    }
    return text;
}

class TelegramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(ParseTopology(kTestTopology, &topology_, &error)) << "ParseTopology: " << error;
        drive_ = std::make_unique<Drive>(topology_.slaves[0]);
        drive_->Reset(0);
    }

    Bytes Answer(const Bytes& request) {
        DriveOutcome outcome = drive_->Process(request, 0);
        EXPECT_EQ(outcome.kind, DriveOutcome::Kind::kResponse)
            << "Process(" << Hex(request) << ") refused";
        return outcome.response;
    }

    Topology topology_;
    std::unique_ptr<Drive> drive_;
};

struct Case {
    const char* what;
    Bytes request;
    Bytes response;
};

// Requests with reference 5 to axis 1 unless stated.
const Case kReadCases[] = {
    {"word value", {5, 1, 1, 1, 0x10, 1, 0, 10, 0, 0}, {5, 1, 1, 1, 6, 1, 0, 100}},
    {"byte value is padded", {5, 1, 1, 1, 0x10, 1, 0, 11, 0, 0}, {5, 1, 1, 1, 5, 1, 7, 0}},
    {"signed byte", {5, 1, 1, 1, 0x10, 1, 0, 18, 0, 0}, {5, 1, 1, 1, 2, 1, 0xFE, 0}},
    {"unindexed access with 0 elements",
     {5, 1, 1, 1, 0x10, 0, 0, 10, 0, 0},
     {5, 1, 1, 1, 6, 1, 0, 100}},
    {"two array elements from subindex 1",
     {5, 1, 1, 1, 0x10, 2, 0, 12, 0, 1},
     {5, 1, 1, 1, 4, 2, 0, 0, 0, 2, 0, 0, 0, 3}},
    {"string with pad byte",
     {5, 1, 1, 1, 0x10, 1, 0, 13, 0, 0},
     {5, 1, 1, 1, 9, 3, 'a', 'b', 'c', 0}},
    {"boolean", {5, 1, 1, 1, 0x10, 1, 0, 14, 0, 0}, {5, 1, 1, 1, 1, 1, 0xFF, 0}},
    {"float", {5, 1, 1, 1, 0x10, 1, 0, 15, 0, 0}, {5, 1, 1, 1, 8, 1, 0x3F, 0xC0, 0, 0}},
    {"global parameter through axis 1",
     {5, 1, 1, 1, 0x10, 1, 0x03, 0xC4, 0, 5},
     {5, 1, 1, 1, 6, 1, 0, 2}},
    {"global parameter through axis 0",
     {9, 1, 0, 1, 0x10, 3, 0x03, 0xC4, 0, 0},
     {9, 1, 0, 1, 6, 3, 0, 1, 0, 2, 0, 3}},
    {"axis 2 has its own table", {5, 1, 2, 1, 0x10, 1, 0, 10, 0, 0}, {5, 1, 2, 1, 6, 1, 0, 222}},
    {"error 0: unknown parameter",
     {5, 1, 1, 1, 0x10, 1, 0, 99, 0, 0},
     {5, 0x81, 1, 1, 0x44, 1, 0, 0}},
    {"error 0: parameter of another axis",
     {5, 1, 2, 1, 0x10, 1, 0, 11, 0, 0},
     {5, 0x81, 2, 1, 0x44, 1, 0, 0}},
    {"error 3: subindex past the array",
     {5, 1, 1, 1, 0x10, 1, 0, 12, 0, 3},
     {5, 0x81, 1, 1, 0x44, 1, 0, 3}},
    {"error 3: elements past the array",
     {5, 1, 1, 1, 0x10, 3, 0, 12, 0, 1},
     {5, 0x81, 1, 1, 0x44, 1, 0, 3}},
    {"error 4: subindex of a simple value",
     {5, 1, 1, 1, 0x10, 1, 0, 10, 0, 1},
     {5, 0x81, 1, 1, 0x44, 1, 0, 4}},
    {"error 4: several elements of a simple value",
     {5, 1, 1, 1, 0x10, 2, 0, 10, 0, 0},
     {5, 0x81, 1, 1, 0x44, 1, 0, 4}},
    {"configured fault", {5, 1, 1, 1, 0x10, 1, 0, 16, 0, 0}, {5, 0x81, 1, 1, 0x44, 1, 0, 0x14}},
    {"error 0x16: bad attribute",
     {5, 1, 1, 1, 0x40, 1, 0, 10, 0, 0},
     {5, 0x81, 1, 1, 0x44, 1, 0, 0x16}},
    {"error 0x16: parameter number 0",
     {5, 1, 1, 1, 0x10, 1, 0, 0, 0, 0},
     {5, 0x81, 1, 1, 0x44, 1, 0, 0x16}},
    {"error 0x16: too many elements",
     {5, 1, 1, 1, 0x10, 118, 0, 12, 0, 0},
     {5, 0x81, 1, 1, 0x44, 1, 0, 0x16}},
    {"error 0x16: bad request ID",
     {5, 3, 1, 1, 0x10, 1, 0, 10, 0, 0},
     {5, 0x83, 1, 1, 0x44, 1, 0, 0x16}},
    {"error 0x19: unknown axis, every parameter",
     {5, 1, 9, 2, 0x10, 1, 0, 10, 0, 0, 0x10, 1, 0, 11, 0, 0},
     {5, 0x81, 9, 2, 0x44, 1, 0, 0x19, 0x44, 1, 0, 0x19}},
    {"multi read with one error",
     {5, 1, 1, 2, 0x10, 1, 0, 10, 0, 0, 0x10, 1, 0, 99, 0, 0},
     {5, 0x81, 1, 2, 6, 1, 0, 100, 0x44, 1, 0, 0}},
    {"multi read, byte value padded inside",
     {5, 1, 1, 2, 0x10, 0, 0, 11, 0, 0, 0x10, 0, 0, 10, 0, 0},
     {5, 1, 1, 2, 5, 1, 7, 0, 6, 1, 0, 100}},
    // Descriptions.
    {"identifier of a writable word",
     {5, 1, 1, 1, 0x20, 1, 0, 10, 0, 1},
     {5, 1, 1, 1, 6, 1, 0x00, 0x06}},
    {"identifier of a read-only word",
     {5, 1, 1, 1, 0x20, 1, 0, 17, 0, 1},
     {5, 1, 1, 1, 6, 1, 0x02, 0x06}},
    {"identifier of an array", {5, 1, 1, 1, 0x20, 1, 0, 12, 0, 1}, {5, 1, 1, 1, 6, 1, 0x40, 0x04}},
    {"identifier of a float with texts",
     {5, 1, 1, 1, 0x20, 1, 0, 15, 0, 1},
     {5, 1, 1, 1, 6, 1, 0x04, 0x08}},
    {"number of elements", {5, 1, 1, 1, 0x20, 1, 0, 12, 0, 2}, {5, 1, 1, 1, 6, 1, 0, 3}},
    {"string length", {5, 1, 1, 1, 0x20, 1, 0, 13, 0, 2}, {5, 1, 1, 1, 6, 1, 0, 8}},
    {"scaling factor", {5, 1, 1, 1, 0x20, 1, 0, 15, 0, 3}, {5, 1, 1, 1, 8, 1, 0x3F, 0x00, 0, 0}},
    {"variable attribute", {5, 1, 1, 1, 0x20, 1, 0, 15, 0, 4}, {5, 1, 1, 1, 10, 2, 2, 0xFD}},
    {"name, 16 characters",
     {5, 1, 1, 1, 0x20, 1, 0, 10, 0, 6},
     {5,   1,   1,   1,   9,   16,  'W', 'o', 'r', 'd', ' ',
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}},
    {"lower limit in the parameter's type",
     {5, 1, 1, 1, 0x20, 1, 0, 10, 0, 7},
     {5, 1, 1, 1, 6, 1, 0, 10}},
    {"upper limit in the parameter's type",
     {5, 1, 1, 1, 0x20, 1, 0, 10, 0, 8},
     {5, 1, 1, 1, 6, 1, 0, 200}},
    {"upper limit of a byte is padded",
     {5, 1, 1, 1, 0x20, 1, 0, 18, 0, 8},
     {5, 1, 1, 1, 2, 1, 0x7F, 0}},
    {"error 3: description element 13",
     {5, 1, 1, 1, 0x20, 1, 0, 10, 0, 13},
     {5, 0x81, 1, 1, 0x44, 1, 0, 3}},
    {"error 0x16: several description elements",
     {5, 1, 1, 1, 0x20, 2, 0, 10, 0, 1},
     {5, 0x81, 1, 1, 0x44, 1, 0, 0x16}},
    // Texts.
    {"value text", {5, 1, 1, 1, 0x30, 1, 0, 15, 0, 3}, {5, 1, 1, 1, 9, 4, 'D', 'r', 'e', 'i'}},
    {"error 3: no text with that index",
     {5, 1, 1, 1, 0x30, 1, 0, 15, 0, 4},
     {5, 0x81, 1, 1, 0x44, 1, 0, 3}},
};

TEST_F(TelegramTest, ReadRequests) {
    for (const Case& c : kReadCases) EXPECT_EQ(Hex(Answer(c.request)), Hex(c.response)) << c.what;
}

TEST_F(TelegramTest, WholeDescriptionBlock) {
    Bytes response = Answer({5, 1, 1, 1, 0x20, 1, 0, 10, 0, 0});
    ASSERT_EQ(response.size(), 4u + 2 + 46) << "description block of 10: " << Hex(response);
    EXPECT_EQ(Hex(Bytes(response.begin(), response.begin() + 6)), Hex({5, 1, 1, 1, 10, 46}));
    Bytes block(response.begin() + 6, response.end());
    EXPECT_EQ(Hex(Bytes(block.begin(), block.begin() + 4)), Hex({0, 6, 0, 0}))
        << "identifier, elements";
    EXPECT_EQ(Hex(Bytes(block.begin() + 8, block.begin() + 10)), Hex({0, 0}))
        << "variable attribute";
    EXPECT_EQ(std::string(block.begin() + 14, block.begin() + 30), "Word            ") << "name";
    EXPECT_EQ(Hex(Bytes(block.begin() + 30, block.begin() + 38)), Hex({0, 0, 0, 10, 0, 0, 0, 200}))
        << "limits";
}

const Case kChangeCases[] = {
    {"single change: header only", {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0, 150}, {5, 2, 1, 1}},
    {"generic word format", {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 0x42, 1, 0, 150}, {5, 2, 1, 1}},
    {"byte value with its pad byte", {5, 2, 1, 1, 0x10, 1, 0, 11, 0, 0, 5, 1, 9, 0}, {5, 2, 1, 1}},
    {"signed byte -1", {5, 2, 1, 1, 0x10, 1, 0, 18, 0, 0, 2, 1, 0xFF, 0}, {5, 2, 1, 1}},
    {"odd string with pad byte",
     {5, 2, 1, 1, 0x10, 1, 0, 13, 0, 0, 9, 3, 'x', 'y', 'z', 0},
     {5, 2, 1, 1}},
    {"array elements",
     {5, 2, 1, 1, 0x10, 2, 0, 12, 0, 1, 4, 2, 0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xFF},
     {5, 2, 1, 1}},
    {"error 1: read-only",
     {5, 2, 1, 1, 0x10, 1, 0, 17, 0, 0, 6, 1, 0, 1},
     {5, 0x82, 1, 1, 0x44, 1, 0, 1}},
    {"error 2: below the minimum",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0, 9},
     {5, 0x82, 1, 1, 0x44, 1, 0, 2}},
    {"error 2: above the maximum",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0, 201},
     {5, 0x82, 1, 1, 0x44, 1, 0, 2}},
    {"error 3: subindex past the array",
     {5, 2, 1, 1, 0x10, 1, 0, 12, 0, 3, 4, 1, 0, 0, 0, 1},
     {5, 0x82, 1, 1, 0x44, 1, 0, 3}},
    {"error 4: subindex of a simple value",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 1, 6, 1, 0, 50},
     {5, 0x82, 1, 1, 0x44, 1, 0, 4}},
    {"error 5: double word for a word",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 7, 1, 0, 0, 0, 50},
     {5, 0x82, 1, 1, 0x44, 1, 0, 5}},
    {"error 5: signed for unsigned",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 3, 1, 0, 50},
     {5, 0x82, 1, 1, 0x44, 1, 0, 5}},
    {"error 0x14: not among the allowed values",
     {5, 2, 1, 1, 0x10, 1, 0, 11, 0, 0, 5, 1, 2, 0},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x14}},
    {"error 0x14: boolean neither 0 nor 0xFF",
     {5, 2, 1, 1, 0x10, 1, 0, 14, 0, 0, 1, 1, 1, 0},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x14}},
    {"error 0x17: unknown format",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 0x30, 1, 0, 50},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x17}},
    {"error 0x17: error block as value",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 0x44, 1, 0, 50},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x17}},
    {"error 0x18: fewer values than elements",
     {5, 2, 1, 1, 0x10, 2, 0, 12, 0, 0, 4, 1, 0, 0, 0, 1},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x18}},
    {"error 0x18: values missing from the telegram",
     {5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x18}},
    {"error 0x18: string longer than its length",
     {5, 2, 1, 1, 0x10, 1, 0, 13, 0, 0, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0},
     {5, 0x82, 1, 1, 0x44, 1, 0, 0x18}},
    {"error 0x19: unknown axis",
     {5, 2, 4, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0, 50},
     {5, 0x82, 4, 1, 0x44, 1, 0, 0x19}},
    {"multi change, all good: one no-data block each",
     {5, 2, 1, 2, 0x10, 1, 0, 10, 0, 0, 0x10, 1, 0, 11, 0, 0, 6, 1, 0, 20, 5, 1, 1, 0},
     {5, 2, 1, 2, 0x40, 0, 0x40, 0}},
    {"multi change, second refused",
     {5, 2, 1, 2, 0x10, 1, 0, 10, 0, 0, 0x10, 1, 0, 17, 0, 0, 6, 1, 0, 20, 6, 1, 0, 1},
     {5, 0x82, 1, 2, 0x40, 0, 0x44, 1, 0, 1}},
    // The bytes the interaction module sends for a date (7 value bytes) and a word: the
    // odd block keeps its pad byte, so the word is found after it.
    {"multi change, odd first block with its pad byte",
     {5, 2,  1, 2, 0x10, 1, 0, 11, 0, 0, 0x10, 1, 0, 10, 0,
      0, 50, 1, 1, 2,    3, 4, 5,  6, 7, 0,    6, 1, 0,  20},
     {5, 0x82, 1, 2, 0x44, 1, 0, 5, 0x40, 0}},
    {"multi change, unknown format stops the walk",
     {5, 2, 1, 2, 0x10, 1, 0, 10, 0, 0, 0x10, 1, 0, 11, 0, 0, 0x30, 1, 0, 20, 5, 1, 1, 0},
     {5, 0x82, 1, 2, 0x44, 1, 0, 0x17, 0x44, 1, 0, 0x17}},
    // Descriptions and texts change only where the drive allows it.
    {"scaling factor of a describable parameter",
     {5, 2, 1, 1, 0x20, 1, 0, 15, 0, 3, 8, 1, 0x40, 0, 0, 0},
     {5, 2, 1, 1}},
    {"error 1: description of an ordinary parameter",
     {5, 2, 1, 1, 0x20, 1, 0, 10, 0, 3, 8, 1, 0x40, 0, 0, 0},
     {5, 0x82, 1, 1, 0x44, 1, 0, 1}},
    {"error 1: identifier never changes",
     {5, 2, 1, 1, 0x20, 1, 0, 15, 0, 1, 6, 1, 0, 8},
     {5, 0x82, 1, 1, 0x44, 1, 0, 1}},
    {"error 5: text in the wrong format",
     {5, 2, 1, 1, 0x30, 1, 0, 15, 0, 9, 10, 2, 'o', 'k'},
     {5, 0x82, 1, 1, 0x44, 1, 0, 5}},
};

TEST_F(TelegramTest, ChangeRequests) {
    for (const Case& c : kChangeCases) {
        SetUp();  // each change starts from the configured drive
        EXPECT_EQ(Hex(Answer(c.request)), Hex(c.response)) << c.what;
    }
}

TEST_F(TelegramTest, ChangedValuesAreReadBack) {
    Answer({5, 2, 1, 1, 0x10, 1, 0, 11, 0, 0, 5, 1, 9, 0});
    EXPECT_EQ(Hex(Answer({6, 1, 1, 1, 0x10, 1, 0, 11, 0, 0})), Hex({6, 1, 1, 1, 5, 1, 9, 0}))
        << "u8 after change";
    Answer({5, 2, 1, 1, 0x10, 1, 0, 13, 0, 0, 9, 5, 'h', 'e', 'l', 'l', 'o', 0});
    EXPECT_EQ(Hex(Answer({6, 1, 1, 1, 0x10, 1, 0, 13, 0, 0})),
              Hex({6, 1, 1, 1, 9, 5, 'h', 'e', 'l', 'l', 'o', 0}))
        << "string after change";
    Answer({5, 2, 1, 1, 0x10, 1, 0, 12, 0, 2, 4, 1, 0, 0, 1, 0});
    EXPECT_EQ(Hex(Answer({6, 1, 1, 1, 0x10, 3, 0, 12, 0, 0})),
              Hex({6, 1, 1, 1, 4, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 1, 0}))
        << "array after change of element 2";
    Answer({5, 2, 1, 1, 0x30, 1, 0, 15, 0, 9, 9, 2, 'o', 'k'});
    EXPECT_EQ(Hex(Answer({6, 1, 1, 1, 0x30, 1, 0, 15, 0, 9})), Hex({6, 1, 1, 1, 9, 2, 'o', 'k'}))
        << "new text";
    EXPECT_EQ(Hex(Answer({5, 2, 1, 1, 0x20, 1, 0, 15, 0, 8, 8, 1, 0x41, 0xA0, 0, 0})),
              Hex({5, 2, 1, 1}))
        << "maximum raised from 10.0 to 20.0";
    EXPECT_EQ(Hex(Answer({5, 2, 1, 1, 0x10, 1, 0, 15, 0, 0, 8, 1, 0x41, 0x30, 0, 0})),
              Hex({5, 2, 1, 1}))
        << "11.0 within the raised maximum";
    EXPECT_EQ(Hex(Answer({5, 2, 1, 1, 0x10, 1, 0, 15, 0, 0, 8, 1, 0x41, 0xA8, 0, 0})),
              Hex({5, 0x82, 1, 1, 0x44, 1, 0, 2}))
        << "21.0 above the raised maximum";

    drive_->Reset(0);
    EXPECT_EQ(Hex(Answer({6, 1, 1, 1, 0x10, 1, 0, 11, 0, 0})), Hex({6, 1, 1, 1, 5, 1, 7, 0}))
        << "u8 after Reset";
}

TEST_F(TelegramTest, ResponseTooLong) {
    // Four whole description blocks need 4 + 4 x 48 bytes; the drive's block is 60.
    Bytes request{5, 1, 1, 4};
    for (uint8_t p : {10, 11, 12, 13}) request.insert(request.end(), {0x20, 1, 0, p, 0, 0});
    EXPECT_EQ(Hex(Answer(request)), Hex({5, 0x81, 1,    4, 0x44, 1,    0,    0x15, 0x44, 1,
                                         0, 0x15, 0x44, 1, 0,    0x15, 0x44, 1,    0,    0x15}));
}

TEST_F(TelegramTest, RequestsBeyondTheLimitsAreRefused) {
    struct Refusal {
        const char* what;
        Bytes request;
        DriveOutcome::Kind kind;
    };
    Bytes five{5, 1, 1, 5};
    for (int i = 0; i < 5; ++i) five.insert(five.end(), {0x10, 1, 0, 10, 0, 0});
    Bytes tooLong{5, 2, 1, 1, 0x10, 1, 0, 13, 0, 0, 9, 50};
    tooLong.resize(tooLong.size() + 50, 'x');
    const Refusal kRefusals[] = {
        {"more parameters than the drive's limit of 4", five,
         DriveOutcome::Kind::kRefusedParameterCount},
        {"no parameter", {5, 1, 1, 0}, DriveOutcome::Kind::kRefusedParameterCount},
        {"longer than the block length of 60", tooLong, DriveOutcome::Kind::kRefusedLength},
        {"shorter than a header", {5, 1, 1}, DriveOutcome::Kind::kRefusedLength},
        {"addresses cut short",
         {5, 1, 1, 2, 0x10, 1, 0, 10, 0, 0, 0x10},
         DriveOutcome::Kind::kRefusedLength},
    };
    for (const Refusal& r : kRefusals) {
        DriveOutcome outcome = drive_->Process(r.request, 0);
        EXPECT_EQ(static_cast<int>(outcome.kind), static_cast<int>(r.kind)) << r.what;
        EXPECT_TRUE(outcome.response.empty()) << r.what << ": " << Hex(outcome.response);
    }
}

TEST_F(TelegramTest, InjectedFaults) {
    drive_->SetFaults({{{1, 10}, 0x14}, {{kAnyAxis, 964}, 0x16}});
    EXPECT_EQ(Hex(Answer({5, 1, 1, 1, 0x10, 1, 0, 10, 0, 0})),
              Hex({5, 0x81, 1, 1, 0x44, 1, 0, 0x14}))
        << "fault on axis 1";
    EXPECT_EQ(Hex(Answer({5, 1, 2, 1, 0x10, 1, 0, 10, 0, 0})), Hex({5, 1, 2, 1, 6, 1, 0, 222}))
        << "same parameter on axis 2";
    EXPECT_EQ(Hex(Answer({5, 1, 0, 1, 0x10, 1, 0x03, 0xC4, 0, 0})),
              Hex({5, 0x81, 0, 1, 0x44, 1, 0, 0x16}))
        << "fault on every axis";
    EXPECT_EQ(Hex(Answer({5, 2, 1, 1, 0x10, 1, 0, 10, 0, 0, 6, 1, 0, 50})),
              Hex({5, 0x82, 1, 1, 0x44, 1, 0, 0x14}))
        << "changes fail too";
    drive_->Reset(0);
    EXPECT_EQ(Hex(Answer({5, 1, 1, 1, 0x10, 1, 0, 10, 0, 0})), Hex({5, 1, 1, 1, 6, 1, 0, 100}))
        << "after Reset";
}

TEST(MultiResponsePadding, CanBeSwitchedOffPerSlave) {
    Topology topology;
    std::string error;
    ASSERT_TRUE(
        ParseTopology("slave 1\npad-multi no\naxis 1\nparam 1 u8 7\nparam 2 string \"abc\"\n"
                      "param 3 u16 9\n",
                      &topology, &error))
        << error;
    Drive drive(topology.slaves[0]);
    Bytes multi{1, 1, 1, 3, 0x10, 0, 0, 1, 0, 0, 0x10, 0, 0, 2, 0, 0, 0x10, 0, 0, 3, 0, 0};
    EXPECT_EQ(Hex(drive.Process(multi, 0).response),
              Hex({1, 1, 1, 3, 5, 1, 7, 9, 3, 'a', 'b', 'c', 6, 1, 0, 9}))
        << "multi-parameter response without pad bytes";
    EXPECT_EQ(Hex(drive.Process({1, 1, 1, 1, 0x10, 0, 0, 1, 0, 0}, 0).response),
              Hex({1, 1, 1, 1, 5, 1, 7, 0}))
        << "a single response keeps its pad byte";
    EXPECT_FALSE(ParseTopology("slave 1\npad-multi maybe\n", &topology, &error));
    EXPECT_EQ(error, "line 2: pad-multi takes yes or no");
}

TEST(VaryingValues, MoveWithTimeWithinTheLimits) {
    Topology topology;
    std::string error;
    ASSERT_TRUE(ParseTopology("slave 1\naxis 1\nparam 20 i16 0 vary 5000 1000 min -3000 max 3000\n",
                              &topology, &error))
        << error;
    Drive drive(topology.slaves[0]);
    drive.Reset(0);
    auto valueAt = [&](uint64_t ms) {
        Bytes r = drive.Process({1, 1, 1, 1, 0x10, 1, 0, 20, 0, 0}, ms).response;
        return r.size() == 8 ? static_cast<int16_t>(r[6] << 8 | r[7]) : -1;
    };
    EXPECT_EQ(valueAt(0), 0) << "phase 0";
    EXPECT_EQ(valueAt(250), 3000) << "quarter period, clamped to the maximum";
    EXPECT_EQ(valueAt(750), -3000) << "three quarters, clamped to the minimum";
    EXPECT_EQ(valueAt(1000), 0) << "a whole period";
}

}  // namespace
}  // namespace bussim
