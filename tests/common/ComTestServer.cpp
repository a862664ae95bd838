// A minimal in-process server for the tests: one ordinary class and one singleton, registered
// through com::InprocServer.
#include <windows.h>

#include "com/ClassFactory.h"
#include "com/InprocServer.h"
#include "com/Object.h"

namespace {

// {6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A10} / ...A11
const CLSID kClsidPlain = {
    0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x10}};
const CLSID kClsidSingleton = {
    0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x11}};

class CPlain : public com::Object<IPersist> {
public:
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = kClsidPlain;
        return S_OK;
    }
};

class CSingle : public com::Object<IPersist> {
public:
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = kClsidSingleton;
        return S_OK;
    }
};

const bool kPlain = com::AddClassObject<com::ClassFactory<CPlain>>(kClsidPlain);
const bool kSingle = com::AddClassObject<com::SingletonClassFactory<CSingle>>(kClsidSingleton);

// {6B1F0E52-3C1A-4E57-9A0D-2F6C4B7E9A12}
const CATID kCatidTest = {
    0x6b1f0e52, 0x3c1a, 0x4e57, {0x9a, 0x0d, 0x2f, 0x6c, 0x4b, 0x7e, 0x9a, 0x12}};

const com::InprocServer kServer = com::InprocServer({101})
                                      .Replace(L"MARKER", L"comtest_server")
                                      .ImplementsCategories(kClsidPlain, {kCatidTest});

}  // namespace

COM_INPROC_SERVER_EXPORTS(kServer)
