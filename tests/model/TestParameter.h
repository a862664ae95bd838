// A stand-in parameter class for the model tests (ModelTestParam.dll): a
// VKModelParameter2 leaf that behaves towards its parent node as a parameter
// of the parameter-objects module does (weak parent, rename through the
// parent's collections and re-keying interface, paths through the parent).
#pragma once

#include <windows.h>

// {BB2FBF46-A617-403A-9583-B778D34DF945}
inline constexpr CLSID kClsidTestParameter = {
    0xBB2FBF46, 0xA617, 0x403A, {0x95, 0x83, 0xB7, 0x78, 0xD3, 0x4D, 0xF9, 0x45}};
inline constexpr const wchar_t* kTestParameterClsidText = L"{BB2FBF46-A617-403A-9583-B778D34DF945}";
inline constexpr const wchar_t* kTestParameterProgId = L"VkModelTest.Parameter";
