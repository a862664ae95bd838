// The server-side OPC interfaces across processes: IOPCServer, IOPCCommon,
// IOPCServerPublicGroups, IOPCBrowseServerAddressSpace, IOPCItemProperties,
// IOPCServerList(2) with their enumerators, and IOPCShutdown through the
// server's connection point.

#include "MarshalTest.h"
#include "com/Object.h"
#include "com/Sync.h"

namespace marshal {
namespace {

com::ComPtr<IUnknown> Identity(IUnknown* p) {
    com::ComPtr<IUnknown> unknown;
    if (p) p->QueryInterface(IID_IUnknown, unknown.put_void());
    return unknown;
}

std::wstring GroupName(IUnknown* group) {
    com::ComPtr<IOPCGroupStateMgt> state;
    if (!group || FAILED(group->QueryInterface(IID_IOPCGroupStateMgt, state.put_void())))
        return L"<no group>";
    DWORD rate, lcid;
    BOOL active;
    LONG bias;
    FLOAT deadband;
    OPCHANDLE client, server;
    com::CoTaskMem<WCHAR> name;
    if (FAILED(
            state->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid, &client, &server)))
        return L"<GetState failed>";
    return name.get() ? name.get() : L"<null>";
}

using ServerMarshal = OpcMarshalTest;

TEST_F(ServerMarshal, ProxiesComeFromOrvaneOpcPS) {
    com::ComPtr<IOPCCommon> common = Query<IOPCCommon>();
    ASSERT_TRUE(common);
    LCID lcid = 0;
    EXPECT_HR(S_OK, common->GetLocaleID(&lcid));
    EXPECT_NE(nullptr, GetModuleHandleW(L"OrvaneOpcPS.dll"))
        << "the OPC interfaces were marshalled without OrvaneOpcPS.dll";
}

// A null [out] or [in] reference pointer never reaches the server: the proxy
// refuses it with RPC_X_NULL_REF_POINTER and the caller goes on.
TEST_F(ServerMarshal, NullReferencePointersFailInTheProxy) {
    const HRESULT nullRef = HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER);
    EXPECT_HR(nullRef, server_->GetErrorString(OPC_E_INVALIDHANDLE, kLcid, nullptr));
    EXPECT_HR(nullRef, server_->GetStatus(nullptr));
    EXPECT_HR(nullRef, server_->GetGroupByName(nullptr, IID_IOPCSyncIO, nullptr));
    com::CoTaskMem<WCHAR> text;
    EXPECT_HR(S_OK, server_->GetErrorString(OPC_E_INVALIDHANDLE, kLcid, text.put()));
    EXPECT_STREQ(kServerErrorText, text.get()) << "GetErrorString after the refused calls";
}

TEST_F(ServerMarshal, AddGroupPassesUniquePointersAndReturnsTheRequestedInterface) {
    LONG bias = kTimeBias;
    FLOAT deadband = kDeadband;
    OPCHANDLE server = 0;
    DWORD revised = 0;
    com::ComPtr<IUnknown> group;
    ASSERT_HR(S_OK,
              server_->AddGroup(kGroupName, TRUE, kRequestedRate, kClientGroup, &bias, &deadband,
                                kLcid, &server, &revised, IID_IOPCGroupStateMgt, group.put()));
    EXPECT_EQ(kServerGroup, server) << "AddGroup: server handle";
    EXPECT_EQ(kRevisedRate, revised) << "AddGroup: revised rate";
    ASSERT_TRUE(group) << "AddGroup returned no group";
    // iid_is: the pointer is the interface asked for, usable at once.
    EXPECT_EQ(kGroupName, GroupName(group.get()))
        << "GetState through the returned IOPCGroupStateMgt";

    com::ComPtr<IUnknown> withoutPointers;
    EXPECT_HR(S_OK, server_->AddGroup(kNullPointerGroup, TRUE, kRequestedRate, kClientGroup,
                                      nullptr, nullptr, kLcid, &server, &revised, IID_IOPCItemMgt,
                                      withoutPointers.put()));
    com::ComPtr<IOPCItemMgt> itemMgt;
    EXPECT_HR(S_OK, withoutPointers.query(&itemMgt));

    IUnknown* refused = reinterpret_cast<IUnknown*>(static_cast<uintptr_t>(1));
    EXPECT_HR(E_NOINTERFACE,
              server_->AddGroup(kGroupName, TRUE, kRequestedRate, kClientGroup, &bias, &deadband,
                                kLcid, &server, &revised, IID_IOPCServer, &refused));
    EXPECT_EQ(nullptr, refused)
        << "AddGroup with an IID the group lacks must return a null pointer";
}

TEST_F(ServerMarshal, GroupLookupKeepsIdentityAndReturnsNullForUnknownNames) {
    com::ComPtr<IOPCGroupStateMgt> added = AddGroup<IOPCGroupStateMgt>();
    ASSERT_TRUE(added);

    com::ComPtr<IUnknown> found;
    ASSERT_HR(S_OK, server_->GetGroupByName(kGroupName, IID_IOPCSyncIO, found.put()));
    EXPECT_EQ(Identity(added.get()), Identity(found.get()))
        << "GetGroupByName returned another object";

    IUnknown* missing = reinterpret_cast<IUnknown*>(static_cast<uintptr_t>(1));
    EXPECT_HR(E_INVALIDARG, server_->GetGroupByName(kUnknownGroup, IID_IOPCSyncIO, &missing));
    EXPECT_EQ(nullptr, missing) << "GetGroupByName of an unknown name";

    com::ComPtr<IOPCServerPublicGroups> publicGroups = Query<IOPCServerPublicGroups>();
    ASSERT_TRUE(publicGroups);
    com::ComPtr<IUnknown> publicGroup;
    EXPECT_HR(S_OK, publicGroups->GetPublicGroupByName(kGroupName, IID_IOPCGroupStateMgt,
                                                       publicGroup.put()));
    EXPECT_EQ(Identity(added.get()), Identity(publicGroup.get())) << "GetPublicGroupByName";
    EXPECT_HR(S_OK, publicGroups->RemovePublicGroup(kServerGroup, FALSE));
    // A success code other than S_OK reaches the caller unchanged.
    EXPECT_HR(OPC_S_INUSE, server_->RemoveGroup(kServerGroup, TRUE));
}

TEST_F(ServerMarshal, GroupEnumeratorsByRiid) {
    com::ComPtr<IOPCGroupStateMgt> first = AddGroup<IOPCGroupStateMgt>();
    com::ComPtr<IUnknown> second;
    OPCHANDLE server;
    DWORD revised;
    ASSERT_HR(S_OK,
              server_->AddGroup(kNullPointerGroup, TRUE, kRequestedRate, kClientGroup, nullptr,
                                nullptr, kLcid, &server, &revised, IID_IUnknown, second.put()));

    com::ComPtr<IEnumString> names;
    ASSERT_HR(S_OK,
              server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, names.put_unknown()));
    ASSERT_TRUE(names);
    LPOLESTR text[3] = {};
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, names->Next(3, text, &fetched));
    ASSERT_EQ(2u, fetched) << "IEnumString::Next(3) of two names";
    EXPECT_STREQ(kGroupName, text[0]);
    EXPECT_STREQ(kNullPointerGroup, text[1]);
    Free(text, fetched);

    EXPECT_HR(S_OK, names->Reset());
    EXPECT_HR(S_OK, names->Skip(1));
    com::ComPtr<IEnumString> clone;
    ASSERT_HR(S_OK, names->Clone(clone.put()));
    EXPECT_HR(S_OK, clone->Next(1, text, &fetched));
    EXPECT_STREQ(kNullPointerGroup, text[0]) << "the clone continues at the original's position";
    Free(text, fetched);

    com::ComPtr<IEnumUnknown> groups;
    ASSERT_HR(S_OK,
              server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, groups.put_unknown()));
    IUnknown* unknowns[2] = {};
    EXPECT_HR(S_OK, groups->Next(2, unknowns, &fetched));
    ASSERT_EQ(2u, fetched) << "IEnumUnknown::Next(2)";
    EXPECT_EQ(Identity(first.get()), Identity(unknowns[0])) << "first enumerated group";
    EXPECT_EQ(kNullPointerGroup, GroupName(unknowns[1])) << "second enumerated group";
    for (IUnknown* unknown : unknowns) unknown->Release();
    EXPECT_HR(S_FALSE, groups->Next(1, unknowns, &fetched));
    EXPECT_EQ(0u, fetched) << "IEnumUnknown::Next past the end";
}

TEST_F(ServerMarshal, ErrorStringsAndStatusComeBackWhole) {
    com::CoTaskMem<WCHAR> text;
    ASSERT_HR(S_OK, server_->GetErrorString(OPC_E_INVALIDHANDLE, kLcid, text.put()));
    EXPECT_STREQ(kServerErrorText, text.get())
        << "IOPCServer::GetErrorString ([out, string] LPWSTR*)";
    ASSERT_HR(S_OK, server_->GetErrorString(E_FAIL, kLcid, text.put()));
    EXPECT_EQ(LongText(), text.get() ? std::wstring(text.get()) : L"<null>")
        << "a 3004-character text";

    com::ComPtr<IOPCCommon> common = Query<IOPCCommon>();
    ASSERT_TRUE(common);
    ASSERT_HR(S_OK, common->GetErrorString(OPC_E_BADTYPE, text.put()));
    EXPECT_STREQ(kCommonErrorText, text.get()) << "IOPCCommon::GetErrorString";

    com::CoTaskMem<OPCSERVERSTATUS> status;
    ASSERT_HR(S_OK, server_->GetStatus(status.put()));
    ASSERT_TRUE(status);
    EXPECT_TRUE(SameTime(TimeStamps()[0], status[0].ftStartTime)) << "ftStartTime";
    EXPECT_TRUE(SameTime(TimeStamps()[2], status[0].ftCurrentTime)) << "ftCurrentTime";
    EXPECT_TRUE(SameTime(TimeStamps()[1], status[0].ftLastUpdateTime)) << "ftLastUpdateTime";
    EXPECT_EQ(OPC_STATUS_SUSPENDED, status[0].dwServerState)
        << "dwServerState (a 16-bit enum on the wire)";
    EXPECT_EQ(0x10002u, status[0].dwGroupCount);
    EXPECT_EQ(0xFFFFFFFFu, status[0].dwBandWidth);
    EXPECT_EQ(1, status[0].wMajorVersion);
    EXPECT_EQ(5, status[0].wMinorVersion);
    EXPECT_EQ(27, status[0].wBuildNumber);
    EXPECT_STREQ(kVendor, status[0].szVendorInfo);
    CoTaskMemFree(status[0].szVendorInfo);
}

TEST_F(ServerMarshal, CommonLocaleAndClientName) {
    com::ComPtr<IOPCCommon> common = Query<IOPCCommon>();
    ASSERT_TRUE(common);
    LCID lcid = 0;
    EXPECT_HR(S_OK, common->GetLocaleID(&lcid));
    EXPECT_EQ(static_cast<LCID>(LOCALE_SYSTEM_DEFAULT), lcid) << "GetLocaleID before SetLocaleID";
    EXPECT_HR(S_OK, common->SetLocaleID(kLcid));
    EXPECT_HR(S_OK, common->GetLocaleID(&lcid));
    EXPECT_EQ(kLcid, lcid) << "GetLocaleID after SetLocaleID";

    DWORD count = 0;
    com::CoTaskMem<LCID> locales;
    ASSERT_HR(S_OK, common->QueryAvailableLocaleIDs(&count, locales.put()));
    ASSERT_EQ(Locales().size(), count) << "QueryAvailableLocaleIDs count";
    for (DWORD i = 0; i < count; ++i) EXPECT_EQ(Locales()[i], locales[i]) << "locale " << i;

    EXPECT_HR(S_OK, common->SetClientName(kClientName));
}

TEST_F(ServerMarshal, BrowseAddressSpace) {
    com::ComPtr<IOPCBrowseServerAddressSpace> browse = Query<IOPCBrowseServerAddressSpace>();
    ASSERT_TRUE(browse);
    OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
    EXPECT_HR(S_OK, browse->QueryOrganization(&organization));
    EXPECT_EQ(OPC_NS_FLAT, organization) << "QueryOrganization";
    EXPECT_HR(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_TO, kBrowsePosition));
    EXPECT_HR(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""));

    com::ComPtr<IEnumString> items;
    ASSERT_HR(S_OK, browse->BrowseOPCItemIDs(OPC_FLAT, kFilter, VT_R4, OPC_READABLE | OPC_WRITEABLE,
                                             items.put()));
    ASSERT_TRUE(items);
    LPOLESTR names[4] = {};
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, items->Next(4, names, &fetched));
    ASSERT_EQ(BrowseNames().size(), fetched) << "BrowseOPCItemIDs enumerator";
    for (ULONG i = 0; i < fetched; ++i)
        EXPECT_STREQ(BrowseNames()[i].c_str(), names[i]) << "name " << i;
    Free(names, fetched);

    com::CoTaskMem<WCHAR> itemId;
    ASSERT_HR(S_OK, browse->GetItemID(const_cast<LPWSTR>(kItemDataID), itemId.put()));
    EXPECT_STREQ(kFullItemID, itemId.get()) << "GetItemID ([out, string] LPWSTR*)";

    IEnumString* paths = reinterpret_cast<IEnumString*>(static_cast<uintptr_t>(1));
    EXPECT_HR(S_FALSE, browse->BrowseAccessPaths(kFullItemID, &paths));
    EXPECT_EQ(nullptr, paths) << "BrowseAccessPaths without access paths";
}

TEST_F(ServerMarshal, ItemProperties) {
    com::ComPtr<IOPCItemProperties> properties = Query<IOPCItemProperties>();
    ASSERT_TRUE(properties);
    LPWSTR item = const_cast<LPWSTR>(kFullItemID);

    DWORD count = 0;
    com::CoTaskMem<DWORD> ids;
    com::CoTaskMem<LPWSTR> descriptions;
    com::CoTaskMem<VARTYPE> types;
    ASSERT_HR(S_OK, properties->QueryAvailableProperties(item, &count, ids.put(),
                                                         descriptions.put(), types.put()));
    ASSERT_EQ(PropertyIds().size(), count) << "QueryAvailableProperties count";
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(PropertyIds()[i], ids[i]) << "property id " << i;
        EXPECT_STREQ(PropertyDescriptions()[i].c_str(), descriptions[i]) << "description " << i;
        EXPECT_EQ(PropertyTypes()[i], types[i]) << "data type " << i;
    }
    Free(descriptions.get(), count);

    auto wanted = PropertyIds();
    com::CoTaskMem<VARIANT> values;
    com::CoTaskMem<HRESULT> errors;
    ASSERT_HR(S_FALSE, properties->GetItemProperties(item, static_cast<DWORD>(wanted.size()),
                                                     wanted.data(), values.put(), errors.put()));
    const auto expected = PropertyValues();
    for (size_t i = 0; i < wanted.size(); ++i) {
        EXPECT_TRUE(SameVariant(*expected[i], values[i]))
            << "property value " << i << ": expected " << Describe(*expected[i]) << ", got "
            << Describe(values[i]);
        EXPECT_EQ(PropertyErrors()[i], errors[i]) << "property error " << i;
    }
    Free(values.get(), static_cast<DWORD>(wanted.size()));

    DWORD lookup[] = {OPC_PROPERTY_EU_UNITS, OPC_PROPERTY_VALUE};
    com::CoTaskMem<LPWSTR> newIds;
    ASSERT_HR(S_FALSE, properties->LookupItemIDs(item, 2, lookup, newIds.put(), errors.put()));
    EXPECT_EQ(std::wstring(kFullItemID) + L".EU", newIds[0] ? newIds[0] : L"<null>")
        << "LookupItemIDs item 0";
    EXPECT_EQ(nullptr, newIds[1]) << "LookupItemIDs item 1 has no item ID";
    EXPECT_EQ(S_OK, errors[0]);
    EXPECT_EQ(OPC_E_INVALID_PID, errors[1]);
    Free(newIds.get(), 2);
}

TEST_F(ServerMarshal, ServerListEnumeratesClassesAndDetails) {
    com::ComPtr<IOPCServerList> list = Query<IOPCServerList>();
    ASSERT_TRUE(list);
    CATID implemented[] = {CATID_OPCDAServer10, CATID_OPCDAServer20};
    CATID required[] = {CATID_XMLDAServer10};
    com::ComPtr<IEnumGUID> classes;
    ASSERT_HR(S_OK, list->EnumClassesOfCategories(2, implemented, 1, required, classes.put()));
    ASSERT_TRUE(classes);
    GUID found[5] = {};
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, classes->Next(5, found, &fetched));
    ASSERT_EQ(ServerClasses().size(), fetched) << "IEnumGUID::Next(5)";
    for (ULONG i = 0; i < fetched; ++i)
        EXPECT_TRUE(IsEqualGUID(ServerClasses()[i], found[i])) << "class " << i;

    com::CoTaskMem<WCHAR> progId, userType;
    ASSERT_HR(S_OK, list->GetClassDetails(kServerClsid, progId.put(), userType.put()));
    EXPECT_STREQ(kProgID, progId.get()) << "GetClassDetails ProgID";
    EXPECT_STREQ(kUserType, userType.get()) << "GetClassDetails user type";

    CLSID clsid = {};
    EXPECT_HR(S_OK, list->CLSIDFromProgID(kVerIndProgID, &clsid));
    EXPECT_TRUE(IsEqualGUID(kServerClsid, clsid)) << "CLSIDFromProgID";
}

TEST_F(ServerMarshal, ServerList2EnumeratesWithLengthIs) {
    com::ComPtr<IOPCServerList2> list = Query<IOPCServerList2>();
    ASSERT_TRUE(list);
    CATID implemented[] = {CATID_OPCDAServer10, CATID_OPCDAServer20};
    CATID required[] = {CATID_XMLDAServer10};
    com::ComPtr<IOPCEnumGUID> classes;
    ASSERT_HR(S_OK, list->EnumClassesOfCategories(2, implemented, 1, required, classes.put()));
    ASSERT_TRUE(classes);

    const GUID untouched = {
        0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    GUID found[2] = {untouched, untouched};
    ULONG fetched = 0;
    EXPECT_HR(S_OK, classes->Next(2, found, &fetched));
    ASSERT_EQ(2u, fetched) << "IOPCEnumGUID::Next(2)";
    EXPECT_TRUE(IsEqualGUID(ServerClasses()[0], found[0]));
    EXPECT_TRUE(IsEqualGUID(ServerClasses()[1], found[1]));

    com::ComPtr<IOPCEnumGUID> clone;
    ASSERT_HR(S_OK, classes->Clone(clone.put()));
    found[0] = found[1] = untouched;
    EXPECT_HR(S_FALSE, classes->Next(2, found, &fetched));
    ASSERT_EQ(1u, fetched) << "IOPCEnumGUID::Next(2) with one left";
    EXPECT_TRUE(IsEqualGUID(ServerClasses()[2], found[0]));
    EXPECT_HR(S_FALSE, classes->Skip(1));
    EXPECT_HR(S_OK, classes->Reset());
    EXPECT_HR(S_OK, classes->Skip(3));
    EXPECT_HR(S_OK, clone->Next(1, found, &fetched));
    EXPECT_TRUE(IsEqualGUID(ServerClasses()[2], found[0])) << "the clone keeps its own position";

    com::CoTaskMem<WCHAR> progId, userType, verIndProgId;
    ASSERT_HR(S_OK, list->GetClassDetails(kServerClsid, progId.put(), userType.put(),
                                          verIndProgId.put()));
    EXPECT_STREQ(kProgID, progId.get());
    EXPECT_STREQ(kUserType, userType.get());
    EXPECT_STREQ(kVerIndProgID, verIndProgId.get());

    CLSID clsid = {};
    EXPECT_HR(S_OK, list->CLSIDFromProgID(kProgID, &clsid));
    EXPECT_TRUE(IsEqualGUID(kServerClsid, clsid)) << "CLSIDFromProgID";
    EXPECT_HR(CO_E_CLASSSTRING, list->CLSIDFromProgID(L"Unbekannt.Server", &clsid));
}

// Records ShutdownRequest calls, which arrive on an RPC thread.
class ShutdownSink : public com::Object<IOPCShutdown> {
public:
    ShutdownSink() : called_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~ShutdownSink() override { CloseHandle(called_); }

    STDMETHODIMP ShutdownRequest(LPCWSTR szReason) override {
        {
            com::CsLock guard(lock_);
            reasons_.push_back(szReason ? szReason : L"<null>");
        }
        SetEvent(called_);
        return S_OK;
    }

    bool WaitForCall() { return WaitForSingleObject(called_, 10000) == WAIT_OBJECT_0; }
    std::vector<std::wstring> reasons() {
        com::CsLock guard(lock_);
        return reasons_;
    }

private:
    HANDLE called_;
    com::CriticalSection lock_;  // guards reasons_
    std::vector<std::wstring> reasons_;
};

TEST_F(ServerMarshal, ShutdownRequestReachesTheAdvisedSink) {
    com::ComPtr<IConnectionPointContainer> container = Query<IConnectionPointContainer>();
    ASSERT_TRUE(container);
    com::ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, point.put()));
    com::ComPtr<ShutdownSink> sink;
    ASSERT_HR(S_OK, com::MakeObject(&sink));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, point->Advise(static_cast<IOPCShutdown*>(sink.get()), &cookie));

    com::ComPtr<IOPCCommon> common = Query<IOPCCommon>();
    ASSERT_TRUE(common);
    EXPECT_HR(S_OK, common->SetClientName(kShutdownTrigger));
    ASSERT_TRUE(sink->WaitForCall()) << "no ShutdownRequest within 10 s";
    ASSERT_EQ(1u, sink->reasons().size());
    EXPECT_EQ(kShutdownReason, sink->reasons()[0]) << "ShutdownRequest reason";

    EXPECT_HR(S_OK, point->Unadvise(cookie));
    EXPECT_HR(S_OK, common->SetClientName(kShutdownTrigger));
    EXPECT_EQ(1u, sink->reasons().size()) << "ShutdownRequest after Unadvise";
}

}  // namespace
}  // namespace marshal
