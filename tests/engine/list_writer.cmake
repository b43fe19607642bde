# The publisher's list writer.
tidewell_add_test(engine_list_writer_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_writer_test.cc
    LIBS tidewell_engine)
