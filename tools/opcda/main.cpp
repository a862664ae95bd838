// opcda: console OPC DA client.
//   opcda status [--progid P] [--node HOST]
//   opcda servers
//   opcda namespace | model [--hidden]
//   opcda model read ITEM... | write ITEM=VALUE... [--type T] | props ITEM
//   opcda watch ITEM... [--rate MS] [--deadband PCT] [--seconds N] [--count N]
//   opcda save FILE [ITEM...] | load FILE
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "com/ComInit.h"
#include "com/Strings.h"

namespace {

void PrintUsage() {
    fwprintf(
        stderr,
        L"usage: opcda <command> [options]\n"
        L"  status [--progid P] [--node HOST]  server status (default ProgID Axolent.Orvane)\n"
        L"  servers                            registered OPC DA 2.0 servers\n"
        L"  browse [--flat] [--filter F]       the address space (tree, or flat item IDs)\n"
        L"  read ITEM... [--source S] [--type T] [--async]\n"
        L"                                     read: value, quality, time stamp (S: device, "
        L"cache,\n"
        L"                                     both; T: the requested type; --async: "
        L"IOPCAsyncIO2)\n"
        L"  watch ITEM... [--rate MS] [--deadband PCT] [--seconds N] [--count N]\n"
        L"                                     a line per item per data change, in read's "
        L"format,\n"
        L"                                     until N seconds or N lines or Ctrl+C\n"
        L"  write ITEM=VALUE... [--type T] [--readback] [--async]\n"
        L"                                     synchronous write (T: bool, i1, ui1, i2, ui2, "
        L"i4, ui4,\n"
        L"                                     i8, ui8, r4, r8, date, bstr; \"ui1[]\" for an "
        L"array),\n"
        L"                                     then a device read with --readback\n"
        L"  validate ITEM... [--type T]        \"ID: VT_x read/write\" or the error\n"
        L"  props ITEM                         item properties\n"
        L"  namespace                          the server's namespace check: \"checked <value> "
        L"<ms> ms\"\n"
        L"  model [--hidden]                   the drive-interaction model after the check\n"
        L"                                     (in-process, hidden parameters with --hidden)\n"
        L"  model read ITEM...                 items on the in-process interaction object, as\n"
        L"  model write ITEM=VALUE... [--type T]  the server binds them (several: one bulk\n"
        L"  model props ITEM                   read first); props: 5001 to 5016\n"
        L"  save FILE [ITEM...]                the namespace, after the check and with the items'\n"
        L"                                     parameters, into a configuration file\n"
        L"  load FILE                          the check, the file loaded, then the namespace as\n"
        L"                                     flat item IDs (exit 3 when the load failed)\n"
        L"  browse, read, watch, write, validate, props and namespace take [--progid P] [--node "
        L"HOST] as "
        L"status does;\n"
        L"  browse, read, watch, write and props take --config FILE: the file is loaded first\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    std::wstring error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        fwprintf(stderr, L"opcda: %ls\n", error.c_str());
        PrintUsage();
        return kExitUsage;
    }
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (!com.succeeded()) {
        fwprintf(stderr, L"opcda: CoInitializeEx failed: %ls\n", com::HrToString(com.hr()).c_str());
        return kExitConnect;
    }
    // Callbacks from the server need no authentication from it.
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                         RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);

    if (options.command == L"status") return RunStatusCommand(options);
    if (options.command == L"servers") return RunServersCommand(options);
    if (options.command == L"browse") return RunBrowseCommand(options);
    if (options.command == L"read") return RunReadCommand(options);
    if (options.command == L"watch") return RunWatchCommand(options);
    if (options.command == L"write") return RunWriteCommand(options);
    if (options.command == L"validate") return RunValidateCommand(options);
    if (options.command == L"props") return RunPropsCommand(options);
    if (options.command == L"namespace") return RunNamespaceCommand(options);
    if (options.command == L"model") return RunModelCommand(options);
    if (options.command == L"save") return RunSaveCommand(options);
    if (options.command == L"load") return RunLoadCommand(options);
    if (options.command.empty())
        fwprintf(stderr, L"opcda: no command given\n");
    else
        fwprintf(stderr, L"opcda: unknown command \"%ls\"\n", options.command.c_str());
    PrintUsage();
    return kExitUsage;
}
