#include "NamePattern.h"

#include <cwctype>

namespace {

wchar_t Upper(wchar_t c) noexcept { return static_cast<wchar_t>(std::towupper(c)); }

// Whether pattern element at `at` matches c; `next` is where the element ends.
// An unterminated list matches no character.
bool MatchOne(std::wstring_view pattern, size_t at, wchar_t c, size_t* next) noexcept {
    const wchar_t p = pattern[at];
    *next = at + 1;
    if (p == L'?') return true;
    if (p == L'#') return c >= L'0' && c <= L'9';
    if (p != L'[') return Upper(p) == Upper(c);

    size_t first = at + 1;
    const bool negate = first < pattern.size() && pattern[first] == L'!';
    if (negate) ++first;
    const size_t close = pattern.find(L']', first);
    if (close == std::wstring_view::npos) return false;
    *next = close + 1;
    const wchar_t u = Upper(c);
    bool found = false;
    for (size_t i = first; i < close && !found;) {
        if (i + 2 < close && pattern[i + 1] == L'-') {
            found = u >= Upper(pattern[i]) && u <= Upper(pattern[i + 2]);
            i += 3;
        } else {
            found = u == Upper(pattern[i]);
            ++i;
        }
    }
    return found != negate;
}

}  // namespace

bool MatchNamePattern(std::wstring_view text, std::wstring_view pattern) noexcept {
    if (pattern.empty()) return true;
    constexpr size_t kNone = std::wstring_view::npos;
    size_t t = 0, p = 0;
    size_t starPattern = kNone, starText = 0;  // where to resume after the last "*"
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starPattern = ++p;
            starText = t;
            continue;
        }
        size_t next = p;
        if (p < pattern.size() && MatchOne(pattern, p, text[t], &next)) {
            p = next;
            ++t;
            continue;
        }
        if (starPattern == kNone) return false;
        p = starPattern;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}
