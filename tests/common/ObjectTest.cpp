// Reference counting, QueryInterface rules, creation, aggregation and tear-offs.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ComChecks.h"
#include "HrCheck.h"
#include "NotImplemented.h"
#include "com/ComPtr.h"
#include "com/Implementation.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Result.h"
#include "TestObjects.h"

using comtest::counters;
using comtest::CThing;

namespace {

void* const kGarbage = reinterpret_cast<void*>(0x1234);

using test_support::RefCount;

TEST(ObjectQueryInterface, AnswersListedAndChainedInterfacesWithOneIdentity) {
    com::ComPtr<CThing> thing;
    ASSERT_HR(S_OK, com::MakeObject(&thing)) << "MakeObject<CThing>";

    com::ComPtr<IPersistStream> stream;
    com::ComPtr<IPersist> persist;
    com::ComPtr<ITestCounter> counter;
    ASSERT_HR(S_OK, thing.query(&stream)) << "QI(IPersistStream)";
    ASSERT_HR(S_OK, thing.query(&persist)) << "QI(IPersist) through Chain";
    ASSERT_HR(S_OK, thing.query(&counter)) << "QI(ITestCounter)";
    EXPECT_EQ(static_cast<IPersist*>(stream.get()), persist.get())
        << "IPersist is the IPersistStream pointer";

    com::ComPtr<IUnknown> from_stream, from_counter, from_persist;
    ASSERT_HR(S_OK, stream.query(&from_stream));
    ASSERT_HR(S_OK, counter.query(&from_counter));
    ASSERT_HR(S_OK, persist.query(&from_persist));
    EXPECT_EQ(from_stream, from_counter)
        << "QI(IUnknown) must give one pointer from every interface";
    EXPECT_EQ(from_stream, from_persist);
    EXPECT_TRUE(com::IsSameObject(counter.get(), stream.get()));

    // Symmetric and transitive: back from ITestCounter to IPersistStream.
    com::ComPtr<IPersistStream> again;
    EXPECT_HR(S_OK, counter.query(&again));
    EXPECT_EQ(stream, again);
}

TEST(ObjectQueryInterface, UnknownIidGivesNoInterfaceAndNullOut) {
    com::ComPtr<CThing> thing;
    ASSERT_HR(S_OK, com::MakeObject(&thing));
    void* out = kGarbage;
    EXPECT_HR(E_NOINTERFACE, thing->QueryInterface(IID_IDispatch, &out)) << "QI(IDispatch)";
    EXPECT_EQ(nullptr, out) << "QI must null the out-parameter on failure";
    EXPECT_HR(E_POINTER, thing->QueryInterface(IID_IUnknown, nullptr)) << "QI with null ppv";
}

TEST(ObjectLifetime, ReferenceCountsAndDestroysOnce) {
    counters().Reset();
    const LONG locks_before = com::Module::Get().GetLockCount();
    {
        com::ComPtr<CThing> thing;
        ASSERT_HR(S_OK, com::MakeObject(&thing));
        test_support::ExpectRef(thing.get(), 1, "of a new object");
        EXPECT_EQ(locks_before + 1, com::Module::Get().GetLockCount())
            << "one module lock per object";
        com::ComPtr<ITestCounter> counter;
        ASSERT_HR(S_OK, thing.query(&counter));
        test_support::ExpectRef(thing.get(), 2, "after QueryInterface");
        EXPECT_EQ(3u, thing->AddRef());
        EXPECT_EQ(2u, thing->Release());
    }
    EXPECT_EQ(1, counters().destroyed.load()) << "destroyed exactly once";
    EXPECT_EQ(1, counters().final_released.load()) << "FinalRelease ran";
    EXPECT_EQ(locks_before, com::Module::Get().GetLockCount()) << "module lock given back";
}

// FinalRelease that takes and drops a reference must not destroy the object a second time.
class CReentrant : public com::Object<IPersist> {
public:
    ~CReentrant() override { ++counters().destroyed; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }

protected:
    void FinalRelease() override {
        AddRef();
        Release();
    }
};

TEST(ObjectLifetime, FinalReleaseMayTouchItsOwnReferences) {
    counters().Reset();
    com::ComPtr<CReentrant> object;
    ASSERT_HR(S_OK, com::MakeObject(&object));
    object.reset();
    EXPECT_EQ(1, counters().destroyed.load());
}

class CFailingConstruct : public com::Object<IPersist> {
public:
    ~CFailingConstruct() override { ++counters().destroyed; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }

protected:
    HRESULT FinalConstruct() override { return E_ACCESSDENIED; }
    void FinalRelease() override { ++counters().final_released; }
};

class CThrowingConstructor : public com::Object<IPersist> {
public:
    explicit CThrowingConstructor(bool bad_alloc) {
        if (bad_alloc) throw std::bad_alloc();
        throw std::runtime_error("broken");
    }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

TEST(ObjectCreation, FailuresAreReturnedAndLeaveNothingBehind) {
    counters().Reset();
    const LONG locks_before = com::Module::Get().GetLockCount();
    void* out = kGarbage;
    EXPECT_HR(E_ACCESSDENIED, com::CreateInstance<CFailingConstruct>(nullptr, IID_IPersist, &out))
        << "FinalConstruct's HRESULT is the creation result";
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1, counters().destroyed.load()) << "the half-made object is destroyed";
    EXPECT_EQ(1, counters().final_released.load())
        << "FinalRelease runs after a failed FinalConstruct";

    com::ComPtr<CThrowingConstructor> made;
    EXPECT_HR(E_OUTOFMEMORY, com::MakeObject(&made, true)) << "bad_alloc in the constructor";
    EXPECT_HR(E_FAIL, com::MakeObject(&made, false)) << "other exception in the constructor";
    EXPECT_EQ(nullptr, made);
    EXPECT_EQ(locks_before, com::Module::Get().GetLockCount());

    out = kGarbage;
    EXPECT_HR(E_NOINTERFACE, com::CreateInstance<CThing>(nullptr, IID_IDispatch, &out))
        << "CreateInstance for an IID the class lacks";
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(locks_before, com::Module::Get().GetLockCount());
}

TEST(ComBoundary, TurnsExceptionsIntoHresults) {
    EXPECT_HR(E_OUTOFMEMORY, com::ComBoundary([]() -> HRESULT { throw std::bad_alloc(); }));
    EXPECT_HR(E_FAIL, com::ComBoundary([]() -> HRESULT { throw std::runtime_error("x"); }));
    EXPECT_HR(E_FAIL, com::ComBoundary([]() -> HRESULT { throw 42; }));
    EXPECT_HR(E_ACCESSDENIED, com::ComBoundary([]() -> HRESULT {
                  THROW_IF_FAILED(E_ACCESSDENIED);
                  return S_OK;
              }));
    EXPECT_HR(S_OK, com::ComBoundary([] {}));
    EXPECT_HR(S_FALSE, com::ComBoundary([] { return S_FALSE; }));
}

// --- Aggregation ---------------------------------------------------------------------------

// The outer object aggregates a CThing and exposes its ITestCounter.
class COuter : public com::Object<IPersist> {
public:
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    IUnknown* inner() const { return inner_.get(); }

protected:
    HRESULT FinalConstruct() override {
        return com::CreateInstance<CThing>(GetControllingUnknown(), IID_IUnknown,
                                           inner_.put_void());
    }
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (riid == __uuidof(ITestCounter)) return inner_->QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }

private:
    com::ComPtr<IUnknown> inner_;
};

class CNotAggregatable : public CThing {
public:
    static constexpr bool kAggregatable = false;
};

TEST(ObjectAggregation, InnerInterfacesShareTheOuterIdentityAndCount) {
    counters().Reset();
    com::ComPtr<COuter> outer;
    ASSERT_HR(S_OK, com::MakeObject(&outer));
    com::ComPtr<ITestCounter> counter;
    ASSERT_HR(S_OK, outer.query(&counter)) << "QI outer for the aggregated ITestCounter";

    com::ComPtr<IUnknown> identity_outer, identity_inner;
    ASSERT_HR(S_OK, outer.query(&identity_outer));
    ASSERT_HR(S_OK, counter.query(&identity_inner));
    EXPECT_EQ(identity_outer, identity_inner)
        << "QI(IUnknown) on an aggregated interface gives the outer";

    com::ComPtr<IPersist> persist;
    EXPECT_HR(S_OK, counter.query(&persist))
        << "the aggregated interface reaches the outer's interfaces";
    EXPECT_EQ(static_cast<IPersist*>(outer.get()), persist.get());

    const ULONG outer_refs = RefCount(outer.get());
    counter->AddRef();
    EXPECT_EQ(outer_refs + 1, RefCount(outer.get()))
        << "AddRef on the inner's interface counts on the outer";
    counter->Release();

    // The inner unknown is non-delegating: IUnknown from it is itself.
    IUnknown* inner = outer->inner();
    com::ComPtr<IUnknown> inner_identity;
    ASSERT_HR(S_OK, inner->QueryInterface(IID_IUnknown, inner_identity.put_void()));
    EXPECT_EQ(inner, inner_identity.get());

    inner_identity.reset();
    counter.reset();
    persist.reset();
    identity_inner.reset();
    identity_outer.reset();
    outer.reset();
    EXPECT_EQ(1, counters().destroyed.load()) << "the inner object goes with the outer";
}

TEST(ObjectAggregation, RefusedForOtherIidsAndNonAggregatableClasses) {
    com::ComPtr<CThing> some_outer;
    ASSERT_HR(S_OK, com::MakeObject(&some_outer));
    void* out = kGarbage;
    EXPECT_HR(
        CLASS_E_NOAGGREGATION,
        com::CreateInstance<CThing>(static_cast<IPersist*>(some_outer.get()), IID_IPersist, &out))
        << "aggregation asks for IUnknown only";
    EXPECT_EQ(nullptr, out);
    out = kGarbage;
    EXPECT_HR(CLASS_E_NOAGGREGATION,
              com::CreateInstance<CNotAggregatable>(static_cast<IPersist*>(some_outer.get()),
                                                    IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
}

// --- Tear-offs -----------------------------------------------------------------------------

class COwner;
class CTearOff : public com::TearOff<COwner, test_support::NotImplementedDispatch<ITestDual>> {
public:
    using TearOff::TearOff;
    ~CTearOff() override { ++counters().destroyed; }
    STDMETHODIMP Add(LONG a, LONG b, LONG* result) override {
        *result = a + b + calls_++;  // own state per tear-off
        return S_OK;
    }
    STDMETHODIMP get_Name(BSTR*) override { return E_NOTIMPL; }

private:
    LONG calls_ = 0;
};

class COwner : public com::Object<IPersist> {
public:
    ~COwner() override { ++counters().destroyed; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (riid == __uuidof(ITestDual)) return com::CreateTearOff<CTearOff>(this, riid, ppv);
        return E_NOINTERFACE;
    }
};

TEST(ObjectTearOff, CreatedAnewOnEveryQueryWithOwnState) {
    com::ComPtr<COwner> owner;
    ASSERT_HR(S_OK, com::MakeObject(&owner));
    com::ComPtr<ITestDual> first, second;
    ASSERT_HR(S_OK, owner.query(&first));
    ASSERT_HR(S_OK, owner.query(&second));
    EXPECT_NE(first.get(), second.get()) << "each query makes a new tear-off";
    LONG r1 = 0, r2 = 0;
    first->Add(1, 1, &r1);
    first->Add(1, 1, &r1);
    second->Add(1, 1, &r2);
    EXPECT_EQ(3, r1) << "first tear-off counted its own calls";
    EXPECT_EQ(2, r2) << "second tear-off has state of its own";

    com::ComPtr<IUnknown> owner_identity, tearoff_identity;
    ASSERT_HR(S_OK, owner.query(&owner_identity));
    ASSERT_HR(S_OK, first.query(&tearoff_identity));
    EXPECT_EQ(owner_identity, tearoff_identity) << "a tear-off answers IUnknown with its owner";
    com::ComPtr<IPersist> back;
    EXPECT_HR(S_OK, first.query(&back)) << "tear-off -> owner interface";
    com::ComPtr<ITestDual> same;
    EXPECT_HR(S_OK, first.query(&same));
    EXPECT_EQ(first, same) << "a tear-off answers its own interface with itself";
}

TEST(ObjectTearOff, KeepsItsOwnerAlive) {
    counters().Reset();
    com::ComPtr<ITestDual> tearoff;
    {
        com::ComPtr<COwner> owner;
        ASSERT_HR(S_OK, com::MakeObject(&owner));
        ASSERT_HR(S_OK, owner.query(&tearoff));
    }
    EXPECT_EQ(0, counters().destroyed.load()) << "owner lives while its tear-off does";
    LONG r = 0;
    EXPECT_HR(S_OK, tearoff->Add(2, 3, &r));
    tearoff.reset();
    EXPECT_EQ(2, counters().destroyed.load()) << "tear-off and then owner destroyed";
}

// A group-like owner with a cached part for ITestCounter.
class CGroup;
class CCounterPart : public com::Object<ITestCounter> {
public:
    explicit CCounterPart(CGroup* group) : group_(group) {}
    ~CCounterPart() override { ++counters().destroyed; }
    STDMETHODIMP Next(LONG* value) override {
        *value = ++count_;
        return S_OK;
    }
    CGroup* group_;

private:
    LONG count_ = 0;
};

class CGroup : public com::Object<IPersist> {
public:
    ~CGroup() override { ++counters().destroyed; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (riid == __uuidof(ITestCounter)) return counter_.Query(this, riid, ppv);
        return E_NOINTERFACE;
    }

private:
    com::CachedPart<CCounterPart> counter_;
};

TEST(ObjectCachedPart, OneObjectPerOwnerWithTheOwnersIdentityAndLifetime) {
    counters().Reset();
    com::ComPtr<CGroup> group;
    ASSERT_HR(S_OK, com::MakeObject(&group));
    com::ComPtr<ITestCounter> first, second;
    ASSERT_HR(S_OK, group.query(&first));
    ASSERT_HR(S_OK, group.query(&second));
    EXPECT_EQ(first, second) << "the cached part is made once";
    LONG value = 0;
    first->Next(&value);
    second->Next(&value);
    EXPECT_EQ(2, value) << "one state for both references";
    EXPECT_TRUE(com::IsSameObject(first.get(), static_cast<IPersist*>(group.get())))
        << "the part answers IUnknown with the owner";
    const ULONG refs = RefCount(group.get());
    first->AddRef();
    EXPECT_EQ(refs + 1, RefCount(group.get())) << "references to the part count on the owner";
    first->Release();
    group.reset();
    EXPECT_EQ(0, counters().destroyed.load()) << "the part keeps its owner alive";
    first.reset();
    second.reset();
    EXPECT_EQ(2, counters().destroyed.load()) << "owner and part destroyed together";
}

TEST(ComPtr, SlotsAndOwnership) {
    com::ComPtr<CThing> thing;
    ASSERT_HR(S_OK, com::MakeObject(&thing));
    com::ComPtr<IPersist> a;
    EXPECT_TRUE(a == nullptr);
    EXPECT_HR(E_POINTER, a.query(IID_IUnknown, nullptr));
    void* out = kGarbage;
    EXPECT_HR(E_POINTER, a.query(IID_IUnknown, &out)) << "query on an empty ComPtr";
    EXPECT_EQ(nullptr, out);
    ASSERT_HR(S_OK, thing.query(&a));
    const ULONG refs = RefCount(thing.get());
    IPersist* raw = nullptr;
    EXPECT_HR(S_OK, a.copy_to(&raw));
    EXPECT_EQ(refs + 1, RefCount(thing.get())) << "copy_to adds a reference";
    com::ComPtr<IPersist> adopted;
    adopted.attach(raw);
    EXPECT_EQ(refs + 1, RefCount(thing.get())) << "attach adopts without AddRef";
    IPersist* detached = adopted.detach();
    EXPECT_EQ(refs + 1, RefCount(thing.get())) << "detach keeps the reference";
    detached->Release();
    a.put();
    EXPECT_EQ(refs - 1, RefCount(thing.get())) << "put() releases what was held";
    EXPECT_FALSE(thing.try_query<IDispatch>()) << "try_query for a missing interface is empty";
}

// --- Checked downcast ----------------------------------------------------------------------

class CKnown : public com::Object<ITestCounter> {
public:
    static constexpr IID kImplementationIid = {
        0x6B0F8D1E, 0x2C4A, 0x4E57, {0x9A, 0x13, 0x5D, 0x7E, 0x21, 0xC4, 0x88, 0x0B}};
    STDMETHODIMP Next(LONG* value) override {
        *value = 1;
        return S_OK;
    }

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (com::AnswerImplementation(this, riid, ppv)) return S_OK;
        return E_NOINTERFACE;
    }
};

TEST(ImplementationOf, FindsOwnObjectsOnlyAndCountsNothing) {
    com::ComPtr<CKnown> known;
    com::ComPtr<CThing> other;
    ASSERT_HR(S_OK, com::MakeObject(&known));
    ASSERT_HR(S_OK, com::MakeObject(&other));
    com::ComPtr<ITestCounter> counter;
    ASSERT_HR(S_OK, known.query(&counter));
    const ULONG refs = RefCount(known.get());

    EXPECT_EQ(known.get(), com::ImplementationOf<CKnown>(counter.get()));
    EXPECT_EQ(refs, RefCount(known.get())) << "the result is not counted";
    EXPECT_EQ(nullptr, com::ImplementationOf<CKnown>(static_cast<IPersist*>(other.get())))
        << "another class";
    EXPECT_EQ(nullptr, com::ImplementationOf<CKnown>(nullptr));
}

}  // namespace
