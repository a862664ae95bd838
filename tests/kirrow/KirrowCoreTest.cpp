// OPC_Kirrow's window-free part: its texts, and its session against the bus simulator.
#include <gtest/gtest.h>

#include "BusSimulator.h"
#include "HrCheck.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "core/InfoRows.h"
#include "core/Session.h"
#include "core/Texts.h"

namespace kirrow {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(KirrowTexts, StateTextsCoverEveryNumber) {
    const struct {
        DWORD state;
        const wchar_t* text;
    } cases[] = {
        {0, L"unknown state (0)"},
        {OPC_STATUS_RUNNING, L"OPC_STATUS_RUNNING"},
        {OPC_STATUS_FAILED, L"OPC_STATUS_FAILED"},
        {OPC_STATUS_NOCONFIG, L"OPC_STATUS_NOCONFIG"},
        {OPC_STATUS_SUSPENDED, L"OPC_STATUS_SUSPENDED"},
        {OPC_STATUS_TEST, L"OPC_STATUS_TEST"},
        {6, L"unknown state (6)"},  // OPC_STATUS_COMM_FAULT of DA 3.0
        {0xFFFFFFFF, L"unknown state (4294967295)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, StateText(c.state)) << "state " << c.state;
}

TEST(KirrowTexts, AccessRights) {
    EXPECT_EQ(L"none", AccessRightsText(0));
    EXPECT_EQ(L"OPC_READABLE", AccessRightsText(OPC_READABLE));
    EXPECT_EQ(L"OPC_WRITEABLE", AccessRightsText(OPC_WRITEABLE));
    EXPECT_EQ(L"OPC_READABLE | OPC_WRITEABLE", AccessRightsText(OPC_READABLE | OPC_WRITEABLE));
}

TEST(KirrowTexts, ReadValuesShowStringsWithoutQuotes) {
    EXPECT_EQ(L"Axolent", ReadValueText(*com::UniqueVariant(std::wstring_view(L"Axolent")).get()));
    com::UniqueVariant number;
    V_VT(number.get()) = VT_UI2;
    V_UI2(number.get()) = 1500;
    EXPECT_EQ(L"1500", ReadValueText(*number.get()));
    com::UniqueVariant bytes;
    V_VT(bytes.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(bytes.get()) = SafeArrayCreateVector(VT_UI1, 0, 4);
    const BYTE values[] = {7, 1, 1, 1};
    memcpy(V_ARRAY(bytes.get())->pvData, values, sizeof values);
    EXPECT_EQ(L"[7, 1, 1, 1]", ReadValueText(*bytes.get()));
    EXPECT_EQ(L"C004000C", HexText(OPC_E_DUPLICATENAME));
}

TEST(KirrowTexts, CommandLine) {
    const struct {
        const wchar_t* line;
        StartupAction action;
    } cases[] = {
        {L"", StartupAction::kRun},
        {nullptr, StartupAction::kRun},
        {L"/RegServer", StartupAction::kRegister},
        {L"-regserver", StartupAction::kRegister},
        {L"/UNREGSERVER", StartupAction::kUnregister},
        {L"-RegServer /UnregServer", StartupAction::kUnregister},
        {L"RegServer", StartupAction::kRun},
        {L"/RegServerX", StartupAction::kRun},
        {L"\t-RegServer\t", StartupAction::kRegister},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.action, ParseStartupAction(c.line)) << Narrow(c.line ? c.line : L"(null)");
}

class KirrowSession : public test_support::BusSimulatorTest {
protected:
    void SetUp() override {
        BusSimulatorTest::SetUp();
        ASSERT_HR(S_OK, session_.Connect(L"LocalServer", L"Orvane.BusSimulator", &messages_));
    }
    OPCHANDLE AddGroup(const wchar_t* name) {
        OPCHANDLE group = 0;
        EXPECT_HR(S_OK, session_.AddGroup(name, true, &group, &messages_));
        return group;
    }
    Session session_;
    Messages messages_;
};

TEST_F(KirrowSession, HandlesCountUpFromOneAndStayUniqueWhileTheyLive) {
    EXPECT_EQ(1u, AddGroup(L"A"));
    EXPECT_EQ(2u, AddGroup(L"B"));
    EXPECT_HR(S_OK, session_.RemoveGroup(1, &messages_));
    EXPECT_EQ(3u, AddGroup(L"C"));
    std::vector<OPCHANDLE> items;
    EXPECT_HR(S_OK, session_.AddItems(2, {L"DP/Slave3/DS_Vendorname", L"DP/Slave4/DS_Vendorname"},
                                      &items, &messages_));
    EXPECT_HR(S_OK, session_.AddItems(3, {L"DP/Slave5/DS_Vendorname"}, &items, &messages_));
    EXPECT_EQ((std::vector<OPCHANDLE>{1, 2, 3}), items);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(KirrowSession, RemovedGroupIsGoneFromTheServer) {
    const OPCHANDLE group = AddGroup(L"TestGroup");
    EXPECT_HR(S_OK, session_.RemoveGroup(group, &messages_));
    com::ComPtr<IUnknown> found;
    EXPECT_HR(E_INVALIDARG,
              session_.server()->GetGroupByName(L"TestGroup", IID_IUnknown, found.put()));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(KirrowSession, WriteConvertsToTheCanonicalTypeAndReadShowsIt) {
    const OPCHANDLE group = AddGroup(L"TestGroup");
    std::vector<OPCHANDLE> items;
    ASSERT_HR(S_OK,
              session_.AddItems(group, {L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber"},
                                &items, &messages_));
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ(VT_UI2, session_.Item(items[0])->canonicalType);
    EXPECT_HR(S_OK, session_.Write(items[0], L"14848", &messages_));
    EXPECT_HR(S_OK, session_.Read(items[0], &messages_));
    EXPECT_EQ(L"14848", ReadValueText(*session_.Item(items[0])->value.get()));
    EXPECT_EQ(0xC0, session_.Item(items[0])->quality & 0xC0);
    EXPECT_TRUE(messages_.empty());

    EXPECT_HR(DISP_E_TYPEMISMATCH, session_.Write(items[0], L"abc", &messages_));
    ASSERT_EQ(1u, messages_.size());
    EXPECT_EQ(
        L"Error writing Item DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber with "
        L"Result : 80020005 ",
        messages_[0].text);
}

TEST_F(KirrowSession, BadInputGivesTheMessagesAndChangesNothing) {
    const OPCHANDLE group = AddGroup(L"TestGroup");
    EXPECT_HR(OPC_E_DUPLICATENAME, session_.AddGroup(L"TestGroup", true, nullptr, &messages_));
    std::vector<OPCHANDLE> items;
    session_.AddItems(group, {L"no.such.item"}, &items, &messages_);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(0u, session_.Group(group)->items.size());
    EXPECT_HR(E_INVALIDARG, session_.AddItems(0, {L"x"}, &items, &messages_));
    session_.AddItems(group, {L"Ger\u00e4t/\u0394n"}, &items, &messages_);
    ASSERT_EQ(4u, messages_.size());
    EXPECT_EQ(L"IOPCServer::AddGroup() : TestGroup not created : C004000C", messages_[0].text);
    EXPECT_EQ(L"AddGroup", messages_[0].caption);
    EXPECT_EQ(L"Item no.such.item is _NOT_ added: c0040007", messages_[1].text);
    EXPECT_EQ(L"AddItem Failed", messages_[1].caption);
    EXPECT_EQ(L"OPCItemmgtAdditems() : No group selected.", messages_[2].text);
    EXPECT_EQ(L"Item Ger\u00e4t/\u0394n is _NOT_ added: c0040007", messages_[3].text)
        << "the name whole and in Unicode";
    EXPECT_EQ((std::vector<OPCHANDLE>{group}), session_.GroupHandles());
}

TEST_F(KirrowSession, UnknownOrEmptyProgIdLeavesNoConnection) {
    for (const wchar_t* progId : {L"", L"No.Such.Server"}) {
        Session other;
        Messages messages;
        EXPECT_HR(CO_E_CLASSSTRING, other.Connect(L"localserver", progId, &messages));
        EXPECT_FALSE(other.connected());
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ(L"Create Server failed : 800401F3", messages[0].text);
    }
}

TEST_F(KirrowSession, InfoRowsOfAnItem) {
    const OPCHANDLE group = AddGroup(L"TestGroup");
    std::vector<OPCHANDLE> items;
    ASSERT_HR(S_OK, session_.AddItems(group, {L"DP/Slave3/DS_Vendorname"}, &items, &messages_));
    const InfoRows rows = ItemRows(*session_.Item(items[0]));
    const InfoRows expected = {
        {L"ItemID", L"DP/Slave3/DS_Vendorname"},
        {L"Access path", L""},
        {L"Client handle", L"1"},
        {L"Server handle", rows[3].second},
        {L"Access rights", L"OPC_READABLE"},
        {L"Canonical data type", L"VT_BSTR"},
    };
    EXPECT_EQ(expected, rows);
}

}  // namespace
}  // namespace kirrow
