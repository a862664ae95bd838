// OV_Config driven from outside, as an administrator would use it, in the language of the
// run (LC_ALL picks German or English). Every test saves and restores the settings key.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ConfigTestSupport.h"
#include "GuiDriver.h"
#include "resource.h"

namespace ovconfig::test {
namespace {

namespace gui = guidriver;
using Strings = std::vector<std::wstring>;

constexpr wchar_t kSettings[] = L"Software\\Axolent\\Orvane";
constexpr wchar_t kBackup[] = L"Software\\OrvaneTest\\ConfigGuiBackup";
constexpr wchar_t kSim[] = L"Orvane.BusSimulator";
// A second bus server, registered only while a test needs it.
constexpr wchar_t kTestBus[] = L"Orvane.TestBusServer";
constexpr wchar_t kTestBusClsid[] = L"{6E0C0F01-0000-4000-8000-000000000001}";
constexpr DWORD kWaitMs = 20000;

bool German() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN; }

std::wstring BinDirectory() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\'));
}

std::wstring ReadText(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t data[512] = L"";
    DWORD size = sizeof data;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

DWORD ReadNumber(const std::wstring& key, const wchar_t* name, DWORD missing = 0xDEAD) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return missing;
    return value;
}

void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

void SetNumber(const std::wstring& key, const wchar_t* name, DWORD value) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD,
                                             &value, sizeof value));
}

std::wstring Info(const wchar_t* progId) {
    return std::wstring(kSettings) + L"\\BusServerInfo\\" + progId;
}

std::wstring ClassOf(const wchar_t* progId) {
    CLSID clsid;
    wchar_t text[40] = L"(none)";
    if (SUCCEEDED(CLSIDFromProgID(progId, &clsid))) StringFromGUID2(clsid, text, 40);
    return text;
}

class ConfigGui : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kBackup);
        HKEY backup = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kBackup, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &backup, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegCopyTreeW(HKEY_LOCAL_MACHINE, kSettings, backup));
        RegCloseKey(backup);
        // Every test starts from the build's own choice: the simulator, nothing else.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kSettings) + L"\\BusServerInfo").c_str());
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettings, L"Version");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettings, L"HideAdvancedControls");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettings, L"SerialBusAccess");
        SetNumber(kSettings, L"TestAtItemCreate", 0);
    }
    void TearDown() override {
        Close();
        UnregisterTestBus();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettings);
        HKEY settings = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &settings, nullptr);
        EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeW(HKEY_CURRENT_USER, kBackup, settings))
            << "restoring HKLM\\Software\\Axolent\\Orvane";
        RegCloseKey(settings);
        RegDeleteTreeW(HKEY_CURRENT_USER, kBackup);
    }

    std::wstring Title() const {
        return German() ? L"Orvane Konfigurator" : L"Orvane Configurator";
    }

    // Starts OV_Config with the arguments in the directory; process_ is its handle.
    bool Launch(const std::wstring& arguments, const std::wstring& directory = L"") {
        std::wstring line = L"\"" + BinDirectory() + L"\\OV_Config.exe\" " + arguments;
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            directory.empty() ? nullptr : directory.c_str(), &startup, &info))
            return false;
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        pid_ = info.dwProcessId;
        return true;
    }
    // The main dialog, or null.
    HWND Start(const std::wstring& directory = L"") {
        if (!Launch(L"", directory)) return nullptr;
        dialog_ = gui::WaitForWindow(Title(), kWaitMs, pid_);
        return dialog_;
    }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    // Exit code once the process ended, else STILL_ACTIVE.
    DWORD WaitForExit() {
        if (!process_) return STILL_ACTIVE;
        WaitForSingleObject(process_, kWaitMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_, &code);
        return code;
    }
    void Close() {
        if (!process_) return;
        if (dialog_ && IsWindow(dialog_)) PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
        if (WaitForSingleObject(process_, kWaitMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "OV_Config did not end; terminated";
            TerminateProcess(process_, 1);
        }
        CloseHandle(process_);
        process_ = nullptr;
        dialog_ = nullptr;
    }

    void RegisterTestBus() {
        const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + kTestBusClsid;
        SetText(classKey, nullptr, L"Test bus server");
        SetText(classKey + L"\\ProgID", nullptr, kTestBus);
        SetText(classKey + L"\\Implemented Categories\\{3CF19FF3-907B-11D4-B4A7-0050DA3F121C}",
                nullptr, L"");
        SetText(std::wstring(L"Software\\Classes\\") + kTestBus + L"\\CLSID", nullptr,
                kTestBusClsid);
    }
    void UnregisterTestBus() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       (std::wstring(L"Software\\Classes\\CLSID\\") + kTestBusClsid).c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       (std::wstring(L"Software\\Classes\\") + kTestBus).c_str());
    }

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND dialog_ = nullptr;
};

TEST_F(ConfigGui, TitleAndVersionLine) {
    SetText(kSettings, L"Version", L"2.1");
    ASSERT_TRUE(Start()) << "no window titled " << Narrow(Title());
    EXPECT_EQ(L"Orvane v2.1", gui::Text(Item(IDC_TITLE_LINE)));
}

TEST_F(ConfigGui, TheSimulatorIsListedAndSelected) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(Strings{kSim}, gui::ListBoxItems(Item(IDC_SERVER_LIST)));
    EXPECT_EQ(0, gui::ListBoxSelection(Item(IDC_SERVER_LIST)));
    EXPECT_EQ(BST_CHECKED, SendMessageW(Item(IDC_CATEGORY_BUS), BM_GETCHECK, 0, 0));
    EXPECT_TRUE(gui::IsEnabled(Item(IDC_DEV_SPECIFIC)));
    const Strings combo = German() ? Strings{L"keine", L"lesen", L"lesen und schreiben"}
                                   : Strings{L"none", L"read", L"read and write"};
    EXPECT_EQ(combo, gui::ComboItems(Item(IDC_TEST_AT_CREATE)));
    EXPECT_EQ(0, gui::ComboSelection(Item(IDC_TEST_AT_CREATE)));
}

TEST_F(ConfigGui, CategoryBoxesRefillTheList) {
    ASSERT_TRUE(Start());
    HWND list = Item(IDC_SERVER_LIST);
    gui::Click(Item(IDC_CATEGORY_BUS));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::ListBoxItems(list).empty(); }, kWaitMs))
        << "no category checked: empty list";
    EXPECT_FALSE(gui::IsEnabled(Item(IDC_DEV_SPECIFIC)));
    EXPECT_FALSE(gui::IsEnabled(Item(IDC_PAR_SPECIFIC)));
    gui::Click(Item(IDC_CATEGORY_DA20));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::ListBoxItems(list) == Strings{kSim}; }, kWaitMs))
        << "the simulator is an OPC DA 2.0 server";
    EXPECT_EQ(0, gui::ListBoxSelection(list)) << "the chosen server is selected again";
    EXPECT_TRUE(gui::IsEnabled(Item(IDC_DEV_SPECIFIC)));
}

TEST_F(ConfigGui, DevSpecificFollowsTheSelectedServer) {
    RegisterTestBus();
    SetText(Info(kSim), L"DevSpecific", L"DP/Slave%d/");
    SetText(Info(kTestBus), L"DevSpecific", L"Bus%d.");
    ASSERT_TRUE(Start());
    HWND list = Item(IDC_SERVER_LIST);
    HWND dev = Item(IDC_DEV_SPECIFIC);
    ASSERT_EQ((Strings{kSim, kTestBus}), gui::ListBoxItems(list));
    EXPECT_EQ(L"DP/Slave%d/", gui::Text(dev));
    gui::SetText(dev, L"Edited%d/");
    gui::ListBoxSelect(list, 1);
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(dev) == L"Bus%d."; }, kWaitMs))
        << Narrow(gui::Text(dev));
    gui::ListBoxSelect(list, 0);
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(dev) == L"Edited%d/"; }, kWaitMs))
        << "the edit is kept for the server: " << Narrow(gui::Text(dev));
}

TEST_F(ConfigGui, ReadAndWriteThenOkWritesTheSettings) {
    ASSERT_TRUE(Start());
    gui::ComboSelect(Item(IDC_TEST_AT_CREATE), 2);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ComboSelection(Item(IDC_TEST_AT_CREATE)) == 2; },
                               kWaitMs));
    gui::Click(Item(IDC_SERIAL_BUS_ACCESS));  // posted, so handled before OK
    gui::Click(Item(IDOK));
    ASSERT_EQ(0u, WaitForExit()) << "OK closes the program";
    EXPECT_EQ(3u, ReadNumber(kSettings, L"TestAtItemCreate"));
    EXPECT_EQ(1u, ReadNumber(kSettings, L"SerialBusAccess")) << "missing: unchecked, then clicked";
    EXPECT_EQ(kSim, ReadText(HKEY_LOCAL_MACHINE, std::wstring(kSettings) + L"\\BusServers",
                             L"BusServerProgID1"));
    EXPECT_EQ(ClassOf(kSim), ReadText(HKEY_LOCAL_MACHINE, Info(kSim), L"CLSID"));
}

TEST_F(ConfigGui, SecondSlaveAddressIsRefused) {
    ASSERT_TRUE(Start());
    HWND dev = Item(IDC_DEV_SPECIFIC);
    gui::SetText(dev, L"S%d/T%d/");
    gui::ComboSelect(Item(IDC_TEST_AT_CREATE), 1);
    gui::Click(Item(IDOK));
    const gui::MessageBoxInfo box = gui::WaitForMessageBox(L"Error", pid_, kWaitMs);
    ASSERT_TRUE(box.window) << "no box captioned Error";
    EXPECT_EQ(German() ? L"DevSpecific darf \"%d\" höchstens einmal enthalten."
                       : L"DevSpecific may contain \"%d\" at most once.",
              box.text);
    gui::DismissMessageBox(box);
    EXPECT_TRUE(gui::WaitForWindowGone(box.window, kWaitMs));
    EXPECT_TRUE(IsWindow(dialog_)) << "the dialog stays open";
    EXPECT_EQ(0, gui::ListBoxSelection(Item(IDC_SERVER_LIST)));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(dialog_) == dev; }, kWaitMs))
        << "DevSpecific has the focus";
    EXPECT_EQ(0u, ReadNumber(kSettings, L"TestAtItemCreate")) << "nothing is written";
    EXPECT_EQ(L"(missing)", ReadText(HKEY_LOCAL_MACHINE, Info(kSim), L"DevSpecific"));
}

TEST_F(ConfigGui, HideAdvancedControlsSeven) {
    SetNumber(kSettings, L"HideAdvancedControls", 7);
    ASSERT_TRUE(Start());
    std::set<std::wstring> visible;
    for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!gui::IsVisible(child)) continue;
        const int id = GetDlgCtrlID(child);
        const bool unnumbered = id == -1 || id == 0xFFFF;  // DIALOGEX keeps -1 as a DWORD
        visible.insert(unnumbered ? gui::Text(child) : std::to_wstring(id));
    }
    const std::set<std::wstring> expected = {std::to_wstring(IDC_SERVER_LIST),
                                             std::to_wstring(IDC_TITLE_LINE),
                                             std::to_wstring(IDC_PICTURE),
                                             std::to_wstring(IDOK),
                                             std::to_wstring(IDCANCEL),
                                             German() ? L"konfigurieren für:" : L"configure for:",
                                             German()
                                                 ? L"Wählen Sie den unterstützten OPC-Server aus:"
                                                 : L"Choose the supported OPC server"};
    EXPECT_EQ(expected, visible);
}

TEST_F(ConfigGui, SystemMenuOpensTheInformationBox) {
    ASSERT_TRUE(Start());
    gui::PostSysCommand(dialog_, IDM_ABOUTBOX);
    const std::wstring title = German() ? L"Info über OV_Config" : L"Information about OV_Config";
    HWND info = gui::WaitForWindow(title, kWaitMs, pid_);
    ASSERT_TRUE(info) << "no window titled " << Narrow(title);
    const auto rows = gui::ListViewRows(GetDlgItem(info, IDC_COMPONENTS));
    ASSERT_EQ(5u, rows.size()) << "every component but VkyOPC.vkInteraction";
    ASSERT_EQ(3u, rows[0].size());
    EXPECT_EQ(L"Orvane.exe", rows[0][0]);
    EXPECT_EQ(L"1.0.0." ORVANE_BUILD_NUMBER_TEXT, rows[0][1]);
    EXPECT_EQ(0, _wcsicmp((BinDirectory() + L"\\Orvane.exe").c_str(), rows[0][2].c_str()))
        << Narrow(rows[0][2]);
    gui::Click(GetDlgItem(info, IDOK));
    EXPECT_TRUE(gui::WaitForWindowGone(info, kWaitMs));
}

// A 16 x 16 bitmap of one colour, as Paint would save it.
void WriteSolidBitmap(const std::wstring& path, BYTE red, BYTE green, BYTE blue) {
    const int side = 16;
    const DWORD pixels = side * side * 3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + pixels;
    header.biSize = sizeof header;
    header.biWidth = side;
    header.biHeight = side;
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::vector<BYTE> data;
    for (int i = 0; i < side * side; ++i) data.insert(data.end(), {blue, green, red});
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, out);
    DWORD written = 0;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &header, sizeof header, &written, nullptr);
    WriteFile(out, data.data(), pixels, &written, nullptr);
    CloseHandle(out);
}

TEST_F(ConfigGui, PictureFromTheCurrentDirectory) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring directory = std::wstring(temp) + L"ov_config_picture";
    CreateDirectoryW(directory.c_str(), nullptr);
    WriteSolidBitmap(directory + L"\\Picture.bmp", 0xFF, 0x00, 0x00);
    ASSERT_TRUE(Start(directory));
    const RECT frame = gui::WindowRect(Item(IDC_PICTURE));
    // The top right corner is covered however the picture is fitted.
    HDC screen = GetDC(nullptr);
    COLORREF seen = CLR_INVALID;
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            seen = GetPixel(screen, frame.right - 4, frame.top + 4);
            return seen == RGB(0xFF, 0, 0);
        },
        kWaitMs))
        << "pixel 0x" << std::hex << seen;
    ReleaseDC(nullptr, screen);
    Close();
    DeleteFileW((directory + L"\\Picture.bmp").c_str());
    RemoveDirectoryW(directory.c_str());
}

bool AppIdRegistered() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID\\OV_Config.EXE", 0, KEY_READ, &key)) return false;
    RegCloseKey(key);
    return true;
}

TEST_F(ConfigGui, RegistrationSwitchesEndAtOnce) {
    struct Case {
        const wchar_t* arguments;
        bool registered;
    } cases[] = {{L"/unregserver", false}, {L"-REGSERVER", true}, {L"-Embedding", true}};
    for (const Case& c : cases) {
        ASSERT_TRUE(Launch(c.arguments));
        EXPECT_EQ(0u, WaitForExit()) << Narrow(c.arguments);
        EXPECT_EQ(nullptr, gui::WaitForWindow(Title(), 0, pid_)) << Narrow(c.arguments);
        CloseHandle(process_);
        process_ = nullptr;
        EXPECT_EQ(c.registered, AppIdRegistered()) << Narrow(c.arguments);
    }
    EXPECT_EQ(L"{32E221D4-F5BD-11D4-9962-00105A3C305E}",
              ReadText(HKEY_CLASSES_ROOT, L"AppID\\OV_Config.EXE", L"AppID"));
    EXPECT_EQ(L"OV_Config", ReadText(HKEY_CLASSES_ROOT,
                                     L"AppID\\{32E221D4-F5BD-11D4-9962-00105A3C305E}", nullptr));
}

}  // namespace
}  // namespace ovconfig::test
