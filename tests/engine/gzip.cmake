# Gzip decoding: streaming decoder and in-place file decoding.
tidewell_add_test(engine_gzip_decoder_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/gzip_decoder_test.cc
    LIBS tidewell_engine)
