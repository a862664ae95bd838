// The description elements and texts of drive parameter items as item properties,
// read from and written to the simulated drives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ItemSupport.h"
#include "opcerror.h"

namespace orvane::interaction::test {
namespace {

class PropertyAccessTest : public ItemFixture {
protected:
    // A drive parameter item of slave 3, axis 1.
    com::ComPtr<VKModelParameter> Item(const wchar_t* leaf) {
        const auto item = MakeItem(std::wstring(kSlave3) + L"1/" + leaf, true);
        EXPECT_EQ(Hr{S_OK}, Hr{Init(item.get())}) << Narrow(leaf);
        return item;
    }
    HRESULT ReadProperty(VKModelParameter* item, const wchar_t* name, std::string* text) {
        com::UniqueVariant value;
        const HRESULT hr = core_->ReadItemProperty(item, com::UniqueBstr(name).get(), value.put());
        *text = Describe(*value);
        return hr;
    }
    LONG RequestBytes() { return sim_.SimNumber(L"Sim/Slave3/RequestBytes"); }
};

TEST_F(PropertyAccessTest, DescriptionElements) {
    MakeCore();
    Check();
    const auto speed = Item(L"pari1000d18");
    const struct {
        const wchar_t* name;
        const char* value;
    } cases[] = {
        {L"Axolent data type", "VT_UI1 6"},
        {L"Axolent identifier", "VT_UI1 0"},
        {L"Axolent minimum", "VT_UI2 0"},
        {L"Axolent maximum", "VT_UI2 3000"},
        {L"Axolent size index", "VT_UI1 2"},
        {L"Axolent conv index", "VT_I1 0"},
        {L"Axolent PZD reference para", "VT_UI2 1"},
        {L"Axolent PZD normalization", "VT_UI2 16384"},
    };
    for (const auto& c : cases) {
        std::string value;
        EXPECT_EQ(Hr{S_OK}, Hr{ReadProperty(speed.get(), c.name, &value)}) << Narrow(c.name);
        EXPECT_EQ(c.value, value) << Narrow(c.name);
    }
    for (const wchar_t* name : {L"Axolent name", L"AXOLENT NAME", L"axolent name"}) {
        std::string value;
        EXPECT_EQ(Hr{S_OK}, Hr{ReadProperty(speed.get(), name, &value)}) << Narrow(name);
        EXPECT_EQ(0u, value.find("VT_BSTR 'Speed setpoint")) << Narrow(name) << ": " << value;
    }
    std::string value;
    EXPECT_EQ(Hr{S_OK}, Hr{ReadProperty(speed.get(), L"Axolent description", &value)});
    EXPECT_EQ(0u, value.find("VT_ARRAY|VT_UI1 00 06")) << "the whole block: " << value;

    const LONG before = Requests(3);
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{ReadProperty(speed.get(), L"Axolent colour", &value)});
    com::UniqueVariant none;
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{core_->ReadItemProperty(speed.get(), nullptr, none.put())});
    EXPECT_EQ(before, Requests(3)) << "an unknown name sends nothing";
}

TEST_F(PropertyAccessTest, Texts) {
    MakeCore();
    Check();
    std::string value;
    EXPECT_EQ(Hr{S_OK}, Hr{ReadProperty(Item(L"pari1004d11").get(), L"Axolent text", &value)});
    EXPECT_EQ("VT_BSTR 'Gesperrt'", value) << "the text of the Boolean's value FALSE";
    EXPECT_EQ(Hr{S_OK}, Hr{ReadProperty(Item(L"pari1003s2d17").get(), L"Axolent text", &value)});
    EXPECT_EQ("VT_BSTR 'Drehmoment'", value) << "the text of the subindex";
}

TEST_F(PropertyAccessTest, Writes) {
    MakeCore();
    Check();
    const auto limit = Item(L"pari1008d18");
    VARIANT factor;
    VariantInit(&factor);
    V_VT(&factor) = VT_R4;
    V_R4(&factor) = 2.5f;
    const LONG bytes = RequestBytes();
    EXPECT_EQ(Hr{S_OK},
              Hr{core_->WriteItemProperty(
                  limit.get(), com::UniqueBstr(L"Axolent scaling factor").get(), factor)});
    EXPECT_EQ(16, RequestBytes() - bytes) << "header, address, format 8, 1, an IEEE single";
    std::string value;
    EXPECT_EQ(Hr{S_OK}, Hr{ReadProperty(limit.get(), L"Axolent scaling factor", &value)});
    EXPECT_EQ("VT_R4 2.5", value);

    const LONG before = Requests(3);
    EXPECT_EQ(Hr{OPC_E_BADRIGHTS},
              Hr{core_->WriteItemProperty(limit.get(), com::UniqueBstr(L"Axolent length").get(),
                                          *com::UniqueVariant(2))});
    EXPECT_EQ(before, Requests(3)) << "a refused element sends nothing";

    // A parameter that is no drive parameter item.
    com::ComPtr<VKModelParameter> plain;
    ASSERT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(model_.get(), L"plain", &plain)});
    EXPECT_EQ(Hr{E_INVALIDARG}, Hr{ReadProperty(plain.get(), L"Axolent name", &value)});
    EXPECT_EQ(Hr{E_INVALIDARG},
              Hr{core_->WriteItemProperty(plain.get(), com::UniqueBstr(L"Axolent name").get(),
                                          *Text(L"x"))});
}

TEST_F(PropertyAccessTest, InitPropertySetsTheType) {
    for (const DWORD test : {0u, 1u}) {
        SCOPED_TRACE("TestAtItemCreate " + std::to_string(test));
        MakeCore(test);
        Check();
        const auto speed = Item(L"pari1000d18");
        const struct {
            const wchar_t* name;
            VARTYPE vt;
        } cases[] = {{L"Axolent minimum", VT_UI2},
                     {L"Axolent scaling factor", VT_R4},
                     {L"Axolent name", VT_BSTR},
                     {L"Axolent conv index", VT_I1},
                     {L"Axolent description", VT_ARRAY | VT_UI1}};
        for (const auto& c : cases) {
            const LONG before = Requests(3);
            VARTYPE vt = VT_EMPTY;
            EXPECT_EQ(Hr{S_OK},
                      Hr{core_->InitItemProperty(speed.get(), com::UniqueBstr(c.name).get(), &vt)})
                << Narrow(c.name);
            EXPECT_EQ(c.vt, vt) << Narrow(c.name);
            EXPECT_EQ(test ? 1 : 0, Requests(3) - before) << Narrow(c.name) << ": requests";
        }
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(Hr{E_INVALIDARG},
                  Hr{core_->InitItemProperty(speed.get(), com::UniqueBstr(L"nothing").get(), &vt)});
    }
}

}  // namespace
}  // namespace orvane::interaction::test
