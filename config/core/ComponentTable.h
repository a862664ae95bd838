// The rows of the information box: every installed component of the system, in a fixed
// order, with the version and path of the file that serves its class.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ovconfig {

struct ComponentRow {
    std::wstring name;     // InternalName of the file
    std::wstring version;  // "1.0.0.7"
    std::wstring path;     // long form of the file path
};

// The ProgIDs, in the order of the rows.
const std::vector<std::wstring>& ComponentProgIds();

// The program file named by a server value: quoted or not, with or without arguments.
// An unquoted value with blanks is taken as far as it names an existing file.
std::wstring ProgramPath(const std::wstring& command);

// Reads below HKEY_CLASSES_ROOT (tests redirect it with RegOverridePredefKey). A component
// without class, server value or version resource has no row.
std::vector<ComponentRow> ReadComponentRows();

}  // namespace ovconfig
