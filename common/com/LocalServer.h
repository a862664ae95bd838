// com/LocalServer.h - the life of an out-of-process server (a LocalServer32 program), so that
// every EXE server of the system ends the same way: about a second after its last object is
// gone, or a few seconds after its start when no object ever came (a process started for an
// activation that another process served, a client that died before creating anything).
//
//   int RunServer() {
//       com::ComInitializer com(COINIT_MULTITHREADED);
//       CoInitializeSecurity(...);              // before the class objects are marshalled
//       ... start-up data ...
//       com::RunLocalServer();
//       ... stop the process's own threads ...
//       com::Module::Get().RunTermFuncs();
//   }
#pragma once

#include <windows.h>

#include "com/Module.h"

namespace com {

struct LocalServerTimes {
    DWORD idle_ms = 1000;                // quiet time after the last object
    DWORD startup_ms = kStartupGraceMs;  // quiet time after the start when no object came
};

// On the main thread, in the multithreaded apartment: starts the shutdown monitor, registers
// the module's class objects (CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE), runs the message loop
// until the monitor posts WM_QUIT, revokes the class objects and returns once no object has
// lived for idle_ms. A class object that cannot be registered is logged; the monitor then ends
// the process after the start-up time. Returns that failure, or the monitor's.
HRESULT RunLocalServer(const LocalServerTimes& times = {});

}  // namespace com
