#include "com/Version.h"

#include <cwchar>
#include <vector>

#include "com/Module.h"
#include "com/Result.h"

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

HRESULT ReadVersionString(const std::wstring& path, const wchar_t* name, std::wstring* out) {
    RETURN_IF_NULL_POINTER(name);
    RETURN_IF_NULL_POINTER(out);
    return ComBoundary([&]() -> HRESULT {
        const std::wstring file = path.empty() ? Module::Get().path() : path;
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
        RETURN_LAST_ERROR_IF(size == 0);
        std::vector<BYTE> data(size);
        RETURN_LAST_ERROR_IF(!::GetFileVersionInfoW(file.c_str(), 0, size, data.data()));
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040704b0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data.data(), query.c_str(), &value, &length) || !value)
            return HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
        std::wstring text(static_cast<const wchar_t*>(value), length);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        *out = text;
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
