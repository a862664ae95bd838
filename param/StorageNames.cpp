#include "StorageNames.h"

#include <cwctype>

#include "com/ComPtr.h"
#include "com/Strings.h"

namespace vk::storage {
namespace {

// Streams of model objects are small; anything larger is not one of ours.
constexpr ULONGLONG kMaxStreamSize = 64ull << 20;

std::wstring NumberSuffix(unsigned number) { return com::Format(L"@%04u", number); }

bool EndsWith(std::wstring_view text, std::wstring_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

void Sanitize(std::wstring* name) {
    for (wchar_t& c : *name) {
        if (c == L'/' || c == L'\\' || c == L':' || c == L'!') c = L'_';
    }
}

}  // namespace

bool IsLongName(std::wstring_view name) {
    if (name.size() > kMaxElementName) return true;
    if (name.size() < kMaxElementName) return false;
    const std::wstring_view tail = name.substr(name.size() - 5);
    return tail[0] == L'@' && std::iswdigit(tail[1]) && std::iswdigit(tail[2]) &&
           std::iswdigit(tail[3]) && std::iswdigit(tail[4]);
}

std::wstring StorageName(std::wstring_view name, unsigned number) {
    std::wstring result(IsLongName(name) ? name.substr(0, kNumberedPrefix) : name);
    if (IsLongName(name)) result += NumberSuffix(number);
    Sanitize(&result);
    return result;
}

unsigned CreatingNumber(const std::vector<std::wstring>& elements) {
    unsigned number = 1;
    for (size_t i = 0; i < elements.size(); ++i) {
        const std::wstring& element = elements[i];
        if (element.size() > kNumberedPrefix && EndsWith(element, NumberSuffix(number))) {
            ++number;
            i = static_cast<size_t>(-1);  // from the first element again
        }
    }
    return number;
}

unsigned OpeningNumber(const std::vector<std::wstring>& objects,
                       const std::vector<std::wstring>& parameters, std::wstring_view name,
                       bool is_object) {
    unsigned number = 1;
    for (const std::wstring& entry : objects) {
        if (is_object && entry == name) return number;
        if (!entry.empty() && IsLongName(entry)) ++number;
    }
    for (const std::wstring& entry : parameters) {
        if (entry == name) break;
        if (!entry.empty() && IsLongName(entry)) ++number;
    }
    return number;
}

HRESULT ElementNames(IStorage* storage, std::vector<std::wstring>* out) {
    com::ComPtr<IEnumSTATSTG> elements;
    HRESULT hr = storage->EnumElements(0, nullptr, 0, elements.put());
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> names;
    STATSTG stat = {};
    ULONG fetched = 0;
    while ((hr = elements->Next(1, &stat, &fetched)) == S_OK && fetched == 1) {
        names.emplace_back(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
    }
    if (FAILED(hr)) return hr;
    out->swap(names);
    return S_OK;
}

HRESULT CreatingStorageName(IStorage* parent, std::wstring_view name, std::wstring* out) {
    if (!IsLongName(name)) {
        *out = StorageName(name, 0);
        return S_OK;
    }
    std::vector<std::wstring> elements;
    const HRESULT hr = ElementNames(parent, &elements);
    if (FAILED(hr)) return hr;
    *out = StorageName(name, CreatingNumber(elements));
    return S_OK;
}

HRESULT OpeningStorageName(IStorage* parent, std::wstring_view name, bool is_object,
                           std::wstring* out) {
    if (!IsLongName(name)) {
        *out = StorageName(name, 0);
        return S_OK;
    }
    std::vector<std::wstring> objects, parameters;
    HRESULT hr = ReadListStream(parent, kObjectList, &objects);
    if (SUCCEEDED(hr)) hr = ReadListStream(parent, kParamList, &parameters);
    if (FAILED(hr)) return hr;
    *out = StorageName(name, OpeningNumber(objects, parameters, name, is_object));
    return S_OK;
}

HRESULT OpenSubStorage(IStorage* parent, const std::wstring& name, IStorage** out) {
    const HRESULT hr = parent->OpenStorage(name.c_str(), nullptr,
                                           STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, out);
    if (hr != STG_E_ACCESSDENIED) return hr;
    return parent->OpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                               out);
}

HRESULT ReadStreamBytes(IStorage* storage, const wchar_t* name, Bytes* out) {
    com::ComPtr<IStream> stream;
    HRESULT hr =
        storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put());
    if (FAILED(hr)) return hr;
    STATSTG stat = {};
    if (FAILED(hr = stream->Stat(&stat, STATFLAG_NONAME))) return hr;
    if (stat.cbSize.QuadPart > kMaxStreamSize) return STG_E_DOCFILECORRUPT;
    Bytes bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    if (!bytes.empty()) {
        hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
        if (FAILED(hr)) return hr;
        if (read != bytes.size()) return STG_E_DOCFILECORRUPT;
    }
    out->swap(bytes);
    return S_OK;
}

HRESULT WriteStreamBytes(IStorage* storage, const wchar_t* name, const Bytes& bytes) {
    com::ComPtr<IStream> stream;
    HRESULT hr = storage->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                       0, stream.put());
    if (FAILED(hr)) return hr;
    if (bytes.empty()) return S_OK;
    ULONG written = 0;
    hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(hr)) return hr;
    return written == bytes.size() ? S_OK : STG_E_WRITEFAULT;
}

HRESULT ReadListStream(IStorage* storage, const wchar_t* name, std::vector<std::wstring>* out) {
    Bytes bytes;
    const HRESULT hr = ReadStreamBytes(storage, name, &bytes);
    if (hr == STG_E_FILENOTFOUND) {
        out->clear();
        return S_OK;
    }
    if (FAILED(hr)) return hr;
    ByteReader reader(bytes);
    return ReadNameList(&reader, out);
}

}  // namespace vk::storage
