#include "Texts.h"

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
    bool reg = false, unreg = false;
    const std::wstring line = commandLine ? commandLine : L"";
    size_t position = 0;
    while (position < line.size()) {
        const size_t start = line.find_first_not_of(L" \t", position);
        if (start == std::wstring::npos) break;
        size_t end = line.find_first_of(L" \t", start);
        if (end == std::wstring::npos) end = line.size();
        const std::wstring token = line.substr(start, end - start);
        position = end;
        if (token.size() < 2 || (token[0] != L'-' && token[0] != L'/')) continue;
        if (com::EqualsNoCase(token.substr(1), L"UnregServer")) unreg = true;
        if (com::EqualsNoCase(token.substr(1), L"RegServer")) reg = true;
    }
    if (unreg) return StartupAction::kUnregister;
    return reg ? StartupAction::kRegister : StartupAction::kRun;
}

}  // namespace kirrow
