#include "registration.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>
#include <vector>

#include <oleauto.h>

#include "ascii_fold.h"
#include "com_ptr.h"
#include "registry.h"
#include "unique_handle.h"

namespace tvn::Registration {
namespace {

struct Value {
    std::wstring name;
    std::wstring data;
};

// One key of the table after replacement, with everything the rows say about it.
struct KeyPlan {
    std::wstring path;
    KeyRule rule = KeyRule::Owned;
    std::vector<Value> values;
    size_t depth = 0;  // number of path components
};

// The tables' key names are ASCII (GUIDs, fixed words and file names of our own), so the A-Z
// fold is the registry's own rule for them.
bool SameName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && EqualFoldingAscii(a.c_str(), b.c_str());
}

// A key path must have no empty component: no leading, trailing or doubled backslash.
bool ValidKeyPath(const std::wstring& path) {
    if (path.empty() || path.front() == L'\\' || path.back() == L'\\') {
        return false;
    }
    return path.find(L"\\\\") == std::wstring::npos;
}

HRESULT MergeRule(KeyRule& current, KeyRule added) {
    if (added == KeyRule::Owned || added == current) {
        return S_OK;
    }
    if (current != KeyRule::Owned) {
        return E_INVALIDARG;  // kept and replaced whole contradict each other
    }
    current = added;
    return S_OK;
}

HRESULT ExpandText(const wchar_t* text, std::span<const Replacement> replacements,
                   std::wstring& expanded);

HRESULT BuildPlan(HKEY root, std::span<const Row> rows, std::span<const Replacement> replacements,
                  std::vector<KeyPlan>& plan) {
    if (root == nullptr) {
        return E_INVALIDARG;
    }
    for (const Row& row : rows) {
        if (row.key == nullptr || (row.valueName != nullptr && row.data == nullptr)) {
            return E_INVALIDARG;
        }
        std::wstring path;
        HRESULT hr = ExpandText(row.key, replacements, path);
        if (FAILED(hr)) {
            return hr;
        }
        if (!ValidKeyPath(path)) {
            return E_INVALIDARG;
        }
        auto it = std::find_if(plan.begin(), plan.end(),
                               [&](const KeyPlan& key) { return SameName(key.path, path); });
        if (it == plan.end()) {
            KeyPlan key;
            key.path = std::move(path);
            key.depth = 1 + std::count(key.path.begin(), key.path.end(), L'\\');
            plan.push_back(std::move(key));
            it = plan.end() - 1;
        }
        hr = MergeRule(it->rule, row.rule);
        if (FAILED(hr)) {
            return hr;
        }
        if (row.valueName != nullptr) {
            Value value;
            if (FAILED(hr = ExpandText(row.valueName, replacements, value.name)) ||
                FAILED(hr = ExpandText(row.data, replacements, value.data))) {
                return hr;
            }
            if (value.data.size() > 0x3FFFFFFE) {
                return E_INVALIDARG;
            }
            it->values.push_back(std::move(value));
        }
    }
    return S_OK;
}

HRESULT FromStatus(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

bool IsGone(LSTATUS status) {
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// Deletes a key with everything below it; a key that is not there counts as deleted.
LSTATUS DeleteWhole(HKEY root, const std::wstring& path) {
    LSTATUS status = DeleteKeyTree(root, path.c_str());
    return IsGone(status) ? ERROR_SUCCESS : status;
}

// Deletes the named values the table wrote, leaving the key and everything else in it.
LSTATUS DeleteValues(HKEY key, const std::vector<Value>& values) {
    LSTATUS first = ERROR_SUCCESS;
    for (const Value& value : values) {
        LSTATUS status = RegDeleteValueW(key, value.name.c_str());
        if (!IsGone(status) && status != ERROR_SUCCESS && first == ERROR_SUCCESS) {
            first = status;
        }
    }
    return first;
}

LSTATUS RemoveKey(HKEY root, const KeyPlan& plan) {
    if (plan.rule == KeyRule::ReplacedWhole) {
        return DeleteWhole(root, plan.path);
    }
    OpenedKey opened = OpenKey(root, plan.path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!opened) {
        return IsGone(opened.status) ? ERROR_SUCCESS : opened.status;
    }
    UniqueHKey key = std::move(opened.key);
    LSTATUS status;
    if (plan.rule == KeyRule::Kept) {
        return DeleteValues(key.get(), plan.values);
    }
    DWORD subkeys = 0;
    status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (subkeys != 0) {
        return DeleteValues(key.get(), plan.values);  // someone else's subkeys live here
    }
    key.reset();
    status = RegDeleteKeyW(root, plan.path.c_str());
    return IsGone(status) ? ERROR_SUCCESS : status;
}

HRESULT ExpandText(const wchar_t* text, std::span<const Replacement> replacements,
                   std::wstring& expanded) {
    expanded.clear();
    if (text == nullptr) {
        return E_INVALIDARG;
    }
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p != L'%') {
            expanded.push_back(*p);
            continue;
        }
        const wchar_t* close = std::wcschr(p + 1, L'%');
        if (close == nullptr) {
            return E_INVALIDARG;
        }
        std::wstring_view name(p + 1, static_cast<size_t>(close - (p + 1)));
        if (name.empty()) {
            expanded.push_back(L'%');
        } else {
            auto it =
                std::find_if(replacements.begin(), replacements.end(), [&](const Replacement& r) {
                    return r.name != nullptr && r.value != nullptr && name == r.name;
                });
            if (it == replacements.end()) {
                return E_INVALIDARG;
            }
            expanded.append(it->value);
        }
        p = close;
    }
    return S_OK;
}

HRESULT RegisterTable(HKEY root, std::span<const Row> rows,
                      std::span<const Replacement> replacements) {
    std::vector<KeyPlan> plan;
    HRESULT hr = BuildPlan(root, rows, replacements, plan);
    if (FAILED(hr)) {
        return hr;
    }
    for (const KeyPlan& key : plan) {
        if (key.rule == KeyRule::ReplacedWhole) {
            LSTATUS status = DeleteWhole(root, key.path);
            if (status != ERROR_SUCCESS) {
                return FromStatus(status);
            }
        }
    }
    for (const KeyPlan& key : plan) {
        OpenedKey created = CreateKey(root, key.path.c_str(), KEY_SET_VALUE);
        if (!created) {
            return FromStatus(created.status);
        }
        UniqueHKey handle = std::move(created.key);
        LSTATUS status;
        for (const Value& value : key.values) {
            DWORD bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
            status = RegSetValueExW(handle.get(), value.name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.data.c_str()), bytes);
            if (status != ERROR_SUCCESS) {
                return FromStatus(status);
            }
        }
    }
    return S_OK;
}

HRESULT UnregisterTable(HKEY root, std::span<const Row> rows,
                        std::span<const Replacement> replacements) {
    std::vector<KeyPlan> plan;
    HRESULT hr = BuildPlan(root, rows, replacements, plan);
    if (FAILED(hr)) {
        return hr;
    }
    // Deepest keys first, so an owned key is empty of the table's subkeys when its turn comes.
    std::stable_sort(plan.begin(), plan.end(),
                     [](const KeyPlan& a, const KeyPlan& b) { return a.depth > b.depth; });
    HRESULT first = S_OK;
    for (const KeyPlan& key : plan) {
        HRESULT result = FromStatus(RemoveKey(root, key));
        if (FAILED(result) && SUCCEEDED(first)) {
            first = result;
        }
    }
    return first;
}

}  // namespace

// The public entry points run inside registration exports and program entries: a failed
// allocation becomes E_OUTOFMEMORY instead of an exception leaving them.
HRESULT Expand(const wchar_t* text, std::span<const Replacement> replacements,
               std::wstring& expanded) {
    try {
        return ExpandText(text, replacements, expanded);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Register(HKEY root, std::span<const Row> rows, std::span<const Replacement> replacements) {
    try {
        return RegisterTable(root, rows, replacements);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Unregister(HKEY root, std::span<const Row> rows,
                   std::span<const Replacement> replacements) {
    try {
        return UnregisterTable(root, rows, replacements);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

namespace {

HRESULT FirstFailure(HRESULT first, HRESULT next) {
    return FAILED(first) ? first : next;
}

// The script's replacements with %MODULE% in front, in fixed storage.
constexpr size_t kMaxReplacements = 15;

struct AllReplacements {
    Replacement items[kMaxReplacements + 1];
    size_t count = 0;
    std::span<const Replacement> span() const { return {items, count}; }
};

HRESULT WithModule(const Script& script, const wchar_t* modulePath, AllReplacements& all) {
    if (modulePath == nullptr || *modulePath == 0 ||
        script.replacements.size() > kMaxReplacements) {
        return E_INVALIDARG;
    }
    all.items[0] = {L"MODULE", modulePath};
    for (const Replacement& r : script.replacements) {
        all.items[1 + all.count++] = r;
    }
    ++all.count;
    return S_OK;
}

HRESULT RunStep(const Step& step, bool registering, const wchar_t* modulePath,
                std::span<const Replacement> replacements) {
    switch (step.kind) {
        case Step::Kind::Table:
            return registering ? Register(step.root, step.rows, replacements)
                               : Unregister(step.root, step.rows, replacements);
        case Step::Kind::TypeLibrary:
            return registering ? RegisterTypeLibrary(modulePath, step.help)
                               : UnregisterTypeLibrary(modulePath);
        case Step::Kind::ProxyStub:
            if (step.proxy == nullptr) {
                return S_OK;
            }
            return registering ? step.proxy->registerServer() : step.proxy->unregisterServer();
    }
    return E_INVALIDARG;
}

// Registration runs the steps forwards and stops at the first failure; unregistration runs
// them backwards, goes on after a failure and reports the first.
HRESULT RunScript(const Script& script, const wchar_t* modulePath, bool registering) {
    AllReplacements all;
    HRESULT hr = WithModule(script, modulePath, all);
    if (FAILED(hr)) {
        return hr;
    }
    ThreadLocaleGuard locale(LOCALE_SYSTEM_DEFAULT);
    const size_t count = script.steps.size();
    for (size_t i = 0; i < count; ++i) {
        const Step& step = script.steps[registering ? i : count - 1 - i];
        hr = FirstFailure(hr, RunStep(step, registering, modulePath, all.span()));
        if (registering && FAILED(hr)) {
            return hr;
        }
    }
    return hr;
}

}  // namespace

// Registration runs inside exports and program entries: no exception may leave it.
HRESULT RegisterModule(const Script& script, const wchar_t* modulePath) {
    try {
        return RunScript(script, modulePath, true);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterModule(const Script& script, const wchar_t* modulePath) {
    try {
        return RunScript(script, modulePath, false);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RegisterTypeLibrary(const wchar_t* modulePath, HelpFolder help) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.put());
    if (FAILED(hr)) {
        return hr;
    }
    // RegisterTypeLib takes non-const strings.
    std::wstring path = modulePath;
    std::wstring folder;
    if (help == HelpFolder::Module) {
        folder = path.substr(0, path.rfind(L'\\'));
    }
    return RegisterTypeLib(library.get(), path.data(),
                           help == HelpFolder::Module ? folder.data() : nullptr);
}

HRESULT UnregisterTypeLibrary(const wchar_t* modulePath) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.put());
    if (FAILED(hr)) {
        return hr;
    }
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) {
        return hr;
    }
    const TLIBATTR a = *attributes;
    library->ReleaseTLibAttr(attributes);
    // A library that is not registered (any more) counts as unregistered; the system answers
    // that case with an error of its own choosing.
    UniqueBstr registered;
    if (FAILED(QueryPathOfRegTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid,
                                     registered.put()))) {
        return S_OK;
    }
    hr = UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED ||
        hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return S_OK;
    }
    return hr;
}

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            // Wine reports a file outside every drive letter as "unix\dir\file", dropping the
            // "\\?\" that makes it a full path; put it back so the path can be used anywhere.
            // Windows itself always answers with a drive or UNC path.
            bool qualified = (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') ||
                             path.starts_with(L"\\\\");
            if (!qualified) {
                path.insert(0, L"\\\\?\\");
            }
            return path;
        }
        if (path.size() >= 32768) {
            return std::wstring();
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace tvn::Registration
