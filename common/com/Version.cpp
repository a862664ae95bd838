#include "com/Version.h"

#include <cwchar>
#include <utility>
#include <vector>

#include "com/Module.h"
#include "com/Result.h"
#include "com/Strings.h"

namespace com {

bool ParseFileVersion(const std::wstring& text, FileVersion* out) {
    if (!out) return false;
    unsigned int major = 0, minor = 0, dropped = 0, build = 0;
    if (std::swscanf(text.c_str(), L"%u,%u,%u,%u", &major, &minor, &dropped, &build) != 4)
        return false;
    if (major > 0xFFFF || minor > 0xFFFF || build > 0xFFFF) return false;
    out->major = static_cast<WORD>(major);
    out->minor = static_cast<WORD>(minor);
    out->build = static_cast<WORD>(build);
    return true;
}

HRESULT VersionResource::Load(const std::wstring& path) {
    return ComBoundary([&]() -> HRESULT {
        const std::wstring file = path.empty() ? Module::Get().path() : path;
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
        RETURN_LAST_ERROR_IF(size == 0);
        std::vector<BYTE> data(size);
        RETURN_LAST_ERROR_IF(!::GetFileVersionInfoW(file.c_str(), 0, size, data.data()));
        data_ = std::move(data);
        return S_OK;
    });
}

bool VersionResource::FixedVersion(std::wstring* out) const {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (data_.empty() ||
        !::VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        !fixed || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    *out = Format(L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    return true;
}

std::wstring VersionResource::FirstStringTable() const {
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!data_.empty() &&
        ::VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &length) &&
        translation && length >= sizeof(Translation))
        return Format(L"%04x%04x", translation->language, translation->codePage);
    return L"040904E4";
}

bool VersionResource::String(const wchar_t* table, const wchar_t* name, std::wstring* out) const {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (data_.empty() ||
        !::VerQueryValueW(data_.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) ||
        !value)
        return false;
    out->assign(value, ::wcsnlen(value, length));
    return true;
}

HRESULT ReadVersionString(const std::wstring& path, const wchar_t* name, std::wstring* out) {
    RETURN_IF_NULL_POINTER(name);
    RETURN_IF_NULL_POINTER(out);
    VersionResource resource;
    RETURN_IF_FAILED(resource.Load(path));
    return ComBoundary([&]() -> HRESULT {
        if (!resource.String(L"040704b0", name, out))
            return HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return S_OK;
    });
}

HRESULT ReadModuleVersion(const std::wstring& path, ModuleVersion* out) {
    RETURN_IF_NULL_POINTER(out);
    std::wstring text;
    RETURN_IF_FAILED(ReadVersionString(path, L"FileVersion", &text));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), !ParseFileVersion(text, &out->version));
    return ReadVersionString(path, L"CompanyName", &out->company);
}

}  // namespace com
