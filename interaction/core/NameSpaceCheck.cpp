// The namespace check: discovery, channel binding and the parallel identification,
// one apartment-threaded worker per device that reaches the interaction object
// through a marshalled IOPCOVI_AsyncIdent. Nothing is locked while the workers run,
// so their calls, arriving on RPC threads, run side by side.
#include "NameSpaceCheck.h"
#include "MessageWait.h"

#include <memory>

#include "CommLog.h"
#include "InteractionCore.h"
#include "com/Bstr.h"
#include "com/Module.h"
#include "com/Result.h"
#include "com/Strings.h"

namespace orvane::interaction {
namespace {

void Trace(const std::wstring& text) {
    if (CommLog::On()) CommLog::Write(text);
}

// One device's identification, shared by the check and its worker: the event lives
// until both have let go, so a worker that outlives the wait never signals a closed
// handle.
struct IdentJob {
    com::UniqueHandle done;  // manual reset
    std::wstring name;
    std::wstring progId;
    bool setUp = false;
    IStream* stream = nullptr;  // the marshalled IOPCOVI_AsyncIdent, taken by the worker
    HMODULE module = nullptr;   // held for the worker when this code runs in a DLL
};

void RunJob(IdentJob& job) {
    com::ComPtr<IOPCOVI_AsyncIdent> ident;
    IStream* stream = job.stream;
    job.stream = nullptr;
    if (FAILED(CoGetInterfaceAndReleaseStream(stream, __uuidof(IOPCOVI_AsyncIdent),
                                              ident.put_void())) ||
        !ident)
        return;
    const com::UniqueBstr name(job.name);
    if (!job.setUp)
        ident->AsyncSetupDeviceCommunication(com::UniqueBstr(job.progId).get(), name.get(), 1);
    else
        ident->AsyncReadDeviceIdentification(name.get(), kIdentGroupDevice);
    ident->AsyncIdentifyDevice(name.get());
    Trace(L"  identification thread finished (" + job.name + L")");
}

DWORD WINAPI IdentWorker(void* parameter) {
    std::unique_ptr<std::shared_ptr<IdentJob>> handed(
        static_cast<std::shared_ptr<IdentJob>*>(parameter));
    std::shared_ptr<IdentJob> job = std::move(*handed);
    handed.reset();
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(init)) RunJob(*job);
    SetEvent(job->done.get());
    if (SUCCEEDED(init)) CoUninitialize();
    const HMODULE module = job->module;
    job.reset();
    com::Module::Get().Unlock();
    // The module must stay loaded until the thread is out of its code.
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Starts the worker of `job`; false when it could not be started (the job's stream
// is released then).
bool StartWorker(const std::shared_ptr<IdentJob>& job, IOPCOVI_AsyncIdent* ident) {
    if (!ident || FAILED(CoMarshalInterThreadInterfaceInStream(__uuidof(IOPCOVI_AsyncIdent), ident,
                                                               &job->stream)))
        return false;
    com::Module& module = com::Module::Get();
    if (!module.is_exe())
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&IdentWorker), &job->module);
    module.Lock();
    auto* handed = new std::shared_ptr<IdentJob>(job);
    const HANDLE thread = CreateThread(nullptr, 0, IdentWorker, handed, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
        return true;
    }
    delete handed;
    module.Unlock();
    if (job->module) FreeLibrary(job->module);
    job->module = nullptr;
    CoReleaseMarshalData(job->stream);
    job->stream->Release();
    job->stream = nullptr;
    return false;
}

}  // namespace

DWORD NameSpaceCheckTimeout(DWORD perDevice, size_t devices) {
    const unsigned long long total = static_cast<unsigned long long>(perDevice) * devices;
    return total >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(total);
}

HRESULT InteractionCore::CheckNameSpace(long* plChecked, IOPCOVI_AsyncIdent* ident) {
    RETURN_IF_NULL_POINTER(plChecked);
    Trace(L"Browse namespace");
    if (!modelInitialized()) {
        std::vector<std::wstring> created;
        RETURN_IF_FAILED(InitModel(&created));
    }
    std::vector<std::shared_ptr<DeviceRecord>> devices;
    std::wstring progId;
    {
        com::CsLock guard(lock_);
        RETURN_IF_FAILED(FollowLoadedTree());
        if (nameSpaceChecked_) {
            *plChecked = 1;
            return S_OK;
        }
        RETURN_HR_IF(E_POINTER, !m_spObjModel);
        // Set before the work, so that a concurrent check answers at once.
        nameSpaceChecked_ = true;
        devices = devices_;
        progId = busServerProgId_;
    }

    std::vector<std::shared_ptr<IdentJob>> jobs;
    for (const auto& device : devices) {
        auto job = std::make_shared<IdentJob>();
        const DeviceRecord record = Snapshot(*device);
        job->name = record.name;
        job->progId = progId;
        job->setUp = record.setUp;
        // The workers do the rest of the set-up themselves.
        if (!record.setUp) BindChannel(device);
        job->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        RETURN_HR_IF(E_OUTOFMEMORY, !job->done);
        jobs.push_back(std::move(job));
    }
    std::vector<HANDLE> events;
    for (const auto& job : jobs) {
        Trace(L"start identification thread (" + job->name + L")");
        if (!StartWorker(job, ident)) SetEvent(job->done.get());
        events.push_back(job->done.get());
    }

    Trace(L"wait for finished identification");
    if (!WaitAllWithMessages(static_cast<DWORD>(events.size()), events.data(),
                             NameSpaceCheckTimeout(settings_.timeoutCheckNamespace, events.size())))
        Trace(L"timeout!");
    Trace(L"identification finished");
    *plChecked = 1;
    return S_OK;
}

}  // namespace orvane::interaction
