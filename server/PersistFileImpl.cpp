#include "PersistFileImpl.h"

#include "CompoundFileCheck.h"
#include "OPCOrvane.h"
#include "StorageNames.h"
#include "com/Bstr.h"
#include "com/Log.h"
#include "com/Memory.h"
#include "com/Module.h"
#include "com/Result.h"
#include "com/ScopeExit.h"

#include <utility>

namespace {

namespace storage = vk::storage;

// The persistence class of the file.
constexpr CLSID kPersistClassId = {
    0xC8F17CA1, 0x7EF3, 0x11D3, {0xBD, 0x81, 0x00, 0x10, 0x5A, 0x31, 0x85, 0xC3}};
constexpr wchar_t kPersistClassText[] = L"{C8F17CA1-7EF3-11D3-BD81-00105A3185C3}";
constexpr wchar_t kVersion[] = L"0.0.2";
constexpr wchar_t kClassStream[] = L"__ObjectClassID";
constexpr wchar_t kVersionStream[] = L"__VersionString";
constexpr wchar_t kModelListStream[] = L"__ModelList";

std::wstring DefaultFile() {
    std::wstring path = com::Module::Get().path();
    return path.substr(0, path.find_last_of(L'\\')) + L"\\Default.pac";
}

// A top-level string: the count of units with the terminating zero, then the units.
// A missing last unit is tolerated; a count beyond that is damage.
HRESULT ReadTopString(IStorage* file, const wchar_t* name, std::wstring* out) {
    storage::Bytes bytes;
    RETURN_IF_FAILED(storage::ReadStreamBytes(file, name, &bytes));
    storage::ByteReader reader(bytes);
    DWORD count = 0;
    if (!reader.ReadValue(&count)) return STG_E_DOCFILECORRUPT;
    if (count > reader.left() / sizeof(wchar_t) + 1) return STG_E_DOCFILECORRUPT;
    std::wstring text(reader.left() / sizeof(wchar_t), L'\0');
    reader.Read(text.data(), text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), std::min<size_t>(count, text.size())));
    out->swap(text);
    return S_OK;
}

HRESULT WriteTopString(IStorage* file, const wchar_t* name, std::wstring_view text) {
    storage::Bytes bytes;
    storage::AppendString(&bytes, text);
    return storage::WriteStreamBytes(file, name, bytes);
}

std::wstring DirectoryOf(const std::wstring& file) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(file.c_str(), length, full.data(), nullptr);
    }
    full.resize(length);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : full.substr(0, slash);
}

// Wine 8 ends an interface's RPC registration when the last stub of that interface
// in the process goes, and waits there for the calls on it (RpcServerUnregisterIf
// with WaitForCallsToComplete), which can deadlock (see DEVELOPERS). The model reads
// and writes a file from its own apartment through hundreds of storage and stream
// proxies that come and go: one table-marshalled stub of each of these interfaces,
// kept for the life of the process, keeps their registrations.
void KeepStorageInterfacesRegistered() {
    static const bool kept = [] {
        com::ComPtr<ILockBytes> bytes;
        com::ComPtr<IStorage> storage;
        com::ComPtr<IStream> stream;
        com::ComPtr<IEnumSTATSTG> elements;
        if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put())) ||
            FAILED(StgCreateDocfileOnILockBytes(bytes.get(),
                                                STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                                0, storage.put())) ||
            FAILED(storage->CreateStream(L"s", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                         0, 0, stream.put())) ||
            FAILED(storage->EnumElements(0, nullptr, 0, elements.put())))
            return false;
        const std::pair<REFIID, IUnknown*> objects[] = {{IID_IStorage, storage.get()},
                                                        {IID_IStream, stream.get()},
                                                        {IID_IEnumSTATSTG, elements.get()}};
        for (const auto& [iid, object] : objects) {
            com::ComPtr<IStream> marshal;
            if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, marshal.put())) ||
                FAILED(CoMarshalInterface(marshal.get(), iid, object, MSHCTX_INPROC, nullptr,
                                          MSHLFLAGS_TABLESTRONG)))
                return false;
            marshal.detach();  // the marshal data stays for the process
        }
        return true;
    }();
    if (!kept) LOG_WARNING(L"IPersistFile: the storage interfaces' stubs could not be kept");
}

}  // namespace

HRESULT CPersistFileImpl::FinalConstruct() {
    KeepStorageInterfacesRegistered();
    com::ComPtr<VKModelObject> root = owner()->model();
    RETURN_HR_IF(E_NOINTERFACE, !root);
    RETURN_IF_FAILED(root.query(&model_));
    currentFile_ = DefaultFile();
    return S_OK;
}

std::wstring CPersistFileImpl::currentFile() const {
    com::CsLock guard(lock_);
    return currentFile_;
}

STDMETHODIMP CPersistFileImpl::GetClassID(CLSID* pClassID) {
    RETURN_HR_IF(E_FAIL, !pClassID);
    *pClassID = kPersistClassId;
    return S_OK;
}

STDMETHODIMP CPersistFileImpl::IsDirty() { return model_->IsDirty(); }

STDMETHODIMP CPersistFileImpl::Load(LPCOLESTR pszFileName, DWORD dwMode) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pszFileName);
        const std::wstring file(pszFileName);
        {
            com::CsLock guard(lock_);
            currentFile_ = file;
        }
        com::CsLock serial(fileLock_);
        const HRESULT hr = LoadFile(file, dwMode);
        if (FAILED(hr))
            LOG_ERROR(L"IPersistFile::Load(%ls) failed with %#lx; the namespace stays",
                      file.c_str(), hr);
        return hr;
    });
}

HRESULT CPersistFileImpl::LoadFile(const std::wstring& file, DWORD mode) {
    RETURN_IF_FAILED(CheckCompoundFileLength(file));
    com::ComPtr<IStorage> root;
    RETURN_IF_FAILED(StgOpenStorage(file.c_str(), nullptr,
                                    mode ? mode : STGM_SHARE_EXCLUSIVE | STGM_READWRITE, nullptr, 0,
                                    root.put()));
    std::wstring classText, version, modelName;
    ReadTopString(root.get(), kClassStream, &classText);  // not checked
    if (SUCCEEDED(ReadTopString(root.get(), kVersionStream, &version))) {
        com::CsLock guard(lock_);
        version_ = version;
    }
    // Without it the file is none of ours and the model is not touched.
    RETURN_IF_FAILED(ReadTopString(root.get(), kModelListStream, &modelName));

    // The model replaces its tree only when it read the whole file, and lets go of
    // every storage of it in any case.
    HRESULT hr = model_->Load(root.get());
    model_->HandsOffStorage();
    RETURN_IF_FAILED(hr);
    com::ComPtr<VKModelObject> model = owner()->model();
    RETURN_IF_FAILED(model->SetName(com::UniqueBstr(modelName).get()));
    // Loaded, so in step with the file.
    return S_OK;
}

STDMETHODIMP CPersistFileImpl::Save(LPCOLESTR pszFileName, BOOL fRemember) {
    return com::ComBoundary([&]() -> HRESULT {
        // Save(NULL) stores into the current file, as IPersistFile has it.
        const std::wstring file = pszFileName ? std::wstring(pszFileName) : currentFile();
        com::CsLock serial(fileLock_);
        const HRESULT hr = SaveFile(file);
        if (FAILED(hr)) {
            LOG_ERROR(L"IPersistFile::Save(%ls) failed with %#lx; the file stays as it was",
                      file.c_str(), hr);
            return hr;
        }
        if (fRemember && pszFileName) {
            com::CsLock guard(lock_);
            currentFile_ = file;
        }
        return S_OK;
    });
}

// Written whole into a temporary file beside the target, which replaces the
// target only at the end: a failure leaves the old file as it was.
HRESULT CPersistFileImpl::SaveFile(const std::wstring& file) {
    std::wstring temp(MAX_PATH, L'\0');
    if (!GetTempFileNameW(DirectoryOf(file).c_str(), L"pac", 0, temp.data()))
        return com::LastErrorHr();
    temp.resize(wcslen(temp.c_str()));
    com::ScopeExit removeTemp([&] { DeleteFileW(temp.c_str()); });
    {
        com::ComPtr<IStorage> root;
        RETURN_IF_FAILED(StgCreateDocfile(
            temp.c_str(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0, root.put()));
        RETURN_IF_FAILED(WriteFile(root.get()));
        RETURN_IF_FAILED(root->Commit(STGC_DEFAULT));
    }
    if (!MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        return com::LastErrorHr();
    removeTemp.dismiss();
    return S_OK;
}

HRESULT CPersistFileImpl::WriteFile(IStorage* root) {
    RETURN_IF_FAILED(WriteTopString(root, kClassStream, kPersistClassText));
    RETURN_IF_FAILED(WriteTopString(root, kVersionStream, kVersion));
    com::ComPtr<VKModelObject> model = owner()->model();
    com::UniqueBstr name;
    RETURN_IF_FAILED(model->GetName(name.put()));
    RETURN_IF_FAILED(WriteTopString(root, kModelListStream, name.view()));
    HRESULT hr = model_->InitNew(root);
    if (SUCCEEDED(hr)) hr = model_->Save(root, TRUE);
    model_->HandsOffStorage();
    return hr;
}

STDMETHODIMP CPersistFileImpl::SaveCompleted(LPCOLESTR) { return S_OK; }

STDMETHODIMP CPersistFileImpl::GetCurFile(LPOLESTR* ppszFileName) {
    RETURN_IF_NULL_POINTER(ppszFileName);
    *ppszFileName = nullptr;
    const std::wstring file = currentFile();
    com::CoTaskMem<wchar_t> copy;
    RETURN_HR_IF(E_OUTOFMEMORY, !copy.alloc(file.size() + 1));
    wmemcpy(copy.get(), file.c_str(), file.size() + 1);
    *ppszFileName = copy.release();
    return S_OK;
}
