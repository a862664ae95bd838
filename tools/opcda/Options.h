#pragma once

#include <map>
#include <string>
#include <vector>

// Command line of opcda: a command, then "--name value" options and plain arguments.
struct Options {
    std::wstring command;
    std::map<std::wstring, std::wstring> values;  // without the leading "--"
    std::vector<std::wstring> arguments;

    bool Has(const std::wstring& name) const { return values.count(name) != 0; }
    std::wstring Get(const std::wstring& name, const std::wstring& fallback = L"") const;
};

// False with a message for an unknown option or one without its value.
bool ParseOptions(int argc, wchar_t** argv, Options* options, std::wstring* error);
