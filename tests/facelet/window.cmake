# Tests of the camera layer, the camera page and the editor window. They run on
# the synthetic camera.
if(TARGET facelet AND TARGET kezocamera)
    velmora_add_qtest(tst_kezocamera
        SOURCES tst_kezocamera.cpp LIBS kezocamera Qt5::Gui LABELS facelet)
    velmora_add_qtest(tst_avatarmodifywidget
        SOURCES tst_avatarmodifywidget.cpp LIBS facelet kezocamera LABELS facelet
        ENV "KEZO_CAMERA_TEST=1")
endif()
