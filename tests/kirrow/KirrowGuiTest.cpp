// OPC_Kirrow driven from outside as a user would, against the bus simulator. Message boxes
// are switched on ("ShowErrorBoxes") for the run and read from the screen.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "GuiDriver.h"
#include "Processes.h"
#include "resource.h"

namespace {

namespace gui = guidriver;
using Strings = std::vector<std::wstring>;

constexpr DWORD kWaitMs = 20000;
constexpr wchar_t kSettings[] = L"Software\\Axolent\\Orvane";
constexpr wchar_t kSim[] = L"Orvane.BusSimulator";
constexpr wchar_t kVendor[] = L"DP/Slave3/DS_Vendorname";
constexpr wchar_t kProfile[] = L"DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring BinDirectory() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\'));
}

// Tree texts indented by depth, as they read on the screen.
Strings TreeTexts(HWND tree) {
    Strings texts;
    for (const auto& item : gui::TreeViewItems(tree))
        texts.push_back(std::wstring(item.depth * 2, L' ') + item.text);
    return texts;
}

// The tree item at the depth-first index of gui::TreeViewItems.
HTREEITEM TreeItemAt(HWND tree, size_t index) {
    auto next = [&](UINT relation, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
    };
    std::vector<HTREEITEM> stack;
    if (HTREEITEM root = next(TVGN_ROOT, nullptr)) stack.push_back(root);
    for (size_t position = 0; !stack.empty(); ++position) {
        HTREEITEM current = stack.back();
        stack.pop_back();
        if (position == index) return current;
        if (HTREEITEM sibling = next(TVGN_NEXT, current)) stack.push_back(sibling);
        if (HTREEITEM child = next(TVGN_CHILD, current)) stack.push_back(child);
    }
    return nullptr;
}

// Selects the first item whose text is text (the parent hears TVN_SELCHANGED).
bool SelectTreeItem(HWND tree, const std::wstring& text) {
    const auto items = gui::TreeViewItems(tree);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].text != text) continue;
        HTREEITEM item = TreeItemAt(tree, i);
        return item &&
               SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
    return false;
}

// The visible list view among the window's descendants (the shown page of a sheet).
HWND VisibleListView(HWND window) {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM data) -> BOOL {
            wchar_t name[32] = L"";
            GetClassNameW(child, name, 32);
            if (std::wstring(name) != WC_LISTVIEWW || !IsWindowVisible(child)) return TRUE;
            reinterpret_cast<Search*>(data)->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ValueOf(const std::vector<std::vector<std::wstring>>& rows, const std::wstring& name) {
    for (const auto& row : rows) {
        if (row.size() > 1 && row[0] == name) return row[1];
    }
    return L"(no row " + name + L")";
}

class KirrowGui : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD size = sizeof savedShowBoxes_;
        hadShowBoxes_ =
            RegGetValueW(HKEY_LOCAL_MACHINE, kSettings, L"ShowErrorBoxes", RRF_RT_REG_DWORD,
                         nullptr, &savedShowBoxes_, &size) == ERROR_SUCCESS;
        SetShowBoxes(1);
    }
    void TearDown() override {
        Quit();
        if (hadShowBoxes_)
            SetShowBoxes(savedShowBoxes_);
        else
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettings, L"ShowErrorBoxes");
        // The next test starts its own simulator with the configured bus.
        test_support::WaitForNoProcess(L"OrvaneBusSim.exe", kWaitMs);
    }
    static void SetShowBoxes(DWORD value) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettings, L"ShowErrorBoxes", REG_DWORD, &value,
                        sizeof value);
    }

    // Starts OPC_Kirrow and waits for its server choice.
    HWND Launch() {
        std::wstring line = L"\"" + BinDirectory() + L"\\OPC_Kirrow.exe\"";
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return nullptr;
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        pid_ = info.dwProcessId;
        main_ = gui::WaitForWindow(L"OPC_Kirrow", kWaitMs, pid_);
        return gui::WaitForWindow(L"Select OPC Server", kWaitMs, pid_);
    }
    // Fills the server choice and presses OK; true once the tree shows the server.
    bool Choose(HWND choice, const std::wstring& progId,
                const std::wstring& host = L"localserver") {
        if (!choice) return false;
        gui::SetText(GetDlgItem(choice, IDC_FIELD1), host);
        gui::SetText(GetDlgItem(choice, IDC_FIELD2), progId);
        gui::Click(GetDlgItem(choice, IDOK));
        return gui::WaitForWindowGone(choice, kWaitMs);
    }
    bool Start() {
        if (!Choose(Launch(), kSim)) return false;
        return gui::WaitUntil([&] { return TreeTexts(Item(IDC_TREE)).size() == 1; }, kWaitMs);
    }
    HWND Item(int id) const { return GetDlgItem(main_, id); }
    bool WaitForTree(const Strings& expected) {
        return gui::WaitUntil([&] { return TreeTexts(Item(IDC_TREE)) == expected; }, kWaitMs);
    }

    // Clicks the button and fills the name dialog that opens.
    void Name(int button, const wchar_t* title, const std::wstring& name, bool activate = true) {
        gui::Click(Item(button));
        HWND dialog = gui::WaitForWindow(title, kWaitMs, pid_);
        ASSERT_TRUE(dialog) << "no dialog " << Narrow(title);
        gui::SetText(GetDlgItem(dialog, IDC_FIELD1), name);
        if (!activate) SendMessageW(GetDlgItem(dialog, IDC_FIELD2), BM_SETCHECK, BST_UNCHECKED, 0);
        gui::Click(GetDlgItem(dialog, IDOK));
        ASSERT_TRUE(gui::WaitForWindowGone(dialog, kWaitMs));
    }
    void AddGroup(const std::wstring& name = L"TestGroup") {
        Name(IDC_ADD_GROUP, L"Group Name", name);
    }
    void AddItem(const std::wstring& id) { Name(IDC_ADD_ITEM, L"Item Name", id); }
    // Adds TestGroup with the item, which ends up selected.
    void AddTestItem(const std::wstring& id) {
        AddGroup();
        AddItem(id);
        ASSERT_TRUE(
            WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup", L"    " + id}))
            << "tree: " << Narrow(TreeTexts(Item(IDC_TREE)).back());
        ASSERT_TRUE(gui::WaitUntil([&] { return gui::IsEnabled(Item(IDC_READ)); }, kWaitMs));
    }
    // The text of the next box with that caption, which is then closed.
    std::wstring Box(const std::wstring& caption) {
        gui::MessageBoxInfo box = gui::WaitForMessageBox(caption, pid_, kWaitMs);
        if (!box.window) return L"(no box " + caption + L")";
        gui::DismissMessageBox(box);
        gui::WaitForWindowGone(box.window, kWaitMs);
        return box.text;
    }
    std::wstring ReadValue() {
        SetWindowTextW(Item(IDC_READ_VALUE), L"");
        gui::Click(Item(IDC_READ));
        gui::WaitUntil([&] { return !gui::Text(Item(IDC_READ_VALUE)).empty(); }, kWaitMs);
        return gui::Text(Item(IDC_READ_VALUE));
    }
    // The rows of an information dialog opened by the button.
    std::vector<std::vector<std::wstring>> InfoRows(int button, const wchar_t* title) {
        gui::Click(Item(button));
        HWND dialog = gui::WaitForWindow(title, kWaitMs, pid_);
        if (!dialog) return {};
        auto rows = gui::ListViewRows(GetDlgItem(dialog, IDC_INFO_LIST));
        gui::Click(GetDlgItem(dialog, IDOK));
        gui::WaitForWindowGone(dialog, kWaitMs);
        return rows;
    }
    DWORD WaitForExit() {
        WaitForSingleObject(process_, kWaitMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_, &code);
        return code;
    }
    // Beenden, and the process is gone (terminated if it did not end).
    void Quit() {
        if (!process_) return;
        if (main_ && IsWindow(main_)) gui::Click(Item(IDCANCEL));
        if (WaitForSingleObject(process_, kWaitMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "OPC_Kirrow did not end; terminated";
            TerminateProcess(process_, 1);
        }
        CloseHandle(process_);
        process_ = nullptr;
    }

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND main_ = nullptr;
    DWORD savedShowBoxes_ = 0;
    bool hadShowBoxes_ = false;
};

TEST_F(KirrowGui, ReadsTheVendorWithGoodQuality) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(Strings{L"Orvane.BusSimulator (localserver)"}, TreeTexts(Item(IDC_TREE)));
    AddTestItem(kVendor);
    EXPECT_EQ(L"Axolent", ReadValue());
    const std::wstring status = gui::Text(Item(IDC_STATUS));
    EXPECT_EQ(0u, status.find(L"0x00C0 good")) << Narrow(status);
}

TEST_F(KirrowGui, WriteConvertsAndReadsBack) {
    ASSERT_TRUE(Start());
    AddTestItem(kProfile);
    gui::SetText(Item(IDC_WRITE_VALUE), L"14848");
    gui::Click(Item(IDC_WRITE));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(Item(IDC_STATUS)) == L"Written"; }, kWaitMs));
    EXPECT_EQ(L"14848", ReadValue());
}

TEST_F(KirrowGui, ItemAndGroupInfo) {
    ASSERT_TRUE(Start());
    AddTestItem(kProfile);
    const auto item = InfoRows(IDC_ITEM_INFO, L"Item Info");
    EXPECT_EQ(kProfile, ValueOf(item, L"ItemID"));
    EXPECT_EQ(L"OPC_READABLE | OPC_WRITEABLE", ValueOf(item, L"Access rights"));
    EXPECT_EQ(L"VT_UI2", ValueOf(item, L"Canonical data type"));
    EXPECT_EQ(L"1", ValueOf(item, L"Client handle"));
    const auto group = InfoRows(IDC_GROUP_INFO, L"Group Info");
    EXPECT_EQ(L"TestGroup", ValueOf(group, L"Name"));
    EXPECT_EQ(L"1000", ValueOf(group, L"Update rate"));
    EXPECT_EQ(L"10", ValueOf(group, L"Percent deadband"));
    EXPECT_EQ(L"TRUE", ValueOf(group, L"Active"));
    EXPECT_EQ(L"yes", ValueOf(group, L"IOPCSyncIO"));
}

TEST_F(KirrowGui, ServerInfoPages) {
    ASSERT_TRUE(Start());
    gui::Click(Item(IDC_SERVER_INFO));
    HWND sheet = gui::WaitForWindow(L"Server Info", kWaitMs, pid_);
    ASSERT_TRUE(sheet);
    const auto rowsOfPage = [&](int page) {
        SendMessageW(sheet, PSM_SETCURSEL, page, 0);
        std::vector<std::vector<std::wstring>> rows;
        gui::WaitUntil(
            [&] {
                HWND list = VisibleListView(sheet);
                rows = list ? gui::ListViewRows(list) : rows;
                return !rows.empty();
            },
            kWaitMs);
        return rows;
    };
    const auto information = rowsOfPage(0);
    EXPECT_EQ(kSim, ValueOf(information, L"ProgID"));
    EXPECT_EQ(L"localserver", ValueOf(information, L"Host"));
    EXPECT_EQ(0u, ValueOf(information, L"Vendor").find(L"Axolent"));
    EXPECT_EQ(L"OPC_STATUS_RUNNING", ValueOf(rowsOfPage(1), L"State"));
    const auto interfaces = rowsOfPage(2);
    EXPECT_EQ(L"yes", ValueOf(interfaces, L"IOPCBrowseServerAddressSpace"));
    EXPECT_EQ(L"yes", ValueOf(interfaces, L"IOPCItemProperties"));
    EXPECT_EQ(L"no", ValueOf(interfaces, L"IOPCServerPublicGroups"));
    EXPECT_EQ(L"no", ValueOf(interfaces, L"IPersistFile"));
    PostMessageW(sheet, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(gui::WaitForWindowGone(sheet, kWaitMs));
}

TEST_F(KirrowGui, FlatBrowseFindsEverySlaveAndAddsTheMarkedOnes) {
    ASSERT_TRUE(Start());
    AddGroup();
    ASSERT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup"}));
    gui::Click(Item(IDC_BROWSE));
    HWND browse = gui::WaitForWindow(L"Browse Server Address Space", kWaitMs, pid_);
    ASSERT_TRUE(browse);
    EXPECT_EQ(L"OPC_NS_HIERARCHICAL", gui::Text(GetDlgItem(browse, IDC_ORGANIZATION)));
    HWND tree = GetDlgItem(browse, IDC_BROWSE_TREE);
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            return TreeTexts(tree) == Strings{L"DP", L"Sim"};
        },
        kWaitMs))
        << "hierarchical: the branches at the root";
    gui::SetText(GetDlgItem(browse, IDC_NAME_FILTER), L"*DS_Vendorname");
    gui::Click(GetDlgItem(browse, IDC_BROWSE_FLAT));
    const Strings slaves = {L"DP/Slave3/DS_Vendorname", L"DP/Slave4/DS_Vendorname",
                            L"DP/Slave5/DS_Vendorname", L"DP/Slave6/DS_Vendorname",
                            L"DP/Slave7/DS_Vendorname"};
    Strings found;
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            found = TreeTexts(tree);
            std::sort(found.begin(), found.end());
            return found == slaves;
        },
        kWaitMs))
        << "flat: " << found.size() << " names";
    for (const wchar_t* id : {L"DP/Slave4/DS_Vendorname", L"DP/Slave5/DS_Vendorname"}) {
        ASSERT_TRUE(SelectTreeItem(tree, id));
        SendMessageW(browse, WM_COMMAND, IDC_MARK, 0);
    }
    ASSERT_TRUE(SelectTreeItem(tree, L"+ DP/Slave5/DS_Vendorname"));
    SendMessageW(browse, WM_COMMAND, IDC_VALIDATE, 0);
    EXPECT_EQ(L"DP/Slave5/DS_Vendorname: valid, VT_BSTR, OPC_READABLE",
              gui::Text(GetDlgItem(browse, IDC_VALIDATE_RESULT)));
    gui::Click(GetDlgItem(browse, IDOK));
    ASSERT_TRUE(gui::WaitForWindowGone(browse, kWaitMs));
    EXPECT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup",
                             L"    DP/Slave4/DS_Vendorname", L"    DP/Slave5/DS_Vendorname"}));
}

TEST_F(KirrowGui, EveryBrowseStartsAtTheRoot) {
    ASSERT_TRUE(Start());
    for (int round = 0; round < 2; ++round) {
        gui::Click(Item(IDC_BROWSE));
        HWND browse = gui::WaitForWindow(L"Browse Server Address Space", kWaitMs, pid_);
        ASSERT_TRUE(browse);
        HWND tree = GetDlgItem(browse, IDC_BROWSE_TREE);
        EXPECT_TRUE(gui::WaitUntil(
            [&] {
                return TreeTexts(tree) == Strings{L"DP", L"Sim"};
            },
            kWaitMs))
            << "round " << round;
        // Opening a branch moves the server's browse position down into it.
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(TreeItemAt(tree, 0)));
        EXPECT_EQ(L"  Slave3", TreeTexts(tree).at(1));
        gui::Click(GetDlgItem(browse, IDCANCEL));
        ASSERT_TRUE(gui::WaitForWindowGone(browse, kWaitMs));
    }
}

TEST_F(KirrowGui, BadInputIsReportedAndChangesNothing) {
    HWND choice = Launch();
    ASSERT_TRUE(choice);
    // No server yet: the choice is cancelled.
    gui::Click(GetDlgItem(choice, IDCANCEL));
    ASSERT_TRUE(gui::WaitForWindowGone(choice, kWaitMs));
    gui::Click(Item(IDC_ADD_GROUP));
    EXPECT_EQ(L"Server does not exist!", Box(L"OPC_Kirrow Message"));
    EXPECT_EQ(Strings{}, TreeTexts(Item(IDC_TREE)));

    for (const wchar_t* progId : {L"", L"No.Such.Server"}) {
        gui::PostSysCommand(main_, IDM_CONNECT);
        ASSERT_TRUE(Choose(gui::WaitForWindow(L"Select OPC Server", kWaitMs, pid_), progId));
        EXPECT_EQ(L"Create Server failed : 800401F3", Box(L"OPC_Kirrow Message")) << Narrow(progId);
        EXPECT_EQ(Strings{}, TreeTexts(Item(IDC_TREE)));
    }
    gui::PostSysCommand(main_, IDM_CONNECT);
    ASSERT_TRUE(Choose(gui::WaitForWindow(L"Select OPC Server", kWaitMs, pid_), kSim));
    ASSERT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)"}));

    gui::Click(Item(IDC_ADD_ITEM));
    EXPECT_EQ(L"OPCItemmgtAdditems() : No group selected.", Box(L"OPC_Kirrow Message"));
    AddGroup();
    ASSERT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup"}));
    ASSERT_TRUE(SelectTreeItem(Item(IDC_TREE), L"Orvane.BusSimulator (localserver)"));
    AddGroup();
    EXPECT_EQ(L"IOPCServer::AddGroup() : TestGroup not created : C004000C", Box(L"AddGroup"));
    ASSERT_TRUE(SelectTreeItem(Item(IDC_TREE), L"TestGroup"));
    AddItem(L"no.such.item");
    EXPECT_EQ(L"Item no.such.item is _NOT_ added: c0040007", Box(L"AddItem Failed"));
    EXPECT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup"}));

    AddItem(kVendor);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::IsEnabled(Item(IDC_WRITE)); }, kWaitMs));
    gui::SetText(Item(IDC_WRITE_VALUE), L"Someone");
    gui::Click(Item(IDC_WRITE));
    EXPECT_EQ(L"Error writing Item DP/Slave3/DS_Vendorname :\n the Accessrights forbid writing",
              Box(L"OPCSyncIOWrite Warning"));
    EXPECT_EQ(L"Axolent", ReadValue());

    ASSERT_TRUE(SelectTreeItem(Item(IDC_TREE), L"TestGroup"));
    AddItem(kProfile);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::IsEnabled(Item(IDC_WRITE)); }, kWaitMs));
    gui::SetText(Item(IDC_WRITE_VALUE), L"many");
    gui::Click(Item(IDC_WRITE));
    EXPECT_EQ(
        L"Error writing Item DP/Slave3/DS_MSAC2_Parameter/MA_ProfileIdentNumber with "
        L"Result : 80020005 ",
        Box(L"OPCSyncIOWrite Warning"));
    EXPECT_EQ(L"0", ReadValue()) << "nothing was sent";

    // An empty name: the server names the group, the tree shows its handle.
    ASSERT_TRUE(SelectTreeItem(Item(IDC_TREE), L"Orvane.BusSimulator (localserver)"));
    AddGroup(L"");
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            const Strings texts = TreeTexts(Item(IDC_TREE));
            return texts.size() == 5 && texts[4].find(L"  Handle = ") == 0;
        },
        kWaitMs))
        << Narrow(TreeTexts(Item(IDC_TREE)).back());
}

TEST_F(KirrowGui, RemoveItemAndRemoveGroupUpdateTheTree) {
    ASSERT_TRUE(Start());
    AddTestItem(kVendor);
    gui::Click(Item(IDC_REMOVE_ITEM));
    EXPECT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup"}));
    EXPECT_TRUE(gui::IsEnabled(Item(IDC_REMOVE_GROUP))) << "the group is selected";
    gui::Click(Item(IDC_REMOVE_GROUP));
    EXPECT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)"}));
    // The group is gone from the server too: its name is free again.
    AddGroup();
    EXPECT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup"}));
}

TEST_F(KirrowGui, ConnectToASecondServer) {
    ASSERT_TRUE(Start());
    AddGroup();
    ASSERT_TRUE(WaitForTree({L"Orvane.BusSimulator (localserver)", L"  TestGroup"}));
    gui::PostSysCommand(main_, IDM_CONNECT);
    HWND choice = gui::WaitForWindow(L"Select OPC Server", kWaitMs, pid_);
    ASSERT_TRUE(choice);
    EXPECT_EQ(Strings{}, TreeTexts(Item(IDC_TREE))) << "disconnected first";
    const Strings listed = gui::ComboItems(GetDlgItem(choice, IDC_FIELD2));
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), kSim));
    ASSERT_TRUE(Choose(choice, L"Orvane.BusSimulator.1", L"LocalServer"));
    EXPECT_TRUE(WaitForTree({L"Orvane.BusSimulator.1 (LocalServer)"}));
}

TEST_F(KirrowGui, BeendenEndsTheProgramAndThenTheServer) {
    ASSERT_TRUE(Start());
    AddTestItem(kVendor);
    ASSERT_FALSE(test_support::ProcessIds(L"OrvaneBusSim.exe").empty());
    gui::Click(Item(IDCANCEL));
    EXPECT_EQ(0u, WaitForExit());
    EXPECT_TRUE(test_support::WaitForNoProcess(L"OrvaneBusSim.exe", kWaitMs))
        << "every interface was released";
}

// Runs OPC_Kirrow.exe with the arguments and returns its exit code.
DWORD RunKirrow(const std::wstring& arguments) {
    std::wstring line = L"\"" + BinDirectory() + L"\\OPC_Kirrow.exe\" " + arguments;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return 0xFFFFFFFF;
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, kWaitMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return code;
}

bool KeyExists(const wchar_t* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

TEST(KirrowRegistration, RegServerAndUnregServerWriteAndRemoveTheAppId) {
    const wchar_t* const keys[] = {L"AppID\\{01B2C575-8072-11D2-BCAD-006097B0AFB2}",
                                   L"AppID\\OPC_Kirrow.EXE"};
    EXPECT_EQ(0u, RunKirrow(L"-unregserver"));
    for (const wchar_t* key : keys) EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    EXPECT_EQ(0u, RunKirrow(L"/REGSERVER"));
    for (const wchar_t* key : keys) EXPECT_TRUE(KeyExists(key)) << Narrow(key);
}

// Against Orvane itself, where it is built and registered.
constexpr wchar_t kOrvane[] = L"Axolent.Orvane";

bool OrvaneRegistered() {
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(kOrvane, &clsid));
}

TEST_F(KirrowGui, OrvaneServerInfoNamesTheVendor) {
    if (!OrvaneRegistered()) GTEST_SKIP() << "Axolent.Orvane is not registered in this prefix";
    ASSERT_TRUE(Choose(Launch(), kOrvane));
    ASSERT_TRUE(WaitForTree({L"Axolent.Orvane (localserver)"}));
    gui::Click(Item(IDC_SERVER_INFO));
    HWND sheet = gui::WaitForWindow(L"Server Info", kWaitMs, pid_);
    ASSERT_TRUE(sheet);
    std::vector<std::vector<std::wstring>> rows;
    gui::WaitUntil(
        [&] {
            HWND list = VisibleListView(sheet);
            rows = list ? gui::ListViewRows(list) : rows;
            return !rows.empty();
        },
        kWaitMs);
    EXPECT_NE(std::wstring::npos, ValueOf(rows, L"Vendor").find(L"Axolent"));
    PostMessageW(sheet, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(gui::WaitForWindowGone(sheet, kWaitMs));
}

TEST_F(KirrowGui, OrvaneDriveParameterReadsAndTakesAValue) {
    ASSERT_TRUE(OrvaneRegistered());
    ASSERT_TRUE(Choose(Launch(), kOrvane));
    ASSERT_TRUE(WaitForTree({L"Axolent.Orvane (localserver)"}));
    AddGroup();
    const std::wstring id = L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18";
    AddItem(id);
    ASSERT_TRUE(WaitForTree({L"Axolent.Orvane (localserver)", L"  TestGroup", L"    " + id}));
    EXPECT_EQ(L"1500", ReadValue());
    EXPECT_EQ(0u, gui::Text(Item(IDC_STATUS)).find(L"0x00C0 good"));
    for (const wchar_t* value : {L"1234", L"1500"}) {
        gui::SetText(Item(IDC_WRITE_VALUE), value);
        gui::Click(Item(IDC_WRITE));
        EXPECT_EQ(value, ReadValue());
    }
}

// Last: a killed server leaves a stale class registration behind in this wineserver.
TEST_F(KirrowGui, ZZ_ADeadServerDoesNotHangTheClient) {
    ASSERT_TRUE(Start());
    AddTestItem(kVendor);
    for (const DWORD pid : test_support::ProcessIds(L"OrvaneBusSim.exe")) {
        HANDLE sim = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        ASSERT_TRUE(sim);
        TerminateProcess(sim, 1);
        WaitForSingleObject(sim, kWaitMs);
        CloseHandle(sim);
    }
    gui::Click(Item(IDC_READ));
    const std::wstring first = Box(L"OPC_Kirrow Message");
    gui::Click(Item(IDC_READ));
    EXPECT_EQ(L"IOPCSyncIO::Read() failed : 800706BA", Box(L"OPC_Kirrow Message")) << Narrow(first);
    gui::Click(Item(IDCANCEL));
    EXPECT_EQ(0u, WaitForExit());
}

}  // namespace
