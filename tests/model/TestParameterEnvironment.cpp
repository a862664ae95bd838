#include "ModelTestSupport.h"

namespace model_test {
namespace {

using RegisterFunction = HRESULT(STDAPICALLTYPE*)();

HRESULT CallExport(HMODULE dll, const char* name) {
    auto function = reinterpret_cast<RegisterFunction>(::GetProcAddress(dll, name));
    return function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

const auto* kEnvironment = ::testing::AddGlobalTestEnvironment(new TestParameterEnvironment);

}  // namespace

void TestParameterEnvironment::SetUp() {
    dll_ = ::LoadLibraryW(L"ModelTestParam.dll");
    ASSERT_NE(nullptr, dll_) << "LoadLibrary(ModelTestParam.dll) failed, error "
                             << ::GetLastError();
    ASSERT_HR(S_OK, CallExport(dll_, "DllRegisterServer"));
}

void TestParameterEnvironment::TearDown() {
    if (!dll_) return;
    EXPECT_HR(S_OK, CallExport(dll_, "DllUnregisterServer"));
    ::FreeLibrary(dll_);
}

}  // namespace model_test
