// The DA 1.0 data streams: the bytes the writer lays down, what the reader makes of them, and
// blocks that lie about their contents.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DataStream.h"
#include "com/SafeArray.h"

namespace {

using Bytes = std::vector<BYTE>;

template <class T>
T At(const Bytes& block, size_t offset) {
    T value;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

opc::StreamItem Item(OPCHANDLE client, const VARIANT& value) {
    opc::StreamItem item;
    item.client = client;
    item.quality = OPC_QUALITY_GOOD;
    item.time = {0x11223344, 0x01D00000};
    item.value.copy_from(value);
    return item;
}

opc::DataStream TextAndBytes() {
    opc::DataStream stream;
    stream.group = 7;
    stream.transactionId = 42;
    stream.items.push_back(Item(1, *com::UniqueVariant(std::wstring_view(L"Ab"))));
    const BYTE raw[] = {1, 2, 3};
    com::UniqueVariant bytes;
    com::BytesToVariant(raw, sizeof raw, bytes.get());
    stream.items.push_back(Item(2, *bytes));
    return stream;
}

TEST(DataStream, WriterLaysDownHeadersTextAndArray) {
    Bytes block;
    ASSERT_EQ(S_OK, opc::WriteDataStream(TextAndBytes(), &block));
    const auto group = At<OPCGROUPHEADER>(block, 0);
    EXPECT_EQ(block.size(), group.dwSize);
    EXPECT_EQ(2u, group.dwItemCount);
    EXPECT_EQ(7u, group.hClientGroup);
    EXPECT_EQ(42u, group.dwTransactionID);
    const auto text = At<OPCITEMHEADER1>(block, sizeof(OPCGROUPHEADER));
    const auto array = At<OPCITEMHEADER1>(block, sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1));
    EXPECT_EQ(1u, text.hClient);
    EXPECT_EQ(OPC_QUALITY_GOOD, text.wQuality);
    EXPECT_EQ(0x11223344u, text.ftTimeStampItem.dwLowDateTime);
    // The text: its VARIANT, the byte count, the characters and a null character.
    EXPECT_EQ(VT_BSTR, At<VARTYPE>(block, text.dwValueOffset));
    const size_t length = text.dwValueOffset + sizeof(VARIANT);
    EXPECT_EQ(4u, At<DWORD>(block, length));
    EXPECT_EQ(L'A', At<wchar_t>(block, length + 4));
    EXPECT_EQ(L'b', At<wchar_t>(block, length + 6));
    EXPECT_EQ(L'\0', At<wchar_t>(block, length + 8));
    // The array: its VARIANT, the descriptor and the elements.
    EXPECT_EQ(VT_ARRAY | VT_UI1, At<VARTYPE>(block, array.dwValueOffset));
    const auto descriptor = At<SAFEARRAY>(block, array.dwValueOffset + sizeof(VARIANT));
    EXPECT_EQ(1, descriptor.cDims);
    EXPECT_EQ(1u, descriptor.cbElements);
    EXPECT_EQ(3u, descriptor.rgsabound[0].cElements);
    const size_t elements = array.dwValueOffset + sizeof(VARIANT) + sizeof(SAFEARRAY);
    EXPECT_EQ(Bytes({1, 2, 3}), Bytes(block.begin() + elements, block.begin() + elements + 3));
    EXPECT_EQ(elements + 3, block.size());
}

TEST(DataStream, EveryItemTypeOfTheSimulatorRoundTrips) {
    opc::DataStream stream;
    com::UniqueVariant ui2, ui4, flag;
    V_VT(ui2.get()) = VT_UI2;
    V_UI2(ui2.get()) = 0x3A00;
    V_VT(ui4.get()) = VT_UI4;
    V_UI4(ui4.get()) = 4000000000u;
    V_VT(flag.get()) = VT_BOOL;
    V_BOOL(flag.get()) = VARIANT_TRUE;
    for (const VARIANT* v : {ui2.get(), ui4.get(), flag.get()}) stream.items.push_back(Item(3, *v));
    for (auto& item : TextAndBytes().items) stream.items.push_back(std::move(item));
    Bytes block;
    ASSERT_EQ(S_OK, opc::WriteDataStream(stream, &block));
    opc::DataStream read;
    ASSERT_EQ(S_OK, opc::ReadDataStream(block.data(), block.size(), &read));
    ASSERT_EQ(stream.items.size(), read.items.size());
    for (size_t i = 0; i < read.items.size(); ++i)
        EXPECT_EQ(stream.items[i].value.vt(), read.items[i].value.vt()) << i;
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(read.items[2].value.get()));
    EXPECT_EQ(0x3A00, V_UI2(read.items[0].value.get()));
    EXPECT_EQ(4000000000u, V_UI4(read.items[1].value.get()));
    EXPECT_STREQ(L"Ab", V_BSTR(read.items[3].value.get()));
    Bytes bytes;
    ASSERT_EQ(S_OK, com::VariantToBytes(*read.items[4].value, &bytes));
    EXPECT_EQ(Bytes({1, 2, 3}), bytes);
}

// A block cut anywhere never yields a value that was not wholly inside it.
TEST(DataStream, TruncatedBlocksDeliverWhatIsWhole) {
    Bytes block;
    ASSERT_EQ(S_OK, opc::WriteDataStream(TextAndBytes(), &block));
    for (size_t size = 0; size <= block.size(); ++size) {
        Bytes cut(block.begin(), block.begin() + size);
        opc::DataStream read;
        const HRESULT hr = opc::ReadDataStream(cut.data(), cut.size(), &read);
        if (size < sizeof(OPCGROUPHEADER)) {
            EXPECT_EQ(E_INVALIDARG, hr) << size;
            continue;
        }
        ASSERT_EQ(S_OK, hr) << size;
        if (size == block.size()) EXPECT_EQ(2u, read.items.size());
        EXPECT_GE(2u, read.items.size()) << size;
        for (const auto& item : read.items) {
            if (item.value.vt() == VT_BSTR) EXPECT_STREQ(L"Ab", V_BSTR(item.value.get()));
        }
    }
}

TEST(DataStream, BadOffsetsAndLengthsSkipOnlyTheirEntry) {
    Bytes good;
    ASSERT_EQ(S_OK, opc::WriteDataStream(TextAndBytes(), &good));
    const size_t firstItem = sizeof(OPCGROUPHEADER);
    const size_t textLength = At<OPCITEMHEADER1>(good, firstItem).dwValueOffset + sizeof(VARIANT);
    struct Case {
        const char* what;
        size_t offset;
        DWORD value;
    };
    const Case cases[] = {
        {"value offset past the end", firstItem + 4, 0xFFFFFF00u},
        {"text longer than the block", textLength, 0x7FFFFFF0u},
        {"odd text length", textLength, 3},
        {"value offset into the item headers", firstItem + 4, 8},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        std::memcpy(bad.data() + c.offset, &c.value, sizeof c.value);
        opc::DataStream read;
        ASSERT_EQ(S_OK, opc::ReadDataStream(bad.data(), bad.size(), &read)) << c.what;
        ASSERT_EQ(1u, read.items.size()) << c.what;
        EXPECT_EQ(2u, read.items[0].client) << c.what;
    }
    // An item count far beyond the block: every offset then points into the claimed headers.
    Bytes many = good;
    const DWORD huge = 0x10000000;
    std::memcpy(many.data() + 4, &huge, sizeof huge);
    opc::DataStream read;
    ASSERT_EQ(S_OK, opc::ReadDataStream(many.data(), many.size(), &read));
    EXPECT_EQ(0u, read.items.size());
}

TEST(DataStream, WriteCompleteBlocks) {
    opc::WriteCompleteStream stream;
    stream.group = 9;
    stream.transactionId = 5;
    stream.items = {{1, S_OK}, {2, OPC_E_BADRIGHTS}};
    Bytes block;
    ASSERT_EQ(S_OK, opc::WriteWriteCompleteStream(stream, &block));
    EXPECT_EQ(sizeof(OPCGROUPHEADERWRITE) + 2 * sizeof(OPCITEMHEADERWRITE), block.size());
    EXPECT_EQ(2u, At<DWORD>(block, 0));
    opc::WriteCompleteStream read;
    ASSERT_EQ(S_OK, opc::ReadWriteCompleteStream(block.data(), block.size() - 1, &read));
    ASSERT_EQ(1u, read.items.size()) << "the cut entry is left out";
    EXPECT_EQ(5u, read.transactionId);
    EXPECT_EQ(E_INVALIDARG, opc::ReadWriteCompleteStream(block.data(), 3, &read));
}

TEST(DataStream, ValuesAStreamCannotCarry) {
    opc::DataStream stream;
    com::UniqueVariant unknown;
    V_VT(unknown.get()) = VT_UNKNOWN;
    stream.items.push_back(Item(1, *unknown));
    Bytes block;
    EXPECT_EQ(DISP_E_BADVARTYPE, opc::WriteDataStream(stream, &block));
}

}  // namespace
