// The folder tree cache's two computations as the cache tests ask them: on a copy of the
// path, with the result and the size together.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "folder_tree_cache.h"

namespace tvn::test {

struct Result {
    HRESULT hr;
    uint64_t bytes;
};

inline Result Cached(FolderTreeCache& cache, const std::wstring& path) {
    std::wstring buffer = path;  // the computation rewrites its argument to the key
    Result r{};
    r.hr = cache.ComputeCachedSize(buffer.data(), nullptr, &r.bytes);
    return r;
}

inline Result Uncached(FolderTreeCache& cache, const std::wstring& path) {
    Result r{};
    r.hr = cache.ComputeUncachedSize(path.c_str(), &r.bytes);
    return r;
}

}  // namespace tvn::test
