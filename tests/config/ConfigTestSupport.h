// Scratch registry keys for the configurator's tests: everything lives below
// HKCU\Software\OrvaneTest\<name> and is removed again.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ovconfig::test {

inline std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

class ScratchKey {
public:
    explicit ScratchKey(const std::wstring& name) : path_(L"Software\\OrvaneTest\\" + name) {
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key_, nullptr);
    }
    ~ScratchKey() {
        if (key_) RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    HKEY get() const { return key_; }

    void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text,
                 DWORD type = REG_SZ) {
        HKEY sub = Create(key);
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(sub, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * 2)))
            << Narrow(key);
        RegCloseKey(sub);
    }
    void SetNumber(const std::wstring& key, const wchar_t* name, DWORD value) {
        HKEY sub = Create(key);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(sub, name, 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value), 4));
        RegCloseKey(sub);
    }
    // "missing" when the value is not there; else its type and text ("REG_SZ x", "REG_DWORD 3").
    std::string Describe(const std::wstring& key, const wchar_t* name) const {
        BYTE data[1024];
        DWORD size = sizeof data, type = 0;
        if (RegGetValueW(key_, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) !=
            ERROR_SUCCESS)
            return "missing";
        if (type == REG_DWORD)
            return "REG_DWORD " + std::to_string(*reinterpret_cast<DWORD*>(data));
        if (type == REG_SZ) return "REG_SZ " + Narrow(reinterpret_cast<wchar_t*>(data));
        return "type " + std::to_string(type);
    }
    bool HasKey(const std::wstring& key) const {
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key_, key.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return false;
        RegCloseKey(sub);
        return true;
    }
    // Names of the subkeys and values right below key, "k:" and "v:" in front, sorted.
    std::vector<std::string> Contents(const std::wstring& key) const {
        std::vector<std::string> names;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key_, key.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(sub, i, name, &length, nullptr, nullptr, nullptr, nullptr)) break;
            names.push_back("k:" + Narrow(name));
        }
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumValueW(sub, i, name, &length, nullptr, nullptr, nullptr, nullptr)) break;
            names.push_back("v:" + Narrow(name));
        }
        RegCloseKey(sub);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    HKEY Create(const std::wstring& key) {
        HKEY sub = nullptr;
        RegCreateKeyExW(key_, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
        return sub;
    }

    std::wstring path_;
    HKEY key_ = nullptr;
};

}  // namespace ovconfig::test
