// The shape rules for arrays a client passes: what is accepted and what is refused untouched.
#include <windows.h>

#include <gtest/gtest.h>

#include "ClientArrays.h"
#include "HrCheck.h"
#include "com/Variant.h"
#include "opc.h"

namespace {

com::UniqueSafeArray LongArray(LONG lower, std::initializer_list<LONG> values) {
    SAFEARRAYBOUND bound = {static_cast<ULONG>(values.size()), lower};
    com::UniqueSafeArray array(::SafeArrayCreate(VT_I4, 1, &bound));
    LONG index = lower;
    for (LONG value : values) {
        ::SafeArrayPutElement(array.get(), &index, &value);
        ++index;
    }
    return array;
}

TEST(ClientArraysTest, ElementsFromOneAreRead) {
    struct Case {
        LONG lower;
        std::initializer_list<LONG> values;
        LONG count;
        std::vector<LONG> expected;
    };
    const Case kCases[] = {
        {1, {7, 8}, 2, {7, 8}},
        {0, {99, 7, 8}, 2, {7, 8}},  // element 0 ignored
        {1, {7, 8, 9}, 2, {7, 8}},   // more than count
        {-3, {0, 0, 0, 0, 5}, 1, {5}},
    };
    for (const Case& c : kCases) {
        auto array = LongArray(c.lower, c.values);
        std::vector<LONG> read;
        EXPECT_HR(S_OK, vkauto::ReadClientLongs(array.get(), c.count, &read));
        EXPECT_EQ(c.expected, read) << "lower bound " << c.lower;
    }
}

TEST(ClientArraysTest, MisshapenArraysAreRefusedUntouched) {
    struct Case {
        const char* what;
        LONG lower;
        std::initializer_list<LONG> values;
        LONG count;
    };
    const Case kCases[] = {
        {"count 0", 1, {7}, 0},
        {"lower bound 2", 2, {7, 8}, 1},
        {"too short", 1, {7}, 2},
        {"0-based too short", 0, {7, 8}, 2},
    };
    for (const Case& c : kCases) {
        auto array = LongArray(c.lower, c.values);
        std::vector<LONG> read = {42};
        EXPECT_HR(E_INVALIDARG, vkauto::ReadClientLongs(array.get(), c.count, &read)) << c.what;
        EXPECT_EQ(std::vector<LONG>{42}, read) << c.what;
    }
    std::vector<LONG> read;
    EXPECT_HR(E_INVALIDARG, vkauto::ReadClientLongs(nullptr, 1, &read));
    SAFEARRAYBOUND bounds[2] = {{2, 1}, {2, 1}};
    com::UniqueSafeArray twoD(::SafeArrayCreate(VT_I4, 2, bounds));
    EXPECT_HR(E_INVALIDARG, vkauto::ReadClientLongs(twoD.get(), 1, &read));
}

TEST(ClientArraysTest, VariantElementsAreConvertedOrRefused) {
    SAFEARRAYBOUND bound = {2, 1};
    com::UniqueSafeArray array(::SafeArrayCreate(VT_VARIANT, 1, &bound));
    com::UniqueVariant number(LONG{5});
    com::UniqueVariant text(std::wstring_view(L"12"));
    LONG index = 1;
    ::SafeArrayPutElement(array.get(), &index, number.get());
    index = 2;
    ::SafeArrayPutElement(array.get(), &index, text.get());
    std::vector<LONG> read;
    EXPECT_HR(S_OK, vkauto::ReadClientLongs(array.get(), 2, &read));
    EXPECT_EQ((std::vector<LONG>{5, 12}), read);
    com::UniqueVariant word(std::wstring_view(L"x"));
    ::SafeArrayPutElement(array.get(), &index, word.get());
    EXPECT_HR(E_INVALIDARG, vkauto::ReadClientLongs(array.get(), 2, &read));
}

}  // namespace

namespace {

// Texts and values from a script's array of VARIANTs, one of them by reference.
TEST(ClientArraysTest, TextsAndValuesFromVariantArrays) {
    SAFEARRAYBOUND bound = {2, 1};
    com::UniqueSafeArray array(::SafeArrayCreate(VT_VARIANT, 1, &bound));
    com::UniqueVariant text(std::wstring_view(L"DP/Slave3/DS_Vendorname"));
    com::UniqueVariant number(LONG{12});
    com::UniqueVariant reference;
    V_VT(reference.get()) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(reference.get()) = number.get();
    LONG index = 1;
    ::SafeArrayPutElement(array.get(), &index, text.get());
    index = 2;
    ::SafeArrayPutElement(array.get(), &index, reference.get());

    std::vector<std::wstring> texts;
    EXPECT_HR(S_OK, vkauto::ReadClientStrings(array.get(), 2, &texts));
    EXPECT_EQ((std::vector<std::wstring>{L"DP/Slave3/DS_Vendorname", L"12"}), texts);
    std::vector<com::UniqueVariant> values;
    EXPECT_HR(S_OK, vkauto::ReadClientVariants(array.get(), 2, VT_VARIANT, &values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ(VT_I4, values[1].vt()) << "the value behind the reference, copied";
    std::vector<LONG> longs = {42};
    EXPECT_HR(E_INVALIDARG, vkauto::ReadClientLongs(array.get(), 2, &longs));
    EXPECT_EQ(std::vector<LONG>{42}, longs) << "unchanged";
}

TEST(ClientArraysTest, OneBasedOutArrays) {
    SAFEARRAY* out = nullptr;
    ASSERT_HR(S_OK, vkauto::PutOneBasedLongs({5, OPC_E_INVALIDHANDLE}, &out));
    com::UniqueSafeArray owned(out);
    LONG lower = 0, value = 0, index = 2;
    ::SafeArrayGetLBound(out, 1, &lower);
    EXPECT_EQ(1, lower);
    ::SafeArrayGetElement(out, &index, &value);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, value);
}

}  // namespace
