// Identification tests: an interaction core under a scratch settings key over the
// bus simulator, with an IOPCOVI_AsyncIdent for its identification workers, the
// model tree as text, and a simulator started with a topology of the test's own.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "InteractionCore.h"
#include "SimSupport.h"
#include "TestSupport.h"
#include "com/Bstr.h"
#include "com/Object.h"

namespace orvane::interaction::test {

inline std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

inline void SetRegString(HKEY root, const std::wstring& key, const wchar_t* name,
                         const std::wstring& text) {
    RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void SetRegNumber(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(root, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

// The workers' way back into the core, as the interaction object's own
// IOPCOVI_AsyncIdent is. Holds the core, so that a worker that outlives a test's
// wait still finds it.
class CoreIdent : public com::Object<IOPCOVI_AsyncIdent> {
public:
    explicit CoreIdent(std::shared_ptr<InteractionCore> core) : core_(std::move(core)) {}
    STDMETHODIMP AsyncReadDeviceIdentification(BSTR bsDevName,
                                               unsigned char byParameters) override {
        return bsDevName ? core_->AsyncReadDeviceIdentification(bsDevName, byParameters) : E_FAIL;
    }
    STDMETHODIMP AsyncSetupDeviceCommunication(BSTR, BSTR bsDevName,
                                               long bReadIdentification) override {
        return bsDevName ? core_->AsyncSetupDeviceCommunication(bsDevName, bReadIdentification != 0)
                         : S_OK;
    }
    STDMETHODIMP AsyncIdentifyDevice(BSTR bsDevName) override {
        return bsDevName ? core_->AsyncIdentifyDevice(bsDevName) : E_FAIL;
    }

private:
    std::shared_ptr<InteractionCore> core_;
};

struct TreeEntry {
    std::string value;  // Describe() of a parameter's value; "" for a node
    bool hidden = false;
};
using Tree = std::map<std::string, TreeEntry>;

// Every node ("path/") and parameter ("path") below `node`, paths relative to it.
inline void WalkTree(VKModelObject* node, const std::string& prefix, Tree* tree) {
    com::ComPtr<VKModelCollection> parameters, objects;
    long count = 0;
    if (SUCCEEDED(node->GetParameters(parameters.put())) && parameters &&
        SUCCEEDED(parameters->GetCount(&count))) {
        for (long i = 0; i < count; ++i) {
            com::ComPtr<IUnknown> item;
            com::ComPtr<VKModelParameter2> parameter;
            if (FAILED(parameters->GetItem(i, item.put())) || FAILED(item.query(&parameter)))
                continue;
            com::UniqueBstr name;
            com::UniqueVariant value;
            unsigned short flags = 0;
            parameter->GetName(name.put());
            parameter->GetValue(value.put());
            parameter->GetFlags(&flags);
            (*tree)[prefix + Narrow(name.str())] = {Describe(*value), (flags & 1) != 0};
        }
    }
    if (SUCCEEDED(node->GetObjects(objects.put())) && objects &&
        SUCCEEDED(objects->GetCount(&count))) {
        for (long i = 0; i < count; ++i) {
            com::ComPtr<IUnknown> item;
            com::ComPtr<VKModelObject> child;
            if (FAILED(objects->GetItem(i, item.put())) || FAILED(item.query(&child))) continue;
            com::UniqueBstr name;
            child->GetName(name.put());
            const std::string path = prefix + Narrow(name.str()) + "/";
            (*tree)[path] = {};
            WalkTree(child.get(), path, tree);
        }
    }
}

// The axis nodes of a device in the tree: "1 2 3".
inline std::string AxesOf(const Tree& tree, const std::string& device) {
    std::string axes;
    for (const auto& [path, entry] : tree) {
        if (path.compare(0, device.size(), device) != 0 || path.back() != '/') continue;
        const std::string rest = path.substr(device.size());
        if (rest.find('/') != rest.size() - 1) continue;
        axes += (axes.empty() ? "" : " ") + rest.substr(0, rest.size() - 1);
    }
    return axes;
}

inline std::string ValueAt(const Tree& tree, const std::string& path) {
    const auto found = tree.find(path);
    return found == tree.end() ? "<missing>" : found->second.value;
}

inline bool SimRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {sizeof(entry)};
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry))
        running = _wcsicmp(entry.szExeFile, L"OrvaneBusSim.exe") == 0;
    CloseHandle(snapshot);
    return running;
}

// True once no simulator process runs, polling for at most `seconds`.
inline bool AwaitNoSim(int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (!SimRunning()) return true;
        Sleep(100);
    }
    return !SimRunning();
}

// The simulator's next start loads `text` instead of the default topology (the
// registry choice of the simulator); undone at the end. A simulator still running
// from an earlier test must end first, or it would answer with the default bus.
class OwnTopology {
public:
    explicit OwnTopology(const std::string& text) {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        path_ = std::wstring(dir) + L"orvane_ident_test.topology";
        if (FILE* file = _wfopen(path_.c_str(), L"wb")) {
            fputs(text.c_str(), file);
            fclose(file);
        }
        ready_ = AwaitNoSim(20);
        SetRegString(HKEY_LOCAL_MACHINE, kKey, L"TopologyFile", path_);
    }
    ~OwnTopology() {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"TopologyFile");
        DeleteFileW(path_.c_str());
    }
    bool ready() const { return ready_; }

private:
    static constexpr wchar_t kKey[] = L"Software\\Axolent\\OrvaneBusSim";
    std::wstring path_;
    bool ready_ = false;
};

}  // namespace orvane::interaction::test
