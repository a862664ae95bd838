// The server object as a client sees it: status, IOPCCommon, error texts, the
// shutdown connection point, the namespace interface and its interaction object.
#include <gtest/gtest.h>

#include "ComChecks.h"
#include "HrCheck.h"
#include "ServerTestSupport.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Strings.h"
#include "com/Version.h"
#include "orvane.h"
#include "vkopc.h"

namespace {

class ServerObject : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CreateServer(&server_)) << "CoCreateInstance(Axolent.Orvane)";
    }

    com::ComPtr<IOPCServer> server_;
};

TEST_F(ServerObject, StatusReportsStateVersionVendorAndGroups) {
    com::ModuleVersion resource;
    ASSERT_HR(S_OK, com::ReadModuleVersion(BinDirectory() + L"Orvane.exe", &resource));

    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(S_OK, server_->GetStatus(&status)) << "GetStatus";
    ASSERT_NE(nullptr, status);
    EXPECT_EQ(OPC_STATUS_RUNNING, status->dwServerState) << "a server with a model root is running";
    EXPECT_EQ(0u, status->dwGroupCount);
    EXPECT_EQ(0u, status->dwBandWidth);
    EXPECT_EQ(resource.version.major, status->wMajorVersion);
    EXPECT_EQ(resource.version.minor, status->wMinorVersion);
    EXPECT_EQ(resource.version.build, status->wBuildNumber)
        << "build = fourth number of FileVersion";
    ASSERT_NE(nullptr, status->szVendorInfo);
    EXPECT_STREQ(L"Axolent", status->szVendorInfo);
    EXPECT_LE(CompareFileTime(&status->ftStartTime, &status->ftCurrentTime), 0)
        << "start time after current time";
    EXPECT_EQ(0, CompareFileTime(&status->ftCurrentTime, &status->ftLastUpdateTime));
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    OPCHANDLE handle = 0;
    DWORD revised = 0;
    com::ComPtr<IUnknown> a, b;
    ASSERT_HR(S_OK, server_->AddGroup(L"A", FALSE, 1000, 1, nullptr, nullptr, 0, &handle, &revised,
                                      IID_IUnknown, a.put()));
    ASSERT_HR(S_OK, server_->AddGroup(L"B", FALSE, 1000, 2, nullptr, nullptr, 0, &handle, &revised,
                                      IID_IUnknown, b.put()));
    ASSERT_HR(S_OK, server_->GetStatus(&status));
    EXPECT_EQ(2u, status->dwGroupCount) << "GetStatus after two AddGroup calls";
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

TEST_F(ServerObject, EveryCommonQueryStartsWithTheSystemLocale) {
    com::ComPtr<IOPCCommon> first, second;
    ASSERT_HR(S_OK, server_.query(&first));
    LCID locale = 0;
    ASSERT_HR(S_OK, first->GetLocaleID(&locale));
    EXPECT_EQ(0x0800u, locale) << "GetLocaleID of a fresh IOPCCommon";
    ASSERT_HR(S_OK, first->SetLocaleID(0x0407)) << "SetLocaleID(German)";
    ASSERT_HR(S_OK, first->GetLocaleID(&locale));
    EXPECT_EQ(0x0407u, locale);
    EXPECT_HR(E_INVALIDARG, first->SetLocaleID(0x7FFF1234)) << "SetLocaleID of an invalid locale";
    ASSERT_HR(S_OK, first->GetLocaleID(&locale));
    EXPECT_EQ(0x0407u, locale) << "a refused locale must not change the stored one";
    ASSERT_HR(S_OK, first->SetClientName(L"ServerObjectTest"));

    DWORD count = 0;
    LCID* locales = nullptr;
    ASSERT_HR(S_OK, first->QueryAvailableLocaleIDs(&count, &locales));
    ASSERT_EQ(1u, count);
    ASSERT_NE(nullptr, locales);
    EXPECT_EQ(0x0407u, locales[0]) << "the one available locale is the stored one";
    CoTaskMemFree(locales);

    LPWSTR text = nullptr;
    ASSERT_HR(S_OK, first->GetErrorString(OPC_E_DUPLICATENAME, &text))
        << "IOPCCommon::GetErrorString German";
    EXPECT_STREQ(L"Der Name ist bereits vergeben.", text);
    CoTaskMemFree(text);

    // A client's proxy keeps one interface per IID, so a new tear-off is seen
    // through another server object: it starts with the system locale again.
    com::ComPtr<IOPCServer> otherServer;
    ASSERT_HR(S_OK, CreateServer(&otherServer));
    ASSERT_HR(S_OK, otherServer.query(&second));
    ASSERT_HR(S_OK, second->GetLocaleID(&locale));
    EXPECT_EQ(0x0800u, locale) << "IOPCCommon of another server object";
    ASSERT_HR(S_OK, first->GetLocaleID(&locale));
    EXPECT_EQ(0x0407u, locale) << "the first IOPCCommon keeps its own locale";
}

TEST_F(ServerObject, ErrorStringsComeFromTheMessageTables) {
    struct Case {
        HRESULT code;
        LCID locale;
        const wchar_t* text;
    } cases[] = {
        {OPC_E_UNKNOWNITEMID, 0x0409,
         L"The item is no longer available in the server address space."},
        {OPC_E_UNKNOWNITEMID, 0x0407,
         L"Das Item ist im Adressraum des Servers nicht mehr vorhanden."},
        {OPC_S_UNSUPPORTEDRATE, 0x0409,
         L"The server does not support the requested update rate but will use the closest "
         L"available rate."},
        {OPC_E_INVALIDHANDLE, 0x0407, L"Der Wert des Handles ist ungültig."},
    };
    for (const Case& c : cases) {
        LPWSTR text = nullptr;
        const HRESULT hr = server_->GetErrorString(c.code, c.locale, &text);
        ASSERT_HR(S_OK, hr) << "GetErrorString(" << Hex(c.code) << ", " << c.locale << ") returned "
                            << Hex(hr);
        ASSERT_NE(nullptr, text);
        EXPECT_STREQ(c.text, text) << "GetErrorString(" << Hex(c.code) << ", " << c.locale << ")";
        CoTaskMemFree(text);
    }
    // System codes come from the system table, without their line end.
    LPWSTR text = nullptr;
    ASSERT_HR(S_OK, server_->GetErrorString(E_OUTOFMEMORY, 0x0409, &text));
    ASSERT_NE(nullptr, text);
    const std::wstring systemText = text;
    CoTaskMemFree(text);
    EXPECT_FALSE(systemText.empty());
    EXPECT_NE(L'\n', systemText.back());
    // Nobody knows this code.
    text = reinterpret_cast<LPWSTR>(1);
    EXPECT_HR(E_INVALIDARG,
              server_->GetErrorString(static_cast<HRESULT>(0xC004FFFF), 0x0409, &text));
    EXPECT_EQ(nullptr, text) << "no string for an unknown code";
}

class ShutdownSink : public com::Object<IOPCShutdown> {
public:
    STDMETHODIMP ShutdownRequest(LPCWSTR) override { return S_OK; }
};

TEST_F(ServerObject, ShutdownConnectionPointAcceptsAdviseAndUnadvise) {
    com::ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(S_OK, server_.query(&container)) << "QueryInterface(IConnectionPointContainer)";
    com::ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, point.put()));
    IID iid = GUID_NULL;
    ASSERT_HR(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_TRUE(iid == IID_IOPCShutdown);
    com::ComPtr<IConnectionPoint> none;
    EXPECT_HR(CONNECT_E_NOCONNECTION,
              container->FindConnectionPoint(IID_IOPCDataCallback, none.put()))
        << "the server object has no data-callback point";

    com::ComPtr<ShutdownSink> sink;
    ASSERT_HR(S_OK, com::MakeObject(&sink));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, point->Advise(static_cast<IOPCShutdown*>(sink.get()), &cookie)) << "Advise";
    EXPECT_NE(0u, cookie);
    EXPECT_HR(S_OK, point->Unadvise(cookie)) << "Unadvise";
    EXPECT_HR(CONNECT_E_NOCONNECTION, point->Unadvise(cookie))
        << "second Unadvise of the same cookie";
}

TEST_F(ServerObject, InterfacesOfTheServerObject) {
    test_support::ExpectInterfaces(
        server_.get(),
        {IID_IOPCServer, IID_IOPCCommon, IID_IConnectionPointContainer, __uuidof(IOPCOrvane),
         __uuidof(IOPCOV_NameSpace), IID_ICBaseServer, IID_ISupportErrorInfo});
    com::ComPtr<IOPCOrvane> product;
    EXPECT_HR(S_OK, server_.query(&product)) << "QueryInterface(IOPCOrvane)";
    com::ComPtr<IOPCOV_NameSpace> nameSpace;
    ASSERT_HR(S_OK, server_.query(&nameSpace)) << "QueryInterface(IOPCOV_NameSpace)";
    // The server forwards the check to its interaction component, which discovers
    // the simulated bus.
    long checked = 0;
    EXPECT_EQ(S_OK, nameSpace->CheckNameSpace(&checked)) << "CheckNameSpace";
    EXPECT_EQ(1, checked) << "the check is forwarded and reports the namespace built";
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(S_OK, server_->GetStatus(&status)) << "GetStatus after CheckNameSpace";
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    com::ComPtr<ICBaseServer> base;
    ASSERT_HR(S_OK, server_.query(&base)) << "QueryInterface(ICBaseServer)";
    UINT typeInfoCount = 0;
    EXPECT_HR(S_OK, base->GetTypeInfoCount(&typeInfoCount)) << "ICBaseServer::GetTypeInfoCount";
    EXPECT_EQ(1u, typeInfoCount);
    com::ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_HR(S_OK, server_.query(&errorInfo));
    EXPECT_HR(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_ICBaseServer));
    EXPECT_HR(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IOPCServer));

    // Two IOPCServer queries are two tear-offs of one object.
    com::ComPtr<IOPCServer> again;
    ASSERT_HR(S_OK, server_.query(&again));
    EXPECT_TRUE(com::IsSameObject(server_.get(), again.get()))
        << "tear-offs keep the server's identity";

    const IID unknownIid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    com::ComPtr<IUnknown> nothing;
    EXPECT_HR(E_NOINTERFACE, server_->QueryInterface(unknownIid, nothing.put_void()))
        << "QueryInterface of an unknown IID";
    EXPECT_EQ(nullptr, nothing.get());
}

}  // namespace
