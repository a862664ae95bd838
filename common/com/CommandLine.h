#pragma once

#include <string_view>

namespace com {

// Whether `commandLine` holds the switch `name` ("RegServer"): a token of its own (tokens
// are separated by blanks and tabs) that is "-" or "/" followed by the name in any case.
// "/RegServerX" and "RegServer" are not that switch; a null command line holds none.
bool HasSwitch(const wchar_t* commandLine, std::wstring_view name);

}  // namespace com
