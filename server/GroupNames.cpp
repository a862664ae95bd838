#include "GroupNames.h"

#include <windows.h>

#include <cwchar>

std::wstring GeneratedGroupName(unsigned number)
{
    wchar_t buffer[32];
    swprintf(buffer, 32, L"SvrProvName%03u", number);
    return buffer;
}

bool ToAnsiKey(const wchar_t* name, std::string* key)
{
    constexpr UINT kAnsiCodePage = 1252;
    key->clear();
    if (!name || !*name)
        return true;
    const int size = WideCharToMultiByte(kAnsiCodePage, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string converted(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(kAnsiCodePage, 0, name, -1, &converted[0], size, nullptr, nullptr) != size)
        return false;
    converted.resize(static_cast<size_t>(size - 1));
    *key = std::move(converted);
    return true;
}
