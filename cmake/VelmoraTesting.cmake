# velmora_add_qtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# Builds one Qt Test executable and registers it with CTest on the offscreen
# platform, so that tests run without a display.
function(velmora_add_qtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
    target_compile_definitions(${name} PRIVATE
        VELMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        VELMORA_BINARY_DIR="${CMAKE_BINARY_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;ASAN_OPTIONS=detect_leaks=0;${ARG_ENV}")
endfunction()

# velmora_add_subdirectories(): adds every sub-folder of the current source
# folder that has a CMakeLists.txt, in name order. Tests and benchmarks mirror
# the source layout this way without a list to keep up to date.
function(velmora_add_subdirectories)
    file(GLOB entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT entries)
    foreach(entry ${entries})
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${entry}/CMakeLists.txt)
            add_subdirectory(${entry})
        endif()
    endforeach()
endfunction()

# velmora_fuzz_instrument(<target>): in the clang sanitizer build, compiles the
# target with libFuzzer's coverage counters, so that a fuzz target linking it
# is guided through its code. Other programs that link it run unchanged.
function(velmora_fuzz_instrument target)
    if(VELMORA_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()
