// StreamSubscription.h - a group's subscription on a DA 1.0 server: the IAdviseSink its
// IDataObject sends the data and write-complete streams to, the two advise connections, and
// the transactions of IOPCAsyncIO. A DA 1.0 server picks the transaction IDs itself, so the
// client's TransactionID of each call is kept here until its completion comes.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <map>
#include <vector>

#include "DataStream.h"
#include "com/ComPtr.h"

namespace vkauto {

class COPCGroupImpl;
class CStreamSink;

class StreamSubscription {
public:
    enum class Kind { kRead, kWrite, kRefresh };

    StreamSubscription();
    StreamSubscription(const StreamSubscription&) = delete;
    StreamSubscription& operator=(const StreamSubscription&) = delete;
    ~StreamSubscription();

    // Advises a sink that hands the streams to `group` (held weakly).
    HRESULT Advise(IDataObject* data, COPCGroupImpl* group);
    void Unadvise();
    bool advised() const { return sink_ != nullptr; }
    DWORD dataConnection() const { return dataConnection_; }
    DWORD writeConnection() const { return writeConnection_; }

    // A call the server took as `serverId`; a completion that came first (an apartment takes
    // calls while it waits for the reply) is delivered now.
    void Started(COPCGroupImpl* group, DWORD serverId, Kind kind, LONG clientId);
    // The client's TransactionID of a cancelled call, which will not complete.
    bool Cancelled(DWORD serverId, LONG* clientId);
    // One block from the sink.
    void Receive(COPCGroupImpl* group, CLIPFORMAT format, const BYTE* block, size_t size);

private:
    struct Completion {
        bool write = false;
        opc::DataStream data;
        opc::WriteCompleteStream written;
        DWORD id() const { return write ? written.transactionId : data.transactionId; }
    };
    struct Pending {
        Kind kind;
        LONG clientId;
    };
    static void Deliver(COPCGroupImpl* group, const Completion& completion, Kind kind,
                        LONG clientId);

    com::ComPtr<IDataObject> data_;
    com::ComPtr<CStreamSink> sink_;
    DWORD dataConnection_ = 0;
    DWORD writeConnection_ = 0;
    std::map<DWORD, Pending> pending_;
    std::vector<Completion> early_;  // completions of calls not yet returned, oldest first
};

}  // namespace vkauto
