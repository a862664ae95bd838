// Helpers shared by the object-model tests: short ways to build a tree.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "HrCheck.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Strings.h"
#include "vkmodel.h"

namespace model_test {

inline com::UniqueBstr Bstr(const wchar_t* text) { return com::UniqueBstr(text); }

// VKModelObject::GetPath / VKModelParameter::GetPath of whatever `item` is.
inline std::wstring PathOf(IUnknown* item) {
    com::UniqueBstr path;
    com::ComPtr<VKModelObject> node;
    com::ComPtr<VKModelParameter> parameter;
    if (SUCCEEDED(item->QueryInterface(IID_VKModelObject, node.put_void()))) {
        EXPECT_HR(S_OK, node->GetPath(path.put()));
    } else if (SUCCEEDED(item->QueryInterface(IID_VKModelParameter, parameter.put_void()))) {
        EXPECT_HR(S_OK, parameter->GetPath(path.put()));
    } else {
        ADD_FAILURE() << "PathOf: item is neither node nor parameter";
    }
    return path.str();
}

inline std::wstring RelativePathOf(IUnknown* item, IUnknown* ancestor, HRESULT expected = S_OK) {
    com::UniqueBstr path;
    com::ComPtr<VKModelObject> node;
    com::ComPtr<VKModelParameter> parameter;
    if (SUCCEEDED(item->QueryInterface(IID_VKModelObject, node.put_void()))) {
        EXPECT_HR(expected, node->GetRelativePath(ancestor, path.put()));
    } else if (SUCCEEDED(item->QueryInterface(IID_VKModelParameter, parameter.put_void()))) {
        EXPECT_HR(expected, parameter->GetRelativePath(ancestor, path.put()));
    }
    return path.str();
}

inline com::ComPtr<VKModelObject> NewObject(VKModelObject* parent, const wchar_t* name) {
    com::ComPtr<IUnknown> unknown;
    com::ComPtr<VKModelObject> node;
    EXPECT_HR(S_OK, parent->CreateObject(Bstr(name).get(), nullptr, unknown.put()))
        << " name " << com::WideToUtf8(name);
    if (unknown) {
        EXPECT_HR(S_OK, unknown.query(&node));
    }
    return node;
}

inline com::ComPtr<VKModelParameter> NewParameter(VKModelObject* parent, const wchar_t* name,
                                                  const wchar_t* class_id) {
    com::ComPtr<IUnknown> unknown;
    com::ComPtr<VKModelParameter> parameter;
    EXPECT_HR(S_OK, parent->CreateParameter(Bstr(name).get(), Bstr(class_id).get(), unknown.put()))
        << " name " << com::WideToUtf8(name);
    if (unknown) {
        EXPECT_HR(S_OK, unknown.query(&parameter));
    }
    return parameter;
}

inline long CountOf(VKModelObject* node, bool parameters) {
    com::ComPtr<VKModelCollection> collection;
    EXPECT_HR(S_OK, parameters ? node->GetParameters(collection.put())
                               : node->GetObjects(collection.put()));
    long count = -1;
    if (collection) {
        EXPECT_HR(S_OK, collection->GetCount(&count));
    }
    return count;
}

// Registers ModelTestParam.dll (the stand-in parameter class) for the run and
// unregisters it again.
class TestParameterEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

private:
    HMODULE dll_ = nullptr;
};

}  // namespace model_test
