#!/bin/sh
# Compiler launcher: runs the posix thread-model twin of the win32 thread-model compiler that
# CMake passes as the first argument (x86_64-w64-mingw32-g++-win32 -> ...-g++-posix).
compiler=$1
shift
exec "${compiler%-win32}-posix" "$@"
