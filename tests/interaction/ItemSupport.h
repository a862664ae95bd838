// The interaction core with items made as the server makes them (inside their axis
// node, or as one parameter of the root named with the whole ID), over the bus
// simulator from the multithreaded apartment.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "IdentSupport.h"
#include "ModelNodes.h"
#include "Telegram.h"
#include "com/Bstr.h"

namespace orvane::interaction::test {

inline constexpr wchar_t kItemsKey[] = L"Software\\OrvaneTest\\Items";
inline constexpr wchar_t kSlave3[] = L"Orvane_BusSimulator/DP_Slave3_/";
inline const std::wstring kSpeed = std::wstring(kSlave3) + L"1/pari1000d18";

inline std::wstring Drive(const std::wstring& id) { return L"Axolent://" + id; }

class ItemFixture : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kItemsKey);
        // No back-off left by an earlier test's offline drive.
        ChannelBackoff::Get().Clear();
        SetRegString(HKEY_CURRENT_USER, std::wstring(kItemsKey) + L"\\BusServers",
                     L"BusServerProgID", kSimProgId);
        // An answer timeout of a few seconds, which the deadline's whole seconds cut to
        // one or two, failed identification reads of drives that were merely slow on a
        // busy machine (axes missing or misnumbered). Every drive is on the bus for the
        // check, so nothing needs a short timeout; a read of a drive taken off the bus
        // gives up at the poll limit.
        SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"TimeoutSeconds", 60);
        SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"TimeoutCheckNamespace", 20000);
        HRESULT hr = sim_.Open(3);
        for (int attempt = 0; FAILED(hr) && attempt < 20 && SimRunning(); ++attempt) Sleep(100);
        if (FAILED(hr)) hr = sim_.Open(3);
        ASSERT_EQ(Hr{S_OK}, Hr{hr}) << "simulator connection";
        ASSERT_EQ(Hr{S_OK}, Hr{sim_.SetSimFlag(L"Sim/Slave6/Offline", false)});
    }
    void TearDown() override {
        DropCore();
        RegDeleteTreeW(HKEY_CURRENT_USER, kItemsKey);
    }

    void MakeCore(DWORD testAtItemCreate = 0) {
        DropCore();
        SetRegNumber(HKEY_CURRENT_USER, kItemsKey, L"TestAtItemCreate", testAtItemCreate);
        core_ = std::make_shared<InteractionCore>(HKEY_CURRENT_USER, kItemsKey);
        ASSERT_EQ(Hr{S_OK}, Hr{com::MakeObject(&ident_, core_)});
        com::ComPtr<IUnknown> root;
        ASSERT_EQ(Hr{S_OK}, Hr{core_->GetModel(root.put())}) << "GetModel";
        ASSERT_EQ(Hr{S_OK}, Hr{root.query(&model_)});
    }
    void DropCore() {
        if (core_) core_->ReleaseConnections();
        model_.reset();
        ident_.reset();
        core_.reset();
    }
    void Check() {
        long checked = 0;
        ASSERT_EQ(Hr{S_OK}, Hr{core_->CheckNameSpace(&checked, ident_.get())});
    }

    // Inside its axis node when `inAxis`, else in the root with the access path the
    // server gives an unknown ID.
    com::ComPtr<VKModelParameter> MakeItem(const std::wstring& id, bool inAxis) {
        com::ComPtr<VKModelParameter> item;
        if (inAxis) {
            ItemPath parts;
            EXPECT_TRUE(SplitItemPath(id, &parts)) << Narrow(id);
            com::ComPtr<VKModelObject> axis;
            EXPECT_EQ(Hr{S_OK}, Hr{FindObjectIn(model_.get(), parts.axis, &axis)}) << Narrow(id);
            if (axis) {
                EXPECT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(axis.get(), parts.leaf, &item)});
            }
            return item;
        }
        EXPECT_EQ(Hr{S_OK}, Hr{FindOrCreateParameter(model_.get(), id, &item)});
        if (item) {
            EXPECT_EQ(Hr{S_OK}, Hr{item->Init(com::UniqueBstr(id).get(), 3, VT_BSTR, *Text(L"0"))});
        }
        return item;
    }
    HRESULT Init(IUnknown* item) {
        com::ComPtr<IUnknown> replacement;
        VARTYPE addressType = VT_EMPTY;
        const HRESULT hr = core_->InitItem(item, replacement.put(), &addressType);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(VT_BSTR, addressType);
        }
        return hr;
    }
    HRESULT Read(const std::wstring& address, std::string* text,
                 com::UniqueVariant* quality = nullptr, com::UniqueVariant* timestamp = nullptr) {
        com::UniqueVariant value, ownQuality, ownTimestamp;
        const HRESULT hr =
            core_->ReadItem(*Text(address), value.put(), (quality ? quality : &ownQuality)->put(),
                            (timestamp ? timestamp : &ownTimestamp)->put(), ident_.get());
        *text = Describe(*value);
        return hr;
    }
    HRESULT Write(const std::wstring& address, const VARIANT& value) {
        return core_->WriteItem(*Text(address), value);
    }
    HRESULT Terminate(const std::wstring& address) { return core_->TerminateItem(*Text(address)); }
    LONG Requests(int slave) {
        return sim_.SimNumber(L"Sim/Slave" + std::to_wstring(slave) + L"/Requests");
    }

    SimConnection sim_;
    std::shared_ptr<InteractionCore> core_;
    com::ComPtr<CoreIdent> ident_;
    com::ComPtr<VKModelObject> model_;
};

}  // namespace orvane::interaction::test
