# The DLLs a Windows program of this build needs beside it, as an installation
# ships them: the Qt libraries and plugins the build links, and the compiler's
# run-time. The target windows_runtime copies them into bin/ and, for the tests,
# into tests/.
set(velmoraQtLibraries Core Gui Widgets Network Concurrent Test)
set(velmoraQtPlugins
    platforms QWindowsIntegrationPlugin
    platforms QOffscreenIntegrationPlugin
    styles QWindowsVistaStylePlugin
    imageformats QJpegPlugin
    imageformats QGifPlugin
    imageformats QICOPlugin)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(velmoraCompilerRuntime libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
else()
    set(velmoraCompilerRuntime libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
endif()

set(runtimeFiles)
foreach(dll IN LISTS velmoraCompilerRuntime)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler's run-time ${dll} is not where ${CMAKE_CXX_COMPILER} says")
    endif()
    get_filename_component(path "${path}" REALPATH)
    list(APPEND runtimeFiles "${path}")
endforeach()
foreach(library IN LISTS velmoraQtLibraries)
    if(TARGET Qt5::${library})
        list(APPEND runtimeFiles "$<TARGET_FILE:Qt5::${library}>")
    endif()
endforeach()

set(copyCommands)
foreach(folder bin tests)
    set(target ${CMAKE_BINARY_DIR}/${folder})
    list(APPEND copyCommands COMMAND ${CMAKE_COMMAND} -E make_directory ${target}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${runtimeFiles} ${target})
    set(plugins ${velmoraQtPlugins})
    while(plugins)
        list(POP_FRONT plugins pluginFolder plugin)
        if(TARGET Qt5::${plugin})
            list(APPEND copyCommands
                COMMAND ${CMAKE_COMMAND} -E make_directory ${target}/${pluginFolder}
                COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt5::${plugin}>
                        ${target}/${pluginFolder})
        endif()
    endwhile()
endforeach()
add_custom_target(windows_runtime ALL ${copyCommands}
    COMMENT "Copying the Qt and compiler run-time DLLs beside the programs" VERBATIM)
