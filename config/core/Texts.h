// The program's own resources in the user's language: German when the user's UI language
// is German, English otherwise, whatever other translations the resource loader would try.
#pragma once

#include <windows.h>

#include <string>

namespace ovconfig {

LANGID UiLanguage();

// String `id` of the program's string table in the language; empty when it has none.
std::wstring LoadText(UINT id, LANGID language = UiLanguage());

// Dialog template `id` in the language, or null.
const DLGTEMPLATE* LoadDialogTemplate(UINT id, LANGID language = UiLanguage());

}  // namespace ovconfig
