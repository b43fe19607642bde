# tidewell_add_qt_tests(exe LIBS lib... SOURCES a.cc... TESTS ctest_name:Class...
#                       [LABELS l...] [TIMEOUT s])
# One Qt Test executable for several test classes (registered with
# TIDEWELL_QT_TEST), run on the offscreen platform; ctest gets one test per
# class under the name given, so each stays selectable with -R. In a
# ThreadSanitizer tree only the classes named in TIDEWELL_THREAD_TESTS run.
function(tidewell_add_qt_tests exe)
    cmake_parse_arguments(Q "" "TIMEOUT" "LIBS;SOURCES;TESTS;LABELS" ${ARGN})
    if(NOT Q_TIMEOUT)
        set(Q_TIMEOUT 120)
    endif()
    set(_kept "")
    foreach(_pair IN LISTS Q_TESTS)
        string(REPLACE ":" ";" _parts "${_pair}")
        list(GET _parts 0 _name)
        tidewell_test_left_out(${_name} _left_out)
        if(NOT _left_out)
            list(APPEND _kept "${_pair}")
        endif()
    endforeach()
    set(_exclude "")
    if(NOT _kept)
        set(_exclude EXCLUDE_FROM_ALL)
    endif()
    add_executable(${exe} ${_exclude} ${Q_SOURCES}
        ${CMAKE_SOURCE_DIR}/tests/support/qt_test_main.cc)
    set_target_properties(${exe} PROPERTIES AUTOMOC ON)
    target_link_libraries(${exe} PRIVATE ${Q_LIBS} tidewell_test_support Qt6::Test)
    foreach(_pair IN LISTS _kept)
        string(REPLACE ":" ";" _parts "${_pair}")
        list(GET _parts 0 _name)
        list(GET _parts 1 _class)
        add_test(NAME ${_name} COMMAND ${exe} ${_class})
        set_tests_properties(${_name} PROPERTIES LABELS "${Q_LABELS}" TIMEOUT ${Q_TIMEOUT}
            ENVIRONMENT QT_QPA_PLATFORM=offscreen)
    endforeach()
endfunction()
