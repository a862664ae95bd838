// Settings and the communication log, read from a scratch key under HKCU so that
// the prefix's real settings stay untouched.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "CommLog.h"
#include "Settings.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kScratchKey[] = L"Software\\OrvaneTest\\InteractionSettings";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring TempDirectory() {
    wchar_t buffer[MAX_PATH];
    GetTempPathW(MAX_PATH, buffer);
    std::wstring path(buffer);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(Narrow(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key_, nullptr));
        root_ = TempDirectory() + L"\\ov_settings_test";
        RemoveTree(root_);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        RemoveTree(root_);
        CommLog::SwitchOff();
    }

    void SetDword(const wchar_t* name, DWORD value) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, name, 0, REG_DWORD,
                                                reinterpret_cast<BYTE*>(&value), sizeof(value)));
    }
    void SetBinary(const wchar_t* name, std::initializer_list<BYTE> bytes) {
        std::basic_string<BYTE> data(bytes);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, name, 0, REG_BINARY, data.data(),
                                                static_cast<DWORD>(data.size())));
    }
    void SetString(const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    }
    Settings Read() { return ReadSettings(HKEY_CURRENT_USER, kScratchKey); }

    HKEY key_ = nullptr;
    std::wstring root_;
};

TEST_F(SettingsTest, DefaultsWhenTheKeyIsMissingAndLoggingStaysOff) {
    CommLog::Configure(3, root_);
    const Settings settings = ReadSettings(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\NoSuchKey");
    EXPECT_EQ(300u, settings.maxPollCountRead) << "MaxPollCountRead";
    EXPECT_EQ(10000u, settings.maxPollCountWrite) << "MaxPollCountWrite";
    EXPECT_EQ(0u, settings.testAtItemCreate) << "TestAtItemCreate";
    EXPECT_EQ(300u, settings.timeoutSeconds) << "TimeoutSeconds";
    EXPECT_EQ(30000u, settings.timeoutCheckNamespace) << "TimeoutCheckNamespace";
    EXPECT_FALSE(CommLog::On()) << "a missing key must switch the log off";
    EXPECT_FALSE(CommLog::FileOn());
    EXPECT_FALSE(CommLog::DebuggerOn());
}

TEST_F(SettingsTest, NumbersAreTheRawLittleEndianBytes) {
    SetDword(L"MaxPollCountRead", 0);
    SetDword(L"MaxPollCountWrite", 7);
    SetBinary(L"TestAtItemCreate", {0x03});                         // shorter: zero-extended
    SetBinary(L"TimeoutSeconds", {0x10, 0x00, 0x00, 0x00, 0x01});   // longer than 4: unreadable
    SetBinary(L"TimeoutCheckNamespace", {0xE8, 0x03, 0x00, 0x00});  // 1000 as binary
    const Settings settings = Read();
    EXPECT_EQ(0u, settings.maxPollCountRead) << "MaxPollCountRead 0 must be kept";
    EXPECT_EQ(7u, settings.maxPollCountWrite);
    EXPECT_EQ(3u, settings.testAtItemCreate) << "one byte 03";
    EXPECT_EQ(300u, settings.timeoutSeconds) << "five bytes cannot be read: default";
    EXPECT_EQ(1000u, settings.timeoutCheckNamespace) << "REG_BINARY taken as number";
}

TEST_F(SettingsTest, CommLoggingSwitches) {
    struct Case {
        DWORD value;
        bool master, file, debugger;
    } cases[] = {
        {0, false, false, false}, {1, true, true, false},  {2, true, false, true},
        {3, true, true, true},    {4, true, false, false},
    };
    for (const Case& c : cases) {
        SetDword(L"CommLogging", c.value);
        SetString(L"LoggingPath", root_);
        Read();
        EXPECT_EQ(c.master, CommLog::On()) << "CommLogging " << c.value << ": master switch";
        EXPECT_EQ(c.file, CommLog::FileOn()) << "CommLogging " << c.value << ": file";
        EXPECT_EQ(c.debugger, CommLog::DebuggerOn()) << "CommLogging " << c.value << ": debugger";
        EXPECT_EQ(c.file, IsDirectory(root_))
            << "CommLogging " << c.value << ": directory created only for file logging";

        CommLog::Write(L"probe");
        EXPECT_EQ(c.file, FileExists(CommLog::FilePath()))
            << "CommLogging " << c.value << ": log file after a line";
        RemoveTree(root_);
    }
    RegDeleteValueW(key_, L"CommLogging");
    Read();
    EXPECT_FALSE(CommLog::On()) << "CommLogging absent";
}

TEST_F(SettingsTest, TenByteCommLoggingCountsItsFirstFourBytes) {
    SetBinary(L"CommLogging", {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    SetString(L"LoggingPath", root_);
    Read();
    EXPECT_TRUE(CommLog::FileOn()) << "ten bytes 01 00 00 00 ff...";
    EXPECT_FALSE(CommLog::DebuggerOn());
    SetBinary(L"CommLogging", {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Read();
    EXPECT_FALSE(CommLog::On()) << "eleven bytes cannot be read: off";
}

TEST_F(SettingsTest, DirectoryWalkCreatesEveryMissingLevel) {
    const std::wstring deep = root_ + L"\\a/b\\c";
    CreateDirectoryWalk(deep);
    EXPECT_TRUE(IsDirectory(root_)) << Narrow(root_);
    EXPECT_TRUE(IsDirectory(root_ + L"\\a")) << "level a";
    EXPECT_TRUE(IsDirectory(root_ + L"\\a\\b")) << "level b";
    EXPECT_TRUE(IsDirectory(deep)) << "level c";
    CreateDirectoryWalk(deep + L"\\");
    EXPECT_TRUE(IsDirectory(deep)) << "walking existing directories again is harmless";
}

TEST_F(SettingsTest, EveryConstructionStartsANewLog) {
    const std::wstring directory = root_ + L"\\x\\y";
    SetDword(L"CommLogging", 1);
    SetString(L"LoggingPath", directory);
    Read();
    EXPECT_TRUE(IsDirectory(directory)) << "ReadSettings must create " << Narrow(directory);
    CommLog::Write(L"first object");
    ASSERT_TRUE(FileExists(CommLog::FilePath()));

    Read();
    EXPECT_FALSE(FileExists(CommLog::FilePath()))
        << "the second construction must delete the first log";
    CommLog::Write(L"second object");
    const std::string text = ReadFile(CommLog::FilePath());
    EXPECT_EQ(std::string::npos, text.find("first object")) << text;
    EXPECT_NE(std::string::npos, text.find(": second object \r\n")) << text;
}

TEST_F(SettingsTest, OverLongLoggingPathFallsBackToTheDefault) {
    SetString(L"LoggingPath", std::wstring(2000, L'x'));  // 4002 bytes with the terminator
    Read();
    EXPECT_EQ("C:\\Orvane\\Logging", Narrow(CommLog::Directory()));
    SetString(L"LoggingPath", root_);
    Read();
    EXPECT_EQ(Narrow(root_), Narrow(CommLog::Directory())) << "a path that fits is used";
}

TEST(CommLogFormat, LineLayout) {
    SYSTEMTIME local = {};
    local.wHour = 14;
    local.wMinute = 3;
    local.wSecond = 7;
    EXPECT_EQ("14:03:07.215:   communicate (read single) \r\n",
              Narrow(FormatLogLine(local, 215, L"  communicate (read single)")));
    local.wHour = 0;
    EXPECT_EQ("00:03:07.005: x \r\n", Narrow(FormatLogLine(local, 5, L"x")));
}

TEST(CommLogFormat, LinesAreAppendedInAnsi) {
    const std::wstring directory = TempDirectory() + L"\\ov_log_ansi";
    RemoveTree(directory);
    CreateDirectoryWalk(directory);
    CommLog::Configure(1, directory);
    CommLog::Write(L"Ger\u00e4t 1");
    CommLog::Write(L"%s %d");
    const std::string text = ReadFile(CommLog::FilePath());
    CommLog::SwitchOff();
    RemoveTree(directory);
    EXPECT_NE(std::string::npos, text.find(": Ger\xe4t 1 \r\n"))
        << "code page 1252 expected: " << text;
    EXPECT_NE(std::string::npos, text.find(": %s %d \r\n"))
        << "the message is not a format: " << text;
    EXPECT_EQ(2u, std::count(text.begin(), text.end(), '\n')) << text;
}

TEST(CommLogFormat, CommunicationBracket) {
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    const std::wstring directory = TempDirectory() + L"\\ov_bracket";
    RemoveTree(directory);
    CreateDirectoryWalk(directory);
    SetCurrentDirectoryW(directory.c_str());
    CommLog::SwitchOff();
    { CommunicationScope scope; }
    CommunicationBracket(true);
    SetCurrentDirectoryW(saved);
    const std::string text = ReadFile(directory + L"\\debugInfo.txt");
    RemoveTree(directory);
    EXPECT_EQ("Start KommunikationEnde  KommunikationStart Kommunikation", text);
}

TEST(CommLogFormat, ValueTexts) {
    auto text = [](VARTYPE vt, auto set) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = vt;
        set(v);
        std::string result = Narrow(ValueText(v));
        VariantClear(&v);
        return result;
    };
    EXPECT_EQ("-5 (VT_I1)", text(VT_I1, [](VARIANT& v) { V_I1(&v) = -5; }));
    EXPECT_EQ("-300 (VT_I2)", text(VT_I2, [](VARIANT& v) { V_I2(&v) = -300; }));
    EXPECT_EQ("-70000 (VT_I4)", text(VT_I4, [](VARIANT& v) { V_I4(&v) = -70000; }));
    EXPECT_EQ("200 (VT_UI1)", text(VT_UI1, [](VARIANT& v) { V_UI1(&v) = 200; }));
    EXPECT_EQ("65535 (VT_UI2)", text(VT_UI2, [](VARIANT& v) { V_UI2(&v) = 65535; }));
    EXPECT_EQ("4294967295 (VT_UI4)", text(VT_UI4, [](VARIANT& v) { V_UI4(&v) = 0xFFFFFFFF; }));
    EXPECT_EQ("4.250000 (VT_R4)", text(VT_R4, [](VARIANT& v) { V_R4(&v) = 4.25f; }));
    EXPECT_EQ("0.500000 (VT_R8)", text(VT_R8, [](VARIANT& v) { V_R8(&v) = 0.5; }));
    EXPECT_EQ("Pump 1 (VT_BSTR)",
              text(VT_BSTR, [](VARIANT& v) { V_BSTR(&v) = SysAllocString(L"Pump 1"); }));
    EXPECT_EQ("true (VT_BOOL)", text(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; }));
    EXPECT_EQ("false (VT_BOOL)", text(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = 1; }));
    EXPECT_EQ("", text(VT_EMPTY, [](VARIANT&) {}));
    EXPECT_EQ("...", text(VT_DATE, [](VARIANT& v) { V_DATE(&v) = 1.0; }));
    EXPECT_EQ("0AFF00 (VT_ARRAY|VT_UI1)", text(VT_ARRAY | VT_UI1, [](VARIANT& v) {
                  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 3);
                  BYTE* data = nullptr;
                  SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
                  data[0] = 0x0A;
                  data[1] = 0xFF;
                  data[2] = 0x00;
                  SafeArrayUnaccessData(array);
                  V_ARRAY(&v) = array;
              }));
}

}  // namespace
}  // namespace orvane::interaction
