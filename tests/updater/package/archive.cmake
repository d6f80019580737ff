# Tests of 7z extraction (Uncompress and the Lib7z facade). Archives are made
# at test time by the system's 7zz or by the hostile-archive generator.
set(extraction_support extractiontestsupport.h extractiontestsupport.cpp)

# The plain C locale shows that item names with Chinese characters survive it.
velmora_add_qtest(tst_extraction
    SOURCES tst_extraction.cpp ${extraction_support}
    LIBS updater_package
    LABELS package archive
    ENV "LC_ALL=C")

velmora_add_qtest(tst_extractionfacade
    SOURCES tst_extractionfacade.cpp hostilearchive.h hostilearchive.cpp ${extraction_support}
    LIBS updater_package
    LABELS package archive)

# The fuzz target compiles the facade itself, so that libFuzzer sees its
# coverage; its short run belongs to the clang builds.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    find_package(LibArchive 3.6 REQUIRED)
    get_property(archive_sources GLOBAL PROPERTY VELMORA_ARCHIVE_SOURCES)
    add_executable(fuzz_extraction fuzz_extraction.cpp ${archive_sources})
    set_target_properties(fuzz_extraction PROPERTIES AUTOMOC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_include_directories(fuzz_extraction PRIVATE ${CMAKE_SOURCE_DIR}/updater/package)
    target_compile_options(fuzz_extraction PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_extraction PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_extraction PRIVATE Qt5::Core LibArchive::LibArchive)
    add_test(NAME fuzz_extraction_short
        COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz-archive
            --binary $<TARGET_FILE:fuzz_extraction> --seconds 20)
    set_tests_properties(fuzz_extraction_short PROPERTIES
        TIMEOUT 180 LABELS "package;archive;fuzz" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
