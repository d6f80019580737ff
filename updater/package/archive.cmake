# 7z extraction: the Uncompress worker and the Lib7z facade over the system's
# libarchive. The source list is kept in a global property as well, so that the
# fuzz target can compile the facade with its own coverage instrumentation.
find_package(LibArchive 3.6 REQUIRED)

set(velmora_archive_sources
    uncompress.h uncompress.cpp
    lib7z.h lib7z.cpp
    sevenzipexception.h sevenzipexception.cpp
    extractcallback.h extractcallback.cpp
    extractcallbackimpl.h extractcallbackimpl.cpp
    qiodeviceinstream.h qiodeviceinstream.cpp
    qiodevicesequentialoutstream.h qiodevicesequentialoutstream.cpp
    openarchiveinfo.h openarchiveinfo.cpp
    openarchiveinfocleaner.h openarchiveinfocleaner.cpp
    directoryguard.h directoryguard.cpp)
list(TRANSFORM velmora_archive_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
set_property(GLOBAL PROPERTY VELMORA_ARCHIVE_SOURCES ${velmora_archive_sources})

target_sources(updater_package PRIVATE ${velmora_archive_sources})
target_link_libraries(updater_package PUBLIC LibArchive::LibArchive)
