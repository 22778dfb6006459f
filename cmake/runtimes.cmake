# Two runtimes, one build tree.
#
# The shipped binaries are built for 64-bit Windows XP and Server 2003 (NT 5.2): the Windows
# headers then declare nothing newer, so the compiler refuses any later function, and the
# toolchain's win32 thread-model runtime imports only what NT 5.2 exports.
#
# tvn_use_test_runtime(): for the folders of tests, tools and benchmarks. They need std::thread
# (only the posix thread model has it; GoogleTest needs it too) and may call what Windows 7
# has. Their targets are compiled and linked by the posix compilers through a launcher. They
# link the product's static libraries as built for NT 5.2: both runtimes come from the same
# GCC and differ only in their thread support, which the product's code does not use.
macro(tvn_use_test_runtime)
    set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/posix-compiler.sh)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/posix-compiler.sh)
    set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/posix-compiler.sh)
    set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/posix-compiler.sh)
    get_property(_tvn_definitions DIRECTORY PROPERTY COMPILE_DEFINITIONS)
    list(TRANSFORM _tvn_definitions REPLACE "^(_WIN32_WINNT|WINVER)=0x0502$" "\\1=0x0601")
    set_property(DIRECTORY PROPERTY COMPILE_DEFINITIONS ${_tvn_definitions})
endmacro()

# tvn_ship(TARGET): a binary that setup installs. It ships without debug information; that
# goes into "<file>.debug" beside it, named in the binary's debug link, so that a debugger can
# read a user's crash dump with the symbols of the very build (the symbols archive next to
# the setup collects them).
set_property(GLOBAL PROPERTY TVN_SHIPPED_TARGETS "")
function(tvn_ship target)
    set(file $<TARGET_FILE:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
        VERBATIM)
    set_property(GLOBAL APPEND PROPERTY TVN_SHIPPED_TARGETS ${target})
endfunction()
