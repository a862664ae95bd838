#include "RegKey.h"

#include <utility>

namespace ovconfig {

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Close();
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

LONG RegKey::Open(HKEY parent, const std::wstring& path, REGSAM access) {
    Close();
    return RegOpenKeyExW(parent, path.c_str(), 0, access, &key_);
}

LONG RegKey::Create(HKEY parent, const std::wstring& path, REGSAM access) {
    Close();
    return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                           nullptr, &key_, nullptr);
}

void RegKey::Close() {
    if (key_) RegCloseKey(std::exchange(key_, nullptr));
}

bool RegKey::ReadText(const wchar_t* name, std::wstring* out, DWORD* type, DWORD max_bytes) const {
    if (!key_) return false;
    DWORD found = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key_, name, nullptr, &found, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (found != REG_SZ && found != REG_EXPAND_SZ) return false;
    if (max_bytes && size > max_bytes) return false;
    // The value may change between the two calls; retry with the new size.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        const LONG status =
            RegQueryValueExW(key_, name, nullptr, &found, reinterpret_cast<BYTE*>(&data[0]), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (status != ERROR_SUCCESS || (found != REG_SZ && found != REG_EXPAND_SZ)) return false;
        if (max_bytes && got > max_bytes) return false;
        data.resize(got / sizeof(wchar_t));
        // Stored data need not be terminated, or may carry more than one terminator.
        const size_t end = data.find(L'\0');
        if (end != std::wstring::npos) data.resize(end);
        *out = std::move(data);
        if (type) *type = found;
        return true;
    }
    return false;
}

bool RegKey::ReadNumber(const wchar_t* name, DWORD* out) const {
    if (!key_) return false;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return false;
    *out = value;
    return true;
}

LONG RegKey::WriteText(const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG RegKey::WriteNumber(const wchar_t* name, DWORD value) {
    return RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

std::vector<std::wstring> RegKey::SubkeyNames() const {
    std::vector<std::wstring> names;
    if (!key_) return names;
    // Key names are at most 255 characters.
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        const LONG status =
            RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

}  // namespace ovconfig
