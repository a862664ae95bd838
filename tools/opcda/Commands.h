#pragma once

#include "Options.h"

// Exit codes of every command.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,       // bad command line
    kExitConnect = 2,     // server not found or not creatable
    kExitCallFailed = 3,  // the server refused a call
};

int RunStatusCommand(const Options& options);
int RunServersCommand(const Options& options);
int RunBrowseCommand(const Options& options);
int RunReadCommand(const Options& options);
int RunWriteCommand(const Options& options);
int RunPropsCommand(const Options& options);
int RunNamespaceCommand(const Options& options);
int RunModelCommand(const Options& options);
// model read|write|props ITEM...: items on the in-process interaction object.
int RunModelItemsCommand(const Options& options);
