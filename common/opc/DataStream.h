// DataStream.h - the OPC DA 1.0 data streams that a group hands to its client's IAdviseSink in
// an HGLOBAL (IDataObject::DAdvise). One reader (the automation wrapper) and one writer (the
// bus simulator's DA 1.0 face) keep the layout in one place.
//
// "OPCSTMFORMATDATATIME" (data changes with transaction 0, read completions otherwise); every
// offset counts from the start of the block:
//   OPCGROUPHEADER            dwSize (bytes of the block), dwItemCount, hClientGroup,
//                             dwTransactionID, hrStatus
//   OPCITEMHEADER1[count]     hClient, dwValueOffset, wQuality, wReserved, ftTimeStampItem
//   values                    at dwValueOffset a VARIANT as it lies in memory (24 bytes here);
//                             a VT_BSTR is followed by the string as a BSTR lies in memory: a
//                             DWORD byte count (terminator not counted), the characters and a
//                             null character; a VT_ARRAY|t by the SAFEARRAY descriptor and then
//                             the elements. Pointers inside carry no meaning: text and elements
//                             are found by their position.
// "OPCSTMFORMATWRITECOMPLETE":
//   OPCGROUPHEADERWRITE       dwItemCount, hClientGroup, dwTransactionID, hrStatus
//   OPCITEMHEADERWRITE[count] hClient, dwError
//
// The reader trusts nothing: a header, value, text or array that reaches past the block skips
// its entry (the others are delivered); a group header that does not fit fails the block.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "com/Variant.h"
#include "opc.h"

namespace opc {

constexpr wchar_t kDataTimeFormat[] = L"OPCSTMFORMATDATATIME";
constexpr wchar_t kWriteCompleteFormat[] = L"OPCSTMFORMATWRITECOMPLETE";

struct StreamItem {
    OPCHANDLE client = 0;
    WORD quality = 0;
    FILETIME time = {};
    com::UniqueVariant value;
};

struct DataStream {
    OPCHANDLE group = 0;
    DWORD transactionId = 0;
    HRESULT status = S_OK;
    std::vector<StreamItem> items;
};

struct WriteResult {
    OPCHANDLE client;
    HRESULT error;
};

struct WriteCompleteStream {
    OPCHANDLE group = 0;
    DWORD transactionId = 0;
    HRESULT status = S_OK;
    std::vector<WriteResult> items;
};

// E_INVALIDARG when the block cannot hold its group header (or item count); `out` unchanged.
HRESULT ReadDataStream(const BYTE* block, size_t size, DataStream* out);
HRESULT ReadWriteCompleteStream(const BYTE* block, size_t size, WriteCompleteStream* out);

// False for a value the stream cannot carry: an array of texts, variants or interfaces, an
// array of more than one dimension, or a pointer.
bool CanCarry(const VARIANT& value);

// DISP_E_BADVARTYPE for a value the stream cannot carry (an array of texts, variants or
// interfaces, or a pointer); E_OUTOFMEMORY.
HRESULT WriteDataStream(const DataStream& stream, std::vector<BYTE>* block);
HRESULT WriteWriteCompleteStream(const WriteCompleteStream& stream, std::vector<BYTE>* block);

}  // namespace opc
