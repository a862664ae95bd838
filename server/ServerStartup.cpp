#include "ServerStartup.h"

#include <objbase.h>

#include "com/Log.h"
#include "com/Module.h"

namespace {

ServerStartup& Startup() {
    static ServerStartup startup;
    return startup;
}

}  // namespace

void InitServerStartup() {
    ServerStartup& startup = Startup();
    CoFileTimeNow(&startup.startTime);
    com::ModuleVersion version;
    const HRESULT hr = com::ReadModuleVersion(com::Module::Get().path(), &version);
    if (FAILED(hr)) {
        LOG_ERROR(L"Orvane: version resource not readable (%#lx); status reports version 0.0.0",
                  hr);
        return;
    }
    startup.version = version.version;
    startup.vendor = version.company;
}

const ServerStartup& GetServerStartup() { return Startup(); }
