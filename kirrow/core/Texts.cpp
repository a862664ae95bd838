#include "Texts.h"

#include "com/CommandLine.h"
#include "com/Strings.h"
#include "com/ValueText.h"

namespace kirrow {

std::wstring StateText(DWORD state) {
    static const wchar_t* const kStates[] = {
        L"OPC_STATUS_RUNNING",   L"OPC_STATUS_FAILED", L"OPC_STATUS_NOCONFIG",
        L"OPC_STATUS_SUSPENDED", L"OPC_STATUS_TEST",
    };
    if (state >= OPC_STATUS_RUNNING && state <= OPC_STATUS_TEST) return kStates[state - 1];
    return com::Format(L"unknown state (%lu)", state);
}

std::wstring AccessRightsText(DWORD rights) {
    const bool readable = rights & OPC_READABLE, writeable = rights & OPC_WRITEABLE;
    if (readable && writeable) return L"OPC_READABLE | OPC_WRITEABLE";
    if (readable) return L"OPC_READABLE";
    if (writeable) return L"OPC_WRITEABLE";
    return L"none";
}

std::wstring ReadValueText(const VARIANT& value) {
    if (V_VT(&value) == VT_BSTR) {
        const BSTR text = V_BSTR(&value);
        return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    }
    return FormatValue(value);
}

std::wstring QualityAndTimeText(WORD quality, const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME time;
    std::wstring when = L"(no time)";
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &time))
        when = com::Format(L"%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear, time.wMonth,
                           time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return FormatQuality(quality) + L"   " + when;
}

std::wstring HexText(HRESULT hr) { return com::Format(L"%lX", static_cast<unsigned long>(hr)); }

StartupAction ParseStartupAction(const wchar_t* commandLine) {
    if (com::HasSwitch(commandLine, L"UnregServer")) return StartupAction::kUnregister;
    return com::HasSwitch(commandLine, L"RegServer") ? StartupAction::kRegister
                                                     : StartupAction::kRun;
}

}  // namespace kirrow
