# velmora_add_shared_library(<name> INCLUDE_DIR <dir> PUBLIC_HEADERS <headers...>
#                            SOURCES <files...>)
# Builds a shared library that exports only the classes its public headers (all
# in <dir>) mark for export, as a Windows DLL does. Everything is compiled
# once, with hidden symbols, into the static library <name>_static, and the
# shared library <name> is linked from all of it. Users of <name> see only
# <dir>; tests and benchmarks that need the hidden classes link
# <name>_internals, which brings in the same object files and the headers
# beside the sources.
# <NAME>_LIBRARY is defined for the sources and for whoever links the
# internals: the exported classes are defined there, not imported.
# (Not an object library: CMake 3.25 leaves the generated moc and resource
# objects of one out of some of the targets that link it.)
function(velmora_add_shared_library name)
    cmake_parse_arguments(ARG "" "INCLUDE_DIR" "PUBLIC_HEADERS;SOURCES" ${ARGN})
    set(static ${name}_static)
    add_library(${static} STATIC ${ARG_PUBLIC_HEADERS} ${ARG_SOURCES})
    set_target_properties(${static} PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    string(TOUPPER ${name} upperName)
    # Debug traces are kept out of every build but the debug build.
    target_compile_definitions(${static} PUBLIC ${upperName}_LIBRARY
        PRIVATE $<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG_OUTPUT>)
    target_include_directories(${static} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${ARG_INCLUDE_DIR})

    # Every object file, even one that no other code refers to: embedded
    # resources register themselves from a static initializer.
    add_library(${name}_internals INTERFACE)
    target_link_libraries(${name}_internals INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${static}>")

    # The headers are listed, not compiled: all code comes from the internals.
    add_library(${name} SHARED ${ARG_PUBLIC_HEADERS})
    set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
    # Windows names a DLL without the "lib" MinGW would put first: facelet.dll.
    if(WIN32)
        set_target_properties(${name} PROPERTIES PREFIX "")
    endif()
    target_link_libraries(${name} PRIVATE ${name}_internals)
    target_include_directories(${name} PUBLIC ${ARG_INCLUDE_DIR})
endfunction()
