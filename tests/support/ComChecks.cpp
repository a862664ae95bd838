#include "ComChecks.h"

#include <string>

#include "HrCheck.h"
#include "com/ComPtr.h"
#include "com/Strings.h"

namespace test_support {

namespace {
std::string IidText(REFIID iid) { return com::WideToUtf8(com::GuidToString(iid)); }
}  // namespace

void ExpectInterfaces(IUnknown* object, std::initializer_list<IID> iids) {
    ASSERT_NE(nullptr, object);
    com::ComPtr<IUnknown> identity;
    ASSERT_HR(S_OK, object->QueryInterface(IID_IUnknown, identity.put_void()));
    const ULONG before = RefCount(object);
    for (const IID& iid : iids) {
        IUnknown* answer = nullptr;
        EXPECT_HR(S_OK, object->QueryInterface(iid, reinterpret_cast<void**>(&answer)))
            << " for " << IidText(iid);
        if (!answer) continue;
        com::ComPtr<IUnknown> answer_identity;
        EXPECT_HR(S_OK, answer->QueryInterface(IID_IUnknown, answer_identity.put_void()));
        EXPECT_EQ(identity.get(), answer_identity.get()) << "identity through " << IidText(iid);
        answer_identity.reset();
        answer->Release();
    }
    EXPECT_EQ(before, RefCount(object)) << "references left by QueryInterface";
}

void ExpectNoInterfaces(IUnknown* object, std::initializer_list<IID> iids) {
    ASSERT_NE(nullptr, object);
    for (const IID& iid : iids) {
        void* answer = reinterpret_cast<void*>(0x1234);
        EXPECT_HR(E_NOINTERFACE, object->QueryInterface(iid, &answer)) << " for " << IidText(iid);
        EXPECT_EQ(nullptr, answer) << "out-pointer for " << IidText(iid);
    }
}

}  // namespace test_support
