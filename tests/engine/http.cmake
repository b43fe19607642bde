# Engine object and HTTP transfer, against nginx and Python servers on 127.0.0.1.
foreach(_http_test sync_engine_test http_head_test http_get_test http_resume_test http_tls_test
        http_parallel_test)
    tidewell_add_test(engine_${_http_test}
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_http_test}.cc
        LIBS tidewell_engine tidewell_test_engine_support)
endforeach()
