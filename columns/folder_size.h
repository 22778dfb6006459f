// FolderSize: the shell column handler behind the three size columns of Explorer's Details
// view. Explorer asks it cell by cell through IColumnProvider; it answers folder cells from the
// cache server (or by walking the folder when the user turned the cache off) and file cells
// from the file system, formatted with the user's settings, which it reads again for every
// cell. IFolderSize has no methods of its own: its IDispatch is served from the registered
// type library.
//
// Threading: apartment model. Each object is called on its creator's thread only and shares
// nothing with other objects but the registry and the cache server, so it takes no locks.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>

#include "com_core.h"
#include "tvn.h"  // IFolderSize, generated from the type library

namespace tvn {

// Identity of the class; also the format id of every column it offers.
// {E35D2993-845A-41D4-B44B-33D757A8B4B3}
inline constexpr CLSID kClsidFolderSize = {
    0xE35D2993, 0x845A, 0x41D4, {0xB4, 0x4B, 0x33, 0xD7, 0x57, 0xA8, 0xB4, 0xB3}};
// {58ECD1FF-A94F-4288-A886-F82D73BF2F05}
inline constexpr IID kIidFolderSize = {
    0x58ECD1FF, 0xA94F, 0x4288, {0xA8, 0x86, 0xF8, 0x2D, 0x73, 0xBF, 0x2F, 0x05}};
// {F52B8A72-1D8A-4A66-89DC-5DA85F1744D0}, version 1.0
inline constexpr GUID kLibidTVNLib = {
    0xF52B8A72, 0x1D8A, 0x4A66, {0x89, 0xDC, 0x5D, 0xA8, 0x5F, 0x17, 0x44, 0xD0}};

// Property ids of the three columns.
enum ColumnId : DWORD { SizeColumn = 2, SortColumn = 3, BarColumn = 4 };

// Title of the size column when the user has none (or one too long to read).
inline constexpr const wchar_t* kDefaultTitle = L"VudaZe";

// Size of one item of a cell request, and of its parent folder when asked for.
struct ItemSize {
    bool ok = false;
    uint32_t code = 0;  // on failure: 0 (no value for this item) or the error shown
    uint64_t size = 0;
    uint64_t parentSize = 0;
};

// Total size of the files below `folder` (whole subtree, every entry counted). A folder that
// cannot be listed, or whose path does not fit the 520-unit scan buffers, counts as 0.
uint64_t ScanFolderSize(const wchar_t* folder);

// Whether the size and sorting texts are right-aligned for plain text sorting: true unless the
// system (5.1 or later by both numbers) has the Explorer policy "NoStrCmpLogical" off or unset,
// the current user's value taking precedence over the machine's.
bool ReadPadForPlainSort();

class FolderSize final : public IColumnProvider, public IFolderSize {
  public:
    // The class factory's entry. An outer object may aggregate it but then asks for IUnknown.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

    // IUnknown: delegates to the controlling unknown (the outer object when aggregated).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IColumnProvider
    STDMETHODIMP Initialize(LPCSHCOLUMNINIT psci) override;
    STDMETHODIMP GetColumnInfo(DWORD dwIndex, SHCOLUMNINFO* psci) override;
    STDMETHODIMP GetItemData(LPCSHCOLUMNID pscid, LPCSHCOLUMNDATA pscd, VARIANT* pvarData) override;

    // IDispatch (of IFolderSize), answered from the registered type library.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

  private:
    // The object's own IUnknown, which owns its life; handed to an aggregating outer object.
    class Inner final : public IUnknown {
      public:
        explicit Inner(FolderSize* self) : self_(self) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

      private:
        FolderSize* self_;
    };

    explicit FolderSize(IUnknown* outer);
    ~FolderSize();
    FolderSize(const FolderSize&) = delete;
    FolderSize& operator=(const FolderSize&) = delete;

    void ReadSettings();
    ItemSize GetItemSize(const wchar_t* path, DWORD attributes, bool wantParent) const;
    bool FolderSizeOf(const wchar_t* folder, uint64_t& size, uint32_t& code) const;
    HRESULT LoadTypeInfo();

    Inner inner_;
    IUnknown* controlling_;
    com::RefCount refs_;
    ITypeInfo* typeInfo_ = nullptr;  // loaded on first use, released with the object

    // Settings as read at the last cell request; a value missing from the key keeps the last.
    wchar_t Separator = L' ';
    int64_t ViewStyle = 0;
    int64_t ViewMetric = 1;
    int64_t EnableCache = 1;
    int64_t DecimalDigits = 0;
    int64_t PB_Style = 0;
    wchar_t PB_Symbol[2] = {L'\x2022', 0};
    bool padForPlainSort = true;
};

}  // namespace tvn
