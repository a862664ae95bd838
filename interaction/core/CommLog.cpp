#include "CommLog.h"

#include <atomic>
#include <string>

#include "com/Strings.h"
#include "com/Sync.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kLogFileName[] = L"OV_Interaction_Log.txt";
constexpr wchar_t kBracketFileName[] = L"debugInfo.txt";

std::atomic<bool> g_master{false};
std::atomic<bool> g_file{false};
std::atomic<bool> g_debugger{false};

// The directory is replaced by constructions on other threads while lines are
// written: it is copied under this lock, never read in place.
com::CriticalSection& DirectoryLock() {
    static com::CriticalSection lock;
    return lock;
}
std::wstring& DirectoryText() {
    static std::wstring directory;  // guarded by DirectoryLock()
    return directory;
}

// Appends the bytes with FILE_APPEND_DATA: each write lands at the end of the file
// as one piece, so lines of concurrent writers never overwrite each other.
void AppendToFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

void CommLog::SwitchOff() {
    g_master = false;
    g_file = false;
    g_debugger = false;
}

void CommLog::Configure(DWORD commLogging, std::wstring directory) {
    {
        com::CsLock guard(DirectoryLock());
        DirectoryText() = std::move(directory);
    }
    g_file = (commLogging & 1) != 0;
    g_debugger = (commLogging & 2) != 0;
    g_master = commLogging != 0;
}

bool CommLog::On() { return g_master; }
bool CommLog::FileOn() { return g_file; }
bool CommLog::DebuggerOn() { return g_debugger; }

std::wstring CommLog::Directory() {
    com::CsLock guard(DirectoryLock());
    return DirectoryText();
}

std::wstring CommLog::FilePath() { return Directory() + L"\\" + kLogFileName; }

void CommLog::Write(std::wstring_view message) {
    if (g_debugger) {
        const std::string text =
            com::WideToAnsi(std::wstring(L"OV_Interaction: ") + std::wstring(message));
        OutputDebugStringA(text.c_str());
    }
    if (!g_file) return;
    const std::wstring directory = Directory();
    if (directory.empty()) return;
    SYSTEMTIME local, system;
    GetLocalTime(&local);
    GetSystemTime(&system);
    AppendToFile(directory + L"\\" + kLogFileName,
                 com::WideToAnsi(FormatLogLine(local, system.wMilliseconds, message)));
}

std::wstring FormatLogLine(const SYSTEMTIME& local, WORD milliseconds, std::wstring_view message) {
    std::wstring line = com::Format(L"%02u:%02u:%02u", local.wHour, local.wMinute, local.wSecond);
    line += com::Format(L".%03u: ", static_cast<unsigned>(milliseconds));
    line += message;
    line += L" \r\n";
    return line;
}

void CreateDirectoryWalk(const std::wstring& directory) {
    for (size_t i = 0; i < directory.size(); ++i) {
        if (directory[i] == L'\\' || directory[i] == L'/')
            CreateDirectoryW(directory.substr(0, i + 1).c_str(), nullptr);
        else if (i + 1 == directory.size())
            CreateDirectoryW(directory.c_str(), nullptr);
    }
}

void CommunicationBracket(bool start) {
    AppendToFile(kBracketFileName, start ? "Start Kommunikation" : "Ende  Kommunikation");
}

std::wstring ValueText(const VARIANT& value) {
    switch (V_VT(&value)) {
        case VT_EMPTY: return L"";
        case VT_I1: return com::Format(L"%i (VT_I1)", static_cast<int>(V_I1(&value)));
        case VT_I2: return com::Format(L"%i (VT_I2)", static_cast<int>(V_I2(&value)));
        case VT_I4: return com::Format(L"%li (VT_I4)", static_cast<long>(V_I4(&value)));
        case VT_UI1: return com::Format(L"%u (VT_UI1)", static_cast<unsigned>(V_UI1(&value)));
        case VT_UI2: return com::Format(L"%u (VT_UI2)", static_cast<unsigned>(V_UI2(&value)));
        case VT_UI4: return com::Format(L"%lu (VT_UI4)", static_cast<unsigned long>(V_UI4(&value)));
        case VT_R4: return com::Format(L"%f (VT_R4)", static_cast<double>(V_R4(&value)));
        case VT_R8: return com::Format(L"%lf (VT_R8)", V_R8(&value));
        case VT_BSTR: {
            std::wstring text(V_BSTR(&value) ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value)));
            return text + L" (VT_BSTR)";
        }
        case VT_BOOL:
            return V_BOOL(&value) == VARIANT_TRUE ? L"true (VT_BOOL)" : L"false (VT_BOOL)";
        case VT_ARRAY | VT_UI1: {
            static const wchar_t kDigits[] = L"0123456789ABCDEF";
            std::wstring text;
            SAFEARRAY* array = V_ARRAY(&value);
            LONG lower = 0, upper = -1;
            if (array && SafeArrayGetDim(array) == 1 &&
                SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) &&
                SUCCEEDED(SafeArrayGetUBound(array, 1, &upper))) {
                const BYTE* bytes = nullptr;
                if (SUCCEEDED(SafeArrayAccessData(
                        array, reinterpret_cast<void**>(const_cast<BYTE**>(&bytes))))) {
                    for (LONG i = 0; i <= upper - lower; ++i) {
                        text += kDigits[bytes[i] >> 4];
                        text += kDigits[bytes[i] & 0x0F];
                    }
                    SafeArrayUnaccessData(array);
                }
            }
            return text + L" (VT_ARRAY|VT_UI1)";
        }
        default: return L"...";
    }
}

}  // namespace orvane::interaction
