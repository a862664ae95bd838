#include "com/Stream.h"

#include <cstring>

#include "com/Result.h"

namespace com {

HRESULT HGlobalStream::Create(ComPtr<IStream>* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    return ::CreateStreamOnHGlobal(nullptr, TRUE, out->put());
}

HRESULT HGlobalStream::FromBytes(const void* data, size_t size, ComPtr<IStream>* out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    RETURN_HR_IF(E_POINTER, size && !data);
    RETURN_HR_IF(E_OUTOFMEMORY, size > MAXDWORD);
    ComPtr<IStream> stream;
    RETURN_IF_FAILED(Create(&stream));
    ULONG written = 0;
    if (size) RETURN_IF_FAILED(stream->Write(data, static_cast<ULONG>(size), &written));
    LARGE_INTEGER zero = {};
    RETURN_IF_FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    *out = std::move(stream);
    return S_OK;
}

HRESULT HGlobalStream::ToBytes(IStream* stream, std::vector<BYTE>* out) noexcept {
    RETURN_IF_NULL_POINTER(stream);
    RETURN_IF_NULL_POINTER(out);
    HGLOBAL memory = nullptr;
    RETURN_IF_FAILED(::GetHGlobalFromStream(stream, &memory));
    STATSTG stat = {};
    RETURN_IF_FAILED(stream->Stat(&stat, STATFLAG_NONAME));
    return ComBoundary([&]() -> HRESULT {
        std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
        if (!bytes.empty()) {
            const void* source = ::GlobalLock(memory);
            RETURN_LAST_ERROR_IF(!source);
            std::memcpy(bytes.data(), source, bytes.size());
            ::GlobalUnlock(memory);
        }
        out->swap(bytes);
        return S_OK;
    });
}

MarshalledStream& MarshalledStream::operator=(MarshalledStream&& other) noexcept {
    if (this != &other) attach(other.detach());
    return *this;
}

HRESULT MarshalledStream::Marshal(REFIID riid, IUnknown* object) noexcept {
    RETURN_IF_NULL_POINTER(object);
    reset();
    return ::CoMarshalInterThreadInterfaceInStream(riid, object, stream_.put());
}

HRESULT MarshalledStream::Unmarshal(REFIID riid, void** out) noexcept {
    RETURN_IF_NULL_POINTER(out);
    *out = nullptr;
    RETURN_HR_IF(E_UNEXPECTED, !stream_);
    // CoGetInterfaceAndReleaseStream releases the stream (and its marshal data) in every case.
    return ::CoGetInterfaceAndReleaseStream(stream_.detach(), riid, out);
}

void MarshalledStream::reset() noexcept {
    if (!stream_) return;
    LARGE_INTEGER zero = {};
    if (SUCCEEDED(stream_->Seek(zero, STREAM_SEEK_SET, nullptr)))
        ::CoReleaseMarshalData(stream_.get());
    stream_.reset();
}

}  // namespace com
