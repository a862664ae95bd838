// The object model in the caller's own apartment: tree operations, paths,
// lookups, names, removal and the collections.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include "ModelTestSupport.h"
#include "TestParameter.h"
#include "com/ComInit.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "vkitemprops.h"

namespace model_test {
namespace {

constexpr HRESULT kNameExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
const wchar_t* const kParam = kTestParameterClsidText;

class ModelTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, com_.hr());
        ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_VKModelObject, root_.put_void()));
        // Bus/Dev with parameter P; Bus/Dev/Axis with parameter Q.
        bus_ = NewObject(root_.get(), L"Bus");
        ASSERT_TRUE(bus_);
        dev_ = NewObject(bus_.get(), L"Dev");
        ASSERT_TRUE(dev_);
        axis_ = NewObject(dev_.get(), L"Axis");
        p_ = NewParameter(dev_.get(), L"P", kParam);
        q_ = NewParameter(axis_.get(), L"Q", kParam);
        ASSERT_TRUE(axis_ && p_ && q_);
    }

    com::ComPtr<IUnknown> FindParameter(VKModelObject* from, const wchar_t* path,
                                        HRESULT expected) {
        com::ComPtr<IUnknown> found;
        EXPECT_HR(expected, from->FindParameter(Bstr(path).get(), found.put()))
            << " path " << com::WideToUtf8(path);
        return found;
    }
    com::ComPtr<IUnknown> FindObject(VKModelObject* from, const wchar_t* path, HRESULT expected) {
        com::ComPtr<IUnknown> found;
        EXPECT_HR(expected, from->FindObject(Bstr(path).get(), found.put()))
            << " path " << com::WideToUtf8(path);
        return found;
    }

    com::ComInitializer com_{COINIT_APARTMENTTHREADED};
    com::ComPtr<VKModelObject> root_, bus_, dev_, axis_;
    com::ComPtr<VKModelParameter> p_, q_;
};

TEST_F(ModelTree, PathsLeaveTheRootOut) {
    EXPECT_EQ(L"", PathOf(root_.get()));
    EXPECT_EQ(L"Bus", PathOf(bus_.get()));
    EXPECT_EQ(L"Bus/Dev/Axis", PathOf(axis_.get()));
    EXPECT_EQ(L"Bus/Dev/P", PathOf(p_.get())) << "a parameter builds its path from its parent's";
    EXPECT_EQ(L"Bus/Dev/Axis/Q", PathOf(q_.get()));
    // The root's name is kept, but stays out of every path.
    EXPECT_HR(S_OK, root_->SetName(Bstr(L"Model 1").get()));
    EXPECT_EQ(L"Bus/Dev/Axis/Q", PathOf(q_.get()));
}

TEST_F(ModelTree, RelativePaths) {
    EXPECT_EQ(L"Dev/Axis", RelativePathOf(axis_.get(), bus_.get()));
    EXPECT_EQ(L"Bus/Dev/Axis", RelativePathOf(axis_.get(), root_.get()));
    EXPECT_EQ(L"", RelativePathOf(axis_.get(), axis_.get())) << "a node relative to itself";
    EXPECT_EQ(L"Axis/Q", RelativePathOf(q_.get(), dev_.get()));
    EXPECT_EQ(L"Q", RelativePathOf(q_.get(), axis_.get()));
    // Asked through another interface of the same ancestor: identity counts, not the pointer.
    com::ComPtr<IDispatch> bus_dispatch;
    ASSERT_HR(S_OK, bus_.query(&bus_dispatch));
    EXPECT_EQ(L"Dev/Axis", RelativePathOf(axis_.get(), bus_dispatch.get()));

    com::ComPtr<VKModelObject> other = NewObject(root_.get(), L"Other");
    com::UniqueBstr path;
    EXPECT_HR(E_INVALIDARG, axis_->GetRelativePath(other.get(), path.put())) << "not an ancestor";
    EXPECT_HR(E_INVALIDARG, axis_->GetRelativePath(nullptr, path.put()));
    EXPECT_HR(E_INVALIDARG, axis_->GetRelativePath(p_.get(), path.put()))
        << "a parameter is no ancestor";
    EXPECT_HR(E_POINTER, axis_->GetRelativePath(bus_.get(), nullptr));
}

TEST_F(ModelTree, FindParameterByPath) {
    com::ComPtr<IUnknown> found = FindParameter(root_.get(), L"Bus/Dev/Axis/Q", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), q_.get()))
        << "FindParameter(Bus/Dev/Axis/Q) found another object";
    found = FindParameter(dev_.get(), L"Axis/Q", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), q_.get()));
    found = FindParameter(dev_.get(), L"P", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), p_.get()));

    for (const wchar_t* absent : {L"Bus/Dev/Q", L"Bus/Nope/P", L"Bus/Dev", L"", L"/Bus/Dev/P",
                                  L"Bus/Dev/P/", L"Bus//Dev/P", L"bus/dev/p"}) {
        found = FindParameter(root_.get(), absent, S_FALSE);
        EXPECT_FALSE(found) << "FindParameter(" << com::WideToUtf8(absent) << ") found something";
    }
    com::ComPtr<IUnknown> slot;
    EXPECT_HR(E_POINTER, root_->FindParameter(Bstr(L"Bus/Dev/P").get(), nullptr));
    EXPECT_HR(S_FALSE, root_->FindParameter(nullptr, slot.put())) << "a null path finds nothing";
}

TEST_F(ModelTree, ParameterNamesMayHoldSeparators) {
    // A bus-server item ID kept as one parameter name in the device node.
    com::ComPtr<VKModelParameter> ident =
        NewParameter(dev_.get(), L"DS_MSAC2_Parameter/MA_ProfileIdentNumber", kParam);
    ASSERT_TRUE(ident);
    com::ComPtr<IUnknown> found =
        FindParameter(root_.get(), L"Bus/Dev/DS_MSAC2_Parameter/MA_ProfileIdentNumber", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), ident.get()));
    EXPECT_EQ(L"Bus/Dev/DS_MSAC2_Parameter/MA_ProfileIdentNumber", PathOf(ident.get()));
    // An item ID created from the root, as the server does for unknown IDs: it lands in
    // the node its path leads to, and the rest of the path is its name.
    com::ComPtr<VKModelParameter> literal = NewParameter(root_.get(), L"Bus/Dev/Unknown", kParam);
    found = FindParameter(root_.get(), L"Bus/Dev/Unknown", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), literal.get()));
    com::ComPtr<IUnknown> local;
    EXPECT_HR(S_OK, dev_->FindChild(Bstr(L"Unknown").get(), local.put()));
    EXPECT_HR(S_OK, root_->DeleteParameter(Bstr(L"Bus/Dev/Unknown").get()));
    FindParameter(root_.get(), L"Bus/Dev/Unknown", S_FALSE);
    // Node names may not: they are path elements.
    com::ComPtr<IUnknown> node;
    EXPECT_HR(E_INVALIDARG, dev_->CreateObject(Bstr(L"a/b").get(), nullptr, node.put()));
    EXPECT_FALSE(node);
}

TEST_F(ModelTree, CreateAndDeleteDescendThroughChildObjects) {
    struct Case {
        const wchar_t* path;      // given to the root
        VKModelObject* lands_in;  // the node that gets the parameter
        const wchar_t* name;      // its name there
    };
    const Case cases[] = {
        {L"Bus/Dev/Axis/pari1000d18", axis_.get(), L"pari1000d18"},
        {L"Bus/Dev/DS_MSAC2_Parameter/MA_ProfileIdentNumber", dev_.get(),
         L"DS_MSAC2_Parameter/MA_ProfileIdentNumber"},
        {L"Bus/Nope/X", bus_.get(), L"Nope/X"},
        {L"Other/X", root_.get(), L"Other/X"},
    };
    for (const Case& c : cases) {
        const std::string label = com::WideToUtf8(c.path);
        com::ComPtr<IUnknown> made;
        ASSERT_HR(S_OK, root_->CreateParameter(Bstr(c.path).get(), Bstr(kParam).get(), made.put()))
            << label;
        com::ComPtr<IUnknown> local;
        EXPECT_HR(S_OK, c.lands_in->FindChild(Bstr(c.name).get(), local.put())) << label;
        EXPECT_TRUE(com::IsSameObject(local.get(), made.get())) << label;
        com::ComPtr<IUnknown> again;
        EXPECT_HR(kNameExists,
                  root_->CreateParameter(Bstr(c.path).get(), Bstr(kParam).get(), again.put()))
            << label;
        EXPECT_HR(S_OK, root_->DeleteParameter(Bstr(c.path).get())) << label;
        FindParameter(root_.get(), c.path, S_FALSE);
    }
    EXPECT_HR(E_INVALIDARG, root_->DeleteParameter(Bstr(L"Bus/Dev/Axis/absent").get()));
    com::ComPtr<IUnknown> made;
    EXPECT_HR(E_INVALIDARG, root_->CreateParameter(Bstr(L"Bus/").get(), nullptr, made.put()))
        << "a path that ends in a separator names no parameter";
}

TEST_F(ModelTree, FindObjectByPath) {
    com::ComPtr<IUnknown> found = FindObject(root_.get(), L"Bus/Dev/Axis", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), axis_.get()));
    found = FindObject(bus_.get(), L"Dev", S_OK);
    EXPECT_TRUE(com::IsSameObject(found.get(), dev_.get()));
    for (const wchar_t* absent :
         {L"Bus/Dev/P", L"Bus/Dev/Axis/", L"Bus//Dev", L"", L"/Bus", L"Dev", L"BUS"}) {
        found = FindObject(root_.get(), absent, E_FAIL);
        EXPECT_FALSE(found) << "FindObject(" << com::WideToUtf8(absent) << ")";
    }
    com::ComPtr<IUnknown> child;
    EXPECT_HR(S_OK, dev_->FindChild(Bstr(L"Axis").get(), child.put()));
    EXPECT_TRUE(com::IsSameObject(child.get(), axis_.get()));
    EXPECT_HR(S_OK, dev_->FindChild(Bstr(L"P").get(), child.put()));
    EXPECT_TRUE(com::IsSameObject(child.get(), p_.get()));
    EXPECT_HR(S_FALSE, dev_->FindChild(Bstr(L"Q").get(), child.put()));
    EXPECT_FALSE(child);
}

TEST_F(ModelTree, ParentsAndSeparators) {
    com::ComPtr<IUnknown> parent;
    EXPECT_HR(E_FAIL, root_->GetParent(parent.put())) << "the root has no parent";
    EXPECT_HR(S_OK, axis_->GetParent(parent.put()));
    EXPECT_TRUE(com::IsSameObject(parent.get(), dev_.get()));
    EXPECT_HR(S_OK, p_->GetParent(parent.put()));
    EXPECT_TRUE(com::IsSameObject(parent.get(), dev_.get()))
        << "the model set the parameter's parent";
    com::UniqueBstr name;
    EXPECT_HR(S_OK, p_->GetName(name.put()));
    EXPECT_EQ(L"P", name.str()) << "the model set the parameter's name";
    com::UniqueBstr separators;
    EXPECT_HR(S_OK, dev_->GetSeparators(separators.put()));
    EXPECT_EQ(L"/", separators.str());
}

TEST_F(ModelTree, NamesAreUniqueWithinANode) {
    com::ComPtr<IUnknown> made;
    EXPECT_HR(kNameExists, dev_->CreateObject(Bstr(L"Axis").get(), nullptr, made.put()));
    EXPECT_HR(kNameExists, dev_->CreateObject(Bstr(L"P").get(), nullptr, made.put()))
        << "a parameter has that name";
    EXPECT_HR(kNameExists, dev_->CreateParameter(Bstr(L"P").get(), Bstr(kParam).get(), made.put()));
    EXPECT_HR(kNameExists,
              dev_->CreateParameter(Bstr(L"Axis").get(), Bstr(kParam).get(), made.put()));
    EXPECT_HR(E_INVALIDARG, dev_->CreateObject(Bstr(L"").get(), nullptr, made.put()));
    EXPECT_HR(E_INVALIDARG, dev_->CreateParameter(nullptr, nullptr, made.put()));
    EXPECT_HR(E_POINTER, dev_->CreateObject(Bstr(L"New").get(), nullptr, nullptr));
    EXPECT_FALSE(made);
    EXPECT_EQ(1, CountOf(dev_.get(), true));
    EXPECT_EQ(1, CountOf(dev_.get(), false));
    // The same name under another node is fine.
    EXPECT_TRUE(NewObject(axis_.get(), L"Axis"));
    EXPECT_TRUE(NewParameter(axis_.get(), L"P", kParam));
}

TEST_F(ModelTree, CreationWithABadClassChangesNothing) {
    com::ComPtr<IUnknown> made;
    EXPECT_HR(
        REGDB_E_CLASSNOTREG,
        dev_->CreateParameter(Bstr(L"X").get(),
                              Bstr(L"{0BADC1A5-0000-4000-8000-000000000000}").get(), made.put()));
    EXPECT_HR(CO_E_CLASSSTRING,
              dev_->CreateParameter(Bstr(L"X").get(), Bstr(L"{not a guid}").get(), made.put()));
    EXPECT_TRUE(
        FAILED(dev_->CreateParameter(Bstr(L"X").get(), Bstr(L"No.Such.ProgId").get(), made.put())));
    // A class that is no parameter.
    EXPECT_HR(
        E_NOINTERFACE,
        dev_->CreateParameter(Bstr(L"X").get(),
                              Bstr(L"{AB96C8BF-6780-11D3-BD5F-00105A3185C3}").get(), made.put()));
    EXPECT_FALSE(made);
    EXPECT_EQ(1, CountOf(dev_.get(), true));
    // By ProgID works.
    EXPECT_TRUE(NewParameter(dev_.get(), L"ByProgId", kTestParameterProgId));
    // The model's own class by CLSID text or ProgID gives a node.
    EXPECT_TRUE(NewObject(dev_.get(), L"N1"));
    EXPECT_HR(S_OK, dev_->CreateObject(Bstr(L"N2").get(), Bstr(L"VkObjectModel.ModelObject").get(),
                                       made.put()));
    EXPECT_EQ(L"Bus/Dev/N2", PathOf(made.get()));
}

TEST_F(ModelTree, DeleteParameterAndChild) {
    EXPECT_HR(S_OK, dev_->DeleteParameter(Bstr(L"P").get()));
    FindParameter(root_.get(), L"Bus/Dev/P", S_FALSE);
    EXPECT_EQ(0, CountOf(dev_.get(), true));
    EXPECT_HR(E_INVALIDARG, dev_->DeleteParameter(Bstr(L"P").get())) << "already gone";
    EXPECT_HR(E_INVALIDARG, dev_->DeleteParameter(Bstr(L"Q").get())) << "a grandchild is no child";
    EXPECT_HR(E_INVALIDARG, dev_->DeleteParameter(nullptr));
    // A child node goes with its subtree; held parts stay usable.
    EXPECT_HR(S_OK, dev_->DeleteParameter(Bstr(L"Axis").get()));
    FindObject(root_.get(), L"Bus/Dev/Axis", E_FAIL);
    FindParameter(root_.get(), L"Bus/Dev/Axis/Q", S_FALSE);
    EXPECT_EQ(0, CountOf(dev_.get(), false));
    com::ComPtr<IUnknown> parent;
    EXPECT_HR(E_FAIL, axis_->GetParent(parent.put())) << "a removed node is detached";
    EXPECT_EQ(L"", PathOf(axis_.get()));
    EXPECT_EQ(L"Q", PathOf(q_.get())) << "a parameter of a removed node still answers";
    // The name is free again.
    EXPECT_TRUE(NewObject(dev_.get(), L"Axis"));
}

TEST_F(ModelTree, ClearEmptiesTheTreeAndKeepsHeldPartsAlive) {
    EXPECT_HR(S_OK, root_->Clear());
    EXPECT_EQ(0, CountOf(root_.get(), false));
    FindObject(root_.get(), L"Bus", E_FAIL);
    FindParameter(root_.get(), L"Bus/Dev/P", S_FALSE);
    // Parameters a client still holds keep working (their parents were retired, not freed).
    EXPECT_EQ(L"Dev/P", PathOf(p_.get()));
    EXPECT_EQ(L"Dev/Axis/Q", PathOf(q_.get()));
    com::ComPtr<IUnknown> parent;
    EXPECT_HR(S_OK, q_->GetParent(parent.put()));
    EXPECT_TRUE(com::IsSameObject(parent.get(), axis_.get()));
    // The tree can be built again with the same names.
    com::ComPtr<VKModelObject> bus = NewObject(root_.get(), L"Bus");
    EXPECT_TRUE(NewParameter(bus.get(), L"P", kParam));
    EXPECT_TRUE(FindParameter(root_.get(), L"Bus/P", S_OK));
}

TEST_F(ModelTree, ReleasingTheRootDetachesHeldNodes) {
    com::ComPtr<VKModelObject> bus = bus_;
    root_.reset();
    bus_.reset();
    com::ComPtr<IUnknown> parent;
    EXPECT_HR(E_FAIL, bus->GetParent(parent.put())) << "the parent of a held node went away";
    EXPECT_EQ(L"Dev/Axis", PathOf(axis_.get()));
}

TEST_F(ModelTree, RenameNodes) {
    EXPECT_HR(S_OK, dev_->SetName(Bstr(L"Device").get()));
    EXPECT_EQ(L"Bus/Device/Axis/Q", PathOf(q_.get()));
    FindObject(root_.get(), L"Bus/Device/Axis", S_OK);
    FindObject(root_.get(), L"Bus/Dev", E_FAIL);
    com::ComPtr<VKModelObject> other = NewObject(bus_.get(), L"Other");
    EXPECT_HR(kNameExists, other->SetName(Bstr(L"Device").get()));
    EXPECT_HR(E_INVALIDARG, other->SetName(Bstr(L"a/b").get()));
    EXPECT_HR(E_INVALIDARG, other->SetName(Bstr(L"").get()));
    EXPECT_HR(S_OK, other->SetName(Bstr(L"Other").get())) << "its own name";
    EXPECT_EQ(L"Bus/Other", PathOf(other.get()));
}

TEST_F(ModelTree, ParameterRenameReKeysTheList) {
    EXPECT_HR(S_OK, p_->SetName(Bstr(L"P2").get()));
    EXPECT_TRUE(FindParameter(root_.get(), L"Bus/Dev/P2", S_OK));
    FindParameter(root_.get(), L"Bus/Dev/P", S_FALSE);
    EXPECT_EQ(L"Bus/Dev/P2", PathOf(p_.get()));
    // Names taken by a sibling parameter or node are refused by the parameter, list unchanged.
    com::ComPtr<VKModelParameter> r = NewParameter(dev_.get(), L"R", kParam);
    EXPECT_HR(E_FAIL, r->SetName(Bstr(L"P2").get()));
    EXPECT_HR(E_FAIL, r->SetName(Bstr(L"Axis").get()));
    EXPECT_HR(E_FAIL, r->SetName(Bstr(L"x/y").get())) << "separator in the name";
    EXPECT_HR(S_OK, r->SetName(Bstr(L"R").get())) << "its own name";
    EXPECT_TRUE(FindParameter(root_.get(), L"Bus/Dev/R", S_OK));
    EXPECT_EQ(2, CountOf(dev_.get(), true));
}

TEST_F(ModelTree, ReKeyDirectly) {
    com::ComPtr<VKModelCollection> parameters;
    ASSERT_HR(S_OK, dev_->GetParameters(parameters.put()));
    com::ComPtr<VKModelCollectionReKey> rekey;
    ASSERT_HR(S_OK, parameters.query(&rekey));
    NewParameter(dev_.get(), L"R", kParam);
    EXPECT_HR(E_INVALIDARG, rekey->ReKey(Bstr(L"Missing").get(), Bstr(L"New").get()));
    EXPECT_HR(kNameExists, rekey->ReKey(Bstr(L"P").get(), Bstr(L"R").get()));
    EXPECT_HR(kNameExists, rekey->ReKey(Bstr(L"P").get(), Bstr(L"Axis").get()));
    EXPECT_HR(E_INVALIDARG, rekey->ReKey(Bstr(L"P").get(), Bstr(L"").get()));
    EXPECT_HR(S_OK, rekey->ReKey(Bstr(L"P").get(), Bstr(L"P").get()));
    com::ComPtr<IUnknown> item;
    EXPECT_HR(S_OK, parameters->GetItemByName(Bstr(L"P").get(), item.put()));
    EXPECT_TRUE(com::IsSameObject(item.get(), p_.get())) << "failed re-keys changed nothing";
    // Only the parameter collection re-keys.
    com::ComPtr<VKModelCollection> objects;
    ASSERT_HR(S_OK, dev_->GetObjects(objects.put()));
    com::ComPtr<VKModelCollectionReKey> none;
    EXPECT_HR(E_NOINTERFACE, objects.query(&none));
}

TEST_F(ModelTree, CollectionsIndexCountAndNames) {
    NewParameter(dev_.get(), L"B", kParam);
    NewParameter(dev_.get(), L"A", kParam);
    com::ComPtr<VKModelCollection> parameters;
    ASSERT_HR(S_OK, dev_->GetParameters(parameters.put()));
    long count = 0;
    EXPECT_HR(S_OK, parameters->GetCount(&count));
    EXPECT_EQ(3, count);
    const wchar_t* const expected[] = {L"P", L"B", L"A"};  // creation order
    for (long i = 0; i < 3; ++i) {
        com::ComPtr<IUnknown> item;
        EXPECT_HR(S_OK, parameters->GetItem(i, item.put()));
        com::ComPtr<VKModelParameter> parameter;
        ASSERT_HR(S_OK, item.query(&parameter));
        com::UniqueBstr name;
        EXPECT_HR(S_OK, parameter->GetName(name.put()));
        EXPECT_EQ(expected[i], name.str()) << "item " << i;
        EXPECT_HR(S_OK, parameters->GetItemName(i, name.put()));
        EXPECT_EQ(expected[i], name.str()) << "item name " << i;
        long index = -2;
        EXPECT_HR(S_OK, parameters->IndexOf(Bstr(expected[i]).get(), &index));
        EXPECT_EQ(i, index);
        EXPECT_HR(S_OK, parameters->NameOf(item.get(), name.put()));
        EXPECT_EQ(expected[i], name.str());
    }
    com::ComPtr<IUnknown> item;
    EXPECT_HR(E_INVALIDARG, parameters->GetItem(3, item.put())) << "past the end";
    EXPECT_HR(E_INVALIDARG, parameters->GetItem(-1, item.put()));
    long index = 0;
    EXPECT_HR(S_FALSE, parameters->IndexOf(Bstr(L"Q").get(), &index));
    EXPECT_EQ(-1, index);
    com::UniqueBstr text;
    EXPECT_HR(S_FALSE, parameters->NameOf(q_.get(), text.put())) << "Q lives elsewhere";

    // Contains answers S_OK with the path for an existing name (what a renaming parameter asks).
    com::ComPtr<VKModelCollection> objects;
    ASSERT_HR(S_OK, dev_->GetObjects(objects.put()));
    EXPECT_HR(S_OK, objects->Contains(Bstr(L"Axis").get(), text.put()));
    EXPECT_EQ(L"Bus/Dev/Axis", text.str());
    EXPECT_HR(S_FALSE, objects->Contains(Bstr(L"P").get(), text.put())) << "P is a parameter";
    EXPECT_HR(S_OK, parameters->GetItemByName(Bstr(L"B").get(), item.put()));
    EXPECT_TRUE(item);
    EXPECT_HR(S_FALSE, parameters->GetItemByName(Bstr(L"Axis").get(), item.put()));
    EXPECT_FALSE(item);

    // A collection is a live view.
    NewParameter(dev_.get(), L"C", kParam);
    EXPECT_HR(S_OK, parameters->GetCount(&count));
    EXPECT_EQ(4, count);

    com::UniqueSafeArray names;
    EXPECT_HR(S_OK, parameters->GetNames(names.put()));
    LONG upper = -1;
    EXPECT_HR(S_OK, ::SafeArrayGetUBound(names.get(), 1, &upper));
    EXPECT_EQ(3, upper);

    com::ComPtr<IUnknown> unknown_enum;
    EXPECT_HR(S_OK, parameters->GetEnumerator(unknown_enum.put()));
    com::ComPtr<IEnumUnknown> enumerator;
    ASSERT_HR(S_OK, unknown_enum.query(&enumerator));
    IUnknown* all[5] = {};
    ULONG fetched = 0;
    EXPECT_HR(S_FALSE, enumerator->Next(5, all, &fetched));
    EXPECT_EQ(4u, fetched);
    for (ULONG i = 0; i < fetched; ++i) all[i]->Release();

    com::ComPtr<IUnknown> owner;
    EXPECT_HR(S_OK, parameters->GetOwner(owner.put()));
    EXPECT_TRUE(com::IsSameObject(owner.get(), dev_.get()));
}

TEST_F(ModelTree, NodesAnswerItemPropertiesWithoutProperties) {
    com::ComPtr<VKItemProperties> properties;
    ASSERT_HR(S_OK, dev_.query(&properties));
    DWORD count = 7;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    EXPECT_HR(S_OK, properties->QueryAvailableProperties(&count, &ids, &descriptions, &types));
    EXPECT_EQ(0u, count);
    EXPECT_HR(E_INVALIDARG,
              properties->QueryAvailableProperties(nullptr, &ids, &descriptions, &types));
    DWORD wanted[] = {1, 5001};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_HR(S_OK, properties->GetItemProperties(2, wanted, &values, &errors));
    ASSERT_TRUE(values && errors);
    EXPECT_EQ(VT_EMPTY, V_VT(&values[0]));
    EXPECT_HR(static_cast<HRESULT>(0xC0040203), errors[1]);
    ::CoTaskMemFree(values);
    ::CoTaskMemFree(errors);
    EXPECT_HR(E_INVALIDARG, properties->GetItemProperties(0, wanted, &values, &errors));
    com::UniqueVariant value;
    EXPECT_HR(E_INVALIDARG, properties->GetPropertyByName(L"DataType", value.put()));
}

TEST_F(ModelTree, SetParentRefusesCycles) {
    com::ComPtr<VKModelObject> loose;
    ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_VKModelObject, loose.put_void()));
    com::ComPtr<VKModelObject> child = NewObject(loose.get(), L"Child");
    EXPECT_HR(E_INVALIDARG, loose->SetParent(child.get())) << "its own child";
    EXPECT_HR(E_INVALIDARG, loose->SetParent(loose.get())) << "itself";
    EXPECT_HR(E_INVALIDARG, loose->SetParent(p_.get())) << "not a node";
    EXPECT_HR(E_UNEXPECTED, axis_->SetParent(bus_.get())) << "moving a node";
    EXPECT_HR(S_OK, axis_->SetParent(dev_.get())) << "its own parent again";
}

TEST_F(ModelTree, DispatchThroughTheTypeLibrary) {
    com::ComPtr<IDispatch> dispatch;
    ASSERT_HR(S_OK, axis_.query(&dispatch));
    LPOLESTR name = const_cast<LPOLESTR>(L"GetPath");
    DISPID id = 0;
    ASSERT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(18, id);
    BSTR path = nullptr;
    VARIANT arg;
    V_VT(&arg) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&arg) = &path;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXPECT_HR(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                     nullptr, nullptr, nullptr));
    com::UniqueBstr owned(path);
    EXPECT_EQ(L"Bus/Dev/Axis", owned.str());
}

// A sink that counts what the notifier passes on.
class CountingSink : public com::Object<com::Dual<VKChangeNotifier>> {
public:
    STDMETHODIMP Advise(IUnknown*, long*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(long) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectCreated(IUnknown*) override { return S_OK; }
    STDMETHODIMP OnObjectDeleted(IUnknown*) override { return S_OK; }
    STDMETHODIMP BeginUpdate() override { return S_OK; }
    STDMETHODIMP EndUpdate() override { return S_OK; }
    STDMETHODIMP OnValueChanged(IUnknown*, VARIANT) override {
        ++values;
        return S_OK;
    }
    STDMETHODIMP OnAttributeChanged(IUnknown*) override {
        ++attributes;
        return S_OK;
    }
    int values = 0;
    int attributes = 0;
};

TEST_F(ModelTree, ChangeNotifierPassesOnOutsideUpdates) {
    com::ComPtr<VKChangeNotifier> notifier;
    ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_ChangeNotifier, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_VKChangeNotifier, notifier.put_void()));
    // Without sinks the notifier accepts every notification.
    com::UniqueVariant value(42L);
    EXPECT_HR(S_OK, notifier->OnValueChanged(p_.get(), *value));
    EXPECT_HR(S_OK, notifier->OnAttributeChanged(p_.get()));

    com::ComPtr<CountingSink> sink;
    ASSERT_HR(S_OK, com::MakeObject(&sink));
    long cookie = 0;
    EXPECT_HR(S_OK, notifier->Advise(static_cast<VKChangeNotifier*>(sink.get()), &cookie));
    EXPECT_NE(0, cookie);
    EXPECT_HR(CONNECT_E_CANNOTCONNECT, notifier->Advise(root_.get(), &cookie))
        << "no notifier interface";
    EXPECT_HR(S_OK, notifier->OnValueChanged(p_.get(), *value));
    EXPECT_HR(S_OK, notifier->OnAttributeChanged(p_.get()));
    EXPECT_HR(S_OK, notifier->BeginUpdate());
    EXPECT_HR(S_OK, notifier->OnAttributeChanged(p_.get()));
    EXPECT_HR(S_OK, notifier->EndUpdate());
    EXPECT_HR(E_UNEXPECTED, notifier->EndUpdate()) << "unbalanced";
    EXPECT_EQ(1, sink->values);
    EXPECT_EQ(1, sink->attributes) << "nothing passed on inside BeginUpdate/EndUpdate";
    long first = 0;
    EXPECT_HR(S_OK, notifier->Advise(static_cast<VKChangeNotifier*>(sink.get()), &first));
    EXPECT_HR(S_OK, notifier->Unadvise(first));
    EXPECT_HR(CONNECT_E_NOCONNECTION, notifier->Unadvise(first));
}

}  // namespace
}  // namespace model_test

namespace model_test {
namespace {

// The generic class that a NULL class id stands for, served by this module.
TEST_F(ModelTree, NullClassGivesTheGenericParameter) {
    com::ComPtr<IUnknown> made;
    ASSERT_HR(S_OK, dev_->CreateParameter(Bstr(L"G").get(), nullptr, made.put()));
    com::ComPtr<VKModelParameter2> generic;
    ASSERT_HR(S_OK, made.query(&generic));
    com::UniqueBstr text;
    EXPECT_HR(S_OK, generic->GetName(text.put()));
    EXPECT_EQ(L"G", text.str());
    EXPECT_EQ(L"Bus/Dev/G", PathOf(made.get()));
    EXPECT_EQ(L"Dev/G", RelativePathOf(made.get(), bus_.get()));
    // Its rename goes through this node's collections.
    EXPECT_HR(S_OK, generic->SetName(Bstr(L"G2").get()));
    EXPECT_TRUE(FindParameter(root_.get(), L"Bus/Dev/G2", S_OK));
    EXPECT_TRUE(FAILED(generic->SetName(Bstr(L"P").get()))) << "a sibling's name";
    EXPECT_TRUE(FAILED(generic->SetName(Bstr(L"Axis").get()))) << "a child node's name";
    EXPECT_TRUE(FindParameter(root_.get(), L"Bus/Dev/G2", S_OK));
    LPOLESTR prog_id = nullptr;
    ASSERT_HR(S_OK, ::ProgIDFromCLSID(CLSID_vkObjectParameter, &prog_id));
    EXPECT_EQ(std::wstring(L"VkObjectModel.ObjectParameter.1"), prog_id);
    ::CoTaskMemFree(prog_id);
}

// A parameter of the generic class that a client still holds when its parent node
// goes answers as a parameter without parent; nothing of the freed node is touched.
TEST(ModelParameterParent, GoesWithTheNodeThatLetsGo) {
    com::ComInitializer com{COINIT_APARTMENTTHREADED};
    struct Case {
        const char* name;
        // Ends the parent of Bus/Dev/G; `root` and `dev` are the client's references.
        void (*end)(com::ComPtr<VKModelObject>& root, com::ComPtr<VKModelObject>& dev);
    };
    const Case cases[] = {
        {"the whole tree released",
         [](com::ComPtr<VKModelObject>& root, com::ComPtr<VKModelObject>& dev) {
             dev.reset();
             root.reset();
         }},
        {"its node deleted, nobody holding it",
         [](com::ComPtr<VKModelObject>& root, com::ComPtr<VKModelObject>& dev) {
             dev.reset();
             com::ComPtr<IUnknown> bus;
             ASSERT_HR(S_OK, root->FindObject(Bstr(L"Bus").get(), bus.put()));
             com::ComPtr<VKModelObject> node;
             ASSERT_HR(S_OK, bus.query(&node));
             EXPECT_HR(S_OK, node->DeleteParameter(Bstr(L"Dev").get()));
         }},
        {"the tree cleared, nobody holding its nodes",
         [](com::ComPtr<VKModelObject>& root, com::ComPtr<VKModelObject>& dev) {
             dev.reset();
             EXPECT_HR(S_OK, root->Clear());
         }},
        {"the parameter deleted",
         [](com::ComPtr<VKModelObject>&, com::ComPtr<VKModelObject>& dev) {
             EXPECT_HR(S_OK, dev->DeleteParameter(Bstr(L"G").get()));
             dev.reset();
         }},
        {"the parameters cleared",
         [](com::ComPtr<VKModelObject>&, com::ComPtr<VKModelObject>& dev) {
             EXPECT_HR(S_OK, dev->Clear());
             dev.reset();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        com::ComPtr<VKModelObject> root;
        ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_VKModelObject, root.put_void()));
        com::ComPtr<VKModelObject> dev = NewObject(NewObject(root.get(), L"Bus").get(), L"Dev");
        ASSERT_TRUE(dev);
        com::ComPtr<IUnknown> made;
        ASSERT_HR(S_OK, dev->CreateParameter(Bstr(L"G").get(), nullptr, made.put()));
        com::ComPtr<VKModelParameter> g;
        ASSERT_HR(S_OK, made.query(&g));
        made.reset();

        c.end(root, dev);

        com::ComPtr<IUnknown> parent;
        EXPECT_TRUE(FAILED(g->GetParent(parent.put()))) << "GetParent";
        EXPECT_FALSE(parent);
        com::UniqueBstr text;
        EXPECT_TRUE(FAILED(g->GetPath(text.put()))) << "GetPath";
        com::ComPtr<VKModelObject> other;
        ASSERT_HR(S_OK, ::CoCreateInstance(CLSID_ModelObject, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_VKModelObject, other.put_void()));
        EXPECT_TRUE(FAILED(g->GetRelativePath(other.get(), text.put()))) << "GetRelativePath";
        EXPECT_HR(S_OK, g->SetName(Bstr(L"Renamed").get()));
        EXPECT_HR(S_OK, g->GetName(text.put()));
        EXPECT_EQ(L"Renamed", text.str());
        // It can be hung under another node again.
        EXPECT_HR(S_OK, g->SetParent(other.get()));
        EXPECT_EQ(L"Renamed", PathOf(g.get()));
    }
}

}  // namespace
}  // namespace model_test
