#include "program_paths.h"

#include <memory>

namespace tvn {

std::wstring PathBeside(const std::wstring& programPath, const wchar_t* tail) {
    size_t slash = programPath.rfind(L'\\');
    if (slash == std::wstring::npos || tail == nullptr) {
        return {};
    }
    std::wstring path = programPath.substr(0, slash) + tail;
    if (path.size() >= MAX_PATH) {
        return {};
    }
    return path;
}

std::wstring RunningProgramPath() {
    // Long enough for any path the system can start a program from.
    constexpr DWORD kCapacity = 32768;
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kCapacity]);
    if (!buffer) {
        return {};
    }
    DWORD length = GetModuleFileNameW(nullptr, buffer.get(), kCapacity);
    if (length == 0 || length >= kCapacity) {
        return {};
    }
    return std::wstring(buffer.get(), length);
}

}  // namespace tvn
