#include "Records.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vkopc {
namespace {

using Log = std::vector<std::string>;

// Small stand-ins whose Release reports what the test sets, to check the
// order in which a record lets go of its interfaces and what it reports.
template <class I>
class Fake : public I {
public:
    Fake(Log* log, std::string name, ULONG releaseResult)
        : log_(log), name_(std::move(name)), releaseResult_(releaseResult) {}
    virtual ~Fake() = default;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override {
        log_->push_back(name_ + ".Release");
        return releaseResult_;
    }

protected:
    Log* log_;
    std::string name_;
    ULONG releaseResult_;
};

class FakeItemMgt : public Fake<IOPCItemMgt> {
public:
    using Fake::Fake;
    STDMETHODIMP AddItems(DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP RemoveItems(DWORD, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateEnumerator(REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
};

class FakeSyncIO : public Fake<IOPCSyncIO> {
public:
    using Fake::Fake;
    STDMETHODIMP Read(OPCDATASOURCE, DWORD, OPCHANDLE*, OPCITEMSTATE**, HRESULT**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Write(DWORD, OPCHANDLE*, VARIANT*, HRESULT**) override { return E_NOTIMPL; }
};

class FakeConnectionPoint : public Fake<IConnectionPoint> {
public:
    FakeConnectionPoint(Log* log, HRESULT unadviseResult)
        : Fake(log, "ConnectionPoint", 1), unadviseResult_(unadviseResult) {}
    STDMETHODIMP GetConnectionInterface(IID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Advise(IUnknown*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        log_->push_back("ConnectionPoint.Unadvise(" + std::to_string(cookie) + ")");
        return unadviseResult_;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    HRESULT unadviseResult_;
};

TEST(CGrpInfo, ReleaseOrderAndDiagnostics) {
    Log log;
    FakeItemMgt itemMgt(&log, "ItemMgt", static_cast<ULONG>(-1));
    FakeSyncIO syncIO(&log, "SyncIO", 0);
    FakeConnectionPoint point(&log, E_FAIL);
    CGrpInfo group;
    group.itemMgt.attach(&itemMgt);
    group.syncIO.attach(&syncIO);
    group.connectionPoint.attach(&point);
    group.advised = true;
    group.adviseCookie = 5;

    const std::wstring text = group.Release();
    EXPECT_EQ(
        L"IOPCItemMgt::Release() failed: FFFFFFFF\n"
        L"Can not unadvise callback interface: 80004005\n",
        text)
        << "diagnostics of CGrpInfo::Release";
    const Log expected = {"ItemMgt.Release", "SyncIO.Release", "ConnectionPoint.Unadvise(5)",
                          "ConnectionPoint.Release"};
    EXPECT_EQ(expected, log) << "release order";
    EXPECT_FALSE(group.advised) << "advised flag after Release";
    EXPECT_FALSE(group.itemMgt) << "IOPCItemMgt kept after Release";
    EXPECT_FALSE(group.connectionPoint) << "IConnectionPoint kept after Release";

    // A second release (the destructor's) finds nothing left to release.
    log.clear();
    EXPECT_EQ(L"", group.Release());
    EXPECT_TRUE(log.empty()) << "second Release touched " << log.size() << " interfaces";
}

// A server that is gone is not called: no Unadvise, but every proxy goes, and the
// records keep their handles for the reconnect.
TEST(CSvrInfo, AbandonDropsProxiesAndKeepsRecords) {
    Log log;
    FakeItemMgt itemMgt(&log, "ItemMgt", 0);
    FakeConnectionPoint point(&log, S_OK);
    CSvrInfo server;
    auto group = std::make_shared<CGrpInfo>();
    group->hClient = 3;
    group->itemMgt.attach(&itemMgt);
    group->connectionPoint.attach(&point);
    group->advised = true;
    group->adviseCookie = 5;
    auto item = std::make_shared<CItemInfo>();
    item->hClient = 7;
    group->items.Insert(7, item);
    server.groups.Insert(3, group);

    server.Abandon(RPC_E_DISCONNECTED, 1234);
    const Log expected = {"ItemMgt.Release", "ConnectionPoint.Release"};
    EXPECT_EQ(expected, log) << "calls on a gone server";
    EXPECT_TRUE(server.lost);
    EXPECT_EQ(RPC_E_DISCONNECTED, server.lostResult);
    EXPECT_EQ(1234u, server.lastAttempt);
    EXPECT_EQ(group.get(), server.groups.Find(3));
    EXPECT_EQ(item.get(), group->items.Find(7));
    EXPECT_FALSE(group->advised);
    EXPECT_TRUE(group->adviseAgain) << "the reconnect advises it again";
    EXPECT_FALSE(group->itemMgt);
}

}  // namespace
}  // namespace vkopc
