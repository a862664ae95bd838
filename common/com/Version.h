// com/Version.h - the version resource of a module: FileVersion "1, 5, 0, 27" read as
// major 1, minor 5, build 27 (the third number is dropped) and CompanyName, both from the
// German string table "\StringFileInfo\040704b0\".
#pragma once

#include <windows.h>

#include <string>

namespace com {

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
