// Self-registration from data: a deliverable describes the registry keys and values it owns
// as a table of rows, and Register / Unregister apply that table below a root key
// (HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE in production, a scratch key in tests).
//
// Rules of a table:
// - Every row names a key (a path below the root) and optionally one REG_SZ value of it
//   (value name L"" is the key's default value). Several rows may name the same key (names
//   compare without regard to case); the key's rule is taken from all of them.
// - Key names, value names and data may hold replacements written %NAME%, for instance
//   %MODULE% or %APPID%; "%%" stands for one percent sign. An unknown or unclosed
//   replacement makes the whole table invalid (E_INVALIDARG) before anything is written.
// - KeyRule::Kept: created when missing, never deleted; on unregistration only the values
//   the table names are deleted from it (a shared parent such as CLSID or AppID).
// - KeyRule::ReplacedWhole: deleted with everything below it before the table is written,
//   and deleted whole on unregistration (a class key that must hold exactly the table).
// - KeyRule::Owned: the table describes a key the module owns. On unregistration it is
//   deleted with its values once the table's keys below it are gone; if it still holds
//   subkeys the table does not describe (another program's), only the values the table
//   names are deleted and the key stays, so nothing of someone else's is lost.
// - Ancestors that no row names (SOFTWARE\Microsoft\... above a listed key) are created
//   when needed and never deleted.
// Unregistration treats a key or value that is already gone as success, so it may run twice.
#pragma once

#include <windows.h>

#include <span>
#include <string>

namespace tvn::Registration {

enum class KeyRule { Owned, Kept, ReplacedWhole };

struct Row {
    const wchar_t* key = nullptr;        // path below the root, replacements allowed
    KeyRule rule = KeyRule::Owned;       // see above
    const wchar_t* valueName = nullptr;  // nullptr: the row only names the key; L"": default
    const wchar_t* data = nullptr;       // REG_SZ data when valueName is given
};

struct Replacement {
    const wchar_t* name;   // without the percent signs, for example L"MODULE"
    const wchar_t* value;  // inserted as it stands (not expanded again)
};

// Writes the table below `root`: first deletes every replaced-whole key, then creates the
// keys and sets the values in table order. Returns S_OK or the first failure as an HRESULT
// (E_INVALIDARG for a malformed table, which leaves the registry untouched).
HRESULT Register(HKEY root, std::span<const Row> rows,
                 std::span<const Replacement> replacements = {});

// Removes what Register wrote, deepest keys first, by the rules above. Keeps going after a
// failure and returns the first one; entries already gone count as removed.
HRESULT Unregister(HKEY root, std::span<const Row> rows,
                   std::span<const Replacement> replacements = {});

// --- The entries every COM class of the system writes -------------------------------------
//
// Under HKEY_CLASSES_ROOT, from replacements: %APPID%, %APPNAME% (default value of the AppID
// key), %APPFILE% (the module's file name, AppID\<file>), %PROGID% (version-independent; the
// current one is %PROGID%.1), %DESCRIPTION%, %CLSID% and %LIBID%. A local server adds its
// LocalServer32 rows, an in-process library kInprocServerRows.
inline constexpr Row kAppIdRows[] = {
    {L"AppID", KeyRule::Kept},
    {L"AppID\\%APPID%", KeyRule::Owned, L"", L"%APPNAME%"},
    {L"AppID\\%APPFILE%", KeyRule::Owned, L"AppID", L"%APPID%"},
};
inline constexpr Row kClassRows[] = {
    {L"%PROGID%.1", KeyRule::Owned, L"", L"%DESCRIPTION%"},
    {L"%PROGID%.1\\CLSID", KeyRule::Owned, L"", L"%CLSID%"},
    {L"%PROGID%", KeyRule::Owned, L"", L"%DESCRIPTION%"},
    {L"%PROGID%\\CLSID", KeyRule::Owned, L"", L"%CLSID%"},
    {L"%PROGID%\\CurVer", KeyRule::Owned, L"", L"%PROGID%.1"},
    {L"CLSID", KeyRule::Kept},
    {L"CLSID\\%CLSID%", KeyRule::ReplacedWhole, L"", L"%DESCRIPTION%"},
    {L"CLSID\\%CLSID%", KeyRule::ReplacedWhole, L"AppID", L"%APPID%"},
    {L"CLSID\\%CLSID%\\ProgID", KeyRule::Owned, L"", L"%PROGID%.1"},
    {L"CLSID\\%CLSID%\\VersionIndependentProgID", KeyRule::Owned, L"", L"%PROGID%"},
    {L"CLSID\\%CLSID%\\Programmable", KeyRule::ReplacedWhole},
    {L"CLSID\\%CLSID%\\TypeLib", KeyRule::Owned, L"", L"%LIBID%"},
};
// An apartment-threaded in-process server: the library's path.
inline constexpr Row kInprocServerRows[] = {
    {L"CLSID\\%CLSID%\\InprocServer32", KeyRule::Owned, L"", L"%MODULE%"},
    {L"CLSID\\%CLSID%\\InprocServer32", KeyRule::Owned, L"ThreadingModel", L"Apartment"},
};

// --- The registration sequence of a whole module -----------------------------------------
//
// A module (the server program, an in-process library) registers from one script: a list of
// steps run in order under the thread locale LOCALE_SYSTEM_DEFAULT (0x0800), which is put back
// on every path. Registration stops at the first failing step and reports it. Unregistration
// runs the steps in reverse order, keeps going after a failure and reports the first one;
// entries already gone count as removed.
//
// Steps:
// - a registry table below its root (HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE), with the
//   replacements of the script and %MODULE%, the module's full path;
// - the module's type library, resource TYPELIB 1 of its own file (RegisterTypeLib with the
//   module's folder as help folder or none; UnRegisterTypeLib, a library that is not
//   registered counting as unregistered);
// - the module's proxy/stub (its generated DllRegisterServer / DllUnregisterServer), which
//   comes after the type library so that its interfaces are marshalled by their own proxy.
//
// Example, an in-process module with a proxy/stub (see inproc_module.h):
//     const Registration::Step kSteps[] = {
//         Registration::Step::Table(HKEY_CLASSES_ROOT, Registration::kAppIdRows),
//         Registration::Step::Table(HKEY_CLASSES_ROOT, Registration::kClassRows),
//         Registration::Step::Table(HKEY_CLASSES_ROOT, Registration::kInprocServerRows),
//         Registration::Step::Table(HKEY_LOCAL_MACHINE, kToolbarRows),
//         Registration::Step::TypeLibrary(Registration::HelpFolder::Module),
//         Registration::Step::ProxyStub(com::ModuleProxyStub()),
//     };
//     const Registration::Script kScript{kSteps, kReplacements};

enum class HelpFolder { None, Module };

// The generated proxy/stub's registration entry points.
struct ProxyStubEntries {
    HRESULT(STDAPICALLTYPE* registerServer)();
    HRESULT(STDAPICALLTYPE* unregisterServer)();
};

struct Step {
    enum class Kind { Table, TypeLibrary, ProxyStub };
    Kind kind = Kind::Table;
    HKEY root = nullptr;                      // Table
    std::span<const Row> rows;                // Table
    HelpFolder help = HelpFolder::None;       // TypeLibrary
    const ProxyStubEntries* proxy = nullptr;  // ProxyStub; null: the step does nothing

    static Step Table(HKEY root, std::span<const Row> rows) {
        return {Kind::Table, root, rows, HelpFolder::None, nullptr};
    }
    static Step TypeLibrary(HelpFolder help) {
        return {Kind::TypeLibrary, nullptr, {}, help, nullptr};
    }
    static Step ProxyStub(const ProxyStubEntries* proxy) {
        return {Kind::ProxyStub, nullptr, {}, HelpFolder::None, proxy};
    }
};

struct Script {
    std::span<const Step> steps;
    std::span<const Replacement> replacements;  // beside %MODULE%, which is always given
};

// Registers / unregisters the module whose file is `modulePath` by `script`.
HRESULT RegisterModule(const Script& script, const wchar_t* modulePath);
HRESULT UnregisterModule(const Script& script, const wchar_t* modulePath);

// Resource TYPELIB 1 of `modulePath`, registered for that file.
HRESULT RegisterTypeLibrary(const wchar_t* modulePath, HelpFolder help);
// The library of that resource unregistered; S_OK when it is not registered (any more).
HRESULT UnregisterTypeLibrary(const wchar_t* modulePath);

// Expands %NAME% replacements in `text`; E_INVALIDARG for an unknown or unclosed name.
HRESULT Expand(const wchar_t* text, std::span<const Replacement> replacements,
               std::wstring& expanded);

// Full path of a module's file (for %MODULE%), always fully qualified; empty on failure.
std::wstring ModulePath(HMODULE module);

// Sets the calling thread's locale (LOCALE_SYSTEM_DEFAULT unless told otherwise) for its
// scope and puts the previous one back when the scope ends, on every path. Registration
// runs inside one so that the type-library and registry functions see a fixed locale.
class ThreadLocaleGuard {
  public:
    explicit ThreadLocaleGuard(LCID locale = LOCALE_SYSTEM_DEFAULT) : previous_(GetThreadLocale()) {
        SetThreadLocale(locale);
    }
    ~ThreadLocaleGuard() { SetThreadLocale(previous_); }
    ThreadLocaleGuard(const ThreadLocaleGuard&) = delete;
    ThreadLocaleGuard& operator=(const ThreadLocaleGuard&) = delete;

    LCID Previous() const { return previous_; }

  private:
    LCID previous_;
};

}  // namespace tvn::Registration
