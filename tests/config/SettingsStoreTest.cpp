// The settings store against a scratch root that stands for HKEY_LOCAL_MACHINE.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <tuple>

#include "ConfigTestSupport.h"
#include "com/ComInit.h"
#include "core/DialogRules.h"
#include "core/SettingsStore.h"
#include "resource.h"

namespace ovconfig::test {
namespace {

using Strings = std::vector<std::string>;

constexpr wchar_t kSettings[] = L"Software\\Axolent\\Orvane";
constexpr wchar_t kServers[] = L"Software\\Axolent\\Orvane\\BusServers";
constexpr wchar_t kInfo[] = L"Software\\Axolent\\Orvane\\BusServerInfo";
constexpr wchar_t kSim[] = L"Orvane.BusSimulator";
constexpr wchar_t kGone[] = L"Vendor.Uninstalled.1";

std::string SimClsid() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kSim, &clsid))) return "(simulator not registered)";
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return Narrow(text);
}

class SettingsStoreTest : public ::testing::Test {
protected:
    SettingsStoreTest() : scratch_(L"ConfigStore") {}

    // A configuration as an administrator leaves it: simulator chosen, two records.
    void Configure() {
        scratch_.SetText(kSettings, L"Version", L"2.1");
        scratch_.SetNumber(kSettings, L"TestAtItemCreate", 1);
        scratch_.SetText(kServers, L"BusServerProgID1", kSim);
        scratch_.SetText(std::wstring(kInfo) + L"\\" + kSim, L"DevSpecific", L"DP/Slave%d/");
        scratch_.SetText(std::wstring(kInfo) + L"\\" + kGone, L"ParSpecific", L"Chan");
        scratch_.SetText(std::wstring(kInfo) + L"\\" + kGone, L"CLSID",
                         L"{00000000-0000-0000-0000-000000000001}");
    }
    std::vector<UINT> Save(const std::wstring& progId, std::optional<DWORD> test,
                           std::optional<DWORD> serial = std::nullopt) {
        SettingsStore store(scratch_.get());
        SaveRequest request;
        request.busServerProgId = progId;
        request.records = store.Read().records;
        request.testAtItemCreate = test;
        request.serialBusAccess = serial;
        return store.Save(request);
    }

    com::ComInitializer com_{COINIT_APARTMENTTHREADED};
    ScratchKey scratch_;
};

TEST_F(SettingsStoreTest, ReadsWhatTheDialogShows) {
    Configure();
    const StoredSettings stored = SettingsStore(scratch_.get()).Read();
    EXPECT_EQ(L"2.1", stored.version);
    EXPECT_EQ(1u, stored.testAtItemCreate);
    EXPECT_EQ(kSim, stored.busServerProgId);
    ASSERT_EQ(2u, stored.records.all().size());
    EXPECT_EQ(L"DP/Slave%d/", stored.records.Find(kSim)->devSpecific);
    EXPECT_EQ(L"Chan", stored.records.Find(kGone)->parSpecific);
    EXPECT_EQ(nullptr, stored.records.Find(L"orvane.bussimulator")) << "ProgIDs compare exactly";
}

TEST_F(SettingsStoreTest, MissingKeysAndUnusableVersionsLeaveDefaults) {
    StoredSettings stored = SettingsStore(scratch_.get()).Read();
    EXPECT_EQ(L"", stored.version);
    EXPECT_EQ(0u, stored.testAtItemCreate);
    EXPECT_EQ(L"", stored.busServerProgId);
    EXPECT_EQ(0u, SettingsStore(scratch_.get()).ReadHideAdvancedControls());

    scratch_.SetText(kSettings, L"Version", std::wstring(128, L'9'));  // 258 bytes with the 0
    EXPECT_EQ(L"", SettingsStore(scratch_.get()).Read().version) << "longer than 256 bytes";
    scratch_.SetText(kSettings, L"Version", std::wstring(127, L'9'));
    EXPECT_EQ(127u, SettingsStore(scratch_.get()).Read().version.size()) << "256 bytes fit";
    scratch_.SetNumber(kSettings, L"Version", 21);
    EXPECT_EQ(L"", SettingsStore(scratch_.get()).Read().version) << "a number is not text";
}

TEST_F(SettingsStoreTest, OkWritesExactlyTheKeysTheServerReads) {
    Configure();
    EXPECT_EQ(std::vector<UINT>{}, Save(kSim, 3));
    EXPECT_EQ((Strings{"k:BusServerInfo", "k:BusServers", "v:TestAtItemCreate", "v:Version"}),
              scratch_.Contents(kSettings));
    EXPECT_EQ("REG_DWORD 3", scratch_.Describe(kSettings, L"TestAtItemCreate"));
    EXPECT_EQ((Strings{"v:BusServerProgID1"}), scratch_.Contents(kServers));
    EXPECT_EQ("REG_SZ Orvane.BusSimulator", scratch_.Describe(kServers, L"BusServerProgID1"));
    const std::wstring sim = std::wstring(kInfo) + L"\\" + kSim;
    EXPECT_EQ((Strings{"v:CLSID", "v:DevSpecific"}), scratch_.Contents(sim));
    EXPECT_EQ("REG_SZ " + SimClsid(), scratch_.Describe(sim, L"CLSID"));
    EXPECT_EQ("REG_SZ DP/Slave%d/", scratch_.Describe(sim, L"DevSpecific"));
    // A server that is no longer installed keeps its texts and loses its class.
    const std::wstring gone = std::wstring(kInfo) + L"\\" + kGone;
    EXPECT_EQ((Strings{"v:ParSpecific"}), scratch_.Contents(gone));
}

TEST_F(SettingsStoreTest, UnresolvableProgIdKeepsBusServers) {
    Configure();
    EXPECT_EQ(std::vector<UINT>{IDS_ERROR_SAVING}, Save(kGone, 0));
    EXPECT_EQ("REG_SZ Orvane.BusSimulator", scratch_.Describe(kServers, L"BusServerProgID1"));
    EXPECT_EQ("REG_DWORD 0", scratch_.Describe(kSettings, L"TestAtItemCreate"))
        << "the rest is still written";
    EXPECT_EQ("REG_SZ Chan",
              scratch_.Describe(std::wstring(kInfo) + L"\\" + kGone, L"ParSpecific"));
    EXPECT_EQ(std::vector<UINT>{IDS_ERROR_SAVING}, Save(L"", 0)) << "no server chosen";
    EXPECT_EQ("REG_SZ Orvane.BusSimulator", scratch_.Describe(kServers, L"BusServerProgID1"));
}

TEST_F(SettingsStoreTest, TestAtItemCreateAndTheCombo) {
    struct Case {
        DWORD stored;
        int entry;
    } cases[] = {{0, 0}, {1, 1}, {3, 2}, {2, -1}, {7, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.entry, ComboIndexForTestValue(c.stored)) << "stored " << c.stored;
        if (c.entry >= 0) {
            EXPECT_EQ(c.stored, TestValueForComboIndex(c.entry).value()) << "entry " << c.entry;
        }
    }
    EXPECT_FALSE(TestValueForComboIndex(-1)) << "CB_ERR is never written";
    // A hand-edited 2 has no entry; without a pick it stays.
    Configure();
    scratch_.SetNumber(kSettings, L"TestAtItemCreate", 2);
    EXPECT_EQ(std::vector<UINT>{}, Save(kSim, std::nullopt));
    EXPECT_EQ("REG_DWORD 2", scratch_.Describe(kSettings, L"TestAtItemCreate"));
}

TEST_F(SettingsStoreTest, SerialBusAccessThroughItsBox) {
    constexpr DWORD kMissing = 0xDEAD;
    // Stored value and box, then what OK leaves.
    const std::tuple<DWORD, bool, const char*> cases[] = {
        {kMissing, true, "REG_DWORD 1"}, {kMissing, false, "missing"}, {0, true, "REG_DWORD 1"},
        {1, false, "REG_DWORD 0"},       {2, true, "REG_DWORD 2"},     {2, false, "REG_DWORD 0"}};
    Configure();
    for (const auto& [stored, box, left] : cases) {
        RegDeleteKeyValueW(scratch_.get(), kSettings, L"SerialBusAccess");
        if (stored != kMissing) scratch_.SetNumber(kSettings, L"SerialBusAccess", stored);
        const DWORD read = SettingsStore(scratch_.get()).Read().serialBusAccess;
        EXPECT_EQ(std::vector<UINT>{}, Save(kSim, 1, SerialBusAccessToSave(read, box)));
        EXPECT_EQ(left, scratch_.Describe(kSettings, L"SerialBusAccess")) << stored << " " << box;
    }
}

TEST_F(SettingsStoreTest, EachWriteFailureShowsItsMessageOnce) {
    // No "Software" key to open for writing: one message, nothing created.
    HKEY empty = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(scratch_.get(), L"Empty", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &empty, nullptr));
    {
        SettingsStore store(empty);
        SaveRequest request;
        request.busServerProgId = kSim;
        request.testAtItemCreate = 1;
        EXPECT_EQ(std::vector<UINT>{IDS_ERROR_OPEN_FOR_WRITING}, store.Save(request));
    }
    EXPECT_EQ(Strings{}, scratch_.Contents(L"Empty"));
    RegCloseKey(empty);

    // A "Software" below which no key can be created (a volatile key takes no lasting
    // subkeys): the create message, then the settings key cannot be opened either.
    HKEY root = nullptr, software = nullptr;
    RegCreateKeyExW(scratch_.get(), L"Volatile", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                    nullptr);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, L"Software", 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &software, nullptr));
    {
        SettingsStore store(root);
        SaveRequest request;
        request.busServerProgId = kSim;
        request.records.Store(kSim, L"DP/Slave%d/", L"");
        request.testAtItemCreate = 1;
        EXPECT_EQ((std::vector<UINT>{IDS_ERROR_CREATE_KEY, IDS_ERROR_OPEN_FOR_WRITING}),
                  store.Save(request));
    }
    RegCloseKey(software);
    RegCloseKey(root);
}

}  // namespace
}  // namespace ovconfig::test
