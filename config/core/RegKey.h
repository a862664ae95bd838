// RegKey: an open registry key, closed when it goes, with the typed reads and writes the
// configurator needs. Reads never fail loudly: false means "missing or not usable".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ovconfig {

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG Open(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ);
    LONG Create(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ | KEY_WRITE);
    void Close();

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

    // A REG_SZ or REG_EXPAND_SZ value of any length (not expanded; `type` tells which).
    // With max_bytes, longer data counts as unusable.
    bool ReadText(const wchar_t* name, std::wstring* out, DWORD* type = nullptr,
                  DWORD max_bytes = 0) const;
    // Up to four bytes of any type taken as a little-endian number, as the drive-interaction
    // module reads its numbers; longer data is unusable.
    bool ReadNumber(const wchar_t* name, DWORD* out) const;
    LONG WriteText(const wchar_t* name, const std::wstring& text);
    LONG WriteNumber(const wchar_t* name, DWORD value);
    std::vector<std::wstring> SubkeyNames() const;

private:
    HKEY key_ = nullptr;
};

}  // namespace ovconfig
