#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include "ValueRange.h"

namespace {

VARIANT I2(SHORT value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}
VARIANT UI4(ULONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_UI4;
    V_UI4(&v) = value;
    return v;
}
VARIANT R8(double value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    return v;
}
VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

TEST(IsOutOfRange, ComparesInclusiveBounds) {
    const struct {
        SHORT value;
        bool outside;
    } cases[] = {{-1, true}, {0, false}, {3, false}, {4, true}, {5, true}};
    for (const auto& c : cases)
        EXPECT_EQ(vk::IsOutOfRange(I2(c.value), I2(0), I2(3), VT_I2), c.outside)
            << "IsOutOfRange(" << c.value << ", 0, 3)";
}

TEST(IsOutOfRange, UnsetBoundSetsNoLimit) {
    EXPECT_FALSE(vk::IsOutOfRange(I2(-5), Empty(), Empty(), VT_I2)) << "both bounds unset";
    EXPECT_TRUE(vk::IsOutOfRange(I2(-5), I2(0), Empty(), VT_I2)) << "min 0, max unset, value -5";
    EXPECT_FALSE(vk::IsOutOfRange(I2(500), I2(0), Empty(), VT_I2)) << "min 0, max unset, value 500";
    EXPECT_TRUE(vk::IsOutOfRange(I2(500), Empty(), I2(3), VT_I2)) << "min unset, max 3, value 500";
    EXPECT_FALSE(vk::IsOutOfRange(I2(-500), Empty(), I2(3), VT_I2))
        << "min unset, max 3, value -500";
}

TEST(IsOutOfRange, UnsignedValuesAreNotReadAsSigned) {
    EXPECT_TRUE(vk::IsOutOfRange(UI4(0xFFFFFFFF), UI4(0), UI4(10), VT_UI4))
        << "0xFFFFFFFF in [0, 10]";
    EXPECT_FALSE(vk::IsOutOfRange(UI4(0x80000000), UI4(1), UI4(0xFFFFFFFF), VT_UI4))
        << "0x80000000 in [1, max]";
}

TEST(IsOutOfRange, BoundOfAnotherTypeIsConvertedNotReinterpreted) {
    // A minimum stored as VT_R8 must not be read as the raw bits of a VT_I2.
    EXPECT_TRUE(vk::IsOutOfRange(I2(1), R8(2.0), R8(3.0), VT_I2)) << "1 in [2.0, 3.0]";
    EXPECT_FALSE(vk::IsOutOfRange(I2(2), R8(2.0), R8(3.0), VT_I2)) << "2 in [2.0, 3.0]";
    EXPECT_FALSE(vk::IsOutOfRange(R8(2.5), R8(2.0), R8(3.0), VT_R8)) << "2.5 in [2.0, 3.0]";
    EXPECT_TRUE(vk::IsOutOfRange(R8(3.25), R8(2.0), R8(3.0), VT_R8)) << "3.25 in [2.0, 3.0]";
}

}  // namespace
