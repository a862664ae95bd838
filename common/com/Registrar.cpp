#include "com/Registrar.h"

#include <cerrno>
#include <cwctype>

#include "com/ComPtr.h"
#include "com/Log.h"
#include "com/Module.h"
#include "com/RegKey.h"
#include "com/Result.h"
#include "com/Strings.h"

namespace com {

namespace {

std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// --- Tokens ------------------------------------------------------------------------------

struct Token {
    enum class Kind { kEnd, kWord, kQuoted, kOpen, kClose, kEquals };
    Kind kind = Kind::kEnd;
    std::wstring text;
    size_t line = 1;
};

class Tokenizer {
public:
    explicit Tokenizer(const std::wstring& text) : text_(text) {}

    // Names are separated by white space; "{", "}" and "=" standing alone are punctuation,
    // so that bare GUID names such as {CA99FEF3-...} stay names.
    HRESULT Next(Token* token, std::wstring* error) {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) {
            if (text_[pos_] == L'\n') ++line_;
            ++pos_;
        }
        token->line = line_;
        token->text.clear();
        if (pos_ >= text_.size()) {
            token->kind = Token::Kind::kEnd;
            return S_OK;
        }
        if (text_[pos_] == L'\'') {
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) {
                    *error = Format(L"line %zu: unterminated quoted text", token->line);
                    return E_INVALIDARG;
                }
                const wchar_t c = text_[pos_++];
                if (c == L'\'') {
                    if (pos_ < text_.size() && text_[pos_] == L'\'') {
                        token->text += L'\'';
                        ++pos_;
                        continue;
                    }
                    break;
                }
                if (c == L'\n') ++line_;
                token->text += c;
            }
            token->kind = Token::Kind::kQuoted;
            return S_OK;
        }
        if (text_[pos_] == L'=') {
            ++pos_;
            token->kind = Token::Kind::kEquals;
            return S_OK;
        }
        if (text_[pos_] == L'}') {
            ++pos_;
            token->kind = Token::Kind::kClose;
            return S_OK;
        }
        if (text_[pos_] == L'{' && (pos_ + 1 == text_.size() || std::iswspace(text_[pos_ + 1]) ||
                                    text_[pos_ + 1] == L'{' || text_[pos_ + 1] == L'}')) {
            ++pos_;
            token->kind = Token::Kind::kOpen;
            return S_OK;
        }
        const size_t start = pos_;
        while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'=' &&
               text_[pos_] != L'\'')
            ++pos_;
        token->text = text_.substr(start, pos_ - start);
        token->kind = Token::Kind::kWord;
        return S_OK;
    }

private:
    const std::wstring& text_;
    size_t pos_ = 0;
    size_t line_ = 1;
};

// --- Parser ------------------------------------------------------------------------------

class Parser {
public:
    Parser(const std::wstring& text, std::wstring* error) : tokens_(text), error_(error) {}

    HRESULT Parse(std::vector<RegRootNode>* roots) {
        RETURN_IF_FAILED(Advance());
        while (current_.kind != Token::Kind::kEnd) {
            RegRootNode root;
            if (current_.kind != Token::Kind::kWord || !(root.root = RootKey(current_.text)))
                return Fail(L"expected a root key (HKCR, HKCU, HKLM, HKU)");
            RETURN_IF_FAILED(Advance());
            RETURN_IF_FAILED(Expect(Token::Kind::kOpen, L"'{' after the root key"));
            RETURN_IF_FAILED(ParseBody(&root.keys, nullptr));
            roots->push_back(std::move(root));
        }
        return S_OK;
    }

private:
    static HKEY RootKey(const std::wstring& word) {
        const std::wstring name = Upper(word);
        if (name == L"HKCR" || name == L"HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
        if (name == L"HKCU" || name == L"HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
        if (name == L"HKLM" || name == L"HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
        if (name == L"HKU" || name == L"HKEY_USERS") return HKEY_USERS;
        return nullptr;
    }

    HRESULT Advance() { return tokens_.Next(&current_, error_); }
    HRESULT Fail(const wchar_t* what) {
        *error_ = Format(L"line %zu: %ls", current_.line, what);
        return E_INVALIDARG;
    }
    HRESULT Expect(Token::Kind kind, const wchar_t* what) {
        if (current_.kind != kind) return Fail((std::wstring(L"expected ") + what).c_str());
        return Advance();
    }
    bool IsName() const {
        return current_.kind == Token::Kind::kWord || current_.kind == Token::Kind::kQuoted;
    }

    // Keys and values up to the closing brace (consumed).
    HRESULT ParseBody(std::vector<RegKeyNode>* keys, RegKeyNode* owner) {
        for (;;) {
            if (current_.kind == Token::Kind::kClose) return Advance();
            if (current_.kind == Token::Kind::kEnd) return Fail(L"missing '}'");
            if (current_.kind == Token::Kind::kWord && Upper(current_.text) == L"VAL") {
                if (!owner) return Fail(L"'val' directly under a root key");
                RETURN_IF_FAILED(Advance());
                if (!IsName()) return Fail(L"expected a value name after 'val'");
                std::wstring name = current_.text;
                RETURN_IF_FAILED(Advance());
                RETURN_IF_FAILED(Expect(Token::Kind::kEquals, L"'=' after the value name"));
                RegValue value;
                RETURN_IF_FAILED(ParseValue(&value));
                owner->values.emplace_back(std::move(name), std::move(value));
                continue;
            }
            RegKeyNode key;
            RETURN_IF_FAILED(ParseKey(&key));
            keys->push_back(std::move(key));
        }
    }

    HRESULT ParseKey(RegKeyNode* key) {
        if (current_.kind == Token::Kind::kWord) {
            const std::wstring word = Upper(current_.text);
            RegKeyNode::Flag flag = RegKeyNode::Flag::kNormal;
            if (word == L"NOREMOVE") flag = RegKeyNode::Flag::kNoRemove;
            if (word == L"FORCEREMOVE") flag = RegKeyNode::Flag::kForceRemove;
            if (word == L"DELETE") flag = RegKeyNode::Flag::kDelete;
            if (flag != RegKeyNode::Flag::kNormal) {
                key->flag = flag;
                RETURN_IF_FAILED(Advance());
            }
        }
        if (!IsName()) return Fail(L"expected a key name");
        key->name = current_.text;
        if (key->name.empty() || key->name.find(L'\\') != std::wstring::npos)
            return Fail(L"a key name must be one non-empty path element");
        RETURN_IF_FAILED(Advance());
        if (current_.kind == Token::Kind::kEquals) {
            RETURN_IF_FAILED(Advance());
            RETURN_IF_FAILED(ParseValue(&key->default_value));
        }
        if (current_.kind == Token::Kind::kOpen) {
            RETURN_IF_FAILED(Advance());
            RETURN_IF_FAILED(ParseBody(&key->subkeys, key));
        }
        return S_OK;
    }

    HRESULT ParseValue(RegValue* value) {
        if (current_.kind == Token::Kind::kQuoted) {  // a bare 'text' is a string
            value->type = RegValue::Type::kString;
            value->text = current_.text;
            return Advance();
        }
        if (current_.kind != Token::Kind::kWord) return Fail(L"expected a value (s, e, d or b)");
        const std::wstring type = Upper(current_.text);
        RETURN_IF_FAILED(Advance());
        if (current_.kind != Token::Kind::kQuoted && current_.kind != Token::Kind::kWord)
            return Fail(L"expected the value's text");
        const std::wstring text = current_.text;
        if (type == L"S" || type == L"E") {
            if (current_.kind != Token::Kind::kQuoted)
                return Fail(L"a string value must be quoted");
            value->type = type == L"S" ? RegValue::Type::kString : RegValue::Type::kExpandString;
            value->text = text;
        } else if (type == L"D") {
            wchar_t* end = nullptr;
            errno = 0;
            const unsigned long long number = std::wcstoull(text.c_str(), &end, 0);
            if (text.empty() || *end != L'\0' || errno || number > 0xFFFFFFFFull || text[0] == L'-')
                return Fail(L"a DWORD value must be a number from 0 to 0xFFFFFFFF");
            value->type = RegValue::Type::kDword;
            value->number = static_cast<DWORD>(number);
        } else if (type == L"B") {
            if (text.size() % 2) return Fail(L"a binary value needs an even number of hex digits");
            value->type = RegValue::Type::kBinary;
            for (size_t i = 0; i < text.size(); i += 2) {
                if (!std::iswxdigit(text[i]) || !std::iswxdigit(text[i + 1]))
                    return Fail(L"a binary value must be hex digits");
                value->bytes.push_back(
                    static_cast<BYTE>(std::wcstoul(text.substr(i, 2).c_str(), nullptr, 16)));
            }
        } else {
            return Fail(L"unknown value type (s, e, d or b)");
        }
        return Advance();
    }

    Tokenizer tokens_;
    Token current_;
    std::wstring* error_;
};

// --- Registry ----------------------------------------------------------------------------

LSTATUS SetValue(HKEY key, const wchar_t* name, const RegValue& value) {
    switch (value.type) {
        case RegValue::Type::kNone: return ERROR_SUCCESS;
        case RegValue::Type::kString:
        case RegValue::Type::kExpandString:
            return ::RegSetValueExW(key, name, 0,
                                    value.type == RegValue::Type::kString ? REG_SZ : REG_EXPAND_SZ,
                                    reinterpret_cast<const BYTE*>(value.text.c_str()),
                                    static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
        case RegValue::Type::kDword:
            return ::RegSetValueExW(key, name, 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&value.number),
                                    sizeof(value.number));
        case RegValue::Type::kBinary:
            return ::RegSetValueExW(key, name, 0, REG_BINARY, value.bytes.data(),
                                    static_cast<DWORD>(value.bytes.size()));
    }
    return ERROR_INVALID_PARAMETER;
}

LSTATUS DeleteTree(HKEY parent, const std::wstring& name) {
    const LSTATUS status = ::RegDeleteTreeW(parent, name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
    const LSTATUS key_status = ::RegDeleteKeyW(parent, name.c_str());
    return key_status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : key_status;
}

HRESULT RegisterKey(HKEY parent, const RegKeyNode& node, std::wstring* error) {
    if (node.flag == RegKeyNode::Flag::kDelete) return Win32Hr(DeleteTree(parent, node.name));
    if (node.flag == RegKeyNode::Flag::kForceRemove) {
        const LSTATUS status = DeleteTree(parent, node.name);
        if (status != ERROR_SUCCESS) {
            *error = L"cannot remove key " + node.name;
            return Win32Hr(status);
        }
    }
    RegKey key;
    LSTATUS status = key.Create(parent, node.name, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS) {
        *error = L"cannot create key " + node.name;
        return Win32Hr(status);
    }
    status = SetValue(key.get(), nullptr, node.default_value);
    for (const auto& value : node.values) {
        if (status == ERROR_SUCCESS)
            status = SetValue(key.get(), value.first.c_str(), value.second);
    }
    if (status != ERROR_SUCCESS) {
        *error = L"cannot set a value of key " + node.name;
        return Win32Hr(status);
    }
    for (const RegKeyNode& sub : node.subkeys) RETURN_IF_FAILED(RegisterKey(key.get(), sub, error));
    return S_OK;
}

bool HasSubkeys(HKEY key) {
    DWORD subkeys = 0;
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
           subkeys > 0;
}

HRESULT UnregisterKey(HKEY parent, const RegKeyNode& node, std::wstring* error) {
    switch (node.flag) {
        case RegKeyNode::Flag::kDelete: return S_OK;
        case RegKeyNode::Flag::kForceRemove: {
            const LSTATUS status = DeleteTree(parent, node.name);
            if (status != ERROR_SUCCESS) *error = L"cannot remove key " + node.name;
            return Win32Hr(status);
        }
        default: break;
    }
    {
        RegKey key;
        const LSTATUS status = key.Open(parent, node.name, KEY_ALL_ACCESS);
        if (status == ERROR_FILE_NOT_FOUND) return S_OK;
        if (status != ERROR_SUCCESS) {
            *error = L"cannot open key " + node.name;
            return Win32Hr(status);
        }
        for (const RegKeyNode& sub : node.subkeys)
            RETURN_IF_FAILED(UnregisterKey(key.get(), sub, error));
        for (const auto& value : node.values) ::RegDeleteValueW(key.get(), value.first.c_str());
        if (node.flag == RegKeyNode::Flag::kNoRemove || HasSubkeys(key.get())) return S_OK;
    }
    const LSTATUS status = ::RegDeleteKeyW(parent, node.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        *error = L"cannot delete key " + node.name;
        return Win32Hr(status);
    }
    return S_OK;
}

}  // namespace

HRESULT ExpandScript(const std::wstring& text,
                     const std::map<std::wstring, std::wstring>& replacements, std::wstring* out,
                     std::wstring* error) {
    RETURN_IF_NULL_POINTER(out);
    std::wstring ignored;
    if (!error) error = &ignored;
    return ComBoundary([&]() -> HRESULT {
        std::wstring result;
        result.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != L'%') {
                result += text[i];
                continue;
            }
            const size_t end = text.find(L'%', i + 1);
            if (end == std::wstring::npos) {
                *error = L"unterminated %NAME%";
                return E_INVALIDARG;
            }
            if (end == i + 1) {  // "%%"
                result += L'%';
            } else {
                const std::wstring name = text.substr(i + 1, end - i - 1);
                auto it = replacements.find(Upper(name));
                if (it == replacements.end()) {
                    *error = L"no replacement for %" + name + L"%";
                    return E_INVALIDARG;
                }
                result += it->second;
            }
            i = end;
        }
        *out = std::move(result);
        return S_OK;
    });
}

HRESULT ParseScript(const std::wstring& text, std::vector<RegRootNode>* out, std::wstring* error) {
    RETURN_IF_NULL_POINTER(out);
    std::wstring ignored;
    if (!error) error = &ignored;
    return ComBoundary([&]() -> HRESULT {
        std::vector<RegRootNode> roots;
        Parser parser(text, error);
        RETURN_IF_FAILED(parser.Parse(&roots));
        *out = std::move(roots);
        return S_OK;
    });
}

void Registrar::AddReplacement(const std::wstring& name, const std::wstring& value) {
    replacements_[Upper(name)] = value;
}

HRESULT Registrar::AddModuleReplacement(HMODULE module, const std::wstring& name) {
    std::wstring path;
    RETURN_IF_FAILED(ModulePathForScript(module, &path));
    return ComBoundary([&] { AddReplacement(name, path); });
}

HRESULT Registrar::RegisterScript(const std::wstring& script) { return Run(script, true); }
HRESULT Registrar::UnregisterScript(const std::wstring& script) { return Run(script, false); }

HRESULT Registrar::RegisterResource(HMODULE module, UINT id, const wchar_t* type) {
    std::wstring script;
    RETURN_IF_FAILED(LoadResource(module, id, type, &script));
    return Run(script, true);
}

HRESULT Registrar::UnregisterResource(HMODULE module, UINT id, const wchar_t* type) {
    std::wstring script;
    RETURN_IF_FAILED(LoadResource(module, id, type, &script));
    return Run(script, false);
}

HRESULT Registrar::Run(const std::wstring& script, bool do_register) {
    return ComBoundary([&]() -> HRESULT {
        last_error_.clear();
        std::wstring expanded;
        std::vector<RegRootNode> roots;
        HRESULT hr = ExpandScript(script, replacements_, &expanded, &last_error_);
        if (SUCCEEDED(hr)) hr = ParseScript(expanded, &roots, &last_error_);
        for (const RegRootNode& root : roots) {
            for (const RegKeyNode& key : root.keys) {
                if (SUCCEEDED(hr))
                    hr = do_register ? RegisterKey(root.root, key, &last_error_)
                                     : UnregisterKey(root.root, key, &last_error_);
            }
        }
        if (FAILED(hr)) {
            Log::Get().Printf(LogLevel::kError, L"registry script (%ls) failed with %#lx: %ls",
                              do_register ? L"register" : L"unregister", hr, last_error_.c_str());
        }
        return hr;
    });
}

HRESULT Registrar::LoadResource(HMODULE module, UINT id, const wchar_t* type, std::wstring* out) {
    if (!module) module = Module::Get().handle();
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info) {
        last_error_ = Format(L"no resource %u of type %ls", id, type);
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    HGLOBAL data = ::LoadResource(module, info);
    const char* bytes = data ? static_cast<const char*>(::LockResource(data)) : nullptr;
    RETURN_LAST_ERROR_IF(!bytes);
    const size_t size = ::SizeofResource(module, info);
    return ComBoundary([&]() -> HRESULT {
        std::wstring text;
        if (size >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF &&
            static_cast<BYTE>(bytes[1]) == 0xFE) {
            text.assign(reinterpret_cast<const wchar_t*>(bytes + 2), (size - 2) / sizeof(wchar_t));
        } else {
            std::string_view narrow(bytes, size);
            if (narrow.size() >= 3 && narrow.substr(0, 3) == "\xEF\xBB\xBF")
                narrow.remove_prefix(3);
            const int valid = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, narrow.data(),
                                                    static_cast<int>(narrow.size()), nullptr, 0);
            text = valid > 0 || narrow.empty() ? Utf8ToWide(narrow) : AnsiToWide(narrow);
        }
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        *out = std::move(text);
        return S_OK;
    });
}

HRESULT ModulePathForScript(HMODULE module, std::wstring* out) {
    RETURN_IF_NULL_POINTER(out);
    if (!module) module = Module::Get().handle();
    wchar_t long_path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, long_path, MAX_PATH);
    RETURN_LAST_ERROR_IF(length == 0);
    RETURN_HR_IF(E_OUTOFMEMORY, length >= MAX_PATH);
    wchar_t short_path[MAX_PATH];
    const DWORD short_length = ::GetShortPathNameW(long_path, short_path, MAX_PATH);
    RETURN_HR_IF(E_OUTOFMEMORY, short_length >= MAX_PATH);
    const wchar_t* path = short_length ? short_path : long_path;
    return ComBoundary([&] {
        std::wstring doubled;
        for (const wchar_t* p = path; *p; ++p) {
            doubled += *p;
            if (*p == L'\'') doubled += L'\'';
        }
        *out = std::move(doubled);
    });
}

// --- Categories and type libraries -------------------------------------------------------

namespace {
HRESULT CatRegister(ComPtr<ICatRegister>* out) {
    return ::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICatRegister, out->put_void());
}

// TypeLib\{libid}\<major>.<minor>\0\win64 (version in hex, as RegisterTypeLib writes it).
std::wstring NeutralTypeLibKey(const TLIBATTR& attr) {
    return Format(L"TypeLib\\%ls\\%x.%x\\0\\win64", GuidToString(attr.guid, true).c_str(),
                  attr.wMajorVerNum, attr.wMinorVerNum);
}

HRESULT LoadModuleTypeLib(HMODULE module, UINT index, std::wstring* path, ComPtr<ITypeLib>* out) {
    if (!module) module = Module::Get().handle();
    wchar_t file[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, file, MAX_PATH);
    RETURN_LAST_ERROR_IF(length == 0);
    RETURN_HR_IF(E_OUTOFMEMORY, length >= MAX_PATH);
    *path = file;
    if (index != 1) *path += Format(L"\\%u", index);
    return ::LoadTypeLibEx(path->c_str(), REGKIND_NONE, out->put());
}
}  // namespace

HRESULT RegisterCategories(std::initializer_list<CategoryInfo> categories) {
    return ComBoundary([&]() -> HRESULT {
        ComPtr<ICatRegister> reg;
        RETURN_IF_FAILED(CatRegister(&reg));
        std::vector<CATEGORYINFO> infos;
        for (const CategoryInfo& category : categories) {
            CATEGORYINFO info = {};
            info.catid = category.id;
            info.lcid = category.lcid;
            lstrcpynW(info.szDescription, category.description ? category.description : L"",
                      ARRAYSIZE(info.szDescription));
            infos.push_back(info);
        }
        return reg->RegisterCategories(static_cast<ULONG>(infos.size()), infos.data());
    });
}

HRESULT RegisterImplCategories(REFCLSID clsid, std::initializer_list<CATID> categories) {
    return RegisterImplCategories(clsid, std::vector<CATID>(categories));
}

HRESULT UnregisterImplCategories(REFCLSID clsid, std::initializer_list<CATID> categories) {
    return UnregisterImplCategories(clsid, std::vector<CATID>(categories));
}

HRESULT RegisterImplCategories(REFCLSID clsid, const std::vector<CATID>& categories) {
    return ComBoundary([&]() -> HRESULT {
        ComPtr<ICatRegister> reg;
        RETURN_IF_FAILED(CatRegister(&reg));
        std::vector<CATID> ids(categories);  // the interface takes a non-const array
        return reg->RegisterClassImplCategories(clsid, static_cast<ULONG>(ids.size()), ids.data());
    });
}

HRESULT UnregisterImplCategories(REFCLSID clsid, const std::vector<CATID>& categories) {
    return ComBoundary([&]() -> HRESULT {
        ComPtr<ICatRegister> reg;
        RETURN_IF_FAILED(CatRegister(&reg));
        std::vector<CATID> ids(categories);
        return reg->UnRegisterClassImplCategories(clsid, static_cast<ULONG>(ids.size()),
                                                  ids.data());
    });
}

HRESULT RegisterModuleTypeLib(HMODULE module, UINT index) {
    return ComBoundary([&]() -> HRESULT {
        std::wstring path;
        ComPtr<ITypeLib> library;
        RETURN_IF_FAILED(LoadModuleTypeLib(module, index, &path, &library));
        RETURN_IF_FAILED(
            ::RegisterTypeLib(library.get(), const_cast<LPOLESTR>(path.c_str()), nullptr));
        TLIBATTR* attr = nullptr;
        RETURN_IF_FAILED(library->GetLibAttr(&attr));
        HRESULT hr = S_OK;
        if (attr->lcid != 0) {
            // Wine's type-library marshaler looks only under the neutral locale (...\0\win64);
            // a library with a language of its own is registered there as well.
            const std::wstring key = NeutralTypeLibKey(*attr);
            hr = Win32Hr(
                ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, path.c_str(),
                                  static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
        }
        library->ReleaseTLibAttr(attr);
        return hr;
    });
}

HRESULT UnregisterModuleTypeLib(HMODULE module, UINT index) {
    return ComBoundary([&]() -> HRESULT {
        std::wstring path;
        ComPtr<ITypeLib> library;
        RETURN_IF_FAILED(LoadModuleTypeLib(module, index, &path, &library));
        TLIBATTR* attr = nullptr;
        RETURN_IF_FAILED(library->GetLibAttr(&attr));
        if (attr->lcid != 0) {
            // The neutral-locale entry RegisterModuleTypeLib added; gone first so that
            // UnRegisterTypeLib finds the version key empty and removes it.
            const std::wstring key = NeutralTypeLibKey(*attr);
            ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
            ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.substr(0, key.rfind(L'\\')).c_str());
        }
        const HRESULT hr = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum,
                                               attr->lcid, attr->syskind);
        library->ReleaseTLibAttr(attr);
        return hr;
    });
}

}  // namespace com
