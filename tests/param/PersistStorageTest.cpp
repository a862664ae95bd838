// A parameter's IPersistStorage on a storage in memory: its sub-storage with the
// eleven streams, numbered long names, a clean object and a stream missing on Load.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HrCheck.h"
#include "ParamTestSupport.h"
#include "StorageNames.h"
#include "VkObjectParameter.h"
#include "com/Object.h"

namespace {

using namespace param_test;
using vk::storage::Bytes;

class PersistStorageTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        com::ComPtr<ILockBytes> bytes;
        ASSERT_HR(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()));
        ASSERT_HR(S_OK, StgCreateDocfileOnILockBytes(bytes.get(), kCreate, 0, parent_.put()));
    }
    void TearDown() override {
        parent_.reset();
        CoUninitialize();
    }

    static constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

    static com::ComPtr<VKModelParameter> NewParameter(const std::wstring& name) {
        com::ComPtr<VKModelParameter> parameter;
        EXPECT_HR(S_OK, com::CreateInstance<vk::vkObjectParameter>(nullptr, IID_VKModelParameter,
                                                                   parameter.put_void()));
        EXPECT_HR(S_OK, parameter->SetName(com::UniqueBstr(name).get()));
        return parameter;
    }
    com::ComPtr<IStorage> Sub(const wchar_t* name) {
        com::ComPtr<IStorage> sub;
        EXPECT_HR(S_OK, parent_->OpenStorage(name, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                             nullptr, 0, sub.put()));
        return sub;
    }
    Bytes Stream(const wchar_t* storage, const wchar_t* stream) {
        Bytes bytes;
        EXPECT_HR(S_OK, vk::storage::ReadStreamBytes(Sub(storage).get(), stream, &bytes));
        return bytes;
    }
    static size_t Count(IStorage* storage) {
        std::vector<std::wstring> names;
        EXPECT_HR(S_OK, vk::storage::ElementNames(storage, &names));
        return names.size();
    }

    com::ComPtr<IStorage> parent_;
};

TEST_F(PersistStorageTest, ElevenStreamsByteForByte) {
    auto p100 = NewParameter(L"P100");
    ASSERT_HR(S_OK, p100->SetDataType(VT_I2, *I2(7)));
    auto persist = p100.try_query<IPersistStorage>();
    ASSERT_HR(S_OK, persist->Save(parent_.get(), FALSE));
    persist->HandsOffStorage();
    STATSTG stat = {};
    ASSERT_HR(S_OK, Sub(L"P100")->Stat(&stat, STATFLAG_NONAME));
    EXPECT_TRUE(IsEqualCLSID(stat.clsid, CLSID_vkObjectParameter)) << "the storage's class";
    EXPECT_EQ(Count(Sub(L"P100").get()), 11u);
    EXPECT_EQ(Stream(L"P100", L"__Tag").size(), 4u);
    EXPECT_EQ(Stream(L"P100", L"__DataType"), (Bytes{0x02, 0x00}));
    EXPECT_EQ(Stream(L"P100", L"__Value"), (Bytes{0x02, 0x00, 0x07, 0x00}));
    EXPECT_EQ(Stream(L"P100", L"__Name"),
              (Bytes{5, 0, 0, 0, 'P', 0, '1', 0, '0', 0, '0', 0, 0, 0}));
}

TEST_F(PersistStorageTest, LongNamesAreNumbered) {
    const std::wstring forty(40, L'n');
    for (const std::wstring& name : {forty, forty + L"2"})
        ASSERT_HR(S_OK, NewParameter(name).try_query<IPersistStorage>()->InitNew(parent_.get()));
    std::vector<std::wstring> names;
    ASSERT_HR(S_OK, vk::storage::ElementNames(parent_.get(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{std::wstring(26, L'n') + L"@0001",
                                                std::wstring(26, L'n') + L"@0002"}));
}

TEST_F(PersistStorageTest, CleanObjectWritesNothing) {
    auto persist = NewParameter(L"P1").try_query<IPersistStorage>();
    ASSERT_HR(S_OK, persist->Save(parent_.get(), FALSE));
    EXPECT_HR(S_FALSE, persist->IsDirty());
    persist->HandsOffStorage();
    ASSERT_HR(S_OK, Sub(L"P1")->DestroyElement(L"__Name"));
    ASSERT_HR(S_OK, persist->SaveCompleted(parent_.get()));
    EXPECT_HR(S_OK, persist->Save(nullptr, TRUE));
    persist->HandsOffStorage();
    EXPECT_EQ(Count(Sub(L"P1").get()), 10u) << "nothing was written";
}

TEST_F(PersistStorageTest, LoadReadsBackAndReportsAMissingStream) {
    auto saved = NewParameter(L"P7");
    ASSERT_HR(S_OK,
              saved->Init(com::UniqueBstr(L"Axolent://a/b").get(), 1, VT_BSTR, *Text(L"dflt")));
    ASSERT_HR(S_OK, saved->SetValue(*Text(L"now")));
    ASSERT_HR(S_OK, saved->SetTag(-5));
    ASSERT_HR(S_OK, saved->SetFormat(com::UniqueBstr(L"%x").get()));
    ASSERT_HR(S_OK, saved.try_query<IPersistStorage>()->Save(parent_.get(), FALSE));
    saved.try_query<IPersistStorage>()->HandsOffStorage();
    ASSERT_HR(S_OK, Sub(L"P7")->DestroyElement(L"__Format"));

    auto loaded = NewParameter(L"P7");
    auto persist = loaded.try_query<IPersistStorage>();
    EXPECT_HR(STG_E_FILENOTFOUND, persist->Load(parent_.get()));
    EXPECT_HR(S_FALSE, persist->IsDirty());
    com::UniqueVariant value;
    ASSERT_HR(S_OK, loaded->GetValue(value.put()));
    EXPECT_EQ(com::BstrView(V_BSTR(value.get())), L"now");
    long tag = 0, rights = 0;
    loaded->GetTag(&tag);
    loaded->GetAccessRights(&rights);
    EXPECT_EQ(tag, -5);
    EXPECT_EQ(rights, 1);
    com::UniqueBstr format;
    ASSERT_HR(S_OK, loaded->GetFormat(format.put()));
    EXPECT_EQ(format.str(), L"%s") << "the missing stream leaves its field";
}

}  // namespace
