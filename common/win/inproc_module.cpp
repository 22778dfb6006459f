// Entry points of an in-process COM library, driven by tvn::com::kInprocModule. Compiled into
// each library itself (not taken from a static library), so that its DllMain and exports are
// the ones the linker sees; TVN_PROXY_STUB is defined when the library carries a widl
// proxy/stub built with the entry prefix Prx.
#include "inproc_module.h"

#include <olectl.h>

#include <string>

#include "crash_reporter.h"

#ifdef TVN_PROXY_STUB
extern "C" {
BOOL WINAPI PrxDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
HRESULT WINAPI PrxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT WINAPI PrxDllCanUnloadNow();
HRESULT WINAPI PrxDllRegisterServer();
HRESULT WINAPI PrxDllUnregisterServer();
}
#endif

namespace tvn::com {
namespace {

HMODULE g_module = nullptr;
HANDLE g_activationContext = INVALID_HANDLE_VALUE;  // made on first use

HANDLE ActivationContext() {
    HANDLE context = InterlockedCompareExchangePointer(&g_activationContext, nullptr, nullptr);
    if (context != INVALID_HANDLE_VALUE) {
        return context;
    }
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = g_module;
    request.lpResourceName = MAKEINTRESOURCEW(2);
    HANDLE made = g_module != nullptr ? CreateActCtxW(&request) : INVALID_HANDLE_VALUE;
    if (made == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;  // tried again next time
    }
    HANDLE previous =
        InterlockedCompareExchangePointer(&g_activationContext, made, INVALID_HANDLE_VALUE);
    if (previous != INVALID_HANDLE_VALUE) {
        ReleaseActCtx(made);  // another thread was first
        return previous;
    }
    return made;
}

#ifdef TVN_PROXY_STUB
constexpr Registration::ProxyStubEntries kProxyStub{PrxDllRegisterServer, PrxDllUnregisterServer};
#endif

// The module's path for %MODULE%; empty when it cannot be had.
HRESULT RunScript(bool registering) {
    try {
        std::wstring path = Registration::ModulePath(g_module);
        if (path.empty() || kInprocModule.registration == nullptr) {
            return SELFREG_E_CLASS;
        }
        return registering
                   ? Registration::RegisterModule(*kInprocModule.registration, path.c_str())
                   : Registration::UnregisterModule(*kInprocModule.registration, path.c_str());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HMODULE ModuleHandle() {
    return g_module;
}

ModuleActivation::ModuleActivation() {
    HANDLE context = ActivationContext();
    active_ = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie_);
}

ModuleActivation::~ModuleActivation() {
    if (active_) {
        DeactivateActCtx(0, cookie_);
    }
}

const Registration::ProxyStubEntries* ModuleProxyStub() {
#ifdef TVN_PROXY_STUB
    return &kProxyStub;
#else
    return nullptr;
#endif
}

}  // namespace tvn::com

using tvn::com::kInprocModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        tvn::com::g_module = instance;
        tvn::CrashReporter::Install(kInprocModule.crashCaption, tvn::CrashReporter::kMessage,
                                    kInprocModule.dumpFileName);
        DisableThreadLibraryCalls(instance);
#ifdef TVN_PROXY_STUB
        return PrxDllMain(instance, reason, reserved);
#else
        (void)reserved;
        return TRUE;
#endif
    }
    if (reason == DLL_PROCESS_DETACH) {
        tvn::CrashReporter::Uninstall();
        if (tvn::com::g_activationContext != INVALID_HANDLE_VALUE) {
            ReleaseActCtx(tvn::com::g_activationContext);
            tvn::com::g_activationContext = INVALID_HANDLE_VALUE;
        }
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (const tvn::com::ClassEntry& entry : kInprocModule.classes) {
        if (IsEqualCLSID(rclsid, *entry.clsid)) {
            return entry.factory->QueryInterface(riid, ppv);
        }
    }
#ifdef TVN_PROXY_STUB
    return PrxDllGetClassObject(rclsid, riid, ppv);
#else
    return CLASS_E_CLASSNOTAVAILABLE;
#endif
}

STDAPI DllCanUnloadNow() {
    if (tvn::com::ModuleLock::Count() != 0) {
        return S_FALSE;
    }
#ifdef TVN_PROXY_STUB
    return PrxDllCanUnloadNow();
#else
    return S_OK;
#endif
}

STDAPI DllRegisterServer() {
    return tvn::com::RunScript(true);
}

STDAPI DllUnregisterServer() {
    return tvn::com::RunScript(false);
}
