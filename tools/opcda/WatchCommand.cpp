// opcda watch ITEM... [--rate MS] [--deadband PCT] [--seconds N] [--count N] [--progid P]
// [--node HOST]: subscribes to the items' data changes and prints a line per item per
// change, in read's format, until N seconds or N lines have passed or Ctrl+C. The group
// is made inactive, the sink advised, then the group activated, so that no change is
// missed; the group is always unadvised and removed at the end.
#include <cstdio>
#include <cwchar>

#include "Commands.h"
#include "DataCallback.h"
#include "ItemGroup.h"
#include "ServerConnection.h"

namespace {

HANDLE g_interrupted = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    SetEvent(g_interrupted);
    return TRUE;
}

// A whole number option; `fallback` when absent, false when it is not one.
bool NumberOption(const Options& options, const wchar_t* name, unsigned long fallback,
                  unsigned long* value) {
    *value = fallback;
    if (!options.Has(name)) return true;
    const std::wstring text = options.Get(name);
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long number = wcstoull(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || text[0] == L'-' || number > 0xFFFFFFFFull) return false;
    *value = static_cast<unsigned long>(number);
    return true;
}

}  // namespace

int RunWatchCommand(const Options& options) {
    if (options.arguments.empty()) {
        fwprintf(stderr, L"opcda watch: name at least one item\n");
        return kExitUsage;
    }
    unsigned long rate = 1000, seconds = 0, count = 0;
    if (!NumberOption(options, L"rate", 1000, &rate) ||
        !NumberOption(options, L"seconds", 0, &seconds) ||
        !NumberOption(options, L"count", 0, &count)) {
        fwprintf(stderr, L"opcda watch: --rate, --seconds and --count take whole numbers\n");
        return kExitUsage;
    }
    FLOAT deadband = 0.0f;
    if (options.Has(L"deadband")) {
        const std::wstring text = options.Get(L"deadband");
        wchar_t* end = nullptr;
        deadband = wcstof(text.c_str(), &end);
        if (text.empty() || *end || !(deadband >= 0.0f && deadband <= 100.0f)) {
            fwprintf(stderr, L"opcda watch: --deadband takes a percentage from 0 to 100\n");
            return kExitUsage;
        }
    }
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    if (!LoadConfigOption(options, server.get(), L"watch")) return kExitCallFailed;
    std::wstring message;
    ItemGroup group(server.get());
    if (FAILED(group.Open(options.arguments, &message, VT_EMPTY, FALSE, rate, deadband))) {
        fwprintf(stderr, L"opcda watch: %ls\n", message.c_str());
        return kExitCallFailed;
    }
    int exitCode = kExitOk;
    for (const GroupItem& item : group.items) {
        if (FAILED(item.error)) {
            wprintf(L"%ls: error %ls\n", item.id.c_str(),
                    ErrorText(server.get(), item.error).c_str());
            exitCode = kExitCallFailed;
        }
    }
    com::ComPtr<CDataCallbackSink> sink;
    HRESULT hr = com::MakeObject(&sink, server.get(), group.ids(), size_t{count});
    Subscription subscription;
    if (SUCCEEDED(hr)) hr = subscription.Advise(group.itemMgt.get(), sink.get());
    com::ComPtr<IOPCGroupStateMgt> state;
    if (SUCCEEDED(hr)) hr = group.itemMgt.query(&state);
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda watch: no subscription: %ls\n",
                 ErrorText(server.get(), hr).c_str());
        return kExitCallFailed;
    }
    com::UniqueHandle interrupted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_interrupted = interrupted.get();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    // The rate first, so that its line comes before the activation's values.
    DWORD requested = rate, revised = 0;
    BOOL active = TRUE;
    hr = state->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        wprintf(L"update rate %lu ms\n", revised);
        fflush(stdout);
        hr = state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
    }
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda watch: SetState failed: %ls\n",
                 ErrorText(server.get(), hr).c_str());
        exitCode = kExitCallFailed;
    } else {
        HANDLE waits[] = {sink->done(), interrupted.get()};
        WaitForMultipleObjects(2, waits, FALSE, seconds ? seconds * 1000 : INFINITE);
    }
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    active = FALSE;
    state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
    return exitCode;
}
