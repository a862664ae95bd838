// The configuration file of Axolent.Orvane out-of-process, against the bus
// simulator: the namespace saved, loaded in a new server and served again, files
// refused whole, saves that leave the old file, and opcda save, load and --config.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/Memory.h"
#include "com/Strings.h"
#include "com/Variant.h"
#include "orvane.h"

namespace {

const std::wstring kSpeed = L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18";
const std::wstring kDeviceId = L"Orvane_BusSimulator/DP_Slave3_/1/DS_DeviceID";

std::string Bytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::vector<std::wstring> FilesIn(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// A client of one server object: its group, items and configuration file.
class Client {
public:
    Client() {
        EXPECT_HR(S_OK, CreateServer(&server_)) << "Axolent.Orvane";
        if (!server_) return;
        EXPECT_HR(S_OK, server_.query(&file_)) << "IPersistFile";
        DWORD rate = 0;
        EXPECT_HR(S_OK,
                  server_->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &hGroup_, &rate,
                                    IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(mgt_.put())));
        if (mgt_) mgt_.query(&io_);
    }
    ~Client() {
        io_.reset();
        mgt_.reset();
        if (hGroup_) server_->RemoveGroup(hGroup_, TRUE);
    }

    IPersistFile* file() { return file_.get(); }
    void Check() {
        long checked = 0;
        EXPECT_HR(S_OK, server_.try_query<IOPCOV_NameSpace>()->CheckNameSpace(&checked));
    }
    std::vector<std::wstring> Browse() {
        std::vector<std::wstring> ids;
        auto browse = server_.try_query<IOPCBrowseServerAddressSpace>();
        com::ComPtr<IEnumString> names;
        EXPECT_HR(S_OK, browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, names.put()));
        LPOLESTR name = nullptr;
        while (names && names->Next(1, &name, nullptr) == S_OK) {
            ids.emplace_back(name);
            CoTaskMemFree(name);
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // Adds one item; its server handle, 0 when refused.
    OPCHANDLE Add(const std::wstring& id, HRESULT expected = S_OK) {
        OPCITEMDEF def = {};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(id.c_str());
        com::CoTaskMem<OPCITEMRESULT> results;
        com::CoTaskMem<HRESULT> errors;
        mgt_->AddItems(1, &def, results.put(), errors.put());
        EXPECT_HR(expected, errors ? errors[0] : E_FAIL) << Narrow(id);
        return errors && SUCCEEDED(errors[0]) ? results[0].hServer : 0;
    }
    std::wstring Read(OPCHANDLE handle) {
        com::CoTaskMem<OPCITEMSTATE> states;
        com::CoTaskMem<HRESULT> errors;
        if (FAILED(io_->Read(OPC_DS_DEVICE, 1, &handle, states.put(), errors.put())) ||
            FAILED(errors[0]))
            return L"<failed>";
        com::UniqueVariant value(states[0].vDataValue);
        VariantClear(&states[0].vDataValue);
        if (FAILED(VariantChangeType(value.get(), value.get(), 0, VT_BSTR))) return L"<type>";
        return std::wstring(V_BSTR(value.get()));
    }
    HRESULT Write(OPCHANDLE handle, LONG number) {
        com::UniqueVariant value(number);
        com::CoTaskMem<HRESULT> errors;
        const HRESULT hr = io_->Write(1, &handle, value.get(), errors.put());
        return FAILED(hr) ? hr : errors[0];
    }
    std::wstring CurFile() {
        com::CoTaskMem<wchar_t> name;
        EXPECT_HR(S_OK, file_->GetCurFile(name.put()));
        return name ? name.get() : L"";
    }

private:
    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IPersistFile> file_;
    OPCHANDLE hGroup_ = 0;
    com::ComPtr<IOPCItemMgt> mgt_;
    com::ComPtr<IOPCSyncIO> io_;
};

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CreateSimulator(&sim_)) << "the bus simulator";
        VARIANT on;
        VariantInit(&on);
        V_VT(&on) = VT_BOOL;
        V_BOOL(&on) = VARIANT_TRUE;
        ASSERT_HR(S_OK, SimItem(sim_.get(), L"Sim/Reset").Write(on)) << "Sim/Reset";
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir_ = std::wstring(temp) + L"orvane-config-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir_.c_str(), nullptr);
        file_ = dir_ + L"\\namespace.pac";
    }
    void TearDown() override {
        for (const std::wstring& name : FilesIn(dir_)) DeleteFileW((dir_ + L"\\" + name).c_str());
        RemoveDirectoryW(dir_.c_str());
    }

    com::ComPtr<IOPCServer> sim_;
    std::wstring dir_;
    std::wstring file_;
};

TEST_F(ConfigFile, LoadedInANewServerTheNamespaceIsServedAgain) {
    std::vector<std::wstring> before;
    std::wstring deviceId;
    {
        Client a;
        a.Check();
        ASSERT_NE(0u, a.Add(kSpeed));
        deviceId = a.Read(a.Add(kDeviceId));
        EXPECT_HR(S_OK, a.file()->Save(file_.c_str(), TRUE));
        EXPECT_EQ(a.CurFile(), file_) << "fRemember";
        EXPECT_HR(S_FALSE, a.file()->IsDirty());
        before = a.Browse();
    }
    ASSERT_TRUE(WaitForNoServerProcess(15000)) << "the first server did not end";

    Client b;
    ASSERT_HR(S_OK, b.file()->Load(file_.c_str(), 0));
    EXPECT_EQ(b.CurFile(), file_);
    const std::vector<std::wstring> after = b.Browse();
    EXPECT_EQ(after, before) << "the browse of the loaded namespace";
    EXPECT_NE(std::find(after.begin(), after.end(), kSpeed), after.end());
    for (const std::wstring& id : after)
        EXPECT_EQ(id.find(L"/__"), std::wstring::npos) << "hidden, yet browsed: " << Narrow(id);
    EXPECT_EQ(b.Read(b.Add(kDeviceId)), deviceId) << "identification value";

    const OPCHANDLE speed = b.Add(kSpeed);
    EXPECT_EQ(b.Read(speed), L"1500");
    EXPECT_HR(S_OK, b.Write(speed, 1400));
    EXPECT_EQ(b.Read(speed), L"1400");
    b.Write(speed, 1500);
}

TEST_F(ConfigFile, ItemsMadeBeforeALoadKeepReading) {
    Client a;
    a.Check();
    const OPCHANDLE speed = a.Add(kSpeed);
    ASSERT_HR(S_OK, a.file()->Save(file_.c_str(), FALSE));
    EXPECT_NE(a.CurFile(), file_) << "without fRemember the current file stays";
    ASSERT_HR(S_OK, a.file()->Load(file_.c_str(), 0));
    EXPECT_EQ(a.Read(speed), L"1500") << "an item made before the load";
    EXPECT_EQ(a.Read(a.Add(kSpeed)), L"1500") << "an item made after it";
    EXPECT_EQ(a.Read(a.Add(L"Orvane_BusSimulator/DP_Slave5_/1/pari1000d18")), L"300")
        << "a drive first asked after the load";
}

TEST_F(ConfigFile, TopLevelStreamsAndTheDefaultFile) {
    Client a;
    CLSID clsid = GUID_NULL;
    ASSERT_HR(S_OK, a.file()->GetClassID(&clsid));
    EXPECT_EQ(com::GuidToString(clsid, true), L"{C8F17CA1-7EF3-11D3-BD81-00105A3185C3}");
    EXPECT_EQ(a.CurFile(), BinDirectory() + L"Default.pac");
    ASSERT_HR(S_OK, a.file()->Save(file_.c_str(), TRUE));
    ASSERT_HR(S_OK, a.file()->Save(file_.c_str(), TRUE)) << "a second save right after";
    ASSERT_HR(S_OK, a.file()->Save(nullptr, FALSE)) << "Save(NULL): the current file";
    EXPECT_EQ(FilesIn(dir_), std::vector<std::wstring>{L"namespace.pac"});

    com::ComPtr<IStorage> root;
    ASSERT_HR(S_OK, StgOpenStorage(file_.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                   nullptr, 0, root.put()));
    com::ComPtr<IStream> version;
    ASSERT_HR(S_OK, root->OpenStream(L"__VersionString", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                     0, version.put()));
    char bytes[32] = {};
    ULONG read = 0;
    version->Read(bytes, sizeof(bytes), &read);
    EXPECT_EQ(std::string(bytes, read), std::string("\x06\0\0\0"
                                                    "0\0.\0"
                                                    "0\0.\0"
                                                    "2\0\0\0",
                                                    16));
    EXPECT_HR(S_OK, root->OpenStream(L"__ModelList", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                     version.put()));
    version.reset();
    root.reset();

    // A compound file of another program.
    const std::wstring other = dir_ + L"\\other.pac";
    ASSERT_HR(S_OK,
              StgCreateDocfile(other.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                               0, root.put()));
    root.reset();
    EXPECT_HR(STG_E_FILENOTFOUND, a.file()->Load(other.c_str(), 0));
    EXPECT_EQ(a.CurFile(), other) << "Load always takes the name";
}

TEST_F(ConfigFile, RefusedFilesAndFailedSavesChangeNothing) {
    Client a;
    a.Check();
    ASSERT_NE(0u, a.Add(kSpeed));
    ASSERT_HR(S_OK, a.file()->Save(file_.c_str(), TRUE));
    const std::string good = Bytes(file_);
    const std::vector<std::wstring> before = a.Browse();

    const std::wstring damaged = dir_ + L"\\damaged.pac";
    for (size_t cut : {size_t{100}, size_t{512}, good.size() / 2, good.size() - 512}) {
        WriteBytes(damaged, good.substr(0, cut));
        EXPECT_TRUE(FAILED(a.file()->Load(damaged.c_str(), 0))) << "cut at " << cut;
        EXPECT_EQ(a.Browse(), before) << "after the file cut at " << cut;
    }
    WriteBytes(damaged, "not a compound file, just text");
    EXPECT_TRUE(FAILED(a.file()->Load(damaged.c_str(), 0))) << "a text file";
    EXPECT_HR(STG_E_FILENOTFOUND, a.file()->Load((dir_ + L"\\missing.pac").c_str(), 0));
    EXPECT_EQ(a.Browse(), before);

    EXPECT_TRUE(FAILED(a.file()->Save((dir_ + L"\\no\\such\\dir.pac").c_str(), TRUE)))
        << "a target directory that does not exist";
    // Two items whose names differ only in case: compound files cannot tell them apart.
    a.Add(L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18xA");
    a.Add(L"Orvane_BusSimulator/DP_Slave3_/1/pari1000d18xa");
    EXPECT_HR(S_OK, a.file()->IsDirty());
    EXPECT_HR(STG_E_FILEALREADYEXISTS, a.file()->Save(file_.c_str(), TRUE));
    EXPECT_HR(S_OK, a.file()->IsDirty()) << "still unsaved";
    EXPECT_TRUE(Bytes(file_) == good) << "the old file, byte for byte";
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::wstring>{L"damaged.pac", L"namespace.pac"}))
        << "no temporary file";
}

TEST_F(ConfigFile, OpcdaSaveLoadAndConfig) {
    const std::wstring file = L"\"" + file_ + L"\"";
    ToolRun run = RunOpcda(L"save " + file + L" " + kSpeed);
    ASSERT_EQ(0u, run.exitCode) << run.output;
    ASSERT_TRUE(WaitForNoServerProcess(15000));

    run = RunOpcda(L"load " + file);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(run.output.find(Narrow(kSpeed)), std::string::npos) << run.output;
    ASSERT_TRUE(WaitForNoServerProcess(15000));

    run = RunOpcda(L"read " + kSpeed + L" --config " + file);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(run.output.find("1500"), std::string::npos) << run.output;
    ASSERT_TRUE(WaitForNoServerProcess(15000));
    run = RunOpcda(L"watch " + kSpeed + L" --count 1 --config " + file);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(run.output.find("1500"), std::string::npos) << run.output;

    const std::wstring damaged = dir_ + L"\\damaged.pac";
    WriteBytes(damaged, Bytes(file_).substr(0, 700));
    run = RunOpcda(L"load \"" + damaged + L"\"");
    EXPECT_EQ(3u, run.exitCode) << run.output;
    EXPECT_NE(run.output.find("Orvane_BusSimulator/DP_Slave3_"), std::string::npos)
        << "the namespace as it stands:\n"
        << run.output;
    run = RunOpcda(L"browse --config \"" + damaged + L"\"");
    EXPECT_EQ(3u, run.exitCode) << "a failed load stops the command:\n" << run.output;
}

}  // namespace
