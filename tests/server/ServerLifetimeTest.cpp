// Lifetime of the server process and its bond to the interaction object.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/ComPtr.h"
#include "com/ScopeExit.h"
#include "com/Strings.h"

namespace {

constexpr wchar_t kInteractionServerKey[] =
    L"CLSID\\{1E34FA58-D28A-11D5-A939-0060087AB05A}\\InprocServer32";
constexpr wchar_t kStubCounterKey[] = L"Software\\Axolent\\OrvaneTest\\InteractionStub";
constexpr DWORD kProcessWaitMs = 20000;

DWORD StubCounter(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    RegGetValueW(HKEY_CURRENT_USER, kStubCounterKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                 &size);
    return value;
}

// Points the interaction class at another DLL for the life of the object.
class ScopedInteractionServer {
public:
    explicit ScopedInteractionServer(const std::wstring& path) {
        saved_ = ReadRegString(HKEY_CLASSES_ROOT, kInteractionServerKey, nullptr, &original_);
        if (saved_) Set(path);
    }
    ~ScopedInteractionServer() { Restore(); }
    bool saved() const { return saved_; }
    void Restore() {
        if (saved_) Set(original_);
        saved_ = false;
    }

private:
    static void Set(const std::wstring& path) {
        RegSetKeyValueW(HKEY_CLASSES_ROOT, kInteractionServerKey, nullptr, REG_SZ, path.c_str(),
                        static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    }

    bool saved_ = false;
    std::wstring original_;
};

TEST(ServerLifetime, ProcessEndsAfterTheLastRelease) {
    ASSERT_TRUE(WaitForNoServerProcess(kProcessWaitMs)) << "an earlier server process did not end";
    com::ComPtr<IOPCServer> server;
    ASSERT_HR(S_OK, CreateServer(&server));
    const std::vector<DWORD> ids = ServerProcesses();
    ASSERT_EQ(1u, ids.size()) << "one Orvane.exe should run";
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[0]);
    ASSERT_NE(nullptr, process) << "OpenProcess(Orvane.exe)";
    com::ScopeExit closeProcess([process] { CloseHandle(process); });

    OPCHANDLE handle = 0;
    DWORD revised = 0;
    com::ComPtr<IUnknown> group;
    ASSERT_HR(S_OK, server->AddGroup(L"G", TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                     IID_IUnknown, group.put()));
    // Releasing the server first: its groups must not keep the process alive.
    server.reset();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process, 0)) << "the client still holds a group";
    group.reset();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, kProcessWaitMs))
        << "Orvane.exe did not end after its last object was released";
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(0u, code) << "exit code of a normal run";
}

TEST(ServerLifetime, ServerBalancesGetModelWithReleaseConnections) {
    // The test double counts the calls.
    ScopedInteractionServer stub(BinDirectory() + L"OV_InteractionStub.dll");
    ASSERT_TRUE(stub.saved()) << "the interaction component is not registered";
    const DWORD getModel = StubCounter(L"GetModel");
    const DWORD released = StubCounter(L"ReleaseConnections");
    com::ComPtr<IOPCServer> server;
    ASSERT_HR(S_OK, CreateServer(&server));
    EXPECT_EQ(getModel + 1, StubCounter(L"GetModel")) << "GetModel calls after creating a server";
    server.reset();
    EXPECT_EQ(released + 1, StubCounter(L"ReleaseConnections"))
        << "ReleaseConnections after the last release";
}

TEST(ServerLifetime, CreationFailsWithoutTheInteractionObject) {
    ASSERT_TRUE(WaitForNoServerProcess(kProcessWaitMs)) << "an earlier server process did not end";

    // The server inherits this environment when COM starts it for us.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"orvane-missing-interaction.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"ORVANE_LOG", log.c_str());

    ScopedInteractionServer missing(BinDirectory() + L"NoSuchInteraction.dll");
    ASSERT_TRUE(missing.saved()) << "the interaction component is not registered";
    com::ComPtr<IOPCServer> server;
    const HRESULT hr = CreateServer(&server);
    EXPECT_TRUE(FAILED(hr)) << "CoCreateInstance without an interaction object returned "
                            << Hex(hr);
    EXPECT_EQ(nullptr, server.get());

    missing.Restore();
    // The process served no object and ends on its own; its log is complete then.
    ASSERT_TRUE(WaitForNoServerProcess(kProcessWaitMs))
        << "the server did not end after the failed creation";
    std::ifstream file(log.c_str(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    EXPECT_NE(std::string::npos,
              text.find("Interaction object for this server could not be created."))
        << "the error box text is not in the log: " << text;
    EXPECT_NE(std::string::npos, text.find("not shown"))
        << "the box should be suppressed: " << text;
    DeleteFileW(log.c_str());
}

}  // namespace
