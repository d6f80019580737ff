# Tests of the BSDIFF40 patch applier and the patch list runner, and the fuzz
# target of the applier with its bounded run.
find_package(BZip2 REQUIRED)

velmora_add_qtest(tst_bspatch
    SOURCES tst_bspatch.cpp bsdifftestpatch.h bsdifftestpatch.cpp
    LIBS updater_package BZip2::BZip2
    LABELS package patch)
velmora_add_qtest(tst_bsdiffcontrol
    SOURCES tst_bsdiffcontrol.cpp bsdifftestpatch.h bsdifftestpatch.cpp
    LIBS updater_package BZip2::BZip2
    LABELS package patch)

# libFuzzer comes with clang only. The applier is compiled into the target
# itself so that the fuzzer sees its coverage.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_bspatch fuzz_bspatch.cpp
        ${CMAKE_SOURCE_DIR}/updater/package/bspatch.h
        ${CMAKE_SOURCE_DIR}/updater/package/bspatch.cpp)
    target_include_directories(fuzz_bspatch PRIVATE ${CMAKE_SOURCE_DIR}/updater/package)
    target_compile_options(fuzz_bspatch PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_bspatch PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_bspatch PRIVATE Qt5::Core BZip2::BZip2)
    set_target_properties(fuzz_bspatch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME fuzz_bspatch
        COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz-bspatch --seconds 20 $<TARGET_FILE:fuzz_bspatch>)
    set_tests_properties(fuzz_bspatch PROPERTIES TIMEOUT 120 LABELS "package;patch;fuzz")
endif()
