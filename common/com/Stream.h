// com/Stream.h - HGlobalStream (memory streams) and MarshalledStream, the only way interface
// pointers move between threads/apartments in this system.
//
//   com::MarshalledStream stream;                    // on the creating thread
//   RETURN_IF_FAILED(stream.Marshal(__uuidof(IOPCServer), server.get()));
//   ...                                             // on the worker thread
//   com::ComPtr<IOPCServer> server;
//   RETURN_IF_FAILED(stream.Unmarshal(&server));
#pragma once

#include <windows.h>
#include <objbase.h>

#include <vector>

#include "com/ComPtr.h"

namespace com {

// An IStream over an HGLOBAL that the stream owns.
class HGlobalStream {
public:
    static HRESULT Create(ComPtr<IStream>* out) noexcept;
    // A stream holding a copy of data, positioned at the start.
    static HRESULT FromBytes(const void* data, size_t size, ComPtr<IStream>* out) noexcept;
    // The whole content of an HGLOBAL stream, whatever its position.
    static HRESULT ToBytes(IStream* stream, std::vector<BYTE>* out) noexcept;
};

// One interface marshalled for exactly one unmarshal in another apartment
// (CoMarshalInterThreadInterfaceInStream / CoGetInterfaceAndReleaseStream). If it is never
// unmarshalled, the marshal data is released so that the object's reference is not leaked.
class MarshalledStream {
public:
    MarshalledStream() noexcept = default;
    MarshalledStream(MarshalledStream&& other) noexcept : stream_(other.stream_.detach()) {}
    MarshalledStream& operator=(MarshalledStream&& other) noexcept;
    MarshalledStream(const MarshalledStream&) = delete;
    MarshalledStream& operator=(const MarshalledStream&) = delete;
    ~MarshalledStream() { reset(); }

    HRESULT Marshal(REFIID riid, IUnknown* object) noexcept;
    HRESULT Unmarshal(REFIID riid, void** out) noexcept;
    template <class T>
    HRESULT Unmarshal(ComPtr<T>* out) noexcept {
        if (!out) return E_POINTER;
        return Unmarshal(__uuidof(T), out->put_void());
    }

    bool empty() const noexcept { return !stream_; }
    // Adopts / hands over a stream made by CoMarshalInterThreadInterfaceInStream.
    void attach(IStream* stream) noexcept {
        reset();
        stream_.attach(stream);
    }
    [[nodiscard]] IStream* detach() noexcept { return stream_.detach(); }
    // Releases the marshal data of a stream never unmarshalled.
    void reset() noexcept;

private:
    ComPtr<IStream> stream_;
};

}  // namespace com
