# tvn_widl(IDL OUTDIR [PROXY]): runs widl on IDL and writes, into OUTDIR, the type library
# (<name>.tlb, embedded by the deliverable as resource TYPELIB 1), the C++ header (<name>.h) and
# the GUID definitions (<name>_i.c); with PROXY also the proxy/stub (<name>_p.c) and its
# registration data (dlldata.c). <name> is the IDL file's name without its extension.
# Imported .idl files come from Wine's headers; stdole2.tlb from Wine's Windows libraries.
set(TVN_WIDL x86_64-w64-mingw32-widl --win64 -I /usr/include/wine/wine/windows
    -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

function(tvn_widl idl outdir)
    cmake_parse_arguments(ARG "PROXY" "" "" ${ARGN})
    get_filename_component(name ${idl} NAME_WE)
    set(outputs ${outdir}/${name}.tlb ${outdir}/${name}.h ${outdir}/${name}_i.c)
    set(commands
        COMMAND ${TVN_WIDL} -t -o ${outdir}/${name}.tlb ${idl}
        COMMAND ${TVN_WIDL} -h -o ${outdir}/${name}.h ${idl}
        COMMAND ${TVN_WIDL} -u -o ${outdir}/${name}_i.c ${idl})
    if(ARG_PROXY)
        list(APPEND outputs ${outdir}/${name}_p.c ${outdir}/dlldata.c)
        list(APPEND commands
            COMMAND ${TVN_WIDL} -p -o ${outdir}/${name}_p.c ${idl}
            COMMAND ${TVN_WIDL} --dlldata-only -o ${outdir}/dlldata.c ${name})
    endif()
    add_custom_command(
        OUTPUT ${outputs}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
        ${commands}
        DEPENDS ${idl}
        COMMENT "widl: ${name}.idl"
        VERBATIM)
endfunction()
