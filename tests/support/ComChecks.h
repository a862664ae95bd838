// Reference-count and interface checks on COM objects.
//
//   EXPECT_EQ(2u, test_support::RefCount(thing.get()));
//   test_support::ExpectRef(thing.get(), 2, "after QueryInterface");
//   test_support::ExpectInterfaces(server.get(), {IID_IOPCServer, IID_IOPCCommon});
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <gtest/gtest.h>

#include <initializer_list>

namespace test_support {

// The object's reference count as AddRef/Release report it (a snapshot for tests only).
template <class T>
ULONG RefCount(T* object) {
    object->AddRef();
    return object->Release();
}

template <class T>
void ExpectRef(T* object, ULONG expected, const char* when = "") {
    EXPECT_EQ(expected, RefCount(object)) << "reference count " << when;
}

// Every IID is answered, with the object's identity (IUnknown), and nothing leaks.
void ExpectInterfaces(IUnknown* object, std::initializer_list<IID> iids);
// None of the IIDs is answered: E_NOINTERFACE and a null out-pointer.
void ExpectNoInterfaces(IUnknown* object, std::initializer_list<IID> iids);

}  // namespace test_support
