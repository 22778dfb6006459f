// IDispatch of a dual interface, served from the type library of the module that carries the
// class. One loading policy for every class of the system:
// - the type information is loaded on first use (GetTypeInfo, GetIDsOfNames, Invoke), not when
//   the object is built, so an object that is never called late-bound never loads it;
// - it comes from the module's own TYPELIB resource first (works before and without
//   registration), and from the registered library (LoadRegTypeLib of the given id, version
//   and locale) only when the module's file carries none;
// - a failure is not remembered: the next call tries again;
// - GetTypeInfoCount always reports 1.
// The load is published with an interlocked exchange, so objects shared across threads may
// use it from any of them.
//
// Usage: derive from com::Dispatch<IYourDual> instead of IYourDual and pass the library to
// its constructor:
//     class Band : public com::Dispatch<ITVNWinExpBar>, ... {
//         Band() : Dispatch(kBarTypeLibrary) {}
//     };
// with  constexpr com::TypeLibrary kBarTypeLibrary{&LIBID_TVNBarLib, 1, 0, LOCALE_NEUTRAL};
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

namespace tvn::com {

struct TypeLibrary {
    const GUID* libid;
    WORD major;
    WORD minor;
    LCID lcid;  // of the registered library, for the fallback
};

// The module (exe or dll) whose code calls this: its own file carries the type library.
HMODULE CurrentModule();

// The type information of one interface, loaded on first use by the rules above.
class TypeInfoHolder {
  public:
    TypeInfoHolder(const TypeLibrary& library, REFIID iid) : library_(library), iid_(iid) {}
    ~TypeInfoHolder();
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    // The loaded information (owned by the holder), or the failure of the load.
    HRESULT Get(ITypeInfo** info);

    HRESULT GetTypeInfoCount(UINT* count);
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info);
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
    HRESULT Invoke(IDispatch* self, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argError);

  private:
    HRESULT ForCall(REFIID riid, ITypeInfo** info);

    const TypeLibrary library_;
    const IID iid_;
    ITypeInfo* info_ = nullptr;
};

// The four IDispatch methods of `Interface` (a dual interface derived from IDispatch).
template <typename Interface>
class Dispatch : public Interface {
  public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return types_.GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        return types_.GetTypeInfo(index, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                               DISPID* ids) override {
        return types_.GetIDsOfNames(riid, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        return types_.Invoke(static_cast<Interface*>(this), id, riid, flags, params, result,
                             exception, argError);
    }

  protected:
    explicit Dispatch(const TypeLibrary& library) : types_(library, __uuidof(Interface)) {}

  private:
    TypeInfoHolder types_;
};

}  // namespace tvn::com
