# tvn_com_dll(TARGET OUTPUT_NAME <file name> IDL <idl> RC <rc> DEF <def> [MANIFEST <manifest>]
#             [SOURCES <entry file and registry script> ...] [LIBS <libraries> ...])
# Builds an in-process COM library that setup ships (tvn_ship): widl makes the type library,
# the header, the GUIDs and the proxy/stub from IDL; RC embeds the type library as TYPELIB 1
# (and MANIFEST, if given, as RT_MANIFEST 2, which the rc file names); DEF exports the four
# COM entry points;
# common/win/inproc_module.cpp supplies DllMain and the exports, chaining the proxy/stub's own
# entry points (built with the prefix Prx). SOURCES hold the library's class table
# (tvn::com::kInprocModule) and its registration script.
#
# Also made: the static library TARGET_interface with the widl GUIDs and the generated header
# on its include path, for the libraries that implement the classes (link it to them); and
# the variable TARGET_GENERATED, the folder of the generated files.
function(tvn_com_dll target)
    cmake_parse_arguments(ARG "" "OUTPUT_NAME;IDL;RC;DEF;MANIFEST" "SOURCES;LIBS" ${ARGN})
    get_filename_component(name ${ARG_IDL} NAME_WE)
    set(gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
    tvn_widl(${ARG_IDL} ${gen} PROXY)
    set(${target}_GENERATED ${gen} PARENT_SCOPE)

    add_library(${target}_interface STATIC ${gen}/${name}_i.c ${gen}/${name}.h ${gen}/${name}.tlb)
    target_include_directories(${target}_interface PUBLIC ${gen})

    # The proxy/stub's entry points carry the prefix Prx, so that the library's own exports can
    # hand out both its classes and the proxy/stub factory.
    add_library(${target}_proxy OBJECT ${gen}/${name}_p.c ${gen}/dlldata.c)
    target_compile_definitions(${target}_proxy PRIVATE ENTRY_PREFIX=Prx REGISTER_PROXY_DLL
                               PROXY_DELEGATION USE_COMPILER_EXCEPTIONS)
    target_compile_options(${target}_proxy PRIVATE -Wno-unused-parameter -Wno-unused-function
        -Wno-missing-field-initializers)
    set_source_files_properties(${gen}/${name}_p.c PROPERTIES COMPILE_OPTIONS
        "-include;${CMAKE_SOURCE_DIR}/common/win/proxy_support.h")

    set(rc_depends ${gen}/${name}.tlb)
    if(ARG_MANIFEST)
        list(APPEND rc_depends ${ARG_MANIFEST})
    endif()
    set_source_files_properties(${ARG_RC} PROPERTIES OBJECT_DEPENDS "${rc_depends}")
    get_filename_component(rc_dir ${ARG_RC} DIRECTORY)

    add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/common/win/inproc_module.cpp ${ARG_SOURCES}
                ${ARG_RC} ${ARG_DEF} $<TARGET_OBJECTS:${target}_proxy>)
    target_compile_definitions(${target} PRIVATE TVN_PROXY_STUB)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "${ARG_OUTPUT_NAME}" PREFIX ""
                          IMPORT_PREFIX "")
    tvn_ship(${target})
    target_include_directories(${target} PRIVATE ${gen} ${rc_dir})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} ${target}_interface tvn_common_lib
                          rpcrt4 ole32 oleaut32 uuid)
endfunction()
