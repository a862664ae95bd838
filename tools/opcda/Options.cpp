#include "Options.h"

namespace {

// A mistyped option must not be ignored silently (a write would go to the default server).
bool IsKnownOption(const std::wstring& name) {
    for (const wchar_t* known : {L"progid", L"node", L"filter", L"type", L"source", L"rate",
                                 L"deadband", L"seconds", L"count", L"config"})
        if (name == known) return true;
    return false;
}

}  // namespace

std::wstring Options::Get(const std::wstring& name, const std::wstring& fallback) const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options, std::wstring* error) {
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--flat" || arg == L"--hidden" || arg == L"--readback" ||
            arg == L"--async") {  // the options without a value
            options->values[arg.substr(2)] = L"";
        } else if (arg.rfind(L"--", 0) == 0) {
            if (!IsKnownOption(arg.substr(2))) {
                *error = L"unknown option " + arg;
                return false;
            }
            if (i + 1 >= argc) {
                *error = L"option " + arg + L" needs a value";
                return false;
            }
            options->values[arg.substr(2)] = argv[++i];
        } else if (options->command.empty()) {
            options->command = arg;
        } else {
            options->arguments.push_back(arg);
        }
    }
    return true;
}
