#pragma once

#include <string_view>

// Browse filters: the OPC sample pattern syntax, matched case-insensitively against
// the whole text. "*" any run of characters, "?" any one character, "#" one decimal
// digit, "[list]" one character of the list ("a-z" ranges), "[!list]" one character
// not in it; anything else matches itself. An empty pattern matches everything; a "["
// without its "]" matches nothing. Never reads past either string.
bool MatchNamePattern(std::wstring_view text, std::wstring_view pattern) noexcept;
