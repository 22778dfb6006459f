// A small COM core shared by the deliverables: the module lock count, an interlocked
// reference count, table-driven QueryInterface and the class factories.
//
// Nothing here throws; every COM method reports failures as HRESULTs.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include <atomic>
#include <cstddef>
#include <new>

#include "sync.h"

namespace tvn::com {

// Count of module locks: class-factory LockServer calls and objects that hold the process
// alive. A server installs a handler that is told each time the count drops to zero (from any
// thread), and decides from there whether to end.
class ModuleLock {
  public:
    using IdleHandler = void (*)();

    static LONG Lock() { return ++count_; }
    static LONG Unlock() {
        LONG left = --count_;
        if (left == 0) {
            if (IdleHandler handler = handler_.load()) {
                handler();
            }
        }
        return left;
    }
    static LONG Count() { return count_.load(); }
    static void SetIdleHandler(IdleHandler handler) { handler_.store(handler); }

  private:
    static inline std::atomic<LONG> count_{0};
    static inline std::atomic<IdleHandler> handler_{nullptr};
};

// Reference counts. Both start at 1: the creator holds the first reference.
// Interlocked, for objects used from several threads at once (the cache server's object).
class InterlockedCount {
  public:
    LONG Increment() { return InterlockedIncrement(&refs_); }
    LONG Decrement() { return InterlockedDecrement(&refs_); }

  private:
    LONG refs_ = 1;
};

// Plain, for apartment-threaded objects that are only ever called on their creator's thread.
class PlainCount {
  public:
    LONG Increment() { return ++refs_; }
    LONG Decrement() { return --refs_; }

  private:
    LONG refs_ = 1;
};

// One row of an interface table: the IID and the offset of that interface's vtable pointer
// inside the object. The first row also answers IUnknown.
struct InterfaceEntry {
    const IID* iid;
    ptrdiff_t offset;
};

// Offset of base `Interface` inside `Class`, for InterfaceEntry rows.
template <typename Class, typename Interface>
ptrdiff_t InterfaceOffset() {
    alignas(Class) static char probe[sizeof(void*)];  // never dereferenced
    auto* object = reinterpret_cast<Class*>(probe);
    return reinterpret_cast<char*>(static_cast<Interface*>(object)) - probe;
}

// QueryInterface over a table that ends with a row whose iid is null.
inline HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry* table, REFIID riid,
                                       void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (const InterfaceEntry* entry = table; entry->iid != nullptr; ++entry) {
        if (IsEqualIID(riid, *entry->iid) || (entry == table && IsEqualIID(riid, IID_IUnknown))) {
            auto* found = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + entry->offset);
            found->AddRef();
            *ppv = found;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// How an object holds the module lock count.
// LockWhileAlive: every live object keeps the module loaded (in-process classes).
struct LockWhileAlive {
    static void Created() { ModuleLock::Lock(); }
    static void Destroyed() { ModuleLock::Unlock(); }
    static void AfterAddRef(LONG) {}
    static void AfterRelease(LONG) {}
};
// LockWhileShared: the object locks the module only while someone beyond its first holder has
// a reference (taking the count to 2 locks, bringing it back to 1 unlocks), so the reference a
// singleton factory keeps never holds a server process alive by itself.
struct LockWhileShared {
    static void Created() {}
    static void Destroyed() {}
    static void AfterAddRef(LONG refs) {
        if (refs == 2) {
            ModuleLock::Lock();
        }
    }
    static void AfterRelease(LONG refs) {
        if (refs == 1) {
            ModuleLock::Unlock();
        }
    }
};

// The IUnknown of a COM class, added as the most derived class. `Class` derives from its
// interfaces (leaving their IUnknown methods pure), has a default constructor reachable from
// here (public or protected), and names its interfaces in
//     static const InterfaceEntry* Interfaces();
// a table ending with a null row whose first row also answers IUnknown (offsets taken with
// InterfaceOffset<Class, Interface>()).
//
// Aggregation (`Aggregation::Allowed`): the object keeps a non-delegating inner IUnknown that
// owns its life. Created with an outer object, every interface delegates QueryInterface,
// AddRef and Release to the outer one, and the outer object gets the inner IUnknown (it must
// ask for IUnknown). Created without one, the inner IUnknown is the controlling one and
// identity holds as usual. With `Aggregation::Refused` an outer object gets
// CLASS_E_NOAGGREGATION and IUnknown is answered by the table's first row.
//
// `Count` is InterlockedCount or PlainCount, `Lock` LockWhileAlive or LockWhileShared.
// Nothing here throws; allocation uses new (std::nothrow).
enum class Aggregation { Allowed, Refused };

template <typename Class, typename Count = InterlockedCount, typename Lock = LockWhileAlive,
          Aggregation kAggregation = Aggregation::Allowed>
class ComObject final : public Class {
  public:
    // A class factory's CreateInstance: a new object queried for `riid`. With an outer object
    // only IUnknown may be asked for (CLASS_E_NOAGGREGATION otherwise).
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr &&
            (kAggregation == Aggregation::Refused || !IsEqualIID(riid, IID_IUnknown))) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* object = new (std::nothrow) ComObject(outer);
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = object->inner_.QueryInterface(riid, ppv);
        object->inner_.Release();  // the creator's reference: the object lives on through *ppv
        return hr;
    }

    // A new object, not aggregated, with one reference owned by the caller (for a singleton
    // factory that keeps it).
    static HRESULT Create(Class** out) {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = new (std::nothrow) ComObject(nullptr);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return controlling_->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return controlling_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return controlling_->Release(); }

  private:
    class Inner final : public IUnknown {
      public:
        explicit Inner(ComObject* self) : self_(self) {}
        // IUnknown is answered with the inner unknown itself (aggregatable classes); every
        // other interface from the class's table, whose pointers delegate to the controlling
        // unknown.
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) {
                return E_POINTER;
            }
            if (kAggregation == Aggregation::Allowed && IsEqualIID(riid, IID_IUnknown)) {
                AddRef();
                *ppv = static_cast<IUnknown*>(this);
                return S_OK;
            }
            return QueryInterfaceFromTable(static_cast<Class*>(self_), Class::Interfaces(), riid,
                                           ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override {
            LONG refs = self_->refs_.Increment();
            Lock::AfterAddRef(refs);
            return static_cast<ULONG>(refs);
        }
        STDMETHODIMP_(ULONG) Release() override {
            ComObject* self = self_;
            LONG refs = self->refs_.Decrement();
            if (refs == 0) {
                // The lock goes only once every destructor (the class's own included) has
                // run: another thread may unload the library as soon as the count is zero.
                delete self;
                Lock::Destroyed();
            } else {
                Lock::AfterRelease(refs);
            }
            return static_cast<ULONG>(refs);
        }

      private:
        ComObject* self_;
    };

    explicit ComObject(IUnknown* outer)
        : inner_(this), controlling_(outer != nullptr ? outer : &inner_) {
        Lock::Created();
    }
    ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    Inner inner_;
    IUnknown* controlling_;
    Count refs_;
};

// What every class factory of the module shares: the factory is a static object of the
// module, so its count does not own it, and LockServer drives the module lock count.
class ClassFactoryBase : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const InterfaceEntry table[] = {
            {&IID_IClassFactory, InterfaceOffset<ClassFactoryBase, IClassFactory>()},
            {nullptr, 0},
        };
        return QueryInterfaceFromTable(this, table, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? ModuleLock::Lock() : ModuleLock::Unlock();
        return S_OK;
    }
};

// Class factory for an object type that offers
//     static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);
template <typename Object>
class ClassFactory : public ClassFactoryBase {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        return Object::CreateInstance(outer, riid, ppv);
    }
};

// Class factory that hands every client the same object. The first CreateInstance builds it
// through `static HRESULT Create(Object** out)` (which returns the object with one reference,
// kept by the factory); a failed construction is remembered and returned to every later
// caller. Object must derive from IUnknown unambiguously.
template <typename Object>
class SingletonClassFactory : public ClassFactoryBase {
  public:
    SingletonClassFactory() = default;
    SingletonClassFactory(const SingletonClassFactory&) = delete;
    SingletonClassFactory& operator=(const SingletonClassFactory&) = delete;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        // The reference taken under the lock keeps the object alive across the query even if
        // ReleaseObject lets go of the factory's reference on another thread meanwhile.
        Object* object = nullptr;
        {
            auto hold = lock_.Enter();
            if (!tried_) {
                tried_ = true;
                result_ = Object::Create(&object_);
            }
            object = object_;
            HRESULT result = result_;
            if (SUCCEEDED(result) && object != nullptr) {
                object->AddRef();
            }
            hold.Leave();
            if (FAILED(result)) {
                return result;
            }
            if (object == nullptr) {
                return E_UNEXPECTED;
            }
        }
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

    // Lets go of the factory's reference; the object goes when its last client does. Later
    // CreateInstance calls fail with CO_E_SERVER_STOPPING.
    void ReleaseObject() {
        auto hold = lock_.Enter();
        Object* object = object_;
        object_ = nullptr;
        tried_ = true;
        result_ = CO_E_SERVER_STOPPING;
        hold.Leave();
        if (object != nullptr) {
            object->Release();
        }
    }

  private:
    acl::OwnedCriticalSection lock_;
    bool tried_ = false;
    HRESULT result_ = E_UNEXPECTED;
    Object* object_ = nullptr;
};

// COM initialisation guard: uninitialises only after a successful initialisation.
class ComInit {
  public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED)
        : result_(CoInitializeEx(nullptr, model)) {}
    ~ComInit() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    HRESULT Result() const { return result_; }

  private:
    HRESULT result_;
};

}  // namespace tvn::com
