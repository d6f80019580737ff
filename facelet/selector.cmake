# The crop selector, the preview panel and the embedded pictures of facelet.
target_sources(facelet PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/faceletglobal.h
    ${CMAKE_CURRENT_LIST_DIR}/avatarselectorform.h
    ${CMAKE_CURRENT_LIST_DIR}/avatarselectorform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/avatarselectorform.ui
    ${CMAKE_CURRENT_LIST_DIR}/avatarpreviewframe.h
    ${CMAKE_CURRENT_LIST_DIR}/avatarpreviewframe.cpp
    ${CMAKE_CURRENT_LIST_DIR}/avatarpreviewframe.ui
    ${CMAKE_CURRENT_LIST_DIR}/resources/facelet.qrc)
# FACELET_LIBRARY turns FACELET_EXPORT into an export while the library itself
# is built. Debug traces are kept out of every build but the debug build.
target_compile_definitions(facelet PRIVATE FACELET_LIBRARY
    $<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG_OUTPUT>)
# The pictures are stored as they are: PNG data gains nothing from zlib, and
# stored entries can be mapped straight from the library.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/resources/facelet.qrc
    PROPERTIES AUTORCC_OPTIONS "-no-compress")
