#include "FileVersion.h"

#include <cwchar>
#include <vector>

bool ParseFileVersion(const wchar_t* text, ServerVersion* version)
{
    if (!text || !version)
        return false;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (swscanf(text, L"%u,%u,%u,%u", &a, &b, &c, &d) != 4)
        return false;
    version->major = static_cast<WORD>(a);
    version->minor = static_cast<WORD>(b);
    version->build = static_cast<WORD>(d);
    return true;
}

namespace {

bool QueryString(const std::vector<BYTE>& block, const wchar_t* path, std::wstring* value)
{
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path, &data, &length) || !data || length == 0)
        return false;
    value->assign(static_cast<const wchar_t*>(data));
    return true;
}

}  // namespace

bool ReadModuleVersion(HMODULE module, ServerVersion* version, std::wstring* vendor)
{
    wchar_t path[MAX_PATH];
    const DWORD pathLength = GetModuleFileNameW(module, path, MAX_PATH);
    if (pathLength == 0 || pathLength >= MAX_PATH)
        return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return false;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data()))
        return false;

    bool complete = true;
    std::wstring text;
    if (QueryString(block, L"\\StringFileInfo\\040704b0\\FileVersion", &text))
        complete = ParseFileVersion(text.c_str(), version) && complete;
    else
        complete = false;
    if (QueryString(block, L"\\StringFileInfo\\040704b0\\CompanyName", &text))
        *vendor = text;
    else
        complete = false;
    return complete;
}
