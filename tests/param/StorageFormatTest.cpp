// The stream formats and storage names, byte for byte, without storages.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "HrCheck.h"
#include "StorageFormat.h"
#include "StorageNames.h"
#include "com/Variant.h"

namespace {

using vk::storage::ByteReader;
using vk::storage::Bytes;

Bytes Encode(const VARIANT& v, HRESULT expected = S_OK) {
    Bytes bytes;
    EXPECT_HR(expected, vk::storage::AppendVariant(&bytes, v)) << "vt " << V_VT(&v);
    return bytes;
}

HRESULT Decode(const Bytes& bytes, com::UniqueVariant* out) {
    ByteReader reader(bytes);
    return vk::storage::ReadVariant(&reader, out->get());
}

com::UniqueVariant Scalar(VARTYPE vt, ULONGLONG bits) {
    com::UniqueVariant v;
    ZeroMemory(v.get(), sizeof(VARIANT));
    V_VT(v.get()) = vt;
    V_UI8(v.get()) = bits;
    return v;
}

com::UniqueVariant Array(VARTYPE base, std::vector<SAFEARRAYBOUND> bounds) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_ARRAY | base;
    V_ARRAY(v.get()) = SafeArrayCreate(base, static_cast<UINT>(bounds.size()), bounds.data());
    return v;
}

template <class T>
T* Data(const com::UniqueVariant& array) {
    return static_cast<T*>(V_ARRAY(array.get())->pvData);
}

TEST(StorageFormatTest, VariantsByteForByte) {
    com::UniqueVariant bytes = Array(VT_UI1, {{2, 0}});
    Data<BYTE>(bytes)[0] = 1;
    Data<BYTE>(bytes)[1] = 2;
    EXPECT_EQ(Encode(*Scalar(VT_I2, 7)), (Bytes{0x02, 0x00, 0x07, 0x00}));
    EXPECT_EQ(Encode(*com::UniqueVariant()), (Bytes{0x00, 0x00}));
    EXPECT_EQ(Encode(*com::UniqueVariant(std::wstring_view(L"x"))),
              (Bytes{0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Encode(*bytes), (Bytes{0x11, 0x20, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 2}));
    Bytes name;
    vk::storage::AppendString(&name, L"AB");
    EXPECT_EQ(name, (Bytes{0x03, 0, 0, 0, 0x41, 0, 0x42, 0, 0, 0}));
}

TEST(StorageFormatTest, EveryListedTypeRoundTrips) {
    std::vector<com::UniqueVariant> values;
    for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_I1, VT_UI1, VT_I2, VT_BOOL, VT_UI2, VT_I4, VT_R4,
                       VT_ERROR, VT_UI4, VT_INT, VT_UINT, VT_R8, VT_CY, VT_DATE})
        values.push_back(Scalar(vt, 0x0123456789ABCDEFull));
    values.push_back(com::UniqueVariant());
    VarDecFromR8(-12.375, &V_DECIMAL(values.back().get()));
    V_VT(values.back().get()) = VT_DECIMAL;
    // 3 x 2 with lower bounds -1 and 5; BSTR elements; VARIANT elements with an array inside.
    values.push_back(Array(VT_I4, {{3, -1}, {2, 5}}));
    for (LONG i = 0; i < 6; ++i) Data<LONG>(values.back())[i] = 10 * i;
    values.push_back(Array(VT_BSTR, {{2, 1}}));
    Data<BSTR>(values.back())[0] = SysAllocString(L"ab");
    values.push_back(Array(VT_VARIANT, {{3, 0}}));
    V_VT(&Data<VARIANT>(values.back())[0]) = VT_R8;
    values[values.size() - 2].copy_to(&Data<VARIANT>(values.back())[2]);

    for (const com::UniqueVariant& value : values) {
        const Bytes bytes = Encode(*value);
        com::UniqueVariant back;
        ASSERT_HR(S_OK, Decode(bytes, &back)) << "vt " << value.vt();
        EXPECT_EQ(back.vt(), value.vt());
        EXPECT_EQ(Encode(*back), bytes) << "vt " << value.vt();
    }
    com::UniqueVariant grid;
    ASSERT_HR(S_OK, Decode(Encode(*values[17]), &grid));
    LONG index[2] = {1, 6}, element = 0;
    ASSERT_HR(S_OK, SafeArrayGetElement(V_ARRAY(grid.get()), index, &element));
    EXPECT_EQ(element, 50) << "element (1, 6): the first dimension varies fastest";
}

TEST(StorageFormatTest, WhatTheFormatCannotHoldIsNotSaved) {
    LONG number = 1;
    com::UniqueVariant byref;
    V_VT(byref.get()) = VT_BYREF | VT_I4;
    V_I4REF(byref.get()) = &number;
    Encode(*byref, STG_E_CANTSAVE);
    for (VARTYPE vt : {VT_UNKNOWN, VT_DISPATCH, VT_I8, VT_UI8, VT_RECORD})
        Encode(*Scalar(vt, 0), STG_E_CANTSAVE);
    Encode(*Array(VT_I8, {{1, 0}}), STG_E_CANTSAVE);
    com::UniqueVariant nested = Scalar(VT_I2, 1);
    for (int level = 0; level <= vk::storage::kMaxVariantDepth; ++level) {
        com::UniqueVariant outer = Array(VT_VARIANT, {{1, 0}});
        nested.move_to(Data<VARIANT>(outer));
        nested = std::move(outer);
    }
    Encode(*nested, STG_E_CANTSAVE);
}

TEST(StorageFormatTest, DamagedDataIsCorruptAndChangesNothing) {
    Bytes deep;
    for (int level = 0; level <= vk::storage::kMaxVariantDepth + 1; ++level)
        deep.insert(deep.end(), {0x0C, 0x40});  // VT_VARIANT|VT_BYREF
    deep.insert(deep.end(), {0x02, 0x00, 0x01, 0x00});
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"no VARTYPE", {0x02}},
        {"short VT_I4", {0x03, 0x00, 0x01, 0x02}},
        {"VT_I8", {0x14, 0x00, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"VT_RECORD", {0x24, 0x00, 0, 0, 0, 0}},
        {"VT_BYREF|VT_I4", {0x03, 0x40, 0, 0, 0, 0}},
        {"BSTR longer than the stream", {0x08, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x41, 0x00}},
        {"2^31 dimensions", {0x11, 0x20, 0, 0, 0, 0x80}},
        {"2^31 elements", {0x11, 0x20, 1, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}},
        {"upper bound below lower - 1", {0x11, 0x20, 1, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0}},
        {"elements missing", {0x11, 0x20, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 7}},
        {"array of VT_EMPTY", {0x00, 0x20, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"nesting too deep", deep},
    };
    for (const auto& c : cases) {
        com::UniqueVariant out = Scalar(VT_I2, 3);
        EXPECT_HR(STG_E_DOCFILECORRUPT, Decode(c.bytes, &out)) << c.what;
        EXPECT_EQ(out.vt(), VT_I2) << c.what << ": the destination stays";
    }

    Bytes list;
    vk::storage::AppendNameList(&list, {L"a", L"bc"});
    std::vector<std::wstring> names;
    for (size_t cut : {list.size() - 1, list.size() - 7, size_t{2}}) {
        ByteReader shorter(list.data(), cut);
        EXPECT_HR(STG_E_DOCFILECORRUPT, vk::storage::ReadNameList(&shorter, &names))
            << "a list cut inside an entry at " << cut;
    }
    GUID guid = {1};
    const Bytes empty_text = {0, 0, 0, 0};
    ByteReader reader(empty_text);
    EXPECT_HR(S_OK, vk::storage::ReadGuidText(&reader, &guid));
    EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL)) << "a GUID text of count 0 is GUID_NULL";
}

TEST(StorageFormatTest, StorageNames) {
    const std::wstring forty(40, L'x');
    const std::wstring numbered = std::wstring(26, L'x') + L"@0001";
    EXPECT_EQ(vk::storage::CreatingNumber({L"__Name", L"short@0001"}), 1u);
    EXPECT_EQ(vk::storage::CreatingNumber({L"__Name", numbered}), 2u);
    EXPECT_EQ(vk::storage::StorageName(forty, 1), numbered);
    EXPECT_TRUE(vk::storage::IsLongName(numbered)) << "31 units ending in @0001";
    EXPECT_FALSE(vk::storage::IsLongName(std::wstring(31, L'x')));
    EXPECT_EQ(vk::storage::StorageName(L"DS_MSAC2_Parameter/MA_ProfileIdentNumber", 1),
              L"DS_MSAC2_Parameter_MA_Prof@0001");
    EXPECT_EQ(vk::storage::StorageName(L"a\\b:c!d", 0), L"a_b_c_d");
    const std::vector<std::wstring> objects = {forty, L"dev"};
    const std::vector<std::wstring> parameters = {L"p", forty + L"1", L"", forty + L"2"};
    EXPECT_EQ(vk::storage::OpeningNumber(objects, parameters, forty, true), 1u);
    EXPECT_EQ(vk::storage::OpeningNumber(objects, parameters, forty + L"2", false), 3u);
}

}  // namespace
