// Parameter requests to a drive: builds the request telegrams, hands them to a
// transfer and checks and unpacks the responses. The transfer (the bus-server
// exchange) and the trace log are supplied by the owner.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace orvane::interaction {

// Which poll limit of the settings an exchange runs under.
enum class PollLimit {
    Read,   // reads and multi-parameter changes
    Write,  // single-parameter changes
};

// One request/response exchange with a drive over its acyclic channel.
class ITelegramTransfer {
public:
    virtual ~ITelegramTransfer() = default;
    // `telegram` holds the request on entry and the response on return; `quality`
    // and `timestamp` receive what the bus server reported for the channel item.
    virtual HRESULT Communicate(const VARIANT& address, VARIANT* telegram, VARIANT* quality,
                                VARIANT* timestamp, PollLimit limit) = 0;
    // Asynchronous transfers indent their telegram dumps by four blanks, not two.
    virtual bool IsAsynchronous() const = 0;
};

// The module's trace log. Lines are composed only while Enabled() is true.
class ITraceLog {
public:
    virtual ~ITraceLog() = default;
    virtual bool Enabled() const = 0;
    virtual void Write(const std::wstring& line) = 0;
};

// One parameter of a multi-parameter request.
struct ParameterAddress {
    WORD parameter = 0;
    WORD subindex = 0;
    bool unindexed = false;  // sent with number of elements 0
};

class ParameterChannel {
public:
    // `log` may be null: no trace.
    ParameterChannel(ITelegramTransfer& transfer, ITraceLog* log)
        : transfer_(transfer), log_(log) {}

    // One parameter. `values` receives the value bytes of the response, `format` its
    // format byte. A negative response gives DriveError(low byte of the error number).
    HRESULT ReadSingle(const VARIANT& address, BYTE reference, BYTE axis, BYTE attribute,
                       BYTE elements, WORD parameter, WORD subindex, std::vector<BYTE>* values,
                       BYTE* format, VARIANT* quality, VARIANT* timestamp);

    // Any number of parameters, in requests of at most 39. When every request
    // succeeded, the value blocks of all responses are appended to `result` in order;
    // otherwise `result` is untouched and the failing request's result is returned.
    HRESULT ReadMulti(const VARIANT& address, BYTE reference, BYTE axis, BYTE attribute,
                      const std::vector<ParameterAddress>& parameters, std::vector<BYTE>* result,
                      VARIANT* quality, VARIANT* timestamp);

    // One parameter change. `values` are the value bytes (VariantToBytes); strings
    // (formats 9 and 10) may be empty. Error numbers 0 and 22 give OPC_E_INVALIDITEMID.
    HRESULT WriteSingle(const VARIANT& address, BYTE reference, BYTE axis, BYTE attribute,
                        BYTE elements, WORD parameter, WORD subindex,
                        const std::vector<BYTE>& values, BYTE format);

    // Changes several parameters: `valueBlocks` holds per parameter its value block
    // (format, number of values, value bytes). Sent in requests of at most 240 bytes;
    // `results` receives one result per parameter, and is untouched on failure.
    HRESULT WriteMulti(const VARIANT& address, BYTE reference, BYTE axis, BYTE attribute,
                       const std::vector<ParameterAddress>& parameters,
                       const std::vector<BYTE>& valueBlocks, std::vector<HRESULT>* results);

private:
    HRESULT Exchange(const wchar_t* what, const VARIANT& address, const std::vector<BYTE>& request,
                     PollLimit limit, std::vector<BYTE>* response, VARIANT* quality,
                     VARIANT* timestamp);
    bool Tracing() const { return log_ && log_->Enabled(); }

    ITelegramTransfer& transfer_;
    ITraceLog* log_;
};

// A run of parameters of a multi-parameter change that goes out as one request.
struct WriteSegment {
    size_t first = 0;        // index of the first parameter
    size_t count = 0;        // number of parameters
    size_t blockOffset = 0;  // where their value blocks start in the value-block bytes
    size_t blockLength = 0;  // the bytes of their value blocks
    size_t wireLength = 0;   // the same in the request, pad bytes included
};

// Splits a multi-parameter change so that no request exceeds 240 bytes. E_INVALIDARG
// for a format that cannot be sent this way (strings among them) or value blocks that
// do not match the parameter count.
HRESULT PlanWriteSegments(size_t parameterCount, const std::vector<BYTE>& valueBlocks,
                          std::vector<WriteSegment>* segments);

}  // namespace orvane::interaction
