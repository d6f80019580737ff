# Tests of the crop selector, the preview frame and the embedded pictures.
if(TARGET facelet)
    velmora_add_qtest(tst_avatarselectorform
        SOURCES tst_avatarselectorform.cpp codedpicture.h codedpicture.cpp
        LIBS facelet LABELS facelet)
    velmora_add_qtest(tst_avatarpreviewframe
        SOURCES tst_avatarpreviewframe.cpp codedpicture.h codedpicture.cpp
        LIBS facelet LABELS facelet)
    # Loads the library at run time instead of linking it, to see its pictures
    # come and go with it.
    velmora_add_qtest(tst_faceletresources
        SOURCES tst_faceletresources.cpp LIBS Qt5::Gui LABELS facelet)
    target_compile_definitions(tst_faceletresources PRIVATE
        FACELET_LIBRARY_FILE="$<TARGET_FILE:facelet>")
    add_dependencies(tst_faceletresources facelet)
endif()
