# BSDIFF40 patching of the installed files: the patch list runner and the patch
# applier, which decompresses the patch blocks through libbz2's stream reader.
find_package(BZip2 REQUIRED)
target_sources(updater_package PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/bsdiffcontrol.h
    ${CMAKE_CURRENT_LIST_DIR}/bsdiffcontrol.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bspatch.h
    ${CMAKE_CURRENT_LIST_DIR}/bspatch.cpp)
target_link_libraries(updater_package PRIVATE BZip2::BZip2)
