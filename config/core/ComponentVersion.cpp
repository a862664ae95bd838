#include "ComponentVersion.h"

#include <windows.h>

#include <vector>

#include "com/Strings.h"

namespace ovconfig {
namespace {

std::wstring FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ReadComponentVersion(const std::wstring& path, ComponentVersion* out) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return false;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    out->version =
        com::Format(L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                    HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));

    std::wstring block = L"040904E4";
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translation), &length) &&
        translation && length >= sizeof(Translation))
        block = com::Format(L"%04x%04x", translation->language, translation->codePage);

    out->internalName.clear();
    wchar_t* name = nullptr;
    const std::wstring query = L"\\StringFileInfo\\" + block + L"\\InternalName";
    if (VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&name), &length) &&
        name && length > 0)
        out->internalName.assign(name, wcsnlen(name, length));
    if (out->internalName.empty()) out->internalName = FileName(path);
    return true;
}

}  // namespace ovconfig
