#include "com/RegKey.h"

#include <cstring>
#include <utility>

namespace com {

void RegKey::reset(HKEY owned) noexcept {
    if (key_ && key_ != owned) ::RegCloseKey(key_);
    key_ = owned;
}

LSTATUS RegKey::Open(HKEY parent, const wchar_t* path, REGSAM access) noexcept {
    reset();
    return ::RegOpenKeyExW(parent, path, 0, access, &key_);
}

LSTATUS RegKey::Create(HKEY parent, const std::wstring& path, REGSAM access,
                       bool* created) noexcept {
    reset();
    DWORD disposition = 0;
    const LSTATUS status = ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, access, nullptr,
                                             &key_, &disposition);
    if (created) *created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return status;
}

LSTATUS RegKey::ReadString(const wchar_t* name, std::wstring* text) const {
    std::wstring read;
    DWORD type = 0;
    const LSTATUS status = ReadText(name, &read, &type);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_SZ) return ERROR_UNSUPPORTED_TYPE;
    *text = std::move(read);
    return ERROR_SUCCESS;
}

LSTATUS RegKey::ReadText(const wchar_t* name, std::wstring* text, DWORD* type,
                         DWORD maxBytes) const {
    const auto isText = [](DWORD found) { return found == REG_SZ || found == REG_EXPAND_SZ; };
    DWORD found = 0, size = 0;
    LSTATUS status = ::RegQueryValueExW(key_, name, nullptr, &found, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (!isText(found)) return ERROR_UNSUPPORTED_TYPE;
    if (maxBytes && size > maxBytes) return ERROR_MORE_DATA;
    // The value may grow between the two calls; a few tries with the new size.
    for (int attempt = 0; attempt < 4; ++attempt) {
        // One character more than stored, so that the text always ends.
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = ::RegQueryValueExW(key_, name, nullptr, &found,
                                    reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        if (!isText(found)) return ERROR_UNSUPPORTED_TYPE;
        if (maxBytes && got > maxBytes) return ERROR_MORE_DATA;
        text->assign(buffer.data());
        if (type) *type = found;
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LSTATUS RegKey::ReadDword(const wchar_t* name, DWORD* value) const noexcept {
    DWORD type = 0, number = 0, size = sizeof(number);
    const LSTATUS status =
        ::RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
    // A longer value of another type reports ERROR_MORE_DATA; its type still tells.
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return status;
    if (type != REG_DWORD) return ERROR_UNSUPPORTED_TYPE;
    if (status != ERROR_SUCCESS) return status;
    if (size != sizeof(number)) return ERROR_INVALID_DATA;
    *value = number;
    return ERROR_SUCCESS;
}

LSTATUS RegKey::ReadBytes(const wchar_t* name, DWORD maxBytes, std::vector<BYTE>* data) const {
    std::vector<BYTE> buffer(maxBytes, 0);
    DWORD size = maxBytes;
    const LSTATUS status = ::RegQueryValueExW(key_, name, nullptr, nullptr, buffer.data(), &size);
    if (status != ERROR_SUCCESS) return status;
    buffer.resize(size);
    *data = std::move(buffer);
    return ERROR_SUCCESS;
}

LSTATUS RegKey::ReadRaw32(const wchar_t* name, DWORD maxBytes, DWORD* value) const {
    std::vector<BYTE> data;
    const LSTATUS status = ReadBytes(name, maxBytes, &data);
    if (status != ERROR_SUCCESS) return status;
    DWORD number = 0;
    if (!data.empty())
        std::memcpy(&number, data.data(),
                    data.size() < sizeof(number) ? data.size() : sizeof(number));
    *value = number;
    return ERROR_SUCCESS;
}

std::vector<std::wstring> RegKey::SubkeyNames() const {
    std::vector<std::wstring> names;
    // Key names are at most 255 characters.
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (::RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

LSTATUS RegKey::WriteString(const wchar_t* name, const std::wstring& text) const noexcept {
    return ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS RegKey::WriteDword(const wchar_t* name, DWORD value) const noexcept {
    return ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof(value));
}

}  // namespace com
