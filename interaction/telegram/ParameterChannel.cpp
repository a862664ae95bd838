#include "ParameterChannel.h"

#include <algorithm>

#include "com/Result.h"
#include "com/Variant.h"
#include "opcerror.h"
#include "Telegram.h"

namespace orvane::interaction {
namespace {

std::vector<BYTE> Header(BYTE reference, BYTE requestId, BYTE axis, size_t count) {
    return {reference, requestId, axis, static_cast<BYTE>(count)};
}

void AppendAddress(std::vector<BYTE>& request, BYTE attribute, BYTE elements, WORD parameter,
                   WORD subindex) {
    request.push_back(attribute);
    request.push_back(elements);
    AppendWord(request, parameter);
    AppendWord(request, subindex);
}

BYTE Elements(const ParameterAddress& address) { return address.unindexed ? 0 : 1; }

bool IsNegative(const std::vector<BYTE>& response) { return response[1] >= kNegativeResponse; }

// The error block of a negative response starts at offset 4: 0x44, number of
// values, error number (2 bytes). Its low byte is at offset 7, so a response needs
// 8 bytes to carry it.
constexpr size_t kErrorNumberLow = 7;

// The error of a negative multi-parameter read: that of its first 0x44 block, after
// the value blocks of the parameters that were read (each padded to a word).
HRESULT MultiReadError(const std::vector<BYTE>& response) {
    size_t pos = kHeaderLength;
    while (pos + 2 <= response.size()) {
        const BYTE format = response[pos];
        const size_t count = response[pos + 1];
        if (format == kFormatError)
            return pos + 3 < response.size() ? DriveError(response[pos + 3]) : E_FAIL;
        const size_t length = format == kVisibleString || format == kOctetString
                                  ? count
                                  : ValueSize(format, response.size() - pos - 2) * count;
        if (length == 0 && count) return E_FAIL;
        pos += 2 + length;
        if (length % 2 && pos < response.size() && response[pos] == 0) ++pos;
    }
    return E_FAIL;
}

// Length of one value block of a multi-parameter change, as VariantToBytes encodes
// it (format, number of values, value bytes and pad); 0 for formats that cannot be
// sent this way, strings among them.
size_t ChangeBlockLength(BYTE format) {
    switch (format) {
        case 12:
        case 52:
        case 53: return 8;
        case 50: return 9;
        case kFloatingPoint: return 6;
    }
    switch (IntegerWidth(format)) {
        case ValueWidth::Byte:
        case ValueWidth::Word: return 4;
        case ValueWidth::DoubleWord: return 6;
        default: return 0;
    }
}

// Every value block of a request starts on a word boundary: one with an odd number of
// bytes is followed by a pad byte 0, as a single byte value is sent as value, 0.
size_t WireLength(size_t block) { return block + block % 2; }

// Hands the last quality and time stamp to the caller, whose VARIANTs are outputs.
void HandOut(com::UniqueVariant& value, VARIANT* out) {
    if (out) value.move_to(out);
}

}  // namespace

HRESULT PlanWriteSegments(size_t parameterCount, const std::vector<BYTE>& valueBlocks,
                          std::vector<WriteSegment>* segments) {
    if (!segments) return E_POINTER;
    std::vector<WriteSegment> planned;
    WriteSegment current;
    size_t pos = 0;
    for (size_t i = 0; i < parameterCount; ++i) {
        if (valueBlocks.size() - pos < 2) return E_INVALIDARG;
        const size_t block = ChangeBlockLength(valueBlocks[pos]);
        if (block == 0 || valueBlocks.size() - pos < block) return E_INVALIDARG;
        const size_t length = kHeaderLength + kAddressLength * (current.count + 1) +
                              current.wireLength + WireLength(block);
        if (current.count &&
            (length > kMaxTelegramLength || current.count == kMaxParametersPerRequest)) {
            planned.push_back(current);
            current = WriteSegment{i, 0, pos, 0, 0};
        }
        ++current.count;
        current.blockLength += block;
        current.wireLength += WireLength(block);
        pos += block;
    }
    // Bytes left over mean that blocks and parameters do not match.
    if (pos != valueBlocks.size()) return E_INVALIDARG;
    if (current.count) planned.push_back(current);
    *segments = std::move(planned);
    return S_OK;
}

HRESULT ParameterChannel::Exchange(const wchar_t* what, const VARIANT& address,
                                   const std::vector<BYTE>& request, PollLimit limit,
                                   std::vector<BYTE>* response, VARIANT* quality,
                                   VARIANT* timestamp) {
    const bool async = transfer_.IsAsynchronous();
    if (Tracing()) {
        log_->Write(what);
        log_->Write(HexDump(async ? L"    --> BusServer: " : L"  --> BusServer: ", request));
    }
    com::UniqueVariant telegram;
    RETURN_IF_FAILED(MakeTelegram(request, telegram.put()));
    RETURN_IF_FAILED(transfer_.Communicate(address, telegram.get(), quality, timestamp, limit));
    RETURN_IF_FAILED(TelegramBytes(*telegram, response));
    if (Tracing())
        log_->Write(HexDump(async ? L"    <-- BusServer: " : L"  <-- BusServer: ", *response));
    return S_OK;
}

HRESULT ParameterChannel::ReadSingle(const VARIANT& address, BYTE reference, BYTE axis,
                                     BYTE attribute, BYTE elements, WORD parameter, WORD subindex,
                                     std::vector<BYTE>* values, BYTE* format, VARIANT* quality,
                                     VARIANT* timestamp) {
    if (!values || !format) return E_POINTER;
    std::vector<BYTE> request = Header(reference, kRequestRead, axis, 1);
    AppendAddress(request, attribute, elements, parameter, subindex);

    com::UniqueVariant lastQuality, lastTimestamp;
    std::vector<BYTE> response;
    const HRESULT hr = Exchange(L"  communicate (read single)", address, request, PollLimit::Read,
                                &response, lastQuality.put(), lastTimestamp.put());
    HandOut(lastQuality, quality);
    HandOut(lastTimestamp, timestamp);
    RETURN_IF_FAILED(hr);

    if (response.size() < 6) return E_FAIL;
    if (!IsNegative(response) && response[4] != kFormatError) {
        *format = response[4];
        values->assign(response.begin() + 6, response.end());
        return S_OK;
    }
    return response.size() <= kErrorNumberLow ? E_FAIL : DriveError(response[kErrorNumberLow]);
}

HRESULT ParameterChannel::ReadMulti(const VARIANT& address, BYTE reference, BYTE axis,
                                    BYTE attribute, const std::vector<ParameterAddress>& parameters,
                                    std::vector<BYTE>* result, VARIANT* quality,
                                    VARIANT* timestamp) {
    if (!result) return E_POINTER;
    com::UniqueVariant lastQuality, lastTimestamp;
    std::vector<BYTE> kept;
    HRESULT hr = S_OK;
    for (size_t first = 0; first < parameters.size() && SUCCEEDED(hr);
         first += kMaxParametersPerRequest) {
        const size_t count = std::min(kMaxParametersPerRequest, parameters.size() - first);
        std::vector<BYTE> request = Header(reference, kRequestRead, axis, count);
        for (size_t i = first; i < first + count; ++i)
            AppendAddress(request, attribute, Elements(parameters[i]), parameters[i].parameter,
                          parameters[i].subindex);

        lastQuality.reset();
        lastTimestamp.reset();
        std::vector<BYTE> response;
        hr = Exchange(L"  communicate (read multi)", address, request, PollLimit::Read, &response,
                      lastQuality.put(), lastTimestamp.put());
        if (FAILED(hr)) break;
        if (response.size() < 7) {
            hr = E_FAIL;
        } else if (IsNegative(response) || response[4] == kFormatError) {
            hr = MultiReadError(response);
        } else {
            kept.insert(kept.end(), response.begin() + kHeaderLength, response.end());
        }
    }
    HandOut(lastQuality, quality);
    HandOut(lastTimestamp, timestamp);
    RETURN_IF_FAILED(hr);
    result->insert(result->end(), kept.begin(), kept.end());
    return S_OK;
}

HRESULT ParameterChannel::WriteSingle(const VARIANT& address, BYTE reference, BYTE axis,
                                      BYTE attribute, BYTE elements, WORD parameter, WORD subindex,
                                      const std::vector<BYTE>& values, BYTE format) {
    const bool text = format == kVisibleString || format == kOctetString;
    if (format == 0 || (!text && values.empty())) return E_POINTER;
    // The number of values is one byte.
    if (values.size() > 255) return E_INVALIDARG;

    std::vector<BYTE> request = Header(reference, kRequestChange, axis, 1);
    AppendAddress(request, attribute, elements, parameter, subindex);
    request.push_back(format);
    request.push_back(text ? static_cast<BYTE>(values.size()) : 1);
    request.insert(request.end(), values.begin(), values.end());
    if (values.size() % 2) request.push_back(0);

    com::UniqueVariant quality, timestamp;
    std::vector<BYTE> response;
    RETURN_IF_FAILED(Exchange(L"  communicate (write single)", address, request, PollLimit::Write,
                              &response, quality.put(), timestamp.put()));
    if (response.size() < kHeaderLength) return E_FAIL;
    if (!IsNegative(response)) return S_OK;
    if (response.size() <= kErrorNumberLow) return E_FAIL;
    const BYTE error = response[kErrorNumberLow];
    // 0: no such parameter; 22: parameter address not permitted.
    return error == 0 || error == 22 ? OPC_E_INVALIDITEMID : DriveError(error);
}

HRESULT ParameterChannel::WriteMulti(const VARIANT& address, BYTE reference, BYTE axis,
                                     BYTE attribute,
                                     const std::vector<ParameterAddress>& parameters,
                                     const std::vector<BYTE>& valueBlocks,
                                     std::vector<HRESULT>* results) {
    if (!results) return E_POINTER;
    // Planned in full before anything is sent: a bad block must not leave the
    // parameters before it written and the rest not.
    std::vector<WriteSegment> segments;
    RETURN_IF_FAILED(PlanWriteSegments(parameters.size(), valueBlocks, &segments));

    std::vector<HRESULT> outcome(parameters.size(), E_FAIL);
    for (const WriteSegment& segment : segments) {
        std::vector<BYTE> request = Header(reference, kRequestChange, axis, segment.count);
        for (size_t i = segment.first; i < segment.first + segment.count; ++i)
            AppendAddress(request, attribute, Elements(parameters[i]), parameters[i].parameter,
                          parameters[i].subindex);
        for (size_t pos = segment.blockOffset; pos < segment.blockOffset + segment.blockLength;) {
            const size_t block = ChangeBlockLength(valueBlocks[pos]);
            request.insert(request.end(), valueBlocks.begin() + pos,
                           valueBlocks.begin() + pos + block);
            request.resize(request.size() + WireLength(block) - block, 0);
            pos += block;
        }

        com::UniqueVariant quality, timestamp;
        std::vector<BYTE> response;
        // Multi-parameter changes poll with the read limit.
        RETURN_IF_FAILED(Exchange(L"  communicate (write multi)", address, request, PollLimit::Read,
                                  &response, quality.put(), timestamp.put()));
        if (response.size() < kHeaderLength) return E_FAIL;

        const auto first = outcome.begin() + segment.first;
        if (response.size() == kHeaderLength && !IsNegative(response)) {
            std::fill(first, first + segment.count, S_OK);
            continue;
        }
        // Otherwise one block per parameter: 0x40 done, 0x44 with its error number.
        size_t pos = kHeaderLength;
        for (size_t i = 0; i < segment.count; ++i) {
            if (response.size() - pos < 2) return E_UNEXPECTED;
            const BYTE format = response[pos];
            const size_t count = response[pos + 1];
            if (format == kFormatNoData) {
                first[i] = S_OK;
                pos += 2;
            } else if (format == kFormatError && count && response.size() - pos >= 2 + 2 * count) {
                first[i] = DriveError(response[pos + 3]);
                pos += 2 + 2 * count;
            } else {
                return E_UNEXPECTED;
            }
        }
    }
    *results = std::move(outcome);
    return S_OK;
}

}  // namespace orvane::interaction
