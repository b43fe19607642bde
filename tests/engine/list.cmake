# List file, download decision and file times, target paths, code pages.
tidewell_add_test(engine_list_file_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_file_test.cc
    LIBS tidewell_engine tidewell_test_engine_support)
tidewell_add_test(engine_file_decision_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_decision_test.cc
    LIBS tidewell_engine tidewell_test_engine_support)
tidewell_add_test(engine_target_path_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/target_path_test.cc
    LIBS tidewell_engine tidewell_test_engine_support)
tidewell_add_test(platform_codepage_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/../platform/codepage_test.cc
    LIBS tidewell_platform tidewell_test_support)
tidewell_add_test(engine_list_download_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_download_test.cc
    LIBS tidewell_engine tidewell_test_engine_support)
tidewell_add_test(engine_list_signature_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_signature_test.cc
    LIBS tidewell_engine)
