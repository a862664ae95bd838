// The byte formats of a model object's streams in the configuration file:
// strings, GUID texts, variants and name lists, all little-endian. Encoding
// appends to a byte buffer; decoding reads from one and checks every count
// against the bytes left before it allocates anything.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

namespace vk::storage {

using Bytes = std::vector<BYTE>;

// Deeper VT_VARIANT nesting is neither written nor read: a damaged file must not
// recurse without end.
inline constexpr int kMaxVariantDepth = 4;

// Reads a buffer front to back; a read past the end fails and reads nothing.
class ByteReader {
public:
    ByteReader(const BYTE* data, size_t size) noexcept : data_(data), left_(size) {}
    explicit ByteReader(const Bytes& bytes) noexcept : ByteReader(bytes.data(), bytes.size()) {}

    size_t left() const noexcept { return left_; }
    bool Read(void* out, size_t size) noexcept;
    template <class T>
    bool ReadValue(T* out) noexcept {
        return Read(out, sizeof(T));
    }

private:
    const BYTE* data_;
    size_t left_;
};

void AppendBytes(Bytes* out, const void* data, size_t size);
template <class T>
void AppendValue(Bytes* out, T value) {
    AppendBytes(out, &value, sizeof(T));
}

// String: count of UTF-16 units including the terminating zero (0 for none), then the units.
void AppendString(Bytes* out, std::wstring_view text);
// STG_E_DOCFILECORRUPT when the units run past the end. The text ends at its first zero.
HRESULT ReadString(ByteReader* in, std::wstring* out);

// GUID text: the string format of the registry form, count 39.
void AppendGuidText(Bytes* out, REFGUID guid);
// A count of 0 reads as GUID_NULL; a text that is no GUID is corrupt.
HRESULT ReadGuidText(ByteReader* in, GUID* out);

// Variant: VARTYPE, then the data. STG_E_CANTSAVE for what the format cannot hold
// (VT_VECTOR, VT_BYREF other than VT_VARIANT|VT_BYREF, interfaces, VT_RECORD, and
// every VARTYPE it does not list, such as VT_I8).
HRESULT AppendVariant(Bytes* out, const VARIANT& value);
// Into an initialised VARIANT that is cleared first; STG_E_DOCFILECORRUPT for a
// VARTYPE the format does not list, data past the end or nesting too deep. A stored
// VT_VARIANT|VT_BYREF reads as the variant it referred to.
HRESULT ReadVariant(ByteReader* in, VARIANT* out);

// Name list: entries of a byte count (with the 2-byte terminating zero) and the text.
void AppendNameList(Bytes* out, const std::vector<std::wstring>& names);
// Ends at a count of 0 or at the end; a partial entry is corrupt.
HRESULT ReadNameList(ByteReader* in, std::vector<std::wstring>* out);

}  // namespace vk::storage
