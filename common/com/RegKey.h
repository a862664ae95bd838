// com/RegKey.h - RegKey: owner of one open registry key, with typed value readers and writers.
//
//   com::RegKey key;
//   RETURN_IF_WIN32_ERROR(key.Open(HKEY_LOCAL_MACHINE, L"Software\\Axolent\\Orvane"));
//   DWORD show = 1;
//   key.ReadDword(L"ShowErrorBoxes", &show);   // missing or of another type: stays 1
//
// Every call returns the registry's status (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...); a reader
// leaves its out-parameter unchanged unless it succeeds.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace com {

class RegKey {
public:
    RegKey() noexcept = default;
    explicit RegKey(HKEY owned) noexcept : key_(owned) {}
    RegKey(RegKey&& other) noexcept : key_(other.release()) {}
    RegKey& operator=(RegKey&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { reset(); }

    HKEY get() const noexcept { return key_; }
    explicit operator bool() const noexcept { return key_ != nullptr; }
    // Closes the key and returns the slot for an out-parameter (RegConnectRegistryW ...).
    HKEY* put() noexcept {
        reset();
        return &key_;
    }
    [[nodiscard]] HKEY release() noexcept {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void reset(HKEY owned = nullptr) noexcept;

    LSTATUS Open(HKEY parent, const wchar_t* path, REGSAM access = KEY_READ) noexcept;
    LSTATUS Open(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ) noexcept {
        return Open(parent, path.c_str(), access);
    }
    // Opens or creates; *created tells whether the key is new.
    LSTATUS Create(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ | KEY_WRITE,
                   bool* created = nullptr) noexcept;

    // A REG_SZ value (nullptr: the default value), up to its first NUL; another type is
    // ERROR_UNSUPPORTED_TYPE.
    LSTATUS ReadString(const wchar_t* name, std::wstring* text) const;
    // A REG_SZ or REG_EXPAND_SZ value, not expanded (*type tells which), up to its first NUL;
    // another type is ERROR_UNSUPPORTED_TYPE. With maxBytes, more stored bytes are
    // ERROR_MORE_DATA.
    LSTATUS ReadText(const wchar_t* name, std::wstring* text, DWORD* type = nullptr,
                     DWORD maxBytes = 0) const;
    // A REG_DWORD value; another type is ERROR_UNSUPPORTED_TYPE.
    LSTATUS ReadDword(const wchar_t* name, DWORD* value) const noexcept;
    // The stored bytes whatever their type, at most maxBytes (more: ERROR_MORE_DATA).
    LSTATUS ReadBytes(const wchar_t* name, DWORD maxBytes, std::vector<BYTE>* data) const;
    // The first four of at most maxBytes stored bytes, whatever their type, as a little-endian
    // number (fewer bytes are padded with zeros): how settings written with any type are read.
    LSTATUS ReadRaw32(const wchar_t* name, DWORD maxBytes, DWORD* value) const;

    // The names of the direct subkeys; an enumeration error ends the list.
    std::vector<std::wstring> SubkeyNames() const;

    LSTATUS WriteString(const wchar_t* name, const std::wstring& text) const noexcept;
    LSTATUS WriteDword(const wchar_t* name, DWORD value) const noexcept;

private:
    HKEY key_ = nullptr;
};

}  // namespace com
