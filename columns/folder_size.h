// FolderSize: the shell column handler behind the three size columns of Explorer's Details
// view. Explorer asks it cell by cell through IColumnProvider; it answers folder cells from the
// cache server (or by walking the folder when the user turned the cache off) and file cells
// from the file system, formatted with the user's settings, which it reads again for every
// cell. IFolderSize has no methods of its own: its IDispatch is served from the library's type
// library (dispatch.h).
//
// Threading: apartment model. Each object is called on its creator's thread only and shares
// nothing with other objects but the registry and the cache server, so it takes no locks.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>

#include "com_core.h"
#include "dispatch.h"
#include "settings_store.h"
#include "tvn.h"  // IFolderSize, generated from the type library

namespace tvn {

// The class's identity (CLSID_FolderSize, also the format id of every column it offers),
// IID_IFolderSize and LIBID_TVNLib come from the type library definition through widl.

// Property ids of the three columns.
enum ColumnId : DWORD { SizeColumn = 2, SortColumn = 3, BarColumn = 4 };

// Size of one item of a cell request, and of its parent folder when asked for.
struct ItemSize {
    bool ok = false;
    uint32_t code = 0;  // on failure: 0 (no value for this item) or the error shown
    uint64_t size = 0;
    uint64_t parentSize = 0;
};

// Total size of the files below `folder` (whole subtree, every entry counted). A folder that
// cannot be listed, or whose path does not fit the 520-unit scan buffers, counts as 0, and so
// does a folder that this scan entered already or whose entry leads back to the current
// descent path (descent_path.h): each folder counts once, links elsewhere are entered.
uint64_t ScanFolderSize(const wchar_t* folder);

// Whether the size and sorting texts are right-aligned for plain text sorting: true unless the
// system (5.1 or later by both numbers) has the Explorer policy "NoStrCmpLogical" off or unset,
// the current user's value taking precedence over the machine's.
bool ReadPadForPlainSort();

class FolderSize : public IColumnProvider, public com::Dispatch<IFolderSize> {
  public:
    // The class factory's entry. An outer object may aggregate it but then asks for IUnknown.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

    // IColumnProvider
    STDMETHODIMP Initialize(LPCSHCOLUMNINIT psci) override;
    STDMETHODIMP GetColumnInfo(DWORD dwIndex, SHCOLUMNINFO* psci) override;
    STDMETHODIMP GetItemData(LPCSHCOLUMNID pscid, LPCSHCOLUMNDATA pscd, VARIANT* pvarData) override;

  protected:
    // IUnknown, the reference count, the module lock and aggregation come from com::ComObject.
    FolderSize();
    ~FolderSize() = default;
    static const com::InterfaceEntry* Interfaces();

  private:
    FolderSize(const FolderSize&) = delete;
    FolderSize& operator=(const FolderSize&) = delete;

    ItemSize GetItemSize(const wchar_t* path, DWORD attributes, bool wantParent) const;
    bool FolderSizeOf(const wchar_t* folder, uint64_t& size, uint32_t& code) const;

    // Settings as read at the last cell request; a value missing from the key keeps the last
    // (only the cell values are read into it, the title is read by GetColumnInfo).
    SettingsStore::Settings settings_;
    bool padForPlainSort;
};

}  // namespace tvn
