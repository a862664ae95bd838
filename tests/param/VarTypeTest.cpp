#include <gtest/gtest.h>

#include "VarTypes.h"

namespace {

TEST(VarTypeName, NamesBaseTypesAndMarkersInOrder) {
    const struct {
        VARTYPE vt;
        const char* name;
    } cases[] = {
        {VT_EMPTY, "VT_EMPTY"},
        {VT_I2, "VT_I2"},
        {VT_DECIMAL, "VT_DECIMAL"},
        {15, ""},
        {VT_I1, "VT_I1"},
        {20, ""},
        {21, ""},
        {VT_UINT, "VT_UINT"},
        {VT_ARRAY | VT_UI1, "VT_UI1 | VT_ARRAY"},
        {VT_BYREF | VT_I2, "VT_I2 | BYREF"},
        {VT_VECTOR | VT_ARRAY | VT_BYREF | VT_I4, "VT_I4 | VT_VECTOR | VT_ARRAY | BYREF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vk::VarTypeName(c.vt), c.name) << "VarTypeName(" << c.vt << ")";
}

TEST(IsValidDataType, AcceptsAutomationTypesAndRecords) {
    const VARTYPE valid[] = {VT_EMPTY,
                             VT_NULL,
                             VT_I2,
                             VT_BSTR,
                             VT_DISPATCH,
                             VT_DECIMAL,
                             VT_I1,
                             VT_UI4,
                             VT_INT,
                             VT_UINT,
                             VT_RECORD,
                             VT_ARRAY | VT_UI1,
                             VT_BYREF | VT_I2,
                             VT_ARRAY | VT_BYREF | VT_VARIANT};
    for (VARTYPE vt : valid)
        EXPECT_TRUE(vk::IsValidDataType(vt)) << "IsValidDataType(" << vt << ")";
}

TEST(IsValidDataType, RefusesWideIntegersVectorsAndGaps) {
    const VARTYPE invalid[] = {
        15, VT_I8, VT_UI8, 24, 35, 37, VT_VECTOR | VT_I2, VT_ARRAY | VT_I8, 0x0FFF};
    for (VARTYPE vt : invalid)
        EXPECT_FALSE(vk::IsValidDataType(vt)) << "IsValidDataType(" << vt << ")";
}

}  // namespace
