# Cross-compiling for 64-bit Windows with Debian's mingw-w64 compilers of the win32 thread model:
# their static C and C++ runtime imports nothing that 64-bit Windows XP and Server 2003 lack,
# so every shipped binary loads there. (The posix thread model's static winpthreads imports
# GetTickCount64.) Tests, tools and benchmarks switch to the posix compilers for std::thread:
# see cmake/runtimes.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_OBJCOPY ${TOOLCHAIN_PREFIX}-objcopy)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables run under Wine; WINEPREFIX comes from the environment of the test run.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/run-under-wine.sh)
