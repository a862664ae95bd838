// com/Version.h - the version resource of a file: VersionResource reads its fixed version, its
// translation table and its string values; ReadModuleVersion reads FileVersion "1, 5, 0, 27" as
// major 1, minor 5, build 27 (the third number is dropped) and CompanyName, both from the
// German string table "\StringFileInfo\040704b0\".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace com {

// The loaded version resource of one file.
class VersionResource {
public:
    // Empty path: this module. A file without a version resource fails.
    HRESULT Load(const std::wstring& path);
    // The fixed file version as "1.0.0.7"; false without one.
    bool FixedVersion(std::wstring* out) const;
    // The string table of the first language and code page of the translation table;
    // "040904E4" when there is none.
    std::wstring FirstStringTable() const;
    // "\StringFileInfo\<table>\<name>" up to its first NUL; false when missing.
    bool String(const wchar_t* table, const wchar_t* name, std::wstring* out) const;

private:
    std::vector<BYTE> data_;
};

struct FileVersion {
    WORD major = 0;
    WORD minor = 0;
    WORD build = 0;
};

// Parses "%u,%u,%u,%u"; false unless all four numbers are there and fit 16 bits.
bool ParseFileVersion(const std::wstring& text, FileVersion* out);

// One value of "\StringFileInfo\040704b0\<name>" of the file (empty path: this module).
HRESULT ReadVersionString(const std::wstring& path, const wchar_t* name, std::wstring* out);

struct ModuleVersion {
    FileVersion version;
    std::wstring company;  // CompanyName
};
HRESULT ReadModuleVersion(const std::wstring& path, ModuleVersion* out);

}  // namespace com
