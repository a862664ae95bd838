// read --async and write --async: the group's IOPCAsyncIO2, completions through the
// group's IOPCDataCallback, printed as read and write print them.
#include <cstdio>

#include "Commands.h"
#include "DataCallback.h"
#include "ItemGroup.h"
#include "com/Memory.h"

namespace {

constexpr DWORD kTransactionId = 1;
constexpr DWORD kCompletionWaitMs = 60000;

struct AsyncSession {
    com::ComPtr<CDataCallbackSink> sink;
    Subscription subscription;
    com::ComPtr<IOPCAsyncIO2> io;
};

HRESULT OpenSession(IOPCServer* server, ItemGroup& group, AsyncSession* session,
                    const wchar_t* command) {
    HRESULT hr = com::MakeObject(&session->sink, server, group.ids(), size_t{0});
    if (SUCCEEDED(hr)) hr = group.itemMgt.query(&session->io);
    if (SUCCEEDED(hr)) hr = session->subscription.Advise(group.itemMgt.get(), session->sink.get());
    if (FAILED(hr))
        fwprintf(stderr, L"opcda %ls: no asynchronous access: %ls\n", command,
                 ErrorText(server, hr).c_str());
    else
        session->sink->ExpectTransaction(kTransactionId);
    return hr;
}

// Prints the refused items of a request; waits for the completion of the accepted ones.
int Finish(IOPCServer* server, ItemGroup& group, AsyncSession& session, HRESULT hr,
           const std::vector<size_t>& sent, const HRESULT* errors, const wchar_t* command) {
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda %ls: %ls\n", command, ErrorText(server, hr).c_str());
        return kExitCallFailed;
    }
    int exitCode = kExitOk;
    bool anyAccepted = false;
    for (size_t k = 0; k < sent.size(); ++k) {
        if (SUCCEEDED(errors[k])) {
            anyAccepted = true;
            continue;
        }
        wprintf(L"%ls: error %ls\n", group.items[sent[k]].id.c_str(),
                ErrorText(server, errors[k]).c_str());
        exitCode = kExitCallFailed;
    }
    fflush(stdout);
    if (!anyAccepted) return exitCode;
    if (WaitForSingleObject(session.sink->done(), kCompletionWaitMs) != WAIT_OBJECT_0) {
        fwprintf(stderr, L"opcda %ls: no completion within %lu s\n", command,
                 kCompletionWaitMs / 1000);
        return kExitCallFailed;
    }
    return session.sink->completionResult() == S_OK ? exitCode : kExitCallFailed;
}

}  // namespace

int AsyncReadAndPrint(IOPCServer* server, ItemGroup& group) {
    std::vector<OPCHANDLE> handles;
    std::vector<size_t> sent;
    int exitCode = kExitOk;
    for (size_t i = 0; i < group.items.size(); ++i) {
        if (SUCCEEDED(group.items[i].error)) {
            handles.push_back(group.items[i].hServer);
            sent.push_back(i);
        } else {
            wprintf(L"%ls: error %ls\n", group.items[i].id.c_str(),
                    ErrorText(server, group.items[i].error).c_str());
            exitCode = kExitCallFailed;
        }
    }
    if (handles.empty()) return exitCode;
    AsyncSession session;
    if (FAILED(OpenSession(server, group, &session, L"read"))) return kExitCallFailed;
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    const HRESULT hr = session.io->Read(static_cast<DWORD>(handles.size()), handles.data(),
                                        kTransactionId, &cancelId, errors.put());
    const int finished = Finish(server, group, session, hr, sent, errors.get(), L"read");
    return exitCode != kExitOk ? exitCode : finished;
}

int AsyncWriteAndPrint(IOPCServer* server, ItemGroup& group, std::vector<OPCHANDLE> handles,
                       std::vector<VARIANT> values, const std::vector<size_t>& sent) {
    AsyncSession session;
    if (FAILED(OpenSession(server, group, &session, L"write"))) return kExitCallFailed;
    DWORD cancelId = 0;
    com::CoTaskMem<HRESULT> errors;
    const HRESULT hr = session.io->Write(static_cast<DWORD>(handles.size()), handles.data(),
                                         values.data(), kTransactionId, &cancelId, errors.put());
    return Finish(server, group, session, hr, sent, errors.get(), L"write");
}
