#pragma once

#include <string_view>

// An item ID as a client gives it: a model path, or a model path followed by
// "[name]" for one item property of that parameter ("Drive1/P964[Description]").
struct ItemIdParts {
    std::wstring_view path;      // the parameter's path
    std::wstring_view property;  // the property name; empty for the plain form
    bool isProperty = false;
};

// The property form needs a final "]" and a "[" before it; the path is the text before
// the LAST "[", the name runs from there to the next "]" ("A[B][C]" is property C of
// "A[B]"). Everything else is the plain form ("A]" included).
ItemIdParts SplitItemId(std::wstring_view itemId) noexcept;

// IDs longer than this are refused before the model sees them.
inline constexpr size_t kMaxItemIdLength = 4096;
