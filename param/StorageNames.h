// Sub-storage names of model objects in the configuration file, and the stream
// access that parameters and nodes share. A compound file allows 31 UTF-16 units
// per element name, so longer names are cut and numbered ("@0001"); the number is
// found by scanning the parent storage when an element is created and from the
// parent's name lists when it is opened, which agree for a tree saved in list
// order (child nodes first, then parameters).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "StorageFormat.h"

namespace vk::storage {

inline constexpr size_t kMaxElementName = 31;
inline constexpr size_t kNumberedPrefix = 26;

inline constexpr wchar_t kObjectList[] = L"__ObjectList";
inline constexpr wchar_t kParamList[] = L"__ParamList";

// More than 31 units, or exactly 31 ending in "@" and four digits.
bool IsLongName(std::wstring_view name);
// The first 26 units, "@" and n as "%04d"; characters compound files refuse
// ("/", "\", ":", "!") become "_" in any storage name.
std::wstring StorageName(std::wstring_view name, unsigned number);
// The number for a new long-named element: the first n that no element longer than
// 26 units carries as "@%04d" at its end.
unsigned CreatingNumber(const std::vector<std::wstring>& elements);
// The number of an existing long-named element: 1 + the long entries of the object
// list before it (all of them for a parameter) + the long entries of the parameter
// list before it. Empty entries do not count.
unsigned OpeningNumber(const std::vector<std::wstring>& objects,
                       const std::vector<std::wstring>& parameters, std::wstring_view name,
                       bool is_object);

// The names of a storage's direct elements.
HRESULT ElementNames(IStorage* storage, std::vector<std::wstring>* out);
// The storage name under which `name` is created in `parent` / opened there.
HRESULT CreatingStorageName(IStorage* parent, std::wstring_view name, std::wstring* out);
HRESULT OpeningStorageName(IStorage* parent, std::wstring_view name, bool is_object,
                           std::wstring* out);

// Opens a sub-storage read/write in exclusive mode, or read-only when the file was
// opened read-only.
HRESULT OpenSubStorage(IStorage* parent, const std::wstring& name, IStorage** out);

// A whole stream, opened for reading; STG_E_DOCFILECORRUPT beyond a sane size.
HRESULT ReadStreamBytes(IStorage* storage, const wchar_t* name, Bytes* out);
// Creates (replacing) and writes a stream.
HRESULT WriteStreamBytes(IStorage* storage, const wchar_t* name, const Bytes& bytes);
// A name list stream; a missing one is an empty list.
HRESULT ReadListStream(IStorage* storage, const wchar_t* name, std::vector<std::wstring>* out);

}  // namespace vk::storage
