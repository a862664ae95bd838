// The IAdviseSink connections of a DA 1.0 group (IDataObject::DAdvise) and the sending of
// stream blocks to them in an HGLOBAL.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <vector>

#include "com/ComPtr.h"
#include "com/HandleRegistry.h"

namespace bussim {

enum class StreamFormat { kDataTime, kWriteComplete };

class StreamSinks {
public:
    // The format a FORMATETC names: DV_E_FORMATETC for another format or aspect, DV_E_TYMED
    // for a medium other than HGLOBAL.
    static HRESULT Check(const FORMATETC* format, StreamFormat* which);

    HRESULT Advise(const FORMATETC* format, IAdviseSink* sink, DWORD* connection);
    // OLE_E_NOCONNECTION for an unknown connection.
    HRESULT Unadvise(DWORD connection);
    bool Has(DWORD connection, StreamFormat format) const;
    // The sink of one connection, or with connection 0 every sink of the format.
    std::vector<com::ComPtr<IAdviseSink>> Sinks(StreamFormat format, DWORD connection = 0) const;
    void Clear();

    // Hands each sink its own copy of `block`; the medium is freed after the call.
    static void Send(const std::vector<com::ComPtr<IAdviseSink>>& sinks, StreamFormat format,
                     const std::vector<BYTE>& block);

private:
    struct Connection {
        StreamFormat format;
        com::ComPtr<IAdviseSink> sink;
    };
    com::HandleRegistry<Connection> connections_;
};

}  // namespace bussim
