// Enumerators and connection points.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HrCheck.h"
#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"
#include "com/Enum.h"
#include "com/Object.h"
#include "TestObjects.h"

namespace {

std::vector<std::wstring> TakeStrings(LPOLESTR* items, ULONG count) {
    std::vector<std::wstring> result;
    for (ULONG i = 0; i < count; ++i) {
        result.emplace_back(items[i]);
        ::CoTaskMemFree(items[i]);
    }
    return result;
}

TEST(EnumString, NextSkipResetCloneFollowTheEnumeratorRules) {
    com::ComPtr<IEnumString> e;
    ASSERT_HR(S_OK, com::CreateEnumString({L"a", L"b", L"c"}, e.put()));
    LPOLESTR items[4] = {};
    ULONG fetched = 99;
    EXPECT_HR(S_OK, e->Next(2, items, &fetched)) << "Next(2) of 3";
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), TakeStrings(items, fetched));

    com::ComPtr<IEnumString> clone;
    ASSERT_HR(S_OK, e->Clone(clone.put()));
    EXPECT_HR(S_FALSE, e->Next(4, items, &fetched)) << "Next(4) with one left";
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ((std::vector<std::wstring>{L"c"}), TakeStrings(items, fetched));
    EXPECT_HR(S_FALSE, e->Next(1, items, &fetched)) << "Next at the end";
    EXPECT_EQ(0u, fetched);

    EXPECT_HR(S_OK, clone->Next(1, items, nullptr))
        << "the clone keeps the position; null fetched for one";
    EXPECT_EQ((std::vector<std::wstring>{L"c"}), TakeStrings(items, 1));

    EXPECT_HR(S_OK, e->Reset());
    EXPECT_HR(S_OK, e->Skip(3));
    EXPECT_HR(S_FALSE, e->Skip(1)) << "Skip past the end";
    EXPECT_HR(S_OK, e->Reset());
    EXPECT_HR(S_FALSE, e->Skip(5));
    EXPECT_HR(S_FALSE, e->Next(1, items, &fetched))
        << "Skip past the end leaves the position at the end";

    EXPECT_HR(S_OK, e->Reset());
    EXPECT_HR(E_POINTER, e->Next(2, items, nullptr)) << "null fetched with celt > 1";
    EXPECT_HR(E_POINTER, e->Next(1, nullptr, &fetched)) << "null array";
    EXPECT_HR(S_OK, e->Next(0, items, &fetched)) << "Next(0)";
    EXPECT_EQ(0u, fetched);
    EXPECT_HR(E_POINTER, e->Clone(nullptr));
}

TEST(EnumString, EmptyListGivesSFalse) {
    com::ComPtr<IEnumString> e;
    ASSERT_HR(S_OK, com::CreateEnumString({}, e.put()));
    LPOLESTR item = nullptr;
    ULONG fetched = 7;
    EXPECT_HR(S_FALSE, e->Next(1, &item, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_HR(E_POINTER, com::CreateEnumString({}, nullptr));
}

TEST(EnumUnknown, HandsOutCountedReferences) {
    com::ComPtr<comtest::CThing> thing;
    ASSERT_HR(S_OK, com::MakeObject(&thing));
    com::ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, thing.query(&unknown));
    com::ComPtr<IEnumUnknown> e;
    ASSERT_HR(S_OK, com::CreateEnumUnknown({unknown}, e.put()));
    unknown->AddRef();
    const ULONG before = unknown->Release();
    IUnknown* out = nullptr;
    ASSERT_HR(S_OK, e->Next(1, &out, nullptr));
    EXPECT_EQ(unknown.get(), out);
    unknown->AddRef();
    EXPECT_EQ(before + 1, unknown->Release()) << "Next AddRefs what it hands out";
    out->Release();
}

TEST(EnumVariant, CopiesValuesOut) {
    std::vector<com::UniqueVariant> items;
    items.emplace_back(std::wstring_view(L"Gruppe"));
    items.emplace_back(LONG{7});
    com::ComPtr<IEnumVARIANT> e;
    ASSERT_HR(S_OK, com::CreateEnumVariant(std::move(items), e.put()));
    VARIANT out[3];
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, e->Next(3, out, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(VT_BSTR, V_VT(&out[0]));
    EXPECT_STREQ(L"Gruppe", V_BSTR(&out[0]));
    EXPECT_EQ(7, V_I4(&out[1]));
    ::VariantClear(&out[0]);
    ::VariantClear(&out[1]);
}

// A container with a limited and an unlimited connection point.
class CSource : public com::Object<IPersist, com::ConnectionPointContainer> {
public:
    CSource() {
        notify_ = &AddConnectionPoint(IID_IPropertyNotifySink, 1);
        AddConnectionPoint(IID_IAdviseSink);
    }
    ~CSource() override { ++comtest::counters().destroyed; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }

    void FireChanged(DISPID id) {
        for (auto& sink : notify_->Sinks<IPropertyNotifySink>()) sink->OnChanged(id);
    }

private:
    com::ConnectionPoint* notify_;
};

class CSink : public com::Object<IPropertyNotifySink> {
public:
    STDMETHODIMP OnChanged(DISPID id) override {
        last_ = id;
        return S_OK;
    }
    STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }
    DISPID last_ = 0;
};

class ConnectionPoints : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, com::MakeObject(&source_));
        ASSERT_HR(S_OK, source_.query(&container_));
        ASSERT_HR(S_OK, container_->FindConnectionPoint(IID_IPropertyNotifySink, point_.put()));
        ASSERT_HR(S_OK, com::MakeObject(&sink_));
    }
    com::ComPtr<CSource> source_;
    com::ComPtr<IConnectionPointContainer> container_;
    com::ComPtr<IConnectionPoint> point_;
    com::ComPtr<CSink> sink_;
};

TEST_F(ConnectionPoints, AdviseUnadviseCookiesAndLimit) {
    DWORD cookie = 0;
    ASSERT_HR(S_OK, point_->Advise(static_cast<IPropertyNotifySink*>(sink_.get()), &cookie));
    EXPECT_NE(0u, cookie) << "Advise returns a cookie";
    source_->FireChanged(7);
    EXPECT_EQ(7, sink_->last_) << "the sink was called";

    com::ComPtr<CSink> second;
    ASSERT_HR(S_OK, com::MakeObject(&second));
    DWORD cookie2 = 123;
    EXPECT_HR(CONNECT_E_ADVISELIMIT,
              point_->Advise(static_cast<IPropertyNotifySink*>(second.get()), &cookie2))
        << "second Advise on a point limited to one";
    EXPECT_EQ(0u, cookie2);

    EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(cookie + 1))
        << "Unadvise of an unknown cookie";
    EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(0));
    EXPECT_HR(S_OK, point_->Unadvise(cookie));
    EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(cookie)) << "Unadvise twice";
    EXPECT_HR(S_OK, point_->Advise(static_cast<IPropertyNotifySink*>(second.get()), &cookie2));
    EXPECT_NE(cookie, cookie2) << "cookies are not reused at once";
}

TEST_F(ConnectionPoints, AdviseChecksTheSinkAndArguments) {
    com::ComPtr<comtest::CThing> not_a_sink;
    ASSERT_HR(S_OK, com::MakeObject(&not_a_sink));
    DWORD cookie = 5;
    EXPECT_HR(CONNECT_E_CANNOTCONNECT,
              point_->Advise(static_cast<IPersist*>(not_a_sink.get()), &cookie))
        << "sink without the outgoing interface";
    EXPECT_EQ(0u, cookie);
    EXPECT_HR(E_POINTER, point_->Advise(nullptr, &cookie));
    EXPECT_HR(E_POINTER, point_->Advise(static_cast<IPropertyNotifySink*>(sink_.get()), nullptr));
}

TEST_F(ConnectionPoints, ContainerFindsAndEnumeratesItsPoints) {
    com::ComPtr<IConnectionPoint> none;
    EXPECT_HR(CONNECT_E_NOCONNECTION, container_->FindConnectionPoint(IID_IDispatch, none.put()));
    EXPECT_EQ(nullptr, none);
    IID iid = {};
    EXPECT_HR(S_OK, point_->GetConnectionInterface(&iid));
    EXPECT_EQ(IID_IPropertyNotifySink, iid);
    com::ComPtr<IConnectionPointContainer> back;
    ASSERT_HR(S_OK, point_->GetConnectionPointContainer(back.put()));
    EXPECT_TRUE(com::IsSameObject(back.get(), container_.get()));

    com::ComPtr<IEnumConnectionPoints> points;
    ASSERT_HR(S_OK, container_->EnumConnectionPoints(points.put()));
    IConnectionPoint* items[3] = {};
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, points->Next(3, items, &fetched));
    EXPECT_EQ(2u, fetched) << "two connection points";
    for (ULONG i = 0; i < fetched; ++i) items[i]->Release();

    DWORD cookie = 0;
    ASSERT_HR(S_OK, point_->Advise(static_cast<IPropertyNotifySink*>(sink_.get()), &cookie));
    com::ComPtr<IEnumConnections> connections;
    ASSERT_HR(S_OK, point_->EnumConnections(connections.put()));
    CONNECTDATA data[2] = {};
    EXPECT_HR(S_FALSE, connections->Next(2, data, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(cookie, data[0].dwCookie);
    EXPECT_TRUE(com::IsSameObject(data[0].pUnk, static_cast<IPropertyNotifySink*>(sink_.get())));
    data[0].pUnk->Release();
}

TEST_F(ConnectionPoints, PointKeepsItsContainerAlive) {
    comtest::counters().Reset();
    container_.reset();
    source_.reset();
    EXPECT_EQ(0, comtest::counters().destroyed.load())
        << "a held connection point holds the container";
    point_.reset();
    EXPECT_EQ(1, comtest::counters().destroyed.load());
}

}  // namespace
