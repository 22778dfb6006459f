// The column provider's view of the folder size cache server: the class and interface
// identities and the interface's slots, as the server's type library defines them. Declared
// here so that the extension needs nothing of the server's build to talk to it; the call
// crosses processes through the server's registered type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tvn {

// CLSID of FolderSizeCache, {D6636C89-54F2-4CDB-9167-FF4B71150B25}.
inline constexpr CLSID kClsidFolderSizeCache = {
    0xD6636C89, 0x54F2, 0x4CDB, {0x91, 0x67, 0xFF, 0x4B, 0x71, 0x15, 0x0B, 0x25}};
// IID of IFolderSizeCache, {EF840B08-4F29-4DAA-9E3A-DB7D04083FCD}.
inline constexpr IID kIidFolderSizeCache = {
    0xEF840B08, 0x4F29, 0x4DAA, {0x9E, 0x3A, 0xDB, 0x7D, 0x04, 0x08, 0x3F, 0xCD}};

// IFolderSizeCache, slot for slot after IDispatch.
struct FolderSizeCacheClient : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetFolderSize(BSTR bstrFolder,
                                                    unsigned __int64* puSizeInBytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseServer() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetCache() = 0;
};

}  // namespace tvn
