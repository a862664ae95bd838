#pragma once

#include <windows.h>

#include <string>

// Version numbers that GetStatus reports.
struct ServerVersion {
    WORD major = 0;
    WORD minor = 0;
    WORD build = 0;
};

// Parses a FileVersion text "a, b, c, d": major a, minor b, build d (c is not
// reported). Returns false if the text does not hold four numbers.
bool ParseFileVersion(const wchar_t* text, ServerVersion* version);

// Reads FileVersion and CompanyName of the German Unicode string table
// (040704b0) of a module's version resource. A missing value leaves the
// output as it was and makes the result false.
bool ReadModuleVersion(HMODULE module, ServerVersion* version, std::wstring* vendor);
