#include "GroupNames.h"

#include <cwchar>

#include "com/Strings.h"

std::wstring GeneratedGroupName(unsigned number) {
    wchar_t buffer[32];
    swprintf(buffer, 32, L"SvrProvName%03u", number);
    return buffer;
}

std::string ContainerKey(const wchar_t* name) {
    constexpr UINT kAnsiCodePage = 1252;
    return name ? com::WideToAnsi(name, kAnsiCodePage) : std::string();
}
