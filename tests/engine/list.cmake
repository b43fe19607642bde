# The list file read and written, its signature, the download decision, file
# times, target paths and gzip decoding: local files only.
tidewell_add_test(engine_list_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_file_test.cc
            ${CMAKE_CURRENT_LIST_DIR}/file_decision_test.cc
            ${CMAKE_CURRENT_LIST_DIR}/target_path_test.cc
            ${CMAKE_CURRENT_LIST_DIR}/list_signature_test.cc
            ${CMAKE_CURRENT_LIST_DIR}/list_writer_test.cc
            ${CMAKE_CURRENT_LIST_DIR}/gzip_decoder_test.cc
    LIBS tidewell_engine tidewell_test_engine_support)
tidewell_add_test(platform_codepage_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/../platform/codepage_test.cc
    LIBS tidewell_platform tidewell_test_support)
