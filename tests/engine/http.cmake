# The HTTP transfers, the passes and whole runs against the program's shared
# servers (tests/support/server_set.h), and the engine's worker thread.
tidewell_add_test(engine_http_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_transfer_test.cc
            ${CMAKE_CURRENT_LIST_DIR}/http_passes_test.cc
    LIBS tidewell_engine tidewell_test_engine_support)
