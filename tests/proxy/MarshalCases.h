// The canned values that the marshalling test client sends and the test server
// answers with. Both sides check what they receive against these, so a value
// that the proxy/stub mangles in either direction fails a check.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "com/Variant.h"
#include "opc.h"

namespace marshal {

// {1212FB09-915D-410A-BFEB-B08324D823D0}: the test server's class, registered by the client.
constexpr CLSID kServerClsid = {
    0x1212FB09, 0x915D, 0x410A, {0xBF, 0xEB, 0xB0, 0x83, 0x24, 0xD8, 0x23, 0xD0}};
constexpr wchar_t kServerExe[] = L"opc_marshal_server.exe";

// A check of an in-value that failed in the server comes back as this code plus
// the server source line of the check.
constexpr HRESULT kMismatchBase = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xE000);
inline HRESULT MismatchHr(int line) { return kMismatchBase + (line & 0x1FFF); }
inline bool IsMismatch(HRESULT hr) { return (hr & ~0x1FFF) == kMismatchBase; }

// Strings: non-ASCII, slashes, an empty one, and one longer than any buffer guess.
constexpr wchar_t kGroupName[] = L"Gruppe Ä/ß €";
constexpr wchar_t kOtherGroupName[] = L"Zweite Gruppe";
constexpr wchar_t kCloneName[] = L"Kopie von Gruppe";
constexpr wchar_t kNullPointerGroup[] = L"ohne Zeitversatz";
constexpr wchar_t kUnknownGroup[] = L"gibt es nicht";
constexpr wchar_t kClientName[] = L"Prüfprogramm µ";
constexpr wchar_t kShutdownTrigger[] = L"bitte herunterfahren";
constexpr wchar_t kShutdownReason[] = L"Server wird beendet – Wartung";
constexpr wchar_t kServerErrorText[] = L"Ungültiges Handle (0xC0040001)";
constexpr wchar_t kCommonErrorText[] = L"Der Datentyp ist unzulässig.";
constexpr wchar_t kVendor[] = L"Axolent Prüfserver";
constexpr wchar_t kBrowsePosition[] = L"Antrieb 1/Parameter";
constexpr wchar_t kFilter[] = L"P*";
constexpr wchar_t kItemDataID[] = L"P0815";
constexpr wchar_t kFullItemID[] = L"Antrieb 1/Parameter/P0815";
constexpr wchar_t kAccessPath[] = L"DP-Kanal 2";
constexpr wchar_t kProgID[] = L"Axolent.Orvane.1";
constexpr wchar_t kVerIndProgID[] = L"Axolent.Orvane";
constexpr wchar_t kUserType[] = L"Orvane OPC-Server";
inline std::wstring LongText() { return std::wstring(3000, L'x') + L"Ende"; }

constexpr OPCHANDLE kClientGroup = 0x11223344;
constexpr OPCHANDLE kServerGroup = 0xCAFE0001;
constexpr DWORD kRequestedRate = 1000;
constexpr DWORD kRevisedRate = 1050;
constexpr LONG kTimeBias = -60;
constexpr FLOAT kDeadband = 2.5f;
constexpr LCID kLcid = 0x0407;
constexpr DWORD kConnection = 7;
constexpr DWORD kTransaction = 0x7700AA;
constexpr DWORD kCancelId = 0xCC01;

inline FILETIME MakeFileTime(DWORD high, DWORD low) { return FILETIME{low, high}; }
inline bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

inline std::vector<OPCHANDLE> ServerItems() { return {0x1001, 0x1002, 0x1003}; }
inline std::vector<OPCHANDLE> ClientItems() { return {0xA1, 0xFFFFFFFF, 0}; }
inline std::vector<BYTE> Blob() { return {0xDE, 0xAD, 0x00, 0xBE, 0xEF}; }
// Per-item results: one failure among successes makes the call S_FALSE.
inline std::vector<HRESULT> ItemErrors() { return {S_OK, OPC_E_UNKNOWNITEMID, S_OK}; }
inline std::vector<WORD> Qualities() {
    return {OPC_QUALITY_GOOD, OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE,
            OPC_QUALITY_UNCERTAIN | OPC_QUALITY_LAST_USABLE | OPC_LIMIT_HIGH};
}
inline std::vector<FILETIME> TimeStamps() {
    return {MakeFileTime(0x01D9A0B1, 0x12345678), MakeFileTime(0, 0),
            MakeFileTime(0x7FFFFFFF, 0xFFFFFFFF)};
}
inline std::vector<LCID> Locales() { return {0x0407, 0x0409, 0x0800}; }
inline std::vector<DWORD> PropertyIds() {
    return {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_VALUE, OPC_PROPERTY_EU_UNITS};
}
inline std::vector<VARTYPE> PropertyTypes() { return {VT_I2, VT_EMPTY, VT_BSTR}; }
inline std::vector<std::wstring> PropertyDescriptions() {
    return {OPC_PROPERTY_DESC_DATATYPE, OPC_PROPERTY_DESC_VALUE, OPC_PROPERTY_DESC_EU_UNITS};
}
inline std::vector<std::wstring> BrowseNames() { return {L"P0815", L"P0816 Drehzahl", L""}; }
inline std::vector<CLSID> ServerClasses() {
    return {kServerClsid,
            CATID_OPCDAServer20,
            {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}};
}

// VARIANT values of the kinds OPC items carry.
com::UniqueVariant MakeI2(SHORT value);
com::UniqueVariant MakeR4(FLOAT value);
com::UniqueVariant MakeR8(double value);
com::UniqueVariant MakeBool(bool value);
com::UniqueVariant MakeBstr(const std::wstring& text);
com::UniqueVariant MakeDate(double value);
com::UniqueVariant MakeI4Array(const std::vector<LONG>& values);
com::UniqueVariant MakeR8Array(const std::vector<double>& values);
com::UniqueVariant MakeBstrArray(const std::vector<std::wstring>& values);

// The values written by the client (Write, AsyncIO Write).
std::vector<com::UniqueVariant> WriteValues();
// The values read by the client (Read, OnDataChange, OnReadComplete).
std::vector<com::UniqueVariant> ReadValues();
// Property values, one per PropertyIds() entry; the failed one is VT_EMPTY.
std::vector<com::UniqueVariant> PropertyValues();
std::vector<HRESULT> PropertyErrors();
// Item definitions for AddItems / ValidateItems: a NULL access path, an empty and
// a long item ID, no blob and two blobs.
struct ItemDefCase {
    const wchar_t* accessPath;
    std::wstring itemId;
    BOOL active;
    OPCHANDLE client;
    std::vector<BYTE> blob;
    VARTYPE requested;
};
std::vector<ItemDefCase> ItemDefCases();
bool Matches(const OPCITEMDEF& def, const ItemDefCase& expected);

struct ItemResultCase {
    OPCHANDLE server;
    VARTYPE canonical;
    DWORD rights;
    std::vector<BYTE> blob;
};
std::vector<ItemResultCase> ItemResultCases();

bool SameBytes(DWORD size, const BYTE* bytes, const std::vector<BYTE>& expected);

// The item attributes enumerated by IEnumOPCItemAttributes: item i combines
// ItemDefCases()[i], ItemResultCases()[i], EuTypes()[i] and EuInfo(i).
std::vector<OPCEUTYPE> EuTypes();
com::UniqueVariant EuInfo(size_t item);

// Deep comparison of VARIANTs, arrays included (element type, bounds, elements).
bool SameVariant(const VARIANT& a, const VARIANT& b);
// For failure messages.
std::wstring Describe(const VARIANT& v);

inline bool SameString(LPCWSTR a, LPCWSTR b) {
    if (!a || !b) return a == b;
    return std::wcscmp(a, b) == 0;
}

}  // namespace marshal
