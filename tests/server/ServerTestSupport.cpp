#include "HrCheck.h"
#include "Processes.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "com/Memory.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "orvane.h"

std::string Hex(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof(text), "%#lx", static_cast<unsigned long>(hr));
    return text;
}

std::string Narrow(const std::wstring& text) { return com::WideToUtf8(text); }

HRESULT CreateServer(com::ComPtr<IOPCServer>* server) {
    return CoCreateInstance(CLSID_OPCOrvane, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                            server->put_void());
}

HRESULT GetGroupState(IUnknown* group, GroupState* state) {
    com::ComPtr<IOPCGroupStateMgt> mgt;
    HRESULT hr = group->QueryInterface(IID_IOPCGroupStateMgt, mgt.put_void());
    if (FAILED(hr)) return hr;
    LPWSTR name = nullptr;
    hr = mgt->GetState(&state->updateRate, &state->active, &name, &state->timeBias,
                       &state->deadband, &state->lcid, &state->clientHandle, &state->serverHandle);
    state->name = name ? name : L"";
    CoTaskMemFree(name);
    return hr;
}

std::vector<std::wstring> GroupNames(IOPCServer* server) {
    std::vector<std::wstring> names;
    com::ComPtr<IEnumString> names_enum;
    if (server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, names_enum.put_unknown()) !=
        S_OK)
        return names;
    LPOLESTR name = nullptr;
    ULONG fetched = 0;
    while (names_enum->Next(1, &name, &fetched) == S_OK) {
        names.push_back(name);
        CoTaskMemFree(name);
    }
    return names;
}

std::wstring BinDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::vector<DWORD> ServerProcesses() { return test_support::ProcessIds(L"Orvane.exe"); }

bool WaitForNoServerProcess(DWORD timeoutMs) {
    return test_support::WaitForNoProcess(L"Orvane.exe", timeoutMs);
}

bool ReadRegString(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring* value) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return false;
    *value = buffer;
    return true;
}

bool RegKeyExists(HKEY root, const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

namespace {

// Every test process is a COM client in the multithreaded apartment.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_HR(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "CoInitializeEx";
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                             RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    }
    void TearDown() override { CoUninitialize(); }
};

::testing::Environment* const kComEnvironment =
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace

SimItem::SimItem(IOPCServer* sim, const wchar_t* id) : sim_(sim) {
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    if (FAILED(sim->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &hGroup, &rate,
                             IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt_.put()))))
        return;
    hGroup_ = hGroup;
    OPCITEMDEF def = {};
    def.szAccessPath = const_cast<LPWSTR>(L"");
    def.szItemID = const_cast<LPWSTR>(id);
    def.bActive = TRUE;
    def.hClient = 1;
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    if (mgt_->AddItems(1, &def, results.put(), errors.put()) == S_OK) hItem_ = results[0].hServer;
    mgt_.query(&io_);
}

SimItem::~SimItem() {
    io_.reset();
    mgt_.reset();
    if (hGroup_) sim_->RemoveGroup(hGroup_, TRUE);
}

LONG SimItem::Number() {
    if (!io_ || !hItem_) return -1;
    com::CoTaskMem<OPCITEMSTATE> states;
    com::CoTaskMem<HRESULT> errors;
    if (io_->Read(OPC_DS_DEVICE, 1, &hItem_, states.put(), errors.put()) != S_OK) return -1;
    com::UniqueVariant value(states[0].vDataValue);
    VariantClear(&states[0].vDataValue);
    return SUCCEEDED(VariantChangeType(value.get(), value.get(), 0, VT_I4)) ? V_I4(value.get())
                                                                            : -1;
}

HRESULT SimItem::Write(const VARIANT& value) {
    if (!io_ || !hItem_) return E_FAIL;
    com::CoTaskMem<HRESULT> errors;
    return io_->Write(1, &hItem_, const_cast<VARIANT*>(&value), errors.put());
}

HRESULT CreateSimulator(com::ComPtr<IOPCServer>* sim) {
    CLSID clsid;
    RETURN_IF_FAILED(CLSIDFromProgID(L"Orvane.BusSimulator", &clsid));
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, sim->put_void());
}

ToolRun RunOpcda(const std::wstring& arguments) {
    ToolRun run;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring outputPath =
        std::wstring(temp) + L"opcda-test-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    com::UniqueHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return run;
    std::wstring commandLine = L"\"" + BinDirectory() + L"opcda.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    output.reset();
    std::ifstream file(outputPath.c_str(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    run.output = text.str();
    file.close();
    DeleteFileW(outputPath.c_str());
    return run;
}
