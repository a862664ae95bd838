// Version resource, strings, error boxes and the log, error information, dispatch.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>

#include "HrCheck.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/ErrorBox.h"
#include "com/ErrorInfo.h"
#include "com/Log.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Resources.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Time.h"
#include "com/Version.h"
#include "comtest.h"

namespace {

TEST(Version, ParsesFileVersionDroppingTheThirdNumber) {
    struct Case {
        const wchar_t* text;
        bool ok;
        WORD major, minor, build;
    } cases[] = {
        {L"1, 5, 0, 27", true, 1, 5, 27},
        {L"1,0,0,1", true, 1, 0, 1},
        {L"2, 10, 99, 65535", true, 2, 10, 65535},
        {L"1, 5", false, 0, 0, 0},
        {L"", false, 0, 0, 0},
        {L"a, b, c, d", false, 0, 0, 0},
        {L"1, 5, 0, 70000", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        com::FileVersion v;
        EXPECT_EQ(c.ok, com::ParseFileVersion(c.text, &v))
            << "ParseFileVersion(\"" << com::WideToUtf8(c.text) << "\")";
        if (c.ok) {
            EXPECT_EQ(c.major, v.major) << com::WideToUtf8(c.text);
            EXPECT_EQ(c.minor, v.minor) << com::WideToUtf8(c.text);
            EXPECT_EQ(c.build, v.build) << com::WideToUtf8(c.text);
        }
    }
}

TEST(Version, ReadsThisProgramsResource) {
    com::ModuleVersion version;
    ASSERT_HR(S_OK, com::ReadModuleVersion(L"", &version)) << "ReadModuleVersion(test_common.exe)";
    EXPECT_EQ(1, version.version.major);
    EXPECT_EQ(0, version.version.minor);
    EXPECT_EQ(L"Axolent", version.company);
    std::wstring missing;
    EXPECT_TRUE(FAILED(com::ReadVersionString(L"", L"NoSuchValue", &missing)))
        << "missing version value";
}

TEST(Strings, ConversionsAndGuids) {
    EXPECT_EQ(std::string("\xE4\xF6\xFC"), com::WideToAnsi(L"äöü", 1252))
        << "German umlauts in code page 1252";
    EXPECT_EQ(L"äöü", com::AnsiToWide("\xE4\xF6\xFC", 1252));
    EXPECT_EQ(std::string("\xC3\xA4"), com::WideToUtf8(L"ä"));
    EXPECT_EQ(L"ä", com::Utf8ToWide("\xC3\xA4"));
    EXPECT_EQ("", com::WideToAnsi(L""));

    const GUID clsid = {
        0xCA99FEF3, 0xFB7A, 0x11D4, {0xA8, 0x5E, 0x00, 0x60, 0x08, 0x7A, 0xB0, 0x5A}};
    EXPECT_EQ(L"CA99FEF3-FB7A-11D4-A85E-0060087AB05A", com::GuidToString(clsid));
    EXPECT_EQ(L"{CA99FEF3-FB7A-11D4-A85E-0060087AB05A}", com::GuidToString(clsid, true));
    GUID parsed = {};
    EXPECT_TRUE(com::StringToGuid(L"ca99fef3-fb7a-11d4-a85e-0060087ab05a", &parsed));
    EXPECT_EQ(clsid, parsed);
    EXPECT_TRUE(com::StringToGuid(L"{CA99FEF3-FB7A-11d4-A85E-0060087AB05A}", &parsed));
    EXPECT_FALSE(com::StringToGuid(L"Axolent.Orvane", &parsed)) << "a ProgID is not a GUID";
    EXPECT_FALSE(com::StringToGuid(L"CA99FEF3-FB7A-11D4-A85E-0060087AB05", &parsed));
    EXPECT_EQ(L"0x80004005", com::HrToString(E_FAIL));
    EXPECT_EQ(L"n=5 s=abc", com::Format(L"n=%d s=%ls", 5, L"abc"));
    EXPECT_TRUE(com::EqualsNoCase(L"RegServer", L"REGSERVER"));
    EXPECT_FALSE(com::EqualsNoCase(L"RegServer", L"RegServe"));
}

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A scratch log file, and HKLM\Software\Axolent\Orvane\ShowErrorBoxes restored after each test.
class LogAndErrorBox : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Axolent\\Orvane", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key_, nullptr));
        DWORD size = sizeof(saved_);
        had_value_ = ::RegQueryValueExW(key_, L"ShowErrorBoxes", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(&saved_), &size) == ERROR_SUCCESS;
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        log_path_ = std::wstring(temp) + L"orvane_com_test.log";
        ::DeleteFileW(log_path_.c_str());
        old_log_ = com::Log::Get().file();
        com::Log::Get().SetFile(log_path_);
    }
    void TearDown() override {
        if (had_value_)
            ::RegSetValueExW(key_, L"ShowErrorBoxes", 0, REG_DWORD,
                             reinterpret_cast<BYTE*>(&saved_), sizeof(saved_));
        else
            ::RegDeleteValueW(key_, L"ShowErrorBoxes");
        ::RegCloseKey(key_);
        com::Log::Get().SetFile(old_log_);
        ::DeleteFileW(log_path_.c_str());
    }
    void Set(DWORD value) {
        ::RegSetValueExW(key_, L"ShowErrorBoxes", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value),
                         sizeof(value));
    }

    HKEY key_ = nullptr;
    DWORD saved_ = 0;
    bool had_value_ = false;
    std::wstring log_path_, old_log_;
};

TEST_F(LogAndErrorBox, SuppressedBoxIsLoggedWithCaptionAndText) {
    Set(0);
    EXPECT_FALSE(com::ErrorBoxesEnabled()) << "ShowErrorBoxes = 0";
    EXPECT_EQ(0, com::ReportErrorBox(L"Interaktionsobjekt fehlt: Gerät 3", L"Orvane Error",
                                     MB_OK | MB_ICONERROR))
        << "a suppressed box returns 0";
    const std::string log = ReadFile(log_path_);
    EXPECT_NE(std::string::npos, log.find("Orvane Error")) << "log: " << log;
    EXPECT_NE(std::string::npos, log.find(com::WideToUtf8(L"Interaktionsobjekt fehlt: Gerät 3")))
        << "log: " << log;
    EXPECT_NE(std::string::npos, log.find("ERROR")) << "log: " << log;
}

TEST_F(LogAndErrorBox, LinesFromManyThreadsStayWhole) {
    constexpr int kThreads = 4, kLines = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) LOG_INFO(L"thread %d line %d end", t, i);
        });
    for (auto& thread : threads) thread.join();
    std::istringstream log(ReadFile(log_path_));
    std::string line;
    int complete = 0;
    while (std::getline(log, line)) {
        EXPECT_EQ(line.find(" INFO "), line.rfind(" INFO ")) << "one entry per line: " << line;
        if (line.size() > 4 && line.compare(line.size() - 4, 4, "end\r") == 0) ++complete;
    }
    EXPECT_EQ(kThreads * kLines, complete) << "every line written whole";
}

TEST_F(LogAndErrorBox, MissingOrNonZeroValueMeansShown) {
    ::RegDeleteValueW(key_, L"ShowErrorBoxes");
    EXPECT_TRUE(com::ErrorBoxesEnabled()) << "missing value";
    Set(1);
    EXPECT_TRUE(com::ErrorBoxesEnabled()) << "ShowErrorBoxes = 1";
}

TEST_F(LogAndErrorBox, MappedFailureLogsTheOriginal) {
    EXPECT_HR(E_FAIL, com::MapFailure(E_FAIL, E_ACCESSDENIED, "connecting"));
    const std::string log = ReadFile(log_path_);
    EXPECT_NE(std::string::npos, log.find("connecting failed with 0x80070005")) << "log: " << log;
}

HRESULT PassOn(HRESULT hr) {
    RETURN_IF_FAILED(hr);
    return S_FALSE;
}

TEST_F(LogAndErrorBox, FailureTraceNamesExpressionAndLineOnlyWhenOn) {
    PassOn(E_ACCESSDENIED);
    EXPECT_EQ(std::string::npos, ReadFile(log_path_).find("from hr")) << "off: nothing";
    com::SetFailureTrace(true);
    PassOn(E_ACCESSDENIED);
    PassOn(S_OK);
    com::SetFailureTrace(false);
    const std::string log = ReadFile(log_path_);
    EXPECT_NE(std::string::npos, log.find("MiscTest.cpp(")) << "log: " << log;
    EXPECT_NE(std::string::npos, log.find("DEBUG")) << "log: " << log;
    EXPECT_EQ(log.find("0x80070005 from hr"), log.rfind("0x80070005 from hr"))
        << "one failure, one line: " << log;
    EXPECT_NE(std::string::npos, log.find("0x80070005 from hr")) << "log: " << log;
}

TEST(BstrView, NullReadsAsEmptyAndEmbeddedNulsCount) {
    EXPECT_TRUE(com::BstrView(nullptr).empty());
    com::UniqueBstr text(std::wstring_view(L"a\0b", 3));
    EXPECT_EQ(3u, com::BstrView(text.get()).size());
}

TEST(ErrorInfo, SetsSourceDescriptionAndGuidForTheCaller) {
    const HRESULT hr =
        com::SetErrorInfo(E_INVALIDARG, IID_IPersist, L"OV_Param", L"Wert außerhalb des Bereichs");
    EXPECT_HR(E_INVALIDARG, hr) << "SetErrorInfo passes the HRESULT through";
    com::ComPtr<IErrorInfo> info;
    ASSERT_HR(S_OK, ::GetErrorInfo(0, info.put()));
    com::UniqueBstr source, description;
    GUID guid = {};
    info->GetSource(source.put());
    info->GetDescription(description.put());
    info->GetGUID(&guid);
    EXPECT_EQ(L"OV_Param", source.str());
    EXPECT_EQ(L"Wert außerhalb des Bereichs", description.str());
    EXPECT_EQ(IID_IPersist, guid);
}

class CSupportsErrors : public com::Object<IPersist, com::SupportErrorInfo<IPersist>> {
public:
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

TEST(ErrorInfo, SupportErrorInfoNamesItsInterfaces) {
    com::ComPtr<CSupportsErrors> object;
    ASSERT_HR(S_OK, com::MakeObject(&object));
    com::ComPtr<ISupportErrorInfo> support;
    ASSERT_HR(S_OK, object.query(&support));
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(IID_IPersist));
    EXPECT_HR(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));
}

// A dual interface served from this program's embedded type library.
class CDual : public com::Object<com::Dual<ITestDual>> {
public:
    STDMETHODIMP Add(LONG a, LONG b, LONG* result) override {
        *result = a + b;
        return S_OK;
    }
    STDMETHODIMP get_Name(BSTR* name) override { return com::AllocBstr(L"dual", name); }
};

TEST(Dispatch, InvokesThroughTheEmbeddedTypeLibrary) {
    com::ComPtr<CDual> object;
    ASSERT_HR(S_OK, com::MakeObject(&object));
    com::ComPtr<IDispatch> dispatch;
    ASSERT_HR(S_OK, object.query(&dispatch)) << "Dual<I> answers IDispatch";
    LPOLESTR name = const_cast<LPOLESTR>(L"Add");
    DISPID id = 0;
    ASSERT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << "GetIDsOfNames(Add)";
    EXPECT_EQ(1, id);
    VARIANT args[2];
    V_VT(&args[0]) = VT_I4, V_I4(&args[0]) = 2;  // arguments in reverse order
    V_VT(&args[1]) = VT_I4, V_I4(&args[1]) = 40;
    DISPPARAMS params = {args, nullptr, 2, 0};
    com::UniqueVariant result;
    ASSERT_HR(S_OK, dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, result.put(),
                                     nullptr, nullptr));
    EXPECT_EQ(VT_I4, result.vt());
    EXPECT_EQ(42, V_I4(result.get()));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_HR(S_OK, dispatch->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.put(),
                                     nullptr, nullptr));
    EXPECT_STREQ(L"dual", V_BSTR(result.get()));
    LPOLESTR bad = const_cast<LPOLESTR>(L"Nope");
    EXPECT_HR(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, &bad, 1, 0, &id));
}

}  // namespace

namespace {

FILETIME FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms) {
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, ms};
    FILETIME ft = {};
    ::SystemTimeToFileTime(&st, &ft);
    return ft;
}

TEST(Time, DateAndFileTimeKeepMilliseconds) {
    const FILETIME stamp = FileTimeOf(2026, 12, 7, 11, 12, 13, 456);
    const DATE date = com::FileTimeToDate(stamp);
    FILETIME back = {};
    ASSERT_TRUE(com::DateToFileTime(date, &back));
    EXPECT_EQ(stamp.dwLowDateTime, back.dwLowDateTime) << "round trip keeps the milliseconds";
    EXPECT_EQ(stamp.dwHighDateTime, back.dwHighDateTime);

    DATE ole = 0;
    SYSTEMTIME st = {2026, 12, 0, 7, 11, 12, 13, 0};
    ::SystemTimeToVariantTime(&st, &ole);
    EXPECT_NEAR(ole + 0.456 / 86400, date, 1e-9) << "same day and time as OLE's own conversion";
}

TEST(Time, DatesAroundAndBeforeDayZero) {
    FILETIME ft = {};
    ASSERT_TRUE(com::DateToFileTime(0.0, &ft));
    const FILETIME zero = FileTimeOf(1899, 12, 30, 0, 0, 0, 0);
    EXPECT_EQ(zero.dwLowDateTime, ft.dwLowDateTime) << "DATE 0 is 1899-12-30 00:00";
    ASSERT_TRUE(com::DateToFileTime(-1.25, &ft));
    const FILETIME before = FileTimeOf(1899, 12, 29, 6, 0, 0, 0);
    EXPECT_EQ(before.dwLowDateTime, ft.dwLowDateTime) << "DATE -1.25 is 1899-12-29 06:00";
    EXPECT_EQ(before.dwHighDateTime, ft.dwHighDateTime);
    EXPECT_DOUBLE_EQ(-1.25, com::FileTimeToDate(before));
    EXPECT_FALSE(com::DateToFileTime(-200000.0, &ft)) << "before 1601";
    EXPECT_FALSE(com::DateToFileTime(std::nan(""), &ft)) << "NaN";
    EXPECT_FALSE(com::DateToFileTime(3000000.0, &ft)) << "after 9999";
}

}  // namespace
