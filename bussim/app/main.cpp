// OrvaneBusSim.exe: an out-of-process OPC DA 2.0 server that simulates a
// PROFIBUS-DP line with drives behind it; a DA 1.0 class serves the same bus.
//
//   OrvaneBusSim.exe /RegServer | /UnregServer      (also with "-")
//   OrvaneBusSim.exe [/Topology <file>]             run (COM adds -Embedding)
#include <windows.h>
#include <shellapi.h>

#include <opc.h>

#include <string>

#include "AsyncQueue.h"
#include "Updates.h"
#include "Ids.h"
#include "Server.h"
#include "SimHost.h"
#include "com/ClassFactory.h"
#include "com/ComInit.h"
#include "com/LocalServer.h"
#include "com/Log.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Strings.h"

namespace bussim {
namespace {

const bool kRegistered = com::AddClassObject<com::ClassFactory<COPCBusServer>>(kClsidBusSimulator);
const bool kRegisteredDA1 =
    com::AddClassObject<com::ClassFactory<COPCBusServerDA1>>(kClsidBusSimulatorDA1);

// The registry script of the application and its class.
const wchar_t kScript[] =
    LR"(
HKCR
{
    NoRemove AppID
    {
        ForceRemove {%APPID%} = s 'OrvaneBusSim'
        ForceRemove 'OrvaneBusSim.exe'
        {
            val AppID = s '{%APPID%}'
        }
    }
    ForceRemove %PROGID% = s '%CLASSNAME%'
    {
        CLSID = s '{%CLSID%}'
        CurVer = s '%PROGID%.1'
        OPC
        {
            Vendor = s '%VENDOR%'
        }
    }
    ForceRemove %PROGID%.1 = s '%CLASSNAME%'
    {
        CLSID = s '{%CLSID%}'
        OPC
        {
            Vendor = s '%VENDOR%'
        }
    }
    ForceRemove %PROGIDDA1% = s '%CLASSNAMEDA1%'
    {
        CLSID = s '{%CLSIDDA1%}'
        CurVer = s '%PROGIDDA1%.1'
        OPC
        {
            Vendor = s '%VENDOR%'
        }
    }
    ForceRemove %PROGIDDA1%.1 = s '%CLASSNAMEDA1%'
    {
        CLSID = s '{%CLSIDDA1%}'
        OPC
        {
            Vendor = s '%VENDOR%'
        }
    }
    NoRemove CLSID
    {
        ForceRemove {%CLSID%} = s '%CLASSNAME%'
        {
            ProgID = s '%PROGID%'
            VersionIndependentProgID = s '%PROGID%'
            LocalServer32 = s '%MODULE%'
            val AppID = s '{%APPID%}'
        }
        ForceRemove {%CLSIDDA1%} = s '%CLASSNAMEDA1%'
        {
            ProgID = s '%PROGIDDA1%'
            VersionIndependentProgID = s '%PROGIDDA1%'
            LocalServer32 = s '%MODULE%'
            val AppID = s '{%APPID%}'
        }
    }
}
)";

HRESULT PrepareRegistrar(com::Registrar* registrar) {
    registrar->AddReplacement(L"APPID", kAppIdText);
    registrar->AddReplacement(L"CLSID", kClsidText);
    registrar->AddReplacement(L"PROGID", kProgId);
    registrar->AddReplacement(L"CLASSNAME", kClassName);
    registrar->AddReplacement(L"VENDOR", kVendorName);
    registrar->AddReplacement(L"CLSIDDA1", kClsidDA1Text);
    registrar->AddReplacement(L"PROGIDDA1", kProgIdDA1);
    registrar->AddReplacement(L"CLASSNAMEDA1", kClassNameDA1);
    return registrar->AddModuleReplacement();
}

HRESULT Register() {
    com::Registrar registrar;
    RETURN_IF_FAILED(PrepareRegistrar(&registrar));
    HRESULT hr = registrar.RegisterScript(kScript);
    if (FAILED(hr)) {
        LOG_ERROR(L"OrvaneBusSim /RegServer: %ls", registrar.last_error().c_str());
        return hr;
    }
    RETURN_IF_FAILED(com::RegisterCategories({{CATID_OPCDAServer10, OPC_CATEGORY_DESCRIPTION_DA10},
                                              {CATID_OPCDAServer20, OPC_CATEGORY_DESCRIPTION_DA20},
                                              {kCatidBusServer10, kBusServer10Description},
                                              {kCatidBusServerDp, kBusServerDpDescription}}));
    RETURN_IF_FAILED(com::RegisterImplCategories(
        kClsidBusSimulator, {CATID_OPCDAServer20, kCatidBusServer10, kCatidBusServerDp}));
    return com::RegisterImplCategories(kClsidBusSimulatorDA1, {CATID_OPCDAServer10});
}

HRESULT Unregister() {
    com::UnregisterImplCategories(kClsidBusSimulator,
                                  {CATID_OPCDAServer20, kCatidBusServer10, kCatidBusServerDp});
    com::UnregisterImplCategories(kClsidBusSimulatorDA1, {CATID_OPCDAServer10});
    com::Registrar registrar;
    RETURN_IF_FAILED(PrepareRegistrar(&registrar));
    return registrar.UnregisterScript(kScript);
}

bool IsSwitch(const wchar_t* arg, const wchar_t* name) {
    return (arg[0] == L'-' || arg[0] == L'/') && com::EqualsNoCase(arg + 1, name);
}

int Run(const std::wstring& topologyPath) {
    SimHost::Get().Load(topologyPath);
    SimHost::Get().bus().SetShutdownHandler(RequestShutdownOfAll);
    HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                      RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) LOG_WARNING(L"OrvaneBusSim: CoInitializeSecurity failed with %#lx", hr);
    hr = com::RunLocalServer();
    // No object lives any more: nothing posts to these threads.
    AsyncQueue::Get().Stop();
    UpdateThread::Get().Stop();
    com::Module::Get().RunTermFuncs();
    return FAILED(hr) ? hr : 0;
}

}  // namespace
}  // namespace bussim

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) return com.hr();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring topology;
    for (int i = 1; argv && i < argc; ++i) {
        if (bussim::IsSwitch(argv[i], L"RegServer")) return bussim::Register();
        if (bussim::IsSwitch(argv[i], L"UnregServer")) return bussim::Unregister();
        if (bussim::IsSwitch(argv[i], L"Topology") && i + 1 < argc) topology = argv[++i];
    }
    LocalFree(argv);
    return bussim::Run(topology);
}
