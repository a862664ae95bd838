// Which topology the simulator loads: command line, registry, default file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "SimHost.h"

namespace bussim {
namespace {

const wchar_t kKey[] = L"Software\\Axolent\\OrvaneBusSim";

std::wstring TempFile(const wchar_t* name, const char* text) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
    return path;
}

// Sets or (with nullptr) deletes the registry choice; restores it at the end.
class RegistryTopology {
public:
    explicit RegistryTopology(const wchar_t* path) {
        if (path)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"TopologyFile", REG_SZ, path,
                            static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t)));
        else
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"TopologyFile");
    }
    ~RegistryTopology() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"TopologyFile"); }
};

TEST(SimHost, DefaultTopologyBesideTheProgram) {
    RegistryTopology none(nullptr);
    SimHost::Get().Load(L"");
    EXPECT_TRUE(SimHost::Get().configured())
        << "default.topology: " << SimHost::Get().loadError().size();
    EXPECT_NE(SimHost::Get().topologyPath().find(L"default.topology"), std::wstring::npos);
    EXPECT_NE(SimHost::Get().bus().FindItem("DP/Slave5/SlotI0S47D8209"), nullptr)
        << "slave 5 of the default bus";
}

TEST(SimHost, CommandLineBeforeRegistry) {
    std::wstring fromRegistry = TempFile(L"bussim_registry.topology", "slave 21\n");
    std::wstring fromCommandLine = TempFile(L"bussim_cmdline.topology", "slave 22\n");
    RegistryTopology chosen(fromRegistry.c_str());
    SimHost::Get().Load(L"");
    EXPECT_EQ(SimHost::Get().topologyPath(), fromRegistry) << "the registry's file";
    EXPECT_NE(SimHost::Get().bus().FindItem("DP/Slave21/SlotI0S47D8209"), nullptr);
    SimHost::Get().Load(fromCommandLine);
    EXPECT_EQ(SimHost::Get().topologyPath(), fromCommandLine) << "the command line wins";
    EXPECT_NE(SimHost::Get().bus().FindItem("DP/Slave22/SlotI0S47D8209"), nullptr);
    DeleteFileW(fromRegistry.c_str());
    DeleteFileW(fromCommandLine.c_str());
}

TEST(SimHost, BadTopologyLeavesAnEmptyBusAndSaysWhy) {
    std::wstring bad = TempFile(L"bussim_bad.topology", "slave 3\nparam 1 u16 0\n");
    SimHost::Get().Load(bad);
    EXPECT_FALSE(SimHost::Get().configured());
    EXPECT_NE(SimHost::Get().loadError().find(L"line 2: param before the first axis"),
              std::wstring::npos)
        << "load error names the line";
    EXPECT_EQ(SimHost::Get().bus().FindItem("DP/Slave3/SlotI0S47D8209"), nullptr) << "no slaves";
    EXPECT_NE(SimHost::Get().bus().FindItem("Sim/Reset"), nullptr) << "the Sim/ items stay";
    DeleteFileW(bad.c_str());

    SimHost::Get().Load(L"Z:\\no\\such\\file.topology");
    EXPECT_FALSE(SimHost::Get().configured());
    EXPECT_EQ(SimHost::Get().loadError().find(L"cannot read"), 0u);
}

}  // namespace
}  // namespace bussim
