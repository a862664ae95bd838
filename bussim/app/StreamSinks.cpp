#include "StreamSinks.h"

#include <cstring>

#include "DataStream.h"
#include "com/Result.h"

namespace bussim {
namespace {

CLIPFORMAT Registered(const wchar_t* name) {
    return static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(name));
}

CLIPFORMAT ClipFormat(StreamFormat format) {
    static const CLIPFORMAT dataTime = Registered(opc::kDataTimeFormat);
    static const CLIPFORMAT writeComplete = Registered(opc::kWriteCompleteFormat);
    return format == StreamFormat::kDataTime ? dataTime : writeComplete;
}

}  // namespace

HRESULT StreamSinks::Check(const FORMATETC* format, StreamFormat* which) {
    RETURN_HR_IF(E_INVALIDARG, !format);
    if (format->cfFormat == ClipFormat(StreamFormat::kDataTime))
        *which = StreamFormat::kDataTime;
    else if (format->cfFormat == ClipFormat(StreamFormat::kWriteComplete))
        *which = StreamFormat::kWriteComplete;
    else
        return DV_E_FORMATETC;
    RETURN_HR_IF(DV_E_FORMATETC, format->ptd || format->dwAspect != DVASPECT_CONTENT);
    RETURN_HR_IF(DV_E_TYMED, !(format->tymed & TYMED_HGLOBAL));
    return S_OK;
}

HRESULT StreamSinks::Advise(const FORMATETC* format, IAdviseSink* sink, DWORD* connection) {
    RETURN_HR_IF(E_INVALIDARG, !connection);
    *connection = 0;
    RETURN_HR_IF(E_INVALIDARG, !sink);
    StreamFormat which;
    RETURN_IF_FAILED(Check(format, &which));
    *connection = connections_.Add(Connection{which, com::ComPtr<IAdviseSink>(sink)});
    return *connection ? S_OK : E_OUTOFMEMORY;
}

HRESULT StreamSinks::Unadvise(DWORD connection) {
    Connection removed;
    return connections_.Remove(connection, &removed) ? S_OK : OLE_E_NOCONNECTION;
}

bool StreamSinks::Has(DWORD connection, StreamFormat format) const {
    Connection found;
    return connections_.Find(connection, &found) && found.format == format;
}

std::vector<com::ComPtr<IAdviseSink>> StreamSinks::Sinks(StreamFormat format,
                                                         DWORD connection) const {
    std::vector<com::ComPtr<IAdviseSink>> sinks;
    for (const auto& [handle, entry] : connections_.Snapshot()) {
        if (entry.format == format && (connection == 0 || connection == handle))
            sinks.push_back(entry.sink);
    }
    return sinks;
}

void StreamSinks::Clear() {
    for (const auto& entry : connections_.Snapshot()) connections_.Remove(entry.first);
}

void StreamSinks::Send(const std::vector<com::ComPtr<IAdviseSink>>& sinks, StreamFormat format,
                       const std::vector<BYTE>& block) {
    FORMATETC etc = {ClipFormat(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    for (const auto& sink : sinks) {
        // Each call gets a medium of its own: the sink may not keep or change it.
        HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, block.size());
        if (!memory) return;
        if (void* data = ::GlobalLock(memory)) {
            std::memcpy(data, block.data(), block.size());
            ::GlobalUnlock(memory);
        }
        STGMEDIUM medium = {};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = memory;
        sink->OnDataChange(&etc, &medium);
        ::GlobalFree(memory);
    }
}

}  // namespace bussim
