#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Sync.h"

class OPCOrvane;

// IPersistFile of a server object: saves the namespace (the model behind the
// server) into a compound file and loads it back. A tear-off per query, so each
// has its own current file, the server directory's "Default.pac" at first.
//
// The file's top level holds three streams; everything else is the model's own
// IPersistStorage. A save writes a temporary file beside the target and replaces
// the target only when every step succeeded; a load changes the namespace only
// when the whole file was read.
class CPersistFileImpl : public com::TearOff<OPCOrvane, com::Chain<IPersistFile, IPersist>> {
public:
    using TearOff::TearOff;

    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPCOLESTR pszFileName, DWORD dwMode) override;
    STDMETHODIMP Save(LPCOLESTR pszFileName, BOOL fRemember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR pszFileName) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName) override;

protected:
    HRESULT FinalConstruct() override;

private:
    HRESULT LoadFile(const std::wstring& file, DWORD mode);
    HRESULT SaveFile(const std::wstring& file);
    HRESULT WriteFile(IStorage* storage);
    std::wstring currentFile() const;

    com::ComPtr<IPersistStorage> model_;  // the model root's, for the tear-off's life
    // Serialises loads and saves of this tear-off; the model itself runs in its own
    // apartment, one call at a time.
    com::CriticalSection fileLock_;
    mutable com::CriticalSection lock_;  // guards currentFile_ and version_
    std::wstring currentFile_;
    std::wstring version_;  // the version text of the last file loaded; kept, not evaluated
};
