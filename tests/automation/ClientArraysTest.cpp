// The shape rules for arrays a client passes: what is accepted and what is refused untouched.
#include <windows.h>

#include <gtest/gtest.h>

#include "ClientArrays.h"
#include "HrCheck.h"
#include "com/Variant.h"

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
