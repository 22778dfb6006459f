#include "dispatch.h"

#include "com_ptr.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // the linker's name for this module's load address

namespace tvn::com {

HMODULE CurrentModule() {
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

namespace {

HRESULT LoadLibraryOf(const TypeLibrary& library, ITypeLib** out) {
    *out = nullptr;
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(CurrentModule(), path, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH && SUCCEEDED(LoadTypeLibEx(path, REGKIND_NONE, out))) {
        return S_OK;
    }
    return LoadRegTypeLib(*library.libid, library.major, library.minor, library.lcid, out);
}

}  // namespace

TypeInfoHolder::~TypeInfoHolder() {
    if (info_ != nullptr) {
        info_->Release();
    }
}

HRESULT TypeInfoHolder::Get(ITypeInfo** info) {
    *info = static_cast<ITypeInfo*>(
        InterlockedCompareExchangePointer(reinterpret_cast<void**>(&info_), nullptr, nullptr));
    if (*info != nullptr) {
        return S_OK;
    }
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadLibraryOf(library_, library.put());
    if (FAILED(hr)) {
        return hr;
    }
    ITypeInfo* loaded = nullptr;
    hr = library->GetTypeInfoOfGuid(iid_, &loaded);
    if (FAILED(hr)) {
        return hr;
    }
    // Another thread may have loaded it meanwhile: the first one stored is kept.
    void* previous =
        InterlockedCompareExchangePointer(reinterpret_cast<void**>(&info_), loaded, nullptr);
    if (previous != nullptr) {
        loaded->Release();
        loaded = static_cast<ITypeInfo*>(previous);
    }
    *info = loaded;
    return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT index, ITypeInfo** info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = nullptr;
    if (index != 0) {
        return DISP_E_BADINDEX;
    }
    ITypeInfo* loaded = nullptr;
    HRESULT hr = Get(&loaded);
    if (FAILED(hr)) {
        return hr;
    }
    loaded->AddRef();
    *info = loaded;
    return S_OK;
}

// The late-binding calls take IID_NULL only, and need the information loaded.
HRESULT TypeInfoHolder::ForCall(REFIID riid, ITypeInfo** info) {
    *info = nullptr;
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    return Get(info);
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    ITypeInfo* loaded = nullptr;
    HRESULT hr = ForCall(riid, &loaded);
    return FAILED(hr) ? hr : loaded->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID id, REFIID riid, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                               UINT* argError) {
    ITypeInfo* loaded = nullptr;
    HRESULT hr = ForCall(riid, &loaded);
    return FAILED(hr) ? hr : loaded->Invoke(self, id, flags, params, result, exception, argError);
}

}  // namespace tvn::com
