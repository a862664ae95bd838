// vbshost.exe <script.vbs> - runs a WSH script in the VBScript engine (IActiveScript) with a
// WScript object of Echo, Quit, Sleep, ConnectObject, DisconnectObject and CreateObject.
// Wine's cscript cannot connect events (error 445); here an event of a connected object calls
// the script's Sub named prefix + event. A script error prints file, line and text and exits 1.
// The scripts stay plain WSH scripts that Windows' cscript runs as well.
#include <windows.h>
#include <activscp.h>
#include <shellapi.h>
#include <ocidl.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "com/ComInit.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Strings.h"
#include "com/Variant.h"

namespace {

int g_exitCode = 0;
std::wstring g_scriptPath;

void Print(const std::wstring& line) {
    const std::string text = com::WideToUtf8(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Lets the apartment take calls (events come as messages) for about `ms`.
void Pump(DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

// Calls the script's Sub prefix + event name for each event of one connected object.
class EventSink : public com::Object<IDispatch> {
public:
    EventSink(REFIID iid, std::wstring prefix, IDispatch* script, ITypeInfo* events)
        : iid_(iid), prefix_(std::move(prefix)), script_(script), events_(events) {}

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        BSTR name = nullptr;
        UINT found = 0;
        if (!events_ || FAILED(events_->GetNames(id, &name, 1, &found)) || found == 0) return S_OK;
        std::wstring sub = prefix_ + name;
        ::SysFreeString(name);
        LPOLESTR names[] = {sub.data()};
        DISPID subId = 0;
        // A script without a handler for this event ignores it.
        if (FAILED(script_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &subId)))
            return S_OK;
        com::UniqueVariant ignored;
        return script_->Invoke(subId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params,
                               ignored.put(), nullptr, nullptr);
    }

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
        if (riid != iid_) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }

private:
    const IID iid_;
    const std::wstring prefix_;
    const com::ComPtr<IDispatch> script_;
    const com::ComPtr<ITypeInfo> events_;
};

struct Connection {
    com::ComPtr<IUnknown> object;
    com::ComPtr<IConnectionPoint> point;
    DWORD cookie;
};

class WScript : public com::Object<IDispatch> {
public:
    enum : DISPID { kEcho = 1, kQuit, kSleep, kConnectObject, kDisconnectObject, kCreateObject };

    void SetScript(IDispatch* script) { script_ = com::ComPtr<IDispatch>(script); }
    void DisconnectAll() {
        for (auto& c : connections_) c.point->Unadvise(c.cookie);
        connections_.clear();
        script_.reset();
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const struct {
            const wchar_t* name;
            DISPID id;
        } kMembers[] = {{L"Echo", kEcho},
                        {L"Quit", kQuit},
                        {L"Sleep", kSleep},
                        {L"ConnectObject", kConnectObject},
                        {L"DisconnectObject", kDisconnectObject},
                        {L"CreateObject", kCreateObject}};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const auto& m : kMembers)
                if (i == 0 && ::lstrcmpiW(names[i], m.name) == 0) ids[i] = m.id;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        // Arguments in declaration order, values behind references resolved.
        std::vector<com::UniqueVariant> args;
        for (UINT i = params->cArgs; i-- > 0;) {
            com::UniqueVariant arg;
            ::VariantCopyInd(arg.put(), &params->rgvarg[i]);
            args.push_back(std::move(arg));
        }
        switch (id) {
            case kEcho: return Echo(args);
            case kQuit: {
                com::UniqueVariant code;
                if (!args.empty()) ::VariantChangeType(code.put(), args[0].get(), 0, VT_I4);
                std::fflush(stdout);
                ::ExitProcess(code.vt() == VT_I4 ? static_cast<UINT>(V_I4(code.get())) : 0);
            }
            case kSleep: {
                com::UniqueVariant ms;
                if (args.empty() || FAILED(::VariantChangeType(ms.put(), args[0].get(), 0, VT_I4)))
                    return DISP_E_BADPARAMCOUNT;
                Pump(static_cast<DWORD>(V_I4(ms.get())));
                return S_OK;
            }
            case kConnectObject:
                if (args.size() < 2 || args[0].vt() != VT_DISPATCH || args[1].vt() != VT_BSTR)
                    return DISP_E_TYPEMISMATCH;
                return Connect(V_DISPATCH(args[0].get()), V_BSTR(args[1].get()));
            case kDisconnectObject:
                if (args.empty() || args[0].vt() != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
                return Disconnect(V_DISPATCH(args[0].get()));
            case kCreateObject: return Create(args, result);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    HRESULT Echo(const std::vector<com::UniqueVariant>& args) {
        std::wstring line;
        for (const auto& arg : args) {
            com::UniqueVariant text;
            if (FAILED(
                    ::VariantChangeType(text.put(), const_cast<VARIANT*>(arg.get()), 0, VT_BSTR)))
                return DISP_E_TYPEMISMATCH;
            if (!line.empty()) line += L' ';
            line += V_BSTR(text.get()) ? V_BSTR(text.get()) : L"";
        }
        Print(line);
        return S_OK;
    }

    HRESULT Create(const std::vector<com::UniqueVariant>& args, VARIANT* result) {
        if (args.empty() || args[0].vt() != VT_BSTR) return DISP_E_TYPEMISMATCH;
        CLSID clsid;
        RETURN_IF_FAILED(::CLSIDFromProgID(V_BSTR(args[0].get()), &clsid));
        com::ComPtr<IDispatch> object;
        RETURN_IF_FAILED(
            ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, object.put_void()));
        if (args.size() > 1 && args[1].vt() == VT_BSTR)
            RETURN_IF_FAILED(Connect(object.get(), V_BSTR(args[1].get())));
        if (result) {
            ::VariantInit(result);
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = object.detach();
        }
        return S_OK;
    }

    // The object's (first) outgoing interface, its event names from the object's type library.
    HRESULT Connect(IDispatch* object, const wchar_t* prefix) {
        if (!script_) return E_UNEXPECTED;
        com::ComPtr<IConnectionPointContainer> container;
        RETURN_IF_FAILED(object->QueryInterface(IID_PPV_ARGS(container.put())));
        com::ComPtr<IEnumConnectionPoints> points;
        RETURN_IF_FAILED(container->EnumConnectionPoints(points.put()));
        com::ComPtr<IConnectionPoint> point;
        ULONG fetched = 0;
        if (points->Next(1, point.put(), &fetched) != S_OK || !point) return E_NOINTERFACE;
        IID iid;
        RETURN_IF_FAILED(point->GetConnectionInterface(&iid));
        com::ComPtr<ITypeInfo> info, events;
        com::ComPtr<ITypeLib> library;
        UINT index = 0;
        if (SUCCEEDED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) &&
            SUCCEEDED(info->GetContainingTypeLib(library.put(), &index)))
            library->GetTypeInfoOfGuid(iid, events.put());
        com::ComPtr<EventSink> sink;
        RETURN_IF_FAILED(
            com::MakeObject(&sink, iid, std::wstring(prefix), script_.get(), events.get()));
        DWORD cookie = 0;
        RETURN_IF_FAILED(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie));
        com::ComPtr<IUnknown> identity;
        object->QueryInterface(IID_PPV_ARGS(identity.put()));
        connections_.push_back({identity, point, cookie});
        return S_OK;
    }

    HRESULT Disconnect(IDispatch* object) {
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (com::IsSameObject(it->object.get(), object)) {
                it->point->Unadvise(it->cookie);
                connections_.erase(it);
                return S_OK;
            }
        }
        return S_OK;
    }

    com::ComPtr<IDispatch> script_;
    std::vector<Connection> connections_;
};

class Site : public com::Object<IActiveScriptSite> {
public:
    explicit Site(WScript* wscript) : wscript_(wscript) {}

    STDMETHODIMP GetLCID(LCID* lcid) override {
        *lcid = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                             ITypeInfo** info) override {
        if (info) *info = nullptr;
        if (item) *item = nullptr;
        if (::lstrcmpiW(name, L"WScript") != 0) return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
            *item = static_cast<IDispatch*>(wscript_.get());
            (*item)->AddRef();
        }
        return (mask & SCRIPTINFO_ITYPEINFO) && !(mask & SCRIPTINFO_IUNKNOWN) ? E_NOTIMPL : S_OK;
    }
    STDMETHODIMP GetDocVersionString(BSTR* version) override {
        *version = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO exception = {};
        error->GetExceptionInfo(&exception);
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        wchar_t code[16];
        swprintf(code, 16, L"%08lX", static_cast<unsigned long>(exception.scode));
        Print(g_scriptPath + L"(" + std::to_wstring(line + 1) + L", " +
              std::to_wstring(column + 1) + L") " + code + L": " +
              (exception.bstrDescription ? exception.bstrDescription : L"script error"));
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrHelpFile);
        g_exitCode = 1;
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    com::ComPtr<WScript> wscript_;
};

int Run(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) {
        Print(L"vbshost: cannot read " + path);
        return 1;
    }
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::wstring source = com::Utf8ToWide(bytes.str());

    CLSID clsid;
    com::ComPtr<IActiveScript> engine;
    com::ComPtr<IActiveScriptParse> parse;
    com::ComPtr<WScript> wscript;
    com::ComPtr<Site> site;
    if (FAILED(::CLSIDFromProgID(L"VBScript", &clsid)) ||
        FAILED(
            ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(engine.put()))) ||
        FAILED(engine.query(&parse)) || FAILED(com::MakeObject(&wscript)) ||
        FAILED(com::MakeObject(&site, wscript.get())) ||
        FAILED(engine->SetScriptSite(site.get())) || FAILED(parse->InitNew()) ||
        FAILED(engine->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE))) {
        Print(L"vbshost: the VBScript engine cannot be set up");
        return 1;
    }
    com::ComPtr<IDispatch> script;
    engine->GetScriptDispatch(nullptr, script.put());
    wscript->SetScript(script.get());
    EXCEPINFO exception = {};
    HRESULT hr = parse->ParseScriptText(source.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                        SCRIPTTEXT_ISVISIBLE, nullptr, &exception);
    if (SUCCEEDED(hr)) hr = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (FAILED(hr)) g_exitCode = 1;
    wscript->DisconnectAll();
    engine->Close();
    return g_exitCode;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        Print(L"usage: vbshost <script.vbs>");
        return 2;
    }
    g_scriptPath = argv[1];
    ::LocalFree(argv);
    com::ComInitializer com(COINIT_APARTMENTTHREADED);
    return Run(g_scriptPath);
}
