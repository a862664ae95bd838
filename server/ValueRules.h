#pragma once

#include <windows.h>
#include <oleauto.h>

// Converts a value to the type a client asked for or an item's canonical type.
// DISP_E_OVERFLOW and negative numbers for unsigned types (which VariantChangeType
// lets through under Wine) give OPC_E_RANGE; a result of another type gives
// OPC_E_BADTYPE; any other conversion failure is returned as it is. `out` is
// initialised and holds the converted value only on success.
HRESULT ConvertValue(const VARIANT& in, VARTYPE vt, VARIANT* out) noexcept;

// Whether a new device value differs from the cached one, by the change rules of
// data changes: numbers of analog items count only beyond `analogBand`
// ((high - low) x deadband%); pass a negative band for other items.
bool ValuesDiffer(const VARIANT& cached, const VARIANT& fresh, double analogBand) noexcept;
