#include "descent_path.h"

#include "unique_handle.h"

namespace tvn {

bool GetFolderIdentity(const wchar_t* path, FolderIdentity* out) {
    // A drive's key ("m:") names the drive's current folder, not its root.
    const wchar_t root[] = {path[0], L':', L'\\', 0};
    if (path[0] != 0 && path[1] == L':' && path[2] == 0) {
        path = root;
    }
    // No access rights beyond attributes are needed for the query; backup semantics open a
    // folder, and opening follows a link to its target.
    UniqueFile folder(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info)) {
        return false;
    }
    out->volume = info.dwVolumeSerialNumber;
    out->indexHigh = info.nFileIndexHigh;
    out->indexLow = info.nFileIndexLow;
    return true;
}

bool DescentLevel::Identity(FolderIdentity* out) const {
    if (state_ == State::Unknown) {
        state_ = GetFolderIdentity(path_, &identity_) ? State::Known : State::Unavailable;
    }
    *out = identity_;
    return state_ == State::Known;
}

bool DescentLevel::LeadsBack(const wchar_t* entryPath) const {
    FolderIdentity entry;
    if (!GetFolderIdentity(entryPath, &entry)) {
        return false;
    }
    for (const DescentLevel* level = this; level != nullptr; level = level->up_) {
        FolderIdentity above;
        if (level->Identity(&above) && above == entry) {
            return true;
        }
    }
    return false;
}

}  // namespace tvn
