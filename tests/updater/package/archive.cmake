# Tests of 7z extraction (Uncompress and the Lib7z facade). Archives are made
# at test time by the system's 7zz or by the hostile-archive generator.
set(extraction_support extractiontestsupport.h extractiontestsupport.cpp)

velmora_add_qtest(tst_extraction
    SOURCES tst_extraction.cpp ${extraction_support}
    LIBS updater_package
    LABELS package archive)

velmora_add_qtest(tst_extractionfacade
    SOURCES tst_extractionfacade.cpp hostilearchive.h hostilearchive.cpp ${extraction_support}
    LIBS updater_package
    LABELS package archive)
