// An in-process COM library (TVN.dll, TVN Bar.dll) from a class table and a registration
// script. The library's entry file defines only tvn::com::kInprocModule; this module provides
// the rest:
// - DllMain: on attach installs the crash reporter with the module's caption and dump file
//   name, records the module handle, turns off thread notifications and passes the attach to
//   the proxy/stub code (whose result fails the attach when it fails); on detach puts back
//   the unhandled-exception filter that was there before, so the filter never outlives the
//   library's code.
// - DllGetClassObject: the class table first, then the proxy/stub's class objects.
// - DllCanUnloadNow: S_OK only when no object or lock of the module and nothing of the
//   proxy/stub is alive.
// - DllRegisterServer / DllUnregisterServer: the module's registration script
//   (registration.h) with %MODULE% the library's full path; no exception leaves them.
//
// A new library (CMake: tvn_com_dll in cmake/com_dll.cmake builds it with its type library,
// proxy/stub, resources, manifest and .def):
//     // bar/bar_module.cpp
//     #include "inproc_module.h"
//     namespace tvn::com {
//     const ClassEntry kClasses[] = {{&CLSID_TVNWinExpBar, &kFactoryOf<BandObject>}};
//     const InprocModule kInprocModule{L"Tolvane\x2122", L"TVN Bar.dmp", kClasses,
//                                      &bar::kRegistrationScript};
//     }
// where BandObject is a ComObject<TVNWinExpBar, PlainCount> (com_core.h) and the script's
// steps list its tables (HKCR and HKLM), Step::TypeLibrary and
// Step::ProxyStub(ModuleProxyStub()). ModuleHandle() is the library's own handle (for its
// resources and folder). A library whose .rc carries a manifest as RT_MANIFEST resource 2
// (ISOLATIONAWARE_MANIFEST_RESOURCE_ID, for example naming common controls 6.0) runs the calls
// that must bind to it inside a ModuleActivation scope.
#pragma once

#include <windows.h>

#include <span>

#include "com_core.h"
#include "registration.h"

namespace tvn::com {

struct ClassEntry {
    const CLSID* clsid;
    IClassFactory* factory;  // a static object of the module
};

// A class factory instance per object type, for class tables.
template <typename Object>
inline ClassFactory<Object> kFactoryOf;

struct InprocModule {
    const wchar_t* crashCaption;
    const wchar_t* dumpFileName;
    std::span<const ClassEntry> classes;
    const Registration::Script* registration;
};

// Defined by the library's entry file.
extern const InprocModule kInprocModule;

// The library's module handle, recorded when it was attached (null before).
HMODULE ModuleHandle();

// The registration entry points of the proxy/stub linked into this library; null when the
// library carries none.
const Registration::ProxyStubEntries* ModuleProxyStub();

// Activates the library's own manifest (RT_MANIFEST resource 2) for the scope, so that the
// window classes and controls created inside bind to the assemblies it names. The context is
// made on first use and kept until the library is detached. Active() is false when the
// library has no such resource or the context cannot be made; the calls then bind to what the
// host process uses.
class ModuleActivation {
  public:
    ModuleActivation();
    ~ModuleActivation();
    ModuleActivation(const ModuleActivation&) = delete;
    ModuleActivation& operator=(const ModuleActivation&) = delete;
    bool Active() const { return active_; }

  private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

}  // namespace tvn::com
