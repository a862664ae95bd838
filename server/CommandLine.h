#pragma once

// What the server program was asked to do by its command line.
enum class RegistrationAction { None, Register, Unregister };

// COM launches the server with "-Embedding"; installers call it with
// "/RegServer" or "-UnregServer". After each '-' or '/', the whole rest of the
// command line is compared case-insensitively, so "/RegServer /x" runs the server.
RegistrationAction ParseRegistrationSwitch(const wchar_t* commandLine);
