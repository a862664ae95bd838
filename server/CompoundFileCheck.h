// A check of a compound file's allocation table against the file's length, made
// before the file is opened: Wine's structured storage reads sectors past the end of
// a truncated file as zeros and can then walk its directory in a circle for ever.
#pragma once

#include <windows.h>

#include <string>

// STG_E_DOCFILECORRUPT when a sector that the allocation table uses, or one it is
// stored in, lies past the end of the file; S_OK otherwise, also for a file that
// is no compound file (opening it then reports what it is).
HRESULT CheckCompoundFileLength(const std::wstring& path);
