// Between the simulator's item values and what OPC clients see: VARIANTs,
// canonical types, access rights and result codes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "Bus.h"

namespace bussim {

// Result codes of the parameter channel that a client sees as item errors.
// Each is negative, so that a polling client keeps polling.
constexpr HRESULT kChannelNotReady = E_PENDING;  // response not there yet
constexpr HRESULT kChannelNoResponse =
    HRESULT_FROM_WIN32(ERROR_NO_DATA);                                   // nothing asked / fetched
constexpr HRESULT kChannelClosed = HRESULT_FROM_WIN32(ERROR_NOT_READY);  // profile ident not 0x3A00
constexpr HRESULT kRequestRefused =
    HRESULT_FROM_WIN32(ERROR_BAD_LENGTH);  // beyond the drive's limits

VARTYPE CanonicalType(ItemType type);
DWORD AccessRights(const ItemInfo& item);
HRESULT StatusToHresult(ItemStatus status);

// The value in its canonical VARIANT type (out need not be initialised).
HRESULT ToVariant(const ItemValue& value, VARIANT* out);
// A client's value converted to the item's type; OPC_E_BADTYPE or OPC_E_RANGE
// when it does not convert.
HRESULT FromVariant(const VARIANT& in, ItemType type, ItemValue* out);

// Whether values of the canonical type can be handed out as `requested`.
bool CanDeliverAs(VARTYPE canonical, VARTYPE requested);
// Converts a value in place to the requested type (VT_EMPTY: keep it).
HRESULT ConvertForClient(VARIANT* value, VARTYPE requested);

}  // namespace bussim
