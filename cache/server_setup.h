// The cache server process apart from its entry function: the command-line switches, the
// registry entries it writes as data, and their (un)registration with the type library.
#pragma once

#include <windows.h>

#include "registration.h"

namespace tvn::server {

enum class ServerCommand { Run, RegServer, UnregServer };

// Reads the registration switches from a whole command line, program path included. A switch
// follows "-" or "/", is compared ignoring case with "UnregServer" first and "RegServer"
// second, and counts only as a whole word followed by a blank, a tab or the end of the line.
// The program path (the first token, quoted or not) is never read as a switch, so a folder
// named like a switch cannot turn a COM start into a registration.
ServerCommand ParseServerCommandLine(const wchar_t* commandLine);

// The registration script of the server program: the application-id entries, the class
// entries of FolderSizeCache under HKEY_CLASSES_ROOT, the type library (resource TYPELIB 1 of
// the program) and its neutral-locale entry. "%MODULE%" stands for the program's path.
extern const Registration::Script kRegistrationScript;

// Registration from the program file `modulePath`; unregistration removes the same in
// reverse order (entries already gone count as removed; kept keys stay).
HRESULT RegisterServer(const wchar_t* modulePath);
HRESULT UnregisterServer(const wchar_t* modulePath);

}  // namespace tvn::server
