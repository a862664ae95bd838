// Names of drive parameter items: the last element of an item's path says which
// parameter it reads, at which subindex and as which VARIANT type,
// "pari" P ["s" S] "d" D ["l" L] ["x" X] (letters in any case), e.g. pari964s0d18.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace orvane::interaction {

struct ParameterItemName {
    WORD parameter = 0;
    WORD subindex = 0;       // 0 when the name has no "s" part
    bool unindexed = false;  // no "s" part, or options beginning with "ni"
    VARTYPE vt = VT_EMPTY;   // the "d" part
    ULONG length = 1;        // the "l" part; parsed, not used for items
    std::wstring options;    // the "x" part
};

// E_INVALIDARG for a name that does not follow the syntax (shorter than 7
// characters, a missing or non-decimal number, numbers out of range, text left over).
HRESULT ParseParameterItemName(const std::wstring& name, ParameterItemName* parsed);

// The data type an item of VARIANT type `vt` is written with when no read test tells
// it; E_INVALIDARG for a type without one.
HRESULT DataTypeForVarType(VARTYPE vt, BYTE* dataType);

// The kinds of item address, told apart by their start (case-sensitive).
enum class ItemKind { Unknown, Internal, PassThrough, DriveParameter };
constexpr wchar_t kInternalPrefix[] = L"internal://";
constexpr wchar_t kPassThroughPrefix[] = L"opc://";
constexpr wchar_t kDriveParameterPrefix[] = L"Axolent://";

// The kind of `address`; `name` receives what follows the prefix of an internal or
// drive parameter address (the item's model path).
ItemKind ClassifyAddress(std::wstring_view address, std::wstring* name);

// A model path of at least three elements, bus server / device / ... / item: the
// device node's path (the first two), the path of the node that holds the item (all
// but the last) and the item's own name (the last). The server creates an item ID it
// does not know as one parameter of the root named with the whole ID, so these nodes
// are found by the path, not as the item's parents.
struct ItemPath {
    std::wstring device;
    std::wstring axis;
    std::wstring leaf;
};
bool SplitItemPath(const std::wstring& path, ItemPath* parts);

// The value an item starts with when no read test gave one: 0 of its type, an empty
// text, an empty byte array; VT_EMPTY for any other array.
HRESULT DefaultItemValue(VARTYPE vt, VARIANT* value);

// The answer timeout once a device of `maxLatency` has an item: a timeout whose
// hundredfold is below the latency becomes latency / 100 + 1.
DWORD AnswerTimeoutFor(DWORD timeoutSeconds, DWORD maxLatency);

}  // namespace orvane::interaction
