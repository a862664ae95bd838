// The model's IPersistStorage in the caller's apartment, on compound files in the
// temp folder: round trips, the storage names, and files it must refuse whole.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ModelTestSupport.h"
#include "StorageNames.h"
#include "TestParameter.h"
#include "com/ComInit.h"
#include "com/Result.h"
#include "com/ValueText.h"
#include "com/Variant.h"

namespace model_test {
namespace {

namespace storage = vk::storage;
constexpr wchar_t kProfileIdent[] = L"DS_MSAC2_Parameter/MA_ProfileIdentNumber";

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

com::ComPtr<IStorage> NewFile(const std::wstring& path) {
    com::ComPtr<IStorage> file;
    EXPECT_HR(S_OK,
              StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                               file.put()));
    return file;
}

com::ComPtr<IStorage> OpenFile(const std::wstring& path) {
    com::ComPtr<IStorage> file;
    EXPECT_HR(S_OK, StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                   nullptr, 0, file.put()));
    return file;
}

// Every stream below a storage by its path, with its bytes.
void Streams(IStorage* storage, const std::wstring& path,
             std::map<std::wstring, storage::Bytes>* out) {
    com::ComPtr<IEnumSTATSTG> elements;
    ASSERT_HR(S_OK, storage->EnumElements(0, nullptr, 0, elements.put()));
    STATSTG stat = {};
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const std::wstring name = stat.pwcsName;
        CoTaskMemFree(stat.pwcsName);
        if (stat.type == STGTY_STREAM) {
            EXPECT_HR(S_OK, storage::ReadStreamBytes(storage, name.c_str(), &(*out)[path + name]));
        } else {
            com::ComPtr<IStorage> sub;
            ASSERT_HR(S_OK,
                      storage->OpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                           nullptr, 0, sub.put()));
            (*out)[path + name + L"/"] = {};
            Streams(sub.get(), path + name + L"/", out);
        }
    }
}

// The tree as lines: every node and parameter with its path, access path and, for
// parameters, flags and value.
void Dump(VKModelObject* node, std::vector<std::wstring>* out) {
    for (bool parameters : {true, false}) {
        com::ComPtr<VKModelCollection> list;
        long count = 0;
        ASSERT_HR(S_OK,
                  parameters ? node->GetParameters(list.put()) : node->GetObjects(list.put()));
        list->GetCount(&count);
        for (long i = 0; i < count; ++i) {
            com::ComPtr<IUnknown> item;
            ASSERT_HR(S_OK, list->GetItem(i, item.put()));
            com::UniqueBstr access;
            if (auto child = item.try_query<VKModelObject>()) {
                child->GetAccessPath(access.put());
                out->push_back(PathOf(item.get()) + L"/|" + access.str());
                Dump(child.get(), out);
                continue;
            }
            auto parameter = item.try_query<VKModelParameter2>();
            com::UniqueVariant value;
            USHORT flags = 0;
            parameter->GetAccessPath(access.put());
            parameter->GetValue(value.put());
            parameter->GetFlags(&flags);
            out->push_back(PathOf(item.get()) + L"|" + std::to_wstring(flags) + L"|" +
                           access.str() + L"|" + FormatValue(*value));
        }
    }
}

class NodePersistence : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, com_.hr());
        root_ = NewRoot();
        // Bus/Dev/1 with a hidden parameter, long names, a name with "/" and values.
        auto bus = NewObject(root_.get(), L"Bus");
        auto dev = NewObject(bus.get(), L"DP_Slave3_");
        ASSERT_HR(S_OK, dev->SetAccessPath(Bstr(L"opc://Sim/DP_Slave3_").get()));
        auto axis = NewObject(dev.get(), L"1");
        auto ident = Generic(dev.get(), kProfileIdent);
        ASSERT_HR(S_OK, ident->SetValue(*com::UniqueVariant(LONG{0x3A00})));
        auto hidden = Generic(dev.get(), L"__channel");
        ASSERT_HR(S_OK, hidden.try_query<VKModelParameter2>()->SetFlags(1));
        Generic(axis.get(), L"pari1000d18");
        Generic(axis.get(), std::wstring(40, L'a').c_str());
        Generic(axis.get(), (std::wstring(40, L'a') + L"b").c_str());
        ASSERT_HR(S_OK, root_.try_query<IPersistStorage>()->IsDirty());
        path_ = TempFile(L"NodePersistenceTest.pac");
    }
    void TearDown() override { DeleteFileW(path_.c_str()); }

    static com::ComPtr<VKModelObject> NewRoot() {
        com::ComPtr<VKModelObject> root;
        EXPECT_HR(S_OK, ::CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_VKModelObject, root.put_void()));
        return root;
    }
    static com::ComPtr<VKModelParameter> Generic(VKModelObject* node, const wchar_t* name) {
        com::ComPtr<IUnknown> unknown;
        EXPECT_HR(S_OK, node->CreateParameter(Bstr(name).get(), nullptr, unknown.put()));
        return unknown.try_query<VKModelParameter>();
    }
    // InitNew, Save and HandsOffStorage, as the server's configuration file does.
    static HRESULT SaveTo(VKModelObject* root, const std::wstring& path) {
        auto persist = com::ComPtr<VKModelObject>(root).try_query<IPersistStorage>();
        com::ComPtr<IStorage> file = NewFile(path);
        RETURN_IF_FAILED(persist->InitNew(file.get()));
        const HRESULT hr = persist->Save(file.get(), TRUE);
        persist->HandsOffStorage();
        return hr;
    }
    static HRESULT LoadFrom(VKModelObject* root, const std::wstring& path) {
        auto persist = com::ComPtr<VKModelObject>(root).try_query<IPersistStorage>();
        com::ComPtr<IStorage> file = OpenFile(path);
        const HRESULT hr = persist->Load(file.get());
        persist->HandsOffStorage();
        return hr;
    }
    static std::vector<std::wstring> DumpOf(VKModelObject* root) {
        std::vector<std::wstring> lines;
        Dump(root, &lines);
        return lines;
    }
    std::map<std::wstring, storage::Bytes> StreamsOf(const std::wstring& path) {
        std::map<std::wstring, storage::Bytes> streams;
        Streams(OpenFile(path).get(), L"", &streams);
        return streams;
    }
    // Opens the storage at "A/B/C" in a writable file and hands it to `change`.
    void Patch(const std::vector<std::wstring>& path,
               const std::function<void(IStorage*)>& change) {
        // Every level stays open: a storage whose parent is released is reverted.
        std::vector<com::ComPtr<IStorage>> levels{OpenFile(path_)};
        for (const std::wstring& name : path) {
            levels.emplace_back();
            ASSERT_HR(S_OK, levels[levels.size() - 2]->OpenStorage(
                                name.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                nullptr, 0, levels.back().put()));
        }
        change(levels.back().get());
    }
    // Loading the patched file fails with `expected` and leaves `root_`'s tree.
    void ExpectRefused(HRESULT expected, const char* what) {
        const auto before = DumpOf(root_.get());
        EXPECT_HR(expected, LoadFrom(root_.get(), path_)) << what;
        EXPECT_EQ(DumpOf(root_.get()), before) << what;
    }

    com::ComInitializer com_{COINIT_APARTMENTTHREADED};
    com::ComPtr<VKModelObject> root_;
    std::wstring path_;
};

TEST_F(NodePersistence, SaveLoadAndSaveAgainGiveTheSameBytes) {
    ASSERT_HR(S_OK, SaveTo(root_.get(), path_));
    EXPECT_HR(S_FALSE, root_.try_query<IPersistStorage>()->IsDirty());
    auto loaded = NewRoot();
    Generic(loaded.get(), L"before");
    ASSERT_HR(S_OK, LoadFrom(loaded.get(), path_));
    EXPECT_HR(S_FALSE, loaded.try_query<IPersistStorage>()->IsDirty()) << "clean after Load";
    EXPECT_EQ(DumpOf(loaded.get()), DumpOf(root_.get()));
    com::ComPtr<IUnknown> found;
    EXPECT_HR(S_OK,
              loaded->FindParameter(Bstr(L"Bus/DP_Slave3_/1/pari1000d18").get(), found.put()));

    const std::wstring again = TempFile(L"NodePersistenceTest2.pac");
    ASSERT_HR(S_OK, SaveTo(loaded.get(), again));
    EXPECT_EQ(StreamsOf(again), StreamsOf(path_));
    DeleteFileW(again.c_str());

    const auto streams = StreamsOf(path_);
    EXPECT_EQ(streams.count(L"Bus/DP_Slave3_/DS_MSAC2_Parameter_MA_Prof@0001/__Name"), 1u)
        << "a \"/\" in a name is stored as \"_\"";
    EXPECT_EQ(streams.count(L"Bus/DP_Slave3_/1/" + std::wstring(26, L'a') + L"@0002/"), 1u);
}

TEST_F(NodePersistence, FailedSavesLeaveTheTreeDirty) {
    auto axis = NewObject(root_.get(), L"Axis");
    Generic(axis.get(), L"pari1000d18");
    Generic(axis.get(), L"PARI1000D18");
    EXPECT_HR(STG_E_FILEALREADYEXISTS, SaveTo(root_.get(), path_)) << "names equal but for case";
    EXPECT_HR(S_OK, root_.try_query<IPersistStorage>()->IsDirty());
    ASSERT_HR(S_OK, root_->DeleteParameter(Bstr(L"Axis").get()));

    com::UniqueVariant unknown;
    V_VT(unknown.get()) = VT_UNKNOWN;
    V_UNKNOWN(unknown.get()) = root_.get();
    root_->AddRef();
    auto props = Generic(root_.get(), L"P").try_query<VKItemProperties>();
    ASSERT_HR(S_OK, props->SetPropertyByName(L"CurrentVal", *unknown));
    EXPECT_HR(STG_E_CANTSAVE, SaveTo(root_.get(), path_)) << "a value holding VT_UNKNOWN";
    EXPECT_HR(S_OK, root_.try_query<IPersistStorage>()->IsDirty());
    props->SetPropertyByName(L"CurrentVal", *com::UniqueVariant(LONG{1}));  // no cycle
}

TEST_F(NodePersistence, DamagedFilesChangeNothing) {
    ASSERT_HR(S_OK, SaveTo(root_.get(), path_));
    const auto good = StreamsOf(path_);
    const std::vector<std::wstring> axis = {L"Bus", L"DP_Slave3_", L"1"};
    auto write = [&](const std::vector<std::wstring>& at, const wchar_t* stream,
                     storage::Bytes bytes) {
        Patch(at,
              [&](IStorage* s) { EXPECT_HR(S_OK, storage::WriteStreamBytes(s, stream, bytes)); });
    };
    auto restore = [&] { ASSERT_HR(S_OK, SaveTo(root_.get(), path_)); };

    auto value = good.at(L"Bus/DP_Slave3_/1/pari1000d18/__Value");
    for (size_t cut : {size_t{1}, value.size() - 1}) {
        write({L"Bus", L"DP_Slave3_", L"1", L"pari1000d18"}, L"__Value",
              storage::Bytes(value.begin(), value.begin() + cut));
        ExpectRefused(STG_E_DOCFILECORRUPT, "a truncated value");
    }
    restore();
    storage::Bytes list = good.at(L"Bus/DP_Slave3_/1/__ParamList");
    list[0] = 0xF0;  // an entry longer than the stream
    write(axis, L"__ParamList", list);
    ExpectRefused(STG_E_DOCFILECORRUPT, "a patched list count");
    write(axis, L"__ParamList", storage::Bytes(list.begin(), list.begin() + 6));
    ExpectRefused(STG_E_DOCFILECORRUPT, "a list cut inside an entry");
    restore();
    Patch(axis, [](IStorage* s) { EXPECT_HR(S_OK, s->DestroyElement(L"pari1000d18")); });
    ExpectRefused(STG_E_FILENOTFOUND, "a parameter's storage missing");
    restore();
    Patch({L"Bus"}, [](IStorage* s) { EXPECT_HR(S_OK, s->DestroyElement(L"__HiddenList")); });
    ExpectRefused(STG_E_FILENOTFOUND, "a node's stream missing");
}

TEST_F(NodePersistence, ClassesOutsideTheCategoryAreRefused) {
    ASSERT_HR(S_OK, SaveTo(root_.get(), path_));
    Patch({L"Bus", L"DP_Slave3_", L"1", L"pari1000d18"},
          [](IStorage* s) { EXPECT_HR(S_OK, s->SetClass(kClsidTestParameter)); });
    ExpectRefused(REGDB_E_CLASSNOTREG, "a registered class outside the category");
    ASSERT_HR(S_OK, SaveTo(root_.get(), path_));
    Patch({L"Bus"}, [](IStorage* s) { EXPECT_HR(S_OK, s->SetClass(kClsidTestParameter)); });
    ExpectRefused(REGDB_E_CLASSNOTREG, "a node of another class");
}

TEST_F(NodePersistence, HandsOffStorageLetsTheFileGo) {
    ASSERT_HR(S_OK, SaveTo(root_.get(), path_));
    auto loaded = NewRoot();
    ASSERT_HR(S_OK, LoadFrom(loaded.get(), path_));
    com::ComPtr<IStorage> again;
    EXPECT_HR(S_OK, StgOpenStorage(path_.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                   nullptr, 0, again.put()))
        << "no storage of the file stays open";
}

}  // namespace
}  // namespace model_test
