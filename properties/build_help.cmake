# Compiles the help project with chmcmd: cmake -DSOURCE=<help folder> -DSTAGE=<scratch folder>
# -DOUTPUT=<Tolvane.chm> -DCHMCMD=<chmcmd> -P build_help.cmake
#
# chmcmd writes its file beside the project and reports failures only in its output (its exit
# code is 0 even without a project), so the sources are compiled in a scratch copy, and a
# missing output or any file the compiler could not find fails the build.
file(REMOVE_RECURSE "${STAGE}")
file(COPY "${SOURCE}/" DESTINATION "${STAGE}")
execute_process(COMMAND "${CHMCMD}" --html-scan Tolvane.hhp
                WORKING_DIRECTORY "${STAGE}"
                RESULT_VARIABLE result
                OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "chmcmd failed (${result}):\n${output}")
endif()
if(output MATCHES "couldn't find|Can't find|[Ee]rror")
    message(FATAL_ERROR "chmcmd reported a problem:\n${output}")
endif()
if(NOT EXISTS "${STAGE}/Tolvane.chm")
    message(FATAL_ERROR "chmcmd wrote no Tolvane.chm:\n${output}")
endif()
file(COPY_FILE "${STAGE}/Tolvane.chm" "${OUTPUT}")
