# The camera page, the exported editor window, the camera layer under them and
# the demo host that runs the window on its own.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/kezocamera ${CMAKE_CURRENT_BINARY_DIR}/kezocamera)
target_sources(facelet PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/cameracaptureform.h
    ${CMAKE_CURRENT_LIST_DIR}/cameracaptureform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cameracaptureform.ui
    ${CMAKE_CURRENT_LIST_DIR}/captionarea.h
    ${CMAKE_CURRENT_LIST_DIR}/captionarea.cpp
    ${CMAKE_CURRENT_LIST_DIR}/avatarmodifywidget.h
    ${CMAKE_CURRENT_LIST_DIR}/avatarmodifywidget.cpp
    ${CMAKE_CURRENT_LIST_DIR}/avatarmodifywidget.ui)
target_link_libraries(facelet PRIVATE kezocamera)
add_subdirectory(${CMAKE_SOURCE_DIR}/tools/avatar-demo ${CMAKE_BINARY_DIR}/tools/avatar-demo)
