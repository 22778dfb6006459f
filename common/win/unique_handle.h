// One move-only owner for every kind of Win32 handle. The traits name the "empty" value and
// the function that closes it, so a new handle kind costs one line.
#pragma once

#include <windows.h>

#include <utility>

namespace tvn {

template <typename Traits>
class UniqueHandle {
  public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept : value_(Traits::invalid()) {}
    explicit UniqueHandle(pointer value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }
    // For out-parameters of creating functions; closes what is held first. A function that
    // fails may still write into the out-parameter, so callers use OpenKey / CreateKey
    // (registry.h) or check the result and reset().
    pointer* put() noexcept {
        reset();
        return &value_;
    }

  private:
    pointer value_;
};

struct HandleTraits {  // NULL means none: threads, events, mutexes, ports
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { CloseHandle(h); }
};
struct FileHandleTraits {  // INVALID_HANDLE_VALUE means none: CreateFileW
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { CloseHandle(h); }
};
struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { FindClose(h); }
};
struct RegKeyTraits {
    using pointer = HKEY;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { RegCloseKey(h); }
};
struct ModuleTraits {
    using pointer = HMODULE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { FreeLibrary(h); }
};

// GDI objects made by the program (fonts, brushes, bitmaps, pens, regions); never a stock
// object or one selected into a device context when it goes.
template <typename Gdi>
struct GdiObjectTraits {
    using pointer = Gdi;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DeleteObject(h); }
};
struct MenuTraits {
    using pointer = HMENU;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DestroyMenu(h); }
};
struct IconTraits {  // icons and cursors made or loaded with LR_DEFAULTSIZE-less LoadImage
    using pointer = HICON;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DestroyIcon(h); }
};
struct MemoryDcTraits {  // CreateCompatibleDC / CreateDC
    using pointer = HDC;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DeleteDC(h); }
};
struct WindowTraits {  // a window the owner created and destroys
    using pointer = HWND;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) {
        if (IsWindow(h)) {
            DestroyWindow(h);
        }
    }
};
struct GlobalAtomTraits {
    using pointer = ATOM;
    static pointer invalid() { return 0; }
    static void close(pointer a) { GlobalDeleteAtom(a); }
};

using UniqueHandleObj = UniqueHandle<HandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueHKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueRegion = UniqueHandle<GdiObjectTraits<HRGN>>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueGlobalAtom = UniqueHandle<GlobalAtomTraits>;

}  // namespace tvn
