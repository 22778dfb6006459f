// The cache server process apart from its entry function: the command-line switches, the
// registry entries it writes as data, and their (un)registration with the type library.
#pragma once

#include <windows.h>

#include <span>

#include "registration.h"

namespace tvn::server {

inline constexpr wchar_t kServerMutexName[] =
    L"TVNCacheServer.{3677DD7F-E6BF-4081-B50D-39D336FD1089}";

enum class ServerCommand { Run, RegServer, UnregServer };

// Reads the registration switches from a whole command line, program path included. A switch
// follows "-" or "/", is compared ignoring case with "UnregServer" first and "RegServer"
// second, and counts only as a whole word followed by a blank, a tab or the end of the line.
// The program path (the first token, quoted or not) is never read as a switch, so a folder
// named like a switch cannot turn a COM start into a registration.
ServerCommand ParseServerCommandLine(const wchar_t* commandLine);

// The application-id entries and the class entries of FolderSizeCache under
// HKEY_CLASSES_ROOT, as tables for the registration engine. "%MODULE%" stands for the
// program's path.
std::span<const Registration::Row> AppIdRows();
std::span<const Registration::Row> ClassRows();

// The whole registration of the server from the program file `modulePath`: application id,
// class entries, type library (resource TYPELIB 1 of the file). Runs with the thread locale
// set to the system default.
HRESULT RegisterServer(const wchar_t* modulePath);
// Class entries and type library first, then the application id. Entries already gone count
// as removed; kept keys stay.
HRESULT UnregisterServer(const wchar_t* modulePath);

}  // namespace tvn::server
