// Registry scripts: expansion, parsing, and register/unregister on a scratch key under HKCU.
#include <gtest/gtest.h>

#include <string>

#include "HrCheck.h"
#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Strings.h"

namespace {

const wchar_t kScratch[] = L"Software\\OrvaneComTest";

TEST(RegistrarExpand, ReplacesNamesCaseInsensitivelyAndKeepsDoublePercent) {
    std::map<std::wstring, std::wstring> map{{L"SERVER_PROGID", L"Axolent.Orvane"},
                                             {L"MODULE", L"C:\\a''b.exe"}};
    std::wstring out, error;
    ASSERT_HR(S_OK, com::ExpandScript(L"%SERVER_PROGID%.1 = s '%Module%' 100%%", map, &out, &error))
        << error;
    EXPECT_EQ(L"Axolent.Orvane.1 = s 'C:\\a''b.exe' 100%", out);
    EXPECT_HR(E_INVALIDARG, com::ExpandScript(L"x %NOPE% y", map, &out, &error))
        << "unknown replacement";
    EXPECT_NE(std::wstring::npos, error.find(L"NOPE")) << "error names the replacement: " << error;
    EXPECT_HR(E_INVALIDARG, com::ExpandScript(L"x %OPEN", map, &out, &error)) << "unterminated %";
}

TEST(RegistrarParse, BuildsTheKeyTreeWithFlagsNamesAndValues) {
    const wchar_t* script =
        LR"(
HKCR
{
    NoRemove CLSID
    {
        ForceRemove {CA99FEF3-FB7A-11d4-A85E-0060087AB05A} = s 'OPCOrvane Class'
        {
            LocalServer32 = s 'C:\PROGRA~1\it''s.exe'
            val AppID = s '{CA99FEF2-FB7A-11d4-A85E-0060087AB05A}'
            ForceRemove 'Programmable'
            'Implemented Categories'
        }
    }
    Delete Old
    Plain = 'bare string'
}
HKLM { Software { val Count = d 0x1F  val Path = e '%%SystemRoot%%'  val Blob = b 0A0b } }
)";
    std::vector<com::RegRootNode> roots;
    std::wstring error;
    ASSERT_HR(S_OK, com::ParseScript(script, &roots, &error)) << error;
    ASSERT_EQ(2u, roots.size());
    EXPECT_EQ(HKEY_CLASSES_ROOT, roots[0].root);
    ASSERT_EQ(3u, roots[0].keys.size());
    const com::RegKeyNode& clsid = roots[0].keys[0];
    EXPECT_EQ(com::RegKeyNode::Flag::kNoRemove, clsid.flag);
    EXPECT_EQ(L"CLSID", clsid.name);
    ASSERT_EQ(1u, clsid.subkeys.size());
    const com::RegKeyNode& server = clsid.subkeys[0];
    EXPECT_EQ(com::RegKeyNode::Flag::kForceRemove, server.flag);
    EXPECT_EQ(L"{CA99FEF3-FB7A-11d4-A85E-0060087AB05A}", server.name)
        << "a bare GUID name stays a name";
    EXPECT_EQ(L"OPCOrvane Class", server.default_value.text);
    ASSERT_EQ(3u, server.subkeys.size());
    EXPECT_EQ(L"C:\\PROGRA~1\\it's.exe", server.subkeys[0].default_value.text)
        << "'' is one apostrophe";
    EXPECT_EQ(L"Programmable", server.subkeys[1].name);
    EXPECT_EQ(com::RegKeyNode::Flag::kForceRemove, server.subkeys[1].flag);
    EXPECT_EQ(L"Implemented Categories", server.subkeys[2].name);
    ASSERT_EQ(1u, server.values.size());
    EXPECT_EQ(L"AppID", server.values[0].first);
    EXPECT_EQ(com::RegKeyNode::Flag::kDelete, roots[0].keys[1].flag);
    EXPECT_EQ(com::RegValue::Type::kString, roots[0].keys[2].default_value.type)
        << "a bare 'text' is a string";

    const com::RegKeyNode& software = roots[1].keys[0];
    ASSERT_EQ(3u, software.values.size());
    EXPECT_EQ(com::RegValue::Type::kDword, software.values[0].second.type);
    EXPECT_EQ(0x1Fu, software.values[0].second.number);
    EXPECT_EQ(com::RegValue::Type::kExpandString, software.values[1].second.type);
    EXPECT_EQ((std::vector<BYTE>{0x0A, 0x0B}), software.values[2].second.bytes);
}

TEST(RegistrarParse, RejectsBrokenScriptsWithTheLine) {
    struct Case {
        const wchar_t* script;
        const wchar_t* what;
    } cases[] = {
        {L"HKCR { Key = s 'open }", L"unterminated quote"},
        {L"HKCR { Key { }", L"missing closing brace"},
        {L"HKXX { Key }", L"unknown root"},
        {L"HKCR { val X = s 'y' }", L"val under a root"},
        {L"HKCR { Key = q 'y' }", L"unknown value type"},
        {L"HKCR { Key { val N = d 4294967296 } }", L"DWORD too big"},
        {L"HKCR { Key { val N = d -1 } }", L"negative DWORD"},
        {L"HKCR { Key { val N = d 12x } }", L"DWORD with junk"},
        {L"HKCR { Key { val N = b 0 } }", L"odd hex digits"},
        {L"HKCR { 'a\\b' }", L"key name with a backslash"},
        {L"HKCR { Key = s bare }", L"unquoted string"},
    };
    for (const Case& c : cases) {
        std::vector<com::RegRootNode> roots;
        std::wstring error;
        EXPECT_HR(E_INVALIDARG, com::ParseScript(c.script, &roots, &error))
            << "ParseScript: " << com::WideToUtf8(c.what);
        EXPECT_NE(std::wstring::npos, error.find(L"line "))
            << com::WideToUtf8(c.what) << ": " << com::WideToUtf8(error);
        EXPECT_TRUE(roots.empty());
    }
}

// Reads from the scratch key; "" + false when missing.
bool ReadString(const std::wstring& subkey, const wchar_t* value, std::wstring* out) {
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    const std::wstring key = std::wstring(kScratch) + (subkey.empty() ? L"" : L"\\" + subkey);
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer,
                       &size) != ERROR_SUCCESS)
        return false;
    *out = buffer;
    return true;
}
bool KeyExists(const std::wstring& subkey) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kScratch) + (subkey.empty() ? L"" : L"\\" + subkey);
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}
bool ValueExists(const std::wstring& subkey, const wchar_t* value) {
    const std::wstring path = std::wstring(kScratch) + L"\\" + subkey;
    return ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), value, RRF_RT_ANY, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}
void CreateKey(const std::wstring& subkey) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kScratch) + L"\\" + subkey;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ::RegCloseKey(key);
}

class RegistrarScratch : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch); }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratch);
    }

    static constexpr const wchar_t* kScript =
        LR"(
HKCU
{
    NoRemove Software
    {
        NoRemove OrvaneComTest
        {
            ForceRemove %PROGID% = s '%NAME%'
            {
                CLSID = s '{%CLSID%}'
                val Count = d 123
            }
            NoRemove Shared
            {
                val Mine = s 'v'
            }
            Normal
            {
                Child = s 'c'
            }
            Keeps
            {
                Child = s 'c'
            }
            Delete Stale
        }
    }
}
)";
    com::Registrar Registrar() {
        com::Registrar registrar;
        registrar.AddReplacement(L"PROGID", L"Axolent.Test");
        registrar.AddReplacement(L"name", L"Test Class");
        registrar.AddReplacement(L"CLSID", L"CA99FEF3-FB7A-11d4-A85E-0060087AB05A");
        return registrar;
    }
};

TEST_F(RegistrarScratch, RegisterWritesKeysAndUnregisterRemovesWhatItOwns) {
    CreateKey(L"Axolent.Test\\Leftover");  // ForceRemove clears old contents
    CreateKey(L"Stale\\Deep");             // Delete removes a key at registration
    CreateKey(L"Shared\\Foreign");         // NoRemove: other entries stay
    com::Registrar registrar = Registrar();
    ASSERT_HR(S_OK, registrar.RegisterScript(kScript)) << com::WideToUtf8(registrar.last_error());

    std::wstring text;
    EXPECT_TRUE(ReadString(L"Axolent.Test", nullptr, &text));
    EXPECT_EQ(L"Test Class", text);
    EXPECT_TRUE(ReadString(L"Axolent.Test\\CLSID", nullptr, &text));
    EXPECT_EQ(L"{CA99FEF3-FB7A-11d4-A85E-0060087AB05A}", text);
    DWORD count = 0, size = sizeof(count);
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\OrvaneComTest\\Axolent.Test", L"Count",
                             RRF_RT_REG_DWORD, nullptr, &count, &size));
    EXPECT_EQ(123u, count);
    EXPECT_FALSE(KeyExists(L"Axolent.Test\\Leftover"))
        << "ForceRemove deletes the old subtree first";
    EXPECT_FALSE(KeyExists(L"Stale")) << "Delete removes the key at registration";
    EXPECT_TRUE(ValueExists(L"Shared", L"Mine"));

    CreateKey(L"Keeps\\Foreign");  // a normal key with someone else's subkey stays
    ASSERT_HR(S_OK, registrar.UnregisterScript(kScript)) << com::WideToUtf8(registrar.last_error());
    EXPECT_FALSE(KeyExists(L"Axolent.Test")) << "ForceRemove key removed with its subtree";
    EXPECT_FALSE(KeyExists(L"Normal")) << "a normal key without other subkeys goes";
    EXPECT_TRUE(KeyExists(L"Keeps\\Foreign")) << "a normal key with other subkeys stays";
    EXPECT_FALSE(KeyExists(L"Keeps\\Child"));
    EXPECT_TRUE(KeyExists(L"Shared\\Foreign")) << "NoRemove key stays";
    EXPECT_FALSE(ValueExists(L"Shared", L"Mine")) << "listed values are removed";
    EXPECT_TRUE(KeyExists(L"")) << "NoRemove OrvaneComTest stays";

    EXPECT_HR(S_OK, registrar.UnregisterScript(kScript))
        << "unregistering twice finds nothing to do";
}

TEST_F(RegistrarScratch, BrokenScriptOrMissingReplacementChangesNothing) {
    com::Registrar registrar = Registrar();
    const std::wstring broken = std::wstring(kScript) + L"HKCU { Oops = s 'x' ";
    EXPECT_HR(E_INVALIDARG, registrar.RegisterScript(broken));
    EXPECT_FALSE(registrar.last_error().empty());
    EXPECT_FALSE(KeyExists(L"")) << "nothing written for a script with a syntax error";
    com::Registrar partial;
    partial.AddReplacement(L"PROGID", L"Axolent.Test");
    EXPECT_HR(E_INVALIDARG, partial.RegisterScript(kScript)) << "missing %NAME%";
    EXPECT_FALSE(KeyExists(L""));
}

TEST_F(RegistrarScratch, RunsAScriptFromTheRegistryResource) {
    com::Registrar registrar;
    registrar.AddReplacement(L"KEY", L"FromResource");
    registrar.AddReplacement(L"NAME", L"Resource Value");
    ASSERT_HR(S_OK, registrar.RegisterResource(nullptr, 200))
        << com::WideToUtf8(registrar.last_error());
    std::wstring text;
    EXPECT_TRUE(ReadString(L"FromResource", nullptr, &text));
    EXPECT_EQ(L"Resource Value", text);
    ASSERT_HR(S_OK, registrar.UnregisterResource(nullptr, 200));
    EXPECT_FALSE(KeyExists(L"FromResource"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              registrar.RegisterResource(nullptr, 999))
        << "missing resource";
}

TEST(Registrar, ModulePathForScriptIsTheModuleWithApostrophesDoubled) {
    std::wstring path;
    ASSERT_HR(S_OK, com::ModulePathForScript(nullptr, &path));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str())) << com::WideToUtf8(path);
}

TEST(Registrar, ComponentCategoriesAndTypeLibrary) {
    const CATID kCat = {
        0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x20}};
    const CLSID kClsid = {
        0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x21}};
    const std::wstring clsid_key = L"CLSID\\" + com::GuidToString(kClsid, true);
    const std::wstring impl_key =
        clsid_key + L"\\Implemented Categories\\" + com::GuidToString(kCat, true);

    ASSERT_HR(S_OK, com::RegisterCategories({{kCat, L"Orvane Test Category"}}));
    ASSERT_HR(S_OK, com::RegisterImplCategories(kClsid, {kCat}));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, impl_key.c_str(), 0, KEY_READ, &key))
        << "implemented category key after RegisterImplCategories";
    if (key) ::RegCloseKey(key);
    wchar_t description[128] = {};
    DWORD size = sizeof(description);
    const std::wstring cat_key = L"Component Categories\\" + com::GuidToString(kCat, true);
    EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CLASSES_ROOT, cat_key.c_str(), L"409",
                                            RRF_RT_REG_SZ, nullptr, description, &size));
    EXPECT_STREQ(L"Orvane Test Category", description);

    ASSERT_HR(S_OK, com::UnregisterImplCategories(kClsid, {kCat}));
    key = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, impl_key.c_str(), 0, KEY_READ, &key));
    if (key) ::RegCloseKey(key);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, clsid_key.c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, clsid_key.c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, cat_key.c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, cat_key.c_str());

    // The test program's own TYPELIB 1.
    const std::wstring typelib_key = L"TypeLib\\{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A00}";
    ASSERT_HR(S_OK, com::RegisterModuleTypeLib()) << "RegisterModuleTypeLib";
    key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, typelib_key.c_str(), 0, KEY_READ, &key));
    if (key) ::RegCloseKey(key);
    EXPECT_HR(S_OK, com::UnregisterModuleTypeLib()) << "UnregisterModuleTypeLib";
    key = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, typelib_key.c_str(), 0, KEY_READ, &key))
        << "type library key gone";
    if (key) ::RegCloseKey(key);
}

TEST(Registrar, TypeLibraryWithALanguageIsAlsoRegisteredNeutral) {
    // Wine's type-library marshaler finds a library only under locale 0.
    const std::wstring version_key = L"TypeLib\\{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A30}\\1.0";
    ASSERT_HR(S_OK, com::RegisterModuleTypeLib(nullptr, 2))
        << "RegisterModuleTypeLib(index 2, lcid 0x407)";
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof(path);
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegGetValueW(HKEY_CLASSES_ROOT, (version_key + L"\\0\\win64").c_str(), nullptr,
                             RRF_RT_REG_SZ, nullptr, path, &size))
        << "neutral-locale entry";
    EXPECT_NE(nullptr, wcsstr(path, L"test_common.exe")) << com::WideToUtf8(path);
    ASSERT_HR(S_OK, com::UnregisterModuleTypeLib(nullptr, 2));
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, version_key.c_str(), 0, KEY_READ, &key))
        << "version key gone after unregistering";
    if (key) ::RegCloseKey(key);
}

}  // namespace

namespace {

TEST(Registrar, ClassesRootScriptRegistersAndUnregisters) {
    const wchar_t* script =
        LR"(
HKCR
{
    ForceRemove OrvaneComTest.Scratch = s 'Scratch Class'
    {
        CLSID = s '{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A40}'
    }
}
)";
    com::Registrar registrar;
    ASSERT_HR(S_OK, registrar.RegisterScript(script)) << com::WideToUtf8(registrar.last_error());
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CLASSES_ROOT, L"OrvaneComTest.Scratch\\CLSID",
                                            nullptr, RRF_RT_REG_SZ, nullptr, text, &size));
    EXPECT_STREQ(L"{6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A40}", text);
    ASSERT_HR(S_OK, registrar.RegisterScript(script)) << "registering again over the old keys";
    ASSERT_HR(S_OK, registrar.UnregisterScript(script));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"OrvaneComTest.Scratch", 0, KEY_READ, &key));
    if (key) ::RegCloseKey(key);
}

}  // namespace
