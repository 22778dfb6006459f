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
