#include "settled_cache.h"

#include <cstdio>

namespace tvn::test {

namespace {

// Between two polls: long enough that a batch handled in a thread of its own gets the
// processor on a busy two-core machine, short enough to keep the wait small.
constexpr DWORD kPollMs = 15;

}  // namespace

bool ListingFails(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return true;
    }
    FindClose(find);
    return false;
}

FolderLock::FolderLock(const std::wstring& folder, ULONGLONG deadline) {
    for (;;) {
        handle_ = CreateFileW(folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE || GetTickCount64() >= deadline) {
            break;
        }
        Sleep(kPollMs);  // a scan has it open; poll until it has gone
    }
    // The whole method rests on this: while held, nobody can list the folder.
    if (handle_ != INVALID_HANDLE_VALUE && !ListingFails(folder)) {
        Unlock();
    }
}

void FolderLock::Unlock() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

SettleResult WaitUntilAnsweredFromMemory(const SizeRequest& ask, const std::wstring& folder,
                                         uint64_t expected, DWORD timeoutMs) {
    SettleResult result;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        {
            FolderLock lock(folder, deadline);
            if (!lock.Holds()) {
                result.lastHr = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
                return result;
            }
            int inARow = 0;
            while (GetTickCount64() < deadline) {
                result.lastHr = ask(folder, &result.lastBytes);
                if (result.lastHr != S_OK) {
                    break;  // dirty: must be listed again
                }
                inARow = result.lastBytes == expected ? inARow + 1 : 0;
                if (inARow == kSettledPolls) {
                    result.settled = true;
                    return result;
                }
                Sleep(kPollMs);
            }
        }
        // Let go and have it listed again, then hold it once more.
        result.lastHr = ask(folder, &result.lastBytes);
        ++result.scans;
    }
    return result;
}

std::string Describe(const SettleResult& result) {
    char text[160];
    std::snprintf(text, sizeof(text), "%s: last answer hr 0x%08lx, %llu bytes, %d scans",
                  result.settled ? "settled" : "not settled",
                  static_cast<unsigned long>(result.lastHr),
                  static_cast<unsigned long long>(result.lastBytes), result.scans);
    return text;
}

}  // namespace tvn::test
